#include "ErrorReporting.h"
#include "Eventually.h"
#include "TCampo.h"
#include "TCampoMemo.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using corvane::NavigatingEdit;
using corvane::TCampo;
using corvane::TCampoMemo;

namespace {

const QColor kYellow(255, 255, 0);
const QColor kLightBlue(160, 224, 255);

QColor baseOf(const QWidget* w)
{
    return w->palette().color(QPalette::Base);
}

QColor windowBase(const QWidget* w)
{
    return QApplication::palette(w).color(QPalette::Base);
}

// Qt keeps its own record of the held modifiers; tests set it with spontaneous key events.
void holdShift(QWidget* w)
{
    QTest::keyPress(w, Qt::Key_Shift, Qt::ShiftModifier);
}

void releaseModifiers(QWidget* w)
{
    QTest::keyRelease(w, Qt::Key_Shift, Qt::NoModifier);
}

template <class W>
W* place(W* widget, const char* name, int x, int y, int width = 120, int height = 22)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

// A form laid out like a small data-entry window:
//   name, city (top level) | panel { street, number, [label] } | lone { only } | ok
// with tab order name, city, street, number, only, ok.
struct Form
{
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    TCampo* name = nullptr;
    TCampoMemo* city = nullptr;
    QFrame* panel = nullptr;
    TCampo* street = nullptr;
    TCampoMemo* number = nullptr;
    QWidget* lone = nullptr;
    TCampoMemo* only = nullptr;
    QPushButton* ok = nullptr;
    QStringList errors;

    Form()
    {
        QWidget* w = window.get();
        w->resize(400, 300);
        name = place(new TCampo(w), "name", 10, 10);
        city = place(new TCampoMemo(w), "city", 10, 40);
        panel = place(new QFrame(w), "panel", 150, 10, 200, 120);
        panel->setFrameShape(QFrame::Panel);
        street = place(new TCampo(panel), "street", 10, 10);
        number = place(new TCampoMemo(panel), "number", 10, 40);
        new QLabel(QStringLiteral("No stop"), panel);
        lone = place(new QWidget(w), "lone", 10, 150, 200, 40);
        only = place(new TCampoMemo(lone), "only", 5, 5);
        ok = place(new QPushButton(QStringLiteral("OK"), w), "ok", 10, 250, 80, 26);
        for (auto [a, b] : {std::pair<QWidget*, QWidget*>{name, city},
                            {city, street},
                            {street, number},
                            {number, only},
                            {only, ok}})
            QWidget::setTabOrder(a, b);
        name->setText(QStringLiteral("Ada"));
        city->setText(QStringLiteral("London"));
        corvane::setErrorReporter([this](const QString& m) { errors << m; });
    }
    ~Form() { corvane::setErrorReporter(nullptr); }

    void show(QWidget* focus)
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        focus->setFocus(Qt::OtherFocusReason);
        ASSERT_EVENTUALLY(focus->hasFocus());
        QCoreApplication::sendPostedEvents(focus, 0); // the entry's End key
    }
};

} // namespace

TEST(Fields, FocusColourFollowsTheFocusCampoUpperCasesWhatIsTyped)
{
    Form f;
    // Whatever colour a field had before, leaving it gives the window colour back.
    QPalette red = f.city->palette();
    red.setColor(QPalette::Base, Qt::red);
    f.city->setPalette(red);
    f.show(f.name);
    EXPECT_EQ(baseOf(f.name), kYellow);
    EXPECT_EQ(baseOf(f.city), QColor(Qt::red));
    QTest::keyClicks(f.name, " abc");
    EXPECT_EQ(f.name->text(), "ADA ABC");
    f.name->setText("straße");
    EXPECT_EQ(f.name->text(), "STRASSE");

    QTest::keyClick(f.name, Qt::Key_Tab);
    ASSERT_EVENTUALLY(f.city->hasFocus());
    EXPECT_EQ(baseOf(f.city), kLightBlue);
    EXPECT_EQ(baseOf(f.name), windowBase(f.name));
    QTest::keyClicks(f.city, " abc");
    EXPECT_EQ(f.city->text(), "London abc");

    QTest::keyClick(f.city, Qt::Key_Tab);
    ASSERT_EVENTUALLY(f.street->hasFocus());
    EXPECT_EQ(baseOf(f.city), windowBase(f.city));
    EXPECT_EQ(baseOf(f.street), kYellow);
}

// Entering a field puts the caret at its end, extending the selection when Shift is held at
// that moment (the End key is posted, so the moment is its delivery).
TEST(Fields, EntryPutsTheCaretAtTheEndWithTheModifiersHeldOnArrival)
{
    const struct
    {
        const char* what;
        bool backwards; // Shift+Tab from the next field instead of Tab from the previous
        bool shiftAtDelivery;
        QString selected; // of "Cambridge" with the caret at 3 before entry
    } cases[] = {{"Shift+Tab, Shift still down", true, true, "bridge"},
                 {"Shift+Tab, Shift let go first", true, false, QString()},
                 {"Tab, Shift pressed meanwhile", false, true, "bridge"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Form f;
        f.city->setText(QStringLiteral("Cambridge"));
        f.city->setCursorPosition(3);
        QWidget* from = c.backwards ? static_cast<QWidget*>(f.street) : f.name;
        f.show(from);
        if (c.backwards) {
            holdShift(from);
            QTest::keyPress(from, Qt::Key_Backtab, Qt::ShiftModifier);
            QTest::keyRelease(from, Qt::Key_Backtab, Qt::ShiftModifier);
        } else {
            QTest::keyClick(from, Qt::Key_Tab);
            if (c.shiftAtDelivery)
                holdShift(f.city);
        }
        ASSERT_TRUE(f.city->hasFocus());
        if (!c.shiftAtDelivery)
            releaseModifiers(f.city); // let go before the posted End is delivered
        ASSERT_EVENTUALLY(f.city->cursorPosition() == 9);
        EXPECT_EQ(f.city->selectedText(), c.selected);
        releaseModifiers(f.city);
    }
}

// Made after everything else, a control comes last in the window.
void addAfter(Form& f, QWidget* before = nullptr)
{
    place(new TCampoMemo(f.window.get()), "after", 200, 200, 100, 22);
    if (before)
        QWidget::setTabOrder(before, f.window->findChild<QWidget*>("after"));
}

void withDefaultButton(Form& f)
{
    f.ok->setDefault(true);
}

// Enter and Down move on in the tab order (Shift+Enter back), unless a default button takes
// Enter; handlers see them (Enter also as a key press of char 0). Up moves to the previous
// control of the field's parent, depth first (name, city, panel, street, number, lone, only,
// ok), wrapping; handlers never see it. Nothing is ever inserted.
TEST(Fields, KeysMoveTheFocusAlongTheWindow)
{
    const struct
    {
        const char* field;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* expected;
        void (*prepare)(Form&) = nullptr;
        bool error = false;
    } cases[] = {
        {"city", Qt::Key_Enter, Qt::KeypadModifier, "street"},
        {"city", Qt::Key_Return, Qt::ShiftModifier, "name"},
        {"city", Qt::Key_Return, {}, "city", withDefaultButton}, // the button took it
        {"city", Qt::Key_Return, Qt::ShiftModifier, "name", withDefaultButton},
        {"city", Qt::Key_Down, {}, "street", withDefaultButton},
        {"name", Qt::Key_Up, {}, "ok"},
        {"street", Qt::Key_Up, {}, "number"}, // the first of its panel wraps within the panel
        {"after", Qt::Key_Up, {}, "number", [](Form& f) { addAfter(f, f.number); }},
        {"after",
         Qt::Key_Up,
         {},
         "bare",
         [](Form& f) {
             new QLabel(QStringLiteral("only paints"),
                        place(new QFrame(f.window.get()), "bare", 200, 150, 100, 40));
             addAfter(f);
         }},
        {"only", Qt::Key_Up, {}, "only"},
        {"city", Qt::Key_Up, {}, "city", [](Form& f) { f.name->setEnabled(false); }, true},
        {"city", Qt::Key_Up, {}, "name", [](Form& f) { f.name->setFocusPolicy(Qt::NoFocus); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.key) + " to " + c.expected);
        Form f;
        if (c.prepare)
            c.prepare(f);
        auto* field = f.window->findChild<NavigatingEdit*>(c.field);
        f.show(field);
        const QString text = field->text();
        QSignalSpy downs(field, &NavigatingEdit::keyDown);
        QSignalSpy presses(field, &NavigatingEdit::keyPress);
        QSignalSpy clicks(f.ok, &QPushButton::clicked);
        if (c.modifiers & Qt::ShiftModifier)
            holdShift(field);
        QTest::keyClick(field, c.key, c.modifiers);
        auto* expected = f.window->findChild<QWidget*>(c.expected);
        ASSERT_EVENTUALLY(QApplication::focusWidget() == expected);
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::focusWidget()->objectName(), c.expected);
        releaseModifiers(expected);
        const bool taken = c.key == Qt::Key_Return && expected == field;
        EXPECT_EQ(clicks.count(), taken ? 1 : 0);
        EXPECT_EQ(field->text(), text) << "nothing inserted";
        const bool sawKey = std::any_of(downs.begin(), downs.end(), [&](const QList<QVariant>& a) {
            return a.at(0).toInt() == int(c.key);
        });
        EXPECT_EQ(sawKey, !taken && c.key != Qt::Key_Up);
        if (!taken && (c.key == Qt::Key_Return || c.key == Qt::Key_Enter)) {
            ASSERT_GE(presses.count(), 1);
            EXPECT_EQ(presses.at(0).at(0).value<QChar>(), QChar(0));
        }
        EXPECT_EQ(f.errors, c.error ? QStringList{"Cannot focus a disabled or invisible window"}
                                    : QStringList{});
    }
}

TEST(Fields, EscapeClosesTheWindowThenHandlersSeeIt)
{
    Form f;
    f.show(f.city);
    bool windowWasClosed = false;
    QObject::connect(f.city, &NavigatingEdit::keyDown, [&](int key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Escape)
            windowWasClosed = !f.window->isVisible();
    });
    QTest::keyClick(f.city, Qt::Key_Escape);
    EXPECT_FALSE(f.window->isVisible());
    EXPECT_TRUE(windowWasClosed);
    EXPECT_EVENTUALLY(baseOf(f.city) == windowBase(f.city)); // closing the window left it

    // Shown again, the field is entered again.
    f.show(f.city);
    EXPECT_EQ(baseOf(f.city), kLightBlue);
}

TEST(Fields, EscapeOnADialogIsTheDialogsCancel)
{
    QDialog dialog;
    auto* field = new TCampoMemo(&dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->move(0, 40);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    QSignalSpy finished(&dialog, &QDialog::finished);
    QSignalSpy downs(field, &NavigatingEdit::keyDown);
    const auto escapes = [&] {
        return std::count_if(downs.begin(), downs.end(), [](const QList<QVariant>& a) {
            return a.at(0).toInt() == Qt::Key_Escape;
        });
    };
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    field->setFocus();
    ASSERT_EVENTUALLY(field->hasFocus());

    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_EVENTUALLY(!dialog.isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(escapes(), 0) << "the dialog took it";
}

// ---- data binding against a real table ----

class Bound : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db = QSqlDatabase::addDatabase("QSQLITE", "fields");
        db.setDatabaseName(":memory:");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("create table people (id integer primary key, name text)"));
        ASSERT_TRUE(q.exec("insert into people values (1, 'ada lovelace'), (2, 'alan')"));
        model = std::make_unique<QSqlTableModel>(nullptr, db);
        model->setTable("people");
        model->setEditStrategy(QSqlTableModel::OnFieldChange);
        ASSERT_TRUE(model->select());
    }
    void TearDown() override
    {
        form.reset();
        model.reset();
        db = QSqlDatabase(); // closes it: nothing may hold the connection when it is removed
        QSqlDatabase::removeDatabase("fields");
    }
    QString stored(int id)
    {
        QSqlQuery q(db);
        q.exec(QString("select name from people where id = %1").arg(id));
        return q.next() ? q.value(0).toString() : QString();
    }

    QSqlDatabase db;
    std::unique_ptr<QSqlTableModel> model;
    std::unique_ptr<Form> form = std::make_unique<Form>();
};

// A bound field shows its value in upper case and writes back only edits, when left; Escape
// closes the window and drops the unsaved edit, closing the window keeps it; a field the table
// lacks is reported.
TEST_F(Bound, ShowsTheValueWritesBackEditsAndDropsThemOnEscape)
{
    TCampo* field = form->name;
    field->setProperty("dataSource", QVariant::fromValue<QAbstractItemModel*>(model.get()));
    field->setProperty("dataField", QStringLiteral("name"));
    EXPECT_EQ(field->text(), QStringLiteral("ADA LOVELACE"));

    // Passing through without typing writes nothing.
    form->show(field);
    QTest::keyClick(field, Qt::Key_Tab);
    ASSERT_EVENTUALLY(form->city->hasFocus());
    EXPECT_EQ(stored(1), QStringLiteral("ada lovelace"));

    // An edit goes back when the field is left.
    QTest::keyClick(form->city, Qt::Key_Up);
    ASSERT_EVENTUALLY(field->hasFocus());
    ASSERT_EVENTUALLY(field->cursorPosition() == 12);
    QTest::keyClicks(field, QStringLiteral(" jr"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EVENTUALLY(form->city->hasFocus());
    EXPECT_EQ(stored(1), QStringLiteral("ADA LOVELACE JR"));

    // Another row, and changes made elsewhere show at once.
    field->setDataRow(1);
    EXPECT_EQ(field->text(), QStringLiteral("ALAN"));
    model->setData(model->index(1, 1), QStringLiteral("alan turing"));
    EXPECT_EQ(field->text(), QStringLiteral("ALAN TURING"));

    // Escape closes the window and drops the unsaved edit; closing the window keeps it.
    field->setDataRow(0);
    field->setDataField(QStringLiteral("NAME")); // field names match in any case
    form->show(field);
    QTest::keyClicks(field, QStringLiteral("xyz"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(form->window->isVisible());
    EXPECT_EQ(stored(1), QStringLiteral("ADA LOVELACE JR"));
    EXPECT_EQ(field->text(), QStringLiteral("ADA LOVELACE JR"));

    form->show(field);
    QTest::keyClicks(field, QStringLiteral("!"));
    form->window->close();
    EXPECT_EQ(stored(1), QStringLiteral("ADA LOVELACE JR!"));

    form->street->setDataField(QStringLiteral("surname"));
    form->street->setDataSource(model.get());
    EXPECT_EQ(form->errors, QStringList{"Field 'surname' not found"});
}
