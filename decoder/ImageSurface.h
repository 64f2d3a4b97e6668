#pragma once

#include "PictureSurface.h"

#include <QImage>
#include <cstdint>
#include <functional>

namespace corvane {

// The picture surface the program shows: a 179 x 196 image in RGB32, so one block is nine
// 32-bit stores into the image's own memory.
class ImageSurface final : public PictureSurface
{
public:
    static constexpr int kWidth = 179;
    static constexpr int kHeight = 196;

    ImageSurface();

    void paintBlock(int x, int y, WinColour colour) override;
    void requestRepaint() override;
    PixelRaster pixelRaster() override;

    // Paints the whole surface black.
    void clear();

    // Called at every repaint request, e.g. to schedule a widget update.
    void setRepaintCallback(std::function<void()> callback) { onRepaint_ = std::move(callback); }
    std::int64_t repaintRequests() const { return repaintRequests_; }

    const QImage& image() const { return image_; }

    // The surface pixel's colour in the decoder's byte order (red in the low byte).
    WinColour pixel(int x, int y) const;

    static QRgb toRgb(WinColour colour);
    static WinColour fromRgb(QRgb rgb);

private:
    QImage image_;
    std::function<void()> onRepaint_;
    std::int64_t repaintRequests_ = 0;
};

} // namespace corvane
