#include "FormFonts.h"

#include <QFontInfo>

namespace corvane {

QFont formFont(int pixelSize, bool bold)
{
    QFont font(QString::fromLatin1(kFormFontFamily));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

QString resolvedFamily(const QFont& font)
{
    return QFontInfo(font).family();
}

bool formFontAvailable()
{
    return resolvedFamily(formFont(11)) == QLatin1String(kFormFontFamily);
}

} // namespace corvane
