#include "DecoderSettings.h"

#include <climits>
#include <gtest/gtest.h>

using namespace corvane;

// Each field accepts both ends of its range and names the range just outside it and at the
// 32-bit extremes; the whole set complains about its first bad field in the window's order.
TEST(DecoderSettings, ValidationNamesTheRangeOfTheFirstBadField)
{
    const std::pair<SettingField, const char*> fields[] = {
        {SettingField::Rows, "Number of Rows must be between 1 and 1000"},
        {SettingField::Cols, "Number of Cols must be between 1 and 1000"},
        {SettingField::SampleRate, "Sample rate must be between 1000 and 192000"},
        {SettingField::BlockSize, "Sample block size must be between 1 and 4194304"},
        {SettingField::SamplesPerPixel, "Sample per pixel must be between 1 and 100000"},
        {SettingField::SamplesAveraged, "Samples averaged must be between 1 and 128"},
        {SettingField::MinLevel, "Min level must be between 0 and 255"},
        {SettingField::MaxLevel, "Max level must be between 0 and 255"}};
    for (const auto& [field, message] : fields) {
        const SettingRange range = settingRange(field);
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
