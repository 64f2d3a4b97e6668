#pragma once

#include <QIcon>

namespace corvane {

// The program's icon, drawn rather than loaded: Qt here has no SVG reader for the desktop icon.
// A small raster of grey blocks on black, the way the window shows a picture.
QIcon corvaneIcon();

} // namespace corvane
