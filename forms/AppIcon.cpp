#include "AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

namespace corvane {

namespace {
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    constexpr int kCells = 8;
    const double cell = static_cast<double>(size) / kCells;
    const double middle = (kCells - 1) / 2.0;
    for (int row = 0; row < kCells; ++row) {
        for (int col = 0; col < kCells; ++col) {
            // A bright disc fading towards the edges, as a test picture would show it.
            const double distance = std::hypot(row - middle, col - middle) / (middle * 1.42);
            const int level = std::clamp(static_cast<int>(255 * (1.0 - distance)), 0, 255);
            painter.fillRect(QRectF(col * cell, row * cell, cell, cell),
                             QColor(level, level, level));
        }
    }
    return pixmap;
}
} // namespace

QIcon corvaneIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace corvane
