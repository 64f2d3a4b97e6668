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
    if (key == QLatin1String("gap") || key == QLatin1String("before"))
        return FrameMark::Gap;
    if (key == QLatin1String("after"))
        return FrameMark::After;
    if (key == QLatin1String("none"))
        return FrameMark::None;
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
    const double stretch = options.mark == FrameMark::After ? options.stretch * period : 0.0;
    const double front = std::clamp(options.frontPorch, 0.0, 0.3) * period;
    const double back = std::clamp(options.backPorch, 0.0, 0.3) * period;
    Steps steps;
    for (int k = 0; k < lines; ++k) {
        const bool first = k == 0;
        const double lineStart = k * period + (first ? 0.0 : stretch);
        const bool wide = first && options.mark == FrameMark::Wide;
        steps.add(lineStart, first && options.mark == FrameMark::Missing ? kBlackLevel : 0.0);
        // The wide pulse covers the start of the first line's picture.
        const double syncEnd = lineStart + (wide ? 3 * sync : sync);
        steps.add(syncEnd, kBlackLevel);
        const double videoStart = lineStart + sync + back + (first ? stretch : 0.0);
        const double videoEnd = lineStart + period + (first ? stretch : 0.0) - front;
        const double element = (videoEnd - videoStart) / elements;
        for (int j = 0; j < elements; ++j) {
            const double at = videoStart + j * element;
            if (at + element <= syncEnd)
                continue;
            double g = raster.constScanLine(elements - 1 - j)[lines - 1 - k] / 255.0;
            if (options.negative)
                g = 1 - g;
            steps.add(std::max(at, syncEnd), kBlackLevel + (1 - kBlackLevel) * g);
        }
        steps.add(videoEnd, kBlackLevel);
    }
    steps.finish((lines + gapLines) * period + stretch);

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
        double value = options.amHz > 0 ? u * std::sin(omega * static_cast<double>(n)) : 2 * u - 1;
        if (options.invert)
            value = -value;
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

void addHum(std::vector<float>& signal, double sampleRate, double percent, double hz)
{
    if (signal.empty())
        return;
    const auto [lo, hi] = std::minmax_element(signal.begin(), signal.end());
    const double amplitude = percent / 100 * (*hi - *lo) / 2;
    const double omega = 2 * std::numbers::pi * hz / sampleRate;
    for (std::size_t n = 0; n < signal.size(); ++n) {
        const double t = omega * static_cast<double>(n);
        signal[n] += static_cast<float>(amplitude * (std::sin(t) + std::sin(3 * t + 1) / 3));
    }
}

void addFading(std::vector<float>& signal, double sampleRate, double depthDb, double hz)
{
    const double omega = 2 * std::numbers::pi * hz / sampleRate;
    for (std::size_t n = 0; n < signal.size(); ++n) {
        const double db = -depthDb * 0.5 * (1 - std::cos(omega * static_cast<double>(n)));
        signal[n] *= static_cast<float>(std::pow(10.0, db / 20));
    }
}

std::vector<float> addWow(const std::vector<float>& signal, double percent, double hz,
                          double sampleRate)
{
    std::vector<float> out;
    out.reserve(signal.size());
    const double omega = 2 * std::numbers::pi * hz / sampleRate;
    double at = 0;
    for (std::size_t n = 0; at + 1 < static_cast<double>(signal.size()); ++n) {
        const auto i = static_cast<std::size_t>(at);
        const double f = at - static_cast<double>(i);
        out.push_back(static_cast<float>((1 - f) * signal[i] + f * signal[i + 1]));
        at += 1 + percent / 100 * std::sin(omega * static_cast<double>(n));
    }
    return out;
}

void addCuts(std::vector<float>& signal, double sampleRate, double everySeconds, double skipSeconds)
{
    const auto every = static_cast<std::size_t>(std::max(1.0, everySeconds * sampleRate));
    const auto skip = static_cast<std::size_t>(std::max(0.0, skipSeconds * sampleRate));
    std::vector<float> out;
    out.reserve(signal.size());
    for (std::size_t at = 0; at < signal.size(); at += every + skip)
        out.insert(out.end(), signal.begin() + static_cast<long>(at),
                   signal.begin() + static_cast<long>(std::min(signal.size(), at + every)));
    signal = std::move(out);
}

std::vector<float> withSound(const std::vector<float>& vision, double sampleRate, int visionChannel,
                             double soundLevel, std::uint32_t seed)
{
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, 0.15);
    std::vector<float> out(2 * vision.size());
    double low = 0;
    for (std::size_t n = 0; n < vision.size(); ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        // Speech-like: tones that come and go, over a low rumble of noise.
        low += 0.05 * (noise(engine) - low);
        const double tones =
            std::sin(2 * std::numbers::pi * 220 * t) * (0.5 + 0.5 * std::sin(7 * t)) +
            0.5 * std::sin(2 * std::numbers::pi * 1250 * t + std::sin(3 * t));
        const double sound = soundLevel * std::clamp(0.6 * tones + 2 * low, -1.0, 1.0);
        out[2 * n + static_cast<std::size_t>(visionChannel != 0)] = vision[n];
        out[2 * n + static_cast<std::size_t>(visionChannel == 0)] = static_cast<float>(sound);
    }
    return out;
}

std::optional<std::vector<float>> throughPath(std::vector<float> signal, double sampleRate,
                                              const RealPath& path, QString* error)
{
    if (path.speedPercent != 0) {
        auto changed = changeSpeed(signal, path.speedPercent, error);
        if (!changed)
            return std::nullopt;
        signal = std::move(*changed);
    }
    if (path.wowPercent != 0)
        signal = addWow(signal, path.wowPercent, path.wowHz, sampleRate);
    if (path.cutEverySeconds > 0)
        addCuts(signal, sampleRate, path.cutEverySeconds, 0.1237);
    if (path.fadeDb > 0)
        addFading(signal, sampleRate, path.fadeDb);
    acCouple(signal, sampleRate, path.acHz);
    if (path.humPercent > 0)
        addHum(signal, sampleRate, path.humPercent);
    if (path.noisy)
        addNoise(signal, path.snrDb, path.seed);
    return signal;
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
