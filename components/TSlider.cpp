#include "TSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <QTimer>

namespace corvane {

namespace {
// The track bar's auto-repeat while the mouse is held in the channel.
constexpr int kFirstRepeatMs = 500;
constexpr int kRepeatMs = 100;
} // namespace

TSlider::TSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent), pageRepeat_(new QTimer(this))
{
    // The track bar's own defaults, so a freshly placed slider behaves like one.
    setRange(0, 10);
    setSingleStep(1);
    setPageStep(2);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    pageRepeat_->setObjectName(QStringLiteral("pageRepeat"));
    connect(pageRepeat_, &QTimer::timeout, this, &TSlider::repeatPaging);
}

TSlider::~TSlider() = default;

void TSlider::keyPressEvent(QKeyEvent* event)
{
    // Shortcuts with Ctrl/Alt/Meta belong to whoever else wants them.
    const auto chord =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (chord) {
        QSlider::keyPressEvent(event);
        return;
    }
    SliderAction action = SliderNoAction;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        action = SliderSingleStepSub;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        action = SliderSingleStepAdd;
        break;
    case Qt::Key_PageUp:
        action = SliderPageStepSub;
        break;
    case Qt::Key_PageDown:
        action = SliderPageStepAdd;
        break;
    case Qt::Key_Home:
        action = SliderToMinimum;
        break;
    case Qt::Key_End:
        action = SliderToMaximum;
        break;
    default:
        QSlider::keyPressEvent(event);
        return;
    }
    triggerAction(action);
    event->accept();
}

QAbstractSlider::SliderAction TSlider::pageActionToward(QPoint pos) const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    if (handle.contains(pos))
        return SliderNoAction;
    const bool horizontal = orientation() == Qt::Horizontal;
    const int span =
        horizontal ? groove.width() - handle.width() : groove.height() - handle.height();
    const int grooveStart = horizontal ? groove.x() : groove.y();
    const int handleLength = horizontal ? handle.width() : handle.height();
    const int along = (horizontal ? pos.x() : pos.y()) - grooveStart - handleLength / 2;
    // Let the style map pixels to values so inverted and vertical sliders page the right way.
    const int target =
        QStyle::sliderValueFromPosition(minimum(), maximum(), along, span, opt.upsideDown);
    if (target > value())
        return SliderPageStepAdd;
    if (target < value())
        return SliderPageStepSub;
    return SliderNoAction;
}

void TSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || maximum() == minimum()) {
        QSlider::mousePressEvent(event);
        return;
    }
    const SliderAction action = pageActionToward(event->position().toPoint());
    if (action == SliderNoAction) {
        // On the thumb: Qt's own dragging is what the track bar does too.
        QSlider::mousePressEvent(event);
        return;
    }
    event->accept();
    pointer_ = event->position().toPoint();
    pagingAction_ = action;
    setSliderDown(false);
    triggerAction(action);
    pageRepeat_->start(kFirstRepeatMs);
}

void TSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (pagingAction_ != SliderNoAction) {
        pointer_ = event->position().toPoint();
        event->accept();
        return;
    }
    QSlider::mouseMoveEvent(event);
}

void TSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (pagingAction_ != SliderNoAction) {
        pageRepeat_->stop();
        pagingAction_ = SliderNoAction;
        event->accept();
        return;
    }
    QSlider::mouseReleaseEvent(event);
}

void TSlider::repeatPaging()
{
    // Paging stops once the thumb has reached the pointer, as the track bar's does.
    if (pagingAction_ == SliderNoAction || pageActionToward(pointer_) != pagingAction_) {
        pageRepeat_->stop();
        return;
    }
    triggerAction(pagingAction_);
    pageRepeat_->start(kRepeatMs);
}

void TSlider::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);

    // Some styles (Fusion among them) fill the groove from the minimum up to the thumb, which
    // reads as a selection band. Drawing the groove as if the thumb sat at the minimum leaves
    // that fill empty for every style; thumb and ticks are then drawn where they really are.
    QStyleOptionSlider grooveOpt = opt;
    grooveOpt.subControls = QStyle::SC_SliderGroove;
    grooveOpt.sliderPosition = minimum();
    grooveOpt.sliderValue = minimum();
    grooveOpt.activeSubControls = QStyle::SC_None;
    painter.drawComplexControl(QStyle::CC_Slider, grooveOpt);

    opt.subControls = QStyle::SC_SliderHandle;
    if (tickPosition() != QSlider::NoTicks)
        opt.subControls |= QStyle::SC_SliderTickmarks;
    painter.drawComplexControl(QStyle::CC_Slider, opt);
}

} // namespace corvane
