#pragma once

#include "Demodulation.h"
#include "IqFile.h"

#include <cstdint>
#include <vector>

namespace corvane {

// A plain carrier somewhere in the band, to be passed over.
struct DecoyCarrier
{
    double offsetHz = 0;
    double amplitude = 0.2; // share of full scale
};

// What the test transmitter's IQ output looks like after a cheap receiver has had it.
struct IqModulatorOptions
{
    double iqRate = 2.4e6;
    double carrierHz = 100000; // offset from the tuned centre
    Demod modulation = Demod::Am;
    // Carrier amplitude (AM: at peak white) as a share of full scale.
    double amplitude = 0.3;
    double fmDeviationHz = 30000; // at video ±1
    IqSample dcOffset{};
    double gainImbalance = 1;     // Q's gain over I's
    double phaseImbalanceDeg = 0; // Q's error from 90 degrees
    std::vector<DecoyCarrier> decoys;
    double noise = 0; // rms of each of I and Q, share of full scale
    std::uint32_t seed = 1;
};

// Baseband video (as transmit() gives it, -1..1 with sync lowest) at videoRate, on a carrier:
// AM with the envelope following the video from 0 at -1, or FM swinging ±fmDeviationHz.
std::vector<IqSample> modulateIq(const std::vector<float>& video, double videoRate,
                                 const IqModulatorOptions& options);

} // namespace corvane
