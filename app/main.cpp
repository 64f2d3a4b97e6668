#include "Application.h"
#include "Launcher.h"
#include "RecordingDevices.h"
#include "Startup.h"
#include "TerminationSignals.h"
#include "Unit1.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <stdexcept>

using namespace corvane;

namespace {
int listDevices()
{
    QTextStream out(stdout);
    QString error;
    const auto devices = listRecordingDevices(&error);
    if (!devices) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    for (const RecordingDeviceInfo& device : *devices)
        out << device.name << '\t' << device.description << '\n';
    return 0;
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
        QTextStream(stdout) << parsed.output;
        QTextStream(stderr) << parsed.errorOutput;
        if (!parsed.options)
            return parsed.exitCode;
        if (parsed.options->listDevices)
            return listDevices();
        options = *parsed.options;
    }

    // Through shared memory every overlapping repaint waits for an X round trip; the picture's
    // few changed columns a buffer are cheaper to send.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
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
        // Asked to end: close the window as the Exit button would. Goes with the window.
        new TerminationSignals([&form] { form.close(); }, &form);
    });
}
