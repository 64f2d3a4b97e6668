#include "SyncSeparator.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Sync is about 5 % of a line; the smoothing stays well under that.
constexpr double kSyncShare = 0.05;
// Sync depth as a share of the tip-to-peak swing, for the first guess (sync is about 30 % of
// it), and the least we ever assume.
constexpr float kDepthGuess = 0.3f;
constexpr float kDepthMin = 0.05f;
// Lines a measured tip stays good for: over a frame gap and the pulses the line clock coasts
// over. (The sliding minimum that stands in later may hold no pulse at all.)
constexpr double kFresh = 6.0;

} // namespace

SyncSeparator::SyncSeparator(double linePeriod)
    : period_(std::max(linePeriod, 4.0)),
      ownSmooth_(std::clamp(static_cast<int>(std::lround(period_ * kSyncShare / 3)), 1, 32)),
      smooth_(ownSmooth_), invSmooth_(1.0f / static_cast<float>(smooth_)),
      delay_((smooth_ - 1) / 2.0), minWidth_(std::max(0.5, 0.015 * period_)),
      maxWidth_(0.4 * period_), settle_(smooth_ + 1),
      segmentLength_(std::max(4, static_cast<int>(period_ / 4)))
{
    reset();
}

void SyncSeparator::setSettleSamples(double samples)
{
    settle_ = smooth_ + 1 + static_cast<int>(std::ceil(std::max(samples, 0.0)));
}

void SyncSeparator::setMinimumSmoothing(int samples)
{
    const int settleExtra = settle_ - smooth_;
    smooth_ = std::clamp(std::max(samples, ownSmooth_), 1, 32);
    invSmooth_ = 1.0f / static_cast<float>(smooth_);
    delay_ = (smooth_ - 1) / 2.0;
    settle_ = smooth_ + settleExtra;
}

void SyncSeparator::setSteadyLevels(bool steady)
{
    steady_ = steady;
    tipFollow_ = steady ? 0.1f : 0.5f;
}

void SyncSeparator::reset()
{
    ring_.fill(0);
    past_.fill(0);
    ringAt_ = 0;
    segmentFill_ = 0;
    segmentMin_ = 1e30f;
    segmentMax_ = -1e30f;
    segmentDirty_ = false;
    mins_.fill(0);
    maxs_.fill(0);
    dirty_.fill(true);
    segments_ = 0;
    segmentAt_ = 0;
    settleUntil_ = INT64_MIN / 2;
    active_ = false;
    low_ = high_ = bottom_ = -1e30f;
    shallow_ = 1e30f;
    tip_ = 0;
    tipAt_ = INT64_MIN / 2;
    black_ = 0;
    blackKnown_ = false;
    swing_ = 0;
    inPulse_ = false;
}

void SyncSeparator::closeSegment(std::int64_t now)
{
    mins_[segmentAt_] = segmentMin_;
    maxs_[segmentAt_] = segmentMax_;
    dirty_[segmentAt_] = segmentDirty_;
    if (!segmentDirty_ && now - tipAt_ < static_cast<std::int64_t>(1.5 * period_)) {
        // Video away from pulses never goes below black: its lowest stretch, relative to the
        // last tip, is black (or the darkest the picture has). Down quickly, up over frames:
        // parts of the picture without black must not lift it.
        const float level = segmentMin_ - tip_;
        if (!blackKnown_)
            black_ = level;
        else
            black_ += (level < black_ ? 0.15f : 0.005f) * (level - black_);
        blackKnown_ = true;
    }
    segmentAt_ = (segmentAt_ + 1) % kSegments;
    ++segmentsClosed_;
    segments_ = std::min<int>(segments_ + 1, static_cast<int>(kSegments));
    segmentMin_ = 1e30f;
    segmentMax_ = -1e30f;
    segmentDirty_ = inPulse_;
    updateLevels(now);
}

void SyncSeparator::updateLevels(std::int64_t now)
{
    const int n = segments_;
    if (n == 0)
        return;
    float lo = mins_[0], hi = maxs_[0];
    for (int k = 1; k < n; ++k) {
        lo = std::min(lo, mins_[static_cast<std::size_t>(k)]);
        hi = std::max(hi, maxs_[static_cast<std::size_t>(k)]);
    }
    active_ = hi - lo >= kMinSwing;
    if (!active_) {
        low_ = high_ = bottom_ = -1e30f;
        blackKnown_ = false;
        swing_ = 0;
        return;
    }
    // Measured tips count while fresh; the sliding minimum stands in before the first pulse
    // and after the pulses stop.
    const double since = static_cast<double>(now - tipAt_);
    const bool fresh = since < kFresh * period_;
    const float tip = fresh ? tip_ : lo;
    // The picture's peak changes from line to line; the sync depth does not.
    swing_ = std::max({hi - tip, swing_ * 0.98f, kMinSwing});
    float depth = kDepthGuess * swing_;
    if (blackKnown_ && fresh)
        depth = std::max(black_, kDepthMin * swing_);
    // A pulse overdue (a gap at black) may come with its tip risen: let the level rise too.
    const float allowance =
        fresh && !steady_
            ? 0.5f * depth * static_cast<float>(std::clamp(since / period_ - 1.1, 0.0, 1.0))
            : 0.0f;
    float level = tip + 0.5f * depth + allowance;
    if (fresh) {
        // Never above half a sync depth under the video of the last half line.
        float recent = 1e30f;
        for (std::size_t k = 1; k <= 2; ++k) {
            const std::size_t at = (segmentAt_ + kSegments - k) % kSegments;
            if (!dirty_[at])
                recent = std::min(recent, mins_[at]);
        }
        level = std::min(level, recent - 0.5f * depth);
    }
    low_ = level;
    // A pulse that does not reach this far down is a dip of noise or picture, not sync.
    shallow_ = fresh ? tip + 0.35f * depth + allowance : 1e30f;
    high_ = level + 0.2f * depth;
    bottom_ = level - 0.25f * depth;
}

void SyncSeparator::finishPulse(double end, std::int64_t now, std::vector<SyncPulse>& out)
{
    inPulse_ = false;
    const double width = end - pulseStart_;
    const float tip = bottomCount_ > 0 ? bottomSum_ / static_cast<float>(bottomCount_) : pulseMin_;
    if (width < minWidth_ || width > maxWidth_ || pulseMin_ > shallow_) {
        // Not sync: its samples are video after all, as far as the segments they lie in go.
        if (segmentsClosed_ == pulseSegment_) {
            segmentDirty_ = dirtyBefore_;
            dirty_[(segmentAt_ + kSegments - 1) % kSegments] = previousDirtyBefore_;
        }
        settleUntil_ = INT64_MIN / 2;
        return;
    }
    tip_ = tipAt_ < now - static_cast<std::int64_t>(kFresh * period_)
               ? tip
               : tip_ + tipFollow_ * (tip - tip_);
    tipAt_ = now;
    const auto flat = static_cast<float>(std::min(1.0, belowCount_ / std::max(width, 1.0)));
    out.push_back(SyncPulse{pulseStart_ - delay_, width, tip, flat});
    updateLevels(now);
}

void SyncSeparator::process(const float* video, std::size_t count, std::int64_t first,
                            std::vector<SyncPulse>& out)
{
    const auto len = static_cast<std::size_t>(smooth_);
    // The input with the last len samples of the block before in front, the smoothed copy
    // likewise: each stage then runs as a plain loop over the block.
    if (input_.size() < count + len)
        input_.resize(count + len);
    if (smoothed_.size() < count + len)
        smoothed_.resize(count + len);
    for (std::size_t k = 0; k < len; ++k) {
        input_[k] = ring_[(ringAt_ - len + k) & 63];
        smoothed_[k] = past_[(ringAt_ - len + k) & 63];
    }
    std::copy(video, video + count, input_.begin() + static_cast<long>(len));
    const float inv = invSmooth_;
    float* s = smoothed_.data() + len;
    const float* x = input_.data() + 1;
    if (len == 1) {
        std::copy(x, x + count, s);
    } else if (len == 2) {
        for (std::size_t i = 0; i < count; ++i)
            s[i] = 0.5f * (x[i] + x[i + 1]);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            float sum = 0;
            for (std::size_t k = 0; k < len; ++k)
                sum += x[i + k];
            s[i] = sum * inv;
        }
    }
    for (std::size_t k = 0; k < len; ++k) {
        ring_[(ringAt_ + count - len + k) & 63] = input_[count + k];
        past_[(ringAt_ + count - len + k) & 63] = smoothed_[count + k];
    }
    ringAt_ += count;

    std::size_t pos = 0;
    while (pos < count) {
        const std::size_t n =
            std::min(count - pos, static_cast<std::size_t>(segmentLength_ - segmentFill_));
        const std::int64_t segmentStart = first + static_cast<std::int64_t>(pos) - segmentFill_;
        // Black is read from twice the smoothing: the minimum of a noisy stretch lies below
        // its level by a couple of standard deviations.
        float lo = segmentMin_, hi = segmentMax_;
        for (std::size_t i = pos; i < pos + n; ++i) {
            lo = std::min(lo, 0.5f * (s[i] + s[i - len]));
            hi = std::max(hi, s[i]);
        }
        segmentMin_ = lo;
        segmentMax_ = hi;
        // The rise after a pulse is not video yet.
        if (first + static_cast<std::int64_t>(pos) < settleUntil_)
            segmentDirty_ = true;

        std::size_t i = pos;
        const std::size_t stop = pos + n;
        while (i < stop) {
            if (!inPulse_) {
                const float low = low_;
                while (i < stop && s[i] >= low)
                    ++i;
                if (i == stop)
                    break;
                inPulse_ = true;
                pulseSegment_ = segmentsClosed_;
                dirtyBefore_ = segmentDirty_;
                previousDirtyBefore_ = dirty_[(segmentAt_ + kSegments - 1) % kSegments];
                segmentDirty_ = true;
                const std::int64_t at = first + static_cast<std::int64_t>(i);
                // The fall into the pulse began up to a smoothing length earlier.
                if (at - segmentStart < settle_)
                    dirty_[(segmentAt_ + kSegments - 1) % kSegments] = true;
                // Linear interpolation of the crossing between the previous sample and this.
                const float before = s[static_cast<std::ptrdiff_t>(i) - 1];
                const float step = before - s[i];
                const double frac = step > 0 ? std::clamp((before - low) / step, 0.0f, 1.0f) : 1.0;
                pulseStart_ = static_cast<double>(at) - 1 + frac;
                pulseMin_ = s[i];
                bottomSum_ = 0;
                bottomCount_ = 0;
                belowCount_ = 0;
            }
            const float high = high_, bottom = bottom_, low = low_;
            const auto limit = static_cast<std::int64_t>(pulseStart_ + maxWidth_ + 2);
            for (; i < stop; ++i) {
                const float v = s[i];
                if (v > high)
                    break;
                pulseMin_ = std::min(pulseMin_, v);
                belowCount_ += v < low ? 1 : 0;
                if (v < bottom) {
                    bottomSum_ += v;
                    ++bottomCount_;
                }
                if (first + static_cast<std::int64_t>(i) > limit) {
                    // Far too long for sync (the signal stopped at the bottom): drop it.
                    inPulse_ = false;
                    break;
                }
            }
            if (i == stop)
                break;
            if (inPulse_) {
                const float before = s[static_cast<std::ptrdiff_t>(i) - 1];
                const float step = s[i] - before;
                const double frac = step > 0 ? std::clamp((high - before) / step, 0.0f, 1.0f) : 0.0;
                const std::int64_t now = first + static_cast<std::int64_t>(i);
                settleUntil_ = now + settle_;
                segmentDirty_ = true;
                finishPulse(static_cast<double>(now) - 1 + frac, now, out);
            }
            ++i;
        }

        pos += n;
        segmentFill_ += static_cast<int>(n);
        if (segmentFill_ == segmentLength_) {
            segmentFill_ = 0;
            closeSegment(first + static_cast<std::int64_t>(pos) - 1);
        }
    }
}

} // namespace corvane
