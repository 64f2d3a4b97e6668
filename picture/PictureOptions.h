#pragma once

#include "PictureAdjust.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>

namespace corvane {

// The picture settings as command-line options:
//   --flip h|v|hv  --rotate 90|180|270  --average N  --brightness B  --contrast C  --gamma G
void addPictureOptions(QCommandLineParser& parser);

// Stores every picture option given into settings; on a bad value returns a one-line complaint
// naming the option, what it takes and what it got, and leaves settings untouched.
std::optional<QString> readPictureOptions(const QCommandLineParser& parser,
                                          PictureSettings& settings);

// One option by its name without dashes ("flip", "rotate", "average", "brightness", "contrast"
// or "gamma"), for callers that read their options another way; the same complaints.
std::optional<QString> setPictureOption(PictureSettings& settings, const QString& name,
                                        const QString& value);

} // namespace corvane
