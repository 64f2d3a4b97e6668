#include "NbtvTransmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <samplerate.h>

namespace corvane {

namespace {

// Area-average resampling of one axis: out[k] is the mean of in over [k*r, (k+1)*r).
std::vector<double> reduce(const std::vector<double>& in, int inCount, int outCount, int stride,
                           int other)
{
    std::vector<double> out(static_cast<std::size_t>(outCount) * static_cast<std::size_t>(other));
    const double r = static_cast<double>(inCount) / outCount;
    for (int o = 0; o < other; ++o) {
        for (int k = 0; k < outCount; ++k) {
            const double a = k * r, b = (k + 1) * r;
            double sum = 0;
            for (auto i = static_cast<int>(std::floor(a)); i < inCount && i < b; ++i) {
                const double overlap = std::min<double>(i + 1, b) - std::max<double>(i, a);
                if (overlap > 0)
                    sum += overlap *
                           in[static_cast<std::size_t>(o) * static_cast<std::size_t>(stride) +
                              static_cast<std::size_t>(i)];
            }
            out[static_cast<std::size_t>(o) * static_cast<std::size_t>(outCount) +
                static_cast<std::size_t>(k)] = sum / r;
        }
    }
    return out;
}

// The picture's signal over one frame as steps: a level from each start on, in samples.
struct Steps
{
    std::vector<double> start, level, integral;
    double length = 0;

    void add(double at, double value)
    {
        if (!start.empty() && at <= start.back()) {
            level.back() = value;
            return;
        }
        start.push_back(at);
        level.push_back(value);
    }
    void finish(double frameLength)
    {
        length = frameLength;
        integral.assign(start.size() + 1, 0.0);
        for (std::size_t i = 0; i < start.size(); ++i) {
            const double end = i + 1 < start.size() ? start[i + 1] : length;
            integral[i + 1] = integral[i] + level[i] * (end - start[i]);
        }
    }
    // Integral from the start of the transmission to t.
    double at(double t) const
    {
        const double frames = std::floor(t / length);
        const double local = t - frames * length;
        const auto it = std::upper_bound(start.begin(), start.end(), local);
        const auto i = static_cast<std::size_t>(std::max<long>(it - start.begin() - 1, 0));
        return frames * integral.back() + integral[i] + level[i] * (local - start[i]);
    }
};

} // namespace

std::optional<FrameMark> frameMarkByName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    if (key == QLatin1String("missing"))
        return FrameMark::Missing;
    if (key == QLatin1String("wide"))
        return FrameMark::Wide;
    if (key == QLatin1String("gap"))
        return FrameMark::Gap;
    return std::nullopt;
}

QImage testPicture(int width, int height)
{
    QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_Grayscale8);
    const double w = image.width(), h = image.height();
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const double u = (x + 0.5) / w, v = (y + 0.5) / h;
            double g = 0.35;
            if (v < 0.22) {
                // A wedge, black on the left to white on the right.
                g = u;
            } else if (v > 0.8) {
                // Bars of unequal width.
                g = u < 0.15 ? 1.0 : u < 0.45 ? 0.0 : u < 0.6 ? 0.7 : u < 0.9 ? 0.15 : 0.5;
            } else {
                // A white disc left of centre with a black core, over a dark-grey field that
                // holds a bright square at its lower right.
                const double dx = (u - 0.4) * w, dy = (v - 0.47) * h;
                const double r = std::hypot(dx, dy) / (0.3 * w);
                if (r < 0.35)
                    g = 0.0;
                else if (r < 1.0)
                    g = 1.0;
                else if (u > 0.72 && u < 0.92 && v > 0.62 && v < 0.74)
                    g = 0.85;
            }
            line[x] = static_cast<uchar>(std::lround(std::clamp(g, 0.0, 1.0) * 255));
        }
    }
    return image;
}

QImage rasterFor(const QImage& picture, const LockedStandard& standard)
{
    const int outW = std::max(standard.lines, 1);
    const int outH = standard.elementsPerLine();
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    const int inW = std::max(grey.width(), 1), inH = std::max(grey.height(), 1);
    std::vector<double> pixels(static_cast<std::size_t>(inW) * static_cast<std::size_t>(inH), 0.0);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(inW) +
                   static_cast<std::size_t>(x)] = grey.constScanLine(y)[x];
    // Rows first (each row reduced to outW), then columns via a transposed copy.
    const std::vector<double> rows = reduce(pixels, inW, outW, inW, inH);
    std::vector<double> transposed(static_cast<std::size_t>(outW) * static_cast<std::size_t>(inH));
    for (int y = 0; y < inH; ++y)
        for (int x = 0; x < outW; ++x)
            transposed[static_cast<std::size_t>(x) * static_cast<std::size_t>(inH) +
                       static_cast<std::size_t>(y)] =
                rows[static_cast<std::size_t>(y) * static_cast<std::size_t>(outW) +
                     static_cast<std::size_t>(x)];
    const std::vector<double> both = reduce(transposed, inH, outH, inH, outW);
    QImage raster(outW, outH, QImage::Format_Grayscale8);
    for (int y = 0; y < outH; ++y)
        for (int x = 0; x < outW; ++x)
            raster.scanLine(y)[x] = static_cast<uchar>(std::lround(
                std::clamp(both[static_cast<std::size_t>(x) * static_cast<std::size_t>(outH) +
                                static_cast<std::size_t>(y)],
                           0.0, 255.0)));
    return raster;
}

std::vector<float> transmit(const QImage& picture, const TransmitterOptions& options)
{
    const LockedStandard& standard = options.standard;
    const int lines = std::max(standard.lines, 1);
    const int elements = standard.elementsPerLine();
    const QImage raster = picture.width() == lines && picture.height() == elements &&
                                  picture.format() == QImage::Format_Grayscale8
                              ? picture
                              : rasterFor(picture, standard);

    const double period = options.sampleRate / std::max(standard.lineRateHz, 1.0);
    const double sync = kSyncShare * period;
    const double gapLines = options.mark == FrameMark::Gap ? 1.5 : 0.0;
    Steps steps;
    for (int k = 0; k < lines; ++k) {
        const double lineStart = k * period;
        const bool first = k == 0;
        steps.add(lineStart, first && options.mark == FrameMark::Missing ? kBlackLevel : 0.0);
        const double videoStart = lineStart + sync;
        const double element = (period - sync) / elements;
        for (int j = 0; j < elements; ++j) {
            const int x = lines - 1 - k;
            const int y = elements - 1 - j;
            double g = raster.constScanLine(y)[x] / 255.0;
            if (options.negative)
                g = 1 - g;
            steps.add(videoStart + j * element, kBlackLevel + (1 - kBlackLevel) * g);
        }
        if (first && options.mark == FrameMark::Wide) {
            // The wide pulse covers the start of the first line's picture.
            std::vector<double> keepStart, keepLevel;
            for (std::size_t i = 0; i < steps.start.size(); ++i) {
                const double at = steps.start[i];
                if (at > lineStart && at < lineStart + 3 * sync)
                    continue;
                keepStart.push_back(at);
                keepLevel.push_back(steps.level[i]);
            }
            // The picture element under the pulse's end resumes after it.
            double resume = kBlackLevel;
            for (std::size_t i = 0; i < steps.start.size(); ++i)
                if (steps.start[i] <= lineStart + 3 * sync)
                    resume = steps.level[i];
            steps.start = keepStart;
            steps.level = keepLevel;
            std::vector<double>::iterator pos =
                std::upper_bound(steps.start.begin(), steps.start.end(), lineStart + 3 * sync);
            const auto index = pos - steps.start.begin();
            steps.start.insert(pos, lineStart + 3 * sync);
            steps.level.insert(steps.level.begin() + index, resume);
        }
    }
    if (gapLines > 0)
        steps.add(lines * period, kBlackLevel);
    steps.finish((lines + gapLines) * period);

    const auto count =
        static_cast<std::size_t>(std::max(0.0, std::round(options.seconds * options.sampleRate)));
    std::vector<float> out(count);
    const double level = std::clamp(options.level, 0.0, 1.0);
    const double omega = 2 * std::numbers::pi * options.amHz / options.sampleRate;
    double before = steps.at(-0.5);
    for (std::size_t n = 0; n < count; ++n) {
        // Each sample is the mean over its own interval, so edges fall between samples.
        const double after = steps.at(static_cast<double>(n) + 0.5);
        const double u = after - before;
        before = after;
        const double value =
            options.amHz > 0 ? u * std::sin(omega * static_cast<double>(n)) : 2 * u - 1;
        out[n] = static_cast<float>(level * value);
    }
    return out;
}

void acCouple(std::vector<float>& signal, double sampleRate, double cutoffHz)
{
    if (signal.empty() || !(cutoffHz > 0))
        return;
    const double rc = 1 / (2 * std::numbers::pi * cutoffHz);
    const double a = rc / (rc + 1 / sampleRate);
    double x1 = 0, y1 = 0; // the capacitor starts uncharged
    for (float& s : signal) {
        const double y = a * (y1 + s - x1);
        x1 = s;
        y1 = y;
        s = static_cast<float>(y);
    }
}

void addNoise(std::vector<float>& signal, double snrDb, std::uint32_t seed)
{
    if (signal.empty())
        return;
    double sum = 0, squares = 0;
    for (const float s : signal) {
        sum += s;
        squares += static_cast<double>(s) * s;
    }
    const double n = static_cast<double>(signal.size());
    const double power = std::max(squares / n - (sum / n) * (sum / n), 1e-12);
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, std::sqrt(power / std::pow(10.0, snrDb / 10)));
    for (float& s : signal)
        s = static_cast<float>(s + noise(engine));
}

std::optional<std::vector<float>> changeSpeed(const std::vector<float>& signal, double percent,
                                              QString* error)
{
    const double ratio = 1 / (1 + percent / 100);
    if (!(percent > -50 && percent < 100) || !src_is_valid_ratio(ratio)) {
        if (error)
            *error = QStringLiteral("a speed change of %1 % is out of range").arg(percent);
        return std::nullopt;
    }
    std::vector<float> out(static_cast<std::size_t>(std::ceil(signal.size() * ratio)) + 16);
    SRC_DATA data{};
    data.data_in = signal.data();
    data.input_frames = static_cast<long>(signal.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    if (const int status = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1)) {
        if (error)
            *error =
                QStringLiteral("cannot resample: %1").arg(QString::fromUtf8(src_strerror(status)));
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    return out;
}

std::vector<std::uint8_t> toUnsigned8(const std::vector<float>& signal)
{
    std::vector<std::uint8_t> out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const float s = std::isfinite(signal[i]) ? signal[i] : 0.0f;
        out[i] = static_cast<std::uint8_t>(std::clamp(std::lround(s * 128.0f) + 128, 0L, 255L));
    }
    return out;
}

} // namespace corvane
