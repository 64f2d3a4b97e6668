#include "Eventually.h"
#include "TSlider.h"

#include <QImage>
#include <QKeySequence>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QTimer>
#include <memory>

using corvane::TSlider;

namespace {

// Where the style puts the thumb, for either slider class.
template <class Slider> struct Probe : Slider
{
    using Slider::Slider;
    QRect thumb()
    {
        QStyleOptionSlider opt;
        this->initStyleOption(&opt);
        return this->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle,
                                             this);
    }
};

// Fusion fills a plain slider's groove up to the thumb, the band this slider must not show.
struct Shown
{
    std::unique_ptr<QStyle> fusion{QStyleFactory::create("Fusion")};
    Probe<TSlider> slider;

    explicit Shown(Qt::Orientation orientation = Qt::Horizontal)
    {
        slider.setStyle(fusion.get());
        slider.setOrientation(orientation);
        slider.resize(orientation == Qt::Horizontal ? QSize(200, 45) : QSize(45, 200));
        slider.show();
        slider.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&slider));
    }
};

} // namespace

// The keys move like the track bar's, whichever way it stands, with one change signal each.
TEST(Slider, KeysMoveLikeTheTrackBar)
{
    const struct
    {
        Qt::Key key;
        Qt::Orientation orientation;
        int expected; // from 5 in 0..10
    } cases[] = {{Qt::Key_Left, Qt::Horizontal, 4},   {Qt::Key_Down, Qt::Horizontal, 6},
                 {Qt::Key_PageUp, Qt::Horizontal, 3}, {Qt::Key_End, Qt::Horizontal, 10},
                 {Qt::Key_Up, Qt::Vertical, 4},       {Qt::Key_PageDown, Qt::Vertical, 7}};
    for (const auto& c : cases) {
        Shown shown(c.orientation);
        shown.slider.setValue(5);
        QSignalSpy changed(&shown.slider, &QSlider::valueChanged);
        QTest::keyClick(&shown.slider, c.key);
        EXPECT_EQ(shown.slider.value(), c.expected) << c.key;
        EXPECT_EQ(changed.count(), 1) << c.key;
    }
}

// A click in the channel pages toward it; held, it pages until the thumb reaches the pointer.
TEST(Slider, ClickingInTheChannelPagesTowardIt)
{
    Shown shown;
    Probe<TSlider>& slider = shown.slider;
    slider.setValue(5);
    const int y = slider.thumb().center().y();
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(slider.width() - 3, y));
    EXPECT_EQ(slider.value(), 7);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(3, y));
    EXPECT_EQ(slider.value(), 5);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, slider.thumb().center());
    EXPECT_EQ(slider.value(), 5);

    auto* repeat = slider.findChild<QTimer*>("pageRepeat");
    ASSERT_NE(repeat, nullptr);
    for (int x : {slider.width() - 3, slider.width() / 2 + 10}) {
        slider.setValue(0);
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(x, y));
        ASSERT_EVENTUALLY(!repeat->isActive()); // stopped while the button is still down
        if (x == slider.width() - 3) {
            EXPECT_EQ(slider.value(), 10);
        } else {
            EXPECT_GE(slider.value(), 6);
            EXPECT_LE(slider.value(), 8);
        }
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(x, y));
    }
}

TEST(Slider, TheGrooveShowsNoBandWhereverTheThumbIs)
{
    // Pixels differing between value 2 and value 8, away from both thumbs.
    auto bandPixels = [](auto& slider) {
        slider.setValue(2);
        const QImage low = slider.grab().toImage();
        const QRect lowThumb = slider.thumb().adjusted(-2, -2, 2, 2);
        slider.setValue(8);
        const QImage high = slider.grab().toImage();
        const QRect highThumb = slider.thumb().adjusted(-2, -2, 2, 2);
        int differing = 0;
        for (int y = 0; y < low.height(); ++y)
            for (int x = 0; x < low.width(); ++x)
                if (!lowThumb.contains(x, y) && !highThumb.contains(x, y))
                    differing += low.pixel(x, y) != high.pixel(x, y);
        return differing;
    };

    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    for (QSlider::TickPosition ticks : {QSlider::NoTicks, QSlider::TicksBothSides}) {
        Probe<TSlider> ours;
        Probe<QSlider> plain(Qt::Horizontal);
        for (QSlider* s : {static_cast<QSlider*>(&ours), static_cast<QSlider*>(&plain)}) {
            s->setStyle(fusion.get());
            s->setRange(0, 10);
            s->setTickPosition(ticks);
            s->setTickInterval(8);
            s->resize(200, 45);
        }
        EXPECT_GT(bandPixels(plain), 0) << "the style no longer fills; this test is moot";
        EXPECT_EQ(bandPixels(ours), 0) << "ticks " << ticks;
    }
}
