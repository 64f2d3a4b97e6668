// The locked decoder on arbitrary samples, with the settings taken from the first bytes:
// standard, signal kind, polarity, channels and channel, negative, manual levels, and whether
// the rest goes in as 8-bit samples or floats.
#include "FuzzInput.h"
#include "LockedDecoder.h"
#include "Standard.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane;
    fuzz::Bytes bytes(data, size);
    const auto standards = knownStandards();
    LockedSettings settings;
    const std::uint8_t which = bytes.next();
    settings.standard = which < standards.size() * 32
                            ? standards[which % standards.size()]
                            : customStandard(2 + bytes.next() % 250 * 4, 10 + bytes.next() * 40.0,
                                             0.2 + bytes.next() / 40.0);
    settings.signal = static_cast<SignalKind>(bytes.next() % 3);
    settings.polarity = static_cast<Polarity>(bytes.next() % 3);
    const int channels = 1 + bytes.next() % 4;
    settings.channel = static_cast<int>(bytes.next() % 6) - 1; // kAutoChannel .. 4
    const std::uint8_t flags = bytes.next();
    settings.negative = flags & 1;
    settings.autoLevels = flags & 2;
    settings.manualBlack = bytes.next() / 255.0;
    settings.manualWhite = bytes.next() / 255.0;
    const double rates[] = {8000, 11025, 22050, 28800, 44100, 48000, 96000, 192000};
    const double rate = rates[bytes.next() % 8];

    LockedDecoder decoder(rate, settings);
    std::int64_t frames = 0;
    decoder.setFrameCallback([&](const QImage& frame) { frames += frame.isNull() ? 0 : 1; });
    // Short inputs repeated, so the decoder sees enough lines to lock on what they hold.
    const int repeats = bytes.size() < 4096 ? 8 : 1;
    for (int r = 0; r < repeats; ++r) {
        if (flags & 4) {
            decoder.feedU8(bytes.data(), bytes.size());
        } else {
            std::vector<float> samples(bytes.size() / sizeof(float));
            if (!samples.empty())
                std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
            decoder.feed(samples.data(), samples.size() / channels, channels);
        }
        if (r == 3 && (flags & 8)) {
            settings.polarity =
                static_cast<Polarity>((static_cast<int>(settings.polarity) + 1) % 3);
            decoder.setSettings(settings);
        }
    }
    decoder.status();
    decoder.lastFrame();
    return 0;
}
