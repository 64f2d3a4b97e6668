#pragma once

#include <QImage>
#include <QString>
#include <optional>
#include <span>

namespace corvane {

// A narrow-band television standard: what a transmitter sends and how it is shown. Lines are
// vertical, drawn bottom to top, the first on the right (the NBTVA and Baird way); pictures
// scanned otherwise are turned round after decoding.
struct LockedStandard
{
    QString name = QStringLiteral("nbtva");  // what options and saved settings call it
    QString title = QStringLiteral("NBTVA"); // what the user reads
    int lines = 32;
    double lineRateHz = 400.0;
    // Picture height divided by width as the viewer sees it (3:2 portrait is 1.5).
    double aspect = 1.5;

    // Picture elements along one line, so that elements come out square at the aspect.
    int elementsPerLine() const;
    // "32 lines, 400 lines/s, 3:2 portrait"
    QString summary() const;

    // The same picture geometry; the name is only a label.
    friend bool operator==(const LockedStandard& a, const LockedStandard& b)
    {
        return a.lines == b.lines && a.lineRateHz == b.lineRateHz && a.aspect == b.aspect;
    }
};

// What a custom standard may be: wider than any transmitter, narrow enough to decode.
struct StandardLimits
{
    static constexpr int kMinLines = 2, kMaxLines = 1000;
    static constexpr double kMinLineRate = 10, kMaxLineRate = 20000;
    static constexpr double kMinAspect = 0.1, kMaxAspect = 10;
};

// The rates locked decoding works at.
struct LockedRates
{
    static constexpr int kMin = 8000, kMax = 192000;
};

// The standards a user can pick by name, the usual one first.
std::span<const LockedStandard> knownStandards();
// One of knownStandards() by name (any case); nullopt for any other name.
std::optional<LockedStandard> standardByName(const QString& name);
// "nbtva (32 lines, 400 lines/s, 3:2 portrait) or baird (…)", for help and error texts.
QString standardChoices();
// A standard described by its numbers, named "custom".
LockedStandard customStandard(int lines, double lineRateHz, double aspect);

// Scales an upright frame to the standard's aspect, at least minHeight pixels tall, with sharp
// element edges (or smooth interpolation).
QImage displayFrame(const QImage& frame, const LockedStandard& standard, int minHeight = 320,
                    bool smooth = false);

} // namespace corvane
