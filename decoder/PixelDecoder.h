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
class PixelDecoder
{
public:
    PixelDecoder(const DecoderSettings& settings, PictureSurface& surface);

    // Processes count bytes (unsigned, silence at 128) in order; count <= 0 does nothing.
    void DecodeBlock(const std::uint8_t* data, std::int32_t count);

    ScanPosition& scanPosition() { return ScanPosition_; }
    const ScanPosition& scanPosition() const { return ScanPosition_; }

    bool clipFlag() const { return ClipFlag_; }
    std::int32_t syncCounter() const { return SyncCounter_; }

    // Implementation state is private; see PixelDecoder.cpp.
private:
    void EmitPixel(std::int32_t windowSum);

    const DecoderSettings& settings_;
    PictureSurface& surface_;
    ScanPosition ScanPosition_;
    bool ClipFlag_ = false;
    std::int32_t SyncCounter_ = 0;
};

} // namespace corvane
