#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvane {

// Starts other programs without waiting for them. The window goes through this so that tests
// can see the command lines instead of starting anything.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;

    // The full path of an executable found on PATH, or an empty string.
    virtual QString findExecutable(const QString& name) const = 0;

    // Starts program with arguments, detached; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

// The real launcher: QStandardPaths for the look-up, QProcess::startDetached to start.
class DetachedProcessLauncher : public ProgramLauncher
{
public:
    QString findExecutable(const QString& name) const override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
};

struct CommandLine
{
    QString program;
    QStringList arguments;
    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};

// The recording-level controls we know, most specific first: pavucontrol opened on its
// input-devices tab, pwvucontrol, then the sound settings of the common desktops.
QList<CommandLine> recordingLevelControls();

// The first of recordingLevelControls() whose program is installed, if any.
std::optional<CommandLine> findRecordingLevelControl(const ProgramLauncher& launcher);

// Starts the desktop's recording-level control. Nothing happens when none is installed or it
// fails to start: there is nothing the user could do about it here.
void launchRecordingLevelControl(ProgramLauncher& launcher);

// Opens exeDirectory + "help/help.htm" with the desktop's opener (xdg-open); the result is
// ignored as well. exeDirectory ends with a separator.
CommandLine helpPageCommand(const QString& exeDirectory);
void openHelpPage(ProgramLauncher& launcher, const QString& exeDirectory);

} // namespace corvane
