#include "PixelDecoder.h"

#include "ImageSurface.h"
#include "LiteralDecoder.h"

#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace corvane;
using corvane::testing::BlockArraySurface;

namespace {

constexpr WinColour kAzure = 0xFFCA00;

std::vector<std::uint8_t> filled(std::size_t count, std::uint8_t value)
{
    return std::vector<std::uint8_t>(count, value);
}

void decode(PixelDecoder& decoder, const std::vector<std::uint8_t>& bytes)
{
    decoder.DecodeBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// Samples whose rectified values add up to sum, none of them reaching full scale.
std::vector<std::uint8_t> samplesWithSum(std::int32_t sum, std::int32_t count)
{
    std::vector<std::uint8_t> bytes;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t part = std::min(sum, 126);
        sum -= part;
        // Alternate the sign so the stream looks like a carrier.
        bytes.push_back(static_cast<std::uint8_t>(i % 2 ? 128 - part : 128 + part));
    }
    return bytes;
}

struct Fixture
{
    DecoderSettings settings;
    BlockArraySurface surface;
    PixelDecoder decoder{settings, surface};

    // Colour of the block the element at (row, col) was painted with.
    WinColour blockAt(std::int32_t row, std::int32_t col) const
    {
        return surface.picture.at(3 * settings.cols - 3 * col, 3 * settings.rows - 3 * row);
    }
};

} // namespace

TEST(PixelDecoder, SilenceAtDefaultsPaintsBlackAndAdvancesTheScan)
{
    Fixture f;
    // Mark the surface so we can see which blocks were painted.
    std::fill(f.surface.picture.pixels.begin(), f.surface.picture.pixels.end(), 0x123456);
    decode(f.decoder, filled(1024, 128));

    EXPECT_EQ(f.decoder.elementCount(), 256);
    EXPECT_EQ(f.decoder.scanPosition(), (ScanPosition{256 % 24, 256 / 24}));
    EXPECT_EQ(f.surface.picture.repaints, 2); // columns 4 and 8 completed
    EXPECT_EQ(f.decoder.syncCounter(), 0);
    EXPECT_FALSE(f.decoder.clipFlag());
    for (int col = 0; col < 10; ++col)
        for (int row = 0; row < 24; ++row)
            ASSERT_EQ(f.blockAt(row, col), 0u) << row << "," << col;
    EXPECT_EQ(f.blockAt(16, 10), 0x123456u); // not reached yet
}

TEST(PixelDecoder, DefaultRasterOccupiesThreeToSeventyFour)
{
    Fixture f;
    decode(f.decoder, filled(24 * 24 * 4, 128 + 100)); // sum 500: white
    const auto& pic = f.surface.picture;
    EXPECT_EQ(pic.at(72, 72), 0xFFFFFFu); // row 0, col 0: bottom right
    EXPECT_EQ(pic.at(74, 74), 0xFFFFFFu);
    EXPECT_EQ(pic.at(3, 3), 0xFFFFFFu); // row 23, col 23: top left
    for (int i = 0; i < 179; ++i) {
        ASSERT_EQ(pic.at(i, 2), 0u) << i;
        ASSERT_EQ(pic.at(i, 75), 0u) << i;
    }
    for (int i = 0; i < 196; ++i) {
        ASSERT_EQ(pic.at(2, i), 0u) << i;
        ASSERT_EQ(pic.at(75, i), 0u) << i;
    }
}

struct LevelCase
{
    std::int32_t minLevel;
    std::int32_t maxLevel;
    std::int32_t sum;
    WinColour colour;

    friend void PrintTo(const LevelCase& c, std::ostream* os)
    {
        *os << "min " << c.minLevel << " max " << c.maxLevel << " sum " << c.sum;
    }
};

class Levels : public ::testing::TestWithParam<LevelCase>
{
};

TEST_P(Levels, MapWindowSumToColour)
{
    const LevelCase c = GetParam();
    Fixture f;
    f.settings.minLevel = c.minLevel;
    f.settings.maxLevel = c.maxLevel;
    f.settings.samplesAveraged = 8;
    f.settings.samplesPerPixel = 8;
    decode(f.decoder, samplesWithSum(c.sum, 8));
    ASSERT_EQ(f.decoder.elementCount(), 1);
    EXPECT_EQ(f.blockAt(0, 0), c.colour);
}

INSTANTIATE_TEST_SUITE_P(
    PixelDecoder, Levels,
    ::testing::Values(LevelCase{0, 255, 0, 0x000000}, LevelCase{0, 255, 100, 0x646464},
                      LevelCase{0, 255, 254, 0xFEFEFE}, LevelCase{0, 255, 255, 0xFFFFFF},
                      LevelCase{0, 255, 640, 0xFFFFFF},
                      LevelCase{0, 100, 50, 0x7F7F7F},    // 127.5 truncates
                      LevelCase{10, 20, 9, kAzure},       // below the minimum: sync
                      LevelCase{10, 20, 10, 0x000000},    // at the minimum: black
                      LevelCase{50, 50, 50, 0xFFFFFF},    // no range: full level
                      LevelCase{50, 50, 49, kAzure},      //
                      LevelCase{200, 100, 200, 0xFFFFFF}, // maximum below minimum
                      LevelCase{200, 100, 1000, 0xFFFFFF}, LevelCase{200, 100, 199, kAzure},
                      LevelCase{100, 255, 400, 0xFFFFFF}, LevelCase{255, 0, 300, 0xFFFFFF}));

struct NudgeCase
{
    std::int32_t rows;
    std::int32_t rowBefore;
    std::int32_t rowAfter;

    friend void PrintTo(const NudgeCase& c, std::ostream* os)
    {
        *os << "row " << c.rowBefore << " of " << c.rows;
    }
};

class PhaseNudge : public ::testing::TestWithParam<NudgeCase>
{
};

// The 1001st sync element moves the row a third of the way toward the nearer edge, and the
// element is painted where the nudge put it.
TEST_P(PhaseNudge, MovesTowardTheNearerEdge)
{
    const NudgeCase c = GetParam();
    Fixture f;
    f.settings.minLevel = 10;
    f.settings.rows = c.rows;
    f.settings.cols = 50;
    decode(f.decoder, filled(1000 * 4, 128));
    ASSERT_EQ(f.decoder.syncCounter(), 1000);
    f.decoder.scanPosition().row = c.rowBefore;
    const std::int32_t col = f.decoder.scanPosition().col;
    decode(f.decoder, filled(4, 128));
    EXPECT_EQ(f.decoder.syncCounter(), 0);
    const ScanPosition next =
        c.rowAfter + 1 >= c.rows ? ScanPosition{0, col + 1} : ScanPosition{c.rowAfter + 1, col};
    EXPECT_EQ(f.decoder.scanPosition(), next);
    EXPECT_EQ(f.blockAt(c.rowAfter, col), kAzure);
}

INSTANTIATE_TEST_SUITE_P(PixelDecoder, PhaseNudge,
                         ::testing::Values(NudgeCase{24, 5, 4}, NudgeCase{24, 18, 20},
                                           NudgeCase{24, 0, 0}, NudgeCase{24, 2, 2},
                                           NudgeCase{24, 11, 8}, NudgeCase{24, 12, 16},
                                           NudgeCase{24, 23, 23}, NudgeCase{24, 21, 22},
                                           NudgeCase{25, 12, 16}, NudgeCase{1, 0, 0},
                                           NudgeCase{2, 1, 1}));

TEST(PixelDecoder, SyncCounterCountsOnlyBelowMinimumElements)
{
    Fixture f;
    f.settings.minLevel = 10;
    decode(f.decoder, filled(40, 128));        // 10 sync elements
    decode(f.decoder, samplesWithSum(400, 4)); // one bright element
    decode(f.decoder, filled(8, 128));         // window of 5 still holds bright samples
    EXPECT_EQ(f.decoder.syncCounter(), 11);
}

class FullScale : public ::testing::TestWithParam<std::pair<std::uint8_t, bool>>
{
};

// One sample at full scale paints the rest of the frame in reds; the next frame is grey.
TEST_P(FullScale, TurnsTheRestOfTheFrameRed)
{
    const auto [value, clips] = GetParam();
    Fixture f;
    f.settings.rows = 4;
    f.settings.cols = 3;
    f.settings.samplesAveraged = 1;
    f.settings.samplesPerPixel = 2;
    std::vector<std::uint8_t> frame = filled(4 * 3 * 2, 128 + 100);
    frame[9] = value; // inside element 4: row 0, col 1
    decode(f.decoder, frame);
    EXPECT_EQ(f.blockAt(3, 0), 0x646464u);
    const WinColour late = clips ? 0x000064 : 0x646464;
    EXPECT_EQ(f.blockAt(1, 1), late);
    EXPECT_EQ(f.blockAt(3, 2), late);
    EXPECT_FALSE(f.decoder.clipFlag()); // the frame wrapped
    decode(f.decoder, filled(2, 128 + 100));
    EXPECT_EQ(f.blockAt(0, 0), 0x646464u);
}

INSTANTIATE_TEST_SUITE_P(PixelDecoder, FullScale,
                         ::testing::Values(std::pair<std::uint8_t, bool>{0, true},
                                           std::pair<std::uint8_t, bool>{1, true},
                                           std::pair<std::uint8_t, bool>{255, true},
                                           std::pair<std::uint8_t, bool>{2, false},
                                           std::pair<std::uint8_t, bool>{254, false}));

TEST(PixelDecoder, ClipInTheLastSampleOfAFrameIsClearedByTheWrap)
{
    Fixture f;
    f.settings.rows = 2;
    f.settings.cols = 1;
    f.settings.samplesPerPixel = 1;
    decode(f.decoder, {128, 255});
    EXPECT_EQ(f.blockAt(1, 0), 0x00007Fu); // the clipping sample's own element is red already
    EXPECT_FALSE(f.decoder.clipFlag());
}

struct RepaintCase
{
    std::int32_t cols;
    std::int32_t frames;
    std::int64_t repaints;

    friend void PrintTo(const RepaintCase& c, std::ostream* os)
    {
        *os << c.cols << " cols " << c.frames << " frames";
    }
};

class Repaints : public ::testing::TestWithParam<RepaintCase>
{
};

TEST_P(Repaints, OneRequestPerFourCompletedColumns)
{
    const RepaintCase c = GetParam();
    Fixture f;
    f.settings.rows = 3;
    f.settings.cols = c.cols;
    f.settings.samplesPerPixel = 1;
    decode(f.decoder, filled(static_cast<std::size_t>(3 * c.cols * c.frames), 128));
    EXPECT_EQ(f.surface.picture.repaints, c.repaints);
    EXPECT_EQ(f.decoder.scanPosition(), ScanPosition{});
}

INSTANTIATE_TEST_SUITE_P(PixelDecoder, Repaints,
                         ::testing::Values(RepaintCase{4, 3, 3}, RepaintCase{8, 2, 4},
                                           RepaintCase{6, 2, 2}, RepaintCase{3, 4, 0},
                                           RepaintCase{1, 8, 0}, RepaintCase{9, 1, 2}));

TEST(PixelDecoder, StaleSlotsEnterTheSumAfterTheWindowGrows)
{
    Fixture f;
    f.settings.samplesPerPixel = 1;
    f.settings.samplesAveraged = 4;
    decode(f.decoder, {128 + 10, 128 + 20, 128 + 30, 128 + 40});
    f.settings.samplesAveraged = 2;
    decode(f.decoder, {128 + 50});              // slots: 20 50 | 30 40 left behind
    EXPECT_EQ(f.blockAt(4 % 24, 0), 0x464646u); // 20 + 50
    f.settings.samplesAveraged = 4;
    decode(f.decoder, {128 + 60});         // slots: 50 30 40 60
    EXPECT_EQ(f.blockAt(5, 0), 0xB4B4B4u); // 180
    const auto window = f.decoder.averageWindow();
    EXPECT_EQ((std::vector<std::int32_t>(window.begin(), window.begin() + 5)),
              (std::vector<std::int32_t>{50, 30, 40, 60, 0}));
}

TEST(PixelDecoder, LargeRasterDropsOffSurfaceBlocksAndKeepsScanning)
{
    Fixture f;
    f.settings.rows = 100;
    f.settings.cols = 70;
    f.settings.samplesPerPixel = 1;
    decode(f.decoder, filled(100 * 70 + 5, 128 + 100));
    EXPECT_EQ(f.decoder.scanPosition(), (ScanPosition{5, 0}));
    // Row 99 of column 69 lands at (3, 3); row 0 of column 0 at (210, 300), off the surface.
    EXPECT_EQ(f.surface.picture.at(3, 3), 0xFFFFFFu);
    EXPECT_EQ(f.surface.picture.at(178, 195), 0xFFFFFFu); // row 35, col 11 covers it
    EXPECT_EQ(f.surface.picture.at(2, 2), 0u);
}

TEST(PixelDecoder, AnySplitOfTheBytesGivesTheSamePicture)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> signal(50000);
    for (auto& b : signal)
        b = static_cast<std::uint8_t>(random() % 256);

    Fixture whole;
    whole.settings.minLevel = 150;
    whole.settings.samplesAveraged = 7;
    whole.settings.samplesPerPixel = 3;
    decode(whole.decoder, signal);

    for (int trial = 0; trial < 20; ++trial) {
        Fixture split;
        split.settings = whole.settings;
        std::size_t at = 0;
        while (at < signal.size()) {
            const std::size_t n =
                std::min<std::size_t>(random() % (trial < 10 ? 8 : 3000), signal.size() - at);
            split.decoder.DecodeBlock(signal.data() + at, static_cast<std::int32_t>(n));
            at += n;
        }
        ASSERT_EQ(split.surface.picture.pixels, whole.surface.picture.pixels) << trial;
        ASSERT_EQ(split.surface.picture.repaints, whole.surface.picture.repaints);
        ASSERT_EQ(split.decoder.scanPosition(), whole.decoder.scanPosition());
        ASSERT_EQ(split.decoder.syncCounter(), whole.decoder.syncCounter());
        ASSERT_EQ(split.decoder.clipFlag(), whole.decoder.clipFlag());
    }
}

TEST(PixelDecoder, CountOfZeroOrLessDoesNothing)
{
    Fixture f;
    const std::uint8_t byte = 255;
    f.decoder.DecodeBlock(&byte, 0);
    f.decoder.DecodeBlock(&byte, -1);
    f.decoder.DecodeBlock(&byte, INT_MIN);
    f.decoder.DecodeBlock(nullptr, 0);
    EXPECT_EQ(f.decoder.elementCount(), 0);
    EXPECT_FALSE(f.decoder.clipFlag());
    EXPECT_EQ(f.decoder.sampleCounter(), 0);
}

// The colour numbers carry red in the low byte; the image must show them as such.
TEST(ImageSurface, ConvertsRedInLowByteColours)
{
    ImageSurface surface;
    EXPECT_EQ(surface.image().pixel(0, 0), qRgb(0, 0, 0));
    surface.paintBlock(10, 20, kAzure);
    EXPECT_EQ(surface.image().pixel(10, 20), qRgb(0, 202, 255));
    EXPECT_EQ(surface.image().pixel(12, 22), qRgb(0, 202, 255));
    EXPECT_EQ(surface.image().pixel(13, 22), qRgb(0, 0, 0));
    surface.paintBlock(0, 0, 0x0000C8); // a clipped frame's level 200: pure red
    EXPECT_EQ(surface.image().pixel(1, 1), qRgb(200, 0, 0));
    EXPECT_EQ(surface.pixel(1, 1), 0x0000C8u);
    surface.clear();
    EXPECT_EQ(surface.image().pixel(1, 1), qRgb(0, 0, 0));
}

TEST(ImageSurface, ClipsBlocksAtEveryEdge)
{
    ImageSurface surface;
    for (const auto& [x, y] :
         {std::pair{-2, -2}, std::pair{177, 194}, std::pair{-3, 5}, std::pair{179, 5},
          std::pair{5, 196}, std::pair{INT_MIN, INT_MIN}, std::pair{INT_MAX - 2, INT_MAX - 2}})
        surface.paintBlock(x, y, 0xFFFFFF);
    EXPECT_EQ(surface.image().pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(surface.image().pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(surface.image().pixel(178, 195), qRgb(255, 255, 255));
    EXPECT_EQ(surface.image().pixel(177, 193), qRgb(0, 0, 0));
    int painted = 0;
    for (int y = 0; y < 196; ++y)
        for (int x = 0; x < 179; ++x)
            painted += surface.image().pixel(x, y) != qRgb(0, 0, 0);
    EXPECT_EQ(painted, 1 + 4);
}

TEST(ImageSurface, CountsRepaintRequestsAndCallsBack)
{
    ImageSurface surface;
    int calls = 0;
    surface.setRepaintCallback([&] { ++calls; });
    DecoderSettings settings;
    settings.samplesPerPixel = 1;
    settings.rows = 1;
    PixelDecoder decoder(settings, surface);
    const std::vector<std::uint8_t> bytes(48, 128);
    decoder.DecodeBlock(bytes.data(), 48);
    EXPECT_EQ(surface.repaintRequests(), 12);
    EXPECT_EQ(calls, 12);
}
