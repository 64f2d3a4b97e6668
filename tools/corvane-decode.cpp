// Decodes a recording without a window: the same decoder the program runs live, fed from a
// file, writing the picture as it stands after the last sample.
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "PixelDecoder.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

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
