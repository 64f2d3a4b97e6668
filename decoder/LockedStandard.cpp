#include "LockedDecoder.h"

#include <algorithm>
#include <cmath>

namespace corvane {

int LockedStandard::elementsPerLine() const
{
    const double safeAspect = aspect > 0 ? aspect : 1.0;
    // Square elements: a vertical line runs along the picture's height, a horizontal one
    // along its width.
    const double along =
        order == ScanOrder::HorizontalLeftToRightTopDown ? lines / safeAspect : lines * safeAspect;
    return std::clamp(static_cast<int>(std::lround(along)), 1, 4096);
}

std::optional<LockedStandard> standardByName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    if (key == QLatin1String("nbtva"))
        return LockedStandard{};
    if (key == QLatin1String("baird")) {
        LockedStandard s;
        s.name = QStringLiteral("baird");
        s.lines = 30;
        s.lineRateHz = 375.0;
        s.aspect = 7.0 / 3.0;
        return s;
    }
    return std::nullopt;
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
