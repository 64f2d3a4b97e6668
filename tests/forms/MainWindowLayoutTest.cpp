// What the user reads and walks through in the main window: every caption in its font and
// fitting its place under any hinting, and the Tab order.
#include "FormFonts.h"
#include "MainWindowFixture.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>

using namespace corvane;
using namespace corvane::test;

namespace {

// A label must end before the control to its right, a group box title inside its frame, a
// button's or box's text inside it with room for the frame; and so under every hinting.
TEST_F(MainWindowTest, EveryCaptionIsLiberationSansAndFitsUnderAnyHinting)
{
    ASSERT_TRUE(formFontAvailable()) << resolvedFamily(formFont(11)).toStdString();
    int captions = 0;
    for (QWidget* widget : form->findChildren<QWidget*>()) {
        QString caption;
        int room = widget->width() - 8;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            caption = label->text();
            room = (label->parentWidget() == form->GroupBox1 ? 56 : 111) - label->x();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            caption = edit->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            caption = button->text();
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            caption = box->title();
            room = box->width() - 16;
        }
        if (caption.isEmpty())
            continue;
        ++captions;
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_EQ(QFontInfo(widget->font()).family(), "Liberation Sans");
        EXPECT_EQ(QFontInfo(widget->font()).pixelSize(), 11);
        for (auto hinting : {QFont::PreferDefaultHinting, QFont::PreferNoHinting,
                             QFont::PreferVerticalHinting, QFont::PreferFullHinting}) {
            QFont font = widget->font();
            font.setHintingPreference(hinting);
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(caption), room) << hinting;
        }
    }
    EXPECT_EQ(captions, 22);
}

} // namespace
