#include "LiteralDecoder.h"

namespace corvane::testing {

LiteralDecoder::LiteralDecoder(const DecoderSettings& settings, ArraySurface& sink)
    : settings_(settings), sink_(sink)
{}

void LiteralDecoder::DecodeBlock(const std::uint8_t* data, std::int32_t count)
{
    for (std::int32_t k = 0; k < count; ++k) {
        const std::int32_t a = std::int32_t{data[k]} - 128;
        const std::int32_t r = a < 0 ? -a : a;
        if (r >= 127)
            ClipFlag_ = true;
        ++SampleCounter_;

        std::int32_t averaged = settings_.samplesAveraged;
        if (averaged < 1)
            averaged = 1;
        if (averaged > kAverageWindowSlots)
            averaged = kAverageWindowSlots;
        std::int32_t sum = 0;
        for (std::int32_t i = 0; i <= averaged - 2; ++i) {
            AverageWindow_[static_cast<std::size_t>(i)] =
                AverageWindow_[static_cast<std::size_t>(i + 1)];
            sum += AverageWindow_[static_cast<std::size_t>(i)];
        }
        AverageWindow_[static_cast<std::size_t>(averaged - 1)] = r;
        sum += r;

        if (std::int64_t{SampleCounter_} > std::int64_t{settings_.samplesPerPixel} - 1) {
            EmitPixel(sum);
            SampleCounter_ = 0;
        }
    }
}

void LiteralDecoder::EmitPixel(std::int32_t windowSum)
{
    ++ElementCount_;
    const std::int64_t d = std::int64_t{windowSum} - settings_.minLevel;
    WinColour colour;
    if (d < 0) {
        colour = 0xFFCA00;
        ++SyncCounter_;
        if (SyncCounter_ > 1000) {
            SyncCounter_ = 0;
            const std::int64_t rows = settings_.rows;
            std::int64_t row = ScanPosition_.row;
            const std::int64_t half = rows / 2;
            if (half > row)
                row = row - row / 3;
            else
                row = row + (rows - row) / 3;
            if (row < 0)
                row = 0;
            if (row > rows)
                row = rows;
            ScanPosition_.row = static_cast<std::int32_t>(row);
        }
    } else {
        const std::int64_t range = std::int64_t{settings_.maxLevel} - settings_.minLevel;
        std::int64_t level;
        if (range > 0)
            level = (d * 255) / range;
        else
            level = 255;
        if (level > 255)
            level = 255;
        if (!ClipFlag_)
            colour = static_cast<WinColour>(level) * 0x010101u;
        else
            colour = static_cast<WinColour>(level);
    }

    const std::int64_t X = 3 * std::int64_t{settings_.cols} - 3 * std::int64_t{ScanPosition_.col};
    const std::int64_t Y = 3 * std::int64_t{settings_.rows} - 3 * std::int64_t{ScanPosition_.row};
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx)
            sink_.setPixel(X + dx, Y + dy, colour);

    std::int64_t row = std::int64_t{ScanPosition_.row} + 1;
    if (row >= settings_.rows) {
        ScanPosition_.row = 0;
        const std::int64_t col = std::int64_t{ScanPosition_.col} + 1;
        if (col % 4 == 0)
            sink_.requestRepaint();
        if (col >= settings_.cols) {
            ScanPosition_.col = 0;
            ClipFlag_ = false;
        } else {
            ScanPosition_.col = static_cast<std::int32_t>(col);
        }
    } else {
        ScanPosition_.row = static_cast<std::int32_t>(row);
    }
}

} // namespace corvane::testing
