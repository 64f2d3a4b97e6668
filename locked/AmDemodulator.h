#pragma once

#include <cstddef>

namespace corvane {

// The envelope of video on an audio carrier. Squaring the signal leaves the envelope's square
// plus one ripple at twice the carrier frequency (aliased or not, it is a single frequency at
// a known place); a three-tap notch there removes it and the square root gives the envelope.
// The whole filter spans three samples, well under a carrier period, so even sync pulses
// narrower than a carrier period keep their depth, and the picture is not smeared further.
// (Rectifying and averaging over one period, the usual way, leaves a ripple locked to the
// line when the period is a fractional number of samples, and smears the sync pulses.)
class AmDemodulator
{
public:
    AmDemodulator() = default;

    // Starts over for a carrier of carrierHz at sampleRate.
    void configure(double sampleRate, double carrierHz);
    void reset();
    // How many samples the envelope lags the input.
    static constexpr double kDelay = 1.0;

    void process(const float* in, float* out, std::size_t count);

private:
    float outer_ = 0.5f, centre_ = 0.0f; // notch taps: outer, centre, outer
    float z1_ = 0, z2_ = 0;
    float offset_ = 0; // the input's DC, removed before squaring
    double blockSum_ = 0;
    std::size_t blockCount_ = 0;
};

} // namespace corvane
