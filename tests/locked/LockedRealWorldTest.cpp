// What hobbyists feed the locked decoder: any picture, any frame mark, through what real paths
// do. No knob is touched: every case decodes with the default settings (negative aside).
#include "Correlation.h"
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"
#include "SoundReader.h"

#include <QPainter>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

using namespace corvane;

namespace {

// A picture of a few shapes on a ground that is dark as often as not.
QImage randomPicture(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    QImage image(120, 180, QImage::Format_Grayscale8);
    const int ground = u(rng) < 0.5 ? int(u(rng) * 25) : int(u(rng) * 255);
    image.fill(QColor(ground, ground, ground));
    QPainter painter(&image);
    for (int k = 0; k < 5; ++k) {
        const int g = int(u(rng) * 255);
        painter.setBrush(QColor(g, g, g));
        painter.setPen(Qt::NoPen);
        const QRect r(int(u(rng) * 100), int(u(rng) * 160), 20 + int(u(rng) * 60),
                      20 + int(u(rng) * 90));
        k % 2 ? painter.drawEllipse(r) : painter.drawRect(r);
    }
    return image;
}

struct World
{
    const char* name;
    FrameMark mark = FrameMark::Missing;
    double rate = 44100, snrDb = 0, hum = 0, fadeDb = 0, speed = 0, wow = 0, wowHz = 0.5, porch = 0;
    bool invert = false, negative = false;
    int stereo = -1;     // the vision's channel beside a programme's sound; -1 mono
    double cutEvery = 0; // seconds between cuts of an edited recording
    double good = 0.95;  // correlation a frame must reach
    double share = 0.9;  // of the frames the signal holds (less the first half second)
};

struct Score
{
    int frames = 0, good = 0, expected = 0;
    double worst = 1;
    LockedStatus status;
};

Score run(const World& w, const QImage& picture, double seconds = 3)
{
    LockedSettings settings;
    settings.negative = w.negative;
    const QImage raster = rasterFor(picture, settings.standard);
    TransmitterOptions t{.standard = settings.standard, .sampleRate = w.rate, .seconds = seconds};
    t.mark = w.mark;
    t.invert = w.invert;
    t.negative = w.negative;
    t.frontPorch = t.backPorch = w.porch;
    const RealPath path{w.speed, w.wow,   w.cutEvery,  w.fadeDb, 20,
                        w.hum,   w.wowHz, w.snrDb > 0, w.snrDb,  9};
    const std::vector<float> s = *throughPath(transmit(raster, t), w.rate, path, nullptr);
    Score score;
    LockedDecoder decoder(w.rate, settings);
    decoder.setFrameCallback([&](const QImage& frame) {
        const double c = correlation(frame, raster);
        ++score.frames;
        score.good += c >= w.good;
        score.worst = std::min(score.worst, c);
    });
    const std::vector<float> in = w.stereo < 0 ? s : withSound(s, w.rate, w.stereo, 0.8);
    const int channels = w.stereo < 0 ? 1 : 2;
    for (std::size_t at = 0; at < s.size(); at += 2048)
        decoder.feed(in.data() + at * channels, std::min<std::size_t>(2048, s.size() - at),
                     channels);
    score.status = decoder.status();
    score.expected = int((static_cast<double>(s.size()) / w.rate - 0.5) * 12.5);
    return score;
}

class RealWorld : public ::testing::TestWithParam<World>
{
};

TEST_P(RealWorld, EnoughFramesMatchThePictureAndNoneIsTorn)
{
    const World& w = GetParam();
    const Score s = run(w, testPicture(240, 360));
    std::printf("%-12s frames %3d good %3d of %3d worst %.3f\n", w.name, s.frames, s.good,
                s.expected, s.worst);
    EXPECT_GE(s.good, w.share * s.expected);
    EXPECT_GE(s.worst, w.good > 0.9 ? 0.8 : 0.5) << "a frame of misplaced lines";
    EXPECT_TRUE(s.status.everLocked);
    EXPECT_EQ(s.status.inverted, w.invert);
    EXPECT_EQ(s.status.channel, std::max(w.stereo, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RealWorld,
    ::testing::Values(World{.name = "wide", .mark = FrameMark::Wide},
                      World{.name = "gap", .mark = FrameMark::Gap},
                      World{.name = "after", .mark = FrameMark::After},
                      World{.name = "none", .mark = FrameMark::None},
                      World{.name = "porch", .porch = 0.04},
                      World{.name = "inverted", .invert = true}, World{.name = "left", .stereo = 0},
                      World{.name = "rightinv", .invert = true, .stereo = 1},
                      World{.name = "negafter", .mark = FrameMark::After, .negative = true},
                      World{.name = "snr9", .snrDb = 9, .share = 0.8},
                      World{.name = "snr6", .snrDb = 6, .good = 0.85, .share = 0.5},
                      World{.name = "hum15", .hum = 15},
                      World{.name = "qsb20", .fadeDb = 20, .good = 0.9, .share = 0.5},
                      World{.name = "humqsb", .hum = 10, .fadeDb = 10, .share = 0.8},
                      World{.name = "clock", .rate = 48000, .speed = 0.03},
                      World{.name = "wow", .wow = 0.5, .share = 0.8},
                      World{.name = "flutter", .wow = 0.3, .wowHz = 6},
                      World{.name = "cuts", .cutEvery = 0.7, .share = 0.6},
                      World{.name = "slow", .rate = 22050, .speed = -3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealWorldPictures, SixtyRandomPicturesLockIncludingDarkOnesEitherWayUp)
{
    int locked = 0;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        const Score s =
            run(World{.name = "random", .invert = seed % 2 == 0}, randomPicture(seed), 1.5);
        locked += s.good >= s.expected - 1;
    }
    std::printf("random pictures locked: %d of 60\n", locked);
    EXPECT_EQ(locked, 60);
}

TEST(RealWorldStatus, TheMeterJudgesTheSwingAndSaysWhenNoSyncIsThere)
{
    // An 8-bit capture 10 codes loud with one click: the peak looks fine, the swing does not.
    LockedSettings settings;
    TransmitterOptions t{.standard = settings.standard, .sampleRate = 44100, .seconds = 1.5};
    t.level = 0.04;
    std::vector<float> quiet = transmit(rasterFor(testPicture(240, 360), t.standard), t);
    acCouple(quiet, t.sampleRate, 20);
    std::vector<std::uint8_t> bytes = toUnsigned8(quiet);
    bytes[bytes.size() - 500] = 250;
    LockedDecoder decoder(t.sampleRate, settings);
    decoder.feedU8(bytes.data(), bytes.size());
    LockedStatus s = decoder.status();
    EXPECT_TRUE(s.locked);
    EXPECT_FALSE(s.inputTooLow);
    EXPECT_NEAR(s.swing, 0.04, 0.01);
    EXPECT_TRUE(s.swingTooLow);
    EXPECT_FALSE(s.noSyncFound);

    // A programme's sound alone, loud: no sync on it, and the status says so.
    const std::vector<float> sound = withSound(std::vector<float>(66150, 0.0f), 44100, 1, 0.8);
    LockedDecoder deaf(44100, settings);
    deaf.feed(sound.data(), sound.size() / 2, 2);
    s = deaf.status();
    EXPECT_FALSE(s.everLocked);
    EXPECT_TRUE(s.noSyncFound);
    EXPECT_FALSE(s.swingTooLow);
}

// Recordings by independent transmitters (tests/data/README.md says how each was made), as
// they are and through a sound card's coupling, noise and an inverting amplifier.
struct Recording
{
    const char* file;
    const char* standard;
    bool negative, transposed, rough;
    double share = 1; // of the frames at 0.95 or better
};

class Recorded : public ::testing::TestWithParam<Recording>
{
};

TEST_P(Recorded, EveryFrameMatchesThePicture)
{
    const Recording& r = GetParam();
    SoundReader reader;
    QString error;
    ASSERT_TRUE(reader.open(QStringLiteral(CORVANE_SOURCE_DIR "/tests/data/") + r.file, &error))
        << qPrintable(error);
    std::vector<float> signal;
    const auto channels = static_cast<std::size_t>(reader.channels());
    for (auto got = reader.read(8192); !got.empty(); got = reader.read(8192))
        for (std::size_t i = 0; i < got.size(); i += channels)
            signal.push_back(got[i]);
    if (r.rough) {
        const RealPath path{.acHz = 20, .noisy = true, .snrDb = 20};
        signal = *throughPath(signal, reader.sampleRate(), path, nullptr);
        std::transform(signal.begin(), signal.end(), signal.begin(), std::negate<>());
    }
    LockedSettings settings;
    settings.standard = *standardByName(QString::fromLatin1(r.standard));
    settings.negative = r.negative;
    QImage picture = testPicture(240, 360);
    if (r.transposed)
        picture = picture.mirrored(true, false).transformed(QTransform().rotate(90));
    const QImage raster = rasterFor(picture, settings.standard);
    LockedDecoder decoder(reader.sampleRate(), settings);
    int frames = 0, good = 0;
    double worst = 1;
    decoder.setFrameCallback([&](const QImage& frame) {
        const double c = correlation(frame, raster);
        ++frames, good += c >= 0.95, worst = std::min(worst, c);
    });
    for (std::size_t at = 0; at < signal.size(); at += 1024)
        decoder.feed(signal.data() + at, std::min<std::size_t>(1024, signal.size() - at));
    std::printf("%-20s frames %d worst %.3f\n", r.file, frames, worst);
    EXPECT_GE(frames, 17);
    EXPECT_GE(good, r.share * frames);
    EXPECT_EQ(decoder.status().inverted, r.rough);
}

INSTANTIATE_TEST_SUITE_P(
    Independent, Recorded,
    ::testing::Values(Recording{"nbtvencoder-32.wav", "nbtva", true, false, false},
                      Recording{"nbtvencoder-32.wav", "nbtva", true, false, true},
                      Recording{"nbtvencoder-30.wav", "baird", true, false, false},
                      Recording{"nbtvencoder-32.mp3", "nbtva", true, false, false},
                      Recording{"hacktv-nbtv.wav", "nbtva", false, true, false},
                      Recording{"hacktv-nbtv.wav", "nbtva", false, true, true},
                      Recording{"hacktv-nbtv.ogg", "nbtva", false, true, false},
                      // No sync: the picture's edges alone tell where a line ends.
                      Recording{"hacktv-30.wav", "baird", false, true, false, 0.8}));

} // namespace
