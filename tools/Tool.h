#pragma once

#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace corvane {

// What every command-line tool of ours shares: its name on each message, the exit codes, help
// and version, and standard output that reports a failure to write instead of dropping it.
class Tool
{
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;   // the input or the output let us down
    static constexpr int kBadUsage = 2; // the command line did

    Tool(const char* name, const char* version, const QString& description);

    QCommandLineParser& parser() { return parser_; }
    const QCommandLineParser& parser() const { return parser_; }
    // Parses the program's arguments; an exit code when the run ends here (help, version, a
    // parse error), nullopt when the tool goes on.
    std::optional<int> parse();

    // Prints "name: message" on standard error and returns code.
    int fail(int code, const QString& message) const;
    void warn(const QString& message) const;
    // Prints "name: message" on standard error: news that is neither a warning nor a failure.
    void note(const QString& message) const;
    // Writes text (or the object as one line of JSON) to standard output: kOk, or kFailed with
    // the reason on standard error.
    int print(const QString& text) const;
    int printJson(const QJsonObject& object) const;

private:
    QString name_;
    QString version_;
    QCommandLineParser parser_;
};

} // namespace corvane
