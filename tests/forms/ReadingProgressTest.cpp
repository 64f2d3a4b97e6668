// The window that says how far reading a recording has got: none for a quick reading, shown
// for a slow one, gone when it ends.
#include "ReadingProgress.h"

#include "FormsTestSupport.h"

#include <QProgressDialog>
#include <gtest/gtest.h>

namespace corvane::test {

TEST(ReadingProgress, ShownOnlyForASlowReadingAndGoneWhenItEnds)
{
    QWidget window;
    window.show();
    const auto view = readingProgressView(&window, QStringLiteral("big.wav"));
    const auto shown = [&]() -> QProgressDialog* {
        auto* dialog = window.findChild<QProgressDialog*>();
        return dialog && dialog->isVisible() ? dialog : nullptr;
    };
    view(50, false);
    view(100, true);
    QTest::qWait(800);
    EXPECT_EQ(shown(), nullptr);

    view(10, false);
    ASSERT_TRUE(waitUntil([&] { return shown() != nullptr; }, 2500)); // half a second, not four
    view(40, false);
    EXPECT_EQ(shown()->value(), 40);
    EXPECT_TRUE(shown()->labelText().contains("big.wav"));
    EXPECT_TRUE(window.isEnabled()); // the window stays usable meanwhile
    view(100, true);
    EXPECT_EQ(window.findChild<QProgressDialog*>(), nullptr);
}

} // namespace corvane::test
