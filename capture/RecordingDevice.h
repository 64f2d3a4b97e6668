#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class QObject;

namespace corvane {

// Recording format: PCM, mono, unsigned 8-bit samples with silence at 128.
struct WaveFormat
{
    std::int32_t sampleRate = 28800;
    std::int16_t channels = 1;
    std::int16_t bitsPerSample = 8;
};

// One recording buffer and its bookkeeping. The capture engine owns it from creation to
// release; the device only fills it between addBuffer() and the buffer-done notification.
struct WaveBuffer
{
    std::unique_ptr<std::uint8_t[]> data;
    std::int32_t bufferLength = 0;  // bytes the data area holds
    std::int32_t bytesRecorded = 0; // bytes the device filled in
    std::uint32_t flags = 0;        // device bookkeeping (prepared, queued, done)
};

// A recording device as the capture engine sees it. Every call answers at once with success
// or failure, and is made on the notification target's thread. The device reports its
// opening, each finished buffer and its closing as WaveEvents posted to the notification
// target given to open(), in that order; a device that fails on its own while open posts a
// kWaveErrorEvent first and then hands back its queued buffers as after reset().
class RecordingDevice
{
public:
    virtual ~RecordingDevice() = default;

    // How many recording devices the system offers; 0 when there is none (or no server).
    virtual std::uint32_t deviceCount() = 0;

    // Opens device number deviceNumber with format; on success a kWaveOpenEvent follows.
    virtual bool open(std::uint32_t deviceNumber, const WaveFormat& format,
                      QObject* notificationTarget) = 0;
    // Fails for a buffer without room (bufferLength < 1).
    virtual bool prepareBuffer(WaveBuffer* buffer) = 0;
    // Hands a prepared buffer to the device; it comes back in a kWaveDataEvent when full.
    virtual bool addBuffer(WaveBuffer* buffer) = 0;
    virtual bool start() = 0;
    // Stops recording and hands back every queued buffer (kWaveDataEvent each), with the
    // bytes recorded so far; the last may be partly filled.
    virtual bool reset() = 0;
    virtual bool unprepareBuffer(WaveBuffer* buffer) = 0;
    // Closes the device; a kWaveCloseEvent follows. Fails while buffers are still queued.
    virtual bool close() = 0;

    // Why the last failed call failed, in words for the user; empty when the device cannot tell.
    virtual QString lastError() const { return {}; }

    // Used when the program ends with the device still open: stop at once, post nothing
    // more, forget every buffer (the caller frees them). Never waits for notifications.
    virtual void abandon() = 0;
};

} // namespace corvane
