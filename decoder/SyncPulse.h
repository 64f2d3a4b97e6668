#pragma once

namespace corvane {

// One line-sync pulse as the separator saw it.
struct SyncPulse
{
    double edge = 0;  // leading edge, in video samples since the start (sub-sample)
    double width = 0; // samples
    float tip = 0;    // the level at the pulse's bottom
};

} // namespace corvane
