#pragma once

#include "RecordingDevice.h"
#include "RecordingDevices.h"
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
// The recording is read (and resampled) on a worker thread when the device is first opened, and
// again when opened at another rate; the open notification comes when it is done (an error
// notification if it cannot be), and the window stays responsive meanwhile.
// At the end of the recording it stops delivering (the buffers stay queued until reset()), or
// starts over when looping. Stop and start carry on where playback was. Unlike a sound card it
// never skips part of the recording: when no buffer is queued, playback waits.
class FileRecordingDevice final : public RecordingDevice
{
public:
    // Reads nothing yet; makeFileRecordingDevice checks the file can be read first. progress
    // hears how far each reading has got, on the caller's thread.
    FileRecordingDevice(QString path, bool loop, ReadingProgress progress = {});
    ~FileRecordingDevice() override;

    FileRecordingDevice(const FileRecordingDevice&) = delete;
    FileRecordingDevice& operator=(const FileRecordingDevice&) = delete;

    // The samples at the rate last opened with.
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
    bool adopt(std::vector<std::uint8_t> samples, const QString& error, std::int32_t sampleRate);
    void loaded();
    void stopReading();
    void tick();
    void deliver(std::int64_t count);

    const QString path_;
    const bool loop_;
    const ReadingProgress progress_;
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
