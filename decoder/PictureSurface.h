#pragma once

#include <cstdint>

namespace corvane {

// Colours as the decoder computes them: red in the low byte, green in the middle byte,
// blue in the high byte (0xFFCA00 is red 0, green 202, blue 255).
using WinColour = std::uint32_t;

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
};

} // namespace corvane
