#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QWidget>

namespace corvane {

// A round dial with 32 ticks and one needle from the centre: the needle's direction is the
// phase in radians (0 up, growing counter-clockwise) and its length the amplitude, a fraction
// of the dial's reach. The dial is sunk into the widget's background colour by a two-tone rim.
//
// The static dial is rendered only when the size or a colour it uses changes; every paint
// composes dial and needle off screen and puts the finished picture up in one copy.
class TPhaseScope : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(float phase READ phase WRITE setPhase)
    Q_PROPERTY(float ampl READ ampl WRITE setAmpl)
    Q_PROPERTY(QColor foreColor READ foreColor WRITE setForeColor)
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
    Q_PROPERTY(bool showText READ showText)
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit TPhaseScope(QWidget* parent = nullptr);
    ~TPhaseScope() override;

    float phase() const { return phase_; }
    float ampl() const { return ampl_; }
    QColor foreColor() const { return foreColor_; }
    QColor backColor() const { return backColor_; }
    bool showText() const { return showText_; }
    QString text() const { return text_; }

    // A NaN is taken as 0: it would make every later comparison fail and the needle undefined.
    void setPhase(float phase);
    void setAmpl(float ampl);
    void setForeColor(const QColor& color);
    void setBackColor(const QColor& color);
    void setText(const QString& text);

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void renderDial(QSize size);
    void composeNeedle();
    void refresh();

    float phase_ = 0.0f;
    float ampl_ = 0.0f;
    bool showText_ = true;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    QString text_;
    QSize dialSize_{0, 0}; // size the dial was last rendered for; 0x0 forces a render
    QImage dial_;
    QImage buffer_;
};

} // namespace corvane
