#include "PulseRecordingDevice.h"

#include "RecordingDevices.h"
#include "WaveEvents.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

namespace corvane {

namespace {

constexpr const char* kClientName = "Corvane";

// Small fragments keep the delay from the server to the picture near 10 ms; the default
// fragment of a record stream is two seconds.
std::uint32_t fragmentBytes(std::int32_t sampleRate)
{
    return static_cast<std::uint32_t>(std::max(sampleRate / 100, 16));
}

} // namespace

class PulseRecordingDevice::Lock
{
public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop)
    {
        if (loop_) {
            pa_threaded_mainloop_lock(loop_);
        }
    }
    ~Lock()
    {
        if (loop_) {
            pa_threaded_mainloop_unlock(loop_);
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

PulseRecordingDevice::PulseRecordingDevice(QString sourceName, int timeoutMs)
    : sourceName_(std::move(sourceName)), timeoutMs_(timeoutMs)
{
    loop_ = pa_threaded_mainloop_new();
    if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
    if (!loop_) {
        lastError_ = QStringLiteral("Can't start the audio client library");
    }
}

PulseRecordingDevice::~PulseRecordingDevice()
{
    if (!loop_) {
        return;
    }
    {
        Lock lock(loop_);
        target_ = nullptr;
        dropStreamLocked();
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

QString PulseRecordingDevice::lastError() const
{
    Lock lock(loop_);
    return lastError_;
}

// Waits, lock held, until done() or the timeout; the loop thread signals on every change we
// wait for.
bool PulseRecordingDevice::waitLocked(const std::function<bool()>& done)
{
    if (done()) {
        return true;
    }
    struct Alarm
    {
        pa_threaded_mainloop* loop;
        bool rang = false;
    } alarm{loop_};
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs_) * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* a = static_cast<Alarm*>(data);
            a->rang = true;
            pa_threaded_mainloop_signal(a->loop, 0);
        },
        &alarm);
    while (!done() && !alarm.rang) {
        pa_threaded_mainloop_wait(loop_);
    }
    api->time_free(timer);
    return done();
}

void PulseRecordingDevice::onContextState(pa_context*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseRecordingDevice*>(self)->loop_, 0);
}

bool PulseRecordingDevice::connectLocked()
{
    if (!loop_) {
        return false;
    }
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        return true;
    }
    if (context_) { // a dead connection: start afresh, the server may be back
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    if (!context_) {
        lastError_ = QStringLiteral("Can't create an audio server connection");
        return false;
    }
    pa_context_set_state_callback(context_, &PulseRecordingDevice::onContextState, this);
    // Never start a server of our own: no server means no recording devices.
    const bool ready =
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        waitLocked([this] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        }) &&
        pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (!ready) {
        const int err = pa_context_errno(context_);
        lastError_ =
            QStringLiteral("Can't connect to the audio server: %1")
                .arg(err ? QString::fromUtf8(pa_strerror(err)) : QStringLiteral("no answer"));
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    return ready;
}

std::optional<QList<RecordingDeviceInfo>> PulseRecordingDevice::sourcesLocked()
{
    if (!connectLocked()) {
        return std::nullopt;
    }
    struct Query
    {
        PulseRecordingDevice* self;
        QList<RecordingDeviceInfo> found;
        bool done = false;
    } query{this, {}};
    pa_operation* op = pa_context_get_source_info_list(
        context_,
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* q = static_cast<Query*>(data);
            if (eol) {
                q->done = true;
                pa_threaded_mainloop_signal(q->self->loop_, 0);
            } else if (info) {
                q->found.append({QString::fromUtf8(info->name),
                                 QString::fromUtf8(info->description ? info->description : "")});
            }
        },
        &query);
    if (!op) {
        lastError_ = QStringLiteral("The audio server refused the list of recording devices");
        return std::nullopt;
    }
    const bool answered = waitLocked(
        [&] { return query.done || pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!answered || !query.done) {
        // The callback must not see the query after we return.
        pa_operation_cancel(op);
        pa_operation_unref(op);
        lastError_ = QStringLiteral("The audio server did not list its recording devices");
        return std::nullopt;
    }
    pa_operation_unref(op);
    return query.found;
}

std::optional<QList<RecordingDeviceInfo>> PulseRecordingDevice::sources(QString* error)
{
    Lock lock(loop_);
    auto found = sourcesLocked();
    if (!found && error) {
        *error = lastError_;
    }
    return found;
}

std::uint32_t PulseRecordingDevice::deviceCount()
{
    Lock lock(loop_);
    const auto found = sourcesLocked();
    return found ? static_cast<std::uint32_t>(found->size()) : 0;
}

bool PulseRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                                QObject* notificationTarget)
{
    Lock lock(loop_);
    if (open_ || !notificationTarget || format.channels != 1 || format.bitsPerSample != 8 ||
        format.sampleRate <= 0) {
        return false;
    }
    const pa_sample_spec sampleFormat{PA_SAMPLE_U8, static_cast<std::uint32_t>(format.sampleRate),
                                      1};
    if (!pa_sample_spec_valid(&sampleFormat) || !connectLocked()) {
        return false;
    }
    QByteArray source = sourceName_.toUtf8();
    if (deviceNumber > 0) {
        const auto found = sourcesLocked();
        if (!found || deviceNumber >= static_cast<std::uint32_t>(found->size())) {
            return false;
        }
        source = found->at(static_cast<qsizetype>(deviceNumber)).name.toUtf8();
    }

    stream_ = pa_stream_new(context_, "Picture signal", &sampleFormat, nullptr);
    if (!stream_) {
        return false;
    }
    pa_stream_set_state_callback(stream_, &PulseRecordingDevice::onStreamState, this);
    pa_stream_set_read_callback(stream_, &PulseRecordingDevice::onStreamRead, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr);            // every field "server's choice" ...
    attr.fragsize = fragmentBytes(format.sampleRate); // ... except the fragment
    // Corked until start(), like a wave-in device that records only once started. A source
    // that goes away ends the capture instead of silently switching to another one.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE);
    const bool ready =
        pa_stream_connect_record(stream_, source.isEmpty() ? nullptr : source.constData(), &attr,
                                 flags) >= 0 &&
        waitLocked([this] {
            const pa_stream_state_t s = pa_stream_get_state(stream_);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        }) &&
        pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (!ready) {
        dropStreamLocked();
        return false;
    }
    target_ = notificationTarget;
    open_ = true;
    recording_ = false;
    failed_ = false;
    backlog_.clear();
    backlogLimit_ = static_cast<std::size_t>(sampleFormat.rate) * 2;
    post(kWaveOpenEvent);
    return true;
}

bool PulseRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    Lock lock(loop_);
    if (!open_ || !buffer || !buffer->data || buffer->bufferLength < 1) {
        return false;
    }
    prepared_.insert(buffer);
    return true;
}

bool PulseRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    Lock lock(loop_);
    if (!open_ || !prepared_.contains(buffer) ||
        std::find(queue_.begin(), queue_.end(), buffer) != queue_.end()) {
        return false;
    }
    buffer->bytesRecorded = 0;
    if (failed_) {
        // The stream is gone and the engine has been told; hand it straight back so the
        // queue drains into a close without a second message.
        post(kWaveDataEvent, buffer);
        return true;
    }
    if (!backlog_.empty()) {
        // What arrived while no buffer was queued goes first.
        const std::size_t n =
            std::min(backlog_.size(), static_cast<std::size_t>(buffer->bufferLength));
        std::memcpy(buffer->data.get(), backlog_.data(), n);
        backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(n));
        buffer->bytesRecorded = static_cast<std::int32_t>(n);
        bytesCaptured_ += static_cast<std::int64_t>(n);
        if (buffer->bytesRecorded == buffer->bufferLength) {
            post(kWaveDataEvent, buffer);
            return true;
        }
    }
    queue_.push_back(buffer);
    return true;
}

bool PulseRecordingDevice::start()
{
    Lock lock(loop_);
    if (!open_ || failed_) {
        return false;
    }
    recording_ = true;
    struct Uncork
    {
        PulseRecordingDevice* self;
        bool done = false;
        bool ok = false;
    } uncork{this};
    pa_operation* op = pa_stream_cork(
        stream_, 0,
        [](pa_stream*, int success, void* data) {
            auto* u = static_cast<Uncork*>(data);
            u->done = true;
            u->ok = success != 0;
            pa_threaded_mainloop_signal(u->self->loop_, 0);
        },
        &uncork);
    if (!op) {
        recording_ = false;
        return false;
    }
    waitLocked([&] { return uncork.done || pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!uncork.done) {
        pa_operation_cancel(op);
    }
    pa_operation_unref(op);
    recording_ = uncork.ok;
    return uncork.ok;
}

bool PulseRecordingDevice::reset()
{
    Lock lock(loop_);
    if (!open_) {
        return false;
    }
    recording_ = false;
    backlog_.clear(); // recorded after the last buffer ran out: no buffer of this take holds it
    if (stream_ && !failed_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        // No need to wait: whatever still arrives is dropped while not recording.
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    handBackLocked();
    return true;
}

bool PulseRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    Lock lock(loop_);
    if (!prepared_.contains(buffer) ||
        std::find(queue_.begin(), queue_.end(), buffer) != queue_.end()) {
        return false;
    }
    prepared_.erase(buffer);
    return true;
}

bool PulseRecordingDevice::close()
{
    Lock lock(loop_);
    if (!open_ || !queue_.empty()) {
        return false;
    }
    dropStreamLocked();
    open_ = false;
    recording_ = false;
    failed_ = false;
    prepared_.clear();
    backlog_.clear();
    post(kWaveCloseEvent);
    target_ = nullptr;
    return true;
}

void PulseRecordingDevice::abandon()
{
    Lock lock(loop_);
    target_ = nullptr; // nothing more is posted
    dropStreamLocked();
    queue_.clear();
    prepared_.clear();
    backlog_.clear();
    open_ = false;
    recording_ = false;
    failed_ = false;
}

void PulseRecordingDevice::dropStreamLocked()
{
    if (!stream_) {
        return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseRecordingDevice::post(QEvent::Type type, WaveBuffer* buffer, const QString& text)
{
    if (target_) {
        QCoreApplication::postEvent(target_, new WaveEvent(type, buffer, text));
    }
}

void PulseRecordingDevice::handBackLocked()
{
    while (!queue_.empty()) {
        post(kWaveDataEvent, queue_.front());
        queue_.pop_front();
    }
}

void PulseRecordingDevice::onStreamState(pa_stream* stream, void* data)
{
    auto* self = static_cast<PulseRecordingDevice*>(data);
    pa_threaded_mainloop_signal(self->loop_, 0);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!self->open_ || self->failed_ || PA_STREAM_IS_GOOD(state)) {
        return;
    }
    self->failed_ = true;
    self->recording_ = false;
    const bool serverGone =
        !self->context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(self->context_));
    self->post(kWaveErrorEvent, nullptr,
               serverGone ? QStringLiteral("Recording stopped: lost the connection to the "
                                           "audio server")
                          : QStringLiteral("Recording stopped: the recording device is gone"));
    self->handBackLocked();
}

void PulseRecordingDevice::onStreamRead(pa_stream* stream, std::size_t, void* data)
{
    auto* self = static_cast<PulseRecordingDevice*>(data);
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t n = 0;
        if (pa_stream_peek(stream, &bytes, &n) < 0 || n == 0) {
            break;
        }
        // bytes is null for a hole in the stream: nothing was recorded there.
        if (bytes && self->recording_) {
            self->consume(static_cast<const std::uint8_t*>(bytes), n);
        }
        pa_stream_drop(stream);
    }
}

// Fills the queued buffers in order; a full one goes back to the window thread at once.
// What finds no buffer waits in the backlog; beyond that it is lost, as on a sound card that
// overruns.
void PulseRecordingDevice::consume(const std::uint8_t* data, std::size_t n)
{
    std::size_t used = 0;
    while (used < n && !queue_.empty()) {
        WaveBuffer* b = queue_.front();
        const auto room = static_cast<std::size_t>(b->bufferLength - b->bytesRecorded);
        const std::size_t take = std::min(room, n - used);
        std::memcpy(b->data.get() + b->bytesRecorded, data + used, take);
        b->bytesRecorded += static_cast<std::int32_t>(take);
        used += take;
        if (b->bytesRecorded == b->bufferLength) {
            queue_.pop_front();
            post(kWaveDataEvent, b);
        }
    }
    bytesCaptured_ += static_cast<std::int64_t>(used);
    if (used < n) {
        const std::size_t keep = std::min(n - used, backlogLimit_ - backlog_.size());
        backlog_.insert(backlog_.end(), data + used, data + used + keep);
        bytesDropped_ += static_cast<std::int64_t>(n - used - keep);
    }
}

std::unique_ptr<RecordingDevice> makePulseRecordingDevice(const QString& sourceName)
{
    return std::make_unique<PulseRecordingDevice>(sourceName);
}

std::optional<QList<RecordingDeviceInfo>> listRecordingDevices(QString* error)
{
    PulseRecordingDevice device;
    return device.sources(error);
}

} // namespace corvane
