// Feeds a raw 8-bit recording into the FIFO of a virtual recording source in real time, chunk
// by chunk, each chunk written when its first sample is due, and logs when every chunk went in.
// With --pid it also reads the CPU time and resident memory of that process at the first and
// after the last write, so the figures cover exactly the audio fed.
//
//   corvane-live-feeder --input card.u8 --fifo source.fifo --log feed.txt [--pid N]
//                       [--chunk 1024] [--rate 28800]
//
// The log has one line per chunk, "<ns written> <end offset> <ns due>" on CLOCK_MONOTONIC, then
// "cpu-start/cpu-end <ns> <clock ticks> <rss kB>" lines for the watched process.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void sleepUntil(std::int64_t ns)
{
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

struct Usage
{
    std::int64_t at = 0;
    long long ticks = -1; // utime + stime
    long long rssKb = -1;
};

Usage readUsage(long pid)
{
    Usage usage;
    usage.at = now();
    const std::string dir = "/proc/" + std::to_string(pid);
    if (std::FILE* f = std::fopen((dir + "/stat").c_str(), "re")) {
        char line[4096] = {};
        if (std::fgets(line, sizeof line, f)) {
            // The command name may hold spaces; the fields after it start past the last ')'.
            const char* p = std::strrchr(line, ')');
            long long utime = 0, stime = 0;
            if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld",
                                 &utime, &stime) == 2)
                usage.ticks = utime + stime;
        }
        std::fclose(f);
    }
    if (std::FILE* f = std::fopen((dir + "/status").c_str(), "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %lld", &usage.rssKb) == 1)
                break;
        std::fclose(f);
    }
    return usage;
}

[[noreturn]] void usageError(const char* message)
{
    std::fprintf(stderr,
                 "corvane-live-feeder: %s\nusage: corvane-live-feeder --input FILE --fifo FIFO "
                 "--log FILE [--pid N] [--chunk BYTES] [--rate HZ]\n",
                 message);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    std::string input, fifo, logPath;
    long pid = 0;
    long chunk = 1024, rate = 28800;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc)
            usageError("every option takes a value");
        const char* value = argv[++i];
        if (arg == "--input")
            input = value;
        else if (arg == "--fifo")
            fifo = value;
        else if (arg == "--log")
            logPath = value;
        else if (arg == "--pid")
            pid = std::strtol(value, nullptr, 10);
        else if (arg == "--chunk")
            chunk = std::strtol(value, nullptr, 10);
        else if (arg == "--rate")
            rate = std::strtol(value, nullptr, 10);
        else
            usageError("unknown option");
    }
    if (input.empty() || fifo.empty() || logPath.empty() || chunk <= 0 || rate <= 0)
        usageError("--input, --fifo and --log are needed; --chunk and --rate must be above 0");

    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(input.c_str(), "rb")) {
        std::uint8_t block[65536];
        std::size_t n = 0;
        while ((n = std::fread(block, 1, sizeof block, f)) > 0)
            bytes.insert(bytes.end(), block, block + n);
        std::fclose(f);
    } else {
        std::perror(input.c_str());
        return 1;
    }
    // Whole chunks only, so the program's buffers line up with the writes and all get filled.
    const std::size_t chunks = bytes.size() / static_cast<std::size_t>(chunk);
    if (chunks == 0)
        usageError("the input is shorter than one chunk");

    std::signal(SIGPIPE, SIG_IGN);
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(fifo.c_str());
        return 1;
    }

    struct Write
    {
        std::int64_t at, end, due;
    };
    std::vector<Write> writes;
    writes.reserve(chunks);
    const std::int64_t start = now() + 20'000'000;
    Usage first, last;
    for (std::size_t i = 0; i < chunks; ++i) {
        // Due times from the chunk number, so no error accumulates over a long feed.
        const std::int64_t due =
            start + static_cast<std::int64_t>(i) * chunk * 1'000'000'000LL / rate;
        sleepUntil(due);
        if (i == 0 && pid > 0)
            first = readUsage(pid);
        const std::uint8_t* data = bytes.data() + i * static_cast<std::size_t>(chunk);
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(chunk)) {
            const ssize_t n = ::write(fd, data + done, static_cast<std::size_t>(chunk) - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::perror("write");
                return 1;
            }
            done += static_cast<std::size_t>(n);
        }
        writes.push_back({now(), static_cast<std::int64_t>((i + 1) * chunk), due});
    }
    // The audio of the last chunk lasts one chunk more; the program decodes it after that.
    sleepUntil(writes.back().due + chunk * 1'000'000'000LL / rate);
    if (pid > 0)
        last = readUsage(pid);
    ::close(fd);

    std::FILE* log = std::fopen(logPath.c_str(), "we");
    if (!log) {
        std::perror(logPath.c_str());
        return 1;
    }
    for (const Write& w : writes)
        std::fprintf(log, "%lld %lld %lld\n", static_cast<long long>(w.at),
                     static_cast<long long>(w.end), static_cast<long long>(w.due));
    if (pid > 0) {
        std::fprintf(log, "cpu-start %lld %lld %lld\n", static_cast<long long>(first.at),
                     first.ticks, first.rssKb);
        std::fprintf(log, "cpu-end %lld %lld %lld\n", static_cast<long long>(last.at), last.ticks,
                     last.rssKb);
    }
    std::fprintf(log, "ticks-per-second %ld\n", ::sysconf(_SC_CLK_TCK));
    return std::fclose(log) == 0 ? 0 : 1;
}
