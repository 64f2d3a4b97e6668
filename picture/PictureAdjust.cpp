#include "PictureAdjust.h"

#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane {

namespace {

QImage grey(const QImage& frame)
{
    return frame.format() == QImage::Format_Grayscale8
               ? frame
               : frame.convertToFormat(QImage::Format_Grayscale8);
}

} // namespace

std::vector<std::uint8_t> toneTable(const PictureSettings& settings)
{
    std::vector<std::uint8_t> table(256);
    const double exponent = settings.gamma > 0 ? 1.0 / settings.gamma : 1.0;
    for (int level = 0; level < 256; ++level) {
        double v = (level / 255.0 - 0.5) * settings.contrast + 0.5 + settings.brightness;
        v = std::pow(std::clamp(v, 0.0, 1.0), exponent);
        table[static_cast<std::size_t>(level)] = static_cast<std::uint8_t>(std::lround(v * 255));
    }
    return table;
}

QImage adjustTone(const QImage& frame, const PictureSettings& settings)
{
    if (frame.isNull() || !settings.changesTone())
        return frame;
    const std::vector<std::uint8_t> table = toneTable(settings);
    QImage out = grey(frame).copy();
    for (int row = 0; row < out.height(); ++row) {
        std::uint8_t* line = out.scanLine(row);
        for (int col = 0; col < out.width(); ++col)
            line[col] = table[line[col]];
    }
    return out;
}

QImage orientPicture(const QImage& frame, const PictureSettings& settings)
{
    if (frame.isNull() || !settings.changesOrientation())
        return frame;
    QImage out = frame.mirrored(settings.flipHorizontal, settings.flipVertical);
    // Qt turns by whole quarters with a plain copy of the pixels, no resampling.
    if (settings.rotation % 360 != 0)
        out = out.transformed(QTransform().rotate(settings.rotation));
    return out;
}

QImage adjustPicture(const QImage& frame, const PictureSettings& settings)
{
    return orientPicture(adjustTone(frame, settings), settings);
}

QSize orientedSize(QSize size, const PictureSettings& settings)
{
    return settings.rotation % 180 != 0 ? size.transposed() : size;
}

LockedStandard orientedStandard(const LockedStandard& standard, const PictureSettings& settings)
{
    LockedStandard turned = standard;
    if (settings.rotation % 180 != 0 && standard.aspect > 0)
        turned.aspect = 1.0 / standard.aspect;
    return turned;
}

FrameAverager::FrameAverager(int frames)
{
    setFrames(frames);
}

void FrameAverager::setFrames(int frames)
{
    frames_ = std::clamp(frames, 1, PictureLimits::kMaxAverage);
    reset();
}

void FrameAverager::reset()
{
    size_ = {};
    sums_.clear();
    ring_.clear();
    next_ = held_ = 0;
}

QImage FrameAverager::add(const QImage& frame)
{
    if (frame.isNull())
        return frame;
    const QImage in = grey(frame);
    if (frames_ == 1)
        return in;
    if (in.size() != size_) {
        reset();
        size_ = in.size();
        const auto pixels = static_cast<std::size_t>(size_.width()) * size_.height();
        sums_.assign(pixels, 0);
        ring_.assign(pixels * static_cast<std::size_t>(frames_), 0);
    }
    const auto width = static_cast<std::size_t>(size_.width());
    std::uint8_t* slot = ring_.data() + next_ * sums_.size();
    for (int row = 0; row < size_.height(); ++row) {
        const std::uint8_t* line = in.constScanLine(row);
        std::uint32_t* sum = sums_.data() + static_cast<std::size_t>(row) * width;
        std::uint8_t* old = slot + static_cast<std::size_t>(row) * width;
        for (std::size_t col = 0; col < width; ++col) {
            sum[col] += line[col] - old[col]; // an empty slot holds zeros
            old[col] = line[col];
        }
    }
    next_ = (next_ + 1) % static_cast<std::size_t>(frames_);
    held_ = std::min(held_ + 1, static_cast<std::size_t>(frames_));

    QImage out(size_, QImage::Format_Grayscale8);
    const auto half = static_cast<std::uint32_t>(held_ / 2);
    const auto count = static_cast<std::uint32_t>(held_);
    for (int row = 0; row < size_.height(); ++row) {
        std::uint8_t* line = out.scanLine(row);
        const std::uint32_t* sum = sums_.data() + static_cast<std::size_t>(row) * width;
        for (std::size_t col = 0; col < width; ++col)
            line[col] = static_cast<std::uint8_t>((sum[col] + half) / count);
    }
    return out;
}

void PictureProcessor::setSettings(const PictureSettings& settings)
{
    if (settings.average != averager_.frames())
        averager_.setFrames(settings.average);
    settings_ = settings;
}

QImage PictureProcessor::process(const QImage& frame)
{
    return adjustPicture(averager_.add(frame), settings_);
}

} // namespace corvane
