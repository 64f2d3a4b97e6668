#include "CaptureEngine.h"

#include "WaveEvents.h"

#include <QCoreApplication>
#include <algorithm>
#include <new>
#include <utility>

namespace corvane {

namespace {

// Three buffers in flight: the device always has work queued while we decode one.
constexpr int kBuffersInFlight = 3;

// The device's own reason, when it has one, on a line of its own under the message.
QString withReason(const QString& text, const QString& reason)
{
    return reason.isEmpty() ? text : text + u'\n' + reason;
}

} // namespace

// Marks one public entry into the engine. When the outermost one ends, the messages it raised
// are shown; a nested event loop run by the message box may then enter the engine again.
class CaptureEngine::Call
{
public:
    explicit Call(CaptureEngine& engine) : engine_(engine) { ++engine_.callDepth_; }
    ~Call()
    {
        if (--engine_.callDepth_ == 0) {
            engine_.showPendingMessages(); // may destroy the engine: touch nothing after it
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

private:
    CaptureEngine& engine_;
};

// The taps, shared with their handles so that either may go first.
struct TapHandle::List
{
    std::vector<std::pair<int, BlockTap>> taps;
    int lastId = 0;
    int dispatching = 0;

    void dispatch(const DecodedBlock& block)
    {
        // A tap may drop itself or another (a window closing) while the block is handed round:
        // a dropped tap is emptied and swept out afterwards.
        ++dispatching;
        for (std::size_t k = 0; k < taps.size(); ++k)
            if (taps[k].second)
                taps[k].second(block);
        if (--dispatching == 0)
            std::erase_if(taps, [](const auto& entry) { return !entry.second; });
    }

    void remove(int id)
    {
        for (auto& entry : taps)
            if (entry.first == id)
                entry.second = nullptr;
        if (dispatching == 0)
            std::erase_if(taps, [](const auto& entry) { return !entry.second; });
    }
};

CaptureEngine::CaptureEngine(RecordingDevice& device, const DecoderSettings& settings,
                             PixelDecoder& decoder, MessageSink& messages,
                             QObject* notificationTarget)
    : device_(device), settings_(settings), decoder_(decoder), messages_(messages),
      target_(notificationTarget), taps_(std::make_shared<TapHandle::List>())
{}

CaptureEngine::~CaptureEngine()
{
    *alive_ = false;
    if (state_.deviceOpen) {
        device_.abandon();
    }
    // Notifications already posted name buffers we are about to free.
    if (target_ && QCoreApplication::instance()) {
        for (QEvent::Type type :
             {kWaveOpenEvent, kWaveDataEvent, kWaveCloseEvent, kWaveErrorEvent, kWaveNoticeEvent}) {
            QCoreApplication::removePostedEvents(target_, type);
        }
    }
}

void CaptureEngine::StartCapture()
{
    Call call(*this);
    // A device still open (its open notification not handled yet, or its close not yet
    // confirmed) must not be replaced by a second one.
    if (state_.capturing || state_.deviceOpen) {
        return;
    }
    if (device_.deviceCount() == 0) {
        report(withReason(QStringLiteral("There are no recording devices!"), device_.lastError()));
        return;
    }
    WaveFormat format;
    format.sampleRate = settings_.sampleRate;
    if (!device_.open(state_.deviceNumber, format, target_)) {
        report(withReason(QStringLiteral("Can't open audio device"), device_.lastError()));
        return;
    }
    state_.deviceOpen = true;
    state_.sampleRate = format.sampleRate;
    closeRequested_ = false;
    restartAtOpen_ = false;
    for (int i = 0; i < kBuffersInFlight; ++i) {
        QueueBuffer();
    }
    if (!device_.start()) {
        report(QStringLiteral("Error starting recording"));
    }
}

void CaptureEngine::StopCapture()
{
    Call call(*this);
    if (!state_.capturing || closeRequested_) {
        return;
    }
    state_.stopping = true;
    device_.reset();
    // With nothing queued no buffer will come back to close the device, so close it here.
    if (state_.buffersQueued == 0) {
        closeDevice();
    }
}

void CaptureEngine::ToggleCapture()
{
    Call call(*this);
    if (state_.capturing) {
        StopCapture();
    } else {
        StartCapture();
    }
}

void CaptureEngine::OnWaveOpen()
{
    Call call(*this);
    state_.capturing = true;
    state_.stopping = false;
    // Settings applied while the device was still opening (which can take a while) apply now.
    if (std::exchange(restartAtOpen_, false)) {
        StopCapture();
    }
}

void CaptureEngine::OnWaveData(WaveBuffer* buffer)
{
    Call call(*this);
    const auto owned = std::find_if(buffers_.begin(), buffers_.end(),
                                    [buffer](const auto& b) { return b.get() == buffer; });
    if (owned == buffers_.end()) {
        return; // not one of ours (or already freed): nothing safe to read
    }
    if (!state_.stopping) {
        QueueBuffer();
    }
    const std::int32_t count = std::clamp(buffer->bytesRecorded, 0, buffer->bufferLength);
    decoder_.DecodeBlock(buffer->data.get(), count);
    taps_->dispatch({buffer->data.get(), count, state_.sampleRate});
    ReleaseBuffer(buffer);
    if (state_.buffersQueued == 0) {
        closeDevice();
    }
}

TapHandle::TapHandle(TapHandle&& other) noexcept
    : list_(std::move(other.list_)), id_(std::exchange(other.id_, 0))
{}

TapHandle& TapHandle::operator=(TapHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        list_ = std::move(other.list_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void TapHandle::reset()
{
    if (const auto list = list_.lock())
        list->remove(id_);
    list_.reset();
    id_ = 0;
}

TapHandle CaptureEngine::addDecodedTap(BlockTap tap, TapPlace place)
{
    const int id = ++taps_->lastId;
    auto& taps = taps_->taps;
    taps.emplace(place == TapPlace::First ? taps.begin() : taps.end(), id, std::move(tap));
    return TapHandle(taps_, id);
}

void CaptureEngine::OnWaveClose()
{
    Call call(*this);
    state_.capturing = false;
    state_.deviceOpen = false;
    closeRequested_ = false;
    if (state_.restartPending) {
        StartCapture();
    }
    state_.restartPending = false;
}

void CaptureEngine::OnWaveError(const QString& text)
{
    Call call(*this);
    if (!state_.deviceOpen) {
        return;
    }
    report(text);
    // The device hands back what it holds; let it drain into a close instead of feeding it.
    state_.stopping = true;
    if (state_.buffersQueued == 0) {
        closeDevice();
    }
}

bool CaptureEngine::dispatch(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (!isWaveEvent(type)) {
        return false;
    }
    const auto* wave = static_cast<const WaveEvent*>(event);
    if (type == kWaveOpenEvent) {
        OnWaveOpen();
    } else if (type == kWaveDataEvent) {
        OnWaveData(wave->buffer());
    } else if (type == kWaveCloseEvent) {
        OnWaveClose();
    } else if (type == kWaveNoticeEvent) {
        Call call(*this);
        report(wave->text());
    } else {
        OnWaveError(wave->text());
    }
    return true;
}

void CaptureEngine::QueueBuffer()
{
    const std::int32_t length = settings_.blockSize;
    auto buffer = std::make_unique<WaveBuffer>();
    buffer->data.reset(new (std::nothrow) std::uint8_t[std::max(length, 0)]());
    buffer->bufferLength = buffer->data ? length : 0;
    if (!device_.prepareBuffer(buffer.get())) {
        report(QStringLiteral("Error preparing audio buffer"));
        return; // the buffer is freed here, not leaked
    }
    if (!device_.addBuffer(buffer.get())) {
        report(QStringLiteral("Error sending audio buffer to the device"));
        device_.unprepareBuffer(buffer.get());
        return;
    }
    buffers_.push_back(std::move(buffer));
    ++state_.buffersQueued;
}

void CaptureEngine::ReleaseBuffer(WaveBuffer* buffer)
{
    if (!device_.unprepareBuffer(buffer)) {
        // It stays allocated and counted, so the device is never closed under it.
        report(QStringLiteral("Errore unprepare"));
        return;
    }
    std::erase_if(buffers_, [buffer](const auto& b) { return b.get() == buffer; });
    --state_.buffersQueued;
}

void CaptureEngine::closeDevice()
{
    if (closeRequested_) {
        return;
    }
    closeRequested_ = device_.close();
}

void CaptureEngine::report(const QString& text)
{
    pendingMessages_.push_back(text);
}

void CaptureEngine::showPendingMessages()
{
    // A box shown here may run a nested loop that enters the engine again; that entry leaves
    // its messages to this loop, so boxes come one after another, never stacked.
    if (showingMessages_) {
        return;
    }
    showingMessages_ = true;
    const std::shared_ptr<bool> alive = alive_;
    while (!pendingMessages_.empty()) {
        const QString text = pendingMessages_.front();
        pendingMessages_.pop_front();
        messages_.showMessage(text);
        if (!*alive) {
            return;
        }
    }
    showingMessages_ = false;
}

} // namespace corvane
