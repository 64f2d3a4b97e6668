#pragma once

#include <QImage>
#include <QWidget>

namespace corvane {

// The Monitor's picture: the latest frame scaled to fill the widget at the picture's aspect,
// black bars elsewhere. Sharp element edges unless smooth scaling is asked for. A frame is
// scaled once and kept; a new one repaints only the lines whose elements changed visibly, so a
// still picture costs the window system next to nothing.
class MonitorPicture : public QWidget
{
    Q_OBJECT

public:
    explicit MonitorPicture(QWidget* parent = nullptr);

    void setFrame(const QImage& frame);
    const QImage& frame() const { return frame_; }
    // Height divided by width of the picture as the viewer sees it.
    void setAspect(double aspect);
    void setSmooth(bool smooth);
    // A dimmed picture is one that is no longer being received.
    void setDimmed(bool dimmed);

    // Where the frame is drawn inside the widget.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Where element column x (row y) of the frame starts inside the picture rectangle.
    int elementLeft(int x) const;
    int elementTop(int y) const;
    void rescale();

    QImage frame_;
    QImage shown_;  // the frame as it is on screen, element by element
    QImage scaled_; // shown_ at the picture rectangle's size, RGB32
    double aspect_ = 1.5;
    bool smooth_ = false;
    bool dimmed_ = false;
};

} // namespace corvane
