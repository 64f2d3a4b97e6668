// Writes a synthetic transmission that the decoder turns into a test card; the demo, the
// tests and the benchmarks make their signals with it.
#include "DecoderSettings.h"
#include "IqModulator.h"
#include "NbtvTransmitter.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundFile.h"
#include "TestCard.h"
#include "Tool.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageReader>
#include <cmath>
#include <cstdio>
#include <optional>

using namespace corvane;

namespace {

constexpr double kMaxSeconds = 3 * 3600;

// The NBTV test transmitter's options, beside the decoder-settings ones.
struct TransmitterCli
{
    QCommandLineOption standard{QStringLiteral("standard"),
                                QStringLiteral("Send a real NBTV signal of this standard: %1. The "
                                               "options below need it.")
                                    .arg(standardChoices()),
                                QStringLiteral("NAME")};
    QCommandLineOption image{QStringLiteral("image"),
                             QStringLiteral("Picture to send (any format Qt reads), shown in grey; "
                                            "default: a built-in test picture."),
                             QStringLiteral("PICTURE")};
    QCommandLineOption rate{QStringLiteral("rate"),
                            QStringLiteral("Sample rate in Hz, 8000..192000 (default 48000)."),
                            QStringLiteral("HZ"), QStringLiteral("48000")};
    QCommandLineOption am{QStringLiteral("am"),
                          QStringLiteral("Send the video on an AM carrier of HZ instead of as "
                                         "baseband."),
                          QStringLiteral("HZ")};
    QCommandLineOption frameMark{
        QStringLiteral("frame-mark"),
        QStringLiteral("How the first line of each frame is marked: missing (its sync pulse left "
                       "out, the default: line and frame rates and every picture element stay as "
                       "the standard has them), wide (a sync pulse three times as wide, covering "
                       "the start of that line), gap (1.5 lines at black before it, which "
                       "lengthens the frame), after (a stretch at black after its sync pulse, "
                       "before its picture, as the public nbtvencoder sends) or none."),
        QStringLiteral("KIND"), QStringLiteral("missing")};
    QCommandLineOption level{QStringLiteral("level"),
                             QStringLiteral("Peak amplitude as a share of full scale, above 0 up "
                                            "to 1 (default 0.8)."),
                             QStringLiteral("FRACTION"), QStringLiteral("0.8")};
    QCommandLineOption negative{QStringLiteral("negative"),
                                QStringLiteral("Send the picture negative (black high).")};
    QCommandLineOption acCoupling{QStringLiteral("ac-coupling"),
                                  QStringLiteral("Pass the signal through a first-order high pass "
                                                 "at HZ, as a sound card's input does."),
                                  QStringLiteral("HZ")};
    QCommandLineOption snr{QStringLiteral("snr"),
                           QStringLiteral("Add Gaussian noise DB below the signal's power."),
                           QStringLiteral("DB")};
    QCommandLineOption seed{QStringLiteral("seed"),
                            QStringLiteral("Seed of the noise (default 1)."), QStringLiteral("N"),
                            QStringLiteral("1")};
    QCommandLineOption speed{QStringLiteral("speed"),
                             QStringLiteral("Play PERCENT faster (negative: slower), as when the "
                                            "clocks of sender and recorder differ."),
                             QStringLiteral("PERCENT")};

    QCommandLineOption iq{QStringLiteral("iq"),
                          QStringLiteral("Write what an SDR would record instead of sound: IQ in "
                                         "FORMAT, %1, the video on a carrier.")
                              .arg(iqFormatChoices()),
                          QStringLiteral("FORMAT")};
    QCommandLineOption iqRate{QStringLiteral("iq-rate"),
                              QStringLiteral("IQ samples per second (default 2400000)."),
                              QStringLiteral("HZ"), QStringLiteral("2400000")};
    QCommandLineOption carrierOffset{
        QStringLiteral("carrier-offset"),
        QStringLiteral("Where the carrier sits from the SDR's centre (default 100000)."),
        QStringLiteral("HZ"), QStringLiteral("100000")};
    QCommandLineOption modulation{QStringLiteral("modulation"),
                                  QStringLiteral("am (the default) or fm (±30 kHz)."),
                                  QStringLiteral("KIND"), QStringLiteral("am")};

    QCommandLineOption invert{QStringLiteral("invert"),
                              QStringLiteral("Send the whole signal upside down (sync up).")};
    QCommandLineOption porch{QStringLiteral("porch"),
                             QStringLiteral("Black before and after each sync pulse, PERCENT of "
                                            "the line each."),
                             QStringLiteral("PERCENT")};
    QCommandLineOption hum{QStringLiteral("hum"),
                           QStringLiteral("Add 50 Hz mains hum at PERCENT of the video's swing."),
                           QStringLiteral("PERCENT")};
    QCommandLineOption fade{QStringLiteral("fade"),
                            QStringLiteral("Fade the signal by up to DB and back every two "
                                           "seconds, as a radio path does (QSB)."),
                            QStringLiteral("DB")};
    QCommandLineOption cut{QStringLiteral("cut-every"),
                           QStringLiteral("Cut a tenth of a second out every S seconds, as an "
                                          "edited recording jumps."),
                           QStringLiteral("S")};

    QCommandLineOption stereo{QStringLiteral("stereo"),
                              QStringLiteral("Write stereo with the picture on the left or right "
                                             "channel and a programme's sound on the other."),
                              QStringLiteral("SIDE")};
    QCommandLineOption soundLevel{QStringLiteral("sound-level"),
                                  QStringLiteral("The sound's level with --stereo, 0 to 1 of "
                                                 "full scale (default 0.5)."),
                                  QStringLiteral("LEVEL")};

    QList<QCommandLineOption> all() const
    {
        return {standard,      image,      rate,   am,        frameMark, level,
                negative,      acCoupling, snr,    seed,      speed,     invert,
                porch,         hum,        fade,   cut,       iq,        iqRate,
                carrierOffset, modulation, stereo, soundLevel};
    }
};

int sendIq(const Tool& tool, const QCommandLineParser& parser, const TransmitterCli& cli,
           const std::vector<float>& video, double videoRate, const QString& out)
{
    const auto format = iqFormatByName(parser.value(cli.iq));
    if (!format)
        return tool.fail(Tool::kBadUsage, QStringLiteral("--iq must be %1 (got '%2')")
                                              .arg(iqFormatChoices(), parser.value(cli.iq)));
    const auto modulation = demodByName(parser.value(cli.modulation));
    if (!modulation || *modulation == Demod::Auto)
        return tool.fail(Tool::kBadUsage, QStringLiteral("--modulation must be am or fm (got '%1')")
                                              .arg(parser.value(cli.modulation)));
    if (parser.isSet(cli.am))
        return tool.fail(Tool::kBadUsage, QStringLiteral("--am does not go with --iq"));
    IqModulatorOptions m;
    m.modulation = *modulation;
    std::optional<QString> problem = readNumberOption(parser, cli.iqRate, 48000, 20e6, m.iqRate);
    if (!problem)
        problem = readNumberOption(parser, cli.carrierOffset, -0.45 * m.iqRate, 0.45 * m.iqRate,
                                   m.carrierHz);
    if (problem)
        return tool.fail(Tool::kBadUsage, *problem);
    const std::vector<IqSample> iq = modulateIq(video, videoRate, m);
    QString error;
    if (out == QLatin1String("-")) {
        const auto bytes = encodeIq(*format, iq);
        if (!writeStandardOutput(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qsizetype>(bytes.size())),
                                 &error))
            return tool.fail(Tool::kFailed, error);
    } else if (!writeIqFile(out, iq, *format, m.iqRate, &error)) {
        return tool.fail(Tool::kFailed, error);
    }
    return 0;
}

int sendNbtv(const Tool& tool, const QCommandLineParser& parser, const TransmitterCli& cli,
             double seconds, const QString& out)
{
    const auto standard = standardByName(parser.value(cli.standard));
    if (!standard)
        return tool.fail(Tool::kBadUsage, QStringLiteral("--standard must be %1 (got '%2')")
                                              .arg(standardChoices(), parser.value(cli.standard)));
    TransmitterOptions options;
    options.standard = *standard;
    options.seconds = seconds;
    options.negative = parser.isSet(cli.negative);
    const auto mark = frameMarkByName(parser.value(cli.frameMark));
    if (!mark)
        return tool.fail(
            Tool::kBadUsage,
            QStringLiteral("--frame-mark must be missing, wide, gap, after or none (got '%1')")
                .arg(parser.value(cli.frameMark)));
    options.mark = *mark;
    options.invert = parser.isSet(cli.invert);
    double acHz = 0, snrDb = 0, seed = 1, speed = 0, porch = 0, hum = 0, fade = 0, cut = 0;
    std::optional<QString> problem;
    if (!problem)
        problem = readNumberOption(parser, cli.rate, 8000, 192000, options.sampleRate);
    if (!problem)
        problem = readNumberOption(parser, cli.level, 1e-6, 1, options.level);
    if (!problem)
        problem = readNumberOption(parser, cli.am, 100, options.sampleRate / 2, options.amHz);
    if (!problem)
        problem = readNumberOption(parser, cli.acCoupling, 0.01, 1000, acHz);
    if (!problem)
        problem = readNumberOption(parser, cli.snr, -20, 120, snrDb);
    if (!problem)
        problem = readNumberOption(parser, cli.seed, 0, 4294967295.0, seed);
    if (!problem)
        problem = readNumberOption(parser, cli.speed, -20, 20, speed);
    if (!problem)
        problem = readNumberOption(parser, cli.porch, 0, 30, porch);
    if (!problem)
        problem = readNumberOption(parser, cli.hum, 0, 100, hum);
    if (!problem)
        problem = readNumberOption(parser, cli.fade, 0, 60, fade);
    if (!problem)
        problem = readNumberOption(parser, cli.cut, 0.2, kMaxSeconds, cut);
    if (problem)
        return tool.fail(Tool::kBadUsage, *problem);
    options.frontPorch = options.backPorch = porch / 100;

    QImage picture;
    if (parser.isSet(cli.image)) {
        QImageReader reader(parser.value(cli.image));
        reader.setAutoTransform(true);
        picture = reader.read();
        if (picture.isNull())
            return tool.fail(Tool::kFailed,
                             QStringLiteral("cannot read the picture '%1': %2")
                                 .arg(parser.value(cli.image), reader.errorString()));
    } else {
        picture = testPicture(240, 360);
    }

    QString error;
    const RealPath path{.speedPercent = speed,
                        .cutEverySeconds = cut,
                        .fadeDb = fade,
                        .acHz = acHz,
                        .humPercent = hum,
                        .noisy = parser.isSet(cli.snr),
                        .snrDb = snrDb,
                        .seed = static_cast<std::uint32_t>(seed)};
    const auto signal = throughPath(transmit(rasterFor(picture, options.standard), options),
                                    options.sampleRate, path, &error);
    if (!signal)
        return tool.fail(Tool::kBadUsage, error);
    if (signal->empty())
        return tool.fail(Tool::kBadUsage, QStringLiteral("--seconds %1 holds no sample at %2 Hz")
                                              .arg(parser.value(QStringLiteral("seconds")))
                                              .arg(options.sampleRate));
    if (parser.isSet(cli.iq))
        return sendIq(tool, parser, cli, *signal, options.sampleRate, out);
    const int rate = static_cast<int>(std::lround(options.sampleRate));
    if (parser.isSet(cli.stereo)) {
        // The picture on one channel, the programme's sound on the other, as on the club's CDs.
        const QString side = parser.value(cli.stereo).trimmed().toLower();
        if (side != QLatin1String("left") && side != QLatin1String("right"))
            return tool.fail(Tool::kBadUsage,
                             QStringLiteral("--stereo must be left or right (got '%1')")
                                 .arg(parser.value(cli.stereo)));
        double soundLevel = 0.5;
        if (const auto problem = readNumberOption(parser, cli.soundLevel, 0, 1, soundLevel))
            return tool.fail(Tool::kBadUsage, *problem);
        const std::vector<float> both =
            withSound(*signal, options.sampleRate, side == QLatin1String("left") ? 0 : 1,
                      soundLevel, static_cast<std::uint32_t>(seed));
        if (!writeFloatSamples(out, both, rate, &error, 2))
            return tool.fail(Tool::kFailed, error);
        return Tool::kOk;
    }
    if (!writeFloatSamples(out, *signal, rate, &error))
        return tool.fail(Tool::kFailed, error);
    return Tool::kOk;
}

int run(Tool& tool)
{
    QCommandLineParser& parser = tool.parser();
    const auto options = settingOptions(false);
    addSettingOptions(parser, options);
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"),
        QStringLiteral("Length of the signal in seconds, above 0 and up to %1 (default 2).")
            .arg(kMaxSeconds),
        QStringLiteral("S"), QStringLiteral("2"));
    const QCommandLineOption clipOption(
        QStringLiteral("clip"), QStringLiteral("Add a clipped burst to every second frame."));
    const QCommandLineOption outOption(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Where to write: *.wav (8-bit PCM; 16-bit with --standard), *.raw or "
                       "*.u8 (raw unsigned 8-bit), or - for raw bytes on stdout."),
        QStringLiteral("OUT"));
    parser.addOption(secondsOption);
    parser.addOption(clipOption);
    parser.addOption(outOption);
    const TransmitterCli transmitter;
    for (const QCommandLineOption& option : transmitter.all())
        parser.addOption(option);

    if (const auto done = tool.parse())
        return *done;
    if (!parser.positionalArguments().isEmpty())
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("unexpected argument '%1' (the output goes with -o)")
                             .arg(parser.positionalArguments().front()));

    if (!parser.isSet(transmitter.standard)) {
        for (const QCommandLineOption& option : transmitter.all())
            if (parser.isSet(option))
                return tool.fail(
                    Tool::kBadUsage,
                    QStringLiteral("--%1 needs --standard").arg(option.names().front()));
    } else {
        for (const SettingOption& option : options)
            if (parser.isSet(QString::fromLatin1(option.name)))
                return tool.fail(Tool::kBadUsage, QStringLiteral("--%1 does not go with --standard")
                                                      .arg(QString::fromLatin1(option.name)));
        if (parser.isSet(clipOption))
            return tool.fail(Tool::kBadUsage, QStringLiteral("--clip does not go with --standard"));
    }

    TestCardOptions card;
    if (const auto problem = readSettingOptions(parser, options, card.settings))
        return tool.fail(Tool::kBadUsage, *problem);

    double seconds = 0;
    if (const auto problem = readNumberOption(parser, secondsOption,
                                              NumberRule{0, kMaxSeconds, false, true}, seconds))
        return tool.fail(Tool::kBadUsage, *problem);
    if (!parser.isSet(outOption))
        return tool.fail(Tool::kBadUsage, QStringLiteral("-o OUT is required"));
    const QString out = parser.value(outOption);
    for (const QString& each : parser.values(outOption)) {
        if (each != QLatin1String("-") && !isRawSampleName(each) && !parser.isSet(transmitter.iq) &&
            !each.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
            return tool.fail(
                Tool::kBadUsage,
                QStringLiteral("-o must name a .wav, .raw or .u8 file or - (got '%1')").arg(each));
    }

    QString error;
    if (out != QLatin1String("-") && !canReplaceFile(out, &error))
        return tool.fail(Tool::kFailed, error);
    if (parser.isSet(transmitter.standard))
        return sendNbtv(tool, parser, transmitter, seconds, out);

    card.samples = std::llround(seconds * card.settings.sampleRate);
    if (card.samples == 0)
        return tool.fail(Tool::kBadUsage, QStringLiteral("--seconds %1 holds no sample at %2 Hz")
                                              .arg(parser.value(secondsOption))
                                              .arg(card.settings.sampleRate));
    card.clippedBurst = parser.isSet(clipOption);
    if (!writeSamples(out, makeTestCard(card), card.settings.sampleRate, &error))
        return tool.fail(Tool::kFailed, error);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Ended by Ctrl+C or a kill, an output half written goes with the process.
    removeTemporariesOnSignals();
    Tool tool("corvane-testcard", CORVANE_VERSION,
              QStringLiteral(
                  "Writes a test-card signal for the given decoder settings: grey wedges, a ring, "
                  "a sync line along the top (azure when --min-level is above 0) and, with --clip, "
                  "a clipped burst in every second frame. With --standard it is a test transmitter "
                  "instead: a picture in, a correct NBTV signal out, optionally through what a "
                  "real path does to it (--ac-coupling, --snr, --speed, --level; 8-bit by naming "
                  "a .u8 or .raw file)."));
    try {
        return run(tool);
    } catch (const std::bad_alloc&) {
        // The whole signal is made in memory before it is written.
        return tool.fail(Tool::kFailed, QStringLiteral("not enough memory for a signal that long "
                                                       "at that rate: ask for fewer --seconds"));
    }
}
