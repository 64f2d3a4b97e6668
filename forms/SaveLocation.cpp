#include "SaveLocation.h"

#include "SafeFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMessageBox>

namespace corvane {

QString chooseWithSaveDialog(QWidget* parent, const QString& caption, const QString& suggestedPath,
                             const QString& filter)
{
    const QString suffix = QFileInfo(suggestedPath).suffix();
    QFileDialog dialog(parent, caption, suggestedPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without a suffix is to be checked for a file to replace under its final
    // name. The dialog adds the suffix itself, but not always (Qt's own dialog leaves it off
    // when a file of that name with the suffix exists): then we add it and ask.
    dialog.setDefaultSuffix(suffix);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString path = withSuffix(chosen, suffix);
        if (path == chosen || !QFileInfo::exists(path) ||
            QMessageBox::question(&dialog, caption,
                                  QObject::tr("%1 already exists.\nDo you want to replace it?")
                                      .arg(QFileInfo(path).fileName()),
                                  QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) == QMessageBox::Yes)
            return path;
    }
    return {};
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
    // Encoded in memory, then written through the same checked path as the tools' outputs:
    // QSaveFile reports success on a full disk for files this small.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    QString reason;
    if (!writer.write(image))
        reason = writer.errorString();
    else if (!writeFileSafely(path, bytes, &reason))
        reason.remove(0, QStringLiteral("cannot write '%1': ").arg(path).size()); // the why alone
    if (reason.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("Cannot save the picture as '%1': %2").arg(path, reason);
    return false;
}

bool savePictureAs(QWidget* parent, const FileChooser& choose, const QImage& image, QString* error)
{
    const QString chosen =
        choose(parent, QObject::tr("Save the picture"),
               timeStampedPath(QStandardPaths::PicturesLocation, QStringLiteral("png"),
                               QDateTime::currentDateTime()),
               QObject::tr("PNG images (*.png)"));
    return chosen.isEmpty() || savePng(image, withSuffix(chosen, QStringLiteral("png")), error);
}

} // namespace corvane
