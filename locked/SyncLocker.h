#pragma once

#include "Reception.h"
#include "VideoHistory.h"

#include <array>
#include <cstdint>
#include <vector>

namespace corvane {

// One line of picture, from the leading edge of its sync to the next line's.
struct PictureLine
{
    double start = 0, end = 0; // in video samples
    double period = 0;         // the line period at the time
    double syncWidth = 0;      // the usual sync width
    float tipStart = 0, tipEnd = 0;
    float syncDepth = 0;    // how far sync lies below black (or the darkest video next to it)
    bool marked = false;    // the sync train marks this as a frame's first line
    bool stretched = false; // clearly longer than a line: a stretch at black is in it
    bool coasted = false;   // no pulse began it
    bool jumped = false;    // the next pulse came at a new phase (a stretch, a cut)
    bool lost = false;      // not a line: the lock went here
};

// Line sync as found in a stretch of video.
struct SyncFound
{
    bool found = false;
    double period = 0; // samples per line
    double edge = 0;   // a leading edge, samples from the start of the stretch
    double width = 0;  // sync width in samples
    float depth = 0;   // how far sync lies below the video next to it
    int sign = 1;      // -1: the signal is upside down
    double evidence = 0;
};

// Finds line sync from the signal's periodic structure, not from its levels: the video folded
// at each candidate period near nominal shows sync as a narrow dip (or, upside down, a narrow
// peak) at one phase, whatever the picture; a dark picture cannot hide it, because sync lies
// below black on every line. The best fold is then checked line by line: the dip must be there
// on each line clearly beyond the scatter of noise (evidence, a t statistic).
SyncFound findLineSync(const float* video, std::size_t count, double nominalPeriod,
                       Polarity polarity);

// Finds the line of a signal without sync pulses from the picture's likeness from line to line
// (the period) and the jump where a line ends and the next begins at the picture's other edge.
SyncFound findLineLikeness(const float* video, std::size_t count, double nominalPeriod);

// Locks to line sync found as above and follows it line by line: at each predicted line start
// it looks, within a narrow window, for a trough as wide as sync below the video on both sides,
// and a loop moves phase and period towards it. A line whose pulse does not come is coasted
// over; a pulse clearly elsewhere while the old phase stays empty on the next line too is a new
// phase (a frame mark's stretch at black, a cut in a recording). The lock goes when the periodic
// dip fades into noise over the last lines. A signal with no sync at all is locked by the
// picture's likeness instead, lines laid at the period found and moved once a frame to where the
// lines end. Works on lightly smoothed video (delay samples late).
class SyncLocker
{
public:
    // frameLines: lines in a frame, over which a signal without sync is judged.
    SyncLocker(double nominalPeriod, double delay, int frameLines);

    void reset();
    void setPolarity(Polarity polarity);
    // Whether a signal without sync may be locked by the picture's likeness (not an AM
    // envelope, whose sync noise may hide now and then).
    void allowLikeness(bool allowed) { likenessAllowed_ = allowed; }
    // Picks up whatever has come into the history since the last call.
    void process(const VideoHistory& smooth, std::vector<PictureLine>& out);

    bool locked() const { return locked_; }
    bool everLocked() const { return everLocked_; }
    double period() const { return period_; }
    int sign() const { return sign_; }
    float tip() const { return tip_; }
    // Samples since the lock last went (or since the start) without finding sync.
    std::int64_t searchingFor(std::int64_t now) const { return locked_ ? 0 : now - since_; }

private:
    struct Probe
    {
        float strength = -1e30f;
        double edge = 0;
        float tip = 0, beyond = 0;
        double trailing = 0; // where the video rose out of the trough; 0 if not seen
    };
    Probe probe(const VideoHistory& h, double t, double radius);
    bool search(const VideoHistory& h);
    void track(const VideoHistory& h, std::vector<PictureLine>& out);
    void follow(const VideoHistory& h, std::vector<PictureLine>& out);
    void emitLine(double time, bool real, bool wide, bool rephased, float tip,
                  std::vector<PictureLine>& out);
    void lose(std::vector<PictureLine>& out);
    double evidence(const VideoHistory& h);

    double nominal_, delay_;
    int frameLines_;
    Polarity polarity_ = Polarity::Auto;
    bool locked_ = false, everLocked_ = false;
    bool likeness_ = false; // locked by the picture's likeness, with no sync to follow
    int failed_ = 0;        // searches in a row that found no sync
    bool likenessAllowed_ = true;
    bool moved_ = false;            // the line start just moved far
    std::array<float, 64> jumps_{}; // without sync: how much the video jumps where in a line
    std::int64_t lastSearch_ = INT64_MIN / 2, since_ = 0;
    double period_, width_, next_ = 0;
    int sign_ = 1;
    float depth_ = 0, syncDepth_ = 0, tip_ = 0, tipJitter_ = 0;
    int misses_ = 0, settling_ = 0, weak_ = 0;
    std::int64_t linesSinceCheck_ = 0;
    std::array<double, 24> edges_{};
    int edgeCount_ = 0, edgeAt_ = 0;

    // The line begun last and whether the one before it had a pulse.
    bool open_ = false, openReal_ = false, openWide_ = false, openMarked_ = false,
         beforeReal_ = false;
    double openTime_ = 0;
    float openTip_ = 0;

    std::vector<float> window_, scratch_;
    std::vector<double> prefix_;
};

} // namespace corvane
