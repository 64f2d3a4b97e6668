#include "SignalFinder.h"

#include "Standard.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <complex>
#include <liquid/liquid.h>
#include <numeric>

namespace corvane {

namespace {

constexpr double kPeakAboveFloorDb = 10;
constexpr double kPeakSpacingHz = 3000;
// FM's envelope is flat but for noise; AM's swings with the picture.
constexpr double kFmEnvelopeSpread = 0.15;
// Less than this is a carrier that has caught the edge of a neighbour's sidebands, not a
// transmission: the envelope's spread for AM, the swing for FM.
constexpr double kMinAmSpread = 0.08;
constexpr double kMinFmSwingHz = 2000;
// Lines folded together when looking for the sync pulse: few enough that a transmitter's clock
// a little off the standard does not smear it.
constexpr int kFoldLines = 16;

struct PowerBins
{
    std::vector<float> db; // fft-shifted: bin k is (k - n/2) * binHz
    double binHz = 0;
    double floorDb = 0;
    double frequency(double bin) const { return (bin - double(db.size() / 2)) * binHz; }
};

PowerBins powerBins(std::span<const IqSample> iq, double rate)
{
    unsigned nfft = 256;
    while (nfft < 16384 && rate / nfft > 500)
        nfft *= 2;
    PowerBins s;
    s.db.resize(nfft);
    s.binHz = rate / nfft;
    spgramcf gram = spgramcf_create_default(nfft);
    const std::size_t use = std::min<std::size_t>(iq.size(), 48u * nfft);
    spgramcf_write(gram, const_cast<IqSample*>(iq.data()), static_cast<unsigned>(use));
    spgramcf_get_psd(gram, s.db.data());
    spgramcf_destroy(gram);
    std::vector<float> sorted = s.db;
    std::nth_element(sorted.begin(), sorted.begin() + nfft / 2, sorted.end());
    s.floorDb = sorted[nfft / 2];
    return s;
}

// Local maxima well above the floor, at least kPeakSpacingHz apart, strongest first; the
// offset is interpolated between bins.
std::vector<Carrier> peaks(const PowerBins& s)
{
    const auto n = static_cast<long>(s.db.size());
    const long reach = std::max(2L, std::lround(kPeakSpacingHz / s.binHz));
    std::vector<Carrier> found;
    for (long k = 1; k + 1 < n; ++k) {
        const float v = s.db[static_cast<std::size_t>(k)];
        if (v < s.floorDb + kPeakAboveFloorDb || std::abs(k - n / 2) < 2)
            continue;
        bool highest = true;
        for (long j = std::max(0L, k - reach); highest && j <= std::min(n - 1, k + reach); ++j)
            highest = j == k || s.db[static_cast<std::size_t>(j)] < v ||
                      (s.db[static_cast<std::size_t>(j)] == v && j > k);
        if (!highest)
            continue;
        const double a = s.db[static_cast<std::size_t>(k - 1)],
                     c = s.db[static_cast<std::size_t>(k + 1)];
        const double curve = a - 2 * v + c;
        const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
        found.push_back({s.frequency(double(k) + shift), v - s.floorDb});
    }
    std::sort(found.begin(), found.end(),
              [](const Carrier& x, const Carrier& y) { return x.aboveFloorDb > y.aboveFloorDb; });
    return found;
}

template <typename T> double spread(const std::vector<T>& values)
{
    double sum = 0, squares = 0;
    for (const T& z : values) {
        const double m = std::abs(z);
        sum += m, squares += m * m;
    }
    const double n = std::max<double>(1, double(values.size()));
    const double mean = sum / n;
    return mean > 0 ? std::sqrt(std::max(0.0, squares / n - mean * mean)) / mean : 0;
}

double percentile(std::vector<float> values, double share)
{
    if (values.empty())
        return 0;
    const auto at = static_cast<std::size_t>(share * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

// Whether most stretches of kFoldLines lines, folded at the line period, show one narrow pulse
// beyond every other level (down, or up for a signal that comes inverted): a sync pulse, which
// a tone or a noise that merely repeats does not have.
bool hasLineSync(const std::vector<float>& video, double rate, double lineRateHz)
{
    const double period = rate / lineRateHz;
    const auto bins = static_cast<std::size_t>(std::lround(period));
    const auto stretch = static_cast<std::size_t>(kFoldLines * period);
    int stretches = 0, pulses = 0;
    std::vector<double> profile(bins);
    for (std::size_t start = 0; start + stretch <= video.size(); start += stretch, ++stretches) {
        std::fill(profile.begin(), profile.end(), 0.0);
        for (std::size_t n = 0; n < stretch; ++n)
            profile[std::min(bins - 1, static_cast<std::size_t>(std::fmod(double(n), period)))] +=
                video[start + n];
        const auto [lo, hi] = std::minmax_element(profile.begin(), profile.end());
        const double range = *hi - *lo;
        for (const double sign : {1.0, -1.0}) {
            if (!(range > 0))
                break;
            const double tip = sign > 0 ? *lo : *hi;
            std::size_t runs = 0, width = 0;
            for (std::size_t k = 0; k < bins; ++k) {
                const bool in = sign * (profile[k] - tip) < 0.2 * range;
                const bool before = sign * (profile[(k + bins - 1) % bins] - tip) < 0.2 * range;
                width += in;
                runs += in && !before;
            }
            if (runs == 1 && width <= bins / 5) {
                ++pulses;
                break;
            }
        }
    }
    return stretches > 0 && 2 * pulses >= stretches;
}

} // namespace

double linePeriodicity(std::span<const float> video, double rate, double* lineRateHz)
{
    const double mean =
        video.empty() ? 0 : std::accumulate(video.begin(), video.end(), 0.0) / double(video.size());
    double best = 0, bestRate = 0;
    for (const LockedStandard& standard : knownStandards()) {
        const double period = rate / standard.lineRateHz;
        const auto first = static_cast<std::size_t>(std::floor(period * 0.98));
        const auto last = static_cast<std::size_t>(std::ceil(period * 1.02));
        for (std::size_t lag = std::max<std::size_t>(first, 1); lag <= last; ++lag) {
            if (video.size() < 4 * lag)
                break;
            double xy = 0, xx = 0, yy = 0;
            for (std::size_t k = 0; k + lag < video.size(); ++k) {
                const double x = video[k] - mean, y = video[k + lag] - mean;
                xy += x * y, xx += x * x, yy += y * y;
            }
            const double r = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
            if (r > best)
                best = r, bestRate = rate / double(lag);
        }
    }
    if (lineRateHz)
        *lineRateHz = bestRate;
    return best;
}

struct SignalFinder::Trial
{
    Demod demod = Demod::Am;
    double periodicity = 0, lineRateHz = 0, offsetHz = 0;
};

SignalFinder::SignalFinder(double sampleRate, const FinderOptions& options)
    : rate_(sampleRate), options_(options),
      videoRate_(std::min(options.videoRate, std::min(sampleRate, kChannelRate))),
      channel_(sampleRate, 0), am_(channel_.rate(), Demod::Am, videoRate_),
      fm_(channel_.rate(), Demod::Fm, videoRate_)
{}

SignalFinder::~SignalFinder() = default;

SignalFinder::Trial SignalFinder::trial(std::span<const IqSample> iq, double offsetHz)
{
    channel_.retune(offsetHz);
    narrow_.clear();
    const auto use = std::min(iq.size(), static_cast<std::size_t>(options_.trialSeconds * rate_));
    channel_.process(iq.data(), use, narrow_);
    Trial t;
    t.demod = options_.demod != Demod::Auto         ? options_.demod
              : spread(narrow_) < kFmEnvelopeSpread ? Demod::Fm
                                                    : Demod::Am;
    VideoDemodulator& demodulator = t.demod == Demod::Fm ? fm_ : am_;
    demodulator.reset();
    video_.clear();
    demodulator.process(narrow_.data(), narrow_.size(), video_);
    // The filters' start-up goes.
    const auto settle = std::min(video_.size(), static_cast<std::size_t>(0.01 * videoRate_));
    const std::vector<float> video(video_.begin() + static_cast<long>(settle), video_.end());
    t.periodicity = linePeriodicity(video, videoRate_, &t.lineRateHz);
    t.offsetHz = offsetHz;
    const double low = percentile(video, 0.005), high = percentile(video, 0.995);
    if (t.demod == Demod::Fm) // the swing's centre: sync tip to peak white
        t.offsetHz += (low + high) / 2;
    const bool modulated =
        t.demod == Demod::Fm ? high - low >= kMinFmSwingHz : spread(video) >= kMinAmSpread;
    if (!modulated || !(t.lineRateHz > 0) || !hasLineSync(video, videoRate_, t.lineRateHz))
        t.periodicity = 0;
    return t;
}

FinderResult findSignal(std::span<const IqSample> iq, double sampleRate,
                        const FinderOptions& options)
{
    return SignalFinder(sampleRate, options).find(iq);
}

FinderResult SignalFinder::find(std::span<const IqSample> iq)
{
    FinderResult result;
    const double sampleRate = rate_;
    const FinderOptions& options = options_;
    const PowerBins s = powerBins(iq, sampleRate);
    std::vector<Carrier> candidates = peaks(s);
    result.carriers.assign(candidates.begin(),
                           candidates.begin() + std::min<long>(6, long(candidates.size())));
    if (options.tuneHz) {
        const Trial t = trial(iq, *options.tuneHz);
        result.found = true;
        result.offsetHz = *options.tuneHz;
        result.demod = t.demod;
        result.periodicity = t.periodicity;
        result.lineRateHz = t.lineRateHz;
        return result;
    }
    if (options.nearHz) {
        const double near = *options.nearHz;
        std::erase_if(candidates,
                      [near](const Carrier& c) { return std::abs(c.offsetHz - near) > kNearHz; });
        std::sort(candidates.begin(), candidates.end(), [near](const Carrier& a, const Carrier& b) {
            return std::abs(a.offsetHz - near) < std::abs(b.offsetHz - near);
        });
    }
    const auto tries =
        std::min<std::size_t>(candidates.size(), std::size_t(std::max(options.candidates, 0)));
    Trial nearest;
    for (std::size_t k = 0; k < tries; ++k) {
        const Trial t = trial(iq, candidates[k].offsetHz);
        if (k == 0)
            nearest = t;
        if (t.periodicity >= options.minPeriodicity) {
            result.found = true;
            result.offsetHz = t.offsetHz;
            result.demod = t.demod;
            result.periodicity = t.periodicity;
            result.lineRateHz = t.lineRateHz;
            return result;
        }
    }
    if (options.nearHz && tries > 0) {
        const Trial& t = nearest;
        result.found = true;
        result.offsetHz = t.offsetHz;
        result.demod = t.demod;
        result.periodicity = t.periodicity;
        result.lineRateHz = t.lineRateHz;
    }
    return result;
}

QString describeCarriers(const std::vector<Carrier>& carriers)
{
    if (carriers.empty())
        return QStringLiteral("none above the noise");
    QStringList parts;
    for (const Carrier& c : carriers)
        parts << QStringLiteral("%1%2 kHz (%3 dB%4)")
                     .arg(c.offsetHz >= 0 ? QStringLiteral("+") : QString())
                     .arg(c.offsetHz / 1000, 0, 'f', 1)
                     .arg(c.aboveFloorDb, 0, 'f', 0)
                     .arg(parts.isEmpty() ? QStringLiteral(" above the noise") : QString());
    return parts.join(QStringLiteral(", "));
}

} // namespace corvane
