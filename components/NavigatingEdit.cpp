#include "NavigatingEdit.h"

#include "ErrorReporting.h"
#include "TPhaseScope.h"

#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <algorithm>

namespace corvane {

namespace {

const QEvent::Type kPostedKey = static_cast<QEvent::Type>(QEvent::registerEventType());

// A key the field sends itself through the event queue; what modifiers it has is decided
// when it arrives, not when it was posted.
class PostedKeyEvent : public QEvent
{
public:
    explicit PostedKeyEvent(Qt::Key key) : QEvent(kPostedKey), key(key) {}
    const Qt::Key key;
};

// Labels, images, dial displays and lines only paint: they are no stops on the way up.
bool isPaintedOnly(const QWidget* w)
{
    if (qobject_cast<const QLabel*>(w) || qobject_cast<const TPhaseScope*>(w))
        return true;
    if (const auto* frame = qobject_cast<const QFrame*>(w);
        frame && frame->metaObject() == &QFrame::staticMetaObject)
        return frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine;
    return false;
}

// Qt names the parts it builds inside its own widgets "qt_...": not controls of their own,
// though what the user put inside them (a scroll area's contents) is.
bool isQtInternal(const QWidget* w)
{
    return w->objectName().startsWith(QLatin1String("qt_"));
}

// The parent's controls in tab order, each followed at once by its own controls (depth
// first). Nothing is filtered by focus policy, enabled state or visibility.
void collectControls(const QWidget* parent, const QHash<const QWidget*, int>& chainIndex,
                     QList<QWidget*>& out)
{
    QList<QWidget*> children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    children.removeIf([](const QWidget* w) { return w->isWindow() || isPaintedOnly(w); });
    std::stable_sort(children.begin(), children.end(), [&](const QWidget* a, const QWidget* b) {
        return chainIndex.value(a, INT_MAX) < chainIndex.value(b, INT_MAX);
    });
    for (QWidget* child : children) {
        if (!isQtInternal(child))
            out.append(child);
        collectControls(child, chainIndex, out);
    }
}

QPushButton* defaultButtonOf(QWidget* window)
{
    const auto buttons = window->findChildren<QPushButton*>();
    for (QPushButton* b : buttons)
        if (b->isDefault() && b->window() == window && b->isVisible() && b->isEnabled())
            return b;
    return nullptr;
}

// Whether the key came with nothing but keypad state.
bool plain(const QKeyEvent* e)
{
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

NavigatingEdit::NavigatingEdit(const QColor& focusColor, QWidget* parent)
    : QLineEdit(parent), focusColor_(focusColor)
{}

NavigatingEdit::~NavigatingEdit() = default;

bool NavigatingEdit::event(QEvent* event)
{
    if (event->type() == kPostedKey) {
        deliverPostedKey(static_cast<PostedKeyEvent*>(event)->key);
        return true;
    }
    return QLineEdit::event(event);
}

void NavigatingEdit::focusInEvent(QFocusEvent* event)
{
    const int caret = cursorPosition();
    const bool hadSelection = hasSelectedText();
    QLineEdit::focusInEvent(event);
    // The window coming back to the front, or a popup closing, hands the focus back to the
    // field it never really left: that is no new entry.
    if (entered_)
        return;
    entered_ = true;
    // Qt selects the whole text when tabbed into; these fields never do, the caret stays
    // where it was until the End key below moves it.
    if (!hadSelection && hasSelectedText())
        setCursorPosition(caret);
    setBaseColor(focusColor_);
    postKey(Qt::Key_End);
}

void NavigatingEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window coming to the front is no exit.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    leave();
}

void NavigatingEdit::hideEvent(QHideEvent* event)
{
    // The window going away is an exit, though Qt reports no focus change for it; shown
    // again, the field is entered again.
    QLineEdit::hideEvent(event);
    leave();
}

void NavigatingEdit::leave()
{
    if (!entered_)
        return;
    entered_ = false;
    setBaseColor(QApplication::palette(this).color(QPalette::Base));
    exited();
}

void NavigatingEdit::setBaseColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, color);
    setPalette(p);
}

void NavigatingEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: {
        // A dialog's Escape is its cancel button: the dialog has it, not the field.
        if (plain(event) && qobject_cast<QDialog*>(window())) {
            event->ignore();
            return;
        }
        QPointer<NavigatingEdit> self(this);
        escapePressed();
        window()->close();
        if (!self)
            return;
        baseKey(event);
        event->accept();
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The window's default button takes a plain Enter before any field does.
        if (plain(event)) {
            if (QPushButton* button = defaultButtonOf(window())) {
                button->click();
                event->accept();
                return;
            }
        }
        baseKey(event);
        postKey(Qt::Key_Tab);
        event->accept();
        return;
    case Qt::Key_Down:
        baseKey(event);
        postKey(Qt::Key_Tab);
        event->accept();
        return;
    case Qt::Key_Up:
        focusPreviousInParent();
        event->accept();
        return;
    default:
        baseKey(event);
        return;
    }
}

void NavigatingEdit::baseKey(QKeyEvent* event)
{
    emit keyDown(event->key(), event->modifiers());
    const QString text = event->text();
    if (!text.isEmpty()) {
        // The carriage return is swallowed: handlers see 0 and the edit inserts nothing.
        const bool enter = text.front() == QLatin1Char('\r');
        emit keyPress(enter ? QChar(0) : text.front());
        if (enter) {
            QKeyEvent withoutText(event->type(), event->key(), event->modifiers(), QString());
            QLineEdit::keyPressEvent(&withoutText);
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void NavigatingEdit::postKey(Qt::Key key)
{
    QCoreApplication::postEvent(this, new PostedKeyEvent(key));
}

void NavigatingEdit::deliverPostedKey(Qt::Key key)
{
    const Qt::KeyboardModifiers held = QGuiApplication::keyboardModifiers();
    const QString text = key == Qt::Key_Tab ? QStringLiteral("\t") : QString();
    QKeyEvent press(QEvent::KeyPress, key, held, text);
    // Sent like a typed key, so Qt's own Tab handling moves the focus through the window.
    QCoreApplication::sendEvent(this, &press);
}

void NavigatingEdit::focusPreviousInParent()
{
    const QWidget* parent = parentWidget();
    if (!parent)
        return;

    QHash<const QWidget*, int> chainIndex;
    QWidget* top = window();
    QWidget* w = top;
    int n = 0;
    do {
        chainIndex.insert(w, n++);
        w = w->nextInFocusChain();
    } while (w && w != top);

    QList<QWidget*> controls;
    collectControls(parent, chainIndex, controls);
    qsizetype i = controls.indexOf(this) - 1;
    if (i < 0)
        i = controls.size() - 1;
    if (i < 0)
        return;
    QWidget* target = controls.at(i);
    if (target == this)
        return;
    if (!target->isEnabled() || !target->isVisible()) {
        reportError(tr("Cannot focus a disabled or invisible window"));
        return;
    }
    target->setFocus(Qt::OtherFocusReason);
}

} // namespace corvane
