#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
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

    // Hands url to the desktop's opener (a browser for a page); false when there is none.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The real launcher: QStandardPaths for the look-up, QProcess::startDetached to start,
// QDesktopServices to open.
class DetachedProcessLauncher : public ProgramLauncher
{
public:
    QString findExecutable(const QString& name) const override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    bool openUrl(const QUrl& url) override;
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

// Starts the desktop's recording-level control, once: a failed start is not retried with the
// next candidate. nullopt when it started, otherwise what to tell the user: which control
// failed, or, when none is installed, what to install on this desktop (desktop as in
// XDG_CURRENT_DESKTOP, e.g. "GNOME" or "KDE").
std::optional<QString> launchRecordingLevelControl(ProgramLauncher& launcher,
                                                   const QString& desktop);

// Where the help page may be, in the order looked at: help/help.htm beside the executable (the
// build tree), then the data directory of an installation. exeDirectory ends with a separator.
QStringList helpPageCandidates(const QString& exeDirectory);

// Opens the first help page found with the desktop's opener. nullopt when it was handed over,
// otherwise what to tell the user (no page, or nothing to open it with).
std::optional<QString> openHelpPage(ProgramLauncher& launcher, const QString& exeDirectory);

} // namespace corvane
