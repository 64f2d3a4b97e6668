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

} // namespace corvane
