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
#include <sys/stat.h>

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

// ---- Ending: asked to end (SIGTERM) it leaves cleanly, whatever it was doing.

// Starts the program; true when it is still running after a while (no crash on the way).
bool runsOn(QProcess& program, const QStringList& args, const QProcessEnvironment& environment)
{
    program.setProcessEnvironment(environment);
    program.start(kBin + "/corvane", args);
    return program.waitForStarted() && !program.waitForFinished(2500);
}

// A capture message at start-up comes before the program takes SIGTERM over: then the signal
// ends it as it ends any program.
bool endsWhenAsked(QProcess& program)
{
    program.terminate();
    return program.waitForFinished(5000);
}

TEST(Ends, WhenAskedWhileShowingACaptureMessageOrReadingAFifo)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("live.u8");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A writer that never stops: the reading must not outlive the window.
    QProcess writer;
    writer.start("sh", {"-c", "while :; do head -c 800 /dev/zero | tr '\\0' '\\200'; sleep 0.1; "
                              "done > " +
                                  fifo});
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert("QT_QPA_PLATFORM", "offscreen"); // no X connection for the box's title
    offscreen.insert("PULSE_SERVER", "unix:" + dir.filePath("no-server")); // a capture message
    for (const auto& [args, environment] : std::vector<std::pair<QStringList, QProcessEnvironment>>{
             {{"--input", fifo}, QProcessEnvironment::systemEnvironment()}, {{}, offscreen}}) {
        QProcess program;
        EXPECT_TRUE(runsOn(program, args, environment)) << args.join(' ').toStdString();
        EXPECT_TRUE(endsWhenAsked(program)) << args.join(' ').toStdString();
    }
    writer.kill();
    writer.waitForFinished();
}

// An X server whose only client leaves resets itself; the display probe before Qt's own
// connection must not make the program that client (Qt aborts connecting during the reset).
// The race is won in a few starts of twenty, so the test starts it ten times.
TEST(Ends, OnlyWhenAskedWhenItIsTheXServersFirstClient)
{
    QTemporaryDir dir;
    QByteArray card(4000, char(0x80));
    ASSERT_TRUE(writeFile(dir.filePath("card.u8"), card));
    int number = 400;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    for (int i = 0; i < 10; ++i) {
        QProcess xvfb; // -noreset would hide the reset
        xvfb.start("Xvfb",
                   {QString(":%1").arg(number), "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(socket); }, 10000));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", QString(":%1").arg(number));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        QProcess program;
        EXPECT_TRUE(runsOn(program, {"--input", dir.filePath("card.u8"), "--loop"}, environment))
            << "start " << i << ": " << program.readAllStandardError().constData();
        EXPECT_TRUE(endsWhenAsked(program)) << "start " << i;
        xvfb.terminate();
        xvfb.waitForFinished();
    }
}

} // namespace
