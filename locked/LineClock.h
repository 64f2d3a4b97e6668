#pragma once

#include "SyncPulse.h"

#include <array>
#include <vector>

namespace corvane {

// The start of one line as the flywheel places it.
struct LineEvent
{
    enum Kind
    {
        Line,
        Lost
    };
    Kind kind = Line;
    double time = 0;       // leading edge of the line's sync, in video samples
    double width = 0;      // width of its sync pulse; 0 when the pulse did not come
    float flat = 1;        // the pulse's share near the tip
    float tip = 0;         // sync-tip level
    bool real = false;     // a pulse was seen here (else the clock coasted)
    bool rephased = false; // the clock jumped to a new phase here, after a gap
};

// A flywheel line clock. Searching, it locks when several successive pulse intervals agree
// and lie near the nominal period (so it pulls in over well beyond +-5 %); locked, a
// proportional-integral loop follows the leading edges inside a window around each prediction,
// coasts over missing pulses, ignores pulses outside the window, and after a missing pulse
// takes the next one as a new phase (a frame gap). It lets go after five misses in a row or
// when pulses outside the window outnumber the ones inside (noise).
class LineClock
{
public:
    explicit LineClock(double nominalPeriod);

    void reset();
    // Pulses in time order; line starts are appended to out.
    void pulse(const SyncPulse& p, std::vector<LineEvent>& out);
    // No pulse can still arrive before now: coast over predictions that are past.
    void advance(double now, std::vector<LineEvent>& out);

    bool locked() const { return locked_; }
    double period() const { return period_; }
    double nominalPeriod() const { return nominal_; }

    static constexpr int kMaxMisses = 4;

private:
    void lose(std::vector<LineEvent>& out);
    void startLine(double time, const SyncPulse* p, bool rephased, std::vector<LineEvent>& out);
    double window() const { return (misses_ > 0 ? 0.06 : 0.12) * period_; }

    double nominal_;
    bool locked_ = false;
    double period_;
    double last_ = 0;
    int misses_ = 0;
    float lastTip_ = 0;
    double width_ = 0;
    int outside_ = 0;
    float noise_ = 0;
    std::array<double, 7> edges_{};
    int edgeCount_ = 0;
};

} // namespace corvane
