#include "AmDemodulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

void AmDemodulator::configure(double sampleRate, double carrierHz)
{
    // Zero of [1, -2 cos(theta), 1] at theta, twice the carrier; unit gain at DC. A ripple at
    // DC (a carrier at half the sample rate) cannot be told from the envelope: pass it as is.
    const double theta = 2 * std::numbers::pi * 2 * carrierHz / sampleRate;
    const double c = std::cos(theta);
    const double gain = 2 - 2 * c;
    if (gain < 0.05) {
        outer_ = 0.0f;
        centre_ = 1.0f;
    } else {
        outer_ = static_cast<float>(1 / gain);
        centre_ = static_cast<float>(-2 * c / gain);
    }
    reset();
}

void AmDemodulator::reset()
{
    z1_ = z2_ = 0;
    offset_ = 0;
    blockSum_ = 0;
    blockCount_ = 0;
}

void AmDemodulator::process(const float* in, float* out, std::size_t count)
{
    const float outer = outer_, centre = centre_, offset = offset_;
    float z1 = z1_, z2 = z2_;
    double total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float x = in[i] - offset;
        total += in[i];
        const float z = x * x;
        // The mean of sin^2 is a half: twice the filtered square is the envelope's square.
        const float power = 2 * (outer * (z + z2) + centre * z1);
        out[i] = std::sqrt(std::max(power, 0.0f));
        z2 = z1;
        z1 = z;
    }
    z1_ = z1;
    z2_ = z2;
    blockSum_ += total;
    blockCount_ += count;
    if (blockCount_ >= 4096) {
        // The DC follows slowly: an AC-coupled input has none, an offset one is corrected.
        const auto mean = static_cast<float>(blockSum_ / static_cast<double>(blockCount_));
        offset_ += 0.5f * (mean - offset_);
        blockSum_ = 0;
        blockCount_ = 0;
    }
}

} // namespace corvane
