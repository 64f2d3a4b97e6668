#include "UserSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace corvane {

std::unique_ptr<QSettings> openUserSettings()
{
    // QSettings reads its file as it is made, so the name is checked first.
    const QString path =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("corvane/corvane.conf"));
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        qWarning("Settings not read or saved: %s is not a regular file", qPrintable(path));
        return nullptr;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

} // namespace corvane
