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
#include <ostream>
#include <stdexcept>

using namespace corvane;
using namespace corvane::test;

namespace {

// ---- Command line

struct CommandLineCase
{
    const char* name;
    QStringList arguments;
    int exitCode;
    std::optional<StartupOptions> options; // none: the program does not run
    const char* errorFragment = "";

    friend void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }
};

using CommandLine = ::testing::TestWithParam<CommandLineCase>;

TEST_P(CommandLine, Parses)
{
    const CommandLineCase& c = GetParam();
    const ParsedCommandLine parsed = parseCommandLine(QStringList{"corvane"} + c.arguments);
    EXPECT_EQ(parsed.exitCode, c.exitCode);
    ASSERT_EQ(parsed.options.has_value(), c.options.has_value())
        << parsed.errorOutput.toStdString();
    if (c.options) {
        EXPECT_EQ(parsed.options->inputFile, c.options->inputFile);
        EXPECT_EQ(parsed.options->loop, c.options->loop);
        EXPECT_EQ(parsed.options->deviceName, c.options->deviceName);
        EXPECT_EQ(parsed.options->listDevices, c.options->listDevices);
        EXPECT_EQ(parsed.options->settings, c.options->settings);
    }
    EXPECT_TRUE(parsed.errorOutput.contains(QString::fromLatin1(c.errorFragment)))
        << parsed.errorOutput.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLine,
    ::testing::Values(
        CommandLineCase{"None", {}, 0, StartupOptions{}},
        CommandLineCase{
            "Input", {"--input", "a.wav"}, 0, StartupOptions{"a.wav", false, "", false}},
        CommandLineCase{
            "InputLoop", {"--input=a.u8", "--loop"}, 0, StartupOptions{"a.u8", true, "", false}},
        CommandLineCase{
            "Device", {"--device", "tvin"}, 0, StartupOptions{"", false, "tvin", false}},
        CommandLineCase{"ListDevices", {"--list-devices"}, 0, StartupOptions{"", false, "", true}},
        CommandLineCase{"LoopAlone", {"--loop"}, 2, std::nullopt, "--loop"},
        CommandLineCase{"InputWithoutFile", {"--input"}, 2, std::nullopt, "input"},
        CommandLineCase{"InputEmpty", {"--input", ""}, 2, std::nullopt, "--input"},
        CommandLineCase{
            "InputAndDevice", {"--input", "a.wav", "--device", "x"}, 2, std::nullopt, "together"},
        CommandLineCase{"ListAndDevice",
                        {"--list-devices", "--device", "x"},
                        2,
                        std::nullopt,
                        "--list-devices"},
        CommandLineCase{"Unknown", {"--bogus"}, 2, std::nullopt, "bogus"},
        CommandLineCase{"BareFile", {"picture.wav"}, 2, std::nullopt, "picture.wav"},
        CommandLineCase{"Help", {"--help"}, 0, std::nullopt},
        CommandLineCase{"HelpAllIsNotOffered", {"--help-all"}, 2, std::nullopt, "help-all"},
        CommandLineCase{"RepeatedSettingOneBad",
                        {"--rows", "0x", "--rows=30", "--sample-rate", "38400"},
                        2,
                        std::nullopt,
                        "--rows must be an integer between 1 and 1000 (got '0x')"},
        CommandLineCase{
            "RepeatedSettingsLastWins",
            {"--rows", "40", "--rows=30", "--samples-averaged", "2"},
            0,
            StartupOptions{"", false, "", false, DecoderSettings{30, 24, 28800, 1024, 4, 2}}},
        CommandLineCase{"RepeatedDeviceOneEmpty",
                        {"--device", "", "--device", "x"},
                        2,
                        std::nullopt,
                        "--device"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Exceptions escaping event handlers, start-up

// The application as main() sets it up; the error display's hook is unset after each test.
class Started : public ::testing::Test
{
protected:
    void SetUp() override { initialiseApplication(*qApp); }
    void TearDown() override { setErrorReporter({}); }
    RecordingLauncher launcher;
};

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

TEST_F(Started, ExceptionFromAnEventHandlerIsShownAndTheLoopGoesOn)
{
    Thrower thrower;
    const auto boxes = answerBoxes([&] {
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        waitUntil([&] { return thrower.events == 1; });
    });
    EXPECT_EQ(boxes, std::vector{errorBox("The handler failed.")});

    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    EXPECT_TRUE(waitUntil([&] { return thrower.events == 2; }));
}

TEST_F(Started, MainWindowFirstAboutHiddenThenTheLoopUntilTheWindowCloses)
{
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Corvane");
    FakeRecordingDevice* device = nullptr;
    bool shown = false;
    const int code = runReceiver(
        *qApp, {},
        [&] {
            auto fake = std::make_unique<FakeRecordingDevice>();
            device = fake.get();
            return fake;
        },
        launcher,
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
}

TEST_F(Started, CommandLineSettingsAreShownAndCaptureStartsWithThem)
{
    const DecoderSettings given{32, 30, 38400, 512, 2, 3, 20, 200};
    FakeRecordingDevice* device = nullptr;
    bool shown = false;
    runReceiver(
        *qApp, given,
        [&] {
            auto fake = std::make_unique<FakeRecordingDevice>();
            device = fake.get();
            return fake;
        },
        launcher,
        [&](TFormMain& form) {
            shown = true;
            EXPECT_EQ(form.EditNRows->text(), "32");
            EXPECT_EQ(form.EditNCols->text(), "30");
            EXPECT_EQ(form.EditSampleRate->text(), "38400");
            EXPECT_EQ(form.EditSampleBlockSize->text(), "512");
            EXPECT_EQ(form.EditSamplePerPixel->text(), "2");
            EXPECT_EQ(form.EditSampleAveraged->text(), "3");
            EXPECT_EQ(form.SliderMin->value(), 20);
            EXPECT_EQ(form.SliderMax->value(), 200);
            EXPECT_EQ(device->count(FakeRecordingDevice::Op::Open), 1);
            for (const auto& call : device->calls()) {
                if (call.op == FakeRecordingDevice::Op::Open) {
                    EXPECT_EQ(call.format.sampleRate, 38400);
                }
                if (call.op == FakeRecordingDevice::Op::Prepare) {
                    EXPECT_EQ(call.bufferLength, 512);
                }
            }
            QTimer::singleShot(0, &form, [&form] { form.close(); });
        });
    EXPECT_TRUE(shown);
}

TEST_F(Started, ExceptionDuringStartUpIsShownAndTheExitCodeSaysSo)
{
    int code = -1;
    const auto boxes = answerBoxes([&] {
        code = runReceiver(
            *qApp, {},
            []() -> std::unique_ptr<RecordingDevice> {
                throw std::runtime_error("Cannot read /nowhere/tv.wav: no such file");
            },
            launcher);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(boxes, std::vector{errorBox("Cannot read /nowhere/tv.wav: no such file.")});
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TFormMain*>(w), nullptr);
}

// A box runs an event loop of its own: a signal must end the program under it, not wait for OK.
TEST_F(Started, TerminationEndsTheProgramUnderAMessageBox)
{
    bool answeredByHand = false;
    const int code = runReceiver(
        *qApp, {}, [] { return std::make_unique<FakeRecordingDevice>(); }, launcher,
        [&](TFormMain& form) {
            new TerminationSignals([&form] { endProgram(form); }, &form);
            QTimer::singleShot(0, &form, [] { MessageBoxSink().showMessage("Error"); });
            auto* poll = new QTimer(&form);
            QObject::connect(poll, &QTimer::timeout, [poll] {
                if (QApplication::activeModalWidget()) {
                    poll->stop();
                    std::raise(SIGTERM);
                }
            });
            poll->start(10);
            // Should the signal not end it, fail instead of hanging.
            QTimer::singleShot(10000, &form, [&] {
                answeredByHand = true;
                QCoreApplication::exit(0); // leaves the box's loop and the main one
            });
        });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(answeredByHand);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(CaptureMessages, WarningBoxWithEmptyCaptionAndOk)
{
    MessageBoxSink sink;
    const auto boxes = answerBoxes([&] { sink.showMessage("Can't open audio device"); });
    // As the engine words it, no full stop.
    EXPECT_EQ(boxes, (std::vector<BoxSeen>{{"", "Can't open audio device", QMessageBox::Warning}}));
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
