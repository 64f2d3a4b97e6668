#include "SettingOptions.h"

#include <cmath>

namespace corvane {

std::vector<SettingOption> settingOptions(bool withBlockSize)
{
    std::vector<SettingOption> options = {
        {SettingField::Rows, "rows"},
        {SettingField::Cols, "cols"},
        {SettingField::SamplesPerPixel, "samples-per-pixel"},
        {SettingField::SamplesAveraged, "samples-averaged"},
        {SettingField::MinLevel, "min-level"},
        {SettingField::MaxLevel, "max-level"},
        {SettingField::SampleRate, "sample-rate"},
    };
    if (withBlockSize)
        options.push_back({SettingField::BlockSize, "block-size"});
    return options;
}

void addSettingOptions(QCommandLineParser& parser, const std::vector<SettingOption>& options)
{
    const DecoderSettings defaults;
    for (const SettingOption& option : options) {
        const SettingRange range = settingRange(option.field);
        DecoderSettings copy = defaults;
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(option.name),
                               QStringLiteral("%1, %2..%3 (default %4).")
                                   .arg(QString::fromStdString(settingCaption(option.field)))
                                   .arg(range.min)
                                   .arg(range.max)
                                   .arg(settingRef(copy, option.field)),
                               QStringLiteral("N")));
    }
}

std::optional<QString> readSettingOptions(const QCommandLineParser& parser,
                                          const std::vector<SettingOption>& options,
                                          DecoderSettings& settings)
{
    DecoderSettings read = settings;
    for (const SettingOption& option : options) {
        const QString name = QString::fromLatin1(option.name);
        for (const QString& text : parser.values(name)) {
            bool ok = false;
            const qlonglong value = text.trimmed().toLongLong(&ok);
            const SettingRange range = settingRange(option.field);
            if (!ok || checkSetting(option.field, value)) {
                return QStringLiteral("--%1 must be an integer between %2 and %3 (got '%4')")
                    .arg(name)
                    .arg(range.min)
                    .arg(range.max)
                    .arg(text);
            }
            settingRef(read, option.field) = static_cast<std::int32_t>(value);
        }
    }
    settings = read;
    return std::nullopt;
}

QCommandLineOption addHelpOption(QCommandLineParser& parser)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    return help;
}

std::optional<QString> readNumberOption(const QCommandLineParser& parser,
                                        const QCommandLineOption& option, const NumberRule& rule,
                                        double& value)
{
    for (const QString& text : parser.values(option)) {
        bool ok = false;
        const double read = text.trimmed().toDouble(&ok);
        const bool inRange = rule.aboveMin ? read > rule.min && read <= rule.max
                                           : read >= rule.min && read <= rule.max;
        if (!ok || !inRange || (rule.whole && read != std::floor(read))) {
            const QString kind =
                rule.whole ? QStringLiteral("a whole number") : QStringLiteral("a number");
            const QString range =
                rule.aboveMin ? QStringLiteral("above %1 and up to %2").arg(rule.min).arg(rule.max)
                              : QStringLiteral("from %1 to %2").arg(rule.min).arg(rule.max);
            return QStringLiteral("--%1 must be %2 %3 (got '%4')")
                .arg(option.names().front(), kind, range, text);
        }
        value = read;
    }
    return std::nullopt;
}

std::optional<QString> readNumberOption(const QCommandLineParser& parser,
                                        const QCommandLineOption& option, NumberRule rule,
                                        int& value)
{
    rule.whole = true;
    double read = value;
    auto problem = readNumberOption(parser, option, rule, read);
    if (!problem)
        value = static_cast<int>(read);
    return problem;
}

} // namespace corvane
