// The command-line tools as a user runs them, and the test card as the decoder sees it.
#include "ImageSurface.h"
#include "PixelDecoder.h"
#include "TestCard.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

QJsonObject stats(const ToolRun& r)
{
    return QJsonDocument::fromJson(r.out.trimmed()).object();
}

class Tools : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList entries() const { return QDir(dir.path()).entryList(QDir::Files); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Tools, TestCardDecodesToTheSamePictureFromWavRawAndStdin)
{
    const QStringList card = {"--min-level", "20", "--seconds", "0.5"};
    ASSERT_EQ(runTool("corvane-testcard", card + QStringList{"-o", path("card.wav")}).exitCode, 0);
    ASSERT_EQ(runTool("corvane-testcard", card + QStringList{"-o", path("card.u8")}).exitCode, 0);
    const ToolRun piped = runTool("corvane-testcard", card + QStringList{"-o", "-"});
    ASSERT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.out.size(), 14400);

    const QStringList decode = {"--min-level", "20", "--stats"};
    const ToolRun wav =
        runTool("corvane-decode", decode + QStringList{"-o", path("wav.png"), path("card.wav")});
    const ToolRun raw =
        runTool("corvane-decode",
                decode + QStringList{"--block-size", "7", "-o", path("raw.ppm"), path("card.u8")});
    const ToolRun in =
        runTool("corvane-decode", decode + QStringList{"-o", path("in.png"), "-"}, {piped.out});
    ASSERT_EQ(wav.exitCode, 0) << wav.err.constData();
    ASSERT_EQ(raw.exitCode, 0) << raw.err.constData();
    ASSERT_EQ(in.exitCode, 0) << in.err.constData();

    const QJsonObject s = stats(wav);
    EXPECT_EQ(s["samples"].toInteger(), 14400);
    EXPECT_EQ(s["elements"].toInteger(), 3600);
    EXPECT_EQ(s["repaints"].toInteger(), 37); // 150 columns: 6 frames and 6 columns
    EXPECT_EQ(s["row"].toInt(), 0);
    EXPECT_EQ(s["col"].toInt(), 6);
    EXPECT_FALSE(s["clip"].toBool());
    EXPECT_GT(s["sync_counter"].toInt(), 0);
    EXPECT_EQ(stats(raw), s);
    EXPECT_EQ(stats(in), s);

    const QImage picture(path("wav.png"));
    ASSERT_EQ(picture.size(), QSize(179, 196));
    EXPECT_EQ(QImage(path("raw.ppm")).convertToFormat(picture.format()), picture);
    EXPECT_EQ(QImage(path("in.png")), picture);
    EXPECT_EQ(picture.pixel(40, 3), qRgb(0, 202, 255)); // the sync band, top row
    EXPECT_EQ(picture.pixel(100, 100), qRgb(0, 0, 0));  // never painted
}

TEST_F(Tools, ClippedBurstPaintsTheRestOfItsFrameRed)
{
    // 1.75 frames: the burst of frame 1 sits in the middle of the raster.
    ASSERT_EQ(
        runTool("corvane-testcard", {"--clip", "--seconds", "0.14", "-o", path("c.raw")}).exitCode,
        0);
    const ToolRun r = runTool("corvane-decode", {"--stats", "-o", path("c.png"), path("c.raw")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(stats(r)["clip"].toBool());
    const QImage picture(path("c.png"));
    // Column 13 of the raster (x = 72 - 39) was painted after the burst: red only.
    const QRgb late = picture.pixel(34, 40);
    EXPECT_EQ(qGreen(late), 0);
    EXPECT_EQ(qBlue(late), 0);
    // Column 3 (x = 63) belongs to frame 1 before the burst: grey.
    const QRgb early = picture.pixel(64, 40);
    EXPECT_EQ(qRed(early), qGreen(early));
    EXPECT_EQ(qGreen(early), qBlue(early));
}

// Mistakes a user can make: a clear one-line message, the right exit code, nothing written.
TEST_F(Tools, MistakesAreReportedAndLeaveNothingBehind)
{
    ASSERT_TRUE(writeFile(path("garbage.wav"), "RIFF....WAVEnot really"));
    ASSERT_TRUE(writeFile(path("ok.raw"), QByteArray(100, char(128))));

    const struct
    {
        const char* tool;
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"corvane-decode",
         {"--rows", "0", "-o", "DIR/p.png", "DIR/ok.raw"},
         2,
         "--rows must be an integer between 1 and 1000 (got '0')"},
        {"corvane-decode",
         {"--block-size", "99999999999", "DIR/ok.raw"},
         2,
         "--block-size must be an integer between 1 and 4194304"},
        {"corvane-decode", {"--frobnicate", "DIR/ok.raw"}, 2, "Unknown option"},
        {"corvane-decode", {"--help-all"}, 2, "Unknown option 'help-all'"},
        {"corvane-decode", {"DIR/ok.raw"}, 2, "nothing to do"},
        {"corvane-decode",
         {"--cols", "0", "--cols", "24", "--stats", "DIR/ok.raw"},
         2,
         "--cols must be an integer between 1 and 1000 (got '0')"},
        {"corvane-testcard", {"--help-all"}, 2, "Unknown option 'help-all'"},
        {"corvane-testcard",
         {"--seconds", "-1", "--seconds", "1", "-o", "DIR/t.wav"},
         2,
         "--seconds must be a number above 0"},
        {"corvane-decode", {"--rows"}, 2, "Missing value after '--rows'"},
        {"corvane-decode", {"DIR/ok.raw", "DIR/ok.raw"}, 2, "expects exactly one INPUT"},
        {"corvane-decode", {"-o", "DIR/p.jpg", "DIR/ok.raw"}, 2, "-o must name a .png"},
        {"corvane-decode", {"-o", "DIR/p.png", "DIR"}, 1, "it is a directory"},
        {"corvane-decode",
         {"-o", "DIR/p.png", "DIR/garbage.wav"},
         1,
         "cannot read 'DIR/garbage.wav' as a sound file"},
        {"corvane-decode",
         {"-o", "DIR/no/such/dir/p.png", "DIR/ok.raw"},
         1,
         "cannot write 'DIR/no/such/dir/p.png'"},
        {"corvane-testcard", {"--seconds", "nan", "-o", "DIR/t.wav"}, 2, "above 0"},
        {"corvane-testcard", {"--seconds", "1e9", "-o", "DIR/t.wav"}, 2, "up to 10800"},
        {"corvane-testcard", {"--seconds", "1e-9", "-o", "DIR/t.wav"}, 2, "holds no sample"},
        {"corvane-testcard",
         {"--standard", "nbtva", "--stereo", "left", "-o", "DIR/t.u8"},
         1,
         "raw 8-bit samples are mono"},
        {"corvane-testcard", {"-o", "DIR/none/t.raw"}, 1, "cannot write 'DIR/none/t.raw'"}};
    for (const auto& c : cases) {
        QStringList args;
        for (QString arg : c.args)
            args << arg.replace("DIR", dir.path());
        const ToolRun r = runTool(c.tool, args);
        SCOPED_TRACE(args.join(' ').toStdString());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.constData();
        EXPECT_TRUE(r.err.contains(QString(c.message).replace("DIR", dir.path()).toUtf8()))
            << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(entries(), (QStringList{"garbage.wav", "ok.raw"}));
    }
}
