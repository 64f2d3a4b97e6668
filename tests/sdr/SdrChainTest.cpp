// SDR reception end to end: our test transmitter's picture on a carrier, through what a cheap
// receiver does to it, written in each IQ format, read back, found, demodulated and locked to.
#include "Correlation.h"
#include "IqConditioner.h"
#include "IqDemodChain.h"
#include "IqModulator.h"
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"
#include "ToolRun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <string>

using namespace corvane;

namespace {

constexpr double kVideoRate = 48000;

struct Received
{
    SdrStatus status;
    LockedStatus locked;
    QImage frame;
};

// Feeds IQ to the chain in receiver-sized blocks and its video to the locked decoder.
Received receive(const std::vector<IqSample>& iq, const SdrOptions& options)
{
    IqDemodChain chain(options);
    LockedSettings settings;
    settings.signal = SignalKind::Baseband;
    LockedDecoder decoder(chain.videoRate(), settings);
    std::vector<float> video;
    for (std::size_t at = 0; at < iq.size(); at += 16384) {
        video.clear();
        chain.feed(std::span(iq).subspan(at, std::min<std::size_t>(16384, iq.size() - at)), video);
        decoder.feed(video.data(), video.size());
    }
    return {chain.status(), decoder.status(), decoder.lastFrame()};
}

struct Air
{
    const char* name;
    IqFormat format;
    double rate;
    Demod modulation;
    double carrierHz;
    IqSample dc{};
    double gain = 1, phaseDeg = 0;
    std::vector<DecoyCarrier> decoys{};
    double noise = 0.01;
};

void PrintTo(const Air& a, std::ostream* os)
{
    *os << a.name;
}

class SdrAir : public ::testing::TestWithParam<Air>
{
};

TEST_P(SdrAir, FindsDemodulatesAndLocksToThePicture)
{
    const Air& a = GetParam();
    TransmitterOptions t;
    t.sampleRate = kVideoRate;
    t.seconds = 1.6;
    const QImage raster = rasterFor(testPicture(240, 360), t.standard);
    IqModulatorOptions m;
    m.iqRate = a.rate;
    m.carrierHz = a.carrierHz;
    m.modulation = a.modulation;
    m.dcOffset = a.dc;
    m.gainImbalance = a.gain;
    m.phaseImbalanceDeg = a.phaseDeg;
    m.decoys = a.decoys;
    m.noise = a.noise;
    const std::vector<IqSample> sent = modulateIq(transmit(raster, t), kVideoRate, m);

    // Through the file format and the reader.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("air.") + iqFormatName(a.format));
    QString error;
    ASSERT_TRUE(writeIqFile(path, sent, a.format, a.rate, &error)) << error.toStdString();
    IqReader reader;
    ASSERT_TRUE(reader.open(path, a.format, a.rate, &error)) << error.toStdString();
    EXPECT_EQ(reader.sampleRate(), a.rate);
    std::vector<IqSample> iq(sent.size() + 10);
    iq.resize(reader.read(iq.data(), iq.size()));
    ASSERT_EQ(iq.size(), sent.size());

    SdrOptions options;
    options.format = a.format;
    options.sampleRate = reader.sampleRate();
    const Received r = receive(iq, options);
    ASSERT_TRUE(r.status.found) << r.status.message.toStdString();
    EXPECT_EQ(r.status.demod, a.modulation);
    EXPECT_NEAR(r.status.tuneHz, a.carrierHz, 1000);
    ASSERT_TRUE(r.locked.locked);
    EXPECT_NEAR(r.locked.lineRateHz / 400, 1, 0.005);
    EXPECT_GE(correlation(r.frame, raster), 0.93);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SdrAir,
    ::testing::Values(Air{.name = "cu8_am_dc_imbalance",
                          .format = IqFormat::Cu8,
                          .rate = 2.4e6,
                          .modulation = Demod::Am,
                          .carrierHz = 310000,
                          .dc = {0.06f, -0.04f},
                          .gain = 1.12,
                          .phaseDeg = 6},
                      Air{.name = "cs16_fm",
                          .format = IqFormat::Cs16,
                          .rate = 1e6,
                          .modulation = Demod::Fm,
                          .carrierHz = -120000,
                          .noise = 0.03},
                      Air{.name = "cf32_am",
                          .format = IqFormat::Cf32,
                          .rate = 250000,
                          .modulation = Demod::Am,
                          .carrierHz = 40000},
                      Air{.name = "wav_am_decoys",
                          .format = IqFormat::Wav,
                          .rate = 192000,
                          .modulation = Demod::Am,
                          .carrierHz = -25000,
                          .decoys = {{30000, 0.4}, {70000, 0.3}, {-62000, 0.5}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Mismatch
{
    IqSample dc;
    double gain, phaseDeg;
};

class SdrConditioner : public ::testing::TestWithParam<Mismatch>
{
};

TEST_P(SdrConditioner, TakesOutTheCentreSpikeAndTheMirrorImage)
{
    // A plain carrier 100 kHz up: what is left at the centre and mirrored 100 kHz down.
    const double rate = 1e6, hz = 100000;
    IqModulatorOptions m;
    m.iqRate = rate;
    m.carrierHz = hz;
    m.decoys = {{hz, 0.3}};
    m.amplitude = 0;
    m.dcOffset = GetParam().dc;
    m.gainImbalance = GetParam().gain;
    m.phaseImbalanceDeg = GetParam().phaseDeg;
    std::vector<IqSample> iq = modulateIq(std::vector<float>(48000, 0.0f), 48000, m);
    IqConditioner conditioner(rate);
    for (std::size_t at = 0; at < iq.size(); at += 16384)
        conditioner.process(iq.data() + at, std::min<std::size_t>(16384, iq.size() - at));
    // Over the last tenth of a second, by projection on each frequency.
    const auto level = [&](double f) {
        std::complex<double> sum;
        const std::size_t first = iq.size() - 100000;
        for (std::size_t n = first; n < iq.size(); ++n)
            sum += std::complex<double>(iq[n]) *
                   std::polar(1.0, -2 * std::numbers::pi * f * double(n) / rate);
        return std::abs(sum) / 100000;
    };
    const double carrier = level(hz);
    EXPECT_LT(level(0) / carrier, 0.003);   // -50 dB
    EXPECT_LT(level(-hz) / carrier, 0.003); // an image at -50 dB
    EXPECT_NEAR(conditioner.gainImbalance(), GetParam().gain, 0.01);
    EXPECT_NEAR(conditioner.phaseImbalanceDegrees(), GetParam().phaseDeg, 0.3);
}

INSTANTIATE_TEST_SUITE_P(Receivers, SdrConditioner,
                         ::testing::Values(Mismatch{{0.06f, -0.04f}, 1.12, 6},
                                           Mismatch{{-0.1f, 0.02f}, 0.85, -9}, Mismatch{{}, 1, 0}));

TEST(SdrFinder, CarriersAndATonePassedOverAndNamed)
{
    // A carrier keyed with a steady tone and two plain ones: none has a line-rate sync.
    const double rate = 1e6;
    std::vector<float> tone(static_cast<std::size_t>(kVideoRate));
    for (std::size_t n = 0; n < tone.size(); ++n)
        tone[n] = 0.8f * float(std::sin(2 * std::numbers::pi * 1300 * double(n) / kVideoRate));
    IqModulatorOptions m;
    m.iqRate = rate;
    m.carrierHz = 90000;
    m.decoys = {{-200000, 0.3}, {250000, 0.1}};
    m.noise = 0.01;
    const std::vector<std::uint8_t> bytes =
        encodeIq(IqFormat::Cs8, modulateIq(tone, kVideoRate, m));
    SdrOptions options;
    options.format = IqFormat::Cs8;
    options.sampleRate = rate;
    options.searchEverySeconds = 0.5;
    IqDemodChain chain(options);
    std::vector<float> video;
    // Odd-sized pieces: pairs split across calls must join up.
    for (std::size_t at = 0; at < bytes.size(); at += 7777)
        chain.feedBytes(
            std::span(bytes).subspan(at, std::min<std::size_t>(7777, bytes.size() - at)), video);
    const SdrStatus status = chain.status();
    EXPECT_FALSE(status.found);
    EXPECT_TRUE(video.empty());
    EXPECT_GE(status.searches, 2);
    ASSERT_GE(status.carriers.size(), 3u);
    EXPECT_NEAR(status.carriers[0].offsetHz, -200000, 300);
    EXPECT_TRUE(status.message.contains(QStringLiteral("-200.0 kHz")))
        << status.message.toStdString();
}

TEST(SdrChain, ATransmissionThatMovesIsLostAndFoundAgain)
{
    // 1.2 s at +40 kHz, then 9 s at -60 kHz: a few seconds without line sync where the chain
    // listens, then a new search.
    TransmitterOptions t;
    t.sampleRate = kVideoRate;
    const QImage raster = rasterFor(testPicture(240, 360), t.standard);
    IqModulatorOptions m;
    m.iqRate = 250000;
    std::vector<IqSample> iq;
    for (const auto& [offset, seconds] : {std::pair{40000.0, 1.2}, std::pair{-60000.0, 9.0}}) {
        t.seconds = seconds;
        m.carrierHz = offset;
        const std::vector<IqSample> part = modulateIq(transmit(raster, t), kVideoRate, m);
        iq.insert(iq.end(), part.begin(), part.end());
    }
    SdrOptions options;
    options.sampleRate = m.iqRate;
    const Received r = receive(iq, options);
    EXPECT_TRUE(r.status.found);
    EXPECT_NEAR(r.status.tuneHz, -60000, 1000);
    EXPECT_TRUE(r.locked.locked);
    EXPECT_GE(correlation(r.frame, raster), 0.93);
}

TEST(SdrHacktv, AnIndependentTransmittersAmSignalIsFoundAtItsLineRate)
{
    // hacktv's own NBTV AM modulator, 1.6 s of it at 192 kHz, 20 kHz above the centre, after
    // the fifth of a second of silence it starts with. Its sync comes upside down and every
    // line of its bars is the same: the frame is found by its one missing pulse.
    QProcess hacktv;
    hacktv.start(QStringLiteral("hacktv"),
                 {QStringLiteral("-m"), QStringLiteral("nbtv-am"), QStringLiteral("-s"),
                  QStringLiteral("192000"), QStringLiteral("--offset"), QStringLiteral("20000"),
                  QStringLiteral("-t"), QStringLiteral("int16"), QStringLiteral("-o"),
                  QStringLiteral("-"), QStringLiteral("test:colourbars")});
    if (!hacktv.waitForStarted(5000))
        GTEST_SKIP() << "hacktv is not installed";
    QByteArray bytes;
    const qsizetype skip = 192000 * 4 / 4, want = skip + 192000 * 4 * 16 / 10;
    while (bytes.size() < want && hacktv.waitForReadyRead(5000))
        bytes += hacktv.readAllStandardOutput();
    hacktv.kill();
    hacktv.waitForFinished(5000);
    ASSERT_GE(bytes.size(), want);
    std::vector<IqSample> iq(static_cast<std::size_t>((want - skip) / 4));
    decodeIq(IqFormat::Cs16, reinterpret_cast<const std::uint8_t*>(bytes.constData() + skip),
             iq.size(), iq.data());
    SdrOptions options;
    options.format = IqFormat::Cs16;
    options.sampleRate = 192000;
    const Received r = receive(iq, options);
    ASSERT_TRUE(r.status.found) << r.status.message.toStdString();
    EXPECT_EQ(r.status.demod, Demod::Am);
    EXPECT_NEAR(r.status.tuneHz, 20000, 1000);
    EXPECT_NEAR(r.status.lineRateHz / 400, 1, 0.005);
    EXPECT_NEAR(r.locked.lineRateHz / 400, 1, 0.005);
    EXPECT_TRUE(r.locked.inverted);
    EXPECT_GE(r.locked.frames, 10);
}

TEST(SdrTestcard, WritesIqTheChainFindsAndRefusesBadOptions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fm.cs8"));
    const QStringList send{QStringLiteral("--standard"),
                           QStringLiteral("nbtva"),
                           QStringLiteral("--seconds"),
                           QStringLiteral("1.2"),
                           QStringLiteral("--iq"),
                           QStringLiteral("cs8"),
                           QStringLiteral("--iq-rate"),
                           QStringLiteral("1000000"),
                           QStringLiteral("--carrier-offset"),
                           QStringLiteral("150000"),
                           QStringLiteral("--modulation"),
                           QStringLiteral("fm"),
                           QStringLiteral("-o"),
                           path};
    const ToolRun run = runTool(QStringLiteral("corvane-testcard"), send);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // Decoded headless as a user would: found, told FM and where, locked.
    const ToolRun got =
        runTool(QStringLiteral("corvane-decode"),
                {"--locked", "--iq", "cs8", "--sample-rate", "1000000", "--stats", path});
    ASSERT_EQ(got.exitCode, 0) << got.err.toStdString();
    const QJsonObject stats = QJsonDocument::fromJson(got.out).object();
    EXPECT_EQ(stats.value("demod").toString(), QStringLiteral("fm"));
    EXPECT_NEAR(stats.value("tuneHz").toDouble(), 150000, 1000);
    EXPECT_NEAR(stats.value("lineRateHz").toDouble(), 400, 2);
    for (const auto& [option, value] : {std::pair{"--iq", "cu9"}, std::pair{"--modulation", "pm"},
                                        std::pair{"--carrier-offset", "600000"}}) {
        QStringList bad = send;
        bad[bad.indexOf(QString::fromLatin1(option)) + 1] = QString::fromLatin1(value);
        const ToolRun refused = runTool(QStringLiteral("corvane-testcard"), bad);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_TRUE(refused.err.contains(option)) << refused.err.toStdString();
    }
}

} // namespace
