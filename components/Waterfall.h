#pragma once

#include <QImage>
#include <QPointF>
#include <QRgb>
#include <QWidget>
#include <vector>

namespace corvane {

// A radio's band as it changes: a frequency scale on top, the latest power across the band as a
// line under it, and the rows before it falling away below, coloured from dark blue (the noise
// floor) to yellow (the strongest), the scale following the band. A marker shows where the
// transmission being received lies; a click asks to tune to where it fell.
//
// Rows are turned into pixels once, into a ring of image rows that paintEvent draws in two
// pieces (newest first): nothing is scrolled or redrawn per row.
class Waterfall : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kScaleHeight = 18;  // the frequency scale
    static constexpr int kLineHeight = 48;   // the latest power across the band
    static constexpr int kHistoryRows = 512; // rows kept
    static constexpr QRgb kBackColour = 0xff000018u;
    static constexpr QRgb kFoundColour = 0xff40ff60u;   // the marker on a transmission
    static constexpr QRgb kLookingColour = 0xffff8020u; // the marker while looking
    static constexpr QRgb kLineColour = 0xffdcdc78u;    // the latest power across the band

    explicit Waterfall(QWidget* parent = nullptr);

    // One row of power in dB, lowest frequency first, spanHz wide around centreHz (0: not
    // known, the scale then reads kHz from the centre; else MHz). A change of bins, centre or
    // span starts the history afresh.
    void addRow(const std::vector<float>& powerDb, double centreHz, double spanHz);
    // Where the transmission is, from the centre; found false while it is being looked for
    // there. NaN hides the marker.
    void setMarker(double offsetHz, bool found);
    void clear();

    // The offset from the centre that column x stands for (0 while no row has come).
    double offsetAt(double x) const;
    // The colour of a level from 0 (floor) to 1 (strongest).
    static QRgb colourOf(double level);

    QSize sizeHint() const override { return {640, 240}; }
    QSize minimumSizeHint() const override { return {120, kScaleHeight + kLineHeight + 20}; }

signals:
    void tuneRequested(double offsetHz);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    double levelOf(float db) const;
    void paintScale(class QPainter& painter);

    QImage ring_; // kHistoryRows rows of one pixel per bin; newest at head_
    int head_ = 0, rows_ = 0;
    double centreHz_ = 0, spanHz_ = 0;
    double floorDb_ = 0, topDb_ = 0; // the colour scale, following the band
    bool scaled_ = false;
    std::vector<float> latest_, sorted_;
    double markerHz_;
    bool markerFound_ = false;
    std::vector<QPointF> points_; // reused by every paint
};

} // namespace corvane
