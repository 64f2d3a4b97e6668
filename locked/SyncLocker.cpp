#include "SyncLocker.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Periods searched: recordings played at the wrong speed, transmitters' own rates.
constexpr double kPullIn = 0.08;
// Lines folded when searching, and lines between searches.
constexpr double kSearchLines = 24;
constexpr double kSearchEvery = 8;
constexpr int kBins = 64;
// A t statistic noise alone reaches at the best of all folds only rarely.
constexpr double kFindEvidence = 7;
constexpr double kKeepEvidence = 3.5;
// Sync shallower than this (full scale 1) is silence, not sync.
constexpr float kFloor = 0.003f;
constexpr int kMaxMisses = 6;
constexpr float kInvertedMargin = 2.5f;

// Mean of x over [a, b) from prefix sums.
inline float mean(const double* prefix, std::ptrdiff_t a, std::ptrdiff_t b)
{
    return static_cast<float>((prefix[b] - prefix[a]) /
                              static_cast<double>(std::max<std::ptrdiff_t>(b - a, 1)));
}

// How clearly sync dips below the lower of the video just before it and just after it, over
// the lines whose edges are given: a t statistic of the dips, doubled where (nearly) every line
// dips clearly, since a picture moves the video beside sync from line to line, which the t
// statistic takes for noise, while noise does not dip on every line.
double dipRun(const double* prefix, std::ptrdiff_t size, const double* edges, int count,
              double width, int sign, float* meanDip)
{
    const auto w = static_cast<std::ptrdiff_t>(std::max(1L, std::lround(width)));
    std::array<double, 64> dips{};
    int n = 0;
    double sum = 0, squares = 0;
    for (int k = 0; k < count && n < 64; ++k) {
        const auto e = static_cast<std::ptrdiff_t>(std::lround(edges[k]));
        if (e - w < 0 || e + 2 * w > size)
            continue;
        const float inside = mean(prefix, e, e + w);
        const float before = mean(prefix, e - w, e), after = mean(prefix, e + w, e + 2 * w);
        const double d =
            sign > 0 ? std::min(before, after) - inside : inside - std::max(before, after);
        sum += d;
        squares += d * d;
        dips[static_cast<std::size_t>(n++)] = d;
    }
    if (n < 8)
        return 0;
    const double m = sum / n, var = std::max(squares / n - m * m, 0.0);
    if (meanDip)
        *meanDip = static_cast<float>(m);
    if (m < kFloor)
        return 0;
    const double t = m / std::sqrt(var + 1e-4 * m * m) * std::sqrt(static_cast<double>(n));
    int clear = 0;
    for (int k = 0; k < n; ++k)
        clear += dips[static_cast<std::size_t>(k)] > 0.35 * m ? 1 : 0;
    return clear >= n - 1 ? 2 * t : t;
}

// The same over each half of the lines, as a frame mark may move the phase in mid-stretch.
double dipEvidence(const double* prefix, std::ptrdiff_t size, const double* edges, int count,
                   double width, int sign, float* meanDip = nullptr)
{
    float a = 0, b = 0;
    const double first = dipRun(prefix, size, edges, count / 2, width, sign, &a);
    const double second =
        dipRun(prefix, size, edges + count / 2, count - count / 2, width, sign, &b);
    if (meanDip)
        *meanDip = first >= second ? a : b;
    return std::max(first, second);
}

} // namespace

SyncFound findLineSync(const float* s, std::size_t n, double nominal, Polarity polarity)
{
    SyncFound best;
    if (n < static_cast<std::size_t>(4 * nominal))
        return best;
    const auto [lowest, highest] = std::minmax_element(s, s + n);
    if (*highest - *lowest < 2 * kFloor)
        return best;
    const double lines = static_cast<double>(n) / nominal;
    const double step = nominal / (kBins * lines);
    std::array<float, kBins> sum{}, count{}, p{};
    struct Candidate
    {
        float score = 0;
        double period = 0;
        int bin = 0;
    } dip, peak;
    float bestScore = 0;
    int bestBin = 0;
    for (double period = nominal * (1 - kPullIn); period <= nominal * (1 + kPullIn);
         period += step) {
        sum.fill(0);
        count.fill(0);
        const double inc = kBins / period;
        double phase = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<std::size_t>(phase);
            sum[b] += s[i];
            count[b] += 1;
            phase += inc;
            if (phase >= kBins)
                phase -= kBins;
        }
        for (int b = 0; b < kBins; ++b)
            p[static_cast<std::size_t>(b)] =
                count[static_cast<std::size_t>(b)] > 0
                    ? sum[static_cast<std::size_t>(b)] / count[static_cast<std::size_t>(b)]
                    : 0.0f;
        const auto at = [&p](int b) { return p[static_cast<std::size_t>((b + kBins) % kBins)]; };
        for (int b = 0; b < kBins; ++b) {
            const float inside = (at(b) + at(b + 1) + at(b + 2)) / 3;
            const float left = (at(b - 3) + at(b - 2) + at(b - 1)) / 3;
            const float right = (at(b + 3) + at(b + 4) + at(b + 5)) / 3;
            if (polarity != Polarity::Inverted && std::min(left, right) - inside > dip.score)
                dip = {std::min(left, right) - inside, period, b};
            if (polarity != Polarity::Normal && inside - std::max(left, right) > peak.score)
                peak = {inside - std::max(left, right), period, b};
        }
    }
    // Most signals come upright, and a bright stripe across the picture is a narrow peak on
    // every line too (sync lies some 30 % of the swing below black, a white stripe on black 70 %
    // above it): upside down only when its sync clearly stands out more.
    const bool inverted =
        peak.score > (polarity == Polarity::Auto ? kInvertedMargin : 1.0f) * dip.score;
    const Candidate& chosen = inverted ? peak : dip;
    bestScore = chosen.score;
    best.period = chosen.period;
    best.sign = inverted ? -1 : 1;
    bestBin = chosen.bin;
    if (bestScore <= 0)
        return best;

    // The width from the best fold: the bins around the dip past half its depth.
    sum.fill(0);
    count.fill(0);
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<std::size_t>(phase);
        sum[b] += best.sign * s[i];
        count[b] += 1;
        phase += kBins / best.period;
        if (phase >= kBins)
            phase -= kBins;
    }
    for (std::size_t b = 0; b < kBins; ++b)
        p[b] = count[b] > 0 ? sum[b] / count[b] : 0.0f;
    const auto at = [&p](int b) { return p[static_cast<std::size_t>((b + 2 * kBins) % kBins)]; };
    float bottom = at(bestBin);
    int bottomBin = bestBin;
    for (int b = bestBin; b < bestBin + 3; ++b)
        if (at(b) < bottom)
            bottom = at(b), bottomBin = b;
    const float half = bottom + 0.5f * bestScore;
    int first = bottomBin, last = bottomBin;
    while (first > bottomBin - kBins / 4 && at(first - 1) < half)
        --first;
    while (last < bottomBin + kBins / 4 && at(last + 1) < half)
        ++last;
    best.width = std::clamp((last - first + 1) * best.period / kBins, 0.02 * best.period,
                            0.15 * best.period);
    const double edge0 = std::fmod(first + 2.0 * kBins, kBins) * best.period / kBins;
    // Sync is one narrow dip a line. A tone at a multiple of the line rate dips as regularly,
    // but wide, and more than once a line.
    if (last - first + 1 > kBins / 8)
        return best;
    float other = -1e30f;
    for (int b = last + 3; b < first + kBins - 3; ++b) {
        const float inside = (at(b) + at(b + 1) + at(b + 2)) / 3;
        const float sides = std::min((at(b - 3) + at(b - 2) + at(b - 1)) / 3,
                                     (at(b + 3) + at(b + 4) + at(b + 5)) / 3);
        other = std::max(other, sides - inside);
    }
    if (other > 0.6f * bestScore)
        return best;

    // Line by line: the dip must stand out of the noise on each.
    std::vector<double> prefix(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        prefix[i + 1] = prefix[i] + s[i];
    std::vector<double> edges;
    for (double e = edge0; e < static_cast<double>(n); e += best.period)
        edges.push_back(e);
    best.evidence = dipEvidence(prefix.data(), static_cast<std::ptrdiff_t>(n), edges.data(),
                                static_cast<int>(edges.size()), best.width, best.sign, &best.depth);
    best.found = best.evidence >= kFindEvidence;
    // The last edge with room for a trough after it.
    best.edge = edge0;
    while (best.edge + best.period + 3 * best.width < static_cast<double>(n))
        best.edge += best.period;
    return best;
}

SyncFound findLineLikeness(const float* s, std::size_t n, double nominal)
{
    SyncFound best;
    const auto shortest = static_cast<std::size_t>(std::floor(nominal * (1 - kPullIn)));
    const auto longest = static_cast<std::size_t>(std::ceil(nominal * (1 + kPullIn)));
    if (n < 4 * longest)
        return best;
    double mean = 0;
    for (std::size_t i = 0; i < n; ++i)
        mean += s[i];
    mean /= static_cast<double>(n);
    const auto likeness = [&](std::size_t lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 0; i + lag < n; ++i) {
            const double a = s[i] - mean, b = s[i + lag] - mean;
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        return xy / std::sqrt(xx * yy + 1e-30);
    };
    std::size_t lag = shortest;
    double r = -1;
    for (std::size_t l = shortest; l <= longest; ++l)
        if (const double c = likeness(l); c > r)
            r = c, lag = l;
    // Neighbouring lines alike, but half a line apart no more than any video (a tone is).
    if (r < 0.6 || lag == shortest || lag == longest || std::abs(likeness(lag / 2)) > 0.5)
        return best;
    const double before = likeness(lag - 1), after = likeness(lag + 1);
    const double curve = before - 2 * r + after;
    best.period = static_cast<double>(lag) +
                  (curve < 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0);
    // A line ends where the video jumps from one edge of the picture to the other: on most
    // lines, while an edge in the picture runs through some of them only.
    std::array<float, kBins> jumps{};
    const auto [lowest, highest] = std::minmax_element(s, s + n);
    const float sharp = 0.2f * (*highest - *lowest);
    double phase = 0;
    for (std::size_t i = 1; i < n; ++i) {
        phase += kBins / best.period;
        if (phase >= kBins)
            phase -= kBins;
        jumps[static_cast<std::size_t>(phase)] += std::abs(s[i] - s[i - 1]) > sharp ? 1.0f : 0.0f;
    }
    const auto most = std::max_element(jumps.begin(), jumps.end());
    float total = 0;
    for (const float j : jumps)
        total += j;
    if (*most < 2.5f * total / kBins)
        return best;
    best.edge = (static_cast<double>(most - jumps.begin()) + 0.5) * best.period / kBins;
    while (best.edge + best.period < static_cast<double>(n))
        best.edge += best.period;
    best.edge -= best.period;
    best.evidence = r;
    best.found = true;
    return best;
}

SyncLocker::SyncLocker(double nominalPeriod, double delay, int frameLines)
    : nominal_(nominalPeriod), delay_(delay), frameLines_(std::max(frameLines, 1)),
      period_(nominalPeriod), width_(0.05 * nominalPeriod)
{
    window_.reserve(static_cast<std::size_t>(kSearchLines * nominal_ * (1 + kPullIn)) + 8);
    prefix_.reserve(static_cast<std::size_t>(2 * nominal_) + 64);
}

void SyncLocker::reset()
{
    locked_ = false;
    failed_ = 0;
    lastSearch_ = INT64_MIN / 2;
    period_ = nominal_;
    misses_ = 0;
    edgeCount_ = 0;
    open_ = false;
}

void SyncLocker::setPolarity(Polarity polarity)
{
    if (polarity != polarity_ && polarity != Polarity::Auto &&
        (polarity == Polarity::Inverted) != (sign_ < 0))
        reset();
    polarity_ = polarity;
}

SyncLocker::Probe SyncLocker::probe(const VideoHistory& h, double t, double radius)
{
    Probe best;
    const auto w = static_cast<std::ptrdiff_t>(std::max(1L, std::lround(width_)));
    const auto before = static_cast<std::ptrdiff_t>(std::max(1L, std::lround(0.6 * width_)));
    const auto beyondFrom = static_cast<std::ptrdiff_t>(std::lround(1.3 * width_));
    const auto beyondTo =
        std::max(beyondFrom + 1, static_cast<std::ptrdiff_t>(std::lround(2.4 * width_)));
    const auto k0 = static_cast<std::int64_t>(std::floor(t - radius));
    const auto k1 = static_cast<std::int64_t>(std::ceil(t + radius));
    const std::int64_t from = k0 - before, to = k1 + std::max(w + before, beyondTo) + 1;
    const float* x = h.span(from, to, scratch_);
    const auto size = static_cast<std::size_t>(to - from);
    prefix_.resize(size + 1);
    prefix_[0] = 0;
    for (std::size_t i = 0; i < size; ++i)
        prefix_[i + 1] = prefix_[i] + x[i];
    const double* p = prefix_.data();
    const auto sign = static_cast<float>(sign_);
    std::ptrdiff_t bestK = -1;
    float left = 0, right = 0;
    float previous = -1e30f;
    for (std::int64_t k = k0; k <= k1; ++k) {
        const auto i = static_cast<std::ptrdiff_t>(k - from);
        // A trough as wide as sync, below the video on both sides of it: a fall from bright
        // picture into a black porch is no sync.
        const float inside = sign * mean(p, i, i + w);
        const float strength =
            std::min(sign * mean(p, i - before, i), sign * mean(p, i + w, i + w + before)) - inside;
        if (strength > best.strength) {
            best.strength = strength;
            bestK = i;
            left = previous;
            right = -1e30f;
        } else if (bestK == i - 1) {
            right = strength;
        }
        previous = strength;
    }
    double offset = 0;
    if (left > -1e29f && right > -1e29f) {
        const double curve = left - 2.0 * best.strength + right;
        if (curve < 0)
            offset = std::clamp(0.5 * (left - right) / curve, -0.5, 0.5);
    }
    best.edge = static_cast<double>(from + bestK) - 0.5 + offset;
    const std::ptrdiff_t q = w / 4;
    best.tip = sign * mean(p, bestK + q, bestK + w - q);
    best.beyond = sign * mean(p, bestK + beyondFrom, bestK + beyondTo);
    // The trailing edge: where the video rises back through halfway out of the trough.
    const float half = best.tip + 0.5f * best.strength;
    for (std::ptrdiff_t i = bestK + std::max<std::ptrdiff_t>(1, w / 2);
         i + 1 < static_cast<std::ptrdiff_t>(size) && i < bestK + 2 * w; ++i) {
        const float a = sign * x[i], b = sign * x[i + 1];
        if (a < half && b >= half) {
            best.trailing = static_cast<double>(from + i) + (half - a) / (b - a);
            break;
        }
    }
    return best;
}

bool SyncLocker::search(const VideoHistory& h)
{
    const std::int64_t end = h.end();
    if (end - lastSearch_ < static_cast<std::int64_t>(kSearchEvery * nominal_))
        return false;
    const auto length = static_cast<std::int64_t>(kSearchLines * nominal_);
    if (end < length)
        return false;
    lastSearch_ = end;
    window_.resize(static_cast<std::size_t>(length));
    const float* x = h.span(end - length, end, scratch_);
    std::copy(x, x + length, window_.begin());
    SyncFound f = findLineSync(window_.data(), window_.size(), nominal_, polarity_);
    // No sync pulses (30-line archive recordings have none): the picture's own likeness from
    // line to line gives the line; only after a while, as a signal with sync may fail a search
    // now and then.
    failed_ = f.found ? 0 : failed_ + 1;
    likeness_ = !f.found && failed_ >= 4 && likenessAllowed_;
    if (likeness_)
        f = findLineLikeness(window_.data(), window_.size(), nominal_);
    if (!f.found)
        return false;
    locked_ = everLocked_ = true;
    if (likeness_) {
        jumps_.fill(0);
        period_ = f.period;
        width_ = 0;
        sign_ = 1;
        next_ = static_cast<double>(end - length) + f.edge;
        while (next_ - period_ > static_cast<double>(end) - 3 * period_)
            next_ -= period_;
        open_ = false;
        linesSinceCheck_ = 0;
        weak_ = 0;
        return true;
    }
    period_ = f.period;
    width_ = f.width;
    sign_ = f.sign;
    depth_ = syncDepth_ = f.depth;
    next_ = static_cast<double>(end - length) + f.edge;
    // Back a few lines, so that the lines just searched are shown too.
    while (next_ - period_ > static_cast<double>(end) - 3 * period_)
        next_ -= period_;
    misses_ = 0;
    settling_ = 8;
    weak_ = 0;
    edgeCount_ = 0;
    linesSinceCheck_ = 0;
    open_ = false;
    tip_ = 1e30f; // until the first pulse measures it
    tipJitter_ = 0;
    return true;
}

void SyncLocker::process(const VideoHistory& h, std::vector<PictureLine>& out)
{
    for (;;) {
        if (!locked_) {
            if (!search(h))
                return;
            continue;
        }
        if (likeness_) {
            if (static_cast<double>(h.end()) < next_ + period_ + 2)
                return;
            follow(h, out);
            continue;
        }
        if (static_cast<double>(h.end()) < next_ + 1.65 * period_ + 4 * width_ + 4)
            return;
        track(h, out);
    }
}

void SyncLocker::follow(const VideoHistory& h, std::vector<PictureLine>& out)
{
    // Where in the line the video jumps, counted line by line: where a line ends it jumps from
    // one edge of the picture to the other on most lines, while an edge in the picture runs
    // through some of them only.
    const auto from = static_cast<std::int64_t>(std::ceil(next_));
    const auto to = static_cast<std::int64_t>(std::floor(next_ + period_));
    const float* x = h.span(from - 1, to, scratch_);
    const auto [lowest, highest] = std::minmax_element(x, x + (to - from + 1));
    const float sharp = 0.2f * (*highest - *lowest);
    for (std::int64_t i = from; i < to; ++i) {
        const auto bin = static_cast<std::size_t>(
            std::clamp((static_cast<double>(i) - 0.5 - next_) / period_ * kBins, 0.0, kBins - 1.0));
        jumps_[bin] += std::abs(x[i - from + 1] - x[i - from]) > sharp ? 1.0f : 0.0f;
    }
    emitLine(next_, true, false, false, 0.0f, out);
    moved_ = false;
    next_ += period_;
    // Once a frame (so that a still picture weighs the same each time): the line ends move
    // the phase and, spread over the frame, the period.
    if (++linesSinceCheck_ < frameLines_)
        return;
    linesSinceCheck_ = 0;
    const auto most = std::max_element(jumps_.begin(), jumps_.end());
    const double off = std::remainder(
        (static_cast<double>(most - jumps_.begin()) + 0.5) * period_ / kBins, period_);
    jumps_.fill(0);
    next_ += off;
    // A far move tears the frame it falls in: that one is not shown.
    moved_ = std::abs(off) > 2 * period_ / kBins;
    period_ = std::clamp(period_ + 0.3 * off / frameLines_, nominal_ * (1 - kPullIn),
                         nominal_ * (1 + kPullIn));
    // The picture's likeness must hold, and sync, when it comes, is the better guide.
    const auto length = static_cast<std::int64_t>(kSearchLines * nominal_);
    const std::int64_t end = h.end();
    const float* y = h.span(end - length, end, scratch_);
    window_.assign(y, y + length);
    const SyncFound f = findLineLikeness(window_.data(), window_.size(), nominal_);
    weak_ = f.found ? 0 : weak_ + 1;
    if (weak_ >= 2 || findLineSync(window_.data(), window_.size(), nominal_, polarity_).found)
        lose(out);
}

void SyncLocker::lose(std::vector<PictureLine>& out)
{
    locked_ = false;
    open_ = false;
    since_ = static_cast<std::int64_t>(next_);
    lastSearch_ = INT64_MIN / 2;
    PictureLine gone;
    gone.lost = true;
    out.push_back(gone);
}

double SyncLocker::evidence(const VideoHistory& h)
{
    std::array<double, 24> edges{};
    const int n = edgeCount_;
    double lo = 1e300;
    for (int k = 0; k < n; ++k)
        lo = std::min(lo, edges_[static_cast<std::size_t>(k)]);
    const auto from = static_cast<std::int64_t>(std::floor(lo - 2 * width_ - 2));
    const auto to = static_cast<std::int64_t>(std::ceil(lo + (n + 1) * period_ + 4 * width_));
    const float* x = h.span(from, std::min(to, h.end()), scratch_);
    const auto size = static_cast<std::size_t>(std::min(to, h.end()) - from);
    prefix_.resize(size + 1);
    prefix_[0] = 0;
    for (std::size_t i = 0; i < size; ++i)
        prefix_[i + 1] = prefix_[i] + x[i];
    for (int k = 0; k < n; ++k)
        edges[static_cast<std::size_t>(k)] =
            edges_[static_cast<std::size_t>(k)] - static_cast<double>(from);
    return dipEvidence(prefix_.data(), static_cast<std::ptrdiff_t>(size), edges.data(), n, width_,
                       sign_);
}

void SyncLocker::track(const VideoHistory& h, std::vector<PictureLine>& out)
{
    const double t = next_;
    const double radius = settling_ > 0 ? std::max(2.0, 0.8 * width_)
                                        : std::max(1.5, (misses_ > 0 ? 0.6 : 0.35) * width_);
    const Probe p = probe(h, t, radius);
    const float threshold = 0.45f * std::min(depth_, 1.5f * syncDepth_);
    // Sync reaches down to the tip; a missing pulse left at black between bright lines does not.
    // (Beyond how far the tips move from line to line anyway: hum, AC coupling, noise. A
    // pulse at black let through this way still shows as a frame mark by its raised tip.)
    if (p.strength >= threshold && p.tip < tip_ + 0.6f * syncDepth_ + 1.5f * tipJitter_) {
        const double error = p.edge - t;
        const double phaseGain = settling_ > 0 ? 0.5 : 0.25;
        const double periodGain = settling_ > 0 ? 0.05 : 0.015;
        const double time = t + phaseGain * error;
        period_ = std::clamp(period_ + periodGain * error, nominal_ * (1 - 1.5 * kPullIn),
                             nominal_ * (1 + 1.5 * kPullIn));
        depth_ += 0.15f * (p.strength - depth_);
        // The least depth over recent lines: sync below black, without bright video before it.
        syncDepth_ += (p.strength < syncDepth_ ? 0.3f : 0.03f) * (p.strength - syncDepth_);
        if (tip_ < 1e29f)
            tipJitter_ += 0.1f * (std::abs(p.tip - tip_) - tipJitter_);
        tip_ = p.tip;
        misses_ = 0;
        // Where the picture begins matters to an element: the width is measured as it goes.
        const double width = p.trailing - p.edge;
        if (p.trailing > 0 && width > 0.5 * width_ && width < 1.5 * width_)
            width_ += (settling_ > 0 ? 0.3 : 0.05) * (width - width_);
        settling_ = std::max(settling_ - 1, 0);
        next_ = time + period_;
        emitLine(time, true, p.beyond < p.tip + 0.45f * syncDepth_, false, p.tip, out);
    } else {
        // Elsewhere in the line, a trough reaching the tip: a new phase if the next line's
        // pulse keeps to it and not to the old one.
        const Probe other = probe(h, t + 0.075 * period_, 0.525 * period_);
        if (other.strength >= 0.7f * syncDepth_ && other.tip < tip_ + 0.5f * syncDepth_ &&
            std::abs(other.edge - t) > radius) {
            const Probe stay = probe(h, t + period_, radius);
            const Probe move = probe(h, other.edge + period_, radius);
            if (move.strength >= threshold && stay.strength < threshold) {
                tip_ = other.tip;
                misses_ = 0;
                next_ = other.edge + period_;
                emitLine(other.edge, true, other.beyond < other.tip + 0.45f * syncDepth_, true,
                         other.tip, out);
                return;
            }
        }
        depth_ *= 0.95f;
        if (++misses_ > kMaxMisses) {
            lose(out);
            return;
        }
        next_ = t + period_;
        emitLine(t, false, false, false, tip_, out);
    }
    // The dip over the last lines must still stand out of the noise.
    if (++linesSinceCheck_ >= 16 && edgeCount_ == static_cast<int>(edges_.size())) {
        linesSinceCheck_ = 0;
        weak_ = evidence(h) < kKeepEvidence ? weak_ + 1 : 0;
        if (weak_ >= 2)
            lose(out);
    }
}

void SyncLocker::emitLine(double time, bool real, bool wide, bool rephased, float tip,
                          std::vector<PictureLine>& out)
{
    edges_[static_cast<std::size_t>(edgeAt_)] = time;
    edgeAt_ = (edgeAt_ + 1) % static_cast<int>(edges_.size());
    edgeCount_ = std::min(edgeCount_ + 1, static_cast<int>(edges_.size()));
    // Lines coasted over before a new phase lie in a stretch at black, not in the picture: the
    // line after such a stretch is a frame's first.
    const bool gap = rephased && open_ && !openReal_;
    if (open_ && !gap) {
        PictureLine line;
        line.start = openTime_ - delay_;
        line.end = time - delay_;
        line.period = period_;
        line.syncWidth = width_;
        line.tipStart = openTip_;
        line.tipEnd = tip;
        line.syncDepth = syncDepth_;
        line.coasted = !openReal_;
        // A wide pulse, or a single missing one between two that came.
        line.marked = openWide_ || openMarked_ || (!openReal_ && beforeReal_ && real);
        line.jumped = rephased || moved_;
        line.stretched = rephased && line.end - line.start > 1.03 * period_;
        out.push_back(line);
    }
    beforeReal_ = openReal_;
    openMarked_ = gap;
    open_ = true;
    openTime_ = time;
    openReal_ = real;
    openWide_ = wide;
    openTip_ = tip;
}

} // namespace corvane
