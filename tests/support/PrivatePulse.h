#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace corvane::test {

// A private PulseAudio server for tests, with a virtual recording source fed from a FIFO.
//
//   PrivatePulse pulse;                    // nothing runs yet
//   ASSERT_TRUE(pulse.start()) << pulse.log();
//   ... the process now talks to this server only (PULSE_SERVER etc. are set) ...
//   pulse.feedInRealTime(bytes);           // paced at the source's sample rate
//   pulse.kill();                          // the server dies as if it crashed
//
// The server runs as whoever runs the test (root included) with its own runtime directory and
// HOME in a temporary directory, loads only the native protocol (anonymous auth), a null sink
// and module-pipe-source named "tvin" (u8, mono, 28800 Hz by default), and makes that the
// default source. The destructor stops the feeder, kills the server, removes the directory
// and restores the environment variables it changed.
//
// Facts about the pipe source that tests must design around:
// - it has no clock: it produces exactly what is written into the FIFO, when it is written,
//   so a writer that wants real time must pace itself (feedInRealTime does);
// - bytes written while no client records are kept (up to the FIFO's 64 KiB) and arrive at the
//   next client as one burst; a sound card would drop them.
//
// Writing to the FIFO of a dead server would raise SIGPIPE; start() ignores SIGPIPE for the
// whole process so such writes just fail.
class PrivatePulse
{
public:
    struct Options
    {
        int sampleRate = 28800;
        QString sourceName = QStringLiteral("tvin");
        int startTimeoutMs = 20000;
    };

    PrivatePulse();
    explicit PrivatePulse(Options options);
    ~PrivatePulse();

    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // Starts the server and waits until the source is its default; false (see log()) if not.
    bool start();
    bool isRunning() const;
    // SIGKILL, then waits for the process to end.
    void kill();
    // SIGSTOP / SIGCONT: a server that stops answering without going away.
    void freeze();
    void thaw();
    // Points this process at a server address where nothing listens (no server at all).
    void pointAtNoServer();

    // Runs pactl against this server; its standard output, or nullopt if it failed.
    std::optional<QString> pactl(const QStringList& arguments) const;
    // Removes the virtual source from the running server, as if a device was unplugged.
    bool removeSource();

    QString serverAddress() const; // "unix:<dir>/native"
    QString sourceName() const { return options_.sourceName; }
    int sampleRate() const { return options_.sampleRate; }
    // The server's own messages so far, for failure reports.
    QString log() const;

    // Writes at once (blocks while the FIFO is full). False once the server is gone.
    bool write(std::span<const std::uint8_t> bytes);

    // Writes bytes on a background thread, chunk by chunk, each chunk when its first byte is
    // due at the source's sample rate. Returns at once; feeds queue up behind each other.
    void feedInRealTime(std::vector<std::uint8_t> bytes, std::size_t chunkBytes = 256);
    // Waits until every byte given to feedInRealTime has been written (or failed).
    bool waitFed(std::chrono::milliseconds timeout);

private:
    void setEnv(const char* name, const QByteArray& value);
    void stopFeeder();
    bool writeUnlocked(std::unique_lock<std::mutex>& lock, std::span<const std::uint8_t> bytes);
    void feederLoop();

    Options options_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> server_;
    std::map<QByteArray, std::optional<QByteArray>> savedEnv_;
    int fifo_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::vector<std::uint8_t>> pending_; // feeds not yet written
    std::size_t chunkBytes_ = 256;
    bool stopFeeding_ = false;
    bool feeding_ = false;
    std::thread feeder_;
};

} // namespace corvane::test
