#include "SaveLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

namespace corvane {

QString chooseWithSaveDialog(QWidget* parent, const QString& caption, const QString& suggestedPath,
                             const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, suggestedPath, filter);
}

QString timeStampedPath(QStandardPaths::StandardLocation folder, const QString& suffix,
                        const QDateTime& when)
{
    QString dir = QStandardPaths::writableLocation(folder);
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::homePath();
    return QDir(dir).filePath(QStringLiteral("corvane-%1.%2")
                                  .arg(when.toString(QStringLiteral("yyyy-MM-dd-HHmmss")), suffix));
}

QString withSuffix(QString path, const QString& suffix)
{
    if (QFileInfo(path).suffix().isEmpty())
        path += u'.' + suffix;
    return path;
}

bool savePng(const QImage& image, const QString& path, QString* error)
{
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
    } else {
        QImageWriter writer(&file, "png");
        if (!writer.write(image))
            reason = writer.errorString();
        else if (!file.commit())
            reason = file.errorString();
    }
    if (reason.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("Cannot save the picture as '%1': %2").arg(path, reason);
    return false;
}

} // namespace corvane
