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
    After,   // a stretch of black after the first line's sync pulse, before its picture
    None,    // no mark: only the picture tells where a frame starts
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
    // The whole signal upside down (sync pointing up), as some players and amplifiers give it.
    bool invert = false;
    // Black before each line's sync and after it, as shares of the line.
    double frontPorch = 0, backPorch = 0;
    // Length of the black stretch of FrameMark::After, as a share of a line (the public
    // nbtvencoder sends 16 samples of a 108-sample line).
    double stretch = 16.0 / 108;
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
// Mains hum of hz (and a third of it at the third harmonic) at percent of the signal's swing.
void addHum(std::vector<float>& signal, double sampleRate, double percent, double hz = 50);
// Fading as on a radio path (QSB): the gain swings between 1 and depthDb below at hz.
void addFading(std::vector<float>& signal, double sampleRate, double depthDb, double hz = 0.5);
// Tape wow: the speed swings by +-percent at hz.
std::vector<float> addWow(const std::vector<float>& signal, double percent, double hz,
                          double sampleRate);
// An edited recording: every everySeconds, skipSeconds of the signal are cut out.
void addCuts(std::vector<float>& signal, double sampleRate, double everySeconds,
             double skipSeconds);
// Stereo frames with the vision on one channel (0 left, 1 right) and a programme's sound (a few
// tones and noise, reproducible from seed) at soundLevel of full scale on the other.
std::vector<float> withSound(const std::vector<float>& vision, double sampleRate, int visionChannel,
                             double soundLevel, std::uint32_t seed = 3);
// All of the above in the order a real path applies them; zeros leave a step out.
struct RealPath
{
    double speedPercent = 0, wowPercent = 0, cutEverySeconds = 0, fadeDb = 0, acHz = 0,
           humPercent = 0;
    double wowHz = 0.5; // tape wow is slow; flutter is several Hz
    bool noisy = false;
    double snrDb = 0;
    std::uint32_t seed = 1;
};
std::optional<std::vector<float>> throughPath(std::vector<float> signal, double sampleRate,
                                              const RealPath& path, QString* error);
// Unsigned 8-bit as a sound card records it, silence at 128.
std::vector<std::uint8_t> toUnsigned8(const std::vector<float>& signal);

} // namespace corvane
