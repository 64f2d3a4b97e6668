#include "Correlation.h"
#include "PictureAdjust.h"
#include "PictureOptions.h"

#include <gtest/gtest.h>
#include <random>

using namespace corvane;

namespace {

// Every pixel a different level: 10 * row + column + 1.
QImage numbered(int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.scanLine(y)[x] = static_cast<uchar>(10 * y + x + 1);
    return image;
}

int level(const QImage& image, int x, int y)
{
    return image.constScanLine(y)[x];
}

} // namespace

// Each output pixel comes from the input pixel the mirror and the clockwise turn put there.
TEST(Picture, OrientationMovesEveryPixelWhereTheTurnPutsIt)
{
    constexpr int W = 3, H = 2;
    const QImage in = numbered(W, H);
    const struct
    {
        const char* flip;
        const char* rotate;
        QPoint (*from)(int x, int y); // the input pixel shown at output (x, y)
    } cases[] = {
        {"h", "0", [](int x, int y) { return QPoint(W - 1 - x, y); }},
        {"v", "0", [](int x, int y) { return QPoint(x, H - 1 - y); }},
        {"hv", "0", [](int x, int y) { return QPoint(W - 1 - x, H - 1 - y); }},
        {nullptr, "90", [](int x, int y) { return QPoint(y, H - 1 - x); }},
        {nullptr, "180", [](int x, int y) { return QPoint(W - 1 - x, H - 1 - y); }},
        {nullptr, "270", [](int x, int y) { return QPoint(W - 1 - y, x); }},
        {"h", "90", [](int x, int y) { return QPoint(W - 1 - y, H - 1 - x); }},
    };
    for (const auto& c : cases) {
        PictureSettings settings;
        if (c.flip) {
            ASSERT_FALSE(setPictureOption(settings, "flip", c.flip));
        }
        ASSERT_FALSE(setPictureOption(settings, "rotate", c.rotate));
        const QImage out = adjustPicture(in, settings);
        SCOPED_TRACE(std::string(c.flip ? c.flip : "") + " " + c.rotate);
        ASSERT_EQ(out.size(), orientedSize(in.size(), settings));
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QPoint p = c.from(x, y);
                EXPECT_EQ(level(out, x, y), level(in, p.x(), p.y())) << x << "," << y;
            }
        // A quarter turn shows the 3:2 portrait picture 2:3 landscape.
        const LockedStandard turned = orientedStandard(LockedStandard{}, settings);
        const QImage shown = displayFrame(
            numbered(32, 48).transformed(QTransform().rotate(settings.rotation)), turned, 480);
        EXPECT_NEAR(double(shown.height()) / shown.width(), settings.rotation % 180 ? 2.0 / 3 : 1.5,
                    0.01);
    }
}

TEST(Picture, ToneMapsLevels)
{
    const struct
    {
        double brightness, contrast, gamma;
        int in, out;
    } cases[] = {
        {0, 1, 1, 77, 77},   {0.5, 1, 1, 0, 128},  {0.5, 1, 1, 200, 255}, {-0.5, 1, 1, 100, 0},
        {0, 0, 1, 17, 128},  {0, 2, 1, 255, 255},  {0, 1.5, 1, 100, 86},  {0, 1, 2, 64, 128},
        {0, 1, 2, 255, 255}, {0, 1, 0.5, 128, 64},
    };
    for (const auto& c : cases) {
        const PictureSettings settings{c.brightness, c.contrast, c.gamma};
        QImage in(2, 1, QImage::Format_Grayscale8);
        in.fill(c.in);
        EXPECT_EQ(level(adjustTone(in, settings), 1, 0), c.out)
            << c.brightness << " " << c.contrast << " " << c.gamma << " at " << c.in;
    }
}

TEST(Picture, AveragingTakesTheNoiseOutOfAStill)
{
    QImage clean(32, 48, QImage::Format_Grayscale8);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 32; ++x)
            clean.scanLine(y)[x] = static_cast<uchar>((x / 4 + y / 6) % 2 ? 200 : 40);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 60);
    const auto noisy = [&] {
        QImage frame = clean.copy();
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 32; ++x)
                frame.scanLine(y)[x] =
                    static_cast<uchar>(std::clamp(level(clean, x, y) + noise(random), 0.0, 255.0));
        return frame;
    };
    PictureProcessor processor;
    PictureSettings settings;
    settings.average = 16;
    processor.setSettings(settings);
    const double single = correlation(processor.process(noisy()), clean);
    QImage mean;
    for (int i = 0; i < 40; ++i) // more than 16, so old frames leave the mean
        mean = processor.process(noisy());
    EXPECT_EQ(processor.averager().count(), 16);
    EXPECT_LT(single, 0.85);
    EXPECT_GT(correlation(mean, clean), 0.98);

    // Only the last 16 count: after 16 flat frames, the noisy ones are gone.
    QImage flat(32, 48, QImage::Format_Grayscale8);
    flat.fill(90);
    for (int i = 0; i < 16; ++i)
        mean = processor.process(flat);
    EXPECT_EQ(mean, flat);
    // A new raster size starts afresh.
    QImage other(20, 10, QImage::Format_Grayscale8);
    other.fill(250);
    EXPECT_EQ(processor.process(other), other);
    EXPECT_EQ(processor.averager().count(), 1);
}

TEST(Picture, OptionsTakeGoodValuesAndNameBadOnes)
{
    const auto read = [](const QStringList& args, PictureSettings& settings) {
        QCommandLineParser parser;
        addPictureOptions(parser);
        EXPECT_TRUE(parser.parse(QStringList{"prog"} + args));
        return readPictureOptions(parser, settings);
    };
    PictureSettings s;
    ASSERT_FALSE(read({"--flip", "hv", "--rotate", "270", "--average", "8", "--gamma", "2.2",
                       "--contrast", "1.5", "--brightness", "-0.25"},
                      s));
    EXPECT_TRUE(s.flipHorizontal && s.flipVertical && s.rotation == 270 && s.average == 8 &&
                s.gamma == 2.2 && s.contrast == 1.5 && s.brightness == -0.25);
    // A bad value is named with its option, and nothing of that command line is taken.
    for (const QStringList& bad : {QStringList{"--rotate", "45"},
                                   {"--flip", "x"},
                                   {"--average", "0"},
                                   {"--average", "8", "--brightness", "2"},
                                   {"--gamma", "fast"},
                                   {"--contrast", "-1"}}) {
        PictureSettings untouched;
        const QString complaint = read(bad, untouched).value_or("");
        EXPECT_TRUE(complaint.startsWith(bad[bad.size() - 2] + " must be") &&
                    complaint.endsWith("(got '" + bad.back() + "')"))
            << complaint.toStdString();
        EXPECT_EQ(untouched.average, 1);
    }
}
