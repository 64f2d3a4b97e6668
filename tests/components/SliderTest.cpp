#include "Eventually.h"
#include "TSlider.h"

#include <QImage>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using corvane::TSlider;

namespace {

QRect handleRect(QSlider& slider)
{
    QStyleOptionSlider opt;
    opt.initFrom(&slider);
    opt.orientation = slider.orientation();
    opt.minimum = slider.minimum();
    opt.maximum = slider.maximum();
    opt.sliderPosition = slider.sliderPosition();
    opt.sliderValue = slider.value();
    opt.tickPosition = slider.tickPosition();
    opt.tickInterval = slider.tickInterval();
    opt.upsideDown =
        slider.orientation() == Qt::Horizontal
            ? slider.invertedAppearance() != (slider.layoutDirection() == Qt::RightToLeft)
            : !slider.invertedAppearance();
    opt.subControls = QStyle::SC_All;
    return slider.style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle,
                                          &slider);
}

struct Shown
{
    std::unique_ptr<QStyle> style{QStyleFactory::create("Fusion")};
    std::unique_ptr<TSlider> slider = std::make_unique<TSlider>();

    explicit Shown(Qt::Orientation orientation = Qt::Horizontal)
    {
        slider->setStyle(style.get());
        slider->setOrientation(orientation);
        slider->resize(orientation == Qt::Horizontal ? QSize(200, 45) : QSize(45, 200));
        slider->show();
        slider->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(slider.get()));
    }
    ~Shown() { slider.reset(); }
};

} // namespace

TEST(Slider, StartsWithTheTrackBarDefaults)
{
    TSlider slider;
    EXPECT_EQ(slider.orientation(), Qt::Horizontal);
    EXPECT_EQ(slider.minimum(), 0);
    EXPECT_EQ(slider.maximum(), 10);
    EXPECT_EQ(slider.value(), 0);
    EXPECT_EQ(slider.singleStep(), 1);
    EXPECT_EQ(slider.pageStep(), 2);
    EXPECT_NE(slider.tickPosition(), QSlider::NoTicks);
}

struct KeyCase
{
    Qt::Key key;
    Qt::Orientation orientation;
    int expected; // from 5 in 0..10
};

class SliderKeys : public ::testing::TestWithParam<KeyCase>
{
};

TEST_P(SliderKeys, MoveLikeTheTrackBar)
{
    const KeyCase c = GetParam();
    Shown shown(c.orientation);
    TSlider& slider = *shown.slider;
    slider.setValue(5);
    QSignalSpy changed(&slider, &QSlider::valueChanged);
    QTest::keyClick(&slider, c.key);
    EXPECT_EQ(slider.value(), c.expected);
    ASSERT_EQ(changed.count(), c.expected == 5 ? 0 : 1);
    if (changed.count()) {
        EXPECT_EQ(changed.at(0).at(0).toInt(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SliderKeys,
    ::testing::Values(
        KeyCase{Qt::Key_Left, Qt::Horizontal, 4}, KeyCase{Qt::Key_Up, Qt::Horizontal, 4},
        KeyCase{Qt::Key_Right, Qt::Horizontal, 6}, KeyCase{Qt::Key_Down, Qt::Horizontal, 6},
        KeyCase{Qt::Key_PageUp, Qt::Horizontal, 3}, KeyCase{Qt::Key_PageDown, Qt::Horizontal, 7},
        KeyCase{Qt::Key_Home, Qt::Horizontal, 0}, KeyCase{Qt::Key_End, Qt::Horizontal, 10},
        // A vertical track bar keeps the same key meanings.
        KeyCase{Qt::Key_Up, Qt::Vertical, 4}, KeyCase{Qt::Key_Down, Qt::Vertical, 6},
        KeyCase{Qt::Key_PageUp, Qt::Vertical, 3}, KeyCase{Qt::Key_PageDown, Qt::Vertical, 7}));

TEST(Slider, KeysStopAtTheEnds)
{
    Shown shown;
    TSlider& slider = *shown.slider;
    slider.setValue(1);
    QSignalSpy changed(&slider, &QSlider::valueChanged);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_EQ(slider.value(), 0);
    EXPECT_EQ(changed.count(), 1);
    slider.setValue(9);
    QTest::keyClick(&slider, Qt::Key_PageDown);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.value(), 10);
}

TEST(Slider, AClickInTheChannelPagesTowardIt)
{
    Shown shown;
    TSlider& slider = *shown.slider;
    slider.setValue(5);
    const QRect handle = handleRect(slider);
    const int y = handle.center().y();

    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(slider.width() - 3, y));
    EXPECT_EQ(slider.value(), 7);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(3, y));
    EXPECT_EQ(slider.value(), 5);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, handleRect(slider).center());
    EXPECT_EQ(slider.value(), 5);
}

TEST(Slider, HoldingInTheChannelPagesUntilTheThumbReachesThePointer)
{
    Shown shown;
    TSlider& slider = *shown.slider;
    slider.setValue(0);
    const QPoint nearEnd(slider.width() - 3, handleRect(slider).center().y());
    QTest::mousePress(&slider, Qt::LeftButton, {}, nearEnd);
    ASSERT_EVENTUALLY(slider.value() == 10);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, nearEnd);

    // Held just right of the middle, paging stops once the thumb is there, button still down.
    auto* repeat = slider.findChild<QTimer*>("pageRepeat");
    ASSERT_NE(repeat, nullptr);
    slider.setValue(0);
    const QPoint middle(slider.width() / 2 + 10, nearEnd.y());
    QTest::mousePress(&slider, Qt::LeftButton, {}, middle);
    ASSERT_EVENTUALLY(!repeat->isActive());
    EXPECT_GE(slider.value(), 6);
    EXPECT_LE(slider.value(), 8);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, middle);
}

TEST(Slider, TheGrooveShowsNoBandWhereverTheThumbIs)
{
    // Fusion fills a plain slider's groove up to the thumb; ours must look the same at any value
    // everywhere outside the thumb.
    auto grooveOutsideThumbs = [](QSlider& slider) {
        slider.setValue(2);
        const QImage low = slider.grab().toImage();
        const QRect lowHandle = handleRect(slider);
        slider.setValue(8);
        const QImage high = slider.grab().toImage();
        const QRect highHandle = handleRect(slider);
        int differing = 0;
        for (int y = 0; y < low.height(); ++y)
            for (int x = 0; x < low.width(); ++x) {
                const QPoint p(x, y);
                if (lowHandle.adjusted(-2, -2, 2, 2).contains(p) ||
                    highHandle.adjusted(-2, -2, 2, 2).contains(p))
                    continue;
                differing += low.pixel(p) != high.pixel(p);
            }
        return differing;
    };

    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    for (QSlider::TickPosition ticks : {QSlider::NoTicks, QSlider::TicksBothSides}) {
        TSlider ours;
        QSlider plain(Qt::Horizontal);
        for (QSlider* s : {static_cast<QSlider*>(&ours), &plain}) {
            s->setStyle(fusion.get());
            s->setRange(0, 10);
            s->setTickPosition(ticks);
            s->setTickInterval(8);
            s->resize(200, 45);
        }
        EXPECT_GT(grooveOutsideThumbs(plain), 0) << "the style no longer fills; test is moot";
        EXPECT_EQ(grooveOutsideThumbs(ours), 0) << "ticks " << ticks;
    }
}
