#pragma once

#include <QStandardPaths>
#include <QString>
#include <functional>

class QDateTime;
class QImage;
class QWidget;

namespace corvane {

// Asks the user where to save: the chosen path, or empty when they cancel. The program uses the
// desktop's save dialog; tests put their own answer in.
using FileChooser = std::function<QString(QWidget* parent, const QString& caption,
                                          const QString& suggestedPath, const QString& filter)>;

// The desktop's save dialog, which also asks before replacing a file. A name given without a
// suffix gets the suggested path's suffix before that question, so the answer has it too.
QString chooseWithSaveDialog(QWidget* parent, const QString& caption, const QString& suggestedPath,
                             const QString& filter);

// "<folder>/corvane-2026-12-07-143005.<suffix>" in the user's folder for such files (their home
// folder when it has none).
QString timeStampedPath(QStandardPaths::StandardLocation folder, const QString& suffix,
                        const QDateTime& when);

// path, with ".suffix" added when it has none. Only for choosers that do not add it themselves:
// the file it names was never offered for replacing.
QString withSuffix(QString path, const QString& suffix);

// Writes image as PNG; the file appears only when complete. False and a reason naming the file
// if it cannot be written.
bool savePng(const QImage& image, const QString& path, QString* error);

// Asks through choose where to save image as PNG, suggesting a time-stamped name in the
// Pictures folder, and saves it there. True when saved or cancelled.
bool savePictureAs(QWidget* parent, const FileChooser& choose, const QImage& image, QString* error);

} // namespace corvane
