#include "PictureView.h"

#include "ImageSurface.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
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
    if (paintIntoBackingStore(due))
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

// Copies the columns into the window's backing store and sends them to the window system,
// past Qt's repaint machinery: its update event, region bookkeeping and paint event cost more
// than the copy itself, 28 times a second. Only while the columns are wholly in view and the
// window is on screen; otherwise repaint() knows best.
bool PictureView::paintIntoBackingStore(const QRegion& due)
{
    QBackingStore* store = backingStore();
    QWindow* handle = window()->windowHandle();
    if (!surface_ || !store || !handle || !handle->isExposed() || !isVisible() ||
        !updatesEnabled() || internalWinId() || nativeParentWidget() != window() ||
        !(due - visibleRegion()).isEmpty())
        return false;
    const QPoint offset = mapTo(window(), QPoint());
    const QRegion target = due.translated(offset);
    store->beginPaint(target);
    {
        QPainter painter(store->paintDevice());
        for (const QRect& rect : due)
            painter.drawImage(rect.topLeft() + offset, surface_->image(), rect);
    }
    store->endPaint();
    store->flush(target, handle);
    return true;
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
