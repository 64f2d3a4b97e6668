#pragma once

#include "SyncPulse.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// Finds line-sync pulses in video whose black level wanders (AC coupling moves every level with
// the picture's brightness). The slicer sits halfway between the sync tip and black, on a
// lightly smoothed copy of the video, with hysteresis. The tip comes from the pulses
// themselves; black is the lowest level the video reaches away from pulses, relative to the
// tip (so it holds however the levels wander). The level is capped at half a sync depth below
// the video of the last half line, which keeps it under a tip that has risen, as after a long
// stretch at black. Before the first pulse the levels start from a sliding minimum and maximum
// over about two lines. A signal whose swing stays under a floor (silence) gives no pulses.
class SyncSeparator
{
public:
    // linePeriod: nominal samples per line, which scales the smoothing and the windows.
    explicit SyncSeparator(double linePeriod);

    void reset();
    // The AM envelope rises over one carrier period: levels next to a pulse are not taken for
    // black until it has settled.
    void setSettleSamples(double samples);
    // Smooths over at least this many samples (a noisy AM envelope wants more than baseband).
    void setMinimumSmoothing(int samples);
    // An envelope's levels stay put: the tip is averaged over many pulses and not expected to
    // rise over a gap. Baseband levels move from line to line with AC coupling.
    void setSteadyLevels(bool steady);

    // video[0] is sample number first. Found pulses are appended to out.
    void process(const float* video, std::size_t count, std::int64_t first,
                 std::vector<SyncPulse>& out);

    float tip() const { return tip_; }
    float threshold() const { return low_; }
    // False while the swing is under the floor.
    bool active() const { return active_; }

    // An absolute floor on the tip-to-peak swing (full scale is 2).
    static constexpr float kMinSwing = 0.02f;

private:
    void closeSegment(std::int64_t now);
    void updateLevels(std::int64_t now);
    void finishPulse(double end, std::int64_t now, std::vector<SyncPulse>& out);

    static constexpr std::size_t kSegments = 8; // a quarter line each

    double period_;
    int ownSmooth_;
    int smooth_;
    float invSmooth_;
    double delay_;
    double minWidth_, maxWidth_;
    int settle_;

    std::array<float, 64> ring_{}, past_{};
    std::size_t ringAt_ = 0;
    std::vector<float> input_, smoothed_;

    int segmentLength_;
    int segmentFill_ = 0;
    float segmentMin_ = 0, segmentMax_ = 0;
    bool segmentDirty_ = false;
    std::array<float, kSegments> mins_{}, maxs_{};
    std::array<bool, kSegments> dirty_{};
    int segments_ = 0; // filled, up to kSegments
    std::size_t segmentAt_ = 0;
    std::int64_t segmentsClosed_ = 0;
    std::int64_t pulseSegment_ = -1; // segmentsClosed_ when the pulse began
    bool dirtyBefore_ = false, previousDirtyBefore_ = false;
    std::int64_t settleUntil_ = 0;

    bool active_ = false;
    float low_ = -1e30f, high_ = -1e30f, bottom_ = -1e30f, shallow_ = 1e30f;
    float tip_ = 0;
    float tipFollow_ = 0.5f; // how far each pulse moves the tip towards its own
    bool steady_ = false;
    std::int64_t tipAt_ = INT64_MIN / 2; // when tip_ was last measured
    float black_ = 0;                    // lowest video away from pulses, above the tip
    bool blackKnown_ = false;
    float swing_ = 0; // tip to peak, held and decaying slowly

    bool inPulse_ = false;
    double pulseStart_ = 0;
    float pulseMin_ = 0;
    float bottomSum_ = 0;
    int bottomCount_ = 0;
    int belowCount_ = 0; // samples under the slicing level
};

} // namespace corvane
