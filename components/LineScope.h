#pragma once

#include <QPointF>
#include <QRgb>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <vector>

namespace corvane {

// An oscilloscope of the signal along one line (or several lines overlaid), with the levels the
// decoder works with drawn across it: the sync slice level, black and white, and the sync pulse
// where the decoder expects it shaded. It shows at a glance why a signal does not lock: levels
// in the wrong place, the signal upside down (sync pointing up), hum spreading the overlaid
// lines apart, sync pulses off their expected place.
//
// Setters only store and schedule a paint; all drawing happens in paintEvent, a few hundred
// points at most per line.
class LineScope : public QWidget
{
    Q_OBJECT

public:
    static constexpr QRgb kBackColour = 0xff101810u;
    static constexpr QRgb kSyncColour = 0xff20305cu; // the expected sync pulse
    static constexpr QRgb kBlackColour = 0xff808080u;
    static constexpr QRgb kWhiteColour = 0xffe0e0e0u;
    static constexpr QRgb kSliceColour = 0xffffd020u;
    static constexpr QRgb kTraceColour = 0xff40ff60u;

    explicit LineScope(QWidget* parent = nullptr);

    // One line's samples and what the decoder makes of them: the levels in the samples' units,
    // the sync pulse's start and width in samples from the line's first (width 0: none shown).
    void setTrace(std::vector<float> samples, float sliceLevel, float blackLevel, float whiteLevel,
                  double syncStart, double syncWidth);
    // count samples holding `lines` successive lines of equal length, drawn over each other;
    // the levels and the sync stay as they were.
    void setLines(const float* samples, std::size_t count, int lines = 1);
    void setLevels(float sliceLevel, float blackLevel, float whiteLevel);
    void setSync(double start, double width);
    // A line of text in the top left corner, e.g. the measured sync width.
    void setCaption(const QString& caption);
    // The vertical scale: from bottom to top, or (the default, bottom >= top) from the lowest
    // to the highest of the samples and levels, with a little room.
    void setRange(float bottom, float top);
    void clear();

    QSize sizeHint() const override { return {320, 160}; }
    QSize minimumSizeHint() const override { return {80, 40}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fitRange();

    std::vector<float> samples_;
    int lines_ = 1;
    float slice_, black_, white_; // NaN: not drawn
    double syncStart_ = 0, syncWidth_ = 0;
    QString caption_;
    float fixedBottom_ = 0, fixedTop_ = 0;
    float bottom_ = -1, top_ = 1; // the scale in use
    std::vector<QPointF> points_; // reused by every paint
};

} // namespace corvane
