#include "Demodulation.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <liquid/liquid.h>
#include <numbers>

namespace corvane {

namespace {

constexpr float kStopBandDb = 60;

// liquid takes non-const buffers it only reads.
template <typename T> T* readOnly(const T* p)
{
    return const_cast<T*>(p);
}

// Rates closer than this are taken as equal and not resampled.
bool sameRate(double a, double b)
{
    return std::abs(a / b - 1) < 1e-6;
}

} // namespace

std::optional<Demod> demodByName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    if (key == QLatin1String("auto"))
        return Demod::Auto;
    if (key == QLatin1String("am"))
        return Demod::Am;
    if (key == QLatin1String("fm"))
        return Demod::Fm;
    return std::nullopt;
}

QString demodName(Demod demod)
{
    switch (demod) {
    case Demod::Am:
        return QStringLiteral("am");
    case Demod::Fm:
        return QStringLiteral("fm");
    case Demod::Auto:
        break;
    }
    return QStringLiteral("auto");
}

struct Channel::Liquid
{
    nco_crcf nco = nullptr;
    msresamp_crcf resampler = nullptr;
    ~Liquid()
    {
        if (nco)
            nco_crcf_destroy(nco);
        if (resampler)
            msresamp_crcf_destroy(resampler);
    }
};

Channel::Channel(double inputRate, double offsetHz)
    : liquid_(std::make_unique<Liquid>()), inputRate_(inputRate),
      rate_(std::min(inputRate, kChannelRate))
{
    liquid_->nco = nco_crcf_create(LIQUID_NCO);
    retune(offsetHz);
    ratio_ = rate_ / inputRate;
    if (!sameRate(rate_, inputRate))
        liquid_->resampler = msresamp_crcf_create(static_cast<float>(ratio_), kStopBandDb);
}

Channel::~Channel() = default;

void Channel::retune(double offsetHz)
{
    nco_crcf_reset(liquid_->nco);
    nco_crcf_set_frequency(liquid_->nco,
                           static_cast<float>(2 * std::numbers::pi * offsetHz / inputRate_));
    if (liquid_->resampler)
        msresamp_crcf_reset(liquid_->resampler);
}

void Channel::process(const IqSample* in, std::size_t count, std::vector<IqSample>& out)
{
    constexpr std::size_t kPiece = 16384;
    for (std::size_t at = 0; at < count; at += kPiece) {
        const auto n = static_cast<unsigned>(std::min(kPiece, count - at));
        mixed_.resize(n);
        nco_crcf_mix_block_down(liquid_->nco, readOnly(in + at), mixed_.data(), n);
        if (!liquid_->resampler) {
            out.insert(out.end(), mixed_.begin(), mixed_.end());
            continue;
        }
        const std::size_t had = out.size();
        out.resize(had + static_cast<std::size_t>(std::ceil(2 + 2 * n * ratio_)));
        unsigned written = 0;
        msresamp_crcf_execute(liquid_->resampler, mixed_.data(), n, out.data() + had, &written);
        out.resize(had + written);
    }
}

struct VideoDemodulator::Liquid
{
    firfilt_crcf amFilter = nullptr;
    freqdem fm = nullptr;
    msresamp_rrrf resampler = nullptr;
    float ratio = 1;
    ~Liquid()
    {
        if (amFilter)
            firfilt_crcf_destroy(amFilter);
        if (fm)
            freqdem_destroy(fm);
        if (resampler)
            msresamp_rrrf_destroy(resampler);
    }
};

VideoDemodulator::VideoDemodulator(double channelRate, Demod demod, double videoRate)
    : liquid_(std::make_unique<Liquid>()), demod_(demod == Demod::Fm ? Demod::Fm : Demod::Am),
      channelRate_(channelRate)
{
    if (demod_ == Demod::Am) {
        // Only where the AM sidebands fit inside the channel is there anything to cut away.
        const double cutoff = kAmBandwidthHz / channelRate;
        if (cutoff < 0.4) {
            const unsigned taps = std::clamp(
                estimate_req_filter_len(static_cast<float>(cutoff / 2), kStopBandDb), 16u, 255u);
            liquid_->amFilter =
                firfilt_crcf_create_kaiser(taps, static_cast<float>(cutoff), kStopBandDb, 0);
            firfilt_crcf_set_scale(liquid_->amFilter, static_cast<float>(2 * cutoff));
        }
    } else {
        liquid_->fm = freqdem_create(0.5f); // output 1 stands for half the channel rate
    }
    if (!sameRate(videoRate, channelRate)) {
        liquid_->ratio = static_cast<float>(videoRate / channelRate);
        liquid_->resampler = msresamp_rrrf_create(liquid_->ratio, kStopBandDb);
    }
}

VideoDemodulator::~VideoDemodulator() = default;

void VideoDemodulator::reset()
{
    if (liquid_->amFilter)
        firfilt_crcf_reset(liquid_->amFilter);
    if (liquid_->fm)
        freqdem_reset(liquid_->fm);
    if (liquid_->resampler)
        msresamp_rrrf_reset(liquid_->resampler);
}

double VideoDemodulator::takePower()
{
    const double mean = power_ / std::max(powerSamples_, 1.0);
    power_ = powerSamples_ = 0;
    return mean;
}

void VideoDemodulator::process(const IqSample* in, std::size_t count, std::vector<float>& out)
{
    powerSamples_ += double(count);
    raw_.resize(count);
    const auto n = static_cast<unsigned>(count);
    if (liquid_->fm) {
        freqdem_demodulate_block(liquid_->fm, readOnly(in), n, raw_.data());
        for (std::size_t k = 0; k < count; ++k)
            power_ += std::norm(in[k]);
        const auto hz = static_cast<float>(channelRate_ / 2);
        for (float& v : raw_)
            v *= hz;
    } else {
        const IqSample* source = in;
        if (liquid_->amFilter) {
            filtered_.resize(count);
            firfilt_crcf_execute_block(liquid_->amFilter, readOnly(in), n, filtered_.data());
            source = filtered_.data();
        }
        for (std::size_t k = 0; k < count; ++k) {
            raw_[k] = std::abs(source[k]);
            power_ += double(raw_[k]) * raw_[k];
        }
    }
    if (!liquid_->resampler) {
        out.insert(out.end(), raw_.begin(), raw_.end());
        return;
    }
    const std::size_t had = out.size();
    out.resize(had + static_cast<std::size_t>(std::ceil(2 + 2 * count * liquid_->ratio)));
    unsigned written = 0;
    msresamp_rrrf_execute(liquid_->resampler, raw_.data(), n, out.data() + had, &written);
    out.resize(had + written);
}

VideoLevel::VideoLevel(double rate) : rate_(rate) {}

void VideoLevel::process(float* samples, std::size_t count)
{
    if (count == 0)
        return;
    const auto [lo, hi] = std::minmax_element(samples, samples + count);
    const double share = 1 - std::exp(-double(count) / rate_);
    if (!started_) {
        high_ = *hi, low_ = *lo, started_ = true;
    } else {
        high_ = std::max<double>(*hi, high_ + share * (*hi - high_));
        low_ = std::min<double>(*lo, low_ + share * (*lo - low_));
    }
    const double mid = (high_ + low_) / 2, half = std::max((high_ - low_) / 2, 1e-9);
    const auto gain = static_cast<float>(0.9 / half);
    const auto centre = static_cast<float>(mid);
    for (std::size_t k = 0; k < count; ++k)
        samples[k] = std::clamp((samples[k] - centre) * gain, -1.0f, 1.0f);
}

} // namespace corvane
