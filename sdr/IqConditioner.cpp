#include "IqConditioner.h"

#include <cmath>
#include <numbers>

namespace corvane {

namespace {
constexpr double kTimeConstant = 0.1;
}

IqConditioner::IqConditioner(double sampleRate) : rate_(sampleRate) {}

void IqConditioner::reset()
{
    started_ = false;
    dc_ = {};
    ii_ = qq_ = iq_ = 0;
}

double IqConditioner::gainImbalance() const
{
    return ii_ > 0 ? std::sqrt(qq_ / ii_) : 1.0;
}

double IqConditioner::phaseImbalanceDegrees() const
{
    const double norm = std::sqrt(ii_ * qq_);
    return norm > 0 ? std::asin(std::clamp(iq_ / norm, -1.0, 1.0)) * 180 / std::numbers::pi : 0;
}

void IqConditioner::process(IqSample* samples, std::size_t count)
{
    if (count == 0)
        return;
    const double share = started_ ? 1 - std::exp(-double(count) / (rate_ * kTimeConstant)) : 1;
    double si = 0, sq = 0;
    for (std::size_t k = 0; k < count; ++k) {
        si += samples[k].real();
        sq += samples[k].imag();
    }
    const double n = double(count);
    dc_ += static_cast<float>(share) * (IqSample(float(si / n), float(sq / n)) - dc_);

    // With I = a cos t and Q = g a sin(t + p): <II> = a²/2, <QQ> = g² a²/2, <IQ> = g a²/2 sin p,
    // for any signal away from the centre (whose image averages out). Q is rebuilt from both.
    double ii = 0, qq = 0, iq = 0;
    const float di = dc_.real(), dq = dc_.imag();
    for (std::size_t k = 0; k < count; ++k) {
        const double i = samples[k].real() - di, q = samples[k].imag() - dq;
        ii += i * i, qq += q * q, iq += i * q;
    }
    ii_ += share * (ii / n - ii_);
    qq_ += share * (qq / n - qq_);
    iq_ += share * (iq / n - iq_);
    started_ = true;

    float qFromQ = 1, qFromI = 0;
    if (ii_ > 0 && qq_ > 0) {
        const double g = std::sqrt(qq_ / ii_);
        const double sinP = std::clamp(iq_ / std::sqrt(ii_ * qq_), -0.9, 0.9);
        const double cosP = std::sqrt(1 - sinP * sinP);
        qFromQ = static_cast<float>(1 / (g * cosP));
        qFromI = static_cast<float>(-sinP / cosP);
    }
    for (std::size_t k = 0; k < count; ++k) {
        const float i = samples[k].real() - di, q = samples[k].imag() - dq;
        samples[k] = {i, qFromQ * q + qFromI * i};
    }
}

} // namespace corvane
