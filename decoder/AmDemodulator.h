#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// The envelope of video on an audio carrier: the rectified signal averaged over exactly one
// carrier period (a fractional number of samples). One period removes the carrier's ripple;
// anything longer would smear the narrow sync pulses.
class AmDemodulator
{
public:
    AmDemodulator() = default;

    // Starts over for a carrier of carrierHz at sampleRate.
    void configure(double sampleRate, double carrierHz);
    void reset();
    double periodSamples() const { return period_; }
    // How many samples the envelope lags the input (the centre of the averaging window).
    double delay() const { return delay_; }

    void process(const float* in, float* out, std::size_t count);

private:
    double period_ = 1;
    double delay_ = 0;
    std::size_t whole_ = 1; // whole samples in the window
    float fraction_ = 0;    // weight of the one sample beyond them
    float scale_ = 1;
    std::vector<float> history_; // rectified samples, ring
    std::size_t mask_ = 0;
    std::size_t at_ = 0;
    double sum_ = 0;
    float offset_ = 0; // the input's DC, removed before rectifying
    double blockSum_ = 0;
    std::size_t blockCount_ = 0;
};

} // namespace corvane
