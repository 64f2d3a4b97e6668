// The test transmitter and headless locked decoding as a user runs them.
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(LockedTools, TransmitterToDecoderGivesUprightFramesAtTheAspect)
{
    QTemporaryDir dir;
    struct Case
    {
        QStringList send, receive;
        const char* file;
        double aspect, lineRate;
    };
    const Case cases[] = {
        // 16-bit WAV at its own rate, through a sound card's coupling and some noise.
        {{"--standard", "nbtva", "--ac-coupling", "20", "--snr", "30"}, {}, "nbtva.wav", 1.5, 400},
        // Upside down, porches, a stretch after sync, hum.
        {{"--standard", "nbtva", "--invert", "--porch", "4", "--frame-mark", "after", "--hum",
          "10"},
         {},
         "rough.wav",
         1.5,
         400},
        // Raw 8-bit at 28.8 kHz, a slow clock, quiet.
        {{"--standard", "baird", "--rate", "28800", "--speed", "-3", "--level", "0.1"},
         {"--standard", "baird", "--sample-rate", "28800"},
         "baird.u8",
         7.0 / 3,
         375 * 0.97},
    };
    for (const Case& c : cases) {
        const QString signal = dir.filePath(c.file);
        const ToolRun sent =
            runTool("corvane-testcard", c.send + QStringList{"--seconds", "2", "-o", signal});
        ASSERT_EQ(sent.exitCode, 0) << sent.err.constData();
        const QString picture = dir.filePath(QStringLiteral("%1.png").arg(c.file));
        const QString frames = dir.filePath(QStringLiteral("%1-frames").arg(c.file));
        const ToolRun got =
            runTool("corvane-decode",
                    QStringList{"--locked", "--stats", "-o", picture, "--frames", frames, signal} +
                        c.receive);
        ASSERT_EQ(got.exitCode, 0) << got.err.constData();
        const QJsonObject stats = QJsonDocument::fromJson(got.out.trimmed()).object();
        EXPECT_TRUE(stats.value("locked").toBool()) << got.out.constData();
        EXPECT_NEAR(stats.value("lineRateHz").toDouble(), c.lineRate, 0.005 * c.lineRate);
        const int count = stats.value("frames").toInt();
        EXPECT_GE(count, 18);
        const QStringList written = QDir(frames).entryList({"frame-*.png"}, QDir::Files);
        EXPECT_EQ(written.size(), count);
        EXPECT_TRUE(written.contains("frame-000001.png"));
        const QImage image(picture);
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(image.height(), 320);
        EXPECT_NEAR(double(image.height()) / image.width(), c.aspect, 0.02);
    }
}

TEST(LockedTools, NeverLockingSaysSoAndFails)
{
    QTemporaryDir dir;
    const QString silence = dir.filePath("silence.u8");
    ASSERT_TRUE(writeFile(silence, QByteArray(28800, char(128))));
    const ToolRun got =
        runTool("corvane-decode", {"--locked", "--stats", "-o", dir.filePath("out.png"), silence});
    EXPECT_EQ(got.exitCode, 1);
    EXPECT_TRUE(got.err.contains("never locked")) << got.err.constData();
    EXPECT_FALSE(QJsonDocument::fromJson(got.out.trimmed()).object().value("locked").toBool());
    EXPECT_FALSE(QFile::exists(dir.filePath("out.png")));
}

} // namespace
