#pragma once

namespace corvane {

// One line-sync pulse as the separator saw it.
struct SyncPulse
{
    double edge = 0;  // leading edge, in video samples since the start (sub-sample)
    double width = 0; // samples
    float tip = 0;    // the level at the pulse's bottom
    // Share of its width spent under the slicing level: about 1 for sync, low where a pulse
    // ran on into black picture that noise kept under the level it has to rise above.
    float flat = 1;
};

} // namespace corvane
