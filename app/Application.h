#pragma once

#include <QApplication>

namespace corvane {

// The application object. An exception that escapes an event handler is shown by the default
// error display and the event loop goes on; Qt itself does not let exceptions cross its loop.
// The window's own handlers catch theirs before they reach Qt's widget code; this is the net
// for everything else.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace corvane
