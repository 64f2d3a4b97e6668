// Playing a recording through the capture engine: every byte in order, in real time, the end
// of the file, looping, resampled sound files and unreadable ones.
#include "CaptureTestSupport.h"
#include "FileRecordingDevice.h"
#include "RecordingDevices.h"
#include "SoundFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

namespace corvane::test {
namespace {

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
    QString writeFile(const QString& name, const std::vector<std::uint8_t>& bytes)
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return f.fileName();
    }
    static std::vector<std::uint8_t> ramp(std::size_t n)
    {
        std::vector<std::uint8_t> out(n);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = std::uint8_t(20 + (i * 7 + i / 300) % 216);
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<RecordingDevice> device;
};

TEST_F(FileDeviceTest, PlaysEveryByteInRealTimeThenWaitsAtTheEnd)
{
    // Half a second at 28800 Hz; the last 64 bytes only fill part of a buffer.
    const auto bytes = ramp(14 * 1024 + 64);
    play(writeFile("card.u8", bytes), false);
    QElapsedTimer clock;
    clock.start();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == 14 * 1024; }));
    // Never faster than the sample rate (a loaded machine may only be slower).
    EXPECT_GE(clock.elapsed(), 14 * 1024 * 1000 / 28800 - 20);
    engine->StopCapture(); // the tail waits in its buffer until Stop hands it back
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_TRUE(tapped == bytes);
    EXPECT_TRUE(sink.texts.isEmpty()) << messages();
    EXPECT_EQ(picture.image(), pictureOf(bytes));
}

TEST_F(FileDeviceTest, LoopStartsOverAndStopStartCarriesOn)
{
    const auto bytes = ramp(1500);
    play(writeFile("card.u8", bytes), true);
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 4 * 1024; }));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 8 * 1024; }));
    // The file over and over from its start, no gap: a slow consumer delays it, never skips.
    for (std::size_t i = 0; i < tapped.size(); ++i)
        ASSERT_EQ(tapped[i], bytes[i % bytes.size()]) << "at byte " << i;
}

TEST_F(FileDeviceTest, SoundFileIsResampledToTheRateItIsOpenedWithAndBadFilesAreRefused)
{
    // Long enough to be read in several pieces, each reported.
    std::vector<std::uint8_t> tone(400'000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::uint8_t((i / 4) % 2 ? 188 : 68);
    const QString path = dir.filePath("tone.wav");
    QString error;
    ASSERT_TRUE(writeSamples(path, tone, 8000, &error)) << error.toStdString();
    const auto expected = readSamples(path, 28800, &error);
    ASSERT_TRUE(expected) << error.toStdString();
    // Read on a worker at the rate it is opened with: Start returns at once, and settings
    // applied meanwhile take effect when it is done.
    std::vector<std::pair<int, bool>> progress;
    device = makeFileRecordingDevice(
        path, false, &error, [&](int percent, bool done) { progress.emplace_back(percent, done); });
    auto* file = static_cast<FileRecordingDevice*>(device.get());
    attach(*device);
    settings.sampleRate = 8000;
    engine->StartCapture();
    EXPECT_TRUE(file->samples().empty());
    EXPECT_FALSE(capturing());
    settings.sampleRate = 28800;
    engine->setRestartPending(true);
    engine->StopCapture();
    ASSERT_TRUE(
        waitUntil([&] { return capturing() && file->samples().size() == expected->size(); }));
    // Each reading counts up and ends; the last one got to the end.
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.back(), std::make_pair(100, true));
    for (std::size_t i = 1; i < progress.size(); ++i) {
        const bool sameReading = !progress[i - 1].second;
        EXPECT_TRUE(!sameReading || progress[i - 1].first <= progress[i].first) << "report " << i;
    }
    tapped.clear(); // a loaded machine may have played a buffer already: check a stretch
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 4096; }));
    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_NE(std::search(expected->begin(), expected->end(), tapped.begin(), tapped.end()),
              expected->end());

    // A rate the recording cannot be resampled to: the message says why, not only that it failed.
    dropEngine();
    const QString slow = dir.filePath("slow.wav");
    ASSERT_TRUE(writeSamples(slow, ramp(400), 200, &error)) << error.toStdString();
    play(slow, false);            // 200 Hz to 28800 Hz is within the resampler's range ...
    settings.sampleRate = 192000; // ... this is not
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return !sink.texts.empty(); }));
    EXPECT_TRUE(sink.texts[0].startsWith("Can't open audio device\n") &&
                sink.texts[0].contains("cannot resample"))
        << messages();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));

    // Unplayable files are refused when the device is made, with a reason naming them.
    writeFile("garbage.wav", ramp(100));
    writeFile("empty.u8", {});
    for (const char* name : {"missing.wav", "garbage.wav", "empty.u8"}) {
        EXPECT_FALSE(makeFileRecordingDevice(dir.filePath(name), false, &error));
        EXPECT_TRUE(error.contains(name)) << error.toStdString();
    }
}

} // namespace
} // namespace corvane::test
