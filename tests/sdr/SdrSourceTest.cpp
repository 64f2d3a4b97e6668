// The SDR sources against what they meet: a recording, an rtl_tcp server of our own on the
// loopback that honours the commands and then goes away, servers that are not rtl_tcp, and a
// SoapySDR device that is not there.
#include "IqFileSource.h"
#include "IqModulator.h"
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"
#include "RtlTcpSource.h"
#include "SdrCommandLine.h"
#include "SoapySource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

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

std::vector<IqSample> air(double iqRate, double carrierHz)
{
    TransmitterOptions t;
    t.sampleRate = 48000;
    t.seconds = 1.6;
    IqModulatorOptions m;
    m.iqRate = iqRate;
    m.carrierHz = carrierHz;
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
    ASSERT_TRUE(waitFor([&] { return watch.ended.has_value(); }));
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

} // namespace
