#include "Eventually.h"
#include "TPhaseScope.h"

#include <QEvent>
#include <QImage>
#include <limits>
#include <vector>

using corvane::TPhaseScope;

namespace {

const QRgb kNeedle = qRgb(255, 64, 64);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kCorner = qRgb(10, 80, 30);

QImage render(TPhaseScope& scope)
{
    return scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
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
    Scoped s; // at amplitude 0, no needle: the dial's white centre, its grey ticks at 0 and 16
    const QImage dial = render(*s.scope);
    EXPECT_EQ(dial.pixel(50, 50), kWhite);
    EXPECT_TRUE(dial.pixel(50, 85) == qRgb(127, 127, 127) &&
                dial.pixel(49, 14) == qRgb(127, 127, 127));
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
