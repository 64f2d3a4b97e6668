#include "PictureOptions.h"

#include <array>
#include <cmath>

namespace corvane {

namespace {

struct NumberOption
{
    const char* name;
    double min, max;
    double PictureSettings::*field;
    const char* help;
};

const std::array<NumberOption, 3> kNumbers = {{
    {"brightness", PictureLimits::kMinBrightness, PictureLimits::kMaxBrightness,
     &PictureSettings::brightness, "Raises (or lowers, below 0) every level, -1..1 (default 0)."},
    {"contrast", PictureLimits::kMinContrast, PictureLimits::kMaxContrast,
     &PictureSettings::contrast, "Stretches the levels about mid grey, 0..10 (default 1)."},
    {"gamma", PictureLimits::kMinGamma, PictureLimits::kMaxGamma, &PictureSettings::gamma,
     "Lightens (above 1) or darkens the middle greys, 0.1..10 (default 1)."},
}};

QString got(const QString& value)
{
    return QStringLiteral("(got '%1')").arg(value);
}

} // namespace

void addPictureOptions(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        QStringLiteral("flip"),
        QStringLiteral("Mirrors the picture: h (left to right), v (top to bottom) or hv."),
        QStringLiteral("h|v|hv")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("rotate"),
        QStringLiteral("Turns the picture clockwise, after any flip; 90 and 270 make a portrait "
                       "picture landscape."),
        QStringLiteral("90|180|270")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("average"),
        QStringLiteral("Shows the mean of the last N frames: less noise on a still picture, "
                       "1..%1 (default 1)")
            .arg(PictureLimits::kMaxAverage),
        QStringLiteral("N")));
    for (const NumberOption& option : kNumbers)
        parser.addOption(QCommandLineOption(QString::fromLatin1(option.name),
                                            QString::fromLatin1(option.help), QStringLiteral("X")));
}

std::optional<QString> setPictureOption(PictureSettings& settings, const QString& name,
                                        const QString& value)
{
    const QString text = value.trimmed().toLower();
    if (name == QLatin1String("flip")) {
        if (text != QLatin1String("h") && text != QLatin1String("v") &&
            text != QLatin1String("hv") && text != QLatin1String("vh"))
            return QStringLiteral("--flip must be h, v or hv %1").arg(got(value));
        settings.flipHorizontal = text.contains(QLatin1Char('h'));
        settings.flipVertical = text.contains(QLatin1Char('v'));
        return std::nullopt;
    }
    if (name == QLatin1String("rotate")) {
        bool ok = false;
        const int degrees = text.toInt(&ok);
        if (!ok || (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270))
            return QStringLiteral("--rotate must be 90, 180 or 270 degrees clockwise %1")
                .arg(got(value));
        settings.rotation = degrees;
        return std::nullopt;
    }
    if (name == QLatin1String("average")) {
        bool ok = false;
        const int frames = text.toInt(&ok);
        if (!ok || frames < 1 || frames > PictureLimits::kMaxAverage)
            return QStringLiteral("--average must be a whole number of frames from 1 to %1 %2")
                .arg(PictureLimits::kMaxAverage)
                .arg(got(value));
        settings.average = frames;
        return std::nullopt;
    }
    for (const NumberOption& option : kNumbers) {
        if (name != QLatin1String(option.name))
            continue;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (!ok || !(number >= option.min && number <= option.max))
            return QStringLiteral("--%1 must be a number from %2 to %3 %4")
                .arg(name)
                .arg(option.min)
                .arg(option.max)
                .arg(got(value));
        settings.*option.field = number;
        return std::nullopt;
    }
    return QStringLiteral("--%1 is not a picture option").arg(name);
}

std::optional<QString> readPictureOptions(const QCommandLineParser& parser,
                                          PictureSettings& settings)
{
    PictureSettings read = settings;
    for (const char* name : {"flip", "rotate", "average", "brightness", "contrast", "gamma"}) {
        const QString option = QString::fromLatin1(name);
        for (const QString& value : parser.values(option))
            if (auto complaint = setPictureOption(read, option, value))
                return complaint;
    }
    settings = read;
    return std::nullopt;
}

} // namespace corvane
