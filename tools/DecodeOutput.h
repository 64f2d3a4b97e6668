#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace corvane {

// The picture format for an output name (png or ppm; "-" is PNG on standard output), or an
// empty array when we cannot write it.
QByteArray pictureFormat(const QString& path);

// Encodes the picture in memory and writes it through the safe-file path, so a full disk or a
// device in the way is reported instead of leaving a truncated or empty picture.
bool writePicture(const QString& path, const QByteArray& format, const QImage& image,
                  QString* error);

// Makes the folder for numbered frames. A folder already holding frames of an earlier run is
// refused: writing over the first of them and leaving the rest would mix two runs.
bool prepareFramesFolder(const QString& path, QString* error);

} // namespace corvane
