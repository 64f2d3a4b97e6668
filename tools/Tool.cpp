#include "Tool.h"

#include "SafeFile.h"
#include "SettingOptions.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <cstdio>

namespace corvane {

Tool::Tool(const char* name, const char* version, const QString& description)
    : name_(QString::fromLatin1(name)), version_(QString::fromLatin1(version))
{
    QCoreApplication::setApplicationName(name_);
    QCoreApplication::setApplicationVersion(version_);
    parser_.setApplicationDescription(description);
    addHelpOption(parser_);
    parser_.addVersionOption();
}

std::optional<int> Tool::parse()
{
    if (!parser_.parse(QCoreApplication::arguments()))
        return fail(kBadUsage, parser_.errorText());
    if (parser_.isSet(QStringLiteral("help")))
        return print(parser_.helpText());
    if (parser_.isSet(QStringLiteral("version")))
        return print(QStringLiteral("%1 %2\n").arg(name_, version_));
    return std::nullopt;
}

int Tool::fail(int code, const QString& message) const
{
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(name_), qUtf8Printable(message));
    return code;
}

void Tool::warn(const QString& message) const
{
    std::fprintf(stderr, "%s: warning: %s\n", qUtf8Printable(name_), qUtf8Printable(message));
}

void Tool::note(const QString& message) const
{
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(name_), qUtf8Printable(message));
}

int Tool::print(const QString& text) const
{
    QString error;
    return writeStandardOutput(text.toUtf8(), &error) ? kOk : fail(kFailed, error);
}

int Tool::printJson(const QJsonObject& object) const
{
    return print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                 QLatin1Char('\n'));
}

} // namespace corvane
