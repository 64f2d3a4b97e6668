#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {

// Interleaved float frames from one sample rate to another through libsamplerate, a piece at a
// time: the filter's state carries from one piece to the next.
class Resampler
{
public:
    // Takes resampled frames as they come, a bounded piece at a time.
    using Sink = std::function<bool(const float* interleaved, std::size_t frames)>;

    // Nullptr and a one-line reason when libsamplerate cannot go from one rate to the other.
    static std::unique_ptr<Resampler> make(double fromRate, double toRate, int channels,
                                           QString* error);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Resamples frames, handing what comes out to sink; last drains the filter. False with a
    // reason when libsamplerate fails, or as soon as sink returns false (error untouched).
    bool process(const float* interleaved, std::size_t frames, bool last, const Sink& sink,
                 QString* error);

private:
    Resampler(void* state, double ratio, int channels);

    void* state_; // SRC_STATE*
    double ratio_;
    int channels_;
    std::vector<float> out_;
};

} // namespace corvane
