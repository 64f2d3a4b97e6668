#pragma once

#include <QColor>
#include <QLineEdit>

namespace corvane {

// The keyboard habits shared by the data-entry fields (TCampo, TCampoMemo): the field lights up
// in its focus colour while it has the focus, the caret goes to the end on entry, Enter and
// Down move on to the next field of the window, Up to the previous control of the same
// parent (wrapping), and Escape closes the window.
//
// Entry posts an End key and Enter/Down post a Tab key to the field itself. A posted key is
// read with the modifiers held when it is delivered, taken from Qt's own record of the
// keyboard (QGuiApplication::keyboardModifiers()), so Shift+Tab into a field selects to the
// end and Shift+Enter moves backwards.
//
// A plain Enter clicks the window's default button instead, where it has one; note that a
// QDialog makes its first auto-default button the default when shown, so dialogs that want
// Enter to move between fields turn autoDefault off on their buttons. In a dialog, a plain
// Escape is left to the dialog, which cancels.
//
// Up onto a disabled or hidden control reports "Cannot focus a disabled or invisible window"
// through reportError() and leaves the focus where it was.
class NavigatingEdit : public QLineEdit
{
    Q_OBJECT

public:
    ~NavigatingEdit() override;

    QColor focusColor() const { return focusColor_; }

signals:
    // What a key handler of the form sees, after the field's own treatment: Up never arrives,
    // Enter arrives as keyPress(QChar(0)), Escape after the window was closed.
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void keyPress(QChar character);

protected:
    NavigatingEdit(const QColor& focusColor, QWidget* parent);

    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // Called before Escape closes the window; a bound field drops its unsaved edit here.
    virtual void escapePressed() {}
    // Called when the field is left, by the focus moving on or by its window going away.
    virtual void exited() {}

private:
    void baseKey(QKeyEvent* event);
    void postKey(Qt::Key key);
    void deliverPostedKey(Qt::Key key);
    void focusPreviousInParent();
    void setBaseColor(const QColor& color);
    void leave();

    QColor focusColor_;
    bool entered_ = false; // between entry and exit, across window switches
};

} // namespace corvane
