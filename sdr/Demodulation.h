#pragma once

#include "IqFile.h"

#include <QString>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

enum class Demod
{
    Auto,
    Am,
    Fm
};

std::optional<Demod> demodByName(const QString& name); // auto, am, fm
QString demodName(Demod demod);

// The rate a channel is brought down to: wide enough for an FM transmission's swing, narrow
// enough to be cheap.
inline constexpr double kChannelRate = 200000;
// How far an AM transmission's sidebands reach: NBTV video stays near 10 kHz.
inline constexpr double kAmBandwidthHz = 15000;

// One transmission out of the band: mixed from offsetHz down to the centre and decimated to
// the channel rate (or left at the input rate when that is lower). liquid-dsp does the work.
class Channel
{
public:
    Channel(double inputRate, double offsetHz);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    double rate() const { return rate_; }
    // Starts over on another transmission: building the filters again costs more than
    // demodulating a tenth of a second.
    void retune(double offsetHz);
    // Appends the channel's samples for count input samples to out.
    void process(const IqSample* in, std::size_t count, std::vector<IqSample>& out);

private:
    struct Liquid;
    std::unique_ptr<Liquid> liquid_;
    double inputRate_;
    double rate_;
    double ratio_ = 1;
    std::vector<IqSample> mixed_;
};

// Video out of a channel, unscaled: the envelope for AM (after a filter to the AM sidebands,
// full scale 1), the instantaneous frequency in Hz for FM; at videoRate.
class VideoDemodulator
{
public:
    VideoDemodulator(double channelRate, Demod demod, double videoRate);
    ~VideoDemodulator();
    VideoDemodulator(const VideoDemodulator&) = delete;
    VideoDemodulator& operator=(const VideoDemodulator&) = delete;

    Demod demod() const { return demod_; }
    // Forgets the samples before: the next ones come from somewhere else.
    void reset();
    // The mean power of what was demodulated since the last call: after the AM filter for AM,
    // of the whole channel for FM.
    double takePower();
    void process(const IqSample* in, std::size_t count, std::vector<float>& out);

private:
    struct Liquid;
    std::unique_ptr<Liquid> liquid_;
    Demod demod_;
    double channelRate_;
    double power_ = 0, powerSamples_ = 0;
    std::vector<float> raw_;
    std::vector<IqSample> filtered_;
};

// Brings demodulated video to -0.9..0.9 whatever the transmission's level or FM swing: an AGC
// that follows the highest and lowest values at once as they grow and lets them shrink back
// over about a second (so a dark scene does not pump).
class VideoLevel
{
public:
    explicit VideoLevel(double rate);
    void process(float* samples, std::size_t count);

private:
    double rate_;
    bool started_ = false;
    double high_ = 0, low_ = 0;
};

} // namespace corvane
