// Start-up: the command line, the order windows are made in, the error display for exceptions
// that escape handlers or start-up itself, and the exit code.
#include "Startup.h"

#include "About.h"
#include "Application.h"
#include "ErrorReporting.h"
#include "FormsTestSupport.h"
#include "MessageBoxSink.h"
#include "TerminationSignals.h"
#include "Unit1.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace corvane;
using namespace corvane::test;

namespace {

// ---- Command line

struct CommandLineCase
{
    QStringList arguments;
    int exitCode;
    bool runs;
    StartupOptions options;
    const char* errorFragment;
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P(CommandLine, Parses)
{
    const CommandLineCase& c = GetParam();
    const ParsedCommandLine parsed = parseCommandLine(QStringList{"corvane"} + c.arguments);
    EXPECT_EQ(parsed.exitCode, c.exitCode);
    ASSERT_EQ(parsed.options.has_value(), c.runs) << parsed.errorOutput.toStdString();
    if (c.runs) {
        EXPECT_EQ(parsed.options->inputFile, c.options.inputFile);
        EXPECT_EQ(parsed.options->loop, c.options.loop);
        EXPECT_EQ(parsed.options->deviceName, c.options.deviceName);
        EXPECT_EQ(parsed.options->listDevices, c.options.listDevices);
    }
    EXPECT_TRUE(parsed.errorOutput.contains(QString::fromLatin1(c.errorFragment)))
        << parsed.errorOutput.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLine,
    ::testing::Values(
        CommandLineCase{{}, 0, true, {}, ""},
        CommandLineCase{{"--input", "a.wav"}, 0, true, {"a.wav", false, "", false}, ""},
        CommandLineCase{{"--input=a.u8", "--loop"}, 0, true, {"a.u8", true, "", false}, ""},
        CommandLineCase{{"--device", "tvin"}, 0, true, {"", false, "tvin", false}, ""},
        CommandLineCase{{"--list-devices"}, 0, true, {"", false, "", true}, ""},
        CommandLineCase{{"--loop"}, 2, false, {}, "--loop"},
        CommandLineCase{{"--input"}, 2, false, {}, "input"},
        CommandLineCase{{"--input", ""}, 2, false, {}, "--input"},
        CommandLineCase{{"--input", "a.wav", "--device", "x"}, 2, false, {}, "together"},
        CommandLineCase{{"--list-devices", "--device", "x"}, 2, false, {}, "--list-devices"},
        CommandLineCase{{"--bogus"}, 2, false, {}, "bogus"},
        CommandLineCase{{"picture.wav"}, 2, false, {}, "picture.wav"},
        CommandLineCase{{"--help"}, 0, false, {}, ""}));

// ---- Exceptions escaping event handlers

class Thrower : public QObject
{
public:
    int events = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (++events == 1)
            throw std::runtime_error("The handler failed");
        return true;
    }
};

TEST(ErrorDisplay, ExceptionFromAnEventHandlerIsShownAndTheLoopGoesOn)
{
    initialiseApplication(*qApp);
    Thrower thrower;
    const auto boxes = answerBoxes([&] {
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        waitUntil([&] { return thrower.events == 1; });
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The handler failed.");
    EXPECT_EQ(boxes[0].title, "Corvane");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);

    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    EXPECT_TRUE(waitUntil([&] { return thrower.events == 2; }));
    setErrorReporter({});
}

// ---- Start-up

std::unique_ptr<RecordingDevice> fakeDevice(FakeRecordingDevice** seen)
{
    auto device = std::make_unique<FakeRecordingDevice>();
    *seen = device.get();
    return device;
}

TEST(Startup, MainWindowFirstAboutHiddenThenTheLoopUntilTheWindowCloses)
{
    initialiseApplication(*qApp);
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Corvane");
    FakeRecordingDevice* device = nullptr;
    RecordingLauncher launcher;
    bool shown = false;
    const int code = runReceiver(
        *qApp, [&] { return fakeDevice(&device); }, launcher,
        [&](TFormMain& form) {
            shown = true;
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(device->count(FakeRecordingDevice::Op::Open), 1);
            auto* about = form.findChild<TFormAbout*>();
            ASSERT_NE(about, nullptr);
            EXPECT_FALSE(about->isVisible());
            // Once the loop runs: wait for capture to come up, then leave by Exit.
            QTimer::singleShot(0, &form, [&form, device] {
                waitUntil([&] { return device->isRecording(); });
                QTest::mouseClick(form.Button4, Qt::LeftButton);
                // Closing reset the device once and did not wait for the drain.
                EXPECT_EQ(device->count(FakeRecordingDevice::Op::Reset), 1);
                EXPECT_EQ(device->count(FakeRecordingDevice::Op::Close), 0);
            });
        });
    EXPECT_TRUE(shown);
    EXPECT_EQ(code, 0);
    setErrorReporter({});
}

TEST(Startup, ExceptionDuringStartUpIsShownAndTheExitCodeSaysSo)
{
    initialiseApplication(*qApp);
    RecordingLauncher launcher;
    int code = -1;
    const auto boxes = answerBoxes([&] {
        code = runReceiver(
            *qApp,
            []() -> std::unique_ptr<RecordingDevice> {
                throw std::runtime_error("Cannot read /nowhere/tv.wav: no such file");
            },
            launcher);
    });
    EXPECT_EQ(code, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot read /nowhere/tv.wav: no such file.");
    EXPECT_EQ(boxes[0].title, "Corvane");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().begin(),
                             QApplication::topLevelWidgets().end(),
                             [](QWidget* w) { return qobject_cast<TFormMain*>(w) != nullptr; }));
    setErrorReporter({});
}

} // namespace

namespace {

TEST(CaptureMessages, WarningBoxWithEmptyCaptionAndOk)
{
    MessageBoxSink sink;
    const auto boxes = answerBoxes([&] { sink.showMessage("Can't open audio device"); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't open audio device"); // as the engine words it, no full stop
    EXPECT_EQ(boxes[0].title, "");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(boxes[0].modal);
}

TEST(TerminationSignals, SigtermBecomesACallOnTheEventLoop)
{
    int calls = 0;
    {
        TerminationSignals signalsSeen([&] { ++calls; });
        std::raise(SIGTERM);
        EXPECT_EQ(calls, 0); // not from inside the signal handler
        EXPECT_TRUE(waitUntil([&] { return calls == 1; }));
        std::raise(SIGINT);
        EXPECT_TRUE(waitUntil([&] { return calls == 2; }));
    }
    // Gone: the previous (default) handling is back.
    struct sigaction now = {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace
