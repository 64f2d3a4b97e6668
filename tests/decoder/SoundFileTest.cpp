#include "SoundFile.h"

#include "SoundReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
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

namespace {

struct Format
{
    const char* name;
    int format;
    double tolerance; // of the decoded picture channel against the written one
};

class SoundReaderFormats : public SoundFile, public ::testing::WithParamInterface<Format>
{
};

} // namespace

// Each format users bring reads with both channels kept apart: the picture on the left, silence
// on the right, at the file's own rate and length (lossy coders pad a little).
TEST_P(SoundReaderFormats, KeepsEveryChannelApart)
{
    constexpr int kRate = 48000;
    constexpr int kFrames = kRate / 2;
    std::vector<float> written(kFrames * 2, 0.0f);
    for (int i = 0; i < kFrames; ++i)
        written[std::size_t(i) * 2] = 0.5f * std::sin(i * 0.05f);
    const QString file = path(QStringLiteral("s.") + GetParam().name);
    SF_INFO info{0, kRate, 2, GetParam().format, 0, 0};
    SNDFILE* out = sf_open(QFile::encodeName(file).constData(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
    sf_writef_float(out, written.data(), kFrames);
    sf_close(out);

    SoundReader reader;
    ASSERT_TRUE(reader.open(file, &error)) << qPrintable(error);
    EXPECT_EQ(reader.channels(), 2);
    EXPECT_EQ(reader.sampleRate(), kRate);
    std::vector<float> back;
    for (auto got = reader.read(4096); !got.empty(); got = reader.read(4096))
        back.insert(back.end(), got.begin(), got.end());
    EXPECT_TRUE(reader.damage().isEmpty()) << qPrintable(reader.damage());
    ASSERT_NEAR(double(back.size()) / 2, kFrames, kFrames * 0.1);
    // Lossy coders delay the signal: compare energies, which no delay changes.
    double left = 0, right = 0, expected = 0;
    for (std::size_t i = 0; i + 1 < std::min(back.size(), written.size()); i += 2) {
        left += back[i] * back[i];
        right += back[i + 1] * back[i + 1];
        expected += written[i] * written[i];
    }
    EXPECT_NEAR(left / expected, 1.0, GetParam().tolerance);
    EXPECT_LT(right / expected, 0.01);
}

INSTANTIATE_TEST_SUITE_P(, SoundReaderFormats,
                         ::testing::Values(Format{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.001},
                                           Format{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.001},
                                           Format{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.1},
                                           Format{"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 0.1},
                                           Format{"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
                                                  0.1}),
                         [](const auto& format) { return std::string(format.param.name); });

// However many channels a header claims, a read holds no more than its cap.
TEST_F(SoundFile, ReadsHoldNoMoreThanTheirCap)
{
    writePcm16(path("wide.wav"), 8000, 1024, std::vector<short>(1024 * 300, 1000));
    SoundReader reader;
    ASSERT_TRUE(reader.open(path("wide.wav"), &error)) << qPrintable(error);
    EXPECT_LE(reader.read(1 << 20).size() * sizeof(float), SoundReader::kMaxReadBytes);
}
