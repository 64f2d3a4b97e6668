#include "Resampler.h"

#include <algorithm>
#include <samplerate.h>

namespace corvane {

namespace {
// Output frames per call, whatever the ratio.
constexpr std::size_t kOutSamples = std::size_t{1} << 16;
} // namespace

std::unique_ptr<Resampler> Resampler::make(double fromRate, double toRate, int channels,
                                           QString* error)
{
    const double ratio = toRate / fromRate;
    int status = 0;
    // Its 97 dB is far beyond 8-bit samples, at a third of the better converters' time.
    SRC_STATE* state = fromRate > 0 && toRate > 0 && channels > 0 && src_is_valid_ratio(ratio)
                           ? src_new(SRC_SINC_FASTEST, channels, &status)
                           : nullptr;
    if (!state) {
        if (error)
            *error = status ? QString::fromUtf8(src_strerror(status))
                            : QStringLiteral("cannot resample from %1 Hz to %2 Hz")
                                  .arg(fromRate)
                                  .arg(toRate);
        return nullptr;
    }
    return std::unique_ptr<Resampler>(new Resampler(state, ratio, channels));
}

Resampler::Resampler(void* state, double ratio, int channels)
    : state_(state), ratio_(ratio), channels_(channels),
      out_(std::max<std::size_t>(kOutSamples / static_cast<std::size_t>(channels), 1) *
           static_cast<std::size_t>(channels))
{}

Resampler::~Resampler()
{
    src_delete(static_cast<SRC_STATE*>(state_));
}

bool Resampler::process(const float* interleaved, std::size_t frames, bool last, const Sink& sink,
                        QString* error)
{
    SRC_DATA data{};
    data.data_in = interleaved;
    data.input_frames = static_cast<long>(frames);
    data.src_ratio = ratio_;
    data.end_of_input = last ? 1 : 0;
    const auto channels = static_cast<std::size_t>(channels_);
    // Keep pulling until this piece is consumed (and, at the end, the filter drained).
    for (;;) {
        data.data_out = out_.data();
        data.output_frames = static_cast<long>(out_.size() / channels);
        if (const int status = src_process(static_cast<SRC_STATE*>(state_), &data)) {
            if (error)
                *error = QString::fromUtf8(src_strerror(status));
            return false;
        }
        if (data.output_frames_gen > 0 &&
            !sink(out_.data(), static_cast<std::size_t>(data.output_frames_gen)))
            return false;
        data.data_in += data.input_frames_used * static_cast<long>(channels);
        data.input_frames -= data.input_frames_used;
        if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
            return true;
    }
}

} // namespace corvane
