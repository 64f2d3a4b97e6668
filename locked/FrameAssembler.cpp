#include "FrameAssembler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace corvane {

namespace {

// Per frame, marks scored at a slot fade to this share. A slot is a frame's start once marks
// came there at least a frame apart (1 + 0.7) and clearly more than anywhere else: noise fakes
// marks at random slots, now and then twice at one. A frame start is lost when its score has
// faded over about five frames without a mark.
constexpr float kMarkFade = 0.7f;
constexpr float kConfirm = 1.6f;
constexpr float kMargin = 1.0f;
constexpr float kLost = 0.4f;
// Where marks come at many lines, noise makes them: a frame start must hold this share of all
// the marks' score to be taken, and keep this share to stay.
constexpr float kShare = 0.4f;
constexpr float kKeepShare = 0.25f;
constexpr std::uint8_t kCoasted = 1, kJumped = 2;
constexpr int kMaxCoasted = 3;
// How far the automatic levels move towards a new frame's.
constexpr float kLevelFollow = 0.3f;

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
    marks_.assign(static_cast<std::size_t>(lines_), 0.0f);
    troubles_.assign(static_cast<std::size_t>(lines_), 0);
}

void FrameAssembler::reset()
{
    std::fill(marks_.begin(), marks_.end(), 0.0f);
    std::fill(troubles_.begin(), troubles_.end(), 0);
    lineCount_ = 0;
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

float FrameAssembler::total() const
{
    float sum = 0;
    for (const float m : marks_)
        sum += m;
    return sum;
}

bool FrameAssembler::add(const PictureLine& line, const VideoHistory& video, double syncWidth)
{
    // Lines go to slots by their count since lock, one frame's worth round; marks are scored
    // per slot and fade by frame, so the slot where they recur a frame apart stands out from
    // marks that noise fakes now and then.
    const auto slot = static_cast<int>(lineCount_ % lines_);
    if (slot == 0)
        for (float& m : marks_)
            m *= kMarkFade;
    bool complete = false;
    if (line.marked) {
        float& mark = marks_[static_cast<std::size_t>(slot)];
        mark += 1;
        float other = 0;
        for (int k = 0; k < lines_; ++k)
            if (k != slot)
                other = std::max(other, marks_[static_cast<std::size_t>(k)]);
        if (slot != phase_ && mark >= kConfirm && mark >= other + kMargin &&
            mark >= kShare * total()) {
            // Confirmed here: the frame before, if all of it came since lock, is complete. (When
            // the start moves, a new transmission, the frame before is a mix of two.)
            complete = phase_ < 0 && lineCount_ >= lines_;
            phase_ = slot;
        }
    }
    if (phase_ >= 0 && (marks_[static_cast<std::size_t>(phase_)] < kLost ||
                        marks_[static_cast<std::size_t>(phase_)] < kKeepShare * total()))
        phase_ = -1;
    if (complete)
        complete = render();
    // What went wrong with this line's sync: the frame it ends up in is judged by it.
    troubles_[static_cast<std::size_t>(slot)] =
        (line.coasted ? kCoasted : 0) | (line.jumped && slot != phase_ ? kJumped : 0);
    store(line, video, syncWidth, slot);
    ++lineCount_;
    if (!complete && phase_ >= 0 && (slot + 1) % lines_ == phase_ && lineCount_ >= lines_)
        complete = render();
    return complete;
}

void FrameAssembler::store(const PictureLine& line, const VideoHistory& video, double syncWidth,
                           int row)
{
    float* out =
        values_.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(elements_);
    const double length = line.end - line.start;
    const double begin = line.start + std::clamp(syncWidth, 0.0, 0.5 * length);
    const double step = (line.end - begin) / elements_;
    if (!(step > 0)) {
        std::fill(out, out + elements_, 0.0f);
        return;
    }
    // Sample i stands for [i - 0.5, i + 0.5); shifted by half a sample, sample i covers
    // [i, i + 1) and boundaries fall between whole numbers.
    const auto firstSample = static_cast<std::int64_t>(std::floor(begin + 0.5));
    const auto lastSample = static_cast<std::int64_t>(std::floor(line.end + 0.5)) + 1;
    const float* samples = video.span(firstSample, lastSample, line_);
    // Running integral of the samples: an element is the difference of two points on it.
    const auto count = static_cast<std::size_t>(lastSample - firstSample);
    integral_.resize(count + 1);
    double total = 0;
    integral_[0] = 0;
    for (std::size_t k = 0; k < count; ++k) {
        total += samples[k];
        integral_[k + 1] = total;
    }
    const auto integralAt = [&](double t) {
        const double clamped = std::clamp(t, 0.0, static_cast<double>(count) - 1e-9);
        const auto k = static_cast<std::size_t>(clamped);
        return integral_[k] + (clamped - static_cast<double>(k)) * samples[k];
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
    if (coasted > kMaxCoasted + lines_ / 8)
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
