#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace corvane {

// A timing trace of the live program, for measuring its delays from outside: one line per
// buffer decoded and one per repaint of the picture, each stamped with CLOCK_MONOTONIC, which
// every process on the machine shares, so a feeder's own log lines up with it.
//
//   D <ns> <bytes> <running bytes> <running CRC-32, hex>   a buffer has been decoded
//   P <ns>                                                 the picture's paint has ended
//   F <ns>                                                 the window has been flushed to screen
//
// The running CRC-32 is zlib's over every byte decoded so far, so a reader can tell a lost or
// doubled buffer from the byte counts and checksums alone. Lines are buffered and written
// out when the trace ends, so tracing adds no system call per buffer.
class TimingTrace
{
public:
    // Opens (truncates) path; nullptr and a reason in *error if it cannot be written.
    static std::unique_ptr<TimingTrace> open(const QString& path, QString* error);
    ~TimingTrace();

    TimingTrace(const TimingTrace&) = delete;
    TimingTrace& operator=(const TimingTrace&) = delete;

    void decoded(const std::uint8_t* data, std::int32_t count);
    void painted();
    void flushed();

    std::int64_t bytes() const { return bytes_; }
    std::uint32_t checksum() const { return crc_; }
    std::int64_t paints() const { return paints_; }
    std::int64_t flushes() const { return flushes_; }

    static std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t count);

private:
    explicit TimingTrace(std::FILE* file);
    void mark(char kind);

    std::FILE* file_;
    std::int64_t bytes_ = 0;
    std::uint32_t crc_ = 0;
    std::int64_t paints_ = 0;
    std::int64_t flushes_ = 0;
};

} // namespace corvane
