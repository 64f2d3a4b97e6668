#pragma once

#include "DecoderSettings.h"
#include "RecordingDevice.h"
#include "SdrCommandLine.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QApplication;

namespace corvane {

class ProgramLauncher;
class TFormMain;

inline constexpr char kApplicationTitle[] = "Corvane";

// What the command line asked for. With no options: live capture from the default source.
struct StartupOptions
{
    QString inputFile;  // --input FILE: play a recording instead of recording
    bool loop = false;  // --loop: start the recording over at its end
    QString deviceName; // --device NAME: record from this source instead of the default
    bool listDevices = false;
    DecoderSettings settings{}; // --rows, --sample-rate, ...: what capture starts with
    bool monitor = false;       // --monitor: open the Monitor window too
    // --source rtl_tcp://…|soapy:…|FILE (with --iq FORMAT): the Monitor on an SDR's samples.
    SdrRequest radio;
    QString radioFile; // an IQ recording to play
};

// Either options to run with, or the exit code and text of a run that ends here (help,
// version, a bad command line).
struct ParsedCommandLine
{
    std::optional<StartupOptions> options;
    int exitCode = 0;
    QString output;      // for stdout
    QString errorOutput; // for stderr
};

ParsedCommandLine parseCommandLine(const QStringList& arguments);

// Names the application and its version (enough for the command line, before any display).
void nameApplication();

// Names the application for the desktop and installs the default error display as the component
// library's error reporter.
void initialiseApplication(QApplication& app);

using DeviceFactory = std::function<std::unique_ptr<RecordingDevice>()>;

// Start-up after the application object exists: the main window first (its creation starts
// capture with settings and shows them), the About window hidden, then the event loop until the
// main window closes. Returns 0 then. An exception escaping start-up or the loop is shown by the
// default error display and makes the return value 1. onWindowShown, if set, runs once the main
// window is up.
int runReceiver(QApplication& app, const DecoderSettings& settings, const DeviceFactory& makeDevice,
                ProgramLauncher& launcher,
                const std::function<void(TFormMain&)>& onWindowShown = {});

} // namespace corvane
