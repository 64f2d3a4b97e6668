#include "Application.h"
#include "DisplayProbe.h"
#include "IqRecorder.h"
#include "Launcher.h"
#include "MonitorLink.h"
#include "PulseSampleSource.h"
#include "ReadingProgress.h"
#include "RecordingDevices.h"
#include "RtlTcpSource.h"
#include "SafeFile.h"
#include "SdrCommandLine.h"
#include "SoapySource.h"
#include "SoundFileSource.h"
#include "SoundOutput.h"
#include "SoundReader.h"
#include "Startup.h"
#include "TerminationSignals.h"
#include "Unit1.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcessEnvironment>
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

// A source the server does not have would leave the window open and deaf; say which ones it
// has instead. 0 when name is there.
int checkDevice(const QString& name)
{
    QTextStream err(stderr);
    QString error;
    const auto devices = listRecordingDevices(&error);
    if (!devices) {
        err << "corvane: cannot record from '" << name << "': " << error << '\n';
        return 1;
    }
    for (const RecordingDeviceInfo& device : *devices) {
        if (device.name == name)
            return 0;
    }
    err << "corvane: the audio server has no recording source '" << name << "'.\n";
    if (devices->isEmpty())
        err << "It offers no recording sources at all.\n";
    else
        err << "It offers (corvane --list-devices prints this list):\n";
    for (const RecordingDeviceInfo& device : *devices)
        err << "  " << device.name << '\t' << device.description << '\n';
    return 2;
}
// A source for the Monitor by its address: "pulse:NAME", "file:PATH" (a recording, or an IQ
// recording by its name), "rtl_tcp://HOST:PORT" or "soapy:ARGS" tuned to frequencyHz.
std::unique_ptr<SampleSource> openSource(const QString& address, double frequencyHz,
                                         int rawSampleRate, QString* error)
{
    if (address.startsWith(QLatin1String("pulse:")))
        return std::make_unique<PulseSampleSource>(address.mid(6));
    SdrRequest radio;
    radio.sdr.sampleRate = radio.rtl.sampleRate = radio.soapy.sampleRate = 2.4e6;
    if (address.startsWith(QLatin1String("file:"))) {
        const QString path = address.mid(5);
        if (!iqNameInfo(path).format)
            return std::make_unique<SoundFileSource>(path, true,
                                                     isRawSampleName(path) ? rawSampleRate : 0);
        radio.kind = SdrRequest::Kind::IqFile;
        if (const auto problem = applyIqFileName(radio, path)) {
            *error = *problem;
            return nullptr;
        }
        return makeSdrSource(radio, path, true);
    }
    if (address.startsWith(QLatin1String("rtl_tcp:"))) {
        radio.kind = SdrRequest::Kind::RtlTcp;
        if (!parseRtlTcpAddress(address, radio.rtl, error))
            return nullptr;
    } else if (address.startsWith(QLatin1String("soapy:"))) {
        radio.kind = SdrRequest::Kind::Soapy;
        radio.soapy.args = address.mid(6);
    } else {
        *error = QStringLiteral("'%1' is no source Corvane knows").arg(address);
        return nullptr;
    }
    radio.rtl.frequencyHz = radio.soapy.frequencyHz = frequencyHz;
    return makeSdrSource(radio, {}, true);
}

// Where the Monitor takes its own samples: the SDR asked for, the recording being played (not
// standard input, which only one reader can have), or the recording source at its own rate;
// and what else its Source box offers.
MonitorFeed monitorFeed(const StartupOptions& options)
{
    MonitorFeed feed;
    const int rawRate = options.settings.sampleRate;
    feed.open = [rawRate](const QString& address, double frequencyHz, QString* error) {
        return openSource(address, frequencyHz, rawRate, error);
    };
    feed.choices = [] {
        std::vector<SourceChoice> choices;
        QString error;
        if (const auto devices = listRecordingDevices(&error))
            for (const RecordingDeviceInfo& device : *devices)
                choices.push_back({device.description, QStringLiteral("pulse:") + device.name});
        for (const SoapyDeviceInfo& device : listSoapyDevices())
            choices.push_back(
                {QStringLiteral("SDR: ") + device.label, QStringLiteral("soapy:") + device.args});
        return choices;
    };
    feed.player = [] { return std::make_unique<SoundOutput>(); };
    if (options.radio.kind != SdrRequest::Kind::None) {
        feed.source = [options] { return makeSdrSource(options.radio, options.radioFile, true); };
        feed.frequencyHz = options.radio.kind == SdrRequest::Kind::Soapy
                               ? options.radio.soapy.frequencyHz
                               : options.radio.rtl.frequencyHz;
        feed.sourceAddress = options.radioFile.isEmpty()
                                 ? (options.radio.kind == SdrRequest::Kind::RtlTcp
                                        ? QStringLiteral("rtl_tcp://%1:%2")
                                              .arg(options.radio.rtl.host)
                                              .arg(options.radio.rtl.port)
                                        : QStringLiteral("soapy:") + options.radio.soapy.args)
                                 : QStringLiteral("file:") + options.radioFile;
        return feed;
    }
    if (options.inputFile == QLatin1String("-"))
        return feed;
    if (!options.inputFile.isEmpty()) {
        feed.fromFile = true;
        feed.sourceAddress = QStringLiteral("file:") + options.inputFile;
        feed.source = [options, rawRate]() -> std::unique_ptr<SampleSource> {
            return std::make_unique<SoundFileSource>(
                options.inputFile, options.loop, isRawSampleName(options.inputFile) ? rawRate : 0);
        };
    } else {
        feed.sourceAddress = QStringLiteral("pulse:") + options.deviceName;
        feed.source = [options]() -> std::unique_ptr<SampleSource> {
            return std::make_unique<PulseSampleSource>(options.deviceName);
        };
    }
    return feed;
}

} // namespace

int main(int argc, char** argv)
{
    // The command line is read before the window system is touched, so --help and
    // --list-devices work without a display.
    StartupOptions options;
    DisplayHold display;
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
        if (!options.deviceName.isEmpty()) {
            if (const int code = checkDevice(options.deviceName))
                return code;
        }
        if (const auto problem =
                displayProblem(QProcessEnvironment::systemEnvironment(), &display)) {
            QTextStream(stderr) << "corvane: cannot open a display: " << *problem
                                << ". corvane-decode decodes recordings without one.\n";
            return 2;
        }
    }

    preferSocketTransfer();
    Application app(argc, argv);
    display.release(); // Qt has its own connection now
    initialiseApplication(app);

    // The recording is read once the window is up; the window says how far it has got.
    std::function<void(int, bool)> readingView;
    const DeviceFactory makeDevice = [&options,
                                      &readingView]() -> std::unique_ptr<RecordingDevice> {
        if (options.inputFile.isEmpty())
            return makePulseRecordingDevice(options.deviceName);
        QString error;
        auto device = makeFileRecordingDevice(options.inputFile, options.loop, &error,
                                              [&readingView](int percent, bool done) {
                                                  if (readingView)
                                                      readingView(percent, done);
                                              });
        if (!device) {
            QTextStream(stderr) << error << '\n';
            throw std::runtime_error(error.toStdString());
        }
        return device;
    };
    DetachedProcessLauncher launcher;
    return runReceiver(app, options.settings, makeDevice, launcher, [&](TFormMain& form) {
        // Asked to end: close any box and the window, and leave. Goes with the window.
        new TerminationSignals([&form] { endProgram(form); }, &form);
        const QString name = options.inputFile == QLatin1String("-")
                                 ? QStringLiteral("standard input")
                                 : QFileInfo(options.inputFile).fileName();
        readingView = readingProgressView(&form, name);
        form.monitorLink().setFeed(monitorFeed(options));
        if (options.monitor)
            form.monitorLink().openMonitor();
    });
}
