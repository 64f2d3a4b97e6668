#pragma once

#include "DecoderSettings.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>
#include <vector>

namespace corvane {

// The decoder settings as command-line options, e.g. --samples-per-pixel N.
struct SettingOption
{
    SettingField field;
    const char* name;
};

// All settings options except --block-size when withBlockSize is false.
std::vector<SettingOption> settingOptions(bool withBlockSize);

void addSettingOptions(QCommandLineParser& parser, const std::vector<SettingOption>& options);

// Stores every given option into settings. On a bad value returns a one-line complaint naming
// the option and its range, e.g. "--rows must be an integer between 1 and 1000 (got '0')".
std::optional<QString> readSettingOptions(const QCommandLineParser& parser,
                                          const std::vector<SettingOption>& options,
                                          DecoderSettings& settings);

} // namespace corvane
