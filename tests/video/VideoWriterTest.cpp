#include "VideoWriter.h"

#include "Correlation.h"
#include "Playback.h"
#include "Standard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <vector>

using namespace corvane;

namespace {

// Frame i of a test picture: bars with a white block moving down a row at a time.
QImage picture(int i)
{
    QImage frame(32, 48, QImage::Format_Grayscale8);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 32; ++x)
            frame.scanLine(y)[x] = static_cast<uchar>(std::abs(y - i) < 3 ? 255 : x * 6);
    return displayFrame(frame, LockedStandard{}, VideoWriter::kMinHeight);
}

QStringList filesIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::Files);
}

} // namespace

TEST(VideoWriter, PlayersFindThePicturesRateAndSound)
{
    const struct
    {
        const char* name;
        const char* video; // what libavcodec has on Debian 12
        const char* audio;
        int rate, channels;
    } cases[] = {
        {"a.mp4", "h264", "aac", 48000, 2},
        {"b.mkv", "h264", "opus", 44100, 2}, // converted to 48000 Hz for Opus
        {"c.webm", "vp9", "opus", 8000, 1},
    };
    constexpr int kFrames = 25; // two seconds at 12.5 a second
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(c.name);
        VideoWriter writer;
        QString error;
        const QImage first = picture(0);
        ASSERT_TRUE(writer.open(path, {25, 2}, first.width(), first.height(),
                                AudioTrack{c.rate, c.channels}, &error))
            << error.toStdString();
        EXPECT_EQ(writer.frameSize(), QSize(320, 480));
        std::vector<float> tone(static_cast<std::size_t>(c.rate / 25 * c.channels));
        for (std::size_t i = 0; i < tone.size(); i += std::size_t(c.channels)) // right silent
            tone[i] = 0.5f * float(std::sin(2 * M_PI * 440 * double(i / c.channels) / c.rate));
        for (int i = 0; i < kFrames; ++i) {
            ASSERT_TRUE(writer.addFrame(picture(i)));
            ASSERT_TRUE(writer.addAudio(tone.data(), tone.size() / c.channels));
            ASSERT_TRUE(writer.addAudio(tone.data(), tone.size() / c.channels));
        }
        ASSERT_TRUE(writer.finish(&error)) << error.toStdString();
        EXPECT_EQ(filesIn(dir), QStringList{c.name}); // no temporary left beside it

        const Played played = play(path);
        EXPECT_EQ(played.videoCodec, c.video);
        EXPECT_EQ(played.audioCodec, c.audio);
        EXPECT_EQ(av_cmp_q(played.rate, AVRational{25, 2}), 0)
            << played.rate.num << "/" << played.rate.den;
        ASSERT_EQ(played.pictures.size(), std::size_t(kFrames));
        for (int i = 0; i < kFrames; i += 6) {
            EXPECT_GT(correlation(played.pictures[std::size_t(i)], picture(i)), 0.97) << i;
            const uchar* row = played.pictures[std::size_t(i)].constScanLine(400);
            EXPECT_TRUE(row[1] <= 2 && std::abs(row[318] - 186) <= 2) << row[1] << " " << row[318];
            EXPECT_LT(correlation(played.pictures[std::size_t(i)], picture(i + 12)), 0.9) << i;
        }
        EXPECT_NEAR(played.audioSeconds, 2.0, 0.1);
        EXPECT_NEAR(played.audioRms, 0.5 / std::sqrt(2.0), 0.05); // the tone, not noise
    }
}

// A failure says so and leaves nothing that looks like a finished video.
TEST(VideoWriter, FailuresLeaveNoFilePassedOffAsComplete)
{
    QTemporaryDir dir;
    const QString kept = dir.filePath("kept.mp4");
    ASSERT_TRUE(QFile(kept).open(QIODevice::WriteOnly) && QFile(kept).resize(5));
    QString error;
    {
        VideoWriter writer;
        EXPECT_FALSE(writer.open(dir.filePath("x.avi"), {25, 2}, 320, 480, {}, &error));
        EXPECT_TRUE(error.contains(".mp4, .mkv or .webm")) << error.toStdString();
        EXPECT_FALSE(writer.open(dir.filePath("none/x.mp4"), {25, 2}, 320, 480, {}, &error));
        EXPECT_TRUE(error.contains("No such file or directory")) << error.toStdString();
        EXPECT_FALSE(writer.open(dir.path(), {25, 2}, 320, 480, {}, &error)); // a directory
        EXPECT_FALSE(writer.open(dir.filePath("y.mp4"), {0, 1}, 320, 480, {}, &error));

        // Nothing recorded: no file.
        ASSERT_TRUE(writer.open(dir.filePath("empty.webm"), {25, 2}, 320, 480, {}, &error));
        EXPECT_FALSE(writer.finish(&error));
        EXPECT_TRUE(error.contains("no pictures")) << error.toStdString();

        // Abandoned part way: the old file stays as it was.
        ASSERT_TRUE(writer.open(kept, {25, 2}, 32, 48, AudioTrack{48000, 1}, &error));
        EXPECT_EQ(writer.frameSize(), QSize(320, 480));
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(writer.addFrame(picture(i)));
        EXPECT_EQ(filesIn(dir).size(), 2);
    }
    EXPECT_EQ(filesIn(dir), QStringList{"kept.mp4"});
    EXPECT_EQ(QFileInfo(kept).size(), 5);

    // The disk full part way (here a limit on file sizes): the old file stays.
    for (const char* name : {"kept.mp4", "full.webm"}) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = 3000;
        setrlimit(RLIMIT_FSIZE, &limit);
        VideoWriter writer;
        bool ok = writer.open(dir.filePath(name), {25, 2}, 320, 480, AudioTrack{}, &error);
        QImage noise(32, 48, QImage::Format_Grayscale8);
        int frames = 0;
        for (; ok && frames < 100; ++frames) {
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 32; ++x)
                    noise.scanLine(y)[x] = uchar(std::rand());
            ok = writer.addFrame(displayFrame(noise, {}, 480)) &&
                 writer.addAudio(std::vector<float>(1920).data(), 1920);
        }
        EXPECT_LT(frames, 100); // told while recording
        EXPECT_FALSE(writer.finish(&error));
        limit.rlim_cur = unlimited;
        setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_TRUE(error.contains("too large")) << error.toStdString();
        EXPECT_EQ(filesIn(dir), QStringList{"kept.mp4"});
        EXPECT_EQ(QFileInfo(kept).size(), 5);
    }
}
