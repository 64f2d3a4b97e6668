#include "PixelDecoder.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

constexpr WinColour kSyncColour = 0xFFCA00;
constexpr std::int32_t kSyncElementsPerNudge = 1000;
// Blocks further away than this cannot touch any surface we will ever have; dropping them
// here keeps the coordinates handed to the surface well inside int.
constexpr std::int64_t kFarCoordinate = std::int64_t{1} << 30;

// Deviation from silence, 0..128.
inline std::uint8_t rectify(std::uint8_t b)
{
    return static_cast<std::uint8_t>(b >= 128 ? b - 128 : 128 - b);
}

// Values 255, 0 and 1 reach full scale (a rectified 127 or 128).
inline bool reachesFullScale(std::uint8_t b)
{
    return static_cast<std::uint8_t>(b + 1) <= 2;
}

std::int32_t usableWindowLength(std::int32_t samplesAveraged)
{
    return std::clamp(samplesAveraged, std::int32_t{1}, kAverageWindowSlots);
}

} // namespace

PixelDecoder::PixelDecoder(const DecoderSettings& settings, PictureSurface& surface)
    : settings_(settings), surface_(surface)
{}

std::array<std::int32_t, kAverageWindowSlots> PixelDecoder::averageWindow() const
{
    std::array<std::int32_t, kAverageWindowSlots> slots = parkedSlots_;
    for (std::int32_t i = 0; i < windowLength_; ++i)
        slots[static_cast<std::size_t>(i)] = history_[static_cast<std::size_t>(head_ + i)];
    return slots;
}

// A new window length takes over the slots exactly where the shifted array would have them:
// slots that were outside the old window come back with the values they were left with.
void PixelDecoder::changeWindowLength(std::int32_t length)
{
    parkedSlots_ = averageWindow();
    windowSum_ = 0;
    for (std::int32_t i = 0; i < length; ++i) {
        const std::int32_t value = parkedSlots_[static_cast<std::size_t>(i)];
        history_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
        windowSum_ += value;
    }
    head_ = 0;
    windowLength_ = length;
}

void PixelDecoder::compactHistory()
{
    std::memmove(history_.data(), history_.data() + head_, static_cast<std::size_t>(windowLength_));
    head_ = 0;
}

void PixelDecoder::DecodeBlock(const std::uint8_t* data, std::int32_t count)
{
    if (count <= 0 || data == nullptr)
        return;
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + count;

    while (p < end) {
        // Settings can only change while the surface has control, so reading them once per
        // element is the same as reading them at every sample.
        const std::int32_t length = usableWindowLength(settings_.samplesAveraged);
        if (length != windowLength_)
            changeWindowLength(length);

        const std::int64_t untilEmit =
            std::max<std::int64_t>(1, std::int64_t{settings_.samplesPerPixel} - sampleCounter_);
        const std::int64_t available = end - p;
        const bool emits = untilEmit <= available;
        const std::int32_t take = static_cast<std::int32_t>(emits ? untilEmit : available);

        if (!ClipFlag_) {
            bool clipped = false;
            for (std::int32_t i = 0; i < take; ++i)
                clipped |= reachesFullScale(p[i]);
            ClipFlag_ = clipped;
        }

        if (take >= length) {
            // The whole window is replaced by the last samples of this run.
            const std::uint8_t* last = p + (take - length);
            std::int32_t sum = 0;
            for (std::int32_t i = 0; i < length; ++i) {
                const std::uint8_t r = rectify(last[i]);
                history_[static_cast<std::size_t>(i)] = r;
                sum += r;
            }
            head_ = 0;
            windowSum_ = sum;
        } else {
            std::int32_t done = 0;
            while (done < take) {
                if (head_ + length >= kHistorySize)
                    compactHistory();
                const std::int32_t room = kHistorySize - (head_ + length);
                const std::int32_t run = std::min(take - done, room);
                std::uint8_t* window = history_.data() + head_;
                std::int32_t sum = windowSum_;
                for (std::int32_t i = 0; i < run; ++i) {
                    const std::uint8_t r = rectify(p[done + i]);
                    sum += r - window[i];
                    window[i + length] = r;
                }
                windowSum_ = sum;
                head_ += run;
                done += run;
            }
        }
        p += take;

        if (emits) {
            sampleCounter_ = 0;
            EmitPixel(windowSum_);
        } else {
            sampleCounter_ += take;
        }
    }
}

void PixelDecoder::EmitPixel(std::int32_t windowSum)
{
    ++elementCount_;
    const std::int64_t minLevel = settings_.minLevel;
    const std::int64_t d = std::int64_t{windowSum} - minLevel;
    ScanPosition& pos = ScanPosition_;

    WinColour colour;
    if (d < 0) {
        colour = kSyncColour;
        if (++SyncCounter_ > kSyncElementsPerNudge) {
            SyncCounter_ = 0;
            // Pull the phase a third of the way toward the nearer edge.
            const std::int64_t rows = settings_.rows;
            std::int64_t row = pos.row;
            if (rows / 2 > row)
                row -= row / 3;
            else
                row += (rows - row) / 3;
            if (row < 0)
                row = 0;
            if (row > rows)
                row = rows;
            pos.row = static_cast<std::int32_t>(row);
        }
    } else {
        const std::int64_t range = std::int64_t{settings_.maxLevel} - minLevel;
        std::int64_t level = 255;
        if (range > 0) {
            // The common case (levels within 0..255) fits a 32-bit division.
            if (d <= 0xFFFFFF && range <= 0xFFFFFF)
                level = static_cast<std::uint32_t>(d * 255) / static_cast<std::uint32_t>(range);
            else
                level = d * 255 / range;
        }
        if (level > 255)
            level = 255;
        const auto value = static_cast<WinColour>(level);
        colour = ClipFlag_ ? value : value * 0x010101u;
    }

    const std::int64_t x = 3 * std::int64_t{settings_.cols} - 3 * std::int64_t{pos.col};
    const std::int64_t y = 3 * std::int64_t{settings_.rows} - 3 * std::int64_t{pos.row};
    if (x > -kFarCoordinate && x < kFarCoordinate && y > -kFarCoordinate && y < kFarCoordinate)
        surface_.paintBlock(static_cast<int>(x), static_cast<int>(y), colour);

    // The surface may have run code of its own; read the raster size afresh.
    const std::int64_t nextRow = std::int64_t{pos.row} + 1;
    if (nextRow >= settings_.rows) {
        pos.row = 0;
        const std::int64_t nextCol = std::int64_t{pos.col} + 1;
        if (nextCol % 4 == 0)
            surface_.requestRepaint();
        if (nextCol >= settings_.cols) {
            pos.col = 0;
            ClipFlag_ = false;
        } else {
            pos.col = static_cast<std::int32_t>(nextCol);
        }
    } else {
        pos.row = static_cast<std::int32_t>(nextRow);
    }
}

} // namespace corvane
