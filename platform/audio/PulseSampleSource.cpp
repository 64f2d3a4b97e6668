#include "PulseSampleSource.h"

#include <QAbstractEventDispatcher>
#include <algorithm>
#include <cstring>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/glib-mainloop.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

namespace corvane {

namespace {

constexpr const char* kClientName = "Corvane";
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
    if (loop_)
        return true;
    // libpulse's GLib adapter runs on the main context, which only Qt's GLib dispatcher turns.
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        if (error)
            *error = QStringLiteral("Live recording needs Qt's GLib event loop (unset QT_NO_GLIB)");
        return false;
    }
    loop_ = pa_glib_mainloop_new(nullptr);
    // Non-recursive, GLib would take the descriptors out of its poll set and back around every
    // dispatch (see PulseRecordingDevice); our callbacks never run a nested loop.
    if (loop_)
        g_source_set_can_recurse(reinterpret_cast<GSource*>(loop_), TRUE);
    context_ = loop_ ? pa_context_new(pa_glib_mainloop_get_api(loop_), kClientName) : nullptr;
    if (context_) {
        pa_context_set_state_callback(
            context_,
            [](pa_context* c, void* self) {
                static_cast<PulseSampleSource*>(self)->onContextState(c);
            },
            this);
    }
    // Never start a server of our own.
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const QString reason =
            context_ ? QString::fromUtf8(pa_strerror(pa_context_errno(context_))) : QString();
        release();
        if (error)
            *error = QStringLiteral("Can't connect to the audio server: %1").arg(reason);
        return false;
    }
    giveUp_.start(timeoutMs_);
    return true;
}

void PulseSampleSource::stop()
{
    release();
}

void PulseSampleSource::onContextState(pa_context* context)
{
    if (context != context_)
        return; // one let go of: a failed context keeps its callback
    const pa_context_state_t state = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(state)) {
        fail(recording_ ? QStringLiteral("Recording stopped: lost the connection to the audio "
                                         "server")
                        : QStringLiteral("Can't connect to the audio server: %1")
                              .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context_)))));
        return;
    }
    if (state != PA_CONTEXT_READY || stream_)
        return;
    // The source's own format decides the stream's: nothing resampled, no channel dropped.
    const QByteArray name =
        sourceName_.isEmpty() ? QByteArray("@DEFAULT_SOURCE@") : sourceName_.toUtf8();
    pa_operation* op = pa_context_get_source_info_by_name(
        context_, name.constData(),
        [](pa_context*, const pa_source_info* info, int eol, void* self) {
            if (!eol || eol < 0)
                static_cast<PulseSampleSource*>(self)->onSourceInfo(info);
        },
        this);
    if (op)
        pa_operation_unref(op); // release() drops the context, and its callbacks, first
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
    stream_ = pa_stream_new(context_, "Picture signal", &format, &info->channel_map);
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
        const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
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
    if (!loop_)
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
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    // A fresh adapter for every connection (see PulseRecordingDevice), and this one freed only
    // once the loop is back: we may be inside one of its callbacks.
    if (loop_)
        QTimer::singleShot(0, [loop = loop_] { pa_glib_mainloop_free(loop); });
    loop_ = nullptr;
    recording_ = false;
    partial_.clear();
}

} // namespace corvane
