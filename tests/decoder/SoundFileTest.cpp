#include "SoundFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

using namespace corvane;

namespace {

// A 16-bit WAV with the given interleaved frames, written straight through libsndfile.
void writePcm16(const QString& path, int rate, int channels, const std::vector<short>& frames)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_write_short(file, frames.data(), static_cast<sf_count_t>(frames.size()));
    sf_close(file);
}

class SoundFile : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    QString error;
};

} // namespace

TEST_F(SoundFile, MixesChannelsToMonoWithSilenceAt128)
{
    // Left +0.5, right -0.25 and a full-scale negative frame.
    writePcm16(path("s.wav"), 28800, 2, {16384, -8192, -32768, -32768, 0, 0});
    const auto back = readSamples(path("s.wav"), 28800, &error);
    ASSERT_TRUE(back) << qPrintable(error);
    EXPECT_EQ(*back, (std::vector<std::uint8_t>{128 + 16, 0, 128}));
}

TEST_F(SoundFile, ResamplesToTheRequestedRate)
{
    writePcm16(path("slow.wav"), 14400, 1, std::vector<short>(14400, 8192)); // +0.25
    const auto back = readSamples(path("slow.wav"), 28800, &error);
    ASSERT_TRUE(back) << qPrintable(error);
    EXPECT_NEAR(static_cast<double>(back->size()), 28800.0, 50.0);
    EXPECT_NEAR((*back)[back->size() / 2], 160, 1);
}

TEST_F(SoundFile, FailedWritesLeaveNothingBehind)
{
    const std::vector<std::uint8_t> samples(100, 128);
    EXPECT_FALSE(writeSamples(path("x.mp3"), samples, 28800, &error));
    EXPECT_TRUE(error.contains(".wav, .raw or .u8")) << qPrintable(error);
    EXPECT_FALSE(writeSamples(path("none/x.wav"), samples, 28800, &error));
    EXPECT_FALSE(writeSamples(path("none/x.raw"), samples, 28800, &error));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}
