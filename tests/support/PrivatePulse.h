#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace corvane::test {

// A private PulseAudio server for tests, with a virtual recording source "tvin" (u8, mono,
// 28800 Hz) fed from a FIFO and made the default source. start() points this process (and
// the programs it starts) at it through the environment; the destructor kills it and
// restores the environment.
//
// The pipe source has no clock: it produces exactly what is written, when it is written, so
// feedInRealTime paces itself. Bytes written while no client records are kept (up to the
// FIFO's 64 KiB) and reach the next client in one burst, where a sound card would drop them.
class PrivatePulse
{
public:
    static constexpr int kSampleRate = 28800;
    static QString sourceName() { return QStringLiteral("tvin"); }

    PrivatePulse();
    ~PrivatePulse();

    // Starts the server and waits until the source is its default; false (see log()) if not.
    bool start();
    void kill();   // as if it crashed
    void freeze(); // SIGSTOP: a server that stops answering without going away
    void thaw();
    // Points this process at an address where nothing listens.
    void pointAtNoServer();
    // Runs pactl against the server; its standard output, or nullopt if it failed.
    std::optional<QString> pactl(const QStringList& arguments) const;
    // Unloads the virtual source, as if its device was unplugged.
    bool removeSource();
    QString log() const;

    // Writes at once (blocks while the FIFO is full); false once the server is gone.
    bool write(std::span<const std::uint8_t> bytes);
    // Writes bytes on a thread of its own in chunks, each when its first byte is due at the
    // source's rate; a second feed starts when the first has ended.
    void feedInRealTime(std::vector<std::uint8_t> bytes, std::size_t chunkBytes = 256);
    bool waitFed(std::chrono::milliseconds timeout);

private:
    void setEnv(const char* name, const QByteArray& value);
    void joinFeeder();

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> server_;
    std::map<QByteArray, std::optional<QByteArray>> savedEnv_;
    int fifo_ = -1;
    std::thread feeder_;
    std::atomic<bool> feeding_ = false;
    std::atomic<bool> stop_ = false;
};

} // namespace corvane::test
