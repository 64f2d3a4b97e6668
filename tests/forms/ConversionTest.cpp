// Reading the settings boxes and wording the error display.
#include "ErrorDisplay.h"
#include "StrToInt.h"

#include <gtest/gtest.h>
#include <limits>

using namespace corvane;

TEST(StrToInt, AcceptsDecimalAndHexWithinInt32)
{
    const std::pair<const char16_t*, std::int32_t> accepted[] = {
        {u"-0", 0},
        {u"+5", 5},
        {u"007", 7},
        {u"  28800", 28800},
        {u"\t4\t", 4},
        {u"$10", 16},
        {u"0XfF", 255},
        {u"-$10", -16},
        {u"+0x10", 16},
        {u"2147483647", std::numeric_limits<std::int32_t>::max()},
        {u"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {u"-$80000000", std::numeric_limits<std::int32_t>::min()},
        {u"00000000000000000000000012", 12}};
    for (const auto& [text, value] : accepted)
        EXPECT_EQ(StrToInt(QString::fromUtf16(text)), value)
            << QString::fromUtf16(text).toStdString();
}

TEST(StrToInt, RejectsTheRestQuotingTheBox)
{
    for (const char16_t* text :
         {u"abc",       u"",           u"   ",          u"+",
          u"$",         u"0x",         u"1 2",          u"1.5",
          u"1e3",       u"--1",        u"- 1",          u"0x-1",
          u"0x1G",      u"2147483648", u"-2147483649",  u"99999999999999999999",
          u"$80000000", u"0xFFFFFFFF", u"\u0661\u0662", u"\uFF11",
          u"24\n"}) {
        const QString box = QString::fromUtf16(text);
        try {
            StrToInt(box);
            ADD_FAILURE() << "accepted '" << box.toStdString() << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()),
                      QStringLiteral("'%1' is not a valid integer value").arg(box));
        }
    }
}

// The full stop is 0x2E: "-", ",", "!", ")", a blank and a closing quote (all below it) stay as
// they are; digits, letters, "/" and anything beyond ASCII gain one.
TEST(DefaultErrorText, FullStopOnlyAfterCharactersAboveIt)
{
    for (const QString kept : {"Done.", "", "Stop!", "(see)", "a,", "a-", "a ", "'x'"})
        EXPECT_EQ(withFullStop(kept), kept);
    for (const QString& gains :
         {QString("between 1 and 128"), QString("/"), QStringLiteral("caf\u00e9")})
        EXPECT_EQ(withFullStop(gains), gains + '.');
}
