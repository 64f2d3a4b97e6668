#pragma once

#include "DecoderSettings.h"
#include "PictureSurface.h"

#include <array>
#include <cstdint>

namespace corvane {

// Where the next block goes: row counts up a column (0 lowest), col across the raster
// (0 rightmost).
struct ScanPosition
{
    std::int32_t row = 0;
    std::int32_t col = 0;
    friend bool operator==(const ScanPosition&, const ScanPosition&) = default;
};

// Turns recorded 8-bit samples into 3x3 blocks on a picture surface.
// Settings are read afresh at every sample, so changes act from the next sample or element.
//
// Settings outside their accepted ranges never make the decoder misbehave:
// - samplesAveraged is taken as 1 when below 1 and as 128 when above 128 (the window's slots);
// - samplesPerPixel of 1 or less emits an element at every sample;
// - rows, cols, levels and a scan position set from outside are computed with in 64 bits, so
//   no value overflows; a block whose position lies more than 2^30 pixels away from the
//   surface is dropped before it reaches the surface.
class PixelDecoder
{
public:
    PixelDecoder(const DecoderSettings& settings, PictureSurface& surface);

    // Processes count bytes (unsigned, silence at 128) in order; count <= 0 does nothing.
    void DecodeBlock(const std::uint8_t* data, std::int32_t count);

    ScanPosition& scanPosition() { return scanPosition_; }
    const ScanPosition& scanPosition() const { return scanPosition_; }

    bool clipFlag() const { return clipFlag_; }
    std::int32_t syncCounter() const { return syncCounter_; }

    // Samples since the last emitted element.
    std::int32_t sampleCounter() const { return sampleCounter_; }
    // Elements emitted since construction (dropped ones included).
    std::int64_t elementCount() const { return elementCount_; }

    // The 128 window slots as the smoothing filter sees them: slot samplesAveraged-1 is the
    // newest sample, slots beyond the window keep what they last held.
    std::array<std::int32_t, kAverageWindowSlots> averageWindow() const;

private:
    struct Run;
    // Decodes from p until the data ends or the decoder has called into the surface (which
    // may change settings), and returns where it stopped.
    const std::uint8_t* decodeRun(const std::uint8_t* start, const std::uint8_t* p,
                                  const std::uint8_t* end, bool mayClip);
    // Places one element (nudging the phase first if it is due) and advances the scan; true
    // when it called into the surface.
    bool placeElement(Run& run, WinColour colour, bool nudge);
    bool columnFits(const Run& run) const;
    const std::uint8_t* paintColumn(Run& run, const std::uint8_t* p, const std::uint8_t* end,
                                    bool mayClip, bool& nudgeDue);
    template <int Window, bool Rgb32>
    const std::uint8_t* paintColumnAs(Run& run, const std::uint8_t* p, std::int64_t count,
                                      bool& nudgeDue);
    bool finishColumn(Run& run);
    void load(Run& run);
    void store(Run& run);
    void paintThroughSurface(Run& run, int x, int y, WinColour colour);
    void repaintThroughSurface(Run& run);
    void changeWindowLength(std::int32_t length);
    void prepareLevels(std::int32_t minLevel, std::int32_t maxLevel);

    const DecoderSettings& settings_;
    PictureSurface& surface_;
    ScanPosition scanPosition_;
    bool clipFlag_ = false;
    std::int32_t syncCounter_ = 0;
    std::int32_t sampleCounter_ = 0;
    std::int64_t elementCount_ = 0;

    // The window is kept as a sliding run inside history_: slot i is history_[head_ + i] for
    // the windowLength_ active slots, so shifting the window is one store and one increment
    // instead of moving every slot. Slots at and beyond windowLength_ live in parkedSlots_
    // untouched, exactly as they would in a shifted array, until the window grows over them.
    static constexpr std::int32_t kHistorySize = 16384 + kAverageWindowSlots;
    std::array<std::uint8_t, kHistorySize> history_{};
    std::array<std::int32_t, kAverageWindowSlots> parkedSlots_{};
    std::int32_t head_ = 0;
    std::int32_t windowLength_ = 1;
    std::int32_t windowSum_ = 0; // sum of the windowLength_ active slots

    // Grey level by distance above minLevel, for the levels the table was made for.
    static constexpr std::int32_t kMaxWindowSum = 128 * kAverageWindowSlots;
    std::array<std::uint8_t, kMaxWindowSum + 1> levels_{};
    std::int32_t levelsMin_ = 0;
    std::int32_t levelsMax_ = 0;
    bool levelsTabled_ = false;
    bool levelsKnown_ = false;
};

} // namespace corvane
