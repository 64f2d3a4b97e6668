#pragma once

#include <QImage>
#include <cmath>

// Pearson correlation of the grey levels of two pictures, both brought to size (by default the
// first one's); 0 where either is flat.
inline double correlation(const QImage& a, const QImage& b, QSize size = {})
{
    if (size.isEmpty())
        size = a.size();
    const auto grey = [size](const QImage& image) {
        return image.convertToFormat(QImage::Format_Grayscale8)
            .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const QImage x = grey(a), y = grey(b);
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    const double n = double(size.width()) * size.height();
    for (int row = 0; row < size.height(); ++row)
        for (int col = 0; col < size.width(); ++col) {
            const double p = x.constScanLine(row)[col], q = y.constScanLine(row)[col];
            sx += p, sy += q, sxx += p * p, syy += q * q, sxy += p * q;
        }
    const double vx = sxx - sx * sx / n, vy = syy - sy * sy / n;
    return vx > 0 && vy > 0 ? (sxy - sx * sy / n) / std::sqrt(vx * vy) : 0;
}
