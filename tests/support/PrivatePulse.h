#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace corvane::test {

// A private PulseAudio server with a virtual recording source "tvin" (u8, mono, 28800 Hz) fed
// from a FIFO and made the default. start() points this process, and the programs it starts,
// at it through the environment. The pipe source has no clock: it produces what is written,
// when it is written; what is written while no client records reaches the next one in one
// burst (up to the FIFO's 64 KiB), where a sound card would drop it.
class PrivatePulse
{
public:
    static constexpr int kSampleRate = 28800;
    static QString sourceName() { return QStringLiteral("tvin"); }

    PrivatePulse();
    ~PrivatePulse();
    bool start();                      // false (see log()) unless the source is up as the default
    void kill();                       // as if it crashed
    void freeze() { signal(SIGSTOP); } // a server that stops answering
    void thaw() { signal(SIGCONT); }
    void pointAtNoServer(); // an address where nothing listens
    std::optional<QString> pactl(const QStringList& arguments) const; // its output
    bool removeSource(); // as if its device was unplugged
    QString log() const;

    // Writes at once (blocks while the FIFO is full); false once the server is gone.
    bool write(std::span<const std::uint8_t> bytes);
    // Writes bytes from a thread of its own, each 256-byte chunk when due at the source's
    // rate; a second feed starts when the first has ended.
    void feedInRealTime(std::vector<std::uint8_t> bytes);
    bool waitFed(std::chrono::milliseconds timeout);

private:
    void signal(int number);
    void joinFeeder();

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> server_;
    int fifo_ = -1;
    std::thread feeder_;
    std::atomic<bool> feeding_ = false;
    std::atomic<bool> stop_ = false;
};

} // namespace corvane::test
