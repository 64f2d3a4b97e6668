#pragma once

#include "Standard.h"

#include <cstdint>
#include <vector>

namespace corvane {

enum class SignalKind
{
    Auto,
    Baseband,
    Am
};

// Which way up the whole signal comes: players and amplifiers differ, and an inverted signal
// has its sync pointing up. (A negative picture is something else: black high, sync still low.)
enum class Polarity
{
    Auto,
    Normal,
    Inverted
};

// Which channel of a recording carries the vision; the others carry the programme's sound.
inline constexpr int kAutoChannel = -1;

struct LockedSettings
{
    LockedStandard standard;
    SignalKind signal = SignalKind::Auto;
    Polarity polarity = Polarity::Auto;
    int channel = kAutoChannel; // 0 = left, 1 = right, ...
    bool negative = false;
    // Automatic levels follow the signal; manual levels are fractions of the sync-tip-to-peak
    // swing (0 = sync tip, 1 = the brightest the signal has reached), black below white.
    bool autoLevels = true;
    double manualBlack = 0.25;
    double manualWhite = 1.0;
};

// What the decoder currently knows about the signal, for status lines, meters and --stats.
struct LockedStatus
{
    bool locked = false;
    double lineRateHz = 0; // measured; 0 while searching
    SignalKind detected = SignalKind::Baseband;
    double carrierHz = 0;       // estimated AM carrier; 0 for baseband
    std::int64_t frames = 0;    // complete frames delivered while locked
    std::int64_t samples = 0;   // input samples consumed
    double inputPeak = 0;       // largest |sample| over the last ~0.2 s, 0..1 of full scale
    bool inputTooLow = false;   // peak below a level that gives a clean picture
    bool inputClipping = false; // samples at or near full scale in the last ~0.2 s
    bool inverted = false;      // the signal is taken upside down (found, or as set)
    int channel = 0;            // the channel decoded
    int channels = 1;           // channels the input has
    bool everLocked = false;    // locked at some time since the start or the last reset
    // The vision's swing from sync tip to peak, 0..1 of full scale (full scale is -1..1): what
    // a level meter judges, since a quiet capture may still show a high peak of noise.
    double swing = 0;
    bool swingTooLow = false; // under a level that gives a clean picture
    // The input is strong but shows no line sync at the standard's rate on any channel either
    // way up: another standard, channel or polarity may be wanted.
    bool noSyncFound = false;
};

// The video of the last lines as the decoder saw it, with the levels it found, for a scope that
// shows why a signal locks or not (levels, polarity, hum). Levels are in the samples' own units.
struct ScopeTrace
{
    std::vector<float> samples; // `lines` line periods, the first starting at a sync edge
    int lines = 1;
    double period = 0;    // samples per line
    double syncWidth = 0; // samples from each line's start
    float tip = 0, slice = 0, black = 0, white = 0;
    bool locked = false; // false: the last stretch of input, levels from its range
};

} // namespace corvane
