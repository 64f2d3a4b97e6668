#pragma once

#include "DecoderSettings.h"
#include "PictureSurface.h"
#include "PixelDecoder.h"

#include <array>
#include <cstdint>
#include <vector>

namespace corvane::testing {

// A 179 x 196 picture as a plain array of decoder colours, black at start; the literal
// decoder paints it one pixel per call.
class ArraySurface final
{
public:
    static constexpr int kWidth = 179;
    static constexpr int kHeight = 196;

    void setPixel(std::int64_t x, std::int64_t y, WinColour colour)
    {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            pixels[static_cast<std::size_t>(y * kWidth + x)] = colour;
    }
    void requestRepaint() { ++repaints; }

    WinColour at(int x, int y) const { return pixels[static_cast<std::size_t>(y * kWidth + x)]; }

    std::vector<WinColour> pixels = std::vector<WinColour>(kWidth * kHeight, 0);
    std::int64_t repaints = 0;
};

// The real decoder's surface interface over the same kind of array, for comparing pictures.
class BlockArraySurface final : public PictureSurface
{
public:
    void paintBlock(int x, int y, WinColour colour) override
    {
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                picture.setPixel(std::int64_t{x} + dx, std::int64_t{y} + dy, colour);
    }
    void requestRepaint() override { ++picture.repaints; }

    ArraySurface picture;
};

// The decoder written the plain way: the window is an array shifted at every sample and
// its sum recomputed from scratch, every pixel is one call. It serves as the reference the
// real decoder must match and as the baseline of the speed measurements. Only the guards
// against settings out of range are shared with the real decoder (samplesAveraged clamped
// into 1..128, arithmetic in 64 bits).
class LiteralDecoder
{
public:
    LiteralDecoder(const DecoderSettings& settings, ArraySurface& sink);

    void DecodeBlock(const std::uint8_t* data, std::int32_t count);

    ScanPosition ScanPosition_;
    bool ClipFlag_ = false;
    std::int32_t SyncCounter_ = 0;
    std::int32_t SampleCounter_ = 0;
    std::int64_t ElementCount_ = 0;
    std::array<std::int32_t, kAverageWindowSlots> AverageWindow_{};

private:
    void EmitPixel(std::int32_t windowSum);

    const DecoderSettings& settings_;
    ArraySurface& sink_;
};

} // namespace corvane::testing
