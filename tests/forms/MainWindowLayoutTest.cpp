// The main window as the user sees it: geometry, captions, fonts, focus order, read from the
// live window.
#include "FormFonts.h"
#include "MainWindowFixture.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

using namespace corvane;
using namespace corvane::test;

namespace {

struct Placement
{
    const char* name;
    const char* parent;
    QRect rect; // width and height -1 for labels that size themselves to their caption
    const char* text;
};

const Placement kPlacements[] = {
    {"Panel1", "TFormMain", {6, 5, 187, 204}, ""},
    {"ImageAlign", "Panel1", {4, 4, 179, 196}, ""},
    {"GroupBox1", "TFormMain", {200, 0, 305, 113}, "Level Controls"},
    {"Label2", "GroupBox1", {9, 31, -1, -1}, "Max level"},
    {"SliderMax", "GroupBox1", {56, 16, 241, 41}, ""},
    {"Label1", "GroupBox1", {10, 79, -1, -1}, "Min level"},
    {"SliderMin", "GroupBox1", {56, 64, 241, 41}, ""},
    {"GroupBox2", "TFormMain", {200, 120, 305, 177}, "Settings"},
    {"Label3", "GroupBox2", {16, 24, -1, -1}, "Number of Rows"},
    {"EditNRows", "GroupBox2", {111, 21, 74, 21}, "24"},
    {"Label4", "GroupBox2", {16, 48, -1, -1}, "Number of Cols"},
    {"EditNCols", "GroupBox2", {111, 45, 74, 21}, "24"},
    {"Label5", "GroupBox2", {16, 72, -1, -1}, "Sample rate"},
    {"EditSampleRate", "GroupBox2", {111, 69, 74, 21}, "28800"},
    {"Label7", "GroupBox2", {16, 96, -1, -1}, "Sample block size"},
    {"EditSampleBlockSize", "GroupBox2", {111, 93, 74, 21}, "1024"},
    {"Label6", "GroupBox2", {16, 120, -1, -1}, "Sample per pixel"},
    {"EditSamplePerPixel", "GroupBox2", {111, 117, 74, 21}, "4"},
    {"Label8", "GroupBox2", {16, 144, -1, -1}, "Samples averaged"},
    {"EditSampleAveraged", "GroupBox2", {111, 141, 74, 21}, "5"},
    {"Button6", "GroupBox2", {200, 106, 89, 25}, "Default"},
    {"Button5", "GroupBox2", {200, 138, 89, 25}, "Apply"},
    {"Panel2", "TFormMain", {6, 216, 186, 80}, ""},
    {"Button1", "Panel2", {16, 12, 73, 25}, "Start / Stop"},
    {"Button2", "Panel2", {96, 12, 73, 25}, "Set Volume"},
    {"Button3", "Panel2", {16, 44, 73, 25}, "About"},
    {"Button4", "Panel2", {96, 44, 73, 25}, "Exit"},
};

QString captionOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<const QGroupBox*>(widget))
        return box->title();
    return {};
}

TEST_F(MainWindowTest, WindowFrame)
{
    EXPECT_EQ(form->windowTitle(), "Corvane");
    EXPECT_EQ(form->objectName(), "TFormMain");
    EXPECT_EQ(form->size(), QSize(510, 305));
    EXPECT_EQ(form->minimumSize(), QSize(510, 305));
    EXPECT_EQ(form->maximumSize(), QSize(510, 305));
    EXPECT_EQ(form->pos(), QPoint(54, 35));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->ExeDirectory(), QCoreApplication::applicationDirPath() + "/");
}

TEST_F(MainWindowTest, EveryControlWhereTheLayoutPutsIt)
{
    for (const Placement& p : kPlacements) {
        SCOPED_TRACE(p.name);
        auto* widget = form->findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.parent));
        EXPECT_EQ(widget->pos(), p.rect.topLeft());
        if (p.rect.width() >= 0) {
            EXPECT_EQ(widget->size(), p.rect.size());
        }
        EXPECT_EQ(captionOf(widget), QString::fromLatin1(p.text));
        EXPECT_TRUE(widget->isVisible());
    }
}

// Every caption in Liberation Sans at 11 px with fixed hinting, and fitting: a label must end
// before the control to its right; buttons and edits must show their whole text inside, and
// group box titles must fit their frame.
TEST_F(MainWindowTest, EveryCaptionIsLiberationSansAndFits)
{
    ASSERT_TRUE(formFontAvailable())
        << "resolved to " << resolvedFamily(formFont(11)).toStdString();
    EXPECT_EQ(QFontInfo(form->font()).pixelSize(), 21);
    for (const Placement& p : kPlacements) {
        const auto* widget = form->findChild<QWidget*>(QString::fromLatin1(p.name));
        const QString caption = captionOf(widget);
        if (caption.isEmpty())
            continue;
        SCOPED_TRACE(p.name);
        const QFontInfo info(widget->font());
        EXPECT_EQ(info.family(), "Liberation Sans");
        EXPECT_EQ(info.pixelSize(), 11);
        EXPECT_EQ(widget->font().hintingPreference(), QFont::PreferFullHinting);

        const int textWidth = widget->fontMetrics().horizontalAdvance(caption);
        if (qobject_cast<const QLabel*>(widget)) {
            EXPECT_LE(textWidth, widget->width());
            const int nextLeft = widget->parentWidget()->objectName() == "GroupBox1" ? 56 : 111;
            EXPECT_LE(widget->x() + widget->width(), nextLeft);
            EXPECT_GE(widget->height(), widget->fontMetrics().height());
        } else if (qobject_cast<const QGroupBox*>(widget)) {
            EXPECT_LE(textWidth + 16, widget->width());
        } else {
            EXPECT_LE(textWidth + 8, widget->width()); // room for the frame and a margin
        }
    }
}

// The layout must not depend on how the desktop hints fonts.
TEST(MainWindowFonts, CaptionsFitUnderEveryHinting)
{
    struct Gap
    {
        const char* caption;
        int room;
    };
    const Gap gaps[] = {{"Samples averaged", 95}, {"Sample block size", 95}, {"Number of Rows", 95},
                        {"Number of Cols", 95},   {"Sample per pixel", 95},  {"Sample rate", 95},
                        {"Max level", 47},        {"Min level", 46}};
    for (QFont::HintingPreference hinting :
         {QFont::PreferDefaultHinting, QFont::PreferNoHinting, QFont::PreferVerticalHinting,
          QFont::PreferFullHinting}) {
        QFont font = formFont(11);
        font.setHintingPreference(hinting);
        const QFontMetrics metrics(font);
        for (const Gap& gap : gaps) {
            SCOPED_TRACE(std::string(gap.caption) + " hinting " + std::to_string(hinting));
            EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(gap.caption)), gap.room);
        }
    }
}

TEST_F(MainWindowTest, TabWalksTheWindowInTheLayoutsOrder)
{
    const QStringList expected =
        QString("SliderMax SliderMin EditNRows EditNCols EditSampleRate EditSamplePerPixel "
                "Button5 Button6 EditSampleBlockSize EditSampleAveraged Button2 Button1 Button3 "
                "Button4 SliderMax")
            .split(' ');
    form->SliderMax->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(waitUntil([&] { return form->SliderMax->hasFocus(); }));
    QStringList walked = {QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(walked, expected);

    // Shift+Tab walks back the same way.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Button4");
}

} // namespace
