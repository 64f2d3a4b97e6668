#pragma once

#include "RecordingDevice.h"

#include <QEvent>
#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace corvane {

struct RecordingDeviceInfo;

// Records from a PulseAudio (or pipewire-pulse) source through libpulse.
//
// libpulse runs on its own thread (a threaded main loop). Every call from the window thread
// takes the loop's lock and, where it needs the server's answer, waits for it with a short
// timeout, so no call can hang on a server that has died or stopped answering. Recorded data
// is copied into the queued buffers on the libpulse thread and crosses to the window thread
// only as posted WaveEvents; all locking stays inside this class.
//
// The stream asks for ~10 ms fragments, so a buffer is handed back within ~10 ms of its last
// byte reaching the server. Bytes that arrive while no buffer is queued (the window thread was
// busy for longer than the queued buffers last) wait in a backlog of up to two seconds and go
// into the next buffers added, so a short stall loses nothing. It never follows its source
// elsewhere: if the source goes away, or the server dies, the device posts a kWaveErrorEvent and
// hands back its buffers.
//
// The notification target must outlive the open device (close() or abandon() first).
class PulseRecordingDevice final : public RecordingDevice
{
public:
    // sourceName: the source to record from as device 0; empty means the server's default.
    explicit PulseRecordingDevice(QString sourceName = {}, int timeoutMs = 2000);
    ~PulseRecordingDevice() override;

    PulseRecordingDevice(const PulseRecordingDevice&) = delete;
    PulseRecordingDevice& operator=(const PulseRecordingDevice&) = delete;

    std::uint32_t deviceCount() override;
    bool open(std::uint32_t deviceNumber, const WaveFormat& format,
              QObject* notificationTarget) override;
    bool prepareBuffer(WaveBuffer* buffer) override;
    bool addBuffer(WaveBuffer* buffer) override;
    bool start() override;
    bool reset() override;
    bool unprepareBuffer(WaveBuffer* buffer) override;
    bool close() override;
    void abandon() override;

    // The server's sources; nullopt (and *error) when no server answers.
    std::optional<QList<RecordingDeviceInfo>> sources(QString* error);

    // Bytes copied into buffers since the device was created (any thread).
    std::int64_t bytesCaptured() const { return bytesCaptured_.load(); }
    // Bytes lost because neither a buffer nor the backlog had room (any thread).
    std::int64_t bytesDropped() const { return bytesDropped_.load(); }
    // Why the last connection attempt failed, for the user.
    QString lastError() const override;

private:
    class Lock;

    bool connectLocked();
    bool waitLocked(const std::function<bool()>& done);
    std::optional<QList<RecordingDeviceInfo>> sourcesLocked();
    void dropStreamLocked();
    void post(QEvent::Type type, WaveBuffer* buffer = nullptr, const QString& text = {});
    void handBackLocked();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onStreamRead(pa_stream* stream, std::size_t nbytes, void* self);
    void consume(const std::uint8_t* data, std::size_t n);

    const QString sourceName_;
    const int timeoutMs_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;

    // Guarded by the loop's lock.
    QObject* target_ = nullptr;
    bool open_ = false;
    bool recording_ = false;
    bool failed_ = false; // the stream died on its own while open
    std::deque<WaveBuffer*> queue_;
    std::set<WaveBuffer*> prepared_;
    std::vector<std::uint8_t> backlog_; // only ever non-empty while queue_ is empty
    std::size_t backlogLimit_ = 0;
    QString lastError_;

    std::atomic<std::int64_t> bytesCaptured_ = 0;
    std::atomic<std::int64_t> bytesDropped_ = 0;
};

} // namespace corvane
