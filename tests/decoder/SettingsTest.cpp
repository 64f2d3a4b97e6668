#include "DecoderSettings.h"

#include <climits>
#include <gtest/gtest.h>

using namespace corvane;

TEST(DecoderSettings, FreshStartHoldsTheDefaults)
{
    const DecoderSettings s;
    EXPECT_EQ(s.rows, 24);
    EXPECT_EQ(s.cols, 24);
    EXPECT_EQ(s.sampleRate, 28800);
    EXPECT_EQ(s.blockSize, 1024);
    EXPECT_EQ(s.samplesPerPixel, 4);
    EXPECT_EQ(s.samplesAveraged, 5);
    EXPECT_EQ(s.minLevel, 0);
    EXPECT_EQ(s.maxLevel, 255);
    EXPECT_EQ(checkSettings(s), std::nullopt);
}

struct RangeCase
{
    SettingField field;
    std::int32_t min;
    std::int32_t max;
    const char* message;

    friend void PrintTo(const RangeCase& c, std::ostream* os) { *os << settingCaption(c.field); }
};

class SettingRanges : public ::testing::TestWithParam<RangeCase>
{
};

TEST_P(SettingRanges, AcceptBothEndsAndNameTheRangeOutside)
{
    const RangeCase c = GetParam();
    EXPECT_EQ(settingRange(c.field).min, c.min);
    EXPECT_EQ(settingRange(c.field).max, c.max);
    EXPECT_EQ(checkSetting(c.field, c.min), std::nullopt);
    EXPECT_EQ(checkSetting(c.field, c.max), std::nullopt);
    for (std::int64_t bad : {std::int64_t{c.min} - 1, std::int64_t{c.max} + 1,
                             std::int64_t{INT_MIN}, std::int64_t{INT_MAX} + 1})
        EXPECT_EQ(checkSetting(c.field, bad).value_or("accepted"), c.message) << bad;

    DecoderSettings s;
    settingRef(s, c.field) = c.max;
    EXPECT_EQ(checkSettings(s), std::nullopt);
    settingRef(s, c.field) = c.min - 1;
    EXPECT_EQ(checkSettings(s).value_or("accepted"), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    DecoderSettings, SettingRanges,
    ::testing::Values(
        RangeCase{SettingField::Rows, 1, 1000, "Number of Rows must be between 1 and 1000"},
        RangeCase{SettingField::Cols, 1, 1000, "Number of Cols must be between 1 and 1000"},
        RangeCase{SettingField::SampleRate, 1000, 192000,
                  "Sample rate must be between 1000 and 192000"},
        RangeCase{SettingField::BlockSize, 1, 4194304,
                  "Sample block size must be between 1 and 4194304"},
        RangeCase{SettingField::SamplesPerPixel, 1, 100000,
                  "Sample per pixel must be between 1 and 100000"},
        RangeCase{SettingField::SamplesAveraged, 1, 128,
                  "Samples averaged must be between 1 and 128"},
        RangeCase{SettingField::MinLevel, 0, 255, "Min level must be between 0 and 255"},
        RangeCase{SettingField::MaxLevel, 0, 255, "Max level must be between 0 and 255"}));

TEST(DecoderSettings, MaximumBelowMinimumIsAccepted)
{
    DecoderSettings s;
    s.minLevel = 200;
    s.maxLevel = 10;
    EXPECT_EQ(checkSettings(s), std::nullopt);
}

TEST(DecoderSettings, FirstComplaintFollowsTheFieldOrder)
{
    DecoderSettings s;
    s.maxLevel = -1;
    s.samplesAveraged = 0;
    s.cols = 0;
    EXPECT_EQ(checkSettings(s).value_or(""), "Number of Cols must be between 1 and 1000");
}
