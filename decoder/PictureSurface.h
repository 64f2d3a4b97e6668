#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Colours as the decoder computes them: red in the low byte, green in the middle byte,
// blue in the high byte (0xFFCA00 is red 0, green 202, blue 255).
using WinColour = std::uint32_t;

// A surface's pixel memory, lent to the decoder so it can write blocks without a call each.
struct PixelRaster
{
    enum class Format
    {
        WinColour, // each pixel holds the decoder's colour number as it is
        Rgb32,     // 0xFFRRGGBB, as QImage::Format_RGB32
    };
    std::uint32_t* bits = nullptr; // nullptr: no raster, every block goes through paintBlock
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; // in pixels
    Format format = Format::WinColour;
};

// Where the decoder paints. The decoder calls paintBlock once per picture element, so the
// per-sample path never makes a virtual call per pixel.
class PictureSurface
{
public:
    virtual ~PictureSurface() = default;

    // Sets the nine pixels (x..x+2, y..y+2) to colour; pixels outside the surface are dropped.
    virtual void paintBlock(int x, int y, WinColour colour) = 0;

    // Asks for the picture to be shown on screen again.
    virtual void requestRepaint() = 0;

    // Optional: the pixel memory, for blocks that lie wholly inside it; paintBlock still gets
    // the others. The decoder asks again at every DecodeBlock and after every call it makes
    // into the surface, so the memory only has to stay put between those calls.
    virtual PixelRaster pixelRaster() { return {}; }
};

} // namespace corvane
