#include "Trace.h"

#include <QFile>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace corvane {

namespace {

constexpr std::size_t kFileBuffer = 1 << 16;

std::int64_t monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

} // namespace

std::uint32_t TimingTrace::crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t count)
{
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i)
        crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::unique_ptr<TimingTrace> TimingTrace::open(const QString& path, QString* error)
{
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "we");
    if (!file) {
        if (error)
            *error = QStringLiteral("Cannot write the timing trace %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, kFileBuffer);
    return std::unique_ptr<TimingTrace>(new TimingTrace(file));
}

TimingTrace::TimingTrace(std::FILE* file) : file_(file) {}

TimingTrace::~TimingTrace()
{
    std::fclose(file_);
}

void TimingTrace::decoded(const std::uint8_t* data, std::int32_t count)
{
    const std::int64_t now = monotonicNanoseconds();
    if (count > 0) {
        crc_ = crc32(crc_, data, static_cast<std::size_t>(count));
        bytes_ += count;
    }
    std::fprintf(file_, "D %lld %d %lld %08x\n", static_cast<long long>(now), count,
                 static_cast<long long>(bytes_), static_cast<unsigned>(crc_));
}

void TimingTrace::painted()
{
    ++paints_;
    mark('P');
}

void TimingTrace::flushed()
{
    ++flushes_;
    mark('F');
}

void TimingTrace::mark(char kind)
{
    std::fprintf(file_, "%c %lld\n", kind, static_cast<long long>(monotonicNanoseconds()));
}

} // namespace corvane
