#pragma once

#include "FrameMarkerDetector.h"
#include "Reception.h"
#include "VideoHistory.h"

#include <QImage>
#include <cstdint>
#include <vector>

namespace corvane {

// Builds whole frames from picture lines. Each line's active video, from the end of its sync
// pulse to the next line's sync, is area-averaged to the standard's elements per line, taken
// relative to the sync tip (interpolated across the line, as AC coupling tilts it) and placed
// as the standard scans. Frame marks found a frame apart confirm the frame start; once
// confirmed, a frame whose mark is missing is still delivered; after about five frames without
// one the confirmation goes. Levels come from the frame (black next to sync, white from a high
// percentile) and move slowly from frame to frame, or from the manual settings.
class FrameAssembler
{
public:
    explicit FrameAssembler(const LockedSettings& settings);

    void reset();
    // Level and polarity settings; the standard stays as constructed.
    void setLevels(const LockedSettings& settings);
    // Adds a line; true when it completed a frame, which frame() then holds.
    bool add(const PictureLine& line, const VideoHistory& video, double syncWidth);

    bool confirmed() const { return phase_ >= 0; }
    const QImage& frame() const { return frame_; }

private:
    void store(const PictureLine& line, const VideoHistory& video, double syncWidth, int row);
    // Builds frame_ from the slots; false (and frame_ left) when the frame is not to be trusted.
    bool render();
    float total() const; // all marks' score

    LockedSettings settings_;
    int lines_;
    int elements_;
    std::vector<float> values_;  // lines x elements, relative to the sync tip
    std::vector<float> scratch_; // for percentiles
    std::vector<float> line_;    // one line's samples
    std::vector<double> integral_;
    std::vector<float> marks_;           // per slot: frame marks seen there, fading
    std::vector<std::uint8_t> troubles_; // per slot: its line was coasted, or jumped
    std::int64_t lineCount_ = 0;         // lines since lock
    int phase_ = -1;                     // slot of a frame's first line; -1 until confirmed
    bool levelsKnown_ = false;
    float black_ = 0, white_ = 1, peak_ = 1;
    QImage frame_;
};

} // namespace corvane
