#pragma once

#include "Demodulation.h"
#include "IqDemodChain.h"
#include "SampleSource.h"

namespace corvane {

// What an SDR source tells the receiver of its chain's search.
inline SourceTuning tuningOf(const SdrStatus& status, double centreHz)
{
    SourceTuning tuning;
    tuning.radio = true;
    tuning.found = status.found;
    if (status.found)
        tuning.demod = demodName(status.demod);
    tuning.centreHz = centreHz;
    tuning.offsetHz = status.tuneHz;
    tuning.message = status.message;
    return tuning;
}

} // namespace corvane
