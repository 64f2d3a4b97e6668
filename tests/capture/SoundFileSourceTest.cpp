// A sound file played as a sample source: every frame of every channel in order and in real
// time, looping, damage, a FIFO that falls silent, and files that cannot be played.
#include "SoundFileSource.h"

#include "SourceTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::test {
namespace {

constexpr int kRate = 8000;

class SoundFileSourceTest : public ::testing::Test
{
protected:
    // Two channels of distinct values that compress poorly, exact in a float WAV (or FLAC at
    // 16 bits).
    std::vector<float> write(const QString& name, int frames,
                             int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
    {
        std::vector<float> samples(std::size_t(frames) * 2);
        for (std::size_t i = 0; i < samples.size(); i += 2) {
            samples[i] = float((i / 2 * 7919) % 1000) / 1024;
            samples[i + 1] = -samples[i] / 2;
        }
        EXPECT_TRUE(writeSound(dir.filePath(name), kRate, 2, samples, format));
        return samples;
    }
    QTemporaryDir dir;
    QString error;
};

TEST_F(SoundFileSourceTest, PlaysEveryFrameOfEveryChannelInRealTime)
{
    const auto written = write("s.wav", kRate * 2 / 5);
    SoundFileSource source(dir.filePath("s.wav"));
    SourceLog log(source);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(source.start(&error)) << qPrintable(error);
    ASSERT_TRUE(log.waitUntil([&] { return log.ended.has_value(); }));
    EXPECT_EQ(*log.ended, QString());
    EXPECT_GE(clock.elapsed(), 400 - 25); // never faster than the file's rate
    EXPECT_EQ(log.channels, 2);
    EXPECT_EQ(log.rate, kRate);
    EXPECT_EQ(log.samples, written);
    // About 20 ms each; a late timer's catching up stays bounded.
    EXPECT_LE(*std::max_element(log.blockFrames.begin(), log.blockFrames.end()), kRate * 0.13);
}

TEST_F(SoundFileSourceTest, LoopsUntilStoppedAndStopsAtOnce)
{
    const auto written = write("s.wav", kRate / 10);
    SoundFileSource source(dir.filePath("s.wav"), true);
    SourceLog log(source);
    ASSERT_TRUE(source.start(&error)) << qPrintable(error);
    ASSERT_TRUE(log.waitUntil([&] { return log.frames() > written.size(); })); // > 2 passes
    source.stop();
    const std::size_t played = log.samples.size();
    log.waitUntil([] { return false; }, 100);
    EXPECT_EQ(log.samples.size(), played);
    EXPECT_FALSE(log.ended);
    for (std::size_t i = 0; i < played; ++i)
        ASSERT_EQ(log.samples[i], written[i % written.size()]) << i;
}

TEST_F(SoundFileSourceTest, DamagePlaysWhatDecodedThenEndsSayingWhy)
{
    write("s.flac", kRate * 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16); // FLAC frames of 0.5 s
    QFile file(dir.filePath("s.flac"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    SoundFileSource source(file.fileName());
    SourceLog log(source);
    ASSERT_TRUE(source.start(&error)) << qPrintable(error);
    ASSERT_TRUE(log.waitUntil([&] { return log.ended.has_value(); }));
    EXPECT_TRUE(log.ended->contains("damaged")) << qPrintable(*log.ended);
    EXPECT_GT(log.frames(), std::size_t(kRate / 4));
}

// A FIFO's writer sends a header and some frames, then nothing: what came plays, and stop()
// waits neither for more nor, on another FIFO, for a writer who never comes.
TEST_F(SoundFileSourceTest, StopEndsAWaitOnASilentFifo)
{
    write("whole.wav", kRate);
    QFile whole(dir.filePath("whole.wav"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray head = whole.read(whole.size() - kRate / 2 * 8); // half the frames
    for (const char* name : {"silent.wav", "unwritten.wav"}) {
        const QByteArray fifo = QFile::encodeName(dir.filePath(name));
        ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
        const bool writer = name == std::string("silent.wav");
        const int fd = writer ? ::open(fifo.constData(), O_RDWR) : -1;
        if (writer) {
            ASSERT_EQ(::write(fd, head.constData(), std::size_t(head.size())), head.size());
        }
        SoundFileSource source(dir.filePath(name));
        SourceLog log(source);
        ASSERT_TRUE(source.start(&error)) << qPrintable(error);
        EXPECT_EQ(log.waitUntil([&] { return log.frames() == kRate / 2; }, writer ? 10000 : 100),
                  writer);
        QElapsedTimer clock;
        clock.start();
        source.stop();
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(log.ended);
        if (fd >= 0)
            ::close(fd);
    }
}

TEST_F(SoundFileSourceTest, WhatCannotBePlayedFailsAtStart)
{
    QFile text(dir.filePath("notes.wav"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a sound file");
    text.close();
    for (const char* name : {"missing.wav", "notes.wav", "raw.u8"}) {
        SoundFileSource source(dir.filePath(name));
        EXPECT_FALSE(source.start(&error)) << name;
        EXPECT_TRUE(error.contains(name)) << qPrintable(error);
    }
}

} // namespace
} // namespace corvane::test
