// The locked decoder end to end: our own transmitter's signal through what a real path does to
// it, decoded and compared with the picture it was made from.
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace corvane;

namespace {

double correlation(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -2;
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = double(a.width()) * a.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const double p = a.constScanLine(y)[x], q = b.constScanLine(y)[x];
            sa += p, sb += q, saa += p * p, sbb += q * q, sab += p * q;
        }
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0;
}

// Root-mean-square difference as a share of full scale.
[[maybe_unused]] double rmsDifference(const QImage& a, const QImage& b)
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
    const double lockSeconds = run.lockedAt / p.rate;
    EXPECT_LE(lockSeconds, 0.5);
    ASSERT_GE(run.frames.size(), 15u);
    double worst = 1;
    for (const QImage& frame : run.frames) {
        ASSERT_EQ(frame.size(), m.raster.size());
        worst = std::min(worst, correlation(frame, m.raster));
    }
    EXPECT_GE(worst, 0.95);
    EXPECT_TRUE(run.status.locked);
    const double rateError = run.status.lineRateHz / m.trueLineRate - 1;
    EXPECT_LE(std::abs(rateError), 0.005);
    std::printf("[ figures  ] %-10s lock %.3f s, %zu frames, worst correlation %.4f, line rate "
                "%+.3f %%\n",
                p.name, lockSeconds, run.frames.size(), worst, 100 * rateError);
    if (::testing::Test::HasFailure() && !run.frames.empty()) {
        run.frames.back().save(
            QStringLiteral("/tmp/locked-%1.png").arg(QString::fromLatin1(p.name)));
        m.raster.save(QStringLiteral("/tmp/locked-%1-source.png").arg(QString::fromLatin1(p.name)));
    }
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
        Path{.name = "negative", .negative = true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
