#include "SoundOutput.h"

#include <algorithm>
#include <cmath>
#include <pulse/context.h>
#include <pulse/stream.h>

namespace corvane {

SoundOutput::SoundOutput(QObject* parent) : QObject(parent) {}

SoundOutput::~SoundOutput()
{
    stop();
}

void SoundOutput::play(const float* interleaved, std::size_t frames, int channels, double rate)
{
    if (failed_)
        return;
    if (rate != rate_ || !context_.get())
        open(rate);
    const std::size_t limit = static_cast<std::size_t>(rate / 2);
    const auto n = static_cast<std::size_t>(std::max(channels, 1));
    for (std::size_t i = 0; i < frames && pending_.size() < limit; ++i)
        pending_.push_back(channel_ < channels ? interleaved[i * n + std::size_t(channel_)] : 0.0f);
    flush();
}

void SoundOutput::open(double rate)
{
    stop();
    rate_ = rate;
    QString error;
    if (!context_.connect(
            [this](const QString& failure) {
                if (!failure.isEmpty()) {
                    fail(failure);
                    return;
                }
                const pa_sample_spec format{PA_SAMPLE_FLOAT32NE,
                                            static_cast<std::uint32_t>(std::lround(rate_)), 1};
                stream_ = pa_stream_new(context_.get(), "Programme sound", &format, nullptr);
                if (!stream_) {
                    fail(QStringLiteral("Can't play sound at %1 Hz").arg(rate_));
                    return;
                }
                pa_stream_set_state_callback(
                    stream_,
                    [](pa_stream* s, void* self) {
                        static_cast<SoundOutput*>(self)->onStreamState(s);
                    },
                    this);
                pa_buffer_attr attr;
                std::fill_n(reinterpret_cast<std::uint32_t*>(&attr),
                            sizeof attr / sizeof(std::uint32_t), static_cast<std::uint32_t>(-1));
                attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(100'000, &format));
                if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY,
                                               nullptr, nullptr) < 0)
                    fail(QStringLiteral("Can't play sound"));
            },
            &error))
        fail(error);
}

void SoundOutput::onStreamState(pa_stream* stream)
{
    if (stream != stream_)
        return; // one let go of: a failed stream keeps its callbacks
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state))
        fail(QStringLiteral("Sound stopped: the output is gone"));
    else if (state == PA_STREAM_READY)
        flush();
}

void SoundOutput::flush()
{
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY || pending_.empty())
        return;
    const std::size_t room = pa_stream_writable_size(stream_) / sizeof(float);
    const std::size_t n = std::min(room, pending_.size());
    if (n > 0)
        pa_stream_write(stream_, pending_.data(), n * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
    pending_.clear();
}

void SoundOutput::fail(const QString& reason)
{
    stop();
    failed_ = true;
    emit failed(reason);
}

void SoundOutput::stop()
{
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    context_.release();
    pending_.clear();
    rate_ = 0;
    failed_ = false;
}

} // namespace corvane
