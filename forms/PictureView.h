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
    // Where the decoder's scan stands: the column it is in (0 rightmost, three pixels each from
    // the right edge) of a raster of rows x cols blocks.
    struct Scan
    {
        int col = 0;
        int rows = 0;
        int cols = 0;
    };
    // The surface was cleared and the scan starts again at column 0: shows the whole surface.
    void restart();
    // The decoder's repaint request, made at every fourth column it completes.
    void requestRepaint() { ++requests_; }
    // Called once a buffer is decoded: if the decoder asked for a repaint since the last call,
    // puts the columns it has painted since then on the screen, with one paint and one transfer
    // to the window system and no trip through the event queue.
    void paintDue(const Scan& scan);

signals:
    // paintDue put the due columns on the screen itself, without a paint event.
    void dueShown();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRegion dueRegion(const Scan& scan) const;

    const ImageSurface* surface_ = nullptr;
    int requests_ = 0;
    Scan shown_; // where the scan stood at the last paint
};

} // namespace corvane
