#pragma once

class QImage;
class QRegion;
class QWidget;

namespace corvane {

// Puts the due part of image (in widget coordinates) on the screen at once: copied into the
// window's backing store and flushed to the window system, past Qt's update event, region
// bookkeeping and paint event. False, with nothing done, where that is not safe (the widget
// hidden or covered in part, its window not exposed, a native child): repaint() then.
bool paintStraightToWindow(QWidget& widget, const QRegion& due, const QImage& image);

} // namespace corvane
