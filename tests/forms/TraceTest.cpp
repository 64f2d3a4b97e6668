// The timing trace over a live window: running byte counts and zlib's CRC-32 per decoded
// buffer (what bench/live-figures-report.py checks), a paint and then a flush per repaint.
#include "FormsTestSupport.h"
#include "Receiver.h"
#include "TimingTrace.h"
#include "Unit1.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace corvane;
using namespace corvane::test;

TEST(TimingTrace, LogsDecodedBuffersPaintsAndFlushes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    QString error;
    EXPECT_EQ(TimingTrace::open(dir.filePath("none/trace.txt"), &error), nullptr);
    EXPECT_TRUE(error.contains("none/trace.txt")) << error.toStdString();

    std::vector<std::uint8_t> bytes(2 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    {
        auto trace = TimingTrace::open(path, &error);
        ASSERT_NE(trace, nullptr) << error.toStdString();
        auto fake = std::make_unique<FakeRecordingDevice>();
        FakeRecordingDevice* device = fake.get();
        Receiver receiver(std::move(fake), std::make_unique<RecordingSink>());
        RecordingLauncher launcher;
        TFormMain form(receiver, launcher);
        trace->watch(receiver.engine(), form, *form.ImageAlign);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form)); // unexposed, repaint() paints nothing
        ASSERT_TRUE(waitUntil([&] { return receiver.engine().state().capturing; }));
        device->feed(bytes);
        ASSERT_TRUE(waitUntil([&] { return trace->bytes() == 2048 && trace->flushes() > 0; }));
        const std::int64_t paints = trace->paints();
        form.ImageAlign->repaint(); // a paint outside an update is not a flush
        EXPECT_EQ(trace->paints(), paints + 1);
    }

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList decoded;
    QString kinds;
    long long last = 0;
    for (const QString& line :
         QString::fromLatin1(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        const long long t = line.section(u' ', 1, 1).toLongLong();
        EXPECT_GE(t, last) << "one clock, never going back: " << line.toStdString();
        last = t;
        kinds += line[0];
        if (line.startsWith(u'D'))
            decoded << line.section(u' ', 2);
    }
    const auto expected = [&](uInt n) {
        return QStringLiteral("1024 %1 %2")
            .arg(n)
            .arg(crc32(0, bytes.data(), n), 8, 16, QChar(u'0'));
    };
    EXPECT_EQ(decoded, (QStringList{expected(1024), expected(2048)}));
    EXPECT_TRUE(kinds.contains("PF")) << kinds.toStdString();
}
