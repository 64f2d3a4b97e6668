// Decodes a recording without a window: the same decoder the program runs live, fed from a
// file, writing the picture as it stands after the last sample.
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "PixelDecoder.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

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
    if (path == QLatin1String("-"))
        return "png";
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-decode"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decodes a narrow-band television recording into the receiver's picture."));
    parser.addHelpOption();
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

    const QString out = parser.value(outOption);
    QByteArray format;
    if (parser.isSet(outOption)) {
        format = pictureFormat(out);
        if (format.isEmpty())
            return fail(kBadUsage,
                        QStringLiteral("-o must name a .png or .ppm file (got '%1')").arg(out));
    }

    if (out == QLatin1String("-") && parser.isSet(statsOption))
        return fail(kBadUsage, QStringLiteral("--stats and -o - cannot share standard output"));
    QString error;
    if (parser.isSet(outOption) && out != QLatin1String("-") && !canReplaceFile(out, &error))
        return fail(kBadInput, error);

    SampleReadOptions reading;
    if (parser.isSet(maxSecondsOption)) {
        bool ok = false;
        reading.maxSeconds = parser.value(maxSecondsOption).toDouble(&ok);
        if (!ok || !(reading.maxSeconds > 0) || !std::isfinite(reading.maxSeconds))
            return fail(kBadUsage, QStringLiteral("--max-seconds must be a number above 0 (got "
                                                  "'%1')")
                                       .arg(parser.value(maxSecondsOption)));
    }

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
