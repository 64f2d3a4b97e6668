// Reading the settings boxes and wording the error display.
#include "ErrorDisplay.h"
#include "StrToInt.h"

#include <gtest/gtest.h>
#include <limits>
#include <ostream>

using namespace corvane;

namespace {

struct Accepted
{
    const char16_t* text;
    std::int32_t value;

    friend void PrintTo(const Accepted& c, std::ostream* os)
    {
        *os << QString::fromUtf16(c.text).toStdString();
    }
};

using StrToIntAccepts = ::testing::TestWithParam<Accepted>;

TEST_P(StrToIntAccepts, Value)
{
    EXPECT_EQ(StrToInt(QString::fromUtf16(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntAccepts,
    ::testing::Values(Accepted{u"24", 24}, Accepted{u"0", 0}, Accepted{u"-0", 0},
                      Accepted{u"+5", 5}, Accepted{u"-17", -17}, Accepted{u"007", 7},
                      Accepted{u"  28800", 28800}, Accepted{u"1024  ", 1024}, Accepted{u"\t4\t", 4},
                      Accepted{u"$10", 16}, Accepted{u"0x1F", 31}, Accepted{u"0XfF", 255},
                      Accepted{u"-$10", -16}, Accepted{u"+0x10", 16},
                      Accepted{u"2147483647", std::numeric_limits<std::int32_t>::max()},
                      Accepted{u"-2147483648", std::numeric_limits<std::int32_t>::min()},
                      Accepted{u"$7FFFFFFF", std::numeric_limits<std::int32_t>::max()},
                      Accepted{u"-$80000000", std::numeric_limits<std::int32_t>::min()},
                      Accepted{u"00000000000000000000000012", 12}));

using StrToIntRejects = ::testing::TestWithParam<const char16_t*>;

TEST_P(StrToIntRejects, WithTheBoxTextQuoted)
{
    const QString text = QString::fromUtf16(GetParam());
    try {
        StrToInt(text);
        FAIL() << "accepted '" << text.toStdString() << "'";
    } catch (const ConversionError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntRejects,
                         ::testing::Values(u"abc", u"", u"   ", u"+", u"-", u"$", u"0x", u"1 2",
                                           u"12abc", u"1.5", u"1e3", u"--1", u"+-1", u"- 1",
                                           u"0x-1", u"$ 1", u"0x1G", u"2147483648", u"-2147483649",
                                           u"99999999999999999999", u"$80000000", u"0xFFFFFFFF",
                                           u"\u0661\u0662", u"\uFF11", u"24\n"));

struct FullStop
{
    const char16_t* message;
    const char16_t* shown;

    friend void PrintTo(const FullStop& c, std::ostream* os)
    {
        *os << QString::fromUtf16(c.message).toStdString();
    }
};

using DefaultErrorText = ::testing::TestWithParam<FullStop>;

TEST_P(DefaultErrorText, FullStopOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(withFullStop(QString::fromUtf16(GetParam().message)),
              QString::fromUtf16(GetParam().shown));
}

// The full stop is 0x2E: "-" (0x2D), "," (0x2C), "!" (0x21), ")" (0x29) and a blank stay as
// they are, and so does a closing quote (0x27); digits, letters, "/" and anything beyond
// ASCII gain one.
INSTANTIATE_TEST_SUITE_P(
    Messages, DefaultErrorText,
    ::testing::Values(FullStop{u"'abc' is not a valid integer value",
                               u"'abc' is not a valid integer value."},
                      FullStop{u"Done.", u"Done."}, FullStop{u"", u""},
                      FullStop{u"Stop!", u"Stop!"}, FullStop{u"(see above)", u"(see above)"},
                      FullStop{u"a,", u"a,"}, FullStop{u"a-", u"a-"}, FullStop{u"a ", u"a "},
                      FullStop{u"between 1 and 128", u"between 1 and 128."}, FullStop{u"/", u"/."},
                      FullStop{u"'x'", u"'x'"}, FullStop{u"caf\u00e9", u"caf\u00e9."}));

} // namespace
