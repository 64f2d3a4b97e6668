// Decodes a recording without a window: the same decoder the program runs live, fed from a
// file, writing the picture as it stands after the last sample.
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "LockedDecoder.h"
#include "PixelDecoder.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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
    if (path == QLatin1String("-"))
        return "png";
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        return "png";
    if (lower.endsWith(QLatin1String(".ppm")))
        return "ppm";
    return {};
}

// Encodes the picture in memory and writes it through the safe-file path, so a full disk or a
// device in the way is reported instead of leaving a truncated or empty picture.
bool writePicture(const QString& path, const QByteArray& format, const QImage& image,
                  QString* error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        *error = QStringLiteral("cannot write '%1': %2").arg(path, writer.errorString());
        return false;
    }
    if (path == QLatin1String("-"))
        return writeStandardOutput(bytes, error);
    return writeFileSafely(path, bytes, error);
}

// Hands samples to the decoder in blocks of the configured size, as capture does, however
// they arrive from the input.
class BlockFeeder
{
public:
    BlockFeeder(PixelDecoder& decoder, std::size_t blockSize) : decoder_(decoder), block_(blockSize)
    {}

    void feed(const std::uint8_t* data, std::size_t count)
    {
        total_ += count;
        while (count > 0) {
            const std::size_t take = std::min(count, block_.size() - filled_);
            std::memcpy(block_.data() + filled_, data, take);
            filled_ += take;
            data += take;
            count -= take;
            if (filled_ == block_.size())
                flush();
        }
    }

    void flush()
    {
        if (filled_ > 0)
            decoder_.DecodeBlock(block_.data(), static_cast<std::int32_t>(filled_));
        filled_ = 0;
    }

    std::size_t total() const { return total_; }

private:
    PixelDecoder& decoder_;
    std::vector<std::uint8_t> block_;
    std::size_t filled_ = 0;
    std::size_t total_ = 0;
};

int printOrFail(const QString& text)
{
    QString error;
    if (!writeStandardOutput(text.toUtf8(), &error))
        return fail(kBadInput, error);
    return 0;
}

// The options of locked decoding, beside the literal decoder's.
struct LockedCli
{
    QCommandLineOption locked{QStringLiteral("locked"),
                              QStringLiteral("Lock to the line and frame sync of a real NBTV "
                                             "transmission and write its frames upright. The "
                                             "options below need it.")};
    QCommandLineOption standard{
        QStringLiteral("standard"),
        QStringLiteral("%1; the first is the default.").arg(standardChoices()),
        QStringLiteral("NAME"), knownStandards().front().name};
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
                 const DecoderSettings& rawSettings, const QString& input, bool stats,
                 const SampleReadOptions& reading)
{
    LockedSettings settings;
    const auto standard = standardByName(parser.value(cli.standard));
    if (!standard)
        return fail(kBadUsage, QStringLiteral("--standard must be %1 (got '%2')")
                                   .arg(standardChoices(), parser.value(cli.standard)));
    settings.standard = *standard;
    double lines = settings.standard.lines;
    std::optional<QString> problem = readNumberOption(parser, cli.lines, StandardLimits::kMinLines,
                                                      StandardLimits::kMaxLines, lines);
    if (!problem)
        problem = readNumberOption(parser, cli.lineRate, StandardLimits::kMinLineRate,
                                   StandardLimits::kMaxLineRate, settings.standard.lineRateHz);
    if (!problem)
        problem = readNumberOption(parser, cli.aspect, StandardLimits::kMinAspect,
                                   StandardLimits::kMaxAspect, settings.standard.aspect);
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
    QString error;
    if (!out.isEmpty() && out != QLatin1String("-") && !canReplaceFile(out, &error))
        return fail(kBadInput, error);
    QString framesDir;
    if (parser.isSet(cli.frames)) {
        framesDir = parser.value(cli.frames);
        if (!QDir().mkpath(framesDir))
            return fail(kBadInput, QStringLiteral("cannot create the folder '%1'").arg(framesDir));
    }

    // Raw bytes carry no rate; sound files are read at their own, in full resolution.
    const bool raw = isRawSampleName(input);
    FloatSoundReader sound;
    double sampleRate = rawSettings.sampleRate;
    if (!raw) {
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
        QString problem;
        if (!writePicture(name, "png", displayFrame(frame, settings.standard), &problem))
            frameError = problem;
    });
    double lineRate = 0;
    const auto note = [&] {
        const LockedStatus s = decoder.status();
        if (s.locked) {
            everLocked = true;
            lineRate = s.lineRateHz;
        }
    };
    if (raw) {
        QString warning;
        const auto feed = [&](const std::uint8_t* data, std::size_t count) {
            if (frameError)
                return;
            decoder.feedU8(data, count);
            note();
        };
        if (!streamSamples(input, rawSettings.sampleRate, feed, reading, &error, &warning))
            return fail(kBadInput, error);
    } else {
        constexpr std::size_t kChunk = 1 << 15;
        const double limit = reading.maxSeconds * sampleRate;
        std::vector<float> chunk(kChunk);
        for (double total = 0;;) {
            const std::int64_t got = sound.read(chunk.data(), chunk.size(), &error);
            if (got < 0)
                return fail(kBadInput, error);
            if (got == 0 || frameError)
                break;
            total += static_cast<double>(got);
            if (total > limit)
                return fail(kBadInput,
                            QStringLiteral("stopped reading '%1': it holds more than the "
                                           "limit of %2 s of audio at %3 Hz")
                                .arg(input)
                                .arg(reading.maxSeconds)
                                .arg(sampleRate));
            decoder.feed(chunk.data(), static_cast<std::size_t>(got));
            note();
        }
    }
    if (frameError)
        return fail(kBadInput, *frameError);

    const LockedStatus status = decoder.status();
    if (stats) {
        if (printOrFail(QString::asprintf(
                "{\"locked\":%s,\"everLocked\":%s,\"lineRateHz\":%.3f,\"frames\":%lld,"
                "\"signal\":\"%s\",\"carrierHz\":%.1f,\"samples\":%lld,\"sampleRate\":%.0f,"
                "\"inputPeak\":%.4f}\n",
                status.locked ? "true" : "false", everLocked ? "true" : "false", lineRate,
                static_cast<long long>(status.frames), signalName(status.detected),
                status.carrierHz, static_cast<long long>(status.samples), sampleRate,
                status.inputPeak)) != 0)
            return kBadInput;
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
    if (!out.isEmpty() &&
        !writePicture(out, format, displayFrame(decoder.lastFrame(), settings.standard), &error))
        return fail(kBadInput, error);
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
    const QCommandLineOption outOption(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the picture to OUT (.png or .ppm; - writes PNG "
                       "to standard output)."),
        QStringLiteral("OUT"));
    const QCommandLineOption maxSecondsOption(
        QStringLiteral("max-seconds"),
        QStringLiteral("Stop with an error when INPUT holds more than S seconds of audio "
                       "(default %1: standard input or a FIFO may never end).")
            .arg(kDefaultMaxSeconds),
        QStringLiteral("S"));
    const QCommandLineOption allowEmptyOption(
        QStringLiteral("allow-empty"),
        QStringLiteral("Accept an INPUT without samples (a black picture) instead of failing."));
    parser.addOption(statsOption);
    parser.addOption(outOption);
    parser.addOption(maxSecondsOption);
    parser.addOption(allowEmptyOption);
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
        return printOrFail(parser.helpText());
    if (parser.isSet(QStringLiteral("version")))
        return printOrFail(QStringLiteral("corvane-decode %1\n").arg(CORVANE_VERSION));

    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() != 1)
        return fail(kBadUsage, QStringLiteral("expects exactly one INPUT (see --help)"));

    DecoderSettings settings;
    if (const auto problem = readSettingOptions(parser, options, settings))
        return fail(kBadUsage, *problem);
    if (parser.value(outOption) == QLatin1String("-") && parser.isSet(statsOption))
        return fail(kBadUsage, QStringLiteral("--stats and -o - cannot share standard output"));
    SampleReadOptions reading;
    if (parser.isSet(maxSecondsOption)) {
        bool ok = false;
        reading.maxSeconds = parser.value(maxSecondsOption).toDouble(&ok);
        if (!ok || !(reading.maxSeconds > 0) || !std::isfinite(reading.maxSeconds))
            return fail(kBadUsage, QStringLiteral("--max-seconds must be a number above 0 (got "
                                                  "'%1')")
                                       .arg(parser.value(maxSecondsOption)));
    }
    if (parser.isSet(locked.locked))
        return decodeLocked(parser, locked, settings, inputs.front(), parser.isSet(statsOption),
                            reading);
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
    if (parser.isSet(outOption) && out != QLatin1String("-") && !canReplaceFile(out, &error))
        return fail(kBadInput, error);

    ImageSurface surface; // black at start
    PixelDecoder decoder(settings, surface);
    BlockFeeder feeder(decoder, static_cast<std::size_t>(settings.blockSize));
    QString warning;
    if (!streamSamples(
            inputs.front(), settings.sampleRate,
            [&feeder](const std::uint8_t* data, std::size_t count) { feeder.feed(data, count); },
            reading, &error, &warning))
        return fail(kBadInput, error);
    feeder.flush();
    if (!warning.isEmpty())
        std::fprintf(stderr, "corvane-decode: warning: %s\n", qUtf8Printable(warning));
    if (feeder.total() == 0 && !parser.isSet(allowEmptyOption))
        return fail(
            kBadInput,
            QStringLiteral("no samples in '%1' (--allow-empty accepts that)").arg(inputs.front()));

    if (parser.isSet(outOption) && !writePicture(out, format, surface.image(), &error))
        return fail(kBadInput, error);

    if (parser.isSet(statsOption)) {
        const ScanPosition pos = decoder.scanPosition();
        return printOrFail(QString::asprintf(
            "{\"samples\":%zu,\"elements\":%lld,\"repaints\":%lld,\"row\":%d,\"col\":%d,"
            "\"clip\":%s,\"sync_counter\":%d,\"sample_counter\":%d}\n",
            feeder.total(), static_cast<long long>(decoder.elementCount()),
            static_cast<long long>(surface.repaintRequests()), pos.row, pos.col,
            decoder.clipFlag() ? "true" : "false", decoder.syncCounter(), decoder.sampleCounter()));
    }
    return 0;
}
