#include "Eventually.h"
#include "TPhaseScope.h"

#include <QEvent>
#include <QImage>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
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

// The rows of column x (or, transposed, the columns of row y) that have the colour.
std::vector<int> inColumn(const QImage& img, int x, QRgb color)
{
    std::vector<int> rows;
    for (int y = 0; y < img.height(); ++y)
        if (img.pixel(x, y) == color)
            rows.push_back(y);
    return rows;
}

std::vector<int> inRow(const QImage& img, int y, QRgb color)
{
    return inColumn(img.transformed(QTransform(0, 1, 1, 0, 0, 0)), y, color);
}

std::vector<int> span(int first, int last)
{
    std::vector<int> v(last - first + 1);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// A window in the corner colour holding one scope.
struct Scoped
{
    QWidget window;
    TPhaseScope* scope;
    explicit Scoped(QSize size = {100, 100})
    {
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, kCorner);
        window.setPalette(palette);
        scope = new TPhaseScope(&window);
        scope->resize(size);
    }
};

} // namespace

TEST(PhaseScope, DialAndNeedleGeometryOnASquareScope)
{
    Scoped s;
    EXPECT_EQ(s.scope->size(), QSize(100, 100));
    const QImage img = render(*s.scope);

    EXPECT_EQ(img.pixel(50, 50), kWhite) << "no needle at amplitude 0";
    // Tick 0 runs down from (50,80) toward (50,92), leaving out its last pixel; tick 16 up
    // from (49,20) toward (49,7), one column left of the centre; ticks 8 and 24 likewise,
    // tick 8 one row above the centre.
    EXPECT_EQ(inColumn(img, 50, kTickGrey), span(80, 91));
    EXPECT_EQ(inColumn(img, 49, kTickGrey), span(8, 20));
    EXPECT_EQ(inRow(img, 49, kTickGrey), span(80, 91));
    EXPECT_EQ(inRow(img, 50, kTickGrey), span(8, 20));

    for (QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99)})
        EXPECT_EQ(img.pixel(corner), kCorner) << corner.x() << "," << corner.y();
    const QRgb shadow = s.scope->palette().color(QPalette::Dark).rgb();
    const QRgb light = s.scope->palette().color(QPalette::Midlight).rgb();
    EXPECT_EQ(img.pixel(2, 50), shadow);
    EXPECT_EQ(img.pixel(50, 2), shadow);
    EXPECT_EQ(img.pixel(97, 50), light);
    EXPECT_EQ(img.pixel(50, 97), light);

    // Straight up, the needle is exactly two columns wide with round ends.
    s.scope->setAmpl(1.0f);
    const QImage up = render(*s.scope);
    EXPECT_EQ(inColumn(up, 50, kNeedle), span(4, 50));
    EXPECT_EQ(inColumn(up, 49, kNeedle), span(4, 50));
    EXPECT_TRUE(inColumn(up, 48, kNeedle).empty());
    EXPECT_TRUE(inColumn(up, 51, kNeedle).empty());
}

// The 2-pixel pen covers the pixels on both sides of the line between pixel corners, and its
// round ends reach half a pixel past both end points. Counter-clockwise: a quarter turn points
// left; the float phase is a hair off, and truncation pulls those ends in.
TEST(PhaseScope, NeedleRunsFromTheCentreToItsEnd)
{
    const struct
    {
        float phase;
        float ampl;
        QPoint end;
    } cases[] = {{0.0f, 0.5f, {50, 28}},
                 {1.5707964f, 1.0f, {6, 50}},
                 {-1.5707964f, 1.0f, {94, 50}},
                 {0.0f, -1.0f, {50, 95}}};
    for (const auto& c : cases) {
        Scoped s;
        s.scope->setPhase(c.phase);
        s.scope->setAmpl(c.ampl);
        const QImage img = render(*s.scope);
        for (QPoint p : {QPoint(50, 50), QPoint(49, 49), c.end, c.end - QPoint(1, 1)})
            EXPECT_EQ(img.pixel(p), kNeedle) << p.x() << "," << p.y();
        const QPoint offset = c.end - QPoint(50, 50);
        const QPoint past = c.end + 2 * offset / offset.manhattanLength();
        EXPECT_NE(img.pixel(past), kNeedle) << past.x() << "," << past.y();
    }
}

TEST(PhaseScope, RepaintsAtOnceOnlyWhenAValueChanges)
{
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;

    Scoped s;
    TPhaseScope* scope = s.scope;
    s.window.resize(120, 120);
    s.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s.window));
    scope->installEventFilter(&counter);

    // Setting what it shows already, NaN, or the unused text paints nothing; a change paints.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const auto& [step, paints] : std::vector<std::pair<std::function<void()>, int>>{
             {[&] { scope->setPhase(0.0f); }, 0},
             {[&] { scope->setBackColor(Qt::white); }, 0},
             {[&] { scope->setAmpl(nan); }, 0},
             {[&] { scope->setText("x"); }, 0},
             {[&] { scope->setPhase(1.0f); }, 1},
             {[&] { scope->setForeColor(Qt::red); }, 1},
             {[&] { scope->setBackColor(Qt::yellow); }, 1}}) {
        const int before = counter.paints;
        step();
        EXPECT_EQ(counter.paints - before, paints);
    }
    // What reached the screen is the new picture.
    scope->setPhase(0.0f);
    scope->setAmpl(1.0f);
    EXPECT_EQ(s.window.grab(scope->geometry()).toImage().pixel(50, 10), kNeedle);
}

TEST(PhaseScope, AbsurdValuesDrawSafely)
{
    Scoped s;
    TPhaseScope* scope = s.scope;
    const float inf = std::numeric_limits<float>::infinity();

    // Huge needles keep their direction and are cut off at the edge.
    scope->setAmpl(std::numeric_limits<float>::max());
    QImage img = render(*scope);
    EXPECT_EQ(img.pixel(50, 0), kNeedle);
    EXPECT_EQ(img.pixel(50, 99), kCorner);
    scope->setAmpl(-inf);
    EXPECT_EQ(render(*scope).pixel(50, 99), kNeedle);

    // An infinite phase has no direction: no needle. A huge finite one has.
    scope->setAmpl(1.0f);
    scope->setPhase(inf);
    EXPECT_EQ(render(*scope).pixel(50, 50), kWhite);
    scope->setPhase(1e30f);
    EXPECT_EQ(render(*scope).pixel(50, 50), kNeedle);

    for (QSize size : {QSize(1, 1), QSize(4, 3), QSize(0, 10)}) {
        scope->resize(size);
        (void)render(*scope);
    }
}
