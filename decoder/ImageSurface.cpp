#include "ImageSurface.h"

#include <algorithm>

namespace corvane {

ImageSurface::ImageSurface() : image_(kWidth, kHeight, QImage::Format_RGB32)
{
    clear();
}

QRgb ImageSurface::toRgb(WinColour colour)
{
    return qRgb(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

WinColour ImageSurface::fromRgb(QRgb rgb)
{
    return static_cast<WinColour>(qRed(rgb)) | static_cast<WinColour>(qGreen(rgb)) << 8 |
           static_cast<WinColour>(qBlue(rgb)) << 16;
}

void ImageSurface::paintBlock(int x, int y, WinColour colour)
{
    if (x <= -3 || y <= -3 || x >= kWidth || y >= kHeight)
        return;
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + 3, kWidth);
    const int y0 = std::max(y, 0);
    const int y1 = std::min(y + 3, kHeight);
    const QRgb rgb = toRgb(colour);
    // bits() on a shared image would detach at every call; scanLine of our own image does not.
    for (int row = y0; row < y1; ++row) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(row));
        for (int col = x0; col < x1; ++col)
            line[col] = rgb;
    }
}

PixelRaster ImageSurface::pixelRaster()
{
    // bits() detaches the image if someone holds a copy, so copies keep what they saw.
    PixelRaster raster;
    raster.bits = reinterpret_cast<std::uint32_t*>(image_.bits());
    raster.width = kWidth;
    raster.height = kHeight;
    raster.stride = image_.bytesPerLine() / static_cast<qsizetype>(sizeof(std::uint32_t));
    raster.format = PixelRaster::Format::Rgb32;
    return raster;
}

void ImageSurface::requestRepaint()
{
    ++repaintRequests_;
    if (onRepaint_)
        onRepaint_();
}

void ImageSurface::clear()
{
    image_.fill(qRgb(0, 0, 0));
}

WinColour ImageSurface::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return 0;
    return fromRgb(image_.pixel(x, y));
}

} // namespace corvane
