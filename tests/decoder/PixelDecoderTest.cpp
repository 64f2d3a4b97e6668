#include "PixelDecoder.h"

#include "ImageSurface.h"
#include "LiteralDecoder.h"

#include <gtest/gtest.h>
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

// One element of 8 samples averaged over 8: its window sum against the two levels.
TEST(PixelDecoder, WindowSumAgainstTheLevelsGivesTheColour)
{
    const struct
    {
        std::int32_t minLevel, maxLevel, sum;
        WinColour colour;
    } cases[] = {{0, 255, 0, 0x000000},     {0, 255, 100, 0x646464},
                 {0, 255, 640, 0xFFFFFF},   {0, 100, 50, 0x7F7F7F}, // 127.5 truncates
                 {10, 20, 9, kAzure},                               // below the minimum: sync
                 {10, 20, 10, 0x000000},                            // at the minimum: black
                 {50, 50, 50, 0xFFFFFF},                            // no range: full level
                 {50, 50, 49, kAzure},                              //
                 {200, 100, 200, 0xFFFFFF},                         // maximum below minimum
                 {200, 100, 199, kAzure}};
    for (const auto& c : cases) {
        Fixture f;
        f.settings.minLevel = c.minLevel;
        f.settings.maxLevel = c.maxLevel;
        f.settings.samplesAveraged = 8;
        f.settings.samplesPerPixel = 8;
        decode(f.decoder, samplesWithSum(c.sum, 8));
        EXPECT_EQ(f.blockAt(0, 0), c.colour) << c.minLevel << ".." << c.maxLevel << ": " << c.sum;
    }
}

// The 1001st sync element moves the row a third of the way toward the nearer edge, and the
// element is painted where the nudge put it.
TEST(PixelDecoder, PhaseNudgeMovesTowardTheNearerEdge)
{
    const struct
    {
        std::int32_t rows, rowBefore, rowAfter;
    } cases[] = {{24, 5, 4},   {24, 18, 20}, {24, 2, 2},   {24, 11, 8},
                 {24, 12, 16}, {24, 23, 23}, {25, 12, 16}, {1, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " rows, from " + std::to_string(c.rowBefore));
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
}

// One sample at full scale (0, 1 or 255) paints the rest of the frame in reds; the next frame
// is grey again.
TEST(PixelDecoder, FullScaleTurnsTheRestOfTheFrameRed)
{
    for (const auto& [value, clips] : {std::pair<std::uint8_t, bool>{0, true},
                                       {1, true},
                                       {255, true},
                                       {2, false},
                                       {254, false}}) {
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
        EXPECT_EQ(f.blockAt(1, 1), late) << int(value);
        EXPECT_EQ(f.blockAt(3, 2), late) << int(value);
        EXPECT_FALSE(f.decoder.clipFlag()); // the frame wrapped
        decode(f.decoder, filled(2, 128 + 100));
        EXPECT_EQ(f.blockAt(0, 0), 0x646464u);
    }
}

// Blocks cut by the picture's edge are painted one by one: the colour numbers carry red in the
// low byte there too.
TEST(ImageSurface, PaintsRedInLowByteColours)
{
    ImageSurface surface;
    surface.paintBlock(-1, 20, kAzure);
    EXPECT_EQ(surface.image().pixel(1, 22), qRgb(0, 202, 255));
    EXPECT_EQ(surface.image().pixel(2, 22), qRgb(0, 0, 0));
}
