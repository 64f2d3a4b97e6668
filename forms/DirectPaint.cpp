#include "DirectPaint.h"

#include <QBackingStore>
#include <QPainter>
#include <QRegion>
#include <QWidget>
#include <QWindow>

namespace corvane {

// Copies the columns into the window's backing store and sends them to the window system,
// past Qt's repaint machinery: its update event, region bookkeeping and paint event cost more
// than the copy itself, 28 times a second. Only while the columns are wholly in view and the
// window is on screen; otherwise repaint() knows best.
bool paintStraightToWindow(QWidget& widget, const QRegion& due, const QImage& image)
{
    QBackingStore* store = widget.backingStore();
    QWindow* handle = widget.window()->windowHandle();
    if (!store || !handle || !handle->isExposed() || !widget.isVisible() ||
        !widget.updatesEnabled() || widget.internalWinId() ||
        widget.nativeParentWidget() != widget.window() || !(due - widget.visibleRegion()).isEmpty())
        return false;
    const QPoint offset = widget.mapTo(widget.window(), QPoint());
    const QRegion target = due.translated(offset);
    store->beginPaint(target);
    {
        QPainter painter(store->paintDevice());
        for (const QRect& rect : due)
            painter.drawImage(rect.topLeft() + offset, image, rect);
    }
    store->endPaint();
    store->flush(target, handle);
    return true;
}

} // namespace corvane
