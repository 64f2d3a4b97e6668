// The real program under the test's X server, recording from a private PulseAudio source:
// a test card fed into the source after the window is up must show on screen exactly as
// corvane-decode paints the same bytes with the same settings. And how it refuses to start.
#include "FormsTestSupport.h"
#include "PrivatePulse.h"

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

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(kBin + u'/' + program, arguments);
    if (!process.waitForFinished(60000))
        return program + " did not finish";
    if (process.exitStatus() != QProcess::NormalExit)
        return program + " crashed";
    if (process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAllStandardError());
    return {};
}

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
    const QStringList settings = {"--rows",
                                  "32",
                                  "--cols",
                                  "30",
                                  "--samples-per-pixel",
                                  "3",
                                  "--min-level",
                                  "10",
                                  "--samples-averaged",
                                  "3"};
    constexpr qint64 kLength = 16 * 2880;
    const QString card = dir.filePath("card.u8");
    const QString expectedPicture = dir.filePath("expected.png");
    ASSERT_EQ(run("corvane-testcard", settings + QStringList{"--seconds", "2", "-o", card}), "");
    QFile file(card);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.size() >= kLength && file.resize(kLength));
    const QByteArray bytes = file.readAll();
    file.close();
    ASSERT_EQ(run("corvane-decode", settings + QStringList{"-o", expectedPicture, card}), "");
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
    if (!same) {
        shown.save(dir.filePath("shown.png"));
        dir.setAutoRemove(false);
    }
    EXPECT_TRUE(same) << "the picture differs; the screen grab is in " << dir.path().toStdString();
    ASSERT_EQ(program.state(), QProcess::Running);

    // Asked to end, it closes its window and leaves cleanly.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// ---- Refusing to start: one message on stderr, exit 2, nothing opened.

struct Refusal
{
    int exitCode = -1;
    QString err;
};

Refusal refusal(const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(kBin + "/corvane", arguments);
    if (!process.waitForFinished(20000))
        return {-1, "still running"};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(Refuses, WithoutADisplaySayingSoInOneLine)
{
    int free = 300; // a display number nobody serves
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free)))
        ++free;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        environment.remove(name);
    environment.insert("XDG_RUNTIME_DIR", QDir::tempPath() + "/nowhere");
    for (const QString& display : {QString(":%1").arg(free), QString()}) {
        environment.insert("DISPLAY", display);
        const Refusal r = refusal({}, environment);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("corvane-decode")) << r.err.toStdString();
    }
}

TEST(Refuses, ABadSettingAnywhereOnTheLine)
{
    const Refusal r = refusal({"--samples-averaged", "0", "--samples-averaged", "3"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--samples-averaged must be an integer between 1 and 128"))
        << r.err.toStdString();
}

TEST_F(EndToEnd, UnknownDeviceIsRefusedWithTheSourcesOnOffer)
{
    const Refusal r = refusal({"--device", "no-such-source"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("no-such-source")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QRegularExpression("\\n\\s*" + pulse.sourceName() + "\\s")))
        << r.err.toStdString();
}

} // namespace
