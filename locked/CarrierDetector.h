#pragma once

#include <cstddef>
#include <vector>

namespace corvane {

// Tells video riding on an audio carrier from baseband video. Baseband NBTV keeps nearly all of
// its energy below a few kHz (line-rate harmonics), an AM signal nearly all of it around its
// carrier; the share above a high pass, judged over short windows with hysteresis, separates
// the two. The carrier frequency comes from the median spacing of zero crossings.
class CarrierDetector
{
public:
    explicit CarrierDetector(double sampleRate);

    void process(const float* samples, std::size_t count);
    void reset();

    // True once a window with enough signal has been judged.
    bool decided() const { return decided_; }
    bool carrier() const { return carrier_; }
    // Estimated carrier frequency in Hz; 0 before the first estimate.
    double carrierHz() const { return carrierHz_; }

private:
    void closeWindow();

    double sampleRate_;
    std::size_t window_;
    // Second-order Butterworth high pass (direct form I).
    float b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    float x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;

    std::size_t filled_ = 0;
    double sum_ = 0, sumSquares_ = 0, highSquares_ = 0;

    // Upward zero crossings of the high-passed signal, with hysteresis.
    float hysteresis_ = 0;
    bool above_ = false;
    double lastCrossing_ = -1;
    std::size_t index_ = 0;
    std::vector<float> intervals_;

    bool decided_ = false;
    bool carrier_ = false;
    int contrary_ = 0;
    static constexpr int kRestWindows = 3;
    int resting_ = 0; // windows left to pass over unjudged
    double judgedVariance_ = 0;
    double carrierHz_ = 0;
    double highShare_ = 0;
};

} // namespace corvane
