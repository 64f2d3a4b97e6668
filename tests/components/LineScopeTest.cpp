#include "LineScope.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using corvane::LineScope;

namespace {

QRgb at(LineScope& scope, int x, int y)
{
    return scope.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(x, y);
}

// The rows of column x the trace passes through.
std::vector<int> traceRows(LineScope& scope, int x)
{
    const QImage image = scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (image.pixel(x, y) == LineScope::kTraceColour)
            rows.push_back(y);
    return rows;
}

// A line of 101 samples: sync at -0.8 for the first 10, then picture at `level`.
std::vector<float> line(float level)
{
    std::vector<float> samples(101, level);
    std::fill_n(samples.begin(), 10, -0.8f);
    return samples;
}

} // namespace

// On a scale of -1 (bottom row 100) to 1 (top row 0), a level v is on row 50 - 50 v, a sample
// i of 101 in column 2 i.
TEST(LineScope, LevelsSyncAndTraceWhereTheSignalPutsThem)
{
    LineScope scope;
    scope.resize(201, 101);
    scope.setRange(-1, 1);
    scope.setTrace(line(0.5f), -0.4f, -0.2f, 0.8f, 0, 10);
    const struct
    {
        QPoint where;
        QRgb colour;
    } expected[] = {
        {{150, 70}, LineScope::kSliceColour}, {{150, 60}, LineScope::kBlackColour},
        {{150, 10}, LineScope::kWhiteColour}, {{150, 25}, LineScope::kTraceColour},
        {{10, 90}, LineScope::kTraceColour},  {{10, 40}, LineScope::kSyncColour},
        {{150, 40}, LineScope::kBackColour},  {{30, 40}, LineScope::kBackColour},
    };
    for (const auto& e : expected)
        EXPECT_EQ(at(scope, e.where.x(), e.where.y()), e.colour)
            << e.where.x() << "," << e.where.y();

    // Two lines overlaid, apart as hum would move them; a sample that is no number leaves a gap.
    std::vector<float> two = line(0.5f);
    const std::vector<float> lifted = line(-0.5f);
    two.insert(two.end(), lifted.begin(), lifted.end());
    two[150] = std::numeric_limits<float>::quiet_NaN();
    scope.setLines(two.data(), two.size(), 2);
    EXPECT_EQ(traceRows(scope, 150), (std::vector<int>{25, 75}));
    EXPECT_EQ(traceRows(scope, 98), std::vector<int>{25}); // the gap around sample 49

    // Scaled to fit: an inverted weak signal (sync pointing up at 0.02) spans the height.
    std::vector<float> weak = line(-0.02f);
    std::fill_n(weak.begin(), 10, 0.02f);
    scope.setRange(0, 0);
    scope.setTrace(weak, 0.01f, -0.01f, -0.02f, 0, 10);
    const std::vector<int> sync = traceRows(scope, 10), picture = traceRows(scope, 150);
    ASSERT_EQ(sync.size(), 1u);
    ASSERT_EQ(picture.size(), 1u);
    EXPECT_TRUE(sync[0] >= 3 && sync[0] <= 6 && picture[0] >= 94 && picture[0] <= 97)
        << sync[0] << " " << picture[0];
}
