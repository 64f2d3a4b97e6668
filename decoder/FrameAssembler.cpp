#include "FrameAssembler.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr int kMaxMissedMarks = 3;
// How far the automatic levels move towards a new frame's.
constexpr float kLevelFollow = 0.3f;

float percentile(std::vector<float>& v, double share)
{
    if (v.empty())
        return 0;
    const auto k = static_cast<std::size_t>(std::clamp(share * static_cast<double>(v.size() - 1),
                                                       0.0, static_cast<double>(v.size() - 1)));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

} // namespace

FrameAssembler::FrameAssembler(const LockedSettings& settings)
    : settings_(settings), lines_(std::max(settings.standard.lines, 1)),
      elements_(settings.standard.elementsPerLine()),
      values_(static_cast<std::size_t>(lines_) * static_cast<std::size_t>(elements_), 0.0f)
{
    scratch_.reserve(values_.size());
}

void FrameAssembler::reset()
{
    confirmed_ = false;
    sinceMark_ = -1;
    row_ = -1;
    missedMarks_ = 0;
    levelsKnown_ = false;
}

void FrameAssembler::setLevels(const LockedSettings& settings)
{
    settings_.negative = settings.negative;
    settings_.autoLevels = settings.autoLevels;
    settings_.manualBlack = settings.manualBlack;
    settings_.manualWhite = settings.manualWhite;
}

bool FrameAssembler::add(const PictureLine& line, const VideoHistory& video, double syncWidth)
{
    if (sinceMark_ >= 0)
        sinceMark_ = std::min(sinceMark_ + 1, 1 << 20);
    bool recurs = false;
    if (line.marked) {
        recurs = sinceMark_ == lines_;
        sinceMark_ = 0;
    }

    bool complete = false;
    if (confirmed_) {
        if (row_ == lines_) {
            complete = true;
            row_ = 0;
            missedMarks_ = line.marked ? 0 : missedMarks_ + 1;
            if (missedMarks_ > kMaxMissedMarks) {
                confirmed_ = false;
                complete = false;
                row_ = -1;
            }
        } else if (recurs) {
            // The marks moved (a new transmission): follow them from this line.
            row_ = 0;
        }
    } else if (line.marked) {
        if (recurs && row_ == lines_) {
            confirmed_ = true;
            complete = true;
        }
        row_ = 0;
    }

    if (complete)
        render();
    if (row_ >= 0 && row_ < lines_)
        store(line, video, syncWidth, row_++);
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
    double pos = begin + 0.5;
    auto i = static_cast<std::int64_t>(std::floor(pos));
    const double tipSlope = (line.tipEnd - line.tipStart) / length;
    for (int j = 0; j < elements_; ++j) {
        const double stop = pos + step;
        double sum = 0;
        for (;;) {
            const auto next = static_cast<double>(i + 1);
            if (next >= stop) {
                sum += video.at(i) * (stop - pos);
                pos = stop;
                if (next == stop)
                    ++i;
                break;
            }
            sum += video.at(i) * (next - pos);
            pos = next;
            ++i;
        }
        const double centre = begin + (j + 0.5) * step;
        const double tip = line.tipStart + tipSlope * (centre - line.start);
        out[j] = static_cast<float>(sum / step - tip);
    }
}

void FrameAssembler::render()
{
    // Black from just after sync (the first element of each line) unless the picture goes
    // darker; white from a high percentile, so single bright specks do not dim the picture.
    scratch_.clear();
    for (int k = 0; k < lines_; ++k)
        scratch_.push_back(
            values_[static_cast<std::size_t>(k) * static_cast<std::size_t>(elements_)]);
    const float firstElements = percentile(scratch_, 0.1);
    scratch_.assign(values_.begin(), values_.end());
    const float darkest = percentile(scratch_, 0.01);
    const float bright = percentile(scratch_, 0.99);
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

    const bool vertical = settings_.standard.order == ScanOrder::VerticalBottomUpRightToLeft;
    const int width = vertical ? lines_ : elements_;
    const int height = vertical ? elements_ : lines_;
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int k = 0; k < lines_; ++k) {
        const float* in =
            values_.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(elements_);
        for (int j = 0; j < elements_; ++j) {
            // Below black (sync, and the dip a sync edge leaves) is black, never bright.
            float g = std::clamp((in[j] - lo) * gain, 0.0f, 255.0f);
            if (settings_.negative)
                g = 255.0f - g;
            const auto value = static_cast<uchar>(std::lround(g));
            if (vertical)
                image.scanLine(elements_ - 1 - j)[lines_ - 1 - k] = value;
            else
                image.scanLine(k)[j] = value;
        }
    }
    frame_ = image;
}

} // namespace corvane
