#pragma once

#include "DecoderSettings.h"
#include "MessageSink.h"
#include "PixelDecoder.h"
#include "RecordingDevice.h"

#include <cstdint>

class QEvent;
class QObject;

namespace corvane {

struct CaptureState
{
    bool deviceOpen = false; // a device handle is held (open called, close not yet confirmed)
    bool capturing = false;
    bool stopping = false;
    bool restartPending = false;
    std::int32_t buffersQueued = 0;
    std::uint32_t deviceNumber = 0;
};

// Records from the device and feeds every finished buffer to the decoder. Single-threaded:
// the device's notifications arrive as posted events and are handed in through OnWave*.
class CaptureEngine
{
public:
    CaptureEngine(RecordingDevice& device, const DecoderSettings& settings, PixelDecoder& decoder,
                  MessageSink& messages, QObject* notificationTarget);
    // Releases an open device and every buffer without waiting for notifications.
    ~CaptureEngine();

    void StartCapture();
    void StopCapture();
    void ToggleCapture(); // the "Start / Stop" button

    void OnWaveOpen();
    void OnWaveData(WaveBuffer* buffer);
    void OnWaveClose();

    // Hands a posted WaveEvent to the matching OnWave*; false for any other event.
    bool dispatch(QEvent* event);

    const CaptureState& state() const { return state_; }
    void setRestartPending(bool pending) { state_.restartPending = pending; }

private:
    // see CaptureEngine.cpp
    RecordingDevice& device_;
    const DecoderSettings& settings_;
    PixelDecoder& decoder_;
    MessageSink& messages_;
    QObject* target_;
    CaptureState state_;
};

} // namespace corvane
