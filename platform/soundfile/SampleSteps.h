#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace corvane {

// Interleaved frames of channels samples averaged into one sample each, into mono (frames long).
inline void mixToMono(const float* interleaved, std::size_t frames, int channels, float* mono)
{
    const auto n = static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (std::size_t c = 0; c < n; ++c)
            sum += interleaved[i * n + c];
        mono[i] = sum / static_cast<float>(channels);
    }
}

// A float sample (-1..1) as the unsigned 8-bit sample the first decoder reads, silence at 128.
inline std::uint8_t toUnsigned8(float value)
{
    if (!std::isfinite(value))
        return 128;
    const long level = std::lrint(std::clamp(value, -2.0f, 2.0f) * 128.0f) + 128;
    return static_cast<std::uint8_t>(std::clamp(level, 0L, 255L));
}

} // namespace corvane
