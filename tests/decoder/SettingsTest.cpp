#include "DecoderSettings.h"

#include <climits>
#include <gtest/gtest.h>

using namespace corvane;

// Each field accepts both ends of its range and, just outside it and at the 32-bit extremes,
// names the field and its range; the whole set complains about its first bad field in the
// window's order.
TEST(DecoderSettings, ValidationNamesTheRangeOfTheFirstBadField)
{
    for (const SettingField field :
         {SettingField::Rows, SettingField::Cols, SettingField::SampleRate, SettingField::BlockSize,
          SettingField::SamplesPerPixel, SettingField::SamplesAveraged, SettingField::MinLevel,
          SettingField::MaxLevel}) {
        const SettingRange range = settingRange(field);
        const std::string message = settingCaption(field) + " must be between " +
                                    std::to_string(range.min) + " and " + std::to_string(range.max);
        EXPECT_EQ(checkSetting(field, range.min), std::nullopt) << message;
        EXPECT_EQ(checkSetting(field, range.max), std::nullopt) << message;
        for (std::int64_t bad : {std::int64_t{range.min} - 1, std::int64_t{range.max} + 1,
                                 std::int64_t{INT_MIN}, std::int64_t{INT_MAX} + 1})
            EXPECT_EQ(checkSetting(field, bad).value_or("accepted"), message) << bad;
    }
    DecoderSettings s;
    s.minLevel = 200; // maximum below minimum is allowed
    s.maxLevel = 10;
    EXPECT_EQ(checkSettings(s), std::nullopt);
    s.maxLevel = -1;
    s.samplesAveraged = 0;
    s.cols = 0;
    EXPECT_EQ(checkSettings(s).value_or(""), "Number of Cols must be between 1 and 1000");
}
