#include "Launcher.h"

#include <QProcess>
#include <QStandardPaths>

namespace corvane {

QString DetachedProcessLauncher::findExecutable(const QString& name) const
{
    return QStandardPaths::findExecutable(name);
}

bool DetachedProcessLauncher::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

QList<CommandLine> recordingLevelControls()
{
    return {
        {"pavucontrol", {"--tab=4"}}, // tab 4 lists the input devices
        {"pwvucontrol", {}},
        {"gnome-control-center", {"sound"}},
        {"systemsettings", {"kcm_pulseaudio"}},
        {"mate-volume-control", {"--page=input"}},
    };
}

std::optional<CommandLine> findRecordingLevelControl(const ProgramLauncher& launcher)
{
    for (CommandLine command : recordingLevelControls()) {
        const QString path = launcher.findExecutable(command.program);
        if (path.isEmpty())
            continue;
        command.program = path;
        return command;
    }
    return std::nullopt;
}

void launchRecordingLevelControl(ProgramLauncher& launcher)
{
    if (auto command = findRecordingLevelControl(launcher))
        launcher.startDetached(command->program, command->arguments);
}

CommandLine helpPageCommand(const QString& exeDirectory)
{
    return {"xdg-open", {exeDirectory + "help/help.htm"}};
}

void openHelpPage(ProgramLauncher& launcher, const QString& exeDirectory)
{
    const CommandLine command = helpPageCommand(exeDirectory);
    launcher.startDetached(command.program, command.arguments);
}

} // namespace corvane
