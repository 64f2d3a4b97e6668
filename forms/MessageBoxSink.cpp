#include "MessageBoxSink.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace corvane {

namespace {

// Qt never leaves a window's title empty on X11: it shows the application's name instead. A
// capture message has no caption, so the box clears the title the window manager shows.
class CaptionlessBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        // Other platforms (offscreen, Wayland) may still hand out the X11 interface, with no
        // connection behind it.
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (!connection)
            return;
        const auto window = static_cast<xcb_window_t>(winId());
        const char name[] = "_NET_WM_NAME";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
        if (atom) {
            xcb_delete_property(connection, window, atom->atom);
            std::free(atom);
        }
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(connection);
    }
};

} // namespace

void MessageBoxSink::showMessage(const QString& text)
{
    CaptionlessBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok,
                       QApplication::activeWindow());
    box.exec();
}

} // namespace corvane
