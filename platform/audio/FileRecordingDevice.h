#pragma once

#include "RecordingDevice.h"
#include "WaveBufferQueue.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;

namespace corvane {

// Plays a recording into the buffers as if it came from a sound card: paced at the sample rate
// the device is opened with, by a timer on the caller's thread, so the picture runs in real
// time. Sound files are mixed to mono, resampled to that rate and converted to 8 bits; raw
// .u8/.raw files are taken byte for byte as recorded at that rate.
//
// Opened at a rate the file is not loaded at, it reads and resamples the file on a worker
// thread and posts the open notification when done (an error notification if it cannot).
// At the end of the recording it stops delivering (the buffers stay queued until reset()), or
// starts over when looping. Stop and start carry on where playback was. Unlike a sound card it
// never skips part of the recording: when no buffer is queued, playback waits.
class FileRecordingDevice final : public RecordingDevice
{
public:
    // Reads the file at once; check error() (or use makeFileRecordingDevice) before use.
    FileRecordingDevice(QString path, bool loop, std::int32_t initialSampleRate = 28800);
    ~FileRecordingDevice() override;

    FileRecordingDevice(const FileRecordingDevice&) = delete;
    FileRecordingDevice& operator=(const FileRecordingDevice&) = delete;

    // Why the file could not be read; empty when it was.
    const QString& error() const { return error_; }
    // The samples at the rate last opened with (or the initial one).
    const std::vector<std::uint8_t>& samples() const { return samples_; }

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
    QString lastError() const override { return error_; }

private:
    struct Loaded
    {
        std::vector<std::uint8_t> samples;
        QString error;
    };
    bool load(std::int32_t sampleRate);
    bool adopt(std::vector<std::uint8_t> samples, const QString& error, std::int32_t sampleRate);
    void loaded();
    void tick();
    void deliver(std::int64_t count);

    const QString path_;
    const bool loop_;
    QString error_;
    std::vector<std::uint8_t> samples_;
    std::int32_t loadedRate_ = 0;
    std::size_t position_ = 0; // next sample to play

    std::unique_ptr<QTimer> timer_;
    std::unique_ptr<QFutureWatcher<Loaded>> loading_; // reading the file at a new rate
    QElapsedTimer clock_;
    std::int32_t rate_ = 0;
    std::int64_t playedSinceStart_ = 0;
    bool recording_ = false;
    WaveBufferQueue queue_;
};

} // namespace corvane
