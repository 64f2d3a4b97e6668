#pragma once

#include "Standard.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// How a transmitter marks the first line of each frame in its line-sync train.
enum class FrameMark
{
    Missing, // the first line's sync pulse is left out (black instead)
    Wide,    // the first line's sync pulse is three times as wide
    Gap,     // a stretch of black, one and a half lines long, before the first line
};

std::optional<FrameMark> frameMarkByName(const QString& name);

struct TransmitterOptions
{
    LockedStandard standard;
    double sampleRate = 28800;
    double seconds = 2;
    FrameMark mark = FrameMark::Missing;
    // Peak amplitude as a share of full scale.
    double level = 0.8;
    // Carrier frequency for AM; 0 sends baseband video.
    double amHz = 0;
    // Picture inverted (black sent high), sync as usual.
    bool negative = false;
};

// Shares of the tip-to-white swing: sync tip, black, white.
inline constexpr double kSyncShare = 0.05; // of the line period
inline constexpr double kBlackLevel = 0.3;

// A test picture with clear structure (grey wedge, circle, bars) and no symmetry, so flips and
// rolls show; any size.
QImage testPicture(int width, int height);

// The picture as the standard's raster, upright as the viewer sees it (lines wide and
// elementsPerLine tall for vertical scanning): grey, reduced by area averaging.
QImage rasterFor(const QImage& picture, const LockedStandard& standard);

// A correct NBTV signal of the raster (as rasterFor gives it), -1..1, repeating the picture
// for options.seconds.
std::vector<float> transmit(const QImage& raster, const TransmitterOptions& options);

// What a real path does to the signal on its way to the sound card.
// A first-order high pass, as a sound card's coupling capacitor.
void acCouple(std::vector<float>& signal, double sampleRate, double cutoffHz);
// Gaussian noise at snrDb below the signal's own (AC) power, reproducible from seed.
void addNoise(std::vector<float>& signal, double snrDb, std::uint32_t seed);
// Played percent faster (positive) or slower: the clocks of transmitter and recorder differ.
std::optional<std::vector<float>> changeSpeed(const std::vector<float>& signal, double percent,
                                              QString* error);
// Unsigned 8-bit as a sound card records it, silence at 128.
std::vector<std::uint8_t> toUnsigned8(const std::vector<float>& signal);

} // namespace corvane
