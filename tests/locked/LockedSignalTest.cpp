// The locked decoder end to end: our own transmitter's signal through what a real path does to
// it, decoded and compared with the picture it was made from.
#include "Correlation.h"
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// Root-mean-square difference as a share of full scale.
double rmsDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const double d = a.constScanLine(y)[x] - b.constScanLine(y)[x];
            sum += d * d;
        }
    return std::sqrt(sum / (double(a.width()) * a.height())) / 255;
}

struct Path
{
    const char* name;
    const char* standard = "nbtva";
    FrameMark mark = FrameMark::Missing;
    double rate = 28800;
    double acHz = 20;
    double snrDb = 0; // 0: no noise
    double speedPercent = 0;
    double level = 0.8;
    double amHz = 0;
    bool u8 = false;
    bool negative = false;
};

void PrintTo(const Path& p, std::ostream* os)
{
    *os << p.name;
}

struct Decoded
{
    std::vector<QImage> frames;
    std::vector<std::int64_t> frameAt; // samples fed when each frame came
    std::int64_t lockedAt = -1;        // samples fed when status first said locked
    std::vector<bool> lockedAfterChunk;
    LockedStatus status;
};

// Feeds the signal in sound-card-sized pieces, noting what a user would see after each.
Decoded decode(const std::vector<float>& signal, double rate, const LockedSettings& settings,
               bool asU8, std::size_t chunk = 1024)
{
    Decoded run;
    LockedDecoder decoder(rate, settings);
    std::int64_t fed = 0;
    decoder.setFrameCallback([&](const QImage& frame) {
        run.frames.push_back(frame);
        run.frameAt.push_back(fed);
    });
    const std::vector<std::uint8_t> bytes =
        asU8 ? toUnsigned8(signal) : std::vector<std::uint8_t>{};
    for (std::size_t at = 0; at < signal.size(); at += chunk) {
        const std::size_t n = std::min(chunk, signal.size() - at);
        fed += static_cast<std::int64_t>(n);
        if (asU8)
            decoder.feedU8(bytes.data() + at, n);
        else
            decoder.feed(signal.data() + at, n);
        const bool locked = decoder.status().locked;
        run.lockedAfterChunk.push_back(locked);
        if (locked && run.lockedAt < 0)
            run.lockedAt = fed;
    }
    run.status = decoder.status();
    return run;
}

struct Made
{
    std::vector<float> signal;
    QImage raster;
    LockedSettings settings;
    double trueLineRate = 0;
};

Made make(const Path& p, double seconds)
{
    Made m;
    m.settings.standard = *standardByName(QString::fromLatin1(p.standard));
    m.settings.negative = p.negative;
    m.raster = rasterFor(testPicture(240, 400), m.settings.standard);
    TransmitterOptions t;
    t.standard = m.settings.standard;
    t.sampleRate = p.rate;
    t.seconds = seconds;
    t.mark = p.mark;
    t.level = p.level;
    t.amHz = p.amHz;
    t.negative = p.negative;
    m.signal = transmit(m.raster, t);
    if (p.speedPercent != 0)
        m.signal = *changeSpeed(m.signal, p.speedPercent, nullptr);
    acCouple(m.signal, p.rate, p.acHz);
    if (p.snrDb > 0)
        addNoise(m.signal, p.snrDb, 7);
    m.trueLineRate = m.settings.standard.lineRateHz * (1 + p.speedPercent / 100);
    return m;
}

class LockedPath : public ::testing::TestWithParam<Path>
{
};

TEST_P(LockedPath, EveryFrameMatchesThePictureSoonAfterTheSignalStarts)
{
    const Path& p = GetParam();
    const Made m = make(p, 2.0);
    const Decoded run = decode(m.signal, p.rate, m.settings, p.u8);

    ASSERT_GE(run.lockedAt, 0) << "never locked";
    EXPECT_LE(run.lockedAt / p.rate, 0.5);
    ASSERT_GE(run.frames.size(), 15u);
    double worst = 1;
    for (const QImage& frame : run.frames) {
        ASSERT_EQ(frame.size(), m.raster.size());
        worst = std::min(worst, correlation(frame, m.raster));
        // The wide pulse covers the start (the bottom) of the first line (on the right):
        // sync never shows bright there.
        for (int y = frame.height() - 4; p.mark == FrameMark::Wide && y < frame.height(); ++y)
            EXPECT_LT(frame.pixel(frame.width() - 1, y) & 0xff, 0xc0) << "at the bottom, " << y;
    }
    EXPECT_GE(worst, 0.95);
    EXPECT_TRUE(run.status.locked);
    EXPECT_NEAR(run.status.lineRateHz / m.trueLineRate, 1, 0.005);
}

INSTANTIATE_TEST_SUITE_P(
    RealPaths, LockedPath,
    ::testing::Values(
        Path{.name = "ac20"}, Path{.name = "noise20", .snrDb = 20},
        Path{.name = "slow4", .speedPercent = -4}, Path{.name = "fast4", .speedPercent = 4},
        Path{.name = "level10u8", .level = 0.1, .u8 = true}, Path{.name = "am6k", .amHz = 6000},
        Path{.name = "am10k", .rate = 48000, .amHz = 10000}, Path{.name = "raw8bit", .u8 = true},
        Path{.name = "baird", .standard = "baird", .rate = 44100},
        Path{.name = "wide", .mark = FrameMark::Wide}, Path{.name = "gap", .mark = FrameMark::Gap},
        Path{.name = "negative", .mark = FrameMark::Wide, .negative = true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LockedStill, TenSecondsOfAStillPictureStayStillWithoutRollOrSlant)
{
    // A clock 4 % fast through AC coupling and 8-bit quantisation: any error in the line or
    // frame clock would move the picture from frame to frame. (At 48 kHz: at 28.8 kHz an
    // element is 1.4 samples, and where a sharp edge falls between samples, which changes
    // from frame to frame when the clocks differ, alone moves such elements by a few %.)
    const Path p{.name = "still", .rate = 48000, .speedPercent = 4, .u8 = true};
    const Made m = make(p, 10.0);
    const Decoded run = decode(m.signal, p.rate, m.settings, p.u8);
    ASSERT_GE(run.frames.size(), 120u);
    double worst = 0;
    for (std::size_t k = 1; k < run.frames.size(); ++k)
        worst = std::max(worst, rmsDifference(run.frames[k - 1], run.frames[k]));
    EXPECT_LT(worst, 0.02);
    EXPECT_GE(correlation(run.frames.back(), m.raster), 0.95);
}

TEST(LockedStill, AFlatPictureComesOutFlatUpToTheFrameMark)
{
    // Mid grey with a white block: the line before the missing pulse (the left edge) must not
    // take the black left in the pulse's place for its sync tip and come out darker.
    QImage picture(32, 48, QImage::Format_Grayscale8);
    picture.fill(128);
    for (int y = 4; y < 10; ++y)
        for (int x = 4; x < 12; ++x)
            picture.scanLine(y)[x] = 255;
    TransmitterOptions options;
    options.sampleRate = 48000;
    LockedDecoder decoder(options.sampleRate, LockedSettings{});
    const std::vector<float> signal = transmit(picture, options);
    decoder.feed(signal.data(), signal.size());
    const QImage frame = decoder.lastFrame();
    ASSERT_FALSE(frame.isNull());
    const auto columnMean = [&](int x) {
        double sum = 0;
        for (int y = 20; y < frame.height(); ++y)
            sum += frame.constScanLine(y)[x];
        return sum / (frame.height() - 20);
    };
    for (int x = 0; x < frame.width(); ++x)
        EXPECT_NEAR(columnMean(x), columnMean(16), 4) << "line " << frame.width() - 1 - x;
}

std::vector<float> gaussian(std::size_t count, double sigma, std::uint32_t seed)
{
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<float> out(count);
    for (float& s : out)
        s = static_cast<float>(noise(engine));
    return out;
}

TEST(LockedSilence, SilenceAndNoiseNeverGiveALockedFrame)
{
    const double rate = 28800;
    const LockedSettings settings;
    for (const bool asU8 : {false, true}) {
        const Decoded silent = decode(std::vector<float>(3 * 28800, 0.0f), rate, settings, asU8);
        EXPECT_EQ(silent.frames.size(), 0u);
        EXPECT_LT(silent.lockedAt, 0);
        const Decoded noisy = decode(gaussian(3 * 28800, 0.3, 11), rate, settings, asU8);
        EXPECT_EQ(noisy.frames.size(), 0u);
        EXPECT_LT(noisy.lockedAt, 0);
    }
}

TEST(LockedDropout, LocksAgainSoonAfterSilenceNoiseOrGarbage)
{
    const Path p{.name = "dropout"};
    const double rate = p.rate;
    for (const int kind : {0, 1, 2}) {
        const bool noise = kind == 1;
        Made m = make(p, 3.5);
        // One second from 1.5 s gone: the receiver hears nothing, or only its own noise, or a
        // damaged file holds garbage.
        const auto from = static_cast<std::size_t>(1.5 * rate);
        const auto to = static_cast<std::size_t>(2.5 * rate);
        const std::vector<float> hiss = gaussian(to - from, 0.2, 5);
        for (std::size_t i = from; i < to; ++i)
            m.signal[i] = kind == 0 ? 0.0f
                          : noise   ? hiss[i - from]
                          : i % 2   ? std::numeric_limits<float>::quiet_NaN()
                                    : std::numeric_limits<float>::infinity();
        const Decoded run = decode(m.signal, rate, m.settings, false);

        // Lock goes within a frame or two of the dropout and stays away until it ends.
        const std::size_t chunk = 1024;
        for (std::size_t c = (from + static_cast<std::size_t>(0.2 * rate)) / chunk; c < to / chunk;
             ++c)
            EXPECT_FALSE(run.lockedAfterChunk[c]) << "locked at " << c * chunk / rate << " s";
        std::size_t again = run.lockedAfterChunk.size();
        for (std::size_t c = to / chunk; c < run.lockedAfterChunk.size(); ++c)
            if (run.lockedAfterChunk[c]) {
                again = c;
                break;
            }
        const double relock = (static_cast<double>((again + 1) * chunk) - to) / rate;
        EXPECT_LE(relock, 0.5) << kind;
        for (std::size_t k = 0; k < run.frames.size(); ++k) {
            const auto at = static_cast<std::size_t>(run.frameAt[k]);
            EXPECT_FALSE(at > from + static_cast<std::size_t>(0.2 * rate) && at < to);
            EXPECT_GE(correlation(run.frames[k], m.raster), 0.95) << "frame at " << at / rate;
        }
    }
}

TEST(LockedLevels, TheMeterTellsTooLowAndClipping)
{
    for (const double level : {0.02, 0.8, 1.0}) {
        const Path p{.name = "meter", .acHz = 0, .level = level};
        const Made m = make(p, 0.5);
        LockedDecoder decoder(p.rate, m.settings);
        decoder.feed(m.signal.data(), m.signal.size());
        const LockedStatus s = decoder.status();
        EXPECT_NEAR(s.inputPeak, level, 0.01);
        EXPECT_EQ(s.inputTooLow, level < 0.05) << level;
        EXPECT_EQ(s.inputClipping, level >= 1.0) << level;
    }
}

TEST(LockedNoisyAm, NoiseNeverMakesAMisplacedFrame)
{
    // Sync pulses about as long as a carrier period, in noise: pulses go missing and noise fakes
    // frame marks. Fewer frames may come (at 6 kHz none), but none with misplaced lines.
    struct Case
    {
        double carrierHz, speed;
        std::size_t frames;
    };
    for (const Case c : {Case{6000, 4, 0}, Case{7000, -4, 15}}) {
        const Path p{.name = "noisy am", .snrDb = 20, .speedPercent = c.speed, .amHz = c.carrierHz};
        const Made m = make(p, 2.0);
        const Decoded run = decode(m.signal, p.rate, m.settings, false);
        EXPECT_GE(run.frames.size(), c.frames) << c.carrierHz;
        for (const QImage& frame : run.frames)
            EXPECT_GE(correlation(frame, m.raster), 0.9) << c.carrierHz;
    }
}

} // namespace
