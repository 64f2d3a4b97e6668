#include "Standard.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvane {

namespace {

LockedStandard makeStandard(const char* name, const char* title, int lines, double lineRateHz,
                            double aspect)
{
    LockedStandard s;
    s.name = QString::fromLatin1(name);
    s.title = QString::fromLatin1(title);
    s.lines = lines;
    s.lineRateHz = lineRateHz;
    s.aspect = aspect;
    return s;
}

// "3:2" for 1.5, "7:3" for 2.333…: the smallest whole-number ratio near the aspect.
QString ratioText(double aspect)
{
    for (int width = 1; width <= 10; ++width) {
        const double height = aspect * width;
        if (std::abs(height - std::round(height)) < 1e-6)
            return QStringLiteral("%1:%2").arg(std::lround(height)).arg(width);
    }
    return QString::number(aspect, 'g', 3);
}

} // namespace

std::span<const LockedStandard> knownStandards()
{
    static const std::array<LockedStandard, 2> standards{
        makeStandard("nbtva", "NBTVA", 32, 400.0, 1.5),
        makeStandard("baird", "Baird", 30, 375.0, 7.0 / 3.0),
    };
    return standards;
}

std::optional<LockedStandard> standardByName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    for (const LockedStandard& s : knownStandards())
        if (s.name == key)
            return s;
    return std::nullopt;
}

QString LockedStandard::summary() const
{
    return QStringLiteral("%1 lines, %2 lines/s, %3 %4")
        .arg(lines)
        .arg(lineRateHz, 0, 'g', 6)
        .arg(ratioText(aspect),
             aspect >= 1 ? QStringLiteral("portrait") : QStringLiteral("landscape"));
}

QString standardChoices()
{
    QStringList parts;
    for (const LockedStandard& s : knownStandards())
        parts << QStringLiteral("%1 (%2)").arg(s.name, s.summary());
    const QString last = parts.takeLast();
    return parts.isEmpty() ? last
                           : parts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

LockedStandard customStandard(int lines, double lineRateHz, double aspect)
{
    LockedStandard s;
    s.name = QStringLiteral("custom");
    s.title = QStringLiteral("Custom");
    s.lines = lines;
    s.lineRateHz = lineRateHz;
    s.aspect = aspect;
    return s;
}

int LockedStandard::elementsPerLine() const
{
    const double safeAspect = aspect > 0 ? aspect : 1.0;
    // Square elements: a vertical line runs along the picture's height.
    return std::clamp(static_cast<int>(std::lround(lines * safeAspect)), 1, 4096);
}

QImage displayFrame(const QImage& frame, const LockedStandard& standard, int minHeight, bool smooth)
{
    if (frame.isNull())
        return {};
    const double aspect = standard.aspect > 0 ? standard.aspect : 1.0;
    // A whole number of screen pixels per element along the height keeps every element the
    // same size when scaled sharply.
    const int rows = std::max(frame.height(), 1);
    const int factor = std::max(1, (std::max(minHeight, 1) + rows - 1) / rows);
    const int height = rows * factor;
    const int width = std::max(1, static_cast<int>(std::lround(height / aspect)));
    return frame.scaled(width, height, Qt::IgnoreAspectRatio,
                        smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
}

} // namespace corvane
