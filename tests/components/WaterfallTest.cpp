#include "Waterfall.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

using corvane::Waterfall;

namespace {

struct Band
{
    int bins, width, strongBin;
    double centreHz, spanHz;
};

class WaterfallBand : public ::testing::TestWithParam<Band>
{
};

// The strong bin's column is the brightest of the newest row and of the line above it; a click
// there asks for that bin's offset, and the marker stands where it is told.
TEST_P(WaterfallBand, AStrongBinShowsWhereItIsAndAClickAsksForItsOffset)
{
    const Band& p = GetParam();
    Waterfall w;
    w.resize(p.width, 200);
    std::vector<float> row(std::size_t(p.bins), -90);
    for (int k = 0; k < p.bins; ++k)
        row[std::size_t(k)] += float(k % 7); // noise
    row[std::size_t(p.strongBin)] = -30;
    for (int n = 0; n < 3; ++n)
        w.addRow(row, p.centreHz, p.spanHz);
    const double x = (p.strongBin + 0.5) * p.width / p.bins;
    const double offset = (p.strongBin - p.bins / 2) * p.spanHz / p.bins;
    w.setMarker(-offset, true);
    const QImage image = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int newest = Waterfall::kScaleHeight + Waterfall::kLineHeight + 1;
    int brightest = 0;
    for (int c = 0; c < p.width; ++c)
        if (qGray(image.pixel(c, newest)) > qGray(image.pixel(brightest, newest)))
            brightest = c;
    EXPECT_NEAR(brightest, x, 1.0 + double(p.width) / p.bins);
    EXPECT_GT(qGray(image.pixel(brightest, newest)), qGray(image.pixel(p.width / 8, newest)) + 100);
    // The line's highest point is over the strong bin.
    int lineTop = -1;
    for (int y = Waterfall::kScaleHeight + 2; y < newest && lineTop < 0; ++y)
        for (int c = 0; c < p.width && lineTop < 0; ++c)
            if (image.pixel(c, y) == Waterfall::kLineColour)
                lineTop = c;
    EXPECT_NEAR(lineTop, x, 2.0 + double(p.width) / p.bins);
    const int markerX = int(std::lround((-offset / p.spanHz + 0.5) * p.width));
    int markedAt = -1;
    for (int c = 0; c < p.width; ++c)
        if (image.pixel(c, 150) == Waterfall::kFoundColour)
            markedAt = c;
    EXPECT_NEAR(markedAt, markerX, 1);

    QSignalSpy asked(&w, &Waterfall::tuneRequested);
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(int(x), 150));
    ASSERT_EQ(asked.count(), 1);
    EXPECT_NEAR(asked[0][0].toDouble(), offset, p.spanHz / p.width);
}

INSTANTIATE_TEST_SUITE_P(Bands, WaterfallBand,
                         ::testing::Values(Band{512, 512, 384, 0, 2.4e6},
                                           Band{1024, 300, 100, 27.2e6, 250000}),
                         [](const auto& info) {
                             return "bins" + std::to_string(info.param.bins) + "width" +
                                    std::to_string(info.param.width);
                         });

// Past the ring's end the newest row still comes first, the one before it right under it.
TEST(Waterfall, RowsFallInOrderPastTheRingsEnd)
{
    Waterfall w;
    w.resize(256, Waterfall::kScaleHeight + Waterfall::kLineHeight + 100);
    const auto brightestIn = [&](int y) {
        const QImage image = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int best = 0;
        for (int c = 0; c < image.width(); ++c)
            if (qGray(image.pixel(c, y)) > qGray(image.pixel(best, y)))
                best = c;
        return best;
    };
    std::vector<float> row(256, -90);
    for (int n = 0; n < Waterfall::kHistoryRows + 5; ++n) {
        std::fill(row.begin(), row.end(), -90.0f);
        row[std::size_t(10 + n % 200)] = -30;
        w.addRow(row, 0, 1e6);
    }
    const int newest = Waterfall::kScaleHeight + Waterfall::kLineHeight;
    for (int age = 0; age < 8; ++age)
        EXPECT_EQ(brightestIn(newest + age), 10 + (Waterfall::kHistoryRows + 4 - age) % 200);
}

} // namespace
