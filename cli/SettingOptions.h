#pragma once

#include "DecoderSettings.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>
#include <vector>

namespace corvane {

// The decoder settings as command-line options, e.g. --samples-per-pixel N.
// The window and the tools share them: the same values pass, with the same words if not.
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
// Repeated, an option's last value wins only when all its values are good (settings untouched).
std::optional<QString> readSettingOptions(const QCommandLineParser& parser,
                                          const std::vector<SettingOption>& options,
                                          DecoderSettings& settings);

// -h / --help. QCommandLineParser::addHelpOption() also offers --help-all, which lists Qt's
// own options; our programs parse their command line before any Qt machinery that would take
// those, so they are not offered.
QCommandLineOption addHelpOption(QCommandLineParser& parser);

// What a number option takes: from min to max (or above min, when min itself is not a value
// that makes sense), whole or not.
struct NumberRule
{
    double min = 0;
    double max = 0;
    bool whole = false;
    bool aboveMin = false;
};

// A number option by its rule into value: every value given must be good, and the last wins;
// an option neither given nor defaulted leaves value alone. Otherwise a complaint naming the
// option, what it takes and the bad value.
std::optional<QString> readNumberOption(const QCommandLineParser& parser,
                                        const QCommandLineOption& option, const NumberRule& rule,
                                        double& value);
inline std::optional<QString> readNumberOption(const QCommandLineParser& parser,
                                               const QCommandLineOption& option, double min,
                                               double max, double& value)
{
    return readNumberOption(parser, option, NumberRule{min, max}, value);
}
// The same for a whole number.
std::optional<QString> readNumberOption(const QCommandLineParser& parser,
                                        const QCommandLineOption& option, NumberRule rule,
                                        int& value);

} // namespace corvane
