#include "DecodeOutput.h"

#include "SafeFile.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <filesystem>
#include <system_error>

namespace corvane {

QByteArray pictureFormat(const QString& path)
{
    if (path == QLatin1String("-"))
        return "png";
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        return "png";
    if (lower.endsWith(QLatin1String(".ppm")))
        return "ppm";
    return {};
}

bool writePicture(const QString& path, const QByteArray& format, const QImage& image,
                  QString* error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        *error = QStringLiteral("cannot write '%1': %2").arg(path, writer.errorString());
        return false;
    }
    if (path == QLatin1String("-"))
        return writeStandardOutput(bytes, error);
    return writeFileSafely(path, bytes, error);
}

bool prepareFramesFolder(const QString& path, QString* error)
{
    std::error_code code;
    std::filesystem::create_directories(std::filesystem::path(path.toStdString()), code);
    if (code) {
        *error = QStringLiteral("cannot create the folder '%1': %2")
                     .arg(path, QString::fromStdString(code.message()));
        return false;
    }
    const QStringList earlier =
        QDir(path).entryList({QStringLiteral("frame-*.png")}, QDir::Files, QDir::Name);
    if (!earlier.isEmpty()) {
        *error = QStringLiteral("the folder '%1' already holds frames of an earlier run (%2 …); "
                                "choose an empty folder or remove them")
                     .arg(path, earlier.front());
        return false;
    }
    return true;
}

} // namespace corvane
