#include "Application.h"
#include "Launcher.h"
#include "RecordingDevices.h"
#include "SafeFile.h"
#include "Startup.h"
#include "TerminationSignals.h"
#include "Unit1.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <stdexcept>

using namespace corvane;

namespace {
// Text for standard output; a failed write (a full disk, a closed pipe) is a failed run.
bool print(const QString& text)
{
    QString error;
    if (writeStandardOutput(text.toUtf8(), &error))
        return true;
    QTextStream(stderr) << error << '\n';
    return false;
}

int listDevices()
{
    QString error;
    const auto devices = listRecordingDevices(&error);
    if (!devices) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    QString text;
    for (const RecordingDeviceInfo& device : *devices)
        text += device.name + u'\t' + device.description + u'\n';
    return print(text) ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    // The command line is read before the window system is touched, so --help and
    // --list-devices work without a display.
    StartupOptions options;
    {
        QCoreApplication commandLine(argc, argv);
        nameApplication();
        const ParsedCommandLine parsed = parseCommandLine(commandLine.arguments());
        if (!print(parsed.output))
            return 1;
        QTextStream(stderr) << parsed.errorOutput;
        if (!parsed.options)
            return parsed.exitCode;
        if (parsed.options->listDevices)
            return listDevices();
        options = *parsed.options;
    }

    Application app(argc, argv);
    initialiseApplication(app);

    const DeviceFactory makeDevice = [&options]() -> std::unique_ptr<RecordingDevice> {
        if (options.inputFile.isEmpty())
            return makePulseRecordingDevice(options.deviceName);
        QString error;
        auto device = makeFileRecordingDevice(options.inputFile, options.loop, &error);
        if (!device) {
            QTextStream(stderr) << error << '\n';
            throw std::runtime_error(error.toStdString());
        }
        return device;
    };
    DetachedProcessLauncher launcher;
    return runReceiver(app, makeDevice, launcher, [](TFormMain& form) {
        // Asked to end: close any box and the window, and leave. Goes with the window.
        new TerminationSignals([&form] { endProgram(form); }, &form);
    });
}
