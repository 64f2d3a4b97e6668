#include "Startup.h"

#include "About.h"
#include "ErrorDisplay.h"
#include "ErrorReporting.h"
#include "FormFonts.h"
#include "MessageBoxSink.h"
#include "Receiver.h"
#include "SettingOptions.h"
#include "TimingTrace.h"
#include "Unit1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>

namespace corvane {

namespace {

// An IQ recording's format as its ending names it (rec.cu8, band.cf32, iq.wav); else what the
// rest of its name says, as SDR programs name their recordings.
QString iqFormatFromName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const char* format : {"cu8", "cs8", "cs16", "cf32", "wav"})
        if (suffix == QLatin1String(format))
            return suffix;
    return QStringLiteral("auto");
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Receiver for narrow-band, mechanically scanned television. With no "
                       "options it records from the default recording device."));
    const QCommandLineOption help = addHelpOption(parser);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption input(
        QStringLiteral("input"),
        QStringLiteral("Play the recording FILE (WAV, FLAC, Ogg, ...; raw 8-bit .u8/.raw) in "
                       "real time instead of recording."),
        QStringLiteral("FILE"));
    const QCommandLineOption loop(QStringLiteral("loop"),
                                  QStringLiteral("With --input: start over at the end."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Record from the source NAME (see --list-devices) instead of the "
                       "default one."),
        QStringLiteral("NAME"));
    const QCommandLineOption list(
        QStringLiteral("list-devices"),
        QStringLiteral("Print each recording device's name and description, one a line."));
    const QCommandLineOption monitor(
        QStringLiteral("monitor"),
        QStringLiteral("Open the Monitor as well: the picture locked to the transmission's "
                       "sync, large."));
    parser.addOption(monitor);
    parser.addOptions({input, loop, device, list});
    auto settingsOptions = settingOptions(true);
    addSettingOptions(parser, settingsOptions);
    // --sample-rate is the first decoder's; with an SDR it is the IQ rate.
    const SdrCommandLine sdr;
    for (const QCommandLineOption& option : sdr.all())
        if (option.names().front() != QLatin1String("sample-rate"))
            parser.addOption(option);

    ParsedCommandLine result;
    const auto fail = [&](const QString& message) {
        result.exitCode = 2;
        result.errorOutput = message + u'\n' +
                             QStringLiteral("Try '%1 --help' for the options.\n")
                                 .arg(arguments.value(0, QStringLiteral("corvane")));
        return result;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                      QCoreApplication::applicationVersion());
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0]));

    StartupOptions options;
    options.inputFile = parser.value(input);
    options.loop = parser.isSet(loop);
    options.monitor = parser.isSet(monitor);
    options.deviceName = parser.value(device);
    options.listDevices = parser.isSet(list);
    // Repeated, the last wins; an empty one anywhere is still a mistake.
    if (parser.values(input).contains(QString()))
        return fail(QStringLiteral("--input needs a file name."));
    if (parser.values(device).contains(QString()))
        return fail(QStringLiteral("--device needs a source name."));
    // A FILE given to --source is an IQ recording: the SDR options take it as --iq's input.
    const QString radioSource = parser.value(sdr.source);
    const bool radioFile = parser.isSet(sdr.source) && !radioSource.contains(u':');
    if (parser.isSet(sdr.source) || parser.isSet(sdr.iq)) {
        QStringList words = arguments;
        if (radioFile) {
            options.radioFile = radioSource;
            const qsizetype at = words.indexOf(QStringLiteral("--source"));
            if (at >= 0)
                words.remove(at, 2);
            else
                words.removeAll(QStringLiteral("--source=") + radioSource);
            if (!parser.isSet(sdr.iq))
                words << QStringLiteral("--iq") << iqFormatFromName(radioSource);
        }
        QCommandLineParser again;
        addHelpOption(again);
        again.addVersionOption();
        again.addOptions({monitor, input, loop, device, list});
        addSettingOptions(again, settingsOptions);
        for (const QCommandLineOption& option : sdr.all())
            if (option.names().front() != QLatin1String("sample-rate"))
                again.addOption(option);
        if (!again.parse(words))
            return fail(again.errorText());
        if (const auto problem = readSdrCommandLine(again, sdr, options.radio))
            return fail(*problem);
        options.monitor = true;
        std::erase_if(settingsOptions,
                      [](const SettingOption& o) { return o.field == SettingField::SampleRate; });
    } else {
        for (const QCommandLineOption& option : sdr.all())
            if (option.names().front() != QLatin1String("sample-rate") && parser.isSet(option))
                return fail(QStringLiteral("--%1 needs --source.").arg(option.names().front()));
    }
    if (const auto problem = readSettingOptions(parser, settingsOptions, options.settings))
        return fail(*problem);
    if (options.loop && options.inputFile.isEmpty())
        return fail(QStringLiteral("--loop only goes with --input."));
    if (!options.inputFile.isEmpty() && !options.deviceName.isEmpty())
        return fail(QStringLiteral("--input and --device cannot be used together."));
    const bool settingsGiven =
        std::any_of(settingsOptions.begin(), settingsOptions.end(), [&](const SettingOption& o) {
            return parser.isSet(QString::fromLatin1(o.name));
        });
    if (options.listDevices &&
        (!options.inputFile.isEmpty() || !options.deviceName.isEmpty() || settingsGiven))
        return fail(QStringLiteral("--list-devices takes no other option."));
    result.options = options;
    return result;
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("corvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
}

void initialiseApplication(QApplication& app)
{
    nameApplication();
    app.setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
    app.setDesktopFileName(QStringLiteral("org.corvane.Corvane"));
    setErrorReporter(showDefaultError);
    if (!formFontAvailable())
        qWarning("The font \"%s\" is missing (Debian package fonts-liberation2); the window's "
                 "captions are laid out for it and may not fit in \"%s\".",
                 kFormFontFamily, qPrintable(resolvedFamily(formFont(11))));
}

int runReceiver(QApplication& app, const DecoderSettings& settings, const DeviceFactory& makeDevice,
                ProgramLauncher& launcher, const std::function<void(TFormMain&)>& onWindowShown)
{
    try {
        // A timing trace for measuring the live program; off unless asked for.
        std::unique_ptr<TimingTrace> trace;
        if (const QString path = qEnvironmentVariable("CORVANE_TRACE"); !path.isEmpty()) {
            QString error;
            if (!(trace = TimingTrace::open(path, &error)))
                qWarning("%s", qPrintable(error));
        }
        // Declared before the window, so they outlive it.
        Receiver receiver(makeDevice(), std::make_unique<MessageBoxSink>());
        // In place before the window starts capture with them and shows them.
        receiver.settings() = settings;
        TFormMain formMain(receiver, launcher);
        // Before the loop runs, so no buffer is decoded untraced.
        if (trace)
            trace->watch(receiver.engine(), formMain, *formMain.ImageAlign);
        // Hidden until the About button; it goes with the main window.
        formMain.setAboutWindow(new TFormAbout(&formMain));
        formMain.show();
        if (onWindowShown)
            onWindowShown(formMain);
        app.exec();
        return 0;
    } catch (...) {
        // Ending on an error is not a successful run, whatever the loop would have said.
        reportCurrentException();
        return 1;
    }
}

} // namespace corvane
