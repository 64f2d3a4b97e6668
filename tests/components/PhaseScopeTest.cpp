#include "Eventually.h"
#include "TPhaseScope.h"

#include <QEvent>
#include <QImage>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using corvane::TPhaseScope;

namespace {

const QRgb kNeedle = qRgb(255, 64, 64);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kTickGrey = qRgb(127, 127, 127);
const QRgb kCorner = qRgb(10, 80, 30);

QImage render(TPhaseScope& scope)
{
    return scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels of column x (or row y) between two ends, inclusive, that have the given colour.
std::vector<int> rowsOf(const QImage& img, int x, QRgb color)
{
    std::vector<int> rows;
    for (int y = 0; y < img.height(); ++y)
        if (img.pixel(x, y) == color)
            rows.push_back(y);
    return rows;
}

std::vector<int> columnsOf(const QImage& img, int y, QRgb color)
{
    std::vector<int> cols;
    for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) == color)
            cols.push_back(x);
    return cols;
}

std::vector<int> span(int first, int last)
{
    std::vector<int> v;
    for (int i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TPhaseScope* newScope(QWidget& window, QSize size = {100, 100})
{
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, kCorner);
    window.setPalette(palette);
    auto* scope = new TPhaseScope(&window);
    scope->resize(size);
    return scope;
}

} // namespace

TEST(PhaseScope, StartsWithItsDefaults)
{
    TPhaseScope scope;
    EXPECT_EQ(scope.size(), QSize(100, 100));
    EXPECT_EQ(scope.phase(), 0.0f);
    EXPECT_EQ(scope.ampl(), 0.0f);
    EXPECT_EQ(scope.backColor(), QColor(Qt::white));
    EXPECT_EQ(scope.foreColor(), QColor(Qt::black));
    EXPECT_TRUE(scope.showText());
    EXPECT_TRUE(scope.text().isEmpty());
    EXPECT_TRUE(scope.testAttribute(Qt::WA_OpaquePaintEvent));
    // Designer and scripts reach them by these names.
    for (const char* name : {"phase", "ampl", "foreColor", "backColor", "showText", "text"})
        EXPECT_TRUE(scope.property(name).isValid()) << name;
}

TEST(PhaseScope, DialGeometryOnASquareScope)
{
    QWidget window;
    TPhaseScope* scope = newScope(window);
    const QImage img = render(*scope);

    // No needle while the amplitude is 0.
    for (int y = 0; y < img.height(); ++y)
        EXPECT_TRUE(columnsOf(img, y, kNeedle).empty()) << "row " << y;

    // Tick 0 runs down from (50,80) toward (50,92), which it does not reach.
    EXPECT_EQ(rowsOf(img, 50, kTickGrey), span(80, 91));
    // Tick 16 runs up from (49,20) toward (49,7): one column left of the centre.
    EXPECT_EQ(rowsOf(img, 49, kTickGrey), span(8, 20));
    // Ticks 8 and 24, right and left. Tick 8 starts one row above the centre.
    EXPECT_EQ(columnsOf(img, 49, kTickGrey), span(80, 91));
    EXPECT_EQ(columnsOf(img, 50, kTickGrey), span(8, 20));
    // 32 ticks in all: 4 long ones of 12-13 pixels and 28 short ones.
    int grey = 0;
    for (int y = 0; y < img.height(); ++y)
        grey += static_cast<int>(columnsOf(img, y, kTickGrey).size());
    EXPECT_GT(grey, 4 * 12 + 28 * 4);
    EXPECT_LT(grey, 4 * 13 + 28 * 9);

    // Corners are opaque in the corner colour; the face is white inside the rim.
    for (QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99), QPoint(8, 8)})
        EXPECT_EQ(img.pixel(corner), kCorner) << corner.x() << "," << corner.y();
    EXPECT_EQ(img.pixel(50, 50), kWhite);
    EXPECT_EQ(img.pixel(4, 50), kWhite);
    EXPECT_EQ(img.pixel(95, 50), kWhite);

    // The rim: shadow at the upper left, light at the lower right.
    const QRgb shadow = scope->palette().color(QPalette::Dark).rgb();
    const QRgb light = scope->palette().color(QPalette::Midlight).rgb();
    EXPECT_EQ(img.pixel(2, 50), shadow);
    EXPECT_EQ(img.pixel(50, 2), shadow);
    EXPECT_EQ(img.pixel(97, 50), light);
    EXPECT_EQ(img.pixel(50, 97), light);
}

struct NeedleCase
{
    float phase;
    float ampl;
    QPoint end; // the end point; the round pen reaches one pixel past it
};

class Needle : public ::testing::TestWithParam<NeedleCase>
{
};

TEST_P(Needle, RunsFromTheCentreToItsEnd)
{
    const NeedleCase c = GetParam();
    QWidget window;
    TPhaseScope* scope = newScope(window);
    scope->setPhase(c.phase);
    scope->setAmpl(c.ampl);
    const QImage img = render(*scope);

    // The 2-pixel pen covers the two pixels on either side of the line through pixel corners.
    EXPECT_EQ(img.pixel(c.end.x(), c.end.y()), kNeedle);
    EXPECT_EQ(img.pixel(c.end.x() - 1, c.end.y() - 1), kNeedle);
    EXPECT_EQ(img.pixel(50, 50), kNeedle);
    EXPECT_EQ(img.pixel(49, 49), kNeedle);
    // Nothing beyond the round end.
    const QPoint dir =
        (c.end - QPoint(50, 50)) / std::max(1, (c.end - QPoint(50, 50)).manhattanLength());
    const QPoint past = c.end + 2 * dir;
    EXPECT_NE(img.pixel(past), kNeedle) << past.x() << "," << past.y();
}

INSTANTIATE_TEST_SUITE_P(
    Ends, Needle,
    ::testing::Values(NeedleCase{0.0f, 1.0f, {50, 5}}, NeedleCase{0.0f, 0.5f, {50, 28}},
                      // Counter-clockwise: a quarter turn points left, half a turn down.
                      // The float phase is a hair off, and truncation pulls these ends in by one.
                      NeedleCase{1.5707964f, 1.0f, {6, 50}}, NeedleCase{3.1415927f, 1.0f, {50, 94}},
                      NeedleCase{-1.5707964f, 1.0f, {94, 50}},
                      // A negative amplitude points the other way.
                      NeedleCase{0.0f, -1.0f, {50, 95}}));

TEST(PhaseScope, VerticalNeedleColumnsAndEnds)
{
    QWidget window;
    TPhaseScope* scope = newScope(window);
    scope->setAmpl(1.0f);
    QImage img = render(*scope);
    EXPECT_EQ(rowsOf(img, 50, kNeedle), span(4, 50));
    EXPECT_EQ(rowsOf(img, 49, kNeedle), span(4, 50));
    EXPECT_TRUE(rowsOf(img, 48, kNeedle).empty());
    EXPECT_TRUE(rowsOf(img, 51, kNeedle).empty());

    scope->setAmpl(0.5f);
    img = render(*scope);
    EXPECT_EQ(rowsOf(img, 50, kNeedle), span(27, 50));
}

TEST(PhaseScope, AWideScopeHasAnEllipticalDial)
{
    QWidget window;
    TPhaseScope* scope = newScope(window, {100, 60});
    scope->setAmpl(1.0f);
    const QImage img = render(*scope);

    // Tick 0 from (50,48) toward (50,55); the needle reaches up to y = 30 - 25 = 5.
    EXPECT_EQ(rowsOf(img, 50, kTickGrey), span(48, 54));
    EXPECT_EQ(rowsOf(img, 50, kNeedle), span(4, 30));
    // Face inside the ellipse of half-axes 48 x 28 about (50,30), corner colour outside.
    for (int deg = 0; deg < 360; deg += 15) {
        const double r = deg * 3.14159265358979 / 180.0;
        const QPoint inside(50 + int(0.9 * 46 * std::cos(r)), 30 + int(0.9 * 26 * std::sin(r)));
        const QPoint outside(50 + int(52 * std::cos(r)), 30 + int(32 * std::sin(r)));
        const QRgb in = img.pixel(inside);
        EXPECT_TRUE(in == kWhite || in == kTickGrey || in == kNeedle) << deg;
        if (img.rect().contains(outside)) {
            EXPECT_EQ(img.pixel(outside), kCorner) << deg;
        }
    }
}

TEST(PhaseScope, TicksTakeHalfTheFaceRedAsGrey)
{
    QWidget window;
    TPhaseScope* scope = newScope(window);
    scope->setBackColor(QColor(0, 255, 0));
    QImage img = render(*scope);
    EXPECT_EQ(rowsOf(img, 50, qRgb(0, 0, 0)), span(80, 91));
    EXPECT_EQ(img.pixel(50, 60), qRgb(0, 255, 0));

    // The dial follows a later colour change without waiting for a resize.
    scope->setBackColor(QColor(200, 10, 10));
    img = render(*scope);
    EXPECT_EQ(rowsOf(img, 50, qRgb(100, 100, 100)), span(80, 91));
    EXPECT_EQ(img.pixel(50, 60), qRgb(200, 10, 10));

    // So does a new corner colour from the palette.
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::blue);
    window.setPalette(palette);
    img = render(*scope);
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 255));
}

TEST(PhaseScope, RepaintsAtOnceOnlyWhenAValueChanges)
{
    QWidget window;
    TPhaseScope* scope = newScope(window);
    window.resize(120, 120);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    scope->installEventFilter(&counter);

    struct Step
    {
        const char* what;
        std::function<void()> set;
        int paints;
    };
    const std::vector<Step> steps = {
        {"same phase", [&] { scope->setPhase(0.0f); }, 0},
        {"same ampl", [&] { scope->setAmpl(0.0f); }, 0},
        {"same fore", [&] { scope->setForeColor(Qt::black); }, 0},
        {"same back", [&] { scope->setBackColor(Qt::white); }, 0},
        {"NaN phase is 0", [&] { scope->setPhase(std::numeric_limits<float>::quiet_NaN()); }, 0},
        {"NaN ampl is 0", [&] { scope->setAmpl(std::numeric_limits<float>::quiet_NaN()); }, 0},
        {"new phase", [&] { scope->setPhase(1.0f); }, 1},
        {"new ampl", [&] { scope->setAmpl(0.7f); }, 1},
        {"new fore", [&] { scope->setForeColor(Qt::red); }, 1},
        {"new back", [&] { scope->setBackColor(Qt::yellow); }, 1},
        {"text paints nothing", [&] { scope->setText("x"); }, 0},
    };
    for (const Step& step : steps) {
        const int before = counter.paints;
        step.set();
        EXPECT_EQ(counter.paints - before, step.paints) << step.what;
    }
    EXPECT_EQ(scope->phase(), 1.0f);
    EXPECT_EQ(scope->text(), "x");

    // What was painted on screen is the new picture, not a stale one.
    scope->setPhase(0.0f);
    scope->setAmpl(1.0f);
    const QImage shown = window.grab(scope->geometry()).toImage();
    EXPECT_EQ(shown.pixel(50, 10), kNeedle);
}

TEST(PhaseScope, AbsurdValuesDrawSafely)
{
    QWidget window;
    TPhaseScope* scope = newScope(window);
    const float inf = std::numeric_limits<float>::infinity();
    const float huge = std::numeric_limits<float>::max();

    scope->setAmpl(huge);
    QImage img = render(*scope);
    EXPECT_EQ(img.pixel(50, 0), kNeedle); // to the edge, cut off there
    EXPECT_EQ(img.pixel(50, 99), scope->palette().color(QPalette::Window).rgb());

    scope->setAmpl(-inf);
    img = render(*scope);
    EXPECT_EQ(img.pixel(50, 99), kNeedle);

    // An infinite phase has no direction: no needle.
    scope->setAmpl(1.0f);
    scope->setPhase(inf);
    EXPECT_EQ(scope->phase(), inf);
    img = render(*scope);
    EXPECT_EQ(img.pixel(50, 50), kWhite);

    // A huge phase still has one.
    scope->setPhase(1e30f);
    img = render(*scope);
    EXPECT_EQ(img.pixel(50, 50), kNeedle);

    // Tiny and empty scopes paint without trouble.
    for (QSize size : {QSize(1, 1), QSize(4, 3), QSize(0, 10)}) {
        scope->resize(size);
        scope->setPhase(0.5f);
        (void)render(*scope);
    }
}
