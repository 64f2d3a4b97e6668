// Playing a recording through the capture engine: every byte in order, in real time, the end
// of the file, looping, resampled sound files and unreadable ones.
#include "CaptureTestSupport.h"
#include "RecordingDevices.h"
#include "SoundFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace corvane::test {
namespace {

std::vector<std::uint8_t> ramp(std::size_t n)
{
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(20 + (i * 7 + i / 300) % 216);
    return out;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
    return path;
}

class FileDeviceTest : public EngineFixture
{
protected:
    void TearDown() override
    {
        dropEngine();
        device.reset();
    }

    void play(const QString& path, bool loop)
    {
        QString error;
        device = makeFileRecordingDevice(path, loop, &error);
        ASSERT_TRUE(device) << error.toStdString();
        attach(*device);
    }
    void playRaw(const std::vector<std::uint8_t>& bytes, bool loop)
    {
        play(writeFile(dir.filePath("card.u8"),
                       QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size()))),
             loop);
    }

    QTemporaryDir dir;
    std::unique_ptr<RecordingDevice> device;
};

TEST_F(FileDeviceTest, PlaysEveryByteInRealTimeThenWaitsAtTheEnd)
{
    // Half a second at 28800 Hz; the last 64 bytes only fill part of a buffer.
    const auto bytes = ramp(14 * 1024 + 64);
    playRaw(bytes, false);
    QElapsedTimer clock;
    clock.start();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == 14 * 1024; }));
    // Real time: never faster than the sample rate (a loaded machine may only be slower).
    EXPECT_GE(clock.elapsed(), 14 * 1024 * 1000 / 28800 - 20);

    // The tail waits in its buffer until Stop hands it back.
    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_TRUE(tapped == bytes);
    EXPECT_TRUE(sink.texts.isEmpty()) << messages();
    EXPECT_EQ(picture.image(), pictureOf(bytes));
}

TEST_F(FileDeviceTest, LoopStartsOverAndStopStartCarriesOn)
{
    const auto bytes = ramp(1500);
    playRaw(bytes, true);
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 4 * 1024; }));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 8 * 1024; }));

    // Whatever the engine saw is the file over and over, from its start, with no gap: Stop
    // and Start carry on where playback was, and a slow consumer delays it, never skips.
    for (std::size_t i = 0; i < tapped.size(); ++i)
        ASSERT_EQ(tapped[i], bytes[i % bytes.size()]) << "at byte " << i;
}

TEST_F(FileDeviceTest, SoundFileIsResampledToTheRateItIsOpenedWith)
{
    std::vector<std::uint8_t> tone(4000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::uint8_t>(128 + ((i / 4) % 2 ? 60 : -60));
    const QString path = dir.filePath("tone.wav");
    QString error;
    ASSERT_TRUE(writeSamples(path, tone, 8000, &error)) << error.toStdString();
    const auto expected = readSamples(path, 28800, &error);
    ASSERT_TRUE(expected) << error.toStdString();

    settings.sampleRate = 16000;
    play(path, false);
    // Apply before the first open: the device reads the file at the rate it is opened with.
    settings.sampleRate = 28800;
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == expected->size() / 1024 * 1024; }));
    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_TRUE(tapped == *expected);
    EXPECT_TRUE(sink.texts.isEmpty()) << messages();
}

// A rate the recording cannot be resampled to: the message says why, not only that it failed.
TEST_F(FileDeviceTest, RateBeyondTheResamplerSaysWhy)
{
    QString error;
    const QString path = dir.filePath("slow.wav");
    ASSERT_TRUE(writeSamples(path, ramp(400), 200, &error)) << error.toStdString();
    play(path, false);            // 200 Hz to 28800 Hz is within the resampler's range ...
    settings.sampleRate = 192000; // ... this is not
    engine->StartCapture();
    ASSERT_EQ(sink.texts.size(), 1) << messages();
    EXPECT_TRUE(sink.texts[0].startsWith("Can't open audio device\n")) << messages();
    EXPECT_TRUE(sink.texts[0].contains("cannot resample")) << messages();
    EXPECT_TRUE(closed());
}

// Files that cannot be played are refused when the device is made, with a reason naming them.
using UnplayableFileTest = ::testing::TestWithParam<const char*>;

TEST_P(UnplayableFileTest, IsRefusedWithAReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromUtf8(GetParam()));
    if (!path.contains("missing"))
        writeFile(path, path.endsWith(".wav") ? "not a sound file at all" : "");
    QString error;
    EXPECT_FALSE(makeFileRecordingDevice(path, false, &error));
    EXPECT_TRUE(error.contains(QFileInfo(path).fileName())) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, UnplayableFileTest,
                         ::testing::Values("missing.wav", "garbage.wav", "empty.u8"),
                         [](const auto& info) {
                             return QFileInfo(info.param).completeBaseName().toStdString();
                         });

} // namespace
} // namespace corvane::test
