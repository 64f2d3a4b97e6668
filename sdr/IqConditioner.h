#pragma once

#include "IqFile.h"

#include <cstddef>

namespace corvane {

// Cleans up what a cheap receiver's mixer does to the samples: the spike its LO leakage and
// ADC offsets leave at the tuned centre, and the gain and phase mismatch of its I and Q paths,
// which mirrors every signal across the centre. Both are estimated from the samples as they
// come and follow slow drift (time constant about 0.1 s); the first block sets the start.
class IqConditioner
{
public:
    explicit IqConditioner(double sampleRate);

    void process(IqSample* samples, std::size_t count);
    void reset();

    IqSample dcOffset() const { return dc_; }
    // Q's gain over I's, and how far Q is from 90 degrees after I, as measured.
    double gainImbalance() const;
    double phaseImbalanceDegrees() const;

private:
    double rate_;
    bool started_ = false;
    IqSample dc_{};
    double ii_ = 0, qq_ = 0, iq_ = 0;
};

} // namespace corvane
