// The SDR sources against what they meet: a recording, an rtl_tcp server of our own on the
// loopback that honours the commands and then goes away, servers that are not rtl_tcp, and a
// SoapySDR device that is not there.
#include "BandPower.h"
#include "Correlation.h"
#include "IqFileSource.h"
#include "IqModulator.h"
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"
#include "RtlTcpSource.h"
#include "SdrCommandLine.h"
#include "SoapySource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <numbers>
#include <random>

using namespace corvane;

namespace {

struct App
{
    int argc = 1;
    char name[8] = "sdrtest";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

std::vector<IqSample> air(double iqRate, double carrierHz, double seconds = 1.6,
                          Demod modulation = Demod::Am, double amplitude = 0.3)
{
    TransmitterOptions t;
    t.sampleRate = 48000;
    t.seconds = seconds;
    IqModulatorOptions m;
    m.iqRate = iqRate;
    m.carrierHz = carrierHz;
    m.modulation = modulation;
    m.amplitude = amplitude;
    m.noise = 0.01;
    return modulateIq(transmit(rasterFor(testPicture(240, 360), t.standard), t), 48000, m);
}

// What a source delivered, fed to the locked decoder as it came.
struct Watch
{
    std::unique_ptr<LockedDecoder> decoder;
    QStringList messages;
    std::optional<QString> ended;

    void attach(SampleSource& source)
    {
        QObject::connect(&source, &SampleSource::block,
                         [this](const float* v, std::size_t frames, int channels, double rate) {
                             ASSERT_EQ(channels, 1);
                             if (!decoder) {
                                 LockedSettings s;
                                 s.signal = SignalKind::Baseband;
                                 decoder = std::make_unique<LockedDecoder>(rate, s);
                             }
                             decoder->feed(v, frames);
                         });
        QObject::connect(&source, &SampleSource::ended, [this](const QString& r) { ended = r; });
    }
    bool locked() const { return decoder && decoder->status().locked; }
};

TEST(SdrSources, ARecordingPlaysThroughAndAMissingOneIsRefused)
{
    App app;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rec.cf32"));
    ASSERT_TRUE(writeIqFile(path, air(250000, -50000), IqFormat::Cf32, 250000, nullptr));
    SdrOptions options;
    options.format = IqFormat::Cf32;
    options.sampleRate = 250000;
    IqFileSource source(path, options, false);
    Watch watch;
    watch.attach(source);
    QString error;
    ASSERT_TRUE(source.start(&error)) << error.toStdString();
    ASSERT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
    EXPECT_EQ(*watch.ended, QString());
    EXPECT_TRUE(watch.locked());
    EXPECT_NEAR(source.status().tuneHz, -50000, 1000);

    // The same through the headless tools' call.
    std::size_t video = 0;
    SdrStatus status;
    EXPECT_TRUE(demodulateIqFile(
        path, options, [&](std::span<const float> v, double) { video += v.size(); }, &status,
        &error));
    EXPECT_NEAR(double(video), 1.6 * 48000, 4800);
    EXPECT_EQ(status.demod, Demod::Am);

    for (const QString& gone : {dir.filePath(QStringLiteral("gone.cu8")), dir.path()}) {
        IqFileSource missing(gone, options, false);
        EXPECT_FALSE(missing.start(&error));
        EXPECT_TRUE(error.contains(gone)) << error.toStdString();
        EXPECT_FALSE(demodulateIqFile(gone, options, {}, nullptr, &error));
    }
}

TEST(SdrSources, RtlTcpIsToldRateAndFrequencyStreamsThenReconnectsAndEnds)
{
    App app;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    std::map<int, std::uint32_t> commands;
    QTcpSocket* client = nullptr;
    bool sent = false;
    qint64 sentBytes = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        client = server.nextPendingConnection();
        char header[12] = {'R', 'T', 'L', '0'};
        qToBigEndian<std::uint32_t>(5, header + 4); // R820T
        qToBigEndian<std::uint32_t>(29, header + 8);
        client->write(header, 12);
        QObject::connect(client, &QTcpSocket::readyRead, [&] {
            while (client->bytesAvailable() >= 5) {
                const QByteArray c = client->read(5);
                commands[static_cast<std::uint8_t>(c[0])] =
                    qFromBigEndian<std::uint32_t>(c.constData() + 1);
            }
            // Streams once told the rate, at that rate; then goes away for good.
            if (!sent && commands.count(1) && commands.count(2)) {
                sent = true;
                const auto bytes = encodeIq(IqFormat::Cu8, air(commands[2], 100000));
                sentBytes = qint64(bytes.size());
                client->write(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qint64>(bytes.size()));
                server.close();
                client->disconnectFromHost();
            }
        });
    });

    RtlTcpOptions rtl;
    QString error;
    ASSERT_TRUE(parseRtlTcpAddress(
        QStringLiteral("rtl_tcp://127.0.0.1:%1").arg(server.serverPort()), rtl, &error));
    rtl.frequencyHz = 27.2e6;
    rtl.sampleRate = 1.024e6;
    rtl.gainDb = 20.7;
    rtl.reconnectAttempts = 2;
    rtl.reconnectDelayMs = 50;
    RtlTcpSource source(rtl, SdrOptions{});
    Watch watch;
    watch.attach(source);
    QObject::connect(&source, &RtlTcpSource::message,
                     [&](const QString& m) { watch.messages << m; });
    ASSERT_TRUE(source.start(&error)) << error.toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(source.startRawRecording(dir.path(), &error)) << error.toStdString();
    ASSERT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
    // The dongle's bytes as they came, under a name saying what they are.
    const QString recorded = source.stopRawRecording(&error);
    EXPECT_TRUE(recorded.endsWith(QStringLiteral("_27200000Hz_1024000sps.cu8")))
        << recorded.toStdString() << error.toStdString();
    EXPECT_EQ(QFileInfo(recorded).size(), sentBytes);
    EXPECT_EQ(commands[2], 1024000u);
    EXPECT_EQ(commands[1], 27200000u);
    EXPECT_EQ(commands[3], 1u);
    EXPECT_EQ(commands[4], 207u);
    EXPECT_EQ(source.tunerName(), QStringLiteral("R820T"));
    EXPECT_TRUE(watch.locked());
    EXPECT_NEAR(source.status().tuneHz, 100000, 1000);
    EXPECT_TRUE(watch.messages.join(u'\n').contains(QStringLiteral("attempt 2 of 2")))
        << watch.messages.join(u'\n').toStdString();
    EXPECT_TRUE(watch.ended->contains(QStringLiteral("went away"))) << watch.ended->toStdString();
}

struct NotRtlTcp
{
    const char* name;
    const char* greeting; // nullptr: nobody listens
    const char* says;
};

class SdrNotRtlTcp : public ::testing::TestWithParam<NotRtlTcp>
{
};

TEST_P(SdrNotRtlTcp, EndsAtOnceWithAReason)
{
    App app;
    const NotRtlTcp& p = GetParam();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    RtlTcpOptions rtl;
    rtl.port = server.serverPort();
    rtl.frequencyHz = 100e6;
    rtl.headerTimeoutMs = 300;
    if (!p.greeting)
        server.close();
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { server.nextPendingConnection()->write(p.greeting); });
    RtlTcpSource source(rtl, SdrOptions{});
    Watch watch;
    watch.attach(source);
    ASSERT_TRUE(source.start(nullptr));
    ASSERT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
    EXPECT_TRUE(watch.ended->contains(QString::fromLatin1(p.says))) << watch.ended->toStdString();
}

INSTANTIATE_TEST_SUITE_P(Servers, SdrNotRtlTcp,
                         ::testing::Values(NotRtlTcp{"silent", "", "no rtl_tcp greeting"},
                                           NotRtlTcp{"http", "HTTP/1.1 400 Bad Request\r\n\r\n",
                                                     "not an rtl_tcp server"},
                                           NotRtlTcp{"nobody", nullptr,
                                                     "cannot use rtl_tcp at 127.0.0.1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SdrSources, BadOptionsAndAMissingDeviceAreRefusedWithAReason)
{
    App app;
    QString error;
    RtlTcpOptions rtl;
    EXPECT_FALSE(parseRtlTcpAddress(QStringLiteral("http://host:1"), rtl, &error));
    rtl.frequencyHz = 100e6;
    rtl.sampleRate = 500000; // in the dongle's gap
    EXPECT_FALSE(RtlTcpSource(rtl, SdrOptions{}).start(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("900001"))) << error.toStdString();
    SoapyOptions soapy;
    soapy.args = QStringLiteral("driver=corvane-none");
    EXPECT_FALSE(SoapySource(soapy, SdrOptions{}).start(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("driver=corvane-none"))) << error.toStdString();
}

struct Cli
{
    QStringList args;
    const char* says; // the complaint, or what was read
};

class SdrCli : public ::testing::TestWithParam<Cli>
{
};

TEST_P(SdrCli, ReadsWhatIsGivenAndNamesTheOptionThatIsWrong)
{
    QCommandLineParser parser;
    const SdrCommandLine options;
    parser.addOptions(options.all());
    ASSERT_TRUE(parser.parse(QStringList{QStringLiteral("tool")} + GetParam().args));
    SdrRequest r;
    const auto problem = readSdrCommandLine(parser, options, r);
    const QString read =
        problem
            ? *problem
            : QStringLiteral("kind %1 %2 rate %3 tune %4 demod %5 rtl %6:%7 soapy '%8' f %9 g %10")
                  .arg(int(r.kind))
                  .arg(iqFormatName(r.sdr.format))
                  .arg(r.sdr.sampleRate)
                  .arg(r.sdr.tuneHz.value_or(-1))
                  .arg(demodName(r.sdr.demod), r.rtl.host)
                  .arg(r.rtl.port)
                  .arg(r.soapy.args)
                  .arg(r.rtl.frequencyHz)
                  .arg(r.rtl.gainDb.value_or(-1));
    EXPECT_EQ(read.toStdString(), GetParam().says);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SdrCli,
    ::testing::Values(
        Cli{{"--iq", "cu9"}, "--iq must be cu8, cs8, cs16, cf32 or wav, or auto (got 'cu9')"},
        Cli{{"--tune", "1000"}, "--tune needs --iq or --source"},
        Cli{{"--source", "rtl_tcp://h:1"},
            "--source needs --frequency HZ, what to tune the SDR to"},
        Cli{{"--source", "ftp://h", "--frequency", "1e8"},
            "--source must be rtl_tcp://HOST:PORT or soapy:ARGS (got 'ftp://h')"},
        Cli{{"--iq", "cu8", "--tune", "1300000"},
            "--tune must be a number from -1.2e+06 to 1.2e+06 (got '1300000')"},
        Cli{{"--iq", "cs16", "--demod", "pm"}, "--demod must be auto, am or fm (got 'pm')"},
        Cli{{"--iq", "cf32", "--sample-rate", "250000", "--tune", "-5000", "--demod", "fm"},
            "kind 1 cf32 rate 250000 tune -5000 demod fm rtl 127.0.0.1:1234 soapy '' f 0 g -1"},
        Cli{{"--source", "rtl_tcp://10.0.0.2:7373", "--frequency", "27e6", "--gain", "20"},
            "kind 2 cu8 rate 2.4e+06 tune -1 demod auto rtl 10.0.0.2:7373 soapy '' f 2.7e+07 g 20"},
        Cli{{"--source", "soapy:driver=hackrf", "--frequency", "433e6"},
            "kind 3 cu8 rate 2.4e+06 tune -1 demod auto rtl 127.0.0.1:1234 soapy 'driver=hackrf' f "
            "4.33e+08 g -1"}));

struct TwoCarriers
{
    double rate;
    int bins;
    double strongHz, weakHz;
};

class SdrBandPower : public ::testing::TestWithParam<TwoCarriers>
{
};

// Rows come once per tenth of a second whatever the blocks; each peaks at both carriers' bins
// (lowest frequency first), the stronger the higher, far above the noise between.
TEST_P(SdrBandPower, PeaksAtTheCarriersBins)
{
    const TwoCarriers& p = GetParam();
    std::vector<IqSample> iq(static_cast<std::size_t>(0.35 * p.rate));
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0, 0.003f);
    for (std::size_t k = 0; k < iq.size(); ++k) {
        const double t = 2 * std::numbers::pi * double(k) / p.rate;
        iq[k] = std::polar(0.3f, float(std::fmod(p.strongHz * t, 2 * std::numbers::pi))) +
                std::polar(0.05f, float(std::fmod(p.weakHz * t, 2 * std::numbers::pi))) +
                IqSample(noise(random), noise(random));
    }
    std::vector<std::vector<float>> rows;
    BandPower band(p.rate, p.bins, [&](const std::vector<float>& row) { rows.push_back(row); });
    for (std::size_t at = 0; at < iq.size(); at += 7777)
        band.feed(std::span(iq).subspan(at, std::min<std::size_t>(7777, iq.size() - at)));
    ASSERT_EQ(rows.size(), 3u);
    const auto binOf = [&](double hz) { return std::lround(hz / p.rate * p.bins + p.bins / 2); };
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), std::size_t(p.bins));
        std::vector<float> sorted = row;
        std::nth_element(sorted.begin(), sorted.begin() + p.bins / 2, sorted.end());
        const float floor = sorted[std::size_t(p.bins / 2)];
        const auto peak = [&](double hz) {
            const long k = binOf(hz);
            return *std::max_element(row.begin() + std::max(0L, k - 1),
                                     row.begin() + std::min<long>(p.bins, k + 2));
        };
        EXPECT_EQ(std::max_element(row.begin(), row.end()) - row.begin(), binOf(p.strongHz));
        EXPECT_GT(peak(p.weakHz), floor + 30);
        EXPECT_GT(peak(p.strongHz), peak(p.weakHz) + 10);
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, SdrBandPower,
                         ::testing::Values(TwoCarriers{2.4e6, 1024, 310000, -500000},
                                           TwoCarriers{250000, 512, -60000, 61000},
                                           TwoCarriers{48000, 256, 5000, -12000}),
                         [](const auto& info) {
                             return std::to_string(int(info.param.rate)) + "sps";
                         });

// Two transmissions in one recording: the stronger AM one is found first; a click a little
// off the weaker FM one moves there, and the picture locks on it.
TEST(SdrSources, AClickMovesToTheTransmissionNearestIt)
{
    App app;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.cf32"));
    std::vector<IqSample> iq = air(600000, -150000, 3.2);
    const std::vector<IqSample> fm = air(600000, 120000, 3.2, Demod::Fm, 0.1);
    for (std::size_t k = 0; k < iq.size(); ++k)
        iq[k] += fm[k];
    ASSERT_TRUE(writeIqFile(path, iq, IqFormat::Cf32, 600000, nullptr));
    SdrOptions options;
    options.format = IqFormat::Cf32;
    options.sampleRate = 600000;
    IqFileSource source(path, options, false);
    EXPECT_FALSE(source.tuneTo(120000)); // not started
    Watch watch;
    watch.attach(source);
    double first = 0;
    QObject::connect(&source, &SampleSource::block, [&] {
        if (first == 0 && source.status().found) {
            first = source.status().tuneHz;
            EXPECT_TRUE(source.tuneTo(123000));
            EXPECT_FALSE(source.tuning().found);
            watch.decoder.reset();
        }
    });
    ASSERT_TRUE(source.start(nullptr));
    ASSERT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
    EXPECT_NEAR(first, -150000, 1000);
    EXPECT_NEAR(source.status().tuneHz, 120000, 2000);
    EXPECT_EQ(source.tuning().demod, QStringLiteral("fm"));
    EXPECT_TRUE(watch.locked());
}

// What a source records replays to the same picture, read back as its name says: cf32 at the
// rate, centred where the recording played was. A recording whose file went away before it
// was finished is reported, not passed off as complete.
TEST(SdrSources, ARawRecordingReplaysToTheSamePictureUnderANameSayingCentreAndRate)
{
    App app;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("air_27200000Hz_250000sps.cu8"));
    const auto bytes = encodeIq(IqFormat::Cu8, air(250000, -50000));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    file.close();
    SdrRequest request;
    request.kind = SdrRequest::Kind::IqFile;
    request.formatGiven = request.rateGiven = false;
    const auto play = [&](const QString& recording, Watch& watch) {
        auto source = makeSdrSource(request, recording, false);
        watch.attach(*source);
        int rows = 0;
        QObject::connect(source.get(), &SampleSource::bandPower,
                         [&](const std::vector<float>& row, double centre, double span) {
                             rows += row.size() == 1024 && centre == 27.2e6 && span == 250000;
                         });
        QString error;
        EXPECT_TRUE(source->start(&error)) << error.toStdString();
        EXPECT_TRUE(source->startRawRecording(dir.path(), &error)) << error.toStdString();
        EXPECT_FALSE(source->startRawRecording(dir.path(), &error));
        EXPECT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
        EXPECT_GE(rows, 15);
        const QString made = source->stopRawRecording(&error);
        EXPECT_FALSE(made.isEmpty()) << error.toStdString();
        EXPECT_TRUE(source->stopRawRecording(&error).isEmpty());
        return made;
    };
    Watch original, replay;
    const QString made = play(path, original);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("/corvane_\\d{8}_\\d{6}_27200000Hz_250000sps\\.cf32$"))
            .match(made)
            .hasMatch())
        << made.toStdString();
    EXPECT_EQ(QFileInfo(made).size(), qint64(bytes.size() * 4));
    SdrRequest named = request;
    EXPECT_FALSE(applyIqFileName(named, made).has_value());
    EXPECT_EQ(named.sdr.format, IqFormat::Cf32);
    EXPECT_EQ(named.sdr.sampleRate, 250000);
    play(made, replay);
    ASSERT_TRUE(original.locked() && replay.locked());
    EXPECT_GT(correlation(original.decoder->lastFrame(), replay.decoder->lastFrame()), 0.95);

    QString error;
    auto recorder = IqRecorder::open(dir.path(), 0, 250000, IqFormat::Cf32, &error);
    ASSERT_TRUE(recorder) << error.toStdString();
    EXPECT_TRUE(recorder->write(air(250000, 0, 0.1)));
    QFile::remove(recorder->path() + QStringLiteral(".part"));
    EXPECT_FALSE(recorder->close(&error));
    EXPECT_FALSE(QFileInfo::exists(recorder->path()));
    EXPECT_TRUE(error.contains(recorder->path())) << error.toStdString();
    EXPECT_TRUE(applyIqFileName(named, QStringLiteral("noformat.iq")).has_value());
}

} // namespace
