#pragma once

#include <QFont>
#include <QString>

namespace corvane {

// The windows' text face. The layout's captions were measured in it; a wider face makes
// "Samples averaged" run into its box.
inline constexpr char kFormFontFamily[] = "Liberation Sans";

// Liberation Sans at pixelSize pixels, with the hinting fixed so that the desktop's font
// settings cannot change the metrics the layout relies on.
QFont formFont(int pixelSize, bool bold = false);

// The family the font system really picked for font (Qt substitutes silently when a family
// is missing).
QString resolvedFamily(const QFont& font);

// Whether formFont() resolves to Liberation Sans on this machine.
bool formFontAvailable();

} // namespace corvane
