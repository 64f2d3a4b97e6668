#include "PictureView.h"

#include "ImageSurface.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <utility>

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

void PictureView::updateColumns(int col, int cols)
{
    QRegion due;
    const auto columns = [&](int from, int to) {
        due +=
            QRect(QPoint(3 * (cols - to), 0), QPoint(3 * (cols - from) + 2, height() - 1)) & rect();
    };
    if (col < lastCol_) { // a new frame began since the last request
        columns(lastCol_, cols - 1);
        columns(0, col + 3);
    } else {
        columns(lastCol_, col + 3);
    }
    if (col + 4 > cols) // the frame may end, and the next begin, before the next request
        columns(0, 3);
    lastCol_ = col;
    due_ |= due.boundingRect();
}

void PictureView::paintDue()
{
    if (due_.isEmpty())
        return;
    const QRect due = std::exchange(due_, QRect());
    if (paintIntoBackingStore(due))
        emit dueShown();
    else
        repaint(due);
}

// Copies the columns into the window's backing store and sends them to the window system,
// past Qt's repaint machinery: its update event, region bookkeeping and paint event cost more
// than the copy itself, 28 times a second. Only while the columns are wholly in view and the
// window is on screen; otherwise repaint() knows best.
bool PictureView::paintIntoBackingStore(const QRect& due)
{
    QBackingStore* store = backingStore();
    QWindow* handle = window()->windowHandle();
    if (!surface_ || !store || !handle || !handle->isExposed() || !isVisible() ||
        !updatesEnabled() || internalWinId() || nativeParentWidget() != window() ||
        !visibleRegion().contains(due))
        return false;
    const QRect target = due.translated(mapTo(window(), QPoint()));
    store->beginPaint(target);
    {
        QPainter painter(store->paintDevice());
        painter.drawImage(target.topLeft(), surface_->image(), due);
    }
    store->endPaint();
    store->flush(target, handle);
    return true;
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (surface_) {
        // One rectangle, so Qt copies the image straight in; under a clip of several it
        // blends the rows in spans shared out to worker threads.
        const QRect due = event->rect();
        painter.drawImage(due.topLeft(), surface_->image(), due);
    } else {
        painter.fillRect(event->rect(), palette().window());
    }
}

} // namespace corvane
