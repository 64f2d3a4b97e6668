// Recording from the tests' private audio server as a sample source: a two-channel source
// arrives at its own rate with both channels apart and in order; the default source, until it
// goes; no server at all. And playing one channel of a sound file to the server's output.
#include "PulseSampleSource.h"

#include "PrivatePulse.h"
#include "SoundFileSource.h"
#include "SoundOutput.h"
#include "SourceTestSupport.h"

#include <QFile>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace corvane::test {
namespace {

class PulseSampleSourceTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(pulse.start()) << pulse.log().toStdString(); }
    // Blocks until the stream is up: the pipe source drops what is written before.
    void record(PulseSampleSource& source)
    {
        QString error;
        ASSERT_TRUE(source.start(&error)) << qPrintable(error);
        ASSERT_TRUE(SourceLog::waitUntil([&] { return source.recording(); }));
    }
    PrivatePulse pulse;
    QTemporaryDir dir;
};

TEST_F(PulseSampleSourceTest, EveryChannelArrivesApartAndInOrderAtTheSourceRate)
{
    const QString fifo = dir.filePath("stereo.fifo");
    ASSERT_TRUE(pulse.pactl({"load-module", "module-pipe-source", "source_name=stereo",
                             "file=" + fifo, "format=float32le", "rate=48000", "channels=2"}))
        << pulse.log().toStdString();
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    PulseSampleSource source(QStringLiteral("stereo"));
    SourceLog log(source);
    record(source);
    std::vector<float> fed(48000 / 5 * 2); // 0.2 s
    for (std::size_t i = 0; i < fed.size(); i += 2) {
        fed[i] = float(i % 4096) / 4096;
        fed[i + 1] = -fed[i] / 2;
    }
    const auto bytes = std::size_t(fed.size() * sizeof(float));
    ASSERT_EQ(::write(fd, fed.data(), bytes), ssize_t(bytes));
    EXPECT_TRUE(log.waitUntil([&] { return log.samples.size() >= fed.size(); }));
    EXPECT_EQ(log.channels, 2);
    EXPECT_EQ(log.rate, 48000);
    EXPECT_EQ(log.samples, fed);
    ::close(fd);
}

TEST_F(PulseSampleSourceTest, RecordsTheDefaultSourceUntilItGoes)
{
    PulseSampleSource source;
    SourceLog log(source);
    record(source);
    EXPECT_EQ(source.channels(), 1);
    EXPECT_EQ(source.sampleRate(), PrivatePulse::kSampleRate);
    const std::vector<std::uint8_t> fed = {128, 192, 64, 255, 0};
    ASSERT_TRUE(pulse.write(fed));
    ASSERT_TRUE(log.waitUntil([&] { return log.samples.size() >= fed.size(); }));
    EXPECT_EQ(log.samples, (std::vector<float>{0, 0.5f, -0.5f, 127 / 128.f, -1}));
    ASSERT_TRUE(pulse.removeSource());
    ASSERT_TRUE(log.waitUntil([&] { return log.ended.has_value(); }));
    EXPECT_TRUE(log.ended->contains("gone")) << qPrintable(*log.ended);
}

TEST_F(PulseSampleSourceTest, NoServerEndsSayingSo)
{
    pulse.pointAtNoServer();
    PulseSampleSource source;
    SourceLog log(source);
    QString error;
    if (source.start(&error))
        ASSERT_TRUE(log.waitUntil([&] { return log.ended.has_value(); }));
    else
        log.ended = error;
    EXPECT_TRUE(log.ended->contains("audio server")) << qPrintable(*log.ended);
}

// A file with a tone on the left and silence on the right, played through the default output
// (a pipe sink, which writes as fast as it is read): the chosen channel, and only that one.
TEST_F(PulseSampleSourceTest, SoundOutputPlaysTheChosenChannel)
{
    constexpr int kRate = 44100;
    std::vector<float> tone(kRate / 2 * 2, 0.0f);
    for (std::size_t i = 0; i < tone.size(); i += 2)
        tone[i] = 0.5f * std::sin(float(i) * 0.03f);
    ASSERT_TRUE(writeSound(dir.filePath("t.wav"), kRate, 2, tone));
    const QString fifo = dir.filePath("out.fifo");
    ASSERT_TRUE(pulse.pactl({"load-module", "module-pipe-sink", "sink_name=out", "file=" + fifo,
                             "format=float32le", "rate=44100", "channels=1"}));
    ASSERT_TRUE(pulse.pactl({"set-default-sink", "out"}));
    const int heard = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(heard, 0);
    for (const int channel : {0, 1}) {
        SoundOutput output;
        output.setChannel(channel);
        SoundFileSource player(dir.filePath("t.wav"));
        SourceLog played(player);
        QObject::connect(&player, &SampleSource::block, &output, &SoundOutput::play);
        QString error;
        ASSERT_TRUE(player.start(&error)) << qPrintable(error);
        float peak = 0;
        std::vector<float> chunk(4096);
        const auto listen = [&] {
            for (ssize_t n; (n = ::read(heard, chunk.data(), chunk.size() * 4)) > 0;)
                for (std::size_t i = 0; i < std::size_t(n) / 4; ++i)
                    peak = std::max(peak, std::abs(chunk[i]));
            return played.ended.has_value();
        };
        EXPECT_TRUE(played.waitUntil(listen));
        played.waitUntil([&] { return !listen(); }, 300); // what the server still holds
        EXPECT_EQ(peak > 0.4f, channel == 0) << peak;
    }
    ::close(heard);
}

} // namespace
} // namespace corvane::test
