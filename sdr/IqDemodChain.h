#pragma once

#include "BandPower.h"
#include "Demodulation.h"
#include "IqConditioner.h"
#include "IqFile.h"
#include "SignalFinder.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace corvane {

struct SdrOptions
{
    IqFormat format = IqFormat::Cu8;
    double sampleRate = 2.4e6;    // of the IQ (a WAV file's header overrides it)
    std::optional<double> tuneHz; // the transmission's offset from the tuned centre; found if unset
    Demod demod = Demod::Auto;
    double videoRate = 48000;   // of the video handed on (lower if the IQ rate is lower)
    double searchSeconds = 0.4; // IQ looked at before each search
    // While nothing is found, one search per this much IQ: a search costs far more than
    // demodulating, and the band seldom changes faster.
    double searchEverySeconds = 2;
};

struct SdrStatus
{
    bool found = false;            // a transmission is being demodulated
    Demod demod = Demod::Am;       // how, once found
    double tuneHz = 0;             // where, from the tuned centre
    double lineRateHz = 0;         // the line rate the finder saw
    int searches = 0;              // searches that came to nothing so far
    std::vector<Carrier> carriers; // what the last search saw
    // What to tell the user while nothing is found; empty once found.
    QString message;
};

// What is wrong with the options, for the user; nullopt when they are fine. The chain takes any
// options without failing, but brings wrong ones into range.
std::optional<QString> checkSdrOptions(const SdrOptions& options);

// IQ in, baseband video (-1..1) out for the locked decoder: conditions the samples, finds the
// transmission (unless told where it is), then mixes, decimates and demodulates it. While
// searching it holds the IQ of one search; once found that IQ is demodulated too, so nothing
// is lost. A transmission it found itself is watched: when for a few seconds its video has shown
// no line sync or its power has stayed far below what it was when found (it went off the air, or
// the receiver was retuned), the search starts again.
// Single-threaded.
class IqDemodChain
{
public:
    explicit IqDemodChain(const SdrOptions& options);
    ~IqDemodChain();
    IqDemodChain(const IqDemodChain&) = delete;
    IqDemodChain& operator=(const IqDemodChain&) = delete;

    // Appends the video the samples give to video (nothing while searching).
    void feed(std::span<const IqSample> iq, std::vector<float>& video);
    // Raw bytes in the options' format (not WAV); a partial pair waits for the next call.
    void feedBytes(std::span<const std::uint8_t> bytes, std::vector<float>& video);

    // At the end of the IQ: searches what is held if that is enough to go on (a tenth of a
    // second), so that a short recording gets its answer.
    void finish(std::vector<float>& video);

    // Moves to the transmission nearest offsetHz from the centre (a click on the band): the IQ
    // from now on is searched around there, the nearest peak with a line sync wins (the nearest
    // at all when none has one), and it is watched like one found by a search; a loss searches
    // around there again. Overrides options.tuneHz.
    void tuneTo(double offsetHz);
    // From now on hands sink a row of bins powers in dB across the band about ten times a
    // second, from the conditioned IQ (see BandPower).
    void watchBand(int bins, BandPower::Sink sink);

    SdrStatus status() const { return status_; }
    double videoRate() const { return videoRate_; }
    const SdrOptions& options() const { return options_; }

private:
    void search(std::vector<float>& video);
    void demodulate(std::span<const IqSample> iq, std::vector<float>& video);
    void watch(std::span<const float> video);
    void conditioned(std::span<const IqSample> iq);

    SdrOptions options_;
    double videoRate_;
    IqConditioner conditioner_;
    SdrStatus status_;
    std::vector<IqSample> held_, decoded_, channel_;
    std::vector<std::uint8_t> partial_;
    double skip_ = 0;            // samples to pass by before the next search
    std::vector<float> watched_; // the video since the last look at it
    int misses_ = 0;             // looks in a row that saw no line sync
    double foundPower_ = 0;      // of the transmission, in the first look after it was found
    std::optional<double> near_; // where the user pointed, if anywhere
    std::unique_ptr<SignalFinder> finder_;
    std::unique_ptr<BandPower> band_;
    std::unique_ptr<Channel> channelStage_;
    std::unique_ptr<VideoDemodulator> demodulator_;
    std::unique_ptr<VideoLevel> level_;
};

// Demodulates a whole IQ recording (a raw one at options.sampleRate, a WAV file at its own),
// handing each piece of video to sink (if any) as it comes. False with a reason the user can act on
// when the recording cannot be read or holds no transmission; status gets where and how it was
// found, or what the band held.
bool demodulateIqFile(const QString& path, SdrOptions options,
                      const std::function<void(std::span<const float> video, double rate)>& sink,
                      SdrStatus* status, QString* error);

} // namespace corvane
