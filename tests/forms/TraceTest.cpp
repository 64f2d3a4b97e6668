// The timing trace: its checksum is zlib's CRC-32 (the measuring script checks the bytes
// decoded against the bytes fed with Python's zlib), its lines carry running counts, and the
// main window writes a line per decoded buffer and per repaint only when a trace is open.
#include "Trace.h"

#include "FormsTestSupport.h"
#include "MainWindowFixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string_view>

namespace corvane::test {
namespace {

struct CrcCase
{
    const char* name;
    std::string_view text;
    std::uint32_t crc;

    friend void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }
};

class TraceCrc : public ::testing::TestWithParam<CrcCase>
{
};

TEST_P(TraceCrc, MatchesZlibWholeAndInPieces)
{
    const auto [name, text, expected] = GetParam();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(TimingTrace::crc32(0, bytes, text.size()), expected);
    // Running over buffers split anywhere gives the same value.
    for (std::size_t split = 0; split <= text.size(); ++split)
        EXPECT_EQ(TimingTrace::crc32(TimingTrace::crc32(0, bytes, split), bytes + split,
                                     text.size() - split),
                  expected)
            << "split at " << split;
}

INSTANTIATE_TEST_SUITE_P(KnownValues, TraceCrc,
                         ::testing::Values(CrcCase{"Empty", "", 0},
                                           CrcCase{"OneLetter", "a", 0xE8B7BE43u},
                                           CrcCase{"Digits", "123456789", 0xCBF43926u},
                                           CrcCase{"ExtremeBytes",
                                                   std::string_view("\x00\xFF\x80\x7F", 4),
                                                   0x64E51F17u}),
                         [](const auto& info) { return std::string(info.param.name); });

QStringList lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

TEST(TimingTrace, AnUnwritablePathIsReportedNotFatal)
{
    QString error;
    EXPECT_EQ(TimingTrace::open(QStringLiteral("/nonexistent-dir/trace.txt"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("/nonexistent-dir/trace.txt")))
        << error.toStdString();
}

TEST(TimingTraceWindow, DecodedBuffersAndRepaintsAreLoggedWithRunningCounts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    std::vector<std::uint8_t> bytes(2 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    {
        auto fake = std::make_unique<FakeRecordingDevice>();
        FakeRecordingDevice* device = fake.get();
        Receiver receiver(std::move(fake), std::make_unique<RecordingSink>());
        QString error;
        ASSERT_TRUE(receiver.openTrace(path, &error)) << error.toStdString();
        RecordingLauncher launcher;
        TFormMain form(receiver, launcher);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(waitUntil([&] {
            QCoreApplication::processEvents();
            return receiver.engine().state().capturing;
        }));
        const std::int64_t paintsBefore = receiver.trace()->paints();
        device->feed(bytes);
        QCoreApplication::sendPostedEvents(&form);
        EXPECT_EQ(receiver.trace()->bytes(), 2048);
        // The decoder asked for a repaint; it reaches the screen through the event loop.
        EXPECT_TRUE(waitUntil([&] {
            QCoreApplication::processEvents();
            return receiver.trace()->paints() > paintsBefore && receiver.trace()->flushes() > 0;
        }));
    }

    const QStringList trace = lines(path);
    QStringList decoded;
    for (const QString& line : trace)
        if (line.startsWith(u'D'))
            decoded << line;
    ASSERT_EQ(decoded.size(), 2) << trace.join(u'\n').toStdString();
    const auto crcHex = [&](std::size_t n) {
        return QStringLiteral("%1").arg(TimingTrace::crc32(0, bytes.data(), n), 8, 16,
                                        QLatin1Char('0'));
    };
    EXPECT_EQ(decoded[0].section(u' ', 2), QStringLiteral("1024 1024 ") + crcHex(1024));
    EXPECT_EQ(decoded[1].section(u' ', 2), QStringLiteral("1024 2048 ") + crcHex(2048));
    // Every line's time is on one clock, never going back.
    long long last = 0;
    for (const QString& line : trace) {
        const long long t = line.section(u' ', 1, 1).toLongLong();
        EXPECT_GE(t, last) << line.toStdString();
        last = t;
    }
    EXPECT_TRUE(trace.filter(QRegularExpression(QStringLiteral("^P \\d+$"))).size() > 0);
    EXPECT_TRUE(trace.filter(QRegularExpression(QStringLiteral("^F \\d+$"))).size() > 0);
}

} // namespace
} // namespace corvane::test
