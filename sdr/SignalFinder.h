#pragma once

#include "Demodulation.h"
#include "IqFile.h"

#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace corvane {

// A peak in the band: how far from the tuned centre, how far above the noise floor.
struct Carrier
{
    double offsetHz = 0;
    double aboveFloorDb = 0;
};

// How far from where the user pointed a transmission's peak may be: an FM transmission's
// strongest part can lie anywhere in its swing.
inline constexpr double kNearHz = 40000;

struct FinderOptions
{
    Demod demod = Demod::Auto;
    // Where the user says the transmission is; the finder then only decides AM or FM.
    std::optional<double> tuneHz;
    // Where the user pointed (a click on the band): only peaks within kNearHz of it are tried,
    // nearest first, and when none shows a line sync the nearest is taken all the same.
    std::optional<double> nearHz;
    double videoRate = 48000;
    int candidates = 6;
    // How much of the IQ each candidate is demodulated over: 80 lines of the usual standard.
    double trialSeconds = 0.2;
    // Normalised autocorrelation of the video at the line period that counts as line sync.
    double minPeriodicity = 0.3;
};

struct FinderResult
{
    bool found = false;
    double offsetHz = 0; // the carrier (AM) or the centre of the swing (FM), from the centre
    Demod demod = Demod::Am;
    double lineRateHz = 0;
    double periodicity = 0;
    // The strongest peaks, strongest first, for telling the user what is there.
    std::vector<Carrier> carriers;
};

// Finds the strongest transmission in a stretch of (conditioned) IQ whose demodulated video
// repeats at a known standard's line rate and shows a sync pulse: plain carriers and other
// signals are passed over. A few tenths of a second are plenty. AM or FM is told from the
// envelope: FM's is flat. Keeps its filters from one search to the next.
class SignalFinder
{
public:
    SignalFinder(double sampleRate, const FinderOptions& options);
    ~SignalFinder();
    SignalFinder(const SignalFinder&) = delete;
    SignalFinder& operator=(const SignalFinder&) = delete;

    FinderResult find(std::span<const IqSample> iq);

private:
    struct Trial;
    Trial trial(std::span<const IqSample> iq, double offsetHz);

    double rate_;
    FinderOptions options_;
    double videoRate_;
    Channel channel_;
    VideoDemodulator am_, fm_;
    std::vector<IqSample> narrow_;
    std::vector<float> video_;
};

// One search with a finder of its own.
FinderResult findSignal(std::span<const IqSample> iq, double sampleRate,
                        const FinderOptions& options);

// "+150.0 kHz (31 dB above the noise), -300.0 kHz (28 dB)" or "none above the noise".
QString describeCarriers(const std::vector<Carrier>& carriers);

// How regularly video repeats at any known standard's line period: the best normalised
// autocorrelation within 2 % of each period; lineRateHz gets the rate it was found at.
double linePeriodicity(std::span<const float> video, double rate, double* lineRateHz);

} // namespace corvane
