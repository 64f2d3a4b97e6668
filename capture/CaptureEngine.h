#pragma once

#include "DecoderSettings.h"
#include "MessageSink.h"
#include "PixelDecoder.h"
#include "RecordingDevice.h"

#include <QPointer>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QEvent;
class QObject;

namespace corvane {

// A block of recorded bytes just decoded: how many the device filled in, and the rate they were
// recorded at.
struct DecodedBlock
{
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    std::int32_t sampleRate = 0;
};

using BlockTap = std::function<void(const DecodedBlock& block)>;

// Keeps a tap on the capture engine; the tap goes with the handle (or with the engine, if that
// goes first).
class TapHandle
{
public:
    TapHandle() = default;
    ~TapHandle() { reset(); }
    TapHandle(TapHandle&& other) noexcept;
    TapHandle& operator=(TapHandle&& other) noexcept;
    TapHandle(const TapHandle&) = delete;
    TapHandle& operator=(const TapHandle&) = delete;

    void reset();
    explicit operator bool() const { return !list_.expired(); }

private:
    friend class CaptureEngine;
    struct List;
    TapHandle(std::weak_ptr<List> list, int id) : list_(std::move(list)), id_(id) {}

    std::weak_ptr<List> list_;
    int id_ = 0;
};

struct CaptureState
{
    bool deviceOpen = false; // a device handle is held (open called, close not yet confirmed)
    bool capturing = false;
    bool stopping = false;
    bool restartPending = false;
    std::int32_t buffersQueued = 0;
    std::uint32_t deviceNumber = 0;
    // The rate the device was opened at: what the buffers still coming back were recorded at,
    // even after the settings have changed.
    std::int32_t sampleRate = 0;
};

// Records from the device and feeds every finished buffer to the decoder. Single-threaded:
// the device's notifications arrive as posted events and are handed in through OnWave*.
//
// Messages for the user are shown once the call that raised them has finished, never in the
// middle of a handler, so a notification dispatched while a modal box is up finds the engine
// consistent (see MessageSink).
class CaptureEngine
{
public:
    CaptureEngine(RecordingDevice& device, const DecoderSettings& settings, PixelDecoder& decoder,
                  MessageSink& messages, QObject* notificationTarget);
    // Releases an open device and every buffer without waiting for notifications.
    ~CaptureEngine();

    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    void StartCapture();
    void StopCapture();
    void ToggleCapture(); // the "Start / Stop" button

    void OnWaveOpen();
    void OnWaveData(WaveBuffer* buffer);
    void OnWaveClose();
    // The device failed on its own; its queued buffers follow as data notifications.
    void OnWaveError(const QString& text);

    // Hands a posted WaveEvent to the matching OnWave*; false for any other event.
    bool dispatch(QEvent* event);

    const CaptureState& state() const { return state_; }
    void setRestartPending(bool pending)
    {
        state_.restartPending = pending;
        restartAtOpen_ = pending && state_.deviceOpen && !state_.capturing;
    }

    // Where taps go among the others: a timing trace wants to see a block before anything
    // else has acted on it.
    enum class TapPlace
    {
        Last,
        First
    };
    // tap sees every block just after it has been decoded, before its buffer is released, in
    // the order taps were placed, for as long as the handle is kept.
    [[nodiscard]] TapHandle addDecodedTap(BlockTap tap, TapPlace place = TapPlace::Last);

private:
    class Call;

    void QueueBuffer();
    void ReleaseBuffer(WaveBuffer* buffer);
    void closeDevice();
    void report(const QString& text);
    void showPendingMessages();

    RecordingDevice& device_;
    const DecoderSettings& settings_;
    PixelDecoder& decoder_;
    MessageSink& messages_;
    QPointer<QObject> target_;
    CaptureState state_;

    // Every buffer we allocated and have not freed: queued ones and any the device could not
    // unprepare.
    std::vector<std::unique_ptr<WaveBuffer>> buffers_;
    bool closeRequested_ = false;
    bool restartAtOpen_ = false; // a restart asked for while the device was opening
    std::shared_ptr<TapHandle::List> taps_;

    int callDepth_ = 0;
    bool showingMessages_ = false;
    std::deque<QString> pendingMessages_;
    // Cleared by the destructor; lets a message loop that outlives us notice.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace corvane
