// The decoder against the literal one on long random streams, with settings and the scan
// position changed between blocks the way the window's sliders and Apply change them, and
// the way nobody should (values far outside the accepted ranges).
#include "ImageSurface.h"
#include "LiteralDecoder.h"
#include "PixelDecoder.h"

#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace corvane;
using corvane::testing::ArraySurface;
using corvane::testing::BlockArraySurface;
using corvane::testing::LiteralDecoder;

namespace {

class Generator
{
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
    bool chance(int percent) { return uniform(0, 99) < percent; }

    std::int32_t extreme()
    {
        static constexpr std::int32_t values[] = {
            INT_MIN, INT_MIN + 1, INT_MIN / 3, -100000, -129,        -5,          -1,     0,   1,
            2,       3,           58,          64,      127,         128,         129,    255, 256,
            500,     1000,        16384,       100000,  INT_MAX / 3, INT_MAX - 1, INT_MAX};
        return values[uniform(0, static_cast<int>(std::size(values)) - 1)];
    }

    // Settings as a user could set them, mostly small rasters so frames wrap often.
    void validChange(DecoderSettings& s)
    {
        using S = DecoderSettings;
        static constexpr struct
        {
            std::int32_t S::*field;
            int lo, small, large, smallPercent;
        } kinds[] = {{&S::rows, 1, 70, 1000, 80},          {&S::cols, 1, 70, 1000, 80},
                     {&S::samplesPerPixel, 1, 8, 400, 80}, {&S::samplesAveraged, 1, 8, 128, 50},
                     {&S::minLevel, 0, 40, 255, 50},       {&S::maxLevel, 0, 255, 255, 0}};
        const int kind = uniform(0, 6);
        if (kind < 6) {
            const auto& k = kinds[kind];
            s.*k.field = uniform(k.lo, chance(k.smallPercent) ? k.small : k.large);
        } else { // both levels close together, in either order
            s.minLevel = uniform(0, 255);
            s.maxLevel = s.minLevel + uniform(-3, 3);
        }
    }

    void wildChange(DecoderSettings& s)
    {
        std::int32_t* fields[] = {&s.rows,     &s.cols,     &s.samplesPerPixel, &s.samplesAveraged,
                                  &s.minLevel, &s.maxLevel, &s.sampleRate};
        *fields[uniform(0, 6)] = extreme();
    }

    // A stretch of signal: silence (sync), noise, a steady carrier, bursts at full scale, or a
    // low level.
    void appendSignal(std::vector<std::uint8_t>& out, int count)
    {
        const int kind = uniform(0, 4);
        const int amplitude = uniform(0, 128);
        for (int i = 0; i < count; ++i)
            out.push_back(static_cast<std::uint8_t>(
                kind == 0   ? 128 + uniform(-2, 2)
                : kind == 1 ? uniform(0, 255)
                : kind == 2 ? (i % 2 ? 128 + std::min(amplitude, 127) : 128 - amplitude)
                : kind == 3 ? (chance(2) ? (chance(50) ? 255 : uniform(0, 1)) : uniform(20, 236))
                            : uniform(100, 156)));
    }

private:
    std::mt19937 random_;
};

struct Pair
{
    DecoderSettings settings;
    BlockArraySurface fastSurface;
    ArraySurface literalSurface;
    ImageSurface image;
    PixelDecoder fast{settings, fastSurface}; // every block through paintBlock
    PixelDecoder direct{settings, image};     // blocks written straight into the image
    LiteralDecoder literal{settings, literalSurface};

    void decode(const std::uint8_t* data, std::int32_t count)
    {
        fast.DecodeBlock(data, count);
        direct.DecodeBlock(data, count);
        literal.DecodeBlock(data, count);
    }

    void setScanPosition(ScanPosition pos)
    {
        fast.scanPosition() = pos;
        direct.scanPosition() = pos;
        literal.ScanPosition_ = pos;
    }

    ::testing::AssertionResult same() const
    {
        if (auto result = same(fast, fastSurface.picture.pixels, fastSurface.picture.repaints);
            !result)
            return result << " (through paintBlock)";
        std::vector<WinColour> pixels;
        pixels.reserve(ImageSurface::kWidth * ImageSurface::kHeight);
        for (int y = 0; y < ImageSurface::kHeight; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.image().constScanLine(y));
            for (int x = 0; x < ImageSurface::kWidth; ++x)
                pixels.push_back(ImageSurface::fromRgb(line[x]));
        }
        if (auto result = same(direct, pixels, image.repaintRequests()); !result)
            return result << " (straight into the image)";
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult same(const PixelDecoder& fast, const std::vector<WinColour>& pixels,
                                    std::int64_t repaints) const
    {
        const auto& l = literal;
        if (fast.scanPosition() != l.ScanPosition_ || fast.clipFlag() != l.ClipFlag_ ||
            fast.syncCounter() != l.SyncCounter_ || fast.sampleCounter() != l.SampleCounter_ ||
            fast.elementCount() != l.ElementCount_ || fast.averageWindow() != l.AverageWindow_ ||
            repaints != literalSurface.repaints)
            return ::testing::AssertionFailure()
                   << "state: scan " << fast.scanPosition().row << "," << fast.scanPosition().col
                   << " vs " << l.ScanPosition_.row << "," << l.ScanPosition_.col;
        for (std::size_t i = 0; i < literalSurface.pixels.size(); ++i)
            if (pixels[i] != literalSurface.pixels[i])
                return ::testing::AssertionFailure()
                       << "pixel " << i % ArraySurface::kWidth << "," << i / ArraySurface::kWidth
                       << ": " << std::hex << pixels[i] << " vs " << literalSurface.pixels[i];
        return ::testing::AssertionSuccess();
    }
};

class Differential : public ::testing::TestWithParam<std::uint32_t>
{
};

// Long streams in blocks of any size (none, negative), with settings changed between blocks
// as the sliders and Apply change them, and, in the second half, also as nobody should:
// values validation refuses must neither crash nor overflow (the sanitizer build checks that)
// and must still decode the same way in both versions.
TEST_P(Differential, MatchesTheLiteralDecoderWhateverTheSettings)
{
    Generator gen(GetParam());
    Pair pair;
    std::vector<std::uint8_t> signal;
    for (int block = 0; block < 2000; ++block) {
        const bool wild = block >= 1400;
        signal.clear();
        const int count = gen.chance(10) ? gen.uniform(2000, 9000) : gen.uniform(0, 600);
        while (static_cast<int>(signal.size()) < count)
            gen.appendSignal(
                signal, std::min(count - static_cast<int>(signal.size()), gen.uniform(1, 700)));
        pair.decode(signal.data(), gen.chance(3) ? -gen.uniform(0, 5) : count);
        ASSERT_TRUE(pair.same()) << "block " << block;

        for (int c = gen.chance(40) ? gen.uniform(1, 3) : 0; c > 0; --c)
            gen.validChange(pair.settings);
        if (wild && gen.chance(50))
            gen.wildChange(pair.settings);
        if (gen.chance(3)) // Apply, or a position set from outside
            pair.setScanPosition(wild ? ScanPosition{gen.extreme(), gen.extreme()}
                                      : ScanPosition{});
        // Keep the stream decoding something: samplesPerPixel near INT_MAX would emit nothing.
        if (wild && gen.chance(10))
            pair.settings = DecoderSettings{};
    }
    EXPECT_GT(pair.fast.elementCount(), 10000);
}

// The window grows and shrinks at single-sample granularity, so stale slots come back into
// the sum in every possible arrangement.
TEST_P(Differential, MatchesTheLiteralDecoderWhileTheWindowChangesEverySample)
{
    Generator gen(GetParam() + 1000);
    Pair pair;
    pair.settings.samplesPerPixel = 1;
    std::vector<std::uint8_t> signal;
    for (int step = 0; step < 20000; ++step) {
        signal.clear();
        gen.appendSignal(signal, gen.uniform(1, 3));
        if (gen.chance(50))
            pair.settings.samplesAveraged =
                gen.chance(70) ? gen.uniform(1, 12) : gen.uniform(1, 128);
        if (gen.chance(5))
            pair.settings.samplesPerPixel = gen.uniform(1, 3);
        pair.decode(signal.data(), static_cast<std::int32_t>(signal.size()));
        // The window's slots are compared at every step; whole pictures now and then, since
        // a wrong sum leaves its mark in the pixels anyway.
        ASSERT_EQ(pair.fast.averageWindow(), pair.literal.AverageWindow_) << "step " << step;
        if (step % 512 == 511) {
            ASSERT_TRUE(pair.same()) << "step " << step;
        }
    }
    EXPECT_TRUE(pair.same());
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Values(1u, 2u, 3u, 4u));

} // namespace
