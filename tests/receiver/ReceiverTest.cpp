// The receiver every front end drives, fed as a sound card or a file would feed it.
#include "Correlation.h"
#include "LockedReceiver.h"
#include "NbtvTransmitter.h"
#include "Playback.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>

using namespace corvane;

namespace {

constexpr double kRate = 48000;

// A test card transmission on the left channel and a 440 Hz tone, the programme's sound, on
// the right, interleaved.
std::vector<float> stereoTransmission(double seconds)
{
    TransmitterOptions options;
    options.sampleRate = kRate;
    options.seconds = seconds;
    const std::vector<float> vision =
        transmit(rasterFor(testPicture(64, 96), options.standard), options);
    std::vector<float> both(2 * vision.size());
    for (std::size_t i = 0; i < vision.size(); ++i) {
        both[2 * i] = vision[i];
        both[2 * i + 1] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * i / kRate));
    }
    return both;
}

void feed(LockedReceiver& receiver, const std::vector<float>& interleaved)
{
    constexpr std::size_t kBlock = 960; // 20 ms
    for (std::size_t at = 0; at < interleaved.size() / 2; at += kBlock)
        receiver.feed(interleaved.data() + 2 * at, std::min(kBlock, interleaved.size() / 2 - at), 2,
                      kRate);
}

// Runs the event loop until done, as the window's loop runs the receiver's timers.
bool waitFor(const std::function<bool()>& done, int ms = 3000)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return done();
}

TEST(Receiver, StatusSaysWhatItFoundAndWhenInputStopsOrTheSignalGoes)
{
    LockedReceiver receiver;
    EXPECT_EQ(receiver.statusText(), "No input");
    feed(receiver, stereoTransmission(2));
    const QString locked = receiver.statusText();
    EXPECT_TRUE(locked.startsWith("Locked · NBTVA · 400.") &&
                locked.endsWith(" lines/s · left channel"))
        << locked.toStdString();
    EXPECT_EQ(receiver.levelVerdict(), LevelVerdict::Good);
    EXPECT_TRUE(waitFor([&] { return receiver.statusText() == "No input"; }));
    EXPECT_EQ(receiver.meterLevel(), 0.0);
    // Samples again, but no transmission in them.
    const std::vector<float> hiss(2 * static_cast<std::size_t>(kRate), 0.0f);
    feed(receiver, hiss);
    EXPECT_EQ(receiver.statusText(), "Signal lost");
}

TEST(Receiver, RecordingKeepsEveryChannelEndsWhenInputStopsAndNeverOverwritesAPart)
{
    QTemporaryDir dir;
    LockedReceiver receiver;
    QStringList ended;
    QObject::connect(&receiver, &LockedReceiver::recordingEnded,
                     [&](const QString& message) { ended << message; });
    const std::vector<float> signal = stereoTransmission(1);
    feed(receiver, {signal.begin(), signal.begin() + 2 * 960});
    const QString path = dir.filePath("rec.wav");
    QString error;
    ASSERT_TRUE(receiver.startRecording(path, &error)) << error.toStdString();
    feed(receiver, signal);
    // The input stops: the recording is finished and the user told, not kept open for later.
    ASSERT_TRUE(waitFor([&] { return ended.count() == 1; }));
    EXPECT_FALSE(receiver.recording());
    EXPECT_TRUE(ended.front().contains("no input")) << ended.front().toStdString();
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 2);
    std::vector<float> back(static_cast<std::size_t>(info.frames) * 2);
    EXPECT_EQ(sf_readf_float(file, back.data(), info.frames), info.frames);
    sf_close(file);
    ASSERT_EQ(back.size(), signal.size());
    double worst = 0;
    for (std::size_t i = 0; i < back.size(); ++i)
        worst = std::max(worst, double(std::abs(back[i] - signal[i])));
    EXPECT_LT(worst, 1e-4);

    // What an unfinished recording left is not written over.
    ASSERT_TRUE(QFile(path).rename(path + ".part"));
    feed(receiver, {signal.begin(), signal.begin() + 2 * 960});
    EXPECT_FALSE(receiver.startRecording(path, &error));
    EXPECT_TRUE(error.contains("not finished")) << error.toStdString();
}

TEST(Receiver, VideoOfAStereoRecordingHasThePicturesAtTheFrameRateAndTheSound)
{
    QTemporaryDir dir;
    LockedReceiver receiver;
    const QString path = dir.filePath("tv.mkv");
    QString error;
    ASSERT_TRUE(receiver.startVideo(path, false, &error)) << error.toStdString();
    feed(receiver, stereoTransmission(4));
    const std::int64_t decoded = receiver.status().signal.frames;
    ASSERT_TRUE(receiver.stopVideo(&error)) << error.toStdString();
    const Played played = play(path);
    EXPECT_EQ(played.rate.num * 2, played.rate.den * 25);
    EXPECT_NEAR(double(played.pictures.size()), double(decoded), 0.05 * decoded);
    ASSERT_FALSE(played.pictures.empty());
    EXPECT_GE(played.pictures.back().height(), 480);
    EXPECT_GT(correlation(played.pictures.back(), testPicture(64, 96), QSize(32, 48)), 0.93);
    EXPECT_FALSE(played.audioCodec.isEmpty());
    EXPECT_NEAR(played.audioRms, 0.3 / std::sqrt(2.0), 0.05);
    // Nothing else is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tv.mkv"});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
