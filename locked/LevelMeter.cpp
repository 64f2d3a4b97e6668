#include "LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace corvane {

LevelMeter::LevelMeter(double sampleRate)
    : window_(static_cast<std::size_t>(std::max(1.0, std::round(sampleRate * 0.2))))
{}

void LevelMeter::reset()
{
    filled_ = 0;
    current_ = previous_ = 0;
    clipped_ = previousClipped_ = false;
}

void LevelMeter::process(const float* samples, std::size_t count)
{
    while (count > 0) {
        const std::size_t n = std::min(count, window_ - filled_);
        float peak = current_;
        for (std::size_t i = 0; i < n; ++i)
            peak = std::max(peak, std::fabs(samples[i]));
        current_ = peak;
        clipped_ = clipped_ || peak >= kClip;
        filled_ += n;
        samples += n;
        count -= n;
        if (filled_ == window_) {
            // The reading covers this window and the one before, so it never drops to zero
            // right after a window closes.
            previous_ = current_;
            previousClipped_ = clipped_;
            current_ = 0;
            clipped_ = false;
            filled_ = 0;
        }
    }
}

double LevelMeter::peak() const
{
    return std::max(current_, previous_);
}

} // namespace corvane
