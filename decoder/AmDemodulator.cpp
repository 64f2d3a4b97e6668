#include "AmDemodulator.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace corvane {

void AmDemodulator::configure(double sampleRate, double carrierHz)
{
    period_ = std::clamp(sampleRate / std::max(carrierHz, 1.0), 1.0, 4096.0);
    whole_ = static_cast<std::size_t>(period_);
    fraction_ = static_cast<float>(period_ - static_cast<double>(whole_));
    scale_ = static_cast<float>(1 / period_);
    // Centre of weights 1 at lags 0..whole-1 and fraction at lag whole.
    const double w = static_cast<double>(whole_);
    delay_ = (w * (w - 1) / 2 + fraction_ * w) / (w + fraction_);
    history_.assign(std::bit_ceil(whole_ + 2), 0.0f);
    mask_ = history_.size() - 1;
    reset();
}

void AmDemodulator::reset()
{
    std::fill(history_.begin(), history_.end(), 0.0f);
    at_ = 0;
    sum_ = 0;
    offset_ = 0;
    blockSum_ = 0;
    blockCount_ = 0;
}

void AmDemodulator::process(const float* in, float* out, std::size_t count)
{
    if (history_.empty())
        configure(8000, 1000);
    float* h = history_.data();
    const std::size_t mask = mask_;
    const std::size_t whole = whole_;
    const float fraction = fraction_;
    const float scale = scale_;
    const float offset = offset_;
    // A float running sum would drift; a double one per sample costs little beside the rest.
    double sum = sum_;
    std::size_t at = at_;
    double total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float r = std::fabs(in[i] - offset);
        total += in[i];
        h[at & mask] = r;
        sum += r - h[(at - whole) & mask];
        const float beyond = h[(at - whole) & mask];
        out[i] = (static_cast<float>(sum) + fraction * beyond) * scale;
        ++at;
    }
    at_ = at;
    // Recomputed now and then so rounding cannot pile up.
    if ((at_ >> 16) != ((at_ - count) >> 16)) {
        double exact = 0;
        for (std::size_t k = 1; k <= whole; ++k)
            exact += h[(at_ - k) & mask];
        sum = exact;
    }
    sum_ = sum;
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
