#pragma once

#include <QString>
#include <QTest>
#include <gtest/gtest.h>

// QTRY_* report to QtTest's log, which a GoogleTest run never reads: wait with these instead.
#define EXPECT_EVENTUALLY(cond) EXPECT_TRUE(QTest::qWaitFor([&] { return bool(cond); })) << #cond
#define ASSERT_EVENTUALLY(cond) ASSERT_TRUE(QTest::qWaitFor([&] { return bool(cond); })) << #cond
