#pragma once

#include "IqFile.h"

#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace corvane {

// The band as a waterfall shows it: rows of power in dB across the IQ's whole span, lowest
// frequency first, each the average of the transforms over its interval (a tenth of a second by
// default). liquid-dsp's periodogram with a Blackman-Harris window does the work; at high rates
// only enough stretches of the interval are transformed to keep the average steady, spread
// across it, so the cost stays a small fraction of demodulating.
class BandPower
{
public:
    using Sink = std::function<void(const std::vector<float>& powerDb)>;

    BandPower(double sampleRate, int bins, Sink sink, double rowsPerSecond = 10);
    ~BandPower();
    BandPower(const BandPower&) = delete;
    BandPower& operator=(const BandPower&) = delete;

    int bins() const { return bins_; }
    // Hands every row the samples complete to the sink, as it completes.
    void feed(std::span<const IqSample> iq);

private:
    struct Liquid;
    std::unique_ptr<Liquid> liquid_;
    int bins_;
    Sink sink_;
    std::size_t rowSamples_, stride_;
    std::size_t inRow_ = 0;    // samples of the current row seen so far
    std::size_t nextTake_ = 0; // where in the row the next transform starts
    std::vector<IqSample> gathered_;
    std::vector<float> row_;
};

} // namespace corvane
