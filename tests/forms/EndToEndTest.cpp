// The real program under the test's X server, recording from a private PulseAudio source:
// a test card fed into the source after the window is up must show on screen exactly as
// corvane-decode paints the same bytes with the same settings. And how it refuses to start.
#include "FormsTestSupport.h"
#include "PrivatePulse.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane::test;

namespace {

const QString kBin = QStringLiteral(CORVANE_BIN_DIR);

// Where the picture sits in the window's client area: Panel1 at (6, 5), its bevel 4 wide.
const QRect kPicture(10, 9, 179, 196);

// The X window of the program's main window (510 x 305, titled "Corvane"), or 0.
WId findMainWindow()
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
    if (!xwininfo.waitForFinished(10000))
        return 0;
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*(0x[0-9a-f]+) "Corvane":.*\b510x305\+)"),
        QRegularExpression::MultilineOption);
    const auto match = line.match(QString::fromLocal8Bit(xwininfo.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pulse.start()) << pulse.log().toStdString();
    }

    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(10000);
        }
    }

    QTemporaryDir dir;
    PrivatePulse pulse;
    QProcess program;
};

TEST_F(EndToEnd, TheWindowShowsWhatTheDecoderPaintsFromTheSameBytes)
{
    // The window takes its settings from the command line as the tools do. 16 frames of this
    // raster: a whole number of frames (2880 samples) and of buffers (1024 bytes), so the last
    // frame is decoded and shown in full.
    const QStringList settings =
        QString("--rows 32 --cols 30 --samples-per-pixel 3 --min-level 10 --samples-averaged 3")
            .split(' ');
    constexpr qint64 kLength = 16 * 2880;
    const QString card = dir.filePath("card.u8");
    const QString expectedPicture = dir.filePath("expected.png");
    ASSERT_EQ(
        runTool("corvane-testcard", settings + QStringList{"--seconds", "2", "-o", card}).exitCode,
        0);
    QFile file(card);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.size() >= kLength && file.resize(kLength));
    const QByteArray bytes = file.readAll();
    file.close();
    ASSERT_EQ(
        runTool("corvane-decode", settings + QStringList{"-o", expectedPicture, card}).exitCode, 0);
    const QImage expected = QImage(expectedPicture).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(expected.size(), kPicture.size());
    ASSERT_NE(expected.pixel(40, 40), expected.pixel(0, 0)); // a picture, not a blank

    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(kBin + "/corvane", settings);
    ASSERT_TRUE(program.waitForStarted(10000));

    // Up means: the window is mapped and the program records from the source.
    WId window = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            window = findMainWindow();
            const auto outputs = pulse.pactl({"list", "short", "source-outputs"});
            return window != 0 && outputs && !outputs->trimmed().isEmpty();
        },
        20000))
        << "window " << window << ", program state " << program.state();

    pulse.feedInRealTime(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(pulse.waitFed(std::chrono::seconds(20)));

    QImage shown;
    const bool same = waitUntil(
        [&] {
            shown = QGuiApplication::primaryScreen()
                        ->grabWindow(window, kPicture.x(), kPicture.y(), kPicture.width(),
                                     kPicture.height())
                        .toImage()
                        .convertToFormat(QImage::Format_RGB32);
            return shown == expected;
        },
        10000);
    EXPECT_TRUE(same) << "the picture on screen differs from the decoder's";
    ASSERT_EQ(program.state(), QProcess::Running);

    // Asked to end, it closes its window and leaves cleanly.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// ---- Refusing to start: one message on stderr, exit 2, nothing opened.

TEST(Refuses, WithoutADisplayOrWithABadSettingAnywhereOnTheLine)
{
    int free = 300; // a display number nobody serves
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free)))
        ++free;
    ToolInput noDisplay;
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        noDisplay.environment.remove(name);
    noDisplay.environment.insert("XDG_RUNTIME_DIR", QDir::tempPath() + "/nowhere");
    ToolInput unserved = noDisplay, unset = noDisplay;
    unserved.environment.insert("DISPLAY", QString(":%1").arg(free));
    unset.environment.insert("DISPLAY", QString());
    // Without a display: one line, pointing at the headless tool.
    for (const auto& [args, in, message, lines] :
         std::vector<std::tuple<QStringList, ToolInput, QString, int>>{
             {{}, unserved, "corvane-decode", 1},
             {{}, unset, "corvane-decode", 1},
             {{"--samples-averaged", "0", "--samples-averaged", "3"},
              {},
              "--samples-averaged must be an integer between 1 and 128",
              2}}) {
        const ToolRun r = runTool("corvane", args, in);
        EXPECT_EQ(r.exitCode, 2) << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), lines) << r.err.constData();
        EXPECT_TRUE(r.err.contains(message.toUtf8())) << r.err.constData();
    }
}

TEST_F(EndToEnd, UnknownDeviceIsRefusedWithTheSourcesOnOffer)
{
    const ToolRun r = runTool("corvane", {"--device", "no-such-source"});
    EXPECT_EQ(r.exitCode, 2);
    const QString err = QString::fromLocal8Bit(r.err);
    EXPECT_TRUE(err.contains("no-such-source")) << r.err.constData();
    EXPECT_TRUE(err.contains(QRegularExpression("\\n\\s*" + pulse.sourceName() + "\\s")))
        << r.err.constData();
}

} // namespace
