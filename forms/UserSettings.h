#pragma once

#include <QSettings>
#include <memory>

namespace corvane {

// The user's settings file, corvane/corvane.conf in the XDG configuration folder (~/.config
// unless XDG_CONFIG_HOME says otherwise), as QSettings(organization, application) keeps it.
// Null, with a warning on the log, when that name holds anything but a regular file: reading a
// FIFO would hang the window, and the defaults serve instead.
std::unique_ptr<QSettings> openUserSettings();

} // namespace corvane
