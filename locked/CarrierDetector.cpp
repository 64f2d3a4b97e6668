#include "CarrierDetector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

namespace {

constexpr double kWindowSeconds = 0.1;
// Silence (or a dead input) is not judged at all: the last decision stands.
constexpr double kMinVariance = 1e-6;
// Hysteresis on the share of energy above the high pass.
constexpr double kToCarrier = 0.6;
constexpr double kToBaseband = 0.4;
constexpr std::size_t kMaxIntervals = 8192;
// Spread of the middle half of the zero-crossing intervals, as a share of their median, up to
// which they come from a carrier.
constexpr float kSpread = 0.3f;

} // namespace

CarrierDetector::CarrierDetector(double sampleRate)
    : sampleRate_(sampleRate),
      window_(static_cast<std::size_t>(std::max(64.0, std::round(sampleRate * kWindowSeconds))))
{
    // A few kHz: above the strong line-rate harmonics of baseband video, below any usable
    // carrier.
    const double cutoff = std::min(3000.0, 0.3 * sampleRate);
    const double k = std::tan(std::numbers::pi * cutoff / sampleRate);
    const double q = std::numbers::sqrt2 / 2;
    const double norm = 1 / (1 + k / q + k * k);
    b0_ = static_cast<float>(norm);
    b1_ = static_cast<float>(-2 * norm);
    b2_ = static_cast<float>(norm);
    a1_ = static_cast<float>(2 * (k * k - 1) * norm);
    a2_ = static_cast<float>((1 - k / q + k * k) * norm);
    intervals_.reserve(kMaxIntervals);
}

void CarrierDetector::reset()
{
    x1_ = x2_ = y1_ = y2_ = 0;
    filled_ = 0;
    sum_ = sumSquares_ = highSquares_ = 0;
    hysteresis_ = 0;
    above_ = false;
    lastCrossing_ = -1;
    index_ = 0;
    intervals_.clear();
    decided_ = carrier_ = false;
    contrary_ = 0;
    resting_ = 0;
    carrierHz_ = highShare_ = 0;
    judgedVariance_ = 0;
}

void CarrierDetector::process(const float* samples, std::size_t count)
{
    while (count > 0 && resting_ > 0) {
        // Once decided, only every fourth window is judged: the kind of signal does not change
        // by the millisecond, and this is the costliest filter per sample. A change of power
        // (a signal comes or goes) ends the rest at once.
        const std::size_t n = std::min(count, window_ - filled_);
        float sum = 0, squares = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += samples[i];
            squares += samples[i] * samples[i];
        }
        sum_ += sum;
        sumSquares_ += squares;
        filled_ += n;
        samples += n;
        count -= n;
        if (filled_ == window_) {
            const double w = static_cast<double>(window_);
            const double variance = sumSquares_ / w - (sum_ / w) * (sum_ / w);
            filled_ = 0;
            sum_ = sumSquares_ = 0;
            if (!(variance < 2 * judgedVariance_ && variance > 0.5 * judgedVariance_))
                resting_ = 1;
            if (--resting_ == 0) {
                x1_ = x2_ = y1_ = y2_ = 0;
                lastCrossing_ = -1;
                above_ = false;
            }
        }
    }
    while (count > 0) {
        const std::size_t n = std::min(count, window_ - filled_);
        float x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
        float sum = 0, squares = 0, high = 0;
        const float h = hysteresis_;
        for (std::size_t i = 0; i < n; ++i) {
            const float x = samples[i];
            const float y = b0_ * x + b1_ * x1 + b2_ * x2 - a1_ * y1 - a2_ * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            sum += x;
            squares += x * x;
            high += y * y;
            if (above_) {
                above_ = y > -h;
            } else if (y > h) {
                above_ = true;
                // Sub-sample position of the upward crossing of +h.
                const double at = static_cast<double>(index_ + i) - (y - h) / (y - y2 + 1e-20f);
                if (lastCrossing_ >= 0 && intervals_.size() < kMaxIntervals)
                    intervals_.push_back(static_cast<float>(at - lastCrossing_));
                lastCrossing_ = at;
            }
        }
        x1_ = x1;
        x2_ = x2;
        y1_ = y1;
        y2_ = y2;
        sum_ += sum;
        sumSquares_ += squares;
        highSquares_ += high;
        index_ += n;
        filled_ += n;
        samples += n;
        count -= n;
        if (filled_ == window_)
            closeWindow();
    }
}

void CarrierDetector::closeWindow()
{
    const double n = static_cast<double>(filled_);
    const double mean = sum_ / n;
    const double variance = sumSquares_ / n - mean * mean;
    if (variance > kMinVariance) {
        highShare_ = std::clamp(highSquares_ / n / variance, 0.0, 1.0);
        // A carrier crosses zero at a steady pace; noise, which also lives above the high
        // pass, does not.
        bool steady = false;
        if (intervals_.size() >= 16) {
            const auto at = [&](double share) {
                auto it = intervals_.begin() + static_cast<long>(share * (intervals_.size() - 1));
                std::nth_element(intervals_.begin(), it, intervals_.end());
                return *it;
            };
            const float lower = at(0.25), upper = at(0.75), median = at(0.5);
            if (median > 0) {
                carrierHz_ = sampleRate_ / median;
                steady = upper - lower < kSpread * median;
            }
        }
        const bool says =
            steady && (decided_ ? (carrier_ ? highShare_ > kToBaseband : highShare_ > kToCarrier)
                                : highShare_ > 0.5);
        if (!decided_) {
            decided_ = true;
            carrier_ = says;
        } else if (says != carrier_) {
            // Two windows in a row before changing our mind: a burst of picture detail or
            // noise does not flip the demodulator.
            if (++contrary_ >= 2) {
                carrier_ = says;
                contrary_ = 0;
            }
        } else {
            contrary_ = 0;
        }
        // Crossings count from a quarter of the high-passed amplitude up: noise in the
        // carrier's gaps does not add crossings.
        hysteresis_ = static_cast<float>(0.25 * std::sqrt(highSquares_ / n));
        judgedVariance_ = variance;
    }
    filled_ = 0;
    sum_ = sumSquares_ = highSquares_ = 0;
    intervals_.clear();
    if (decided_ && contrary_ == 0)
        resting_ = kRestWindows;
}

} // namespace corvane
