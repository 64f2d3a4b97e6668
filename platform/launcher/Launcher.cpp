#include "Launcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
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

bool DetachedProcessLauncher::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
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

namespace {

// The desktop's own place for the recording level, as its users know it.
QString desktopSoundSettings(const QString& desktop)
{
    const QString lower = desktop.toLower();
    if (lower.contains(QLatin1String("gnome")) || lower.contains(QLatin1String("unity")))
        return QStringLiteral("GNOME Settings, Sound (package gnome-control-center)");
    if (lower.contains(QLatin1String("kde")))
        return QStringLiteral("System Settings, Audio (package plasma-pa)");
    if (lower.contains(QLatin1String("mate")))
        return QStringLiteral("the MATE sound preferences (package mate-media)");
    return {};
}

} // namespace

std::optional<QString> launchRecordingLevelControl(ProgramLauncher& launcher,
                                                   const QString& desktop)
{
    if (auto command = findRecordingLevelControl(launcher)) {
        if (launcher.startDetached(command->program, command->arguments))
            return std::nullopt;
        return QStringLiteral("Could not start %1 to set the recording level.")
            .arg(command->program);
    }
    QString text = QStringLiteral(
        "No recording-level control is installed. Install pavucontrol (PulseAudio Volume "
        "Control, package pavucontrol) and press Set Volume again");
    if (const QString own = desktopSoundSettings(desktop); !own.isEmpty())
        text += QStringLiteral(", or use ") + own;
    return text + QStringLiteral(". Its Input Devices tab sets the recording level.");
}

QStringList helpPageCandidates(const QString& exeDirectory)
{
    return {exeDirectory + QStringLiteral("help/help.htm"),
            QDir::cleanPath(exeDirectory + QStringLiteral(CORVANE_INSTALLED_HELP_DIR) +
                            QStringLiteral("/help.htm"))};
}

std::optional<QString> openHelpPage(ProgramLauncher& launcher, const QString& exeDirectory)
{
    const QStringList candidates = helpPageCandidates(exeDirectory);
    for (const QString& page : candidates) {
        if (!QFileInfo(page).isFile())
            continue;
        if (launcher.openUrl(QUrl::fromLocalFile(page)))
            return std::nullopt;
        return QStringLiteral("Could not open the help page: no web browser is set up to open "
                              "it. Set a default browser (xdg-settings set default-web-browser, "
                              "package xdg-utils) or open %1 in a browser by hand.")
            .arg(page);
    }
    return QStringLiteral("The help page is not installed; looked for %1.")
        .arg(candidates.join(QStringLiteral(" and ")));
}

} // namespace corvane
