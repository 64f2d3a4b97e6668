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
constexpr std::array<std::uint8_t, 256> kRectified = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[static_cast<std::size_t>(b)] =
            static_cast<std::uint8_t>(b >= 128 ? b - 128 : 128 - b);
    return table;
}();

inline std::uint8_t rectify(std::uint8_t b)
{
    return kRectified[b];
}

// A sample at full scale (a rectified 127 or 128: the values 255, 0 and 1) marks its frame
// clipped. Shifted by one, 255 wraps to 0 and those values are the ones at most 2.
constexpr std::uint8_t shiftedSample(std::uint8_t b)
{
    return static_cast<std::uint8_t>(b + 1);
}
constexpr std::uint8_t kFullScaleShifted = 2;

inline bool reachesFullScale(std::uint8_t b)
{
    return shiftedSample(b) <= kFullScaleShifted;
}

// Written as a minimum without an early exit so the compiler can vectorise it.
inline bool anyFullScale(const std::uint8_t* p, std::int64_t count)
{
    std::uint8_t lowest = 255;
    for (std::int64_t i = 0; i < count; ++i)
        lowest = std::min(lowest, shiftedSample(p[i]));
    return lowest <= kFullScaleShifted;
}

// Index of the first sample at full scale among count, or count when there is none. Clean
// stretches are skipped a chunk at a time with the vectorised test.
std::int64_t firstFullScale(const std::uint8_t* p, std::int64_t count)
{
    constexpr std::int64_t kChunk = 64;
    std::int64_t i = 0;
    while (i + kChunk <= count && !anyFullScale(p + i, kChunk))
        i += kChunk;
    for (; i < count; ++i)
        if (reachesFullScale(p[i]))
            return i;
    return count;
}

std::int32_t usableWindowLength(std::int32_t samplesAveraged)
{
    return std::clamp(samplesAveraged, std::int32_t{1}, kAverageWindowSlots);
}

constexpr std::uint32_t toRgb32(WinColour c)
{
    return 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

// The colours of one frame in one pixel format: the 256 grey levels (red alone once the frame
// has clipped), then sync.
constexpr std::size_t kSyncEntry = 256;
using Palette = std::array<std::uint32_t, kSyncEntry + 1>;
constexpr Palette makePalette(bool rgb32, bool clipped)
{
    Palette palette{};
    for (std::uint32_t level = 0; level < 256; ++level) {
        const WinColour colour = clipped ? level : level * 0x010101u;
        palette[level] = rgb32 ? toRgb32(colour) : colour;
    }
    palette[kSyncEntry] = rgb32 ? toRgb32(kSyncColour) : kSyncColour;
    return palette;
}
// [rgb32][clipped]; WinColour values when not rgb32.
constexpr Palette kPalettes[2][2] = {{makePalette(false, false), makePalette(false, true)},
                                     {makePalette(true, false), makePalette(true, true)}};

// Grey level of a window sum d above minLevel, with range = maxLevel - minLevel: 0 at minLevel,
// 255 at maxLevel and above, full at once when maxLevel is not above minLevel.
constexpr std::uint8_t greyLevel(std::int64_t d, std::int64_t range)
{
    return range > 0 ? static_cast<std::uint8_t>(std::min<std::int64_t>(d * 255 / range, 255))
                     : 255;
}

// How the levels of one run grade a window sum, and the colours of its frame.
struct ElementRule
{
    std::int32_t minLevel;
    std::int32_t maxLevel;
    const std::uint8_t* table;    // grey level by distance above minLevel; null: compute it
    const std::uint32_t* palette; // kPalettes[format][clipped]
};

// The rule for one picture element, given the sum of its window; returns its colour in the
// palette's format. Below minLevel it is sync, counted, and every (kSyncElementsPerNudge + 1)th
// one nudges the phase (nudge is set; the phase is pulled before the element is placed).
// Otherwise it shows its grey level.
inline std::uint32_t elementColour(std::int32_t sum, const ElementRule& rule,
                                   std::int32_t& syncCounter, bool& nudge)
{
    if (sum < rule.minLevel) {
        nudge = ++syncCounter > kSyncElementsPerNudge;
        if (nudge)
            syncCounter = 0;
        return rule.palette[kSyncEntry];
    }
    const std::int64_t d = std::int64_t{sum} - rule.minLevel;
    const std::uint8_t level = rule.table != nullptr
                                   ? rule.table[d]
                                   : greyLevel(d, std::int64_t{rule.maxLevel} - rule.minLevel);
    return rule.palette[level];
}

// How paintColumnAs keeps the window.
constexpr int kSlidingWindow = 0; // several samples per element, fewer than the window
constexpr int kOneSample = 1;     // one sample per element
constexpr int kWholeWindow = 2;   // the window's samples are all in the buffer

// One element's 3x3 block, from its top-left pixel.
inline void fillBlock(std::uint32_t* line, std::ptrdiff_t stride, std::uint32_t value)
{
    for (int i = 0; i < 3; ++i, line += stride) {
        line[0] = value;
        line[1] = value;
        line[2] = value;
    }
}

// Windows up to this length are summed afresh at every element when their samples allow.
constexpr std::int32_t kShortWindow = 16;

} // namespace

// What one stretch of decoding keeps in registers: the settings as read at its start and the
// scan state, written back before every call into the surface.
struct PixelDecoder::Run
{
    std::int32_t rows;
    std::int32_t cols;
    std::int32_t minLevel;
    std::int32_t maxLevel;
    std::int64_t samplesPerPixel;
    PixelRaster raster;
    std::int32_t row;
    std::int32_t col;
    std::int32_t syncCounter;
    bool clip;
    std::int64_t elements;
    const std::uint8_t* bufferStart;
    const std::uint8_t* end;
    bool mayClip;
    std::int32_t counter;
    std::int32_t sum;
    std::int32_t head;
};

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

// greyLevel tabulated: with minLevel 0 or more every window sum at or above it is at most
// kMaxWindowSum above it, so one table of levels by distance replaces the division.
void PixelDecoder::prepareLevels(std::int32_t minLevel, std::int32_t maxLevel)
{
    levelsMin_ = minLevel;
    levelsMax_ = maxLevel;
    levelsKnown_ = true;
    levelsTabled_ = minLevel >= 0;
    if (!levelsTabled_)
        return;
    const std::int64_t range = std::int64_t{maxLevel} - minLevel;
    const std::int64_t graded = std::clamp<std::int64_t>(range, 0, kMaxWindowSum + 1);
    for (std::int64_t d = 0; d < graded; ++d)
        levels_[static_cast<std::size_t>(d)] = greyLevel(d, range);
    std::fill(levels_.begin() + graded, levels_.end(), std::uint8_t{255});
}

inline void PixelDecoder::load(Run& run)
{
    run.row = scanPosition_.row;
    run.col = scanPosition_.col;
    run.syncCounter = syncCounter_;
    run.clip = clipFlag_;
    run.elements = 0;
    run.counter = sampleCounter_;
    run.sum = windowSum_;
    run.head = head_;
}

inline void PixelDecoder::store(Run& run)
{
    scanPosition_ = {run.row, run.col};
    clipFlag_ = run.clip;
    syncCounter_ = run.syncCounter;
    elementCount_ += run.elements;
    run.elements = 0;
    sampleCounter_ = run.counter;
    windowSum_ = run.sum;
    head_ = run.head;
}

inline bool PixelDecoder::placeElement(Run& run, WinColour colour, bool nudge)
{
    ++run.elements;
    if (nudge) {
        // Pull the phase a third of the way toward the nearer edge.
        const std::int64_t rows = run.rows;
        std::int64_t row = run.row;
        if (rows / 2 > row)
            row -= row / 3;
        else
            row += (rows - row) / 3;
        // Not std::clamp: rows set from outside may be negative.
        row = std::min(std::max<std::int64_t>(row, 0), rows);
        run.row = static_cast<std::int32_t>(row);
    }

    bool calledSurface = false;
    const std::int64_t x = 3 * std::int64_t{run.cols} - 3 * std::int64_t{run.col};
    const std::int64_t y = 3 * std::int64_t{run.rows} - 3 * std::int64_t{run.row};
    const PixelRaster& raster = run.raster;
    if (raster.bits != nullptr && x >= 0 && x <= raster.width - 3 && y >= 0 &&
        y <= raster.height - 3) {
        fillBlock(raster.bits + y * raster.stride + x, raster.stride,
                  raster.format == PixelRaster::Format::Rgb32 ? toRgb32(colour) : colour);
    } else if (x > -kFarCoordinate && x < kFarCoordinate && y > -kFarCoordinate &&
               y < kFarCoordinate) {
        paintThroughSurface(run, static_cast<int>(x), static_cast<int>(y), colour);
        calledSurface = true;
    }

    const std::int64_t nextRow = std::int64_t{run.row} + 1;
    if (nextRow >= run.rows)
        return finishColumn(run) || calledSurface;
    run.row = static_cast<std::int32_t>(nextRow);
    return calledSurface;
}

// The scan leaves the top of a column: the next one starts at row 0, every fourth completed
// column is shown, and past the last column a new frame begins. True when it called into the
// surface.
inline bool PixelDecoder::finishColumn(Run& run)
{
    bool calledSurface = false;
    run.row = 0;
    const std::int64_t nextCol = std::int64_t{run.col} + 1;
    run.col = static_cast<std::int32_t>(std::min<std::int64_t>(nextCol, INT32_MAX));
    if (nextCol % 4 == 0) {
        repaintThroughSurface(run);
        calledSurface = true;
    }
    if (run.col >= run.cols) {
        run.col = 0;
        run.clip = false;
    }
    return calledSurface;
}

// Whether the rest of the current column can be painted straight into the raster: every block
// lies wholly inside it and the levels need no division.
inline bool PixelDecoder::columnFits(const Run& run) const
{
    const PixelRaster& raster = run.raster;
    if (raster.bits == nullptr || !levelsTabled_)
        return false;
    if (run.row < 0 || run.row >= run.rows)
        return false;
    const std::int64_t x = 3 * std::int64_t{run.cols} - 3 * std::int64_t{run.col};
    const std::int64_t y = 3 * std::int64_t{run.rows} - 3 * std::int64_t{run.row};
    return x >= 0 && x <= raster.width - 3 && y <= raster.height - 3;
}

// Paints whole elements up the rest of the current column, stopping at its top (the caller
// then finishes the column), at the end of the data, or at an element that is due to nudge
// the phase (nudgeDue: its samples are taken, the caller places it). This is where the decoder
// spends its time, so it keeps everything in registers and comes in one version per window
// mode and pixel format.
template <int Window, bool Rgb32>
const std::uint8_t* PixelDecoder::paintColumnAs(Run& run, const std::uint8_t* p, std::int64_t count,
                                                bool& nudgeDue)
{
    const std::ptrdiff_t stride = run.raster.stride;
    std::int64_t x = 3 * std::int64_t{run.cols} - 3 * std::int64_t{run.col};
    const std::int64_t y = 3 * std::int64_t{run.rows} - 3 * std::int64_t{run.row};
    std::uint32_t* pixel = run.raster.bits + y * stride + x;

    const auto take = static_cast<std::int32_t>(std::max<std::int64_t>(run.samplesPerPixel, 1));
    const std::int32_t length = windowLength_;
    const ElementRule rule{run.minLevel, run.maxLevel, levels_.data(),
                           kPalettes[Rgb32][run.clip].data()};
    std::uint8_t* const history = history_.data();
    std::int32_t head = run.head;
    std::int32_t sum = run.sum;
    std::int32_t syncCounter = run.syncCounter;

    std::int32_t row = run.row;
    std::int32_t col = run.col;
    std::int64_t painted = 0;
    for (;;) {
        if constexpr (Window != kWholeWindow) {
            // The caller keeps a column's samples within the history, so one check per column
            // keeps the history from running over.
            if (head + length + count * take > kHistorySize) {
                std::memmove(history, history + head, static_cast<std::size_t>(length));
                head = 0;
            }
        }

        std::int64_t left = count;
        for (; left > 0; --left) {
            if constexpr (Window == kWholeWindow) {
                // The history is brought up to date once, after the loop. The window may reach
                // back into earlier elements, never before the buffer's start.
                const std::uint8_t* last = p + (take - length);
                std::int32_t total = 0;
                for (std::int32_t i = 0; i < length; ++i)
                    total += rectify(last[i]);
                sum = total;
            } else if constexpr (Window == kOneSample) {
                const std::uint8_t r = rectify(*p);
                sum += r - history[head];
                history[head + length] = r;
                ++head;
            } else {
                std::uint8_t* window = history + head;
                for (std::int32_t i = 0; i < take; ++i) {
                    const std::uint8_t r = rectify(p[i]);
                    sum += r - window[i];
                    window[i + length] = r;
                }
                head += take;
            }
            p += take;

            bool nudge = false;
            const std::uint32_t colour = elementColour(sum, rule, syncCounter, nudge);
            if (nudge) {
                nudgeDue = true;
                break;
            }
            fillBlock(pixel, stride, colour);
            pixel -= 3 * stride;
        }

        painted += count - left;
        row += static_cast<std::int32_t>(count - left);
        if (nudgeDue || row != run.rows)
            break;
        // The column is complete. Go straight on up the next one when finishing this one
        // needs nothing of the caller: no repaint, no new frame, no clipping sample in the
        // next column's share of the data, and the next column wholly inside the raster.
        const std::int64_t nextCol = std::int64_t{col} + 1;
        if (nextCol % 4 == 0 || nextCol >= run.cols || x < 3 ||
            (Window != kWholeWindow && length <= kShortWindow && take > 1) ||
            3 * std::int64_t{run.rows} > run.raster.height - 3)
            break;
        const std::int64_t samples = run.end - p;
        count = std::min<std::int64_t>(run.rows, take == 1 ? samples : samples / take);
        if constexpr (Window != kWholeWindow)
            count = std::min<std::int64_t>(count, (kHistorySize - kAverageWindowSlots) / take);
        if (count <= 0 ||
            (run.mayClip && !run.clip && firstFullScale(p, count * take) < count * take))
            break;
        row = 0;
        col = static_cast<std::int32_t>(nextCol);
        x -= 3;
        pixel = run.raster.bits + 3 * std::int64_t{run.rows} * stride + x;
    }

    if constexpr (Window == kWholeWindow) {
        const std::uint8_t* last = p - length;
        for (std::int32_t i = 0; i < length; ++i)
            history[i] = rectify(last[i]);
        head = 0;
    }
    run.head = head;
    run.sum = sum;
    run.syncCounter = syncCounter;
    run.row = row;
    run.col = col;
    run.elements += painted;
    return p;
}

const std::uint8_t* PixelDecoder::paintColumn(Run& run, const std::uint8_t* p,
                                              const std::uint8_t* end, bool mayClip, bool& nudgeDue)
{
    const std::int64_t perElement = std::max<std::int64_t>(run.samplesPerPixel, 1);
    // Divisions are avoided for one sample per element, the case where they would show.
    const auto elementsOf = [perElement](std::int64_t samples) {
        return perElement == 1 ? samples : samples / perElement;
    };
    std::int64_t count =
        std::min<std::int64_t>(std::int64_t{run.rows} - run.row, elementsOf(end - p));
    if (count <= 0)
        return p;
    const bool rgb32 = run.raster.format == PixelRaster::Format::Rgb32;
    // A short window whose older samples are still in this buffer is summed from the buffer
    // itself, which beats keeping the history up to date sample by sample.
    const bool fromBuffer =
        perElement >= windowLength_ ||
        (windowLength_ <= kShortWindow && p - run.bufferStart >= windowLength_ - perElement);
    const int window = fromBuffer ? kWholeWindow : perElement == 1 ? kOneSample : kSlidingWindow;
    if (!fromBuffer && windowLength_ <= kShortWindow) {
        // Only until the window lies within the buffer; then summing from it takes over.
        const std::int64_t missing = windowLength_ - perElement - (p - run.bufferStart);
        count = std::min<std::int64_t>(count, (missing + perElement - 1) / perElement);
    }
    // One instantiation per combination, chosen once per column.
    using Painter =
        const std::uint8_t* (PixelDecoder::*)(Run&, const std::uint8_t*, std::int64_t, bool&);
    static constexpr Painter painters[3][2] = {
        {&PixelDecoder::paintColumnAs<0, false>, &PixelDecoder::paintColumnAs<0, true>},
        {&PixelDecoder::paintColumnAs<1, false>, &PixelDecoder::paintColumnAs<1, true>},
        {&PixelDecoder::paintColumnAs<2, false>, &PixelDecoder::paintColumnAs<2, true>},
    };
    const Painter paint = painters[window][rgb32];
    // Keeps one column's samples within the history whatever the raster's height.
    if (window != kWholeWindow)
        count = std::min<std::int64_t>(count, elementsOf(kHistorySize - kAverageWindowSlots));

    if (mayClip && !run.clip) {
        // The element holding the first full-scale sample and all after it are clipped.
        const std::int64_t first = firstFullScale(p, count * perElement);
        const std::int64_t clean = elementsOf(first);
        if (clean < count) {
            const std::uint8_t* next = clean > 0 ? (this->*paint)(run, p, clean, nudgeDue) : p;
            if (nudgeDue || next != p + clean * perElement)
                return next;
            run.clip = true;
            return (this->*paint)(run, next, count - clean, nudgeDue);
        }
    }
    return (this->*paint)(run, p, count, nudgeDue);
}

void PixelDecoder::DecodeBlock(const std::uint8_t* data, std::int32_t count)
{
    if (count <= 0 || data == nullptr)
        return;
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + count;
    // Most buffers hold no full-scale sample at all; then no element needs to look.
    const bool mayClip = anyFullScale(data, count);
    while (p < end)
        p = decodeRun(data, p, end, mayClip);
}

const std::uint8_t* PixelDecoder::decodeRun(const std::uint8_t* start, const std::uint8_t* p,
                                            const std::uint8_t* end, bool mayClip)
{
    Run run;
    run.bufferStart = start;
    run.end = end;
    run.mayClip = mayClip;
    run.raster = surface_.pixelRaster();
    // Settings can only change while the surface has control, so reading them here and after
    // each call into the surface is the same as reading them at every sample.
    const DecoderSettings s = settings_;
    run.rows = s.rows;
    run.cols = s.cols;
    run.minLevel = s.minLevel;
    run.maxLevel = s.maxLevel;
    run.samplesPerPixel = s.samplesPerPixel;
    const std::int32_t length = usableWindowLength(s.samplesAveraged);
    if (length != windowLength_)
        changeWindowLength(length);
    if (!levelsKnown_ || s.minLevel != levelsMin_ || s.maxLevel != levelsMax_)
        prepareLevels(s.minLevel, s.maxLevel);
    load(run);

    std::uint8_t* const history = history_.data();
    bool calledSurface = false;

    while (p < end && !calledSurface) {
        if (run.counter == 0 && columnFits(run)) {
            bool nudgeDue = false;
            const std::uint8_t* next = paintColumn(run, p, end, mayClip, nudgeDue);
            if (next != p) {
                p = next;
                if (nudgeDue)
                    calledSurface = placeElement(run, kSyncColour, true);
                else if (run.row == run.rows)
                    calledSurface = finishColumn(run);
                continue;
            }
        }

        const std::int64_t untilEmit = std::max<std::int64_t>(1, run.samplesPerPixel - run.counter);
        const std::int64_t available = end - p;
        const bool emits = untilEmit <= available;
        const auto take = static_cast<std::int32_t>(emits ? untilEmit : available);

        if (mayClip && !run.clip)
            run.clip = anyFullScale(p, take);

        if (take >= length) {
            // The whole window is replaced by the last samples of this stretch.
            const std::uint8_t* last = p + (take - length);
            std::int32_t total = 0;
            for (std::int32_t i = 0; i < length; ++i) {
                const std::uint8_t r = rectify(last[i]);
                history[i] = r;
                total += r;
            }
            run.head = 0;
            run.sum = total;
        } else {
            if (run.head + length + take > kHistorySize) {
                std::memmove(history, history + run.head, static_cast<std::size_t>(length));
                run.head = 0;
            }
            std::uint8_t* window = history + run.head;
            std::int32_t sum = run.sum;
            for (std::int32_t i = 0; i < take; ++i) {
                const std::uint8_t r = rectify(p[i]);
                sum += r - window[i];
                window[i + length] = r;
            }
            run.sum = sum;
            run.head += take;
        }
        p += take;

        if (!emits) {
            run.counter += take;
            break;
        }
        run.counter = 0;
        const ElementRule rule{run.minLevel, run.maxLevel, levelsTabled_ ? levels_.data() : nullptr,
                               kPalettes[0][run.clip].data()};
        bool nudge = false;
        const WinColour colour = elementColour(run.sum, rule, run.syncCounter, nudge);
        calledSurface = placeElement(run, colour, nudge);
    }
    store(run);
    return p;
}

// Hands control to the surface with our state where it can see (and change) it; the settings
// may have changed meanwhile.
void PixelDecoder::paintThroughSurface(Run& run, int x, int y, WinColour colour)
{
    store(run);
    surface_.paintBlock(x, y, colour);
    load(run);
    run.rows = settings_.rows;
    run.cols = settings_.cols;
}

void PixelDecoder::repaintThroughSurface(Run& run)
{
    store(run);
    surface_.requestRepaint();
    load(run);
    run.rows = settings_.rows;
    run.cols = settings_.cols;
}

} // namespace corvane
