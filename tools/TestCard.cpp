#include "TestCard.h"

#include <algorithm>
#include <cmath>

namespace corvane {

int testCardLevel(std::int32_t row, std::int32_t col, std::int32_t rows, std::int32_t cols)
{
    // Two rows, so the top one is silent over the whole smoothing window even when the window
    // reaches back into the element below.
    const std::int32_t syncRows = rows >= 6 ? 2 : 0;
    if (row >= rows - syncRows)
        return kSyncLevel;
    const std::int32_t pictureRows = rows - syncRows;

    // A ring around the middle of the picture.
    const double cx = (cols - 1) / 2.0;
    const double cy = (pictureRows - 1) / 2.0;
    const double radius = 0.4 * std::min(cols, pictureRows);
    const double distance = std::hypot(col - cx, row - cy);
    if (radius >= 2 && std::abs(distance - radius) < 0.6)
        return 255;

    // Eight grey steps across the raster, dark to light leftwards in the lower half and the
    // other way round in the upper half.
    const int step = static_cast<int>(std::int64_t{col} * 8 / std::max(cols, 1));
    const int level = step * 255 / 7;
    return row < pictureRows / 2 ? level : 255 - level;
}

namespace {

// The window sum the decoder maps to level.
std::int64_t windowSumFor(int level, const DecoderSettings& s, std::int64_t slots)
{
    if (level == kSyncLevel)
        return 0;
    const std::int64_t range = std::int64_t{s.maxLevel} - s.minLevel;
    std::int64_t sum = s.minLevel;
    if (range > 0)
        sum += (level * range + 254) / 255;
    // Black must stay at or above the minimum even when the window reaches back into a
    // silent sync element, or it would show as sync.
    const std::int64_t own = std::min<std::int64_t>(slots, std::max(s.samplesPerPixel, 1));
    if (level == 0 && own < slots)
        sum = (sum + own - 1) / own * slots;
    // Stay below full scale (a rectified 127), which the decoder takes for clipping.
    return std::clamp<std::int64_t>(sum, 0, 126 * slots);
}

} // namespace

std::vector<std::uint8_t> makeTestCard(const TestCardOptions& options)
{
    const DecoderSettings& s = options.settings;
    const std::int32_t rows = std::max(s.rows, 1);
    const std::int32_t cols = std::max(s.cols, 1);
    const std::int64_t perElement = std::max(s.samplesPerPixel, 1);
    const std::int64_t slots = std::clamp(s.samplesAveraged, 1, kAverageWindowSlots);
    const std::int64_t total = std::max<std::int64_t>(options.samples, 0);

    // One frame's window sums, computed once.
    std::vector<std::int64_t> sums(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (std::int32_t col = 0; col < cols; ++col)
        for (std::int32_t row = 0; row < rows; ++row)
            sums[static_cast<std::size_t>(col) * static_cast<std::size_t>(rows) +
                 static_cast<std::size_t>(row)] =
                windowSumFor(testCardLevel(row, col, rows, cols), s, slots);

    const auto frameElements = static_cast<std::int64_t>(sums.size());
    const std::int64_t burstElement = std::int64_t{cols / 2} * rows + rows / 2;

    std::vector<std::uint8_t> out(static_cast<std::size_t>(total));
    std::int64_t k = 0;
    for (std::int64_t element = 0; k < total; ++element) {
        const std::int64_t inFrame = element % frameElements;
        const std::int64_t sum = sums[static_cast<std::size_t>(inFrame)];
        const bool burst =
            options.clippedBurst && inFrame == burstElement && (element / frameElements) % 2 == 1;
        for (std::int64_t i = 0; i < perElement && k < total; ++i, ++k) {
            // Spread the sum over the window: any run of `slots` consecutive amplitudes adds
            // up to exactly sum. The sign alternates like a carrier's.
            const auto a =
                static_cast<int>((k % slots + 1) * sum / slots - (k % slots) * sum / slots);
            const int value = (k % 2) ? 128 + a : 128 - a;
            out[static_cast<std::size_t>(k)] =
                static_cast<std::uint8_t>(burst && i == 0 ? 255 : value);
        }
    }
    return out;
}

} // namespace corvane
