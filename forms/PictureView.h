#pragma once

#include <QWidget>

namespace corvane {

class ImageSurface;

// The image control of the main window: paints the picture surface at its top-left corner.
// It repaints only when asked (the decoder's repaint requests, a clear) or when exposed, so the
// screen lags the surface between repaint requests exactly as the decoder intends.
class PictureView : public QWidget
{
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    // The surface to show; nullptr shows nothing. The view does not own it.
    void setSurface(const ImageSurface* surface);
    // The decoder's repaint request, made with the scan at column col of cols (0 rightmost,
    // three pixels each from the right edge): marks as due only the columns painted since the
    // last request and those that may be painted before the next, due at every fourth column.
    void updateColumns(int col, int cols);
    // Puts what is due on the screen now. Called once a buffer is decoded: one paint and one
    // transfer to the window system for the buffer, without a trip through the event queue.
    void paintDue();

signals:
    // paintDue put the due columns on the screen itself, without a paint event.
    void dueShown();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool paintIntoBackingStore(const QRect& due);

    const ImageSurface* surface_ = nullptr;
    int lastCol_ = 0;
    QRect due_;
};

} // namespace corvane
