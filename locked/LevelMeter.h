#pragma once

#include <cstddef>

namespace corvane {

// The input level as a user setting the receiver's volume needs it: the peak over the last
// fifth of a second, and whether that is too low for a clean picture or reaches full scale.
class LevelMeter
{
public:
    explicit LevelMeter(double sampleRate);

    void process(const float* samples, std::size_t count);
    void reset();

    double peak() const;
    bool tooLow() const { return peak() < kTooLow; }
    bool clipping() const { return clipped_ || previousClipped_; }

    static constexpr float kTooLow = 0.05f;
    static constexpr float kClip = 0.99f;

private:
    std::size_t window_;
    std::size_t filled_ = 0;
    float current_ = 0;
    float previous_ = 0;
    bool clipped_ = false;
    bool previousClipped_ = false;
};

} // namespace corvane
