#pragma once

#include <QSlider>

class QTimer;

namespace corvane {

// A horizontal slider with the keyboard and mouse habits of the classic Win32 track bar,
// which differ from Qt's: Left/Up lower the value and Right/Down raise it, Page Up lowers
// and Page Down raises, and a press in the channel pages toward the pointer whatever the
// style would do. It never shows a selection or "filled" band in its groove.
class TSlider : public QSlider
{
    Q_OBJECT

public:
    explicit TSlider(QWidget* parent = nullptr);
    ~TSlider() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    SliderAction pageActionToward(QPoint pos) const;
    void repeatPaging();

    QTimer* pageRepeat_;
    SliderAction pagingAction_ = SliderNoAction;
    QPoint pointer_;
};

} // namespace corvane
