#include "IqModulator.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <liquid/liquid.h>
#include <numbers>
#include <random>

namespace corvane {

std::vector<IqSample> modulateIq(const std::vector<float>& video, double videoRate,
                                 const IqModulatorOptions& options)
{
    // The video brought up to the IQ rate, band-limited to its own rate on the way.
    const double ratio = options.iqRate / videoRate;
    std::vector<float> up(
        static_cast<std::size_t>(std::ceil(2 + 2 * ratio * double(video.size()))));
    unsigned written = 0;
    msresamp_rrrf resampler = msresamp_rrrf_create(static_cast<float>(ratio), 60);
    msresamp_rrrf_execute(resampler, const_cast<float*>(video.data()),
                          static_cast<unsigned>(video.size()), up.data(), &written);
    msresamp_rrrf_destroy(resampler);
    up.resize(written);

    std::vector<IqSample> iq(up.size());
    const double twoPi = 2 * std::numbers::pi;
    double phase = 0;
    std::vector<double> decoyPhase(options.decoys.size(), 0.0);
    std::mt19937 engine(options.seed);
    std::normal_distribution<double> noise(0.0, options.noise);
    const double sinP = std::sin(options.phaseImbalanceDeg * std::numbers::pi / 180);
    const double cosP = std::cos(options.phaseImbalanceDeg * std::numbers::pi / 180);
    for (std::size_t n = 0; n < up.size(); ++n) {
        const double v = std::clamp<double>(up[n], -1, 1);
        std::complex<double> z;
        if (options.modulation == Demod::Fm) {
            phase += twoPi * (options.carrierHz + options.fmDeviationHz * v) / options.iqRate;
            z = std::polar(options.amplitude, phase);
        } else {
            phase += twoPi * options.carrierHz / options.iqRate;
            z = std::polar(options.amplitude * (v + 1) / 2, phase);
        }
        phase = std::remainder(phase, twoPi);
        for (std::size_t d = 0; d < options.decoys.size(); ++d) {
            decoyPhase[d] = std::remainder(
                decoyPhase[d] + twoPi * options.decoys[d].offsetHz / options.iqRate, twoPi);
            z += std::polar(options.decoys[d].amplitude, decoyPhase[d]);
        }
        if (options.noise > 0)
            z += std::complex<double>(noise(engine), noise(engine));
        // The receiver's Q path: its own gain and a phase error, then the offsets.
        const double i = z.real();
        const double q = options.gainImbalance * (z.imag() * cosP + z.real() * sinP);
        iq[n] = {static_cast<float>(i + options.dcOffset.real()),
                 static_cast<float>(q + options.dcOffset.imag())};
    }
    return iq;
}

} // namespace corvane
