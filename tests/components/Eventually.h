#pragma once

#include <QString>
#include <QTest>
#include <cctype>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

// QTRY_* report to QtTest's log, which a GoogleTest run never reads: wait with these instead.
#define EXPECT_EVENTUALLY(cond) EXPECT_TRUE(QTest::qWaitFor([&] { return bool(cond); })) << #cond
#define ASSERT_EVENTUALLY(cond) ASSERT_TRUE(QTest::qWaitFor([&] { return bool(cond); })) << #cond

// A parameter's description as a test name: "Shift+Enter, default button" gives
// "ShiftEnterDefaultButton".
inline std::string testName(const char* what)
{
    std::string name;
    bool upper = true;
    for (const char* c = what; *c; ++c) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(*c));
        if (alnum)
            name += upper ? char(std::toupper(static_cast<unsigned char>(*c))) : *c;
        upper = !alnum;
    }
    return name;
}

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
