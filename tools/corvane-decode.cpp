// Decodes a recording without a window: the first decoder as the program runs it live, or,
// with --locked, the locked receiver the Monitor shows, fed from a file.
#include "DecodeOutput.h"
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "LockedDecode.h"
#include "PictureOptions.h"
#include "PixelDecoder.h"
#include "SafeFile.h"
#include "SdrCommandLine.h"
#include "SettingOptions.h"
#include "SoundFile.h"
#include "Tool.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <algorithm>
#include <cstring>
#include <vector>

using namespace corvane;

namespace {

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

// The first decoder over the whole input: the picture surface as it stands after the last
// sample.
int decodeLiteral(Tool& tool, const DecoderSettings& settings, const QString& input,
                  const SampleReadOptions& reading, bool allowEmpty)
{
    const QCommandLineParser& parser = tool.parser();
    const bool stats = parser.isSet(QStringLiteral("stats"));
    const bool wantsPicture = parser.isSet(QStringLiteral("o"));
    // Decoding without keeping anything would be a failure that looks like success.
    if (!wantsPicture && !stats)
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("nothing to do: give -o OUT for the picture, --stats for "
                                        "the counters, or both (see --help)"));
    const QString out = parser.value(QStringLiteral("o"));
    QByteArray format;
    for (const QString& each : parser.values(QStringLiteral("o"))) {
        format = pictureFormat(each);
        if (format.isEmpty())
            return tool.fail(
                Tool::kBadUsage,
                QStringLiteral("-o must name a .png or .ppm file (got '%1')").arg(each));
    }
    QString error;
    if (wantsPicture && out != QLatin1String("-") && !canReplaceFile(out, &error))
        return tool.fail(Tool::kFailed, error);

    ImageSurface surface; // black at start
    PixelDecoder decoder(settings, surface);
    BlockFeeder feeder(decoder, static_cast<std::size_t>(settings.blockSize));
    QString warning;
    if (!streamSamples(
            input, settings.sampleRate,
            [&feeder](const std::uint8_t* data, std::size_t count) { feeder.feed(data, count); },
            reading, &error, &warning))
        return tool.fail(Tool::kFailed, error);
    feeder.flush();
    if (!warning.isEmpty())
        tool.warn(warning);
    if (feeder.total() == 0 && !allowEmpty)
        return tool.fail(
            Tool::kFailed,
            QStringLiteral("no samples in '%1' (--allow-empty accepts that)").arg(input));
    if (wantsPicture && !writePicture(out, format, surface.image(), &error))
        return tool.fail(Tool::kFailed, error);
    if (!stats)
        return Tool::kOk;
    const ScanPosition pos = decoder.scanPosition();
    return tool.printJson({
        {QStringLiteral("samples"), static_cast<qint64>(feeder.total())},
        {QStringLiteral("elements"), static_cast<qint64>(decoder.elementCount())},
        {QStringLiteral("repaints"), static_cast<qint64>(surface.repaintRequests())},
        {QStringLiteral("row"), pos.row},
        {QStringLiteral("col"), pos.col},
        {QStringLiteral("clip"), decoder.clipFlag()},
        {QStringLiteral("sync_counter"), decoder.syncCounter()},
        {QStringLiteral("sample_counter"), decoder.sampleCounter()},
    });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Ended by Ctrl+C or a kill, an output half written goes with the process.
    removeTemporariesOnSignals();
    Tool tool("corvane-decode", CORVANE_VERSION,
              QStringLiteral("Decodes a narrow-band television recording into the receiver's "
                             "picture."));
    QCommandLineParser& parser = tool.parser();
    const auto options = settingOptions(true);
    addSettingOptions(parser, options);
    const QCommandLineOption stats(
        QStringLiteral("stats"), QStringLiteral("Print the decoder's counters as one JSON line."));
    const QCommandLineOption out(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                 QStringLiteral("Write the picture to OUT (.png or .ppm; - writes "
                                                "PNG to standard output)."),
                                 QStringLiteral("OUT"));
    const QCommandLineOption maxSeconds(
        QStringLiteral("max-seconds"),
        QStringLiteral("Stop with an error when INPUT holds more than S seconds of audio "
                       "(default %1: standard input or a FIFO may never end).")
            .arg(kDefaultMaxSeconds),
        QStringLiteral("S"));
    const QCommandLineOption allowEmpty(
        QStringLiteral("allow-empty"),
        QStringLiteral("Accept an INPUT without samples (a black picture) instead of failing."));
    parser.addOptions({stats, out, maxSeconds, allowEmpty});
    const LockedCli locked;
    parser.addOptions(locked.all());
    addPictureOptions(parser);
    // --sample-rate is the decoder's already: with an SDR it is the IQ rate.
    const SdrCommandLine sdrOptions;
    for (const QCommandLineOption& option : sdrOptions.all())
        if (option.names().front() != QLatin1String("sample-rate"))
            parser.addOption(option);
    parser.addPositionalArgument(
        QStringLiteral("INPUT"),
        QStringLiteral("The recording: - or *.raw / *.u8 for raw unsigned 8-bit mono, anything "
                       "else is read as a sound file (WAV, FLAC, Ogg, MP3, ...)."));
    if (const auto done = tool.parse())
        return *done;

    const QStringList inputs = parser.positionalArguments();
    SdrRequest sdr;
    if (parser.isSet(sdrOptions.iq) || parser.isSet(sdrOptions.source)) {
        if (const auto problem = readSdrCommandLine(parser, sdrOptions, sdr))
            return tool.fail(Tool::kBadUsage, *problem);
    } else {
        for (const QCommandLineOption& option : sdrOptions.all())
            if (option.names().front() != QLatin1String("sample-rate") && parser.isSet(option))
                return tool.fail(
                    Tool::kBadUsage,
                    QStringLiteral("--%1 needs --iq or --source").arg(option.names().front()));
    }
    const bool radio = sdr.kind != SdrRequest::Kind::None;
    if (radio && !parser.isSet(locked.locked))
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("--%1 needs --locked")
                             .arg(sdr.kind == SdrRequest::Kind::IqFile ? QStringLiteral("iq")
                                                                       : QStringLiteral("source")));
    const bool live = sdr.kind == SdrRequest::Kind::RtlTcp || sdr.kind == SdrRequest::Kind::Soapy;
    if (inputs.size() != (live ? 0 : 1))
        return tool.fail(Tool::kBadUsage, live ? QStringLiteral("a live --source takes no INPUT")
                                               : QStringLiteral("expects exactly one INPUT (see "
                                                                "--help)"));
    DecoderSettings settings;
    std::vector<SettingOption> checked = options;
    if (radio) // an IQ rate, which the first decoder's range does not hold
        std::erase_if(checked,
                      [](const SettingOption& o) { return o.field == SettingField::SampleRate; });
    if (const auto problem = readSettingOptions(parser, checked, settings))
        return tool.fail(Tool::kBadUsage, *problem);
    if (parser.value(out) == QLatin1String("-") && parser.isSet(stats))
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("--stats and -o - cannot share standard output"));
    SampleReadOptions reading;
    if (const auto problem = readNumberOption(parser, maxSeconds, NumberRule{0, 1e12, false, true},
                                              reading.maxSeconds))
        return tool.fail(Tool::kBadUsage, *problem);

    if (parser.isSet(locked.locked))
        return decodeLocked(tool, locked, settings, live ? QString() : inputs.front(), reading,
                            sdr);
    QStringList lockedOnly = locked.pictureOptionNames;
    for (const QCommandLineOption& option : locked.all())
        lockedOnly << option.names().front();
    for (const QString& name : lockedOnly)
        if (parser.isSet(name))
            return tool.fail(Tool::kBadUsage, QStringLiteral("--%1 needs --locked").arg(name));
    return decodeLiteral(tool, settings, inputs.front(), reading, parser.isSet(allowEmpty));
}
