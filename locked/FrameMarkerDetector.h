#pragma once

#include "LineClock.h"

#include <array>
#include <vector>

namespace corvane {

// One line of picture, from one line start to the next.
struct PictureLine
{
    double start = 0; // leading edge of its sync, in video samples
    double end = 0;   // leading edge of the next line's sync
    float tipStart = 0, tipEnd = 0;
    bool marked = false;  // the line sync train marks this as a frame's first line
    bool coasted = false; // no pulse began it: the line clock coasted
    bool jumped = false;  // the line clock took a new phase at its start
};

// Turns the line clock's starts into picture lines and finds the frame marks transmitters put
// in the line-sync train: a wider pulse on the first line, a single missing pulse (the first
// line's), or a longer gap at black before the first line, after which the pulses resume at a
// new phase. Lines coasted over inside a gap are dropped. Decisions about coasted lines wait
// for the next real pulse, so lines come out up to a few lines late.
class FrameMarkerDetector
{
public:
    void reset();
    void event(const LineEvent& e, std::vector<PictureLine>& out);
    // The usual sync width (median of recent pulses, the marked wide ones left out); 0 before
    // any pulse.
    double typicalWidth() const { return typical_; }

private:
    void close(double end, float tipEnd, std::vector<PictureLine>& out);
    void open(const LineEvent& e, bool marked);

    bool open_ = false;
    PictureLine current_;
    std::vector<LineEvent> pending_;
    std::array<double, 15> widths_{};
    int widthCount_ = 0;
    int widthAt_ = 0;
    double typical_ = 0;
};

} // namespace corvane
