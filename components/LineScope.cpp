#include "LineScope.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace corvane {

namespace {

constexpr float kNone = std::numeric_limits<float>::quiet_NaN();

} // namespace

LineScope::LineScope(QWidget* parent) : QWidget(parent), slice_(kNone), black_(kNone), white_(kNone)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LineScope::setTrace(std::vector<float> samples, float sliceLevel, float blackLevel,
                         float whiteLevel, double syncStart, double syncWidth)
{
    samples_ = std::move(samples);
    lines_ = 1;
    slice_ = sliceLevel, black_ = blackLevel, white_ = whiteLevel;
    setSync(syncStart, syncWidth);
    fitRange();
}

void LineScope::setLines(const float* samples, std::size_t count, int lines)
{
    samples_.assign(samples, samples + (samples ? count : 0));
    lines_ = std::max(lines, 1);
    fitRange();
}

void LineScope::setLevels(float sliceLevel, float blackLevel, float whiteLevel)
{
    slice_ = sliceLevel, black_ = blackLevel, white_ = whiteLevel;
    fitRange();
}

void LineScope::setSync(double start, double width)
{
    syncStart_ = std::isfinite(start) ? start : 0;
    syncWidth_ = std::isfinite(width) ? std::max(width, 0.0) : 0;
    update();
}

void LineScope::setCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void LineScope::setRange(float bottom, float top)
{
    fixedBottom_ = std::isfinite(bottom) ? bottom : 0;
    fixedTop_ = std::isfinite(top) ? top : 0;
    fitRange();
}

void LineScope::clear()
{
    samples_.clear();
    slice_ = black_ = white_ = kNone;
    syncWidth_ = 0;
    caption_.clear();
    fitRange();
}

void LineScope::fitRange()
{
    if (fixedBottom_ < fixedTop_) {
        bottom_ = fixedBottom_, top_ = fixedTop_;
    } else {
        float low = std::numeric_limits<float>::infinity(), high = -low;
        const auto take = [&](float v) {
            if (std::isfinite(v))
                low = std::min(low, v), high = std::max(high, v);
        };
        for (float v : samples_)
            take(v);
        for (float v : {slice_, black_, white_})
            take(v);
        if (!(low <= high))
            low = -1, high = 1;
        const float room = high > low ? (high - low) * 0.05f : 1.0f;
        bottom_ = low - room, top_ = high + room;
    }
    update();
}

void LineScope::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(kBackColour));
    const double w = width() - 1, h = height() - 1;
    const std::size_t perLine = samples_.size() / static_cast<std::size_t>(lines_);
    // Samples along the line map onto the whole width, levels onto the height.
    const double xScale = perLine > 1 ? w / double(perLine - 1) : 0;
    const auto y = [&](float v) { return (double(top_) - v) / (double(top_) - bottom_) * h; };

    if (syncWidth_ > 0 && xScale > 0)
        painter.fillRect(QRectF(QPointF(syncStart_ * xScale, 0),
                                QPointF((syncStart_ + syncWidth_) * xScale, h + 1)),
                         QColor(kSyncColour));
    const int textHeight = painter.fontMetrics().ascent();
    for (const auto& [level, colour, name] :
         {std::tuple{black_, kBlackColour, "black"}, std::tuple{white_, kWhiteColour, "white"},
          std::tuple{slice_, kSliceColour, "slice"}}) {
        if (!std::isfinite(level) || level < bottom_ || level > top_)
            continue;
        painter.setPen(QColor(colour));
        const int row = static_cast<int>(std::lround(y(level)));
        painter.drawLine(0, row, width() - 1, row);
        // Named at the right end, above the line (below it at the top edge).
        const int base = row - 2 >= textHeight ? row - 2 : row + textHeight + 1;
        const QString label = QString::fromLatin1(name);
        painter.drawText(width() - 4 - painter.fontMetrics().horizontalAdvance(label), base, label);
    }
    if (!caption_.isEmpty()) {
        painter.setPen(QColor(kWhiteColour));
        painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignLeft | Qt::AlignTop, caption_);
    }

    if (perLine < 2)
        return;
    painter.setPen(QColor(kTraceColour));
    for (int line = 0; line < lines_; ++line) {
        const float* at = samples_.data() + static_cast<std::size_t>(line) * perLine;
        // A sample that is not a number breaks the trace rather than throwing it off the scale.
        points_.clear();
        for (std::size_t i = 0; i <= perLine; ++i) {
            if (i < perLine && std::isfinite(at[i])) {
                const double clipped = std::clamp(double(at[i]), double(bottom_), double(top_));
                points_.emplace_back(double(i) * xScale, y(float(clipped)));
            } else if (!points_.empty()) {
                if (points_.size() == 1)
                    painter.drawPoint(points_.front());
                else
                    painter.drawPolyline(points_.data(), static_cast<int>(points_.size()));
                points_.clear();
            }
        }
    }
}

} // namespace corvane
