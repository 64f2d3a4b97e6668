#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

// Runs a program of the build (or one named by its path) as a user would, and what it said.
struct ToolRun
{
    int exitCode = -1; // -2: crashed or did not finish
    QByteArray out, err;
};

struct ToolInput
{
    QByteArray bytes{};   // written to standard input, or
    QString stdinFile{};  // standard input read from this file (else nothing)
    QString stdoutFile{}; // standard output written to this file
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    int timeoutMs = 60000;
};

inline ToolRun runTool(const QString& program, const QStringList& args, const ToolInput& in = {})
{
    QProcess process;
    process.setProcessEnvironment(in.environment);
    if (in.bytes.isEmpty())
        process.setStandardInputFile(in.stdinFile.isEmpty() ? QProcess::nullDevice()
                                                            : in.stdinFile);
    if (!in.stdoutFile.isEmpty())
        process.setStandardOutputFile(in.stdoutFile);
    process.start(program.contains(u'/') ? program : QStringLiteral(CORVANE_BIN_DIR "/") + program,
                  args);
    if (!in.bytes.isEmpty() && process.waitForStarted())
        process.write(in.bytes);
    process.closeWriteChannel();
    const bool ended =
        process.waitForFinished(in.timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -2, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
