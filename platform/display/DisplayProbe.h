#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <optional>

namespace corvane {

// Why no window could be opened in this environment, e.g. "DISPLAY is not set", or nullopt
// when a window system the program would use answers. Qt ends the process with an abort when
// its platform plugin cannot connect, so the program asks first and leaves in an orderly way.
// Platforms that need no display server (QT_QPA_PLATFORM=offscreen, vnc, ...) always pass.
std::optional<QString> displayProblem(const QProcessEnvironment& environment);

// Before the application object is made: pictures go to an X server through its socket, not
// through shared memory, unless the user chose otherwise (QT_XCB_NO_MITSHM). Through shared
// memory a paint over columns the server may still be reading waits for an X round trip, which
// wakes Qt's X event thread and then the window thread, often on the other processor: that
// costs more than sending the few changed columns of a buffer.
void preferSocketTransfer();

} // namespace corvane
