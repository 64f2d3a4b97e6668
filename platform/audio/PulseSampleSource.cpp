#include "PulseSampleSource.h"

#include <algorithm>
#include <cstring>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

namespace corvane {

namespace {

const QString kOpenFailed = QStringLiteral("Can't open audio device");

} // namespace

PulseSampleSource::PulseSampleSource(QString sourceName, int timeoutMs, QObject* parent)
    : SampleSource(parent), sourceName_(std::move(sourceName)), timeoutMs_(timeoutMs)
{
    giveUp_.setSingleShot(true);
    connect(&giveUp_, &QTimer::timeout, this, [this] {
        fail(kOpenFailed + QStringLiteral(": the audio server did not answer in time"));
    });
}

PulseSampleSource::~PulseSampleSource()
{
    release();
}

QString PulseSampleSource::description() const
{
    if (!description_.isEmpty())
        return description_;
    return sourceName_.isEmpty() ? QStringLiteral("Default recording device") : sourceName_;
}

bool PulseSampleSource::start(QString* error)
{
    if (started_)
        return true;
    if (!context_.connect([this](const QString& failure) { onContext(failure); }, error))
        return false;
    started_ = true;
    giveUp_.start(timeoutMs_);
    return true;
}

void PulseSampleSource::stop()
{
    release();
}

void PulseSampleSource::onContext(const QString& failure)
{
    if (!failure.isEmpty()) {
        fail(recording_ ? QStringLiteral("Recording stopped: ") + failure : failure);
        return;
    }
    // The source's own format decides the stream's: nothing resampled, no channel dropped.
    const QByteArray name =
        sourceName_.isEmpty() ? QByteArray("@DEFAULT_SOURCE@") : sourceName_.toUtf8();
    pa_operation* op = pa_context_get_source_info_by_name(
        context_.get(), name.constData(),
        [](pa_context*, const pa_source_info* info, int eol, void* self) {
            if (!eol || eol < 0)
                static_cast<PulseSampleSource*>(self)->onSourceInfo(info);
        },
        this);
    if (op)
        pa_operation_unref(op); // a released context cancels it
    else
        fail(kOpenFailed);
}

void PulseSampleSource::onSourceInfo(const pa_source_info* info)
{
    if (stream_)
        return;
    if (!info) {
        fail(sourceName_.isEmpty()
                 ? kOpenFailed + QStringLiteral(": the audio server has no recording device")
                 : kOpenFailed + QStringLiteral(": no recording device named %1").arg(sourceName_));
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, info->sample_spec.rate,
                                info->sample_spec.channels};
    description_ = QString::fromUtf8(info->description ? info->description : info->name);
    stream_ = pa_stream_new(context_.get(), "Picture signal", &format, &info->channel_map);
    if (!stream_) {
        fail(kOpenFailed);
        return;
    }
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream* s, void* self) { static_cast<PulseSampleSource*>(self)->onStreamState(s); },
        this);
    pa_stream_set_read_callback(
        stream_,
        [](pa_stream* s, std::size_t, void* self) {
            static_cast<PulseSampleSource*>(self)->onRead(s);
        },
        this);
    pa_buffer_attr attr;
    std::fill_n(reinterpret_cast<std::uint32_t*>(&attr), sizeof attr / sizeof(std::uint32_t),
                static_cast<std::uint32_t>(-1)); // every field "server's choice" ...
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10'000, &format)); // ... but this
    // The source by its own name: the default chosen now is the one recorded until it goes.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, info->name, &attr, flags) < 0)
        fail(kOpenFailed);
}

void PulseSampleSource::onStreamState(pa_stream* stream)
{
    if (stream != stream_)
        return; // one let go of: a failed stream keeps its callbacks
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state)) {
        const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()));
        fail(!recording_ ? kOpenFailed
             : serverGone
                 ? QStringLiteral("Recording stopped: lost the connection to the audio server")
                 : QStringLiteral("Recording stopped: the recording device is gone"));
        return;
    }
    if (state != PA_STREAM_READY || recording_)
        return;
    giveUp_.stop();
    const pa_sample_spec* format = pa_stream_get_sample_spec(stream_);
    channels_ = format->channels;
    rate_ = format->rate;
    recording_ = true;
}

void PulseSampleSource::onRead(pa_stream* stream)
{
    if (stream != stream_)
        return;
    pa_stream_ref(stream); // a receiver may stop us from inside a block
    while (stream == stream_ && pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t n = 0;
        if (pa_stream_peek(stream, &bytes, &n) < 0 || n == 0)
            break;
        if (bytes) {
            deliver(static_cast<const std::uint8_t*>(bytes), n);
        } else {
            // A hole: nothing was recorded there, but the time passed.
            const std::vector<std::uint8_t> silence(n);
            deliver(silence.data(), n);
        }
        if (stream == stream_)
            pa_stream_drop(stream);
    }
    pa_stream_unref(stream);
}

// Whole frames go out as they are where they can; a frame split between fragments waits for
// its rest.
void PulseSampleSource::deliver(const std::uint8_t* bytes, std::size_t count)
{
    const std::size_t frame = sizeof(float) * static_cast<std::size_t>(channels_);
    if (partial_.empty() && count % frame == 0 &&
        reinterpret_cast<std::uintptr_t>(bytes) % alignof(float) == 0) {
        emit block(reinterpret_cast<const float*>(bytes), count / frame, channels_, rate_);
        return;
    }
    partial_.insert(partial_.end(), bytes, bytes + count);
    const std::size_t whole = partial_.size() / frame * frame;
    staging_.resize(whole / sizeof(float));
    std::memcpy(staging_.data(), partial_.data(), whole);
    partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(whole));
    if (whole > 0)
        emit block(staging_.data(), whole / frame, channels_, rate_);
}

void PulseSampleSource::fail(const QString& reason)
{
    if (!started_)
        return;
    release();
    emit ended(reason);
}

// The one way a connection ends (stop, failure, destruction); libpulse keeps calling back about
// a stream or context it has let go of unless told not to.
void PulseSampleSource::release()
{
    giveUp_.stop();
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    context_.release();
    started_ = false;
    recording_ = false;
    partial_.clear();
}

} // namespace corvane
