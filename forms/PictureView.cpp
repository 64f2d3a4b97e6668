#include "PictureView.h"

#include "DirectPaint.h"
#include "ImageSurface.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cstdint>

namespace corvane {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    // The surface covers the whole control; nothing behind it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setSurface(const ImageSurface* surface)
{
    surface_ = surface;
    update();
}

void PictureView::restart()
{
    shown_.col = 0;
    requests_ = 0;
    update();
}

void PictureView::paintDue(const Scan& scan)
{
    if (requests_ == 0)
        return;
    const QRegion due = dueRegion(scan);
    requests_ = 0;
    shown_ = scan;
    if (due.isEmpty())
        return;
    if (surface_ && paintStraightToWindow(*this, due, surface_->image()))
        emit dueShown();
    else
        repaint(due);
}

// The columns from the one the scan was in at the last paint to the one it is in now, over the
// height the rows take up. Nudges of the phase move the scan only within a column. Once as
// many requests came as a frame holds, the scan may have gone all the way round, and a raster
// of another size leaves old columns behind: then everything is due.
QRegion PictureView::dueRegion(const Scan& scan) const
{
    const auto within = [](int col, int cols) { return col >= 0 && col < cols; };
    if (scan.rows != shown_.rows || scan.cols != shown_.cols || requests_ >= scan.cols / 4 ||
        !within(shown_.col, scan.cols) || !within(scan.col, scan.cols))
        return rect();
    // Block rows reach from y = 0 (a row nudged to the top) to y = 3 * rows + 2.
    const std::int64_t rowsHeight = 3 * std::int64_t{scan.rows} + 3;
    const int bottom =
        scan.rows > 0 && rowsHeight < height() ? static_cast<int>(rowsHeight) - 1 : height() - 1;
    const auto columns = [&](int from, int to) {
        const std::int64_t left = 3 * (std::int64_t{scan.cols} - to);
        const std::int64_t right = 3 * (std::int64_t{scan.cols} - from) + 2;
        if (left >= width() || right < 0)
            return QRect();
        return QRect(QPoint(static_cast<int>(std::max<std::int64_t>(left, 0)), 0),
                     QPoint(static_cast<int>(std::min<std::int64_t>(right, width() - 1)), bottom));
    };
    if (scan.col >= shown_.col)
        return columns(shown_.col, scan.col);
    return QRegion(columns(shown_.col, scan.cols - 1)) + columns(0, scan.col);
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (surface_) {
        const QRect due = event->rect();
        painter.drawImage(due.topLeft(), surface_->image(), due);
    } else {
        painter.fillRect(event->rect(), palette().window());
    }
}

} // namespace corvane
