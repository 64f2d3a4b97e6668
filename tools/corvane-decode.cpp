// Decodes a recording without a window: the same decoder the program runs live, fed from a
// file, writing the picture as it stands after the last sample.
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "LockedDecoder.h"
#include "PixelDecoder.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

using namespace corvane;

namespace {

constexpr int kBadUsage = 2;
constexpr int kBadInput = 1;

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "corvane-decode: %s\n", qUtf8Printable(message));
    return code;
}

// The picture format for an output name, or an empty string when we cannot write it.
QByteArray pictureFormat(const QString& path)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        return "png";
    if (lower.endsWith(QLatin1String(".ppm")))
        return "ppm";
    return {};
}

// Writes image to path as format, complete or not at all.
std::optional<QString> writePicture(const QString& path, const QByteArray& format,
                                    const QImage& image)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
    QImageWriter writer(&file, format);
    if (!writer.write(image))
        return QStringLiteral("cannot write '%1': %2").arg(path, writer.errorString());
    if (!file.commit())
        return QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
    return std::nullopt;
}

// The options of locked decoding, beside the literal decoder's.
struct LockedCli
{
    QCommandLineOption locked{QStringLiteral("locked"),
                              QStringLiteral("Lock to the line and frame sync of a real NBTV "
                                             "transmission and write its frames upright. The "
                                             "options below need it.")};
    QCommandLineOption standard{QStringLiteral("standard"),
                                QStringLiteral("nbtva (32 lines, 400 lines/s, the default) or "
                                               "baird (30 lines, 375 lines/s)."),
                                QStringLiteral("NAME"), QStringLiteral("nbtva")};
    QCommandLineOption lines{QStringLiteral("lines"),
                             QStringLiteral("Lines per frame, 2..1000, for another standard."),
                             QStringLiteral("N")};
    QCommandLineOption lineRate{QStringLiteral("line-rate"),
                                QStringLiteral("Lines per second, 10..20000, for another "
                                               "standard."),
                                QStringLiteral("HZ")};
    QCommandLineOption aspect{QStringLiteral("aspect"),
                              QStringLiteral("Picture height over width, 0.1..10, for another "
                                             "standard."),
                              QStringLiteral("A")};
    QCommandLineOption signal{QStringLiteral("signal"),
                              QStringLiteral("auto (the default), baseband, or am (video on an "
                                             "audio carrier)."),
                              QStringLiteral("KIND"), QStringLiteral("auto")};
    QCommandLineOption negative{QStringLiteral("negative"),
                                QStringLiteral("Show the picture negative (for senders that send "
                                               "black high).")};
    QCommandLineOption frames{QStringLiteral("frames"),
                              QStringLiteral("Write every frame to DIR as frame-000001.png ..."),
                              QStringLiteral("DIR")};

    QList<QCommandLineOption> all() const
    {
        return {locked, standard, lines, lineRate, aspect, signal, negative, frames};
    }
};

std::optional<QString> readLockedNumber(const QCommandLineParser& parser,
                                        const QCommandLineOption& option, double min, double max,
                                        double& value)
{
    if (!parser.isSet(option))
        return std::nullopt;
    bool ok = false;
    const QString text = parser.value(option);
    const double read = text.trimmed().toDouble(&ok);
    if (!ok || !(read >= min && read <= max))
        return QStringLiteral("--%1 must be a number from %2 to %3 (got '%4')")
            .arg(option.names().front())
            .arg(min)
            .arg(max)
            .arg(text);
    value = read;
    return std::nullopt;
}

const char* signalName(SignalKind kind)
{
    switch (kind) {
    case SignalKind::Am:
        return "am";
    case SignalKind::Baseband:
        return "baseband";
    case SignalKind::Auto:
        break;
    }
    return "auto";
}

int decodeLocked(const QCommandLineParser& parser, const LockedCli& cli,
                 const DecoderSettings& rawSettings, const QString& input, bool stats)
{
    LockedSettings settings;
    const auto standard = standardByName(parser.value(cli.standard));
    if (!standard)
        return fail(kBadUsage, QStringLiteral("--standard must be nbtva or baird (got '%1')")
                                   .arg(parser.value(cli.standard)));
    settings.standard = *standard;
    double lines = settings.standard.lines;
    std::optional<QString> problem = readLockedNumber(parser, cli.lines, 2, 1000, lines);
    if (!problem)
        problem = readLockedNumber(parser, cli.lineRate, 10, 20000, settings.standard.lineRateHz);
    if (!problem)
        problem = readLockedNumber(parser, cli.aspect, 0.1, 10, settings.standard.aspect);
    if (problem)
        return fail(kBadUsage, *problem);
    if (lines != std::floor(lines))
        return fail(kBadUsage, QStringLiteral("--lines must be a whole number (got '%1')")
                                   .arg(parser.value(cli.lines)));
    settings.standard.lines = static_cast<int>(lines);
    if (parser.isSet(cli.lines) || parser.isSet(cli.lineRate) || parser.isSet(cli.aspect))
        settings.standard.name = QStringLiteral("custom");
    const QString kind = parser.value(cli.signal).trimmed().toLower();
    if (kind == QLatin1String("auto"))
        settings.signal = SignalKind::Auto;
    else if (kind == QLatin1String("baseband"))
        settings.signal = SignalKind::Baseband;
    else if (kind == QLatin1String("am"))
        settings.signal = SignalKind::Am;
    else
        return fail(kBadUsage, QStringLiteral("--signal must be auto, baseband or am (got '%1')")
                                   .arg(parser.value(cli.signal)));
    settings.negative = parser.isSet(cli.negative);

    const QString out = parser.value(QStringLiteral("o"));
    QByteArray format;
    if (parser.isSet(QStringLiteral("o"))) {
        format = pictureFormat(out);
        if (format.isEmpty())
            return fail(kBadUsage,
                        QStringLiteral("-o must name a .png or .ppm file (got '%1')").arg(out));
    }
    QString framesDir;
    if (parser.isSet(cli.frames)) {
        framesDir = parser.value(cli.frames);
        if (!QDir().mkpath(framesDir))
            return fail(kBadInput, QStringLiteral("cannot create the folder '%1'").arg(framesDir));
    }

    // Raw bytes carry no rate; sound files are read at their own, in full resolution.
    QString error;
    std::optional<SampleBuffer> raw;
    FloatSoundReader sound;
    double sampleRate = rawSettings.sampleRate;
    if (isRawSampleName(input)) {
        raw = loadSamples(input, rawSettings.sampleRate, &error);
        if (!raw)
            return fail(kBadInput, error);
    } else {
        if (!sound.open(input, &error))
            return fail(kBadInput, error);
        sampleRate = sound.sampleRate();
    }
    if (sampleRate < 8000 || sampleRate > 192000)
        return fail(kBadInput, QStringLiteral("'%1' is at %2 Hz; locked decoding takes 8000 to "
                                              "192000 Hz")
                                   .arg(input)
                                   .arg(sampleRate));

    LockedDecoder decoder(sampleRate, settings);
    std::optional<QString> frameError;
    std::int64_t written = 0;
    bool everLocked = false;
    decoder.setFrameCallback([&](const QImage& frame) {
        everLocked = true;
        if (framesDir.isEmpty() || frameError)
            return;
        const QString name = QDir(framesDir).filePath(
            QStringLiteral("frame-%1.png").arg(++written, 6, 10, QLatin1Char('0')));
        frameError = writePicture(name, "png", displayFrame(frame, settings.standard));
    });
    double lineRate = 0;
    const auto note = [&] {
        const LockedStatus s = decoder.status();
        if (s.locked) {
            everLocked = true;
            lineRate = s.lineRateHz;
        }
    };
    constexpr std::size_t kChunk = 1 << 15;
    if (raw) {
        for (std::size_t at = 0; at < raw->size() && !frameError; at += kChunk) {
            decoder.feedU8(raw->data() + at, std::min(kChunk, raw->size() - at));
            note();
        }
    } else {
        std::vector<float> chunk(kChunk);
        for (;;) {
            const std::int64_t got = sound.read(chunk.data(), chunk.size(), &error);
            if (got < 0)
                return fail(kBadInput, error);
            if (got == 0 || frameError)
                break;
            decoder.feed(chunk.data(), static_cast<std::size_t>(got));
            note();
        }
    }
    if (frameError)
        return fail(kBadInput, *frameError);

    const LockedStatus status = decoder.status();
    if (stats) {
        std::printf("{\"locked\":%s,\"everLocked\":%s,\"lineRateHz\":%.3f,\"frames\":%lld,"
                    "\"signal\":\"%s\",\"carrierHz\":%.1f,\"samples\":%lld,\"sampleRate\":%.0f,"
                    "\"inputPeak\":%.4f}\n",
                    status.locked ? "true" : "false", everLocked ? "true" : "false", lineRate,
                    static_cast<long long>(status.frames), signalName(status.detected),
                    status.carrierHz, static_cast<long long>(status.samples), sampleRate,
                    status.inputPeak);
        if (std::fflush(stdout) != 0)
            return fail(kBadInput, QStringLiteral("cannot write the statistics"));
    }
    if (!everLocked || decoder.lastFrame().isNull())
        return fail(kBadInput,
                    QStringLiteral("no %1 signal found in '%2': never locked (is it a %3-line "
                                   "transmission at %4 lines/s?)")
                        .arg(settings.standard.name == QLatin1String("custom")
                                 ? QStringLiteral("NBTV")
                                 : settings.standard.name.toUpper())
                        .arg(input)
                        .arg(settings.standard.lines)
                        .arg(settings.standard.lineRateHz));
    if (!out.isEmpty()) {
        if (const auto problem =
                writePicture(out, format, displayFrame(decoder.lastFrame(), settings.standard)))
            return fail(kBadInput, *problem);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-decode"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decodes a narrow-band television recording into the receiver's picture."));
    addHelpOption(parser);
    parser.addVersionOption();
    const auto options = settingOptions(true);
    addSettingOptions(parser, options);
    const QCommandLineOption statsOption(
        QStringLiteral("stats"), QStringLiteral("Print the decoder's counters as one JSON line."));
    const QCommandLineOption outOption(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("Write the picture to OUT (.png or .ppm)."),
                                       QStringLiteral("OUT"));
    parser.addOption(statsOption);
    parser.addOption(outOption);
    const LockedCli locked;
    for (const QCommandLineOption& option : locked.all())
        parser.addOption(option);
    parser.addPositionalArgument(
        QStringLiteral("INPUT"),
        QStringLiteral("The recording: - or *.raw / *.u8 for raw unsigned 8-bit mono, anything "
                       "else is read as a sound file (WAV, FLAC, Ogg, ...)."));

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kBadUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() != 1)
        return fail(kBadUsage, QStringLiteral("expects exactly one INPUT (see --help)"));

    DecoderSettings settings;
    if (const auto problem = readSettingOptions(parser, options, settings))
        return fail(kBadUsage, *problem);
    if (parser.isSet(locked.locked))
        return decodeLocked(parser, locked, settings, inputs.front(), parser.isSet(statsOption));
    for (const QCommandLineOption& option : locked.all())
        if (parser.isSet(option))
            return fail(kBadUsage,
                        QStringLiteral("--%1 needs --locked").arg(option.names().front()));

    // Decoding without keeping anything would be a failure that looks like success.
    if (!parser.isSet(outOption) && !parser.isSet(statsOption))
        return fail(kBadUsage, QStringLiteral("nothing to do: give -o OUT for the picture, "
                                              "--stats for the counters, or both (see --help)"));

    const QString out = parser.value(outOption);
    QByteArray format;
    for (const QString& each : parser.values(outOption)) {
        format = pictureFormat(each);
        if (format.isEmpty())
            return fail(kBadUsage,
                        QStringLiteral("-o must name a .png or .ppm file (got '%1')").arg(each));
    }

    QString error;
    const auto samples = loadSamples(inputs.front(), settings.sampleRate, &error);
    if (!samples)
        return fail(kBadInput, error);

    ImageSurface surface; // black at start
    PixelDecoder decoder(settings, surface);
    const std::size_t block = static_cast<std::size_t>(settings.blockSize);
    for (std::size_t at = 0; at < samples->size(); at += block) {
        const std::size_t count = std::min(block, samples->size() - at);
        decoder.DecodeBlock(samples->data() + at, static_cast<std::int32_t>(count));
    }

    if (parser.isSet(outOption)) {
        // The picture appears only when it has been written completely.
        QSaveFile file(out);
        if (!file.open(QIODevice::WriteOnly))
            return fail(kBadInput,
                        QStringLiteral("cannot write '%1': %2").arg(out, file.errorString()));
        QImageWriter writer(&file, format);
        if (!writer.write(surface.image()))
            return fail(kBadInput,
                        QStringLiteral("cannot write '%1': %2").arg(out, writer.errorString()));
        if (!file.commit())
            return fail(kBadInput,
                        QStringLiteral("cannot write '%1': %2").arg(out, file.errorString()));
    }

    if (parser.isSet(statsOption)) {
        const ScanPosition pos = decoder.scanPosition();
        std::printf("{\"samples\":%zu,\"elements\":%lld,\"repaints\":%lld,\"row\":%d,\"col\":%d,"
                    "\"clip\":%s,\"sync_counter\":%d,\"sample_counter\":%d}\n",
                    samples->size(), static_cast<long long>(decoder.elementCount()),
                    static_cast<long long>(surface.repaintRequests()), pos.row, pos.col,
                    decoder.clipFlag() ? "true" : "false", decoder.syncCounter(),
                    decoder.sampleCounter());
        if (std::fflush(stdout) != 0)
            return fail(kBadInput, QStringLiteral("cannot write the statistics"));
    }
    return 0;
}
