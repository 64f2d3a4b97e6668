#pragma once

#include "DecoderSettings.h"

#include <cstdint>
#include <vector>

namespace corvane {

// A synthetic transmission that the decoder, run with the same settings, turns into a test
// card: two opposed grey wedges, a white ring and a sync band along the top two rows (silence,
// so it shows in azure whenever minLevel is above 0). With clippedBurst every second frame
// carries one full-scale sample in its middle, which paints the rest of that frame in reds.
struct TestCardOptions
{
    DecoderSettings settings;
    std::int64_t samples = 2 * 28800;
    bool clippedBurst = false;
};

// The level the card asks for at an element, 0..255, or kSyncLevel for the sync line.
inline constexpr int kSyncLevel = -1;
int testCardLevel(std::int32_t row, std::int32_t col, std::int32_t rows, std::int32_t cols);

std::vector<std::uint8_t> makeTestCard(const TestCardOptions& options);

} // namespace corvane
