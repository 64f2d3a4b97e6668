#include "BandPower.h"

#include <algorithm>
#include <cmath>
#include <liquid/liquid.h>

namespace corvane {

namespace {
// Transforms averaged into one row at most: beyond this the row hardly steadies further.
constexpr std::size_t kMaxTransforms = 48;
} // namespace

struct BandPower::Liquid
{
    spgramcf gram = nullptr;
    ~Liquid()
    {
        if (gram)
            spgramcf_destroy(gram);
    }
};

BandPower::BandPower(double sampleRate, int bins, Sink sink, double rowsPerSecond)
    : liquid_(std::make_unique<Liquid>()), bins_(std::clamp(bins, 16, 65536)),
      sink_(std::move(sink))
{
    const auto n = static_cast<std::size_t>(bins_);
    rowSamples_ = std::max(
        n, static_cast<std::size_t>(std::lround(sampleRate / std::clamp(rowsPerSecond, 0.1, 1e3))));
    stride_ = std::max(n, rowSamples_ / kMaxTransforms);
    // Each transform is handed exactly one window of samples, so the delay equals the length.
    liquid_->gram = spgramcf_create(static_cast<unsigned>(n), LIQUID_WINDOW_BLACKMANHARRIS,
                                    static_cast<unsigned>(n), static_cast<unsigned>(n));
    spgramcf_set_alpha(liquid_->gram, -1); // a plain average until cleared
    gathered_.resize(n);
    row_.resize(n);
}

BandPower::~BandPower() = default;

void BandPower::feed(std::span<const IqSample> iq)
{
    const auto n = static_cast<std::size_t>(bins_);
    while (!iq.empty()) {
        // Up to the next transform's start, through it, or (none left in the row) to its end.
        const std::size_t until = nextTake_ + n > rowSamples_ ? rowSamples_
                                  : inRow_ < nextTake_        ? nextTake_
                                                              : nextTake_ + n;
        const std::size_t count = std::min(iq.size(), until - inRow_);
        if (inRow_ >= nextTake_ && until == nextTake_ + n)
            std::copy_n(iq.begin(), count, gathered_.begin() + long(inRow_ - nextTake_));
        inRow_ += count;
        iq = iq.subspan(count);
        if (inRow_ == nextTake_ + n && until == inRow_) {
            spgramcf_write(liquid_->gram, gathered_.data(), static_cast<unsigned>(n));
            nextTake_ += stride_;
        }
        if (inRow_ == rowSamples_) {
            if (spgramcf_get_num_transforms(liquid_->gram) > 0) {
                spgramcf_get_psd(liquid_->gram, row_.data());
                sink_(row_);
            }
            spgramcf_clear(liquid_->gram);
            inRow_ = nextTake_ = 0;
        }
    }
}

} // namespace corvane
