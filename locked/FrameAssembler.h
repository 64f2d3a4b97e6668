#pragma once

#include "Reception.h"
#include "SyncLocker.h"
#include "VideoHistory.h"

#include <QImage>
#include <cstdint>
#include <vector>

namespace corvane {

// Builds whole frames from picture lines. Each line's active video, from the end of its sync
// pulse to the next line's sync, is area-averaged to the standard's elements per line, taken
// relative to the sync tip (interpolated across the line, as AC coupling tilts it) and placed
// as the standard scans. A frame starts where marks come a frame apart two frames running: a
// marked line, or a line stretched by black (its picture at its start when the stretch came
// before the next line's sync, at its end when it came after its own; the picture's
// continuity across the two tells which). Without marks, the frame starts where neighbouring
// lines are least alike (the picture's two edges meet there). A frame is delivered only when
// its mark came where it belongs and no line in it jumped elsewhere, so a cut never tears one.
// Levels come from the frame (black next to sync, white from a high percentile) and move from
// frame to frame, or from the manual settings.
class FrameAssembler
{
public:
    explicit FrameAssembler(const LockedSettings& settings);

    void reset();
    // Level and polarity settings; the standard stays as constructed.
    void setLevels(const LockedSettings& settings);
    // Adds a line; true when it completed a frame, which frame() then holds.
    // sign -1 takes the video upside down.
    bool add(const PictureLine& given, const VideoHistory& video, int sign);

    bool confirmed() const { return phase_ >= 0; }
    // Sync tip to white (a high percentile, so a click does not count), in input units; 0
    // before the first frame.
    float swing() const { return levelsKnown_ ? std::max(white_, 0.0f) : 0.0f; }
    const QImage& frame() const { return frame_; }

private:
    void store(const PictureLine& line, const VideoHistory& video, int sign, double from, double to,
               float* out);
    // Builds frame_ from the slots; false (and frame_ left) when the frame is not to be trusted.
    bool render();
    void mark(int slot);
    void measurePorches();
    float roughness(const VideoHistory& video, double from, double to);
    float unlike(const float* a, const float* b) const;
    float* row(int slot)
    {
        return values_.data() +
               static_cast<std::size_t>(slot) * static_cast<std::size_t>(elements_);
    }

    LockedSettings settings_;
    int lines_;
    int elements_;
    std::vector<float> values_;  // lines x elements, relative to the sync tip
    std::vector<float> scratch_; // for percentiles
    std::vector<float> line_;    // one line's samples
    std::vector<double> integral_;
    std::vector<float> endAligned_;             // a stretched line taken as ending with its picture
    std::vector<float> current_;                // the line being added
    std::vector<float> whole_, sums_, squares_; // lines between the syncs, for the porches
    int summed_ = 0;
    double porchBefore_ = 0, porchAfter_ = 0; // shares of the line between the syncs
    std::vector<std::int64_t> markedBefore_;  // per slot: the mark before that
    std::vector<std::int64_t> markedAt_;      // per slot: the line count of its last mark
    std::vector<int> streak_;                 // per slot: frames in a row marked there
    std::vector<float> unlike_;               // per slot: how unlike the line before, fading
    std::vector<std::uint8_t> troubles_;      // per slot: its line was coasted, or jumped
    std::int64_t lineCount_ = 0;              // lines since lock
    std::int64_t lastRealMark_ = -1;
    int stretchedSlot_ = -1; // a stretched line waiting for its successor
    float previousTip_ = 0, tipScatter_ = 1e30f, videoPeak_ = 0;
    bool endKeptLevel_ = false; // the last line kept its tip past a raised bottom at its end
    int stretchHint_ = 0;       // the stretched line's flat side: 1 end, -1 start
    float stretchVote_ = 0;     // > 0: stretches come before sync, < 0 after it
    int unmarkedRun_ = 0;       // frames in a row whose mark did not come
    bool strayMark_ = false;    // a mark came away from the frame start since the last frame
    int phase_ = -1;            // slot of a frame's first line; -1 until confirmed
    bool levelsKnown_ = false;
    float black_ = 0, white_ = 1, peak_ = 1;
    QImage frame_;
};

} // namespace corvane
