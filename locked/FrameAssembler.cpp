#include "FrameAssembler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace corvane {

namespace {

constexpr std::uint8_t kCoasted = 1, kJumped = 2;
constexpr int kMaxCoasted = 6;
constexpr double kEdgeMargin = 0.5;
constexpr int kMaxUnmarked = 4;
// How far the automatic levels move towards a new frame's.
constexpr float kLevelFollow = 0.5f;

// Several percentiles of values at once, from a fine histogram: one pass, no sorting.
template <std::size_t N>
std::array<float, N> percentiles(const float* values, std::size_t count,
                                 const std::array<double, N>& shares)
{
    std::array<float, N> result{};
    if (count == 0)
        return result;
    const auto [lowest, highest] = std::minmax_element(values, values + count);
    const float lo = *lowest, span = *highest - *lowest;
    constexpr int kBins = 256;
    std::array<std::uint32_t, kBins> histogram{};
    const float scale = span > 0 ? (kBins - 1) / span : 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        ++histogram[static_cast<std::size_t>((values[i] - lo) * scale)];
    for (std::size_t k = 0; k < N; ++k) {
        const auto wanted = static_cast<std::uint64_t>(shares[k] * static_cast<double>(count - 1));
        std::uint64_t seen = 0;
        int bin = 0;
        for (; bin < kBins - 1; ++bin) {
            seen += histogram[static_cast<std::size_t>(bin)];
            if (seen > wanted)
                break;
        }
        result[k] = lo + (scale > 0 ? (bin + 0.5f) / scale : 0.0f);
    }
    return result;
}

} // namespace

FrameAssembler::FrameAssembler(const LockedSettings& settings)
    : settings_(settings), lines_(std::max(settings.standard.lines, 1)),
      elements_(settings.standard.elementsPerLine()),
      values_(static_cast<std::size_t>(lines_) * static_cast<std::size_t>(elements_), 0.0f)
{
    scratch_.reserve(values_.size());
    endAligned_.resize(static_cast<std::size_t>(elements_));
    current_.resize(static_cast<std::size_t>(elements_));
    whole_.resize(static_cast<std::size_t>(elements_));
    sums_.resize(static_cast<std::size_t>(elements_));
    squares_.resize(static_cast<std::size_t>(elements_));
    reset();
}

void FrameAssembler::reset()
{
    markedAt_.assign(static_cast<std::size_t>(lines_), -1000);
    markedBefore_.assign(static_cast<std::size_t>(lines_), -1000);
    streak_.assign(static_cast<std::size_t>(lines_), 0);
    unlike_.assign(static_cast<std::size_t>(lines_), 0.0f);
    troubles_.assign(static_cast<std::size_t>(lines_), 0);
    lineCount_ = 0;
    unmarkedRun_ = 0;
    strayMark_ = false;
    previousTip_ = 0;
    tipScatter_ = 1e30f;
    videoPeak_ = 0;
    std::fill(sums_.begin(), sums_.end(), 0.0f);
    std::fill(squares_.begin(), squares_.end(), 0.0f);
    summed_ = 0;
    lastRealMark_ = -1;
    stretchedSlot_ = -1;
    phase_ = -1;
    levelsKnown_ = false;
}

void FrameAssembler::setLevels(const LockedSettings& settings)
{
    settings_.negative = settings.negative;
    settings_.autoLevels = settings.autoLevels;
    settings_.manualBlack = settings.manualBlack;
    settings_.manualWhite = settings.manualWhite;
}

float FrameAssembler::unlike(const float* x, const float* b) const
{
    float sum = 0;
    for (int j = 0; j < elements_; ++j)
        sum += std::abs(x[j] - b[j]);
    return sum / static_cast<float>(elements_);
}

float FrameAssembler::roughness(const VideoHistory& video, double from, double to)
{
    const auto a = static_cast<std::int64_t>(std::ceil(from)), b = static_cast<std::int64_t>(to);
    if (b - a < 3)
        return 0;
    const float* x = video.span(a, b, line_);
    float sum = 0;
    for (std::int64_t i = 1; i < b - a; ++i)
        sum += std::abs(x[i] - x[i - 1]);
    return sum / static_cast<float>(b - a);
}

void FrameAssembler::mark(int slot)
{
    // The line this mark falls on was counted as lineCount_ - (how far back the slot lies).
    const auto back =
        static_cast<std::int64_t>((static_cast<int>(lineCount_ % lines_) - slot + lines_) % lines_);
    const std::int64_t at = lineCount_ - back;
    strayMark_ = strayMark_ || slot != phase_;
    auto& when = markedAt_[static_cast<std::size_t>(slot)];
    if (when == at)
        return;
    int& streak = streak_[static_cast<std::size_t>(slot)];
    markedBefore_[static_cast<std::size_t>(slot)] = when;
    streak = when == at - lines_ ? streak + 1 : 1;
    when = at;
    if (slot == phase_)
        return;
    // A start is taken where marks came three frames running; it moves only once the old one
    // went unmarked twice and the new one came three times (noise fakes a mark now and then).
    if (phase_ < 0 ? streak >= 3
                   : streak >= 3 && markedAt_[static_cast<std::size_t>(phase_)] < at - 2 * lines_)
        phase_ = slot;
}

bool FrameAssembler::add(const PictureLine& given, const VideoHistory& video, int sign)
{
    const auto slot = static_cast<int>(lineCount_ % lines_);
    const int before = (slot + lines_ - 1) % lines_;
    // A pulse left at black between bright lines still looks like a trough, but its bottom
    // stands above the tips either side of it (which AC coupling moves only smoothly).
    PictureLine line = given;
    const float excess = line.tipStart - 0.5f * (previousTip_ + line.tipEnd);
    // (As high as black is above the tip: hum in step with the frames raises tips at the same
    // lines every frame too, but by far less.)
    const bool raised = lineCount_ > 1 && excess > 5 * tipScatter_ && excess > 0.05f * videoPeak_ &&
                        excess > 0.5f * line.syncDepth;
    if (raised) {
        line.marked = true;
        line.tipStart -= excess;
        // The line before ended on the raised bottom too: its tip went up towards it (unless
        // it saw that itself and kept its own tip).
        float* previous = row(before); // not yet rendered: the frame completes on this line
        if (!endKeptLevel_)
            for (int j = 0; j < elements_; ++j)
                previous[j] +=
                    excess * (static_cast<float>(j) + 0.5f) / static_cast<float>(elements_);
    } else if (lineCount_ > 0) {
        // The line before a raised one dips by half as much: kept out of the scatter.
        const float size = std::min(std::abs(excess), 3 * tipScatter_);
        tipScatter_ =
            tipScatter_ > 1e29f ? std::abs(excess) : tipScatter_ + 0.05f * (size - tipScatter_);
    }
    const float measured = line.tipStart;
    // A line that ends on a raised bottom (the black left where the next pulse is missing)
    // keeps its own tip to the end: the raised one would darken it, and through the smoothing
    // below the line before it too.
    endKeptLevel_ = lineCount_ > 1 && line.tipEnd - line.tipStart > 5 * tipScatter_ &&
                    line.tipEnd - line.tipStart > 0.05f * videoPeak_ &&
                    line.tipEnd - line.tipStart > 0.5f * line.syncDepth;
    if (endKeptLevel_)
        line.tipEnd = line.tipStart;
    if (!raised && lineCount_ > 1) {
        // Each tip is a few samples' mean, noisy on a weak signal, and a wrong tip stripes a
        // whole line; AC coupling moves the tips only smoothly, so neighbours share theirs.
        const float smoothed = 0.25f * (previousTip_ + 2 * line.tipStart + line.tipEnd);
        const float shift = line.tipStart - smoothed;
        float* previous = row(before);
        for (int j = 0; j < elements_; ++j)
            previous[j] += shift * (static_cast<float>(j) + 0.5f) / static_cast<float>(elements_);
        line.tipStart = smoothed;
    }
    previousTip_ = measured;
    // Half a sample in from either sync edge: a sample across an edge is part sync.
    const double begin =
        line.start + std::clamp(line.syncWidth, 0.0, 0.3 * line.period) + kEdgeMargin;
    const double plain = std::min(line.end, line.start + line.period) - kEdgeMargin;
    float* current = current_.data();
    const double span = plain - begin;
    const bool porches = porchBefore_ > 0 || porchAfter_ > 0;
    // The whole line between the syncs, for finding the porches (every other line is plenty).
    // (Not a line whose end tip is raised, a missing pulse after it, found only on the next.)
    const bool sample = !line.coasted && !line.stretched && !line.marked &&
                        lineCount_ % 2 == (lineCount_ / lines_) % 2 &&
                        std::abs(line.tipEnd - line.tipStart) < 4 * tipScatter_;
    if (sample) {
        store(line, video, sign, begin, plain, whole_.data());
        for (std::size_t j = 0; j < whole_.size(); ++j) {
            sums_[j] += whole_[j];
            squares_[j] += whole_[j] * whole_[j];
        }
        ++summed_;
    }
    if (sample && !porches)
        std::copy(whole_.begin(), whole_.end(), current);
    else
        store(line, video, sign, begin + porchBefore_ * span, plain - porchAfter_ * span, current);
    videoPeak_ = std::max(*std::max_element(current, current + elements_), 0.99f * videoPeak_);
    if (line.stretched) {
        store(line, video, sign, line.end - (plain - begin), line.end, endAligned_.data());
        // The stretch is flat black; the picture beside it rarely is.
        const double stretch = line.end - plain;
        const float early = roughness(video, begin + 0.5 * line.syncWidth, begin + stretch);
        const float late = roughness(video, line.end - stretch, line.end - 0.5 * line.syncWidth);
        stretchHint_ = late < 0.5f * early ? 1 : early < 0.5f * late ? -1 : 0;
    }

    const float change = unlike(row(before), current);
    float& u = unlike_[static_cast<std::size_t>(slot)];
    u += 0.3f * (change - u);
    if (stretchedSlot_ == before) {
        // Which way the stretched line before this one reads on more smoothly: its picture at
        // its start continues the line before it, or its picture at its end leads into this.
        const int prior = (before + lines_ - 1) % lines_;
        const float startSide = unlike(row(prior), row(before));
        const float endSide = unlike(current, endAligned_.data());
        // The picture's continuity when it is clear; else the flat side; else continuity.
        const bool clear = std::max(startSide, endSide) > 2 * std::min(startSide, endSide);
        const float vote = !clear && stretchHint_ != 0 ? static_cast<float>(stretchHint_)
                                                       : (endSide > startSide ? 1.0f : -1.0f);
        stretchVote_ = std::clamp(stretchVote_ + vote, -4.0f, 4.0f);
        if (stretchVote_ >= 0) {
            mark(slot);
        } else {
            std::copy(endAligned_.begin(), endAligned_.end(), row(before));
            mark(before);
        }
        lastRealMark_ = lineCount_;
    }
    stretchedSlot_ = line.stretched ? slot : -1;
    if (line.marked) {
        mark(slot);
        lastRealMark_ = lineCount_;
    }
    // No marks in the sync train: the picture's edges meet where lines are least alike. (Marks
    // that stop for a while, in a fade or in noise, are still awaited where they were.)
    const bool unmarked = lastRealMark_ < 0 || lastRealMark_ < lineCount_ - 16 * lines_;
    if (unmarked && lineCount_ >= 2 * lines_) {
        const auto most = std::max_element(unlike_.begin(), unlike_.end());
        if (most - unlike_.begin() == slot) {
            float next = 0;
            for (int k = 0; k < lines_; ++k)
                if (k != slot)
                    next = std::max(next, unlike_[static_cast<std::size_t>(k)]);
            if (*most > 1.2f * next)
                mark(slot);
        }
    }
    // The frame before this line is complete now that this line has set right what it could
    // of the line before (a raised tip, a stretch read the other way).
    if (slot == 0 && summed_ >= lines_)
        measurePorches();
    bool complete = false;
    if (phase_ >= 0 && slot == phase_ && lineCount_ >= lines_) {
        const bool marked = markedAt_[static_cast<std::size_t>(phase_)] == lineCount_ - lines_ ||
                            markedBefore_[static_cast<std::size_t>(phase_)] == lineCount_ - lines_;
        // A frame whose mark did not come is shown only while no mark came anywhere else
        // either (a fade, noise), and not for long: a mark elsewhere means a cut moved the frame.
        unmarkedRun_ = marked ? 0 : unmarkedRun_ + 1;
        complete = (marked || (!strayMark_ && unmarkedRun_ <= kMaxUnmarked)) && render();
        strayMark_ = false;
    }
    std::copy(current_.begin(), current_.end(), row(slot));
    troubles_[static_cast<std::size_t>(slot)] =
        (line.coasted ? kCoasted : 0) |
        (line.jumped && !(line.stretched && (slot == phase_ || (slot + 1) % lines_ == phase_))
             ? kJumped
             : 0);
    ++lineCount_;
    return complete;
}

void FrameAssembler::store(const PictureLine& line, const VideoHistory& video, int sign,
                           double begin, double end, float* out)
{
    const double length = line.end - line.start;
    const double step = (end - begin) / elements_;
    if (!(step > 0) || !(length > 0)) {
        std::fill(out, out + elements_, 0.0f);
        return;
    }
    // Sample i stands for [i - 0.5, i + 0.5); shifted by half a sample, sample i covers
    // [i, i + 1) and boundaries fall between whole numbers.
    const auto firstSample = static_cast<std::int64_t>(std::floor(begin + 0.5));
    const auto lastSample = static_cast<std::int64_t>(std::floor(end + 0.5)) + 1;
    const float* samples = video.span(firstSample, lastSample, line_);
    // Running integral of the samples: an element is the difference of two points on it.
    const auto count = static_cast<std::size_t>(lastSample - firstSample);
    integral_.resize(count + 1);
    double total = 0;
    integral_[0] = 0;
    for (std::size_t k = 0; k < count; ++k) {
        total += sign * samples[k];
        integral_[k + 1] = total;
    }
    const auto integralAt = [&](double t) {
        const double clamped = std::clamp(t, 0.0, static_cast<double>(count) - 1e-9);
        const auto k = static_cast<std::size_t>(clamped);
        return integral_[k] + (clamped - static_cast<double>(k)) * sign * samples[k];
    };
    const double origin = begin + 0.5 - static_cast<double>(firstSample);
    const double tipSlope = (line.tipEnd - line.tipStart) / length;
    double left = integralAt(origin);
    for (int j = 0; j < elements_; ++j) {
        const double right = integralAt(origin + (j + 1) * step);
        const double centre = begin + (j + 0.5) * step;
        const double tip = line.tipStart + tipSlope * (centre - line.start);
        out[j] = static_cast<float>((right - left) / step - tip);
        left = right;
    }
}

void FrameAssembler::measurePorches()
{
    // Blanking is the same on every line and at the lowest level the video has: from each
    // end of the line, the elements that stay there line after line are porch, not picture.
    if (summed_ < lines_ / 2)
        return;
    const auto n = static_cast<float>(summed_);
    std::vector<float>& mean = whole_;
    float lo = 1e30f, hi = -1e30f;
    for (std::size_t j = 0; j < mean.size(); ++j) {
        mean[j] = sums_[j] / n;
        lo = std::min(lo, mean[j]);
        hi = std::max(hi, mean[j]);
    }
    const float limit = 0.03f * (hi - lo);
    const auto blank = [&](std::size_t j) {
        const float spread = std::sqrt(std::max(squares_[j] / n - mean[j] * mean[j], 0.0f));
        return spread < limit && mean[j] < lo + 2 * limit;
    };
    // Porches are short; a longer flat stretch is the picture's own dark margin.
    const std::size_t most = mean.size() * 8 / 100 + 1;
    std::size_t before = 0, after = 0;
    while (before <= most && blank(before))
        ++before;
    while (after <= most && blank(mean.size() - 1 - after))
        ++after;
    // Blanking goes round the active line: a flat stretch at one end only is picture.
    if (before > most || after > most || before == 0 || after == 0)
        before = after = 0;
    // The element where the picture begins is part porch: by how far its mean lies from the
    // next one's towards black.
    const auto share = [&](std::size_t k, std::size_t edge, std::size_t next) {
        const float rise = mean[next] - lo;
        const double part =
            rise > limit ? std::clamp(1.0 - (mean[edge] - lo) / rise, 0.0, 1.0) : 0.0;
        return (static_cast<double>(k) + (k > 0 ? part : 0.0)) / static_cast<double>(mean.size());
    };
    const std::size_t last = mean.size() - 1;
    porchBefore_ = share(before, before, before + 1);
    porchAfter_ = share(after, last - after, last - after - 1);
    std::fill(sums_.begin(), sums_.end(), 0.0f);
    std::fill(squares_.begin(), squares_.end(), 0.0f);
    summed_ = 0;
}

bool FrameAssembler::render()
{
    // A frame whose line clock jumped in mid-frame, or coasted over more than a frame mark's
    // and a few noise-hidden pulses, is a frame of misplaced lines: better none than that.
    // (The flywheel places a few coasted lines well; it cannot place many.)
    int coasted = 0;
    for (const std::uint8_t t : troubles_) {
        if (t & kJumped)
            return false;
        coasted += (t & kCoasted) ? 1 : 0;
    }
    if (coasted > kMaxCoasted + lines_ / 32)
        return false;

    // Black from just after sync (the first element of each line) unless the picture goes
    // darker; white from a high percentile, so single bright specks do not dim the picture.
    scratch_.clear();
    for (int k = 0; k < lines_; ++k)
        scratch_.push_back(
            values_[static_cast<std::size_t>(k) * static_cast<std::size_t>(elements_)]);
    const int phase = std::max(phase_, 0);
    const float firstElements = percentiles<1>(scratch_.data(), scratch_.size(), {0.1})[0];
    const auto [darkest, bright] = percentiles<2>(values_.data(), values_.size(), {0.01, 0.99});
    const float top = *std::max_element(values_.begin(), values_.end());
    const float black = std::min(firstElements, darkest);
    if (!levelsKnown_) {
        black_ = black;
        white_ = bright;
        peak_ = top;
        levelsKnown_ = true;
    } else {
        black_ += kLevelFollow * (black - black_);
        white_ += kLevelFollow * (bright - white_);
        peak_ += kLevelFollow * (top - peak_);
    }
    float lo = black_, hi = white_;
    if (!settings_.autoLevels) {
        lo = static_cast<float>(settings_.manualBlack) * peak_;
        hi = static_cast<float>(settings_.manualWhite) * peak_;
    }
    if (hi - lo < 1e-6f)
        hi = lo + 1e-6f;
    const float gain = 255.0f / (hi - lo);
    // Halfway from the sync tip (0) to the lowest video.
    const float syncLevel = 0.5f * std::max(lo, 0.0f);

    const int width = lines_;
    const int height = elements_;
    QImage image(width, height, QImage::Format_Grayscale8);
    uchar* bits = image.bits();
    const auto stride = static_cast<std::size_t>(image.bytesPerLine());
    for (int k = 0; k < lines_; ++k) {
        const float* in = values_.data() + static_cast<std::size_t>((phase + k) % lines_) *
                                               static_cast<std::size_t>(elements_);
        for (int j = 0; j < elements_; ++j) {
            // Below black (sync, and the dip a sync edge leaves) is black, never bright. In a
            // negative picture the lowest video is white, and sync further down still black.
            float g = std::clamp((in[j] - lo) * gain, 0.0f, 255.0f);
            if (settings_.negative)
                g = in[j] < syncLevel ? 0.0f : 255.0f - g;
            const auto value = static_cast<uchar>(g + 0.5f);
            bits[static_cast<std::size_t>(elements_ - 1 - j) * stride +
                 static_cast<std::size_t>(lines_ - 1 - k)] = value;
        }
    }
    frame_ = image;
    return true;
}

} // namespace corvane
