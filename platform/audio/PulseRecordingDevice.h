#pragma once

#include "RecordingDevice.h"
#include "WaveBufferQueue.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

struct pa_context;
struct pa_glib_mainloop;
struct pa_stream;

namespace corvane {

struct RecordingDeviceInfo;

// Records from a PulseAudio (or pipewire-pulse) source through libpulse.
//
// libpulse runs on the window thread's own event loop (its GLib adapter on the GLib main
// context Qt dispatches), so recorded data reaches the buffers with no thread, lock or
// cross-thread wake-up in between. deviceCount() asks the server on a short-lived connection
// of its own, which waits on that connection's socket alone, never running the window's
// loop; open() only starts connecting: the open notification follows when the stream is up, or
// an error notification ("Can't open audio device") when it cannot be had in time.
//
// The stream asks for ~10 ms fragments, so a buffer is handed back within ~10 ms of its last
// byte reaching the server. Bytes that arrive while no buffer is queued (after the server
// stalled and then delivered what it kept at once) wait in a backlog of backlogSeconds and go
// into the next buffers added; whatever is lost beyond that is reported once, as a warning
// log line and a notice in the window. When this thread itself stood still (the process was
// stopped, or the machine too busy to run it), the server drops what its own buffer cannot
// hold without telling how much: the clock says what the source made meanwhile, and what never
// arrived of it counts as lost too. It never follows its source elsewhere: if the source goes away,
// or the server dies, the device posts a kWaveErrorEvent and hands back its buffers; if a later
// open records from another source because the one we had is gone, it posts a kWaveNoticeEvent.
class PulseRecordingDevice final : public RecordingDevice
{
public:
    // sourceName: the source to record from as device 0; empty means the server's default.
    // serverBufferSeconds: how much the server keeps for us while we do not read; 0 leaves it
    // to the server.
    explicit PulseRecordingDevice(QString sourceName = {}, int timeoutMs = 2000,
                                  int backlogSeconds = 60, double serverBufferSeconds = 0);
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

    // Bytes copied into buffers since the device was created.
    std::int64_t bytesCaptured() const { return bytesCaptured_; }
    // Bytes lost because neither a buffer nor the backlog had room, or the server's buffer while
    // this thread stood still.
    std::int64_t bytesDropped() const { return bytesDropped_; }
    // Why the last attempt to reach the server failed, for the user.
    QString lastError() const override { return lastError_; }

private:
    void onContextState(pa_context* context);
    void onStreamState(pa_stream* stream);
    void onRead(pa_stream* stream);
    void consume(const std::uint8_t* data, std::size_t count);
    void takeFromBacklog();
    void setCorked(bool corked);
    void fail(const QString& text);
    void reportLoss();
    void beat();
    void checkStall();
    void stopStallWatch();
    void release();

    const QString sourceName_;
    const int timeoutMs_;
    const std::size_t backlogSeconds_;
    const double serverBufferSeconds_;
    pa_glib_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    QTimer giveUp_; // an open that takes longer than timeoutMs_ fails

    WaveBufferQueue queue_;
    std::uint32_t rate_ = 0;
    bool streaming_ = false; // the stream is up and the open notification posted
    bool recording_ = false;
    bool failed_ = false;               // the stream died on its own while open
    std::vector<std::uint8_t> backlog_; // only ever holds bytes while no buffer is queued
    std::size_t backlogHead_ = 0;
    std::int64_t unreportedLoss_ = 0;
    // Stand-stills of this thread: a heartbeat shows the loop ran; bytes read since the last
    // read before a stand-still are set against the time since, once the server has handed
    // over what it kept (stallCheck_).
    using Clock = std::chrono::steady_clock;
    QTimer heartbeat_;
    QTimer stallCheck_;
    Clock::time_point lastBeat_{};
    Clock::time_point lastRead_{}; // while recording; epoch before the first read
    std::int64_t readSinceStall_ = 0;
    double stalledSeconds_ = 0;
    QStringList knownSources_; // as the server listed them at the last deviceCount()
    QString recordedSource_;   // the source the last stream recorded from
    QString lostSource_;       // a source that went away under us, until another one is used
    QString lastError_;

    std::int64_t bytesCaptured_ = 0;
    std::int64_t bytesDropped_ = 0;
};

} // namespace corvane
