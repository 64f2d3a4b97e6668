#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <optional>

struct xcb_connection_t;

namespace corvane {

// The probe's connection to the X server, kept open until Qt has made its own. An X server
// whose last client leaves resets itself; were the probe the only client, Qt would connect
// during that reset and abort. Closed by release() or when it goes.
class DisplayHold
{
public:
    DisplayHold() = default;
    ~DisplayHold() { release(); }
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;

    void keep(xcb_connection_t* connection);
    void release();

private:
    xcb_connection_t* connection_ = nullptr;
};

// Why no window could be opened in this environment, e.g. "DISPLAY is not set", or nullopt
// when a window system the program would use answers. Qt ends the process with an abort when
// its platform plugin cannot connect, so the program asks first and leaves in an orderly way.
// Platforms that need no display server (QT_QPA_PLATFORM=offscreen, vnc, ...) always pass.
// Given hold, a working X connection stays open in it (see DisplayHold).
std::optional<QString> displayProblem(const QProcessEnvironment& environment,
                                      DisplayHold* hold = nullptr);

// Before the application object is made: pictures go to an X server through its socket, not
// through shared memory, unless the user chose otherwise (QT_XCB_NO_MITSHM). Through shared
// memory a paint over columns the server may still be reading waits for an X round trip, which
// wakes Qt's X event thread and then the window thread, often on the other processor: that
// costs more than sending the few changed columns of a buffer.
void preferSocketTransfer();

} // namespace corvane
