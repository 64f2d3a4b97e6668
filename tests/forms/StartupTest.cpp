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

#include <QLineEdit>
#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace corvane;
using namespace corvane::test;

namespace {

// Mistakes on the command line end the run with code 2 and say what was wrong.
TEST(CommandLine, RefusesWhatCannotGoTogether)
{
    // A repeated setting takes the last value once every value is valid.
    const ParsedCommandLine repeated =
        parseCommandLine({"corvane", "--rows", "40", "--rows=30", "--samples-averaged", "2"});
    ASSERT_TRUE(repeated.options);
    EXPECT_EQ(repeated.options->settings.rows, 30);
    EXPECT_EQ(repeated.options->settings.samplesAveraged, 2);
    for (const auto& [arguments, fragment] : std::vector<std::pair<QStringList, QString>>{
             {{"--loop"}, "--loop"},
             {{"--input", ""}, "--input"},
             {{"--input", "a", "--device", "x"}, "together"},
             {{"--list-devices", "--device", "x"}, "--list-devices"},
             {{"picture.wav"}, "picture.wav"},
             {{"--help-all"}, "help-all"},
             {{"--rows", "0x", "--rows=30"},
              "--rows must be an integer between 1 and 1000 (got '0x')"},
             {{"--device", "", "--device", "x"}, "--device"}}) {
        const ParsedCommandLine parsed = parseCommandLine(QStringList{"corvane"} + arguments);
        EXPECT_EQ(parsed.exitCode, 2) << fragment.toStdString();
        EXPECT_FALSE(parsed.options);
        EXPECT_TRUE(parsed.errorOutput.contains(fragment)) << parsed.errorOutput.toStdString();
    }
}

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

// The main window first, with the command line's settings in its boxes and capture started with
// them, the About window made but hidden; then the loop, until the window is left by Exit.
TEST_F(Started, MainWindowFirstWithTheCommandLineSettingsThenTheLoopUntilExit)
{
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Corvane");
    const DecoderSettings given{32, 30, 38400, 512, 2, 3, 20, 200};
    FakeRecordingDevice* device = nullptr;
    bool shown = false;
    const int code = runReceiver(
        *qApp, given,
        [&] {
            auto fake = std::make_unique<FakeRecordingDevice>();
            device = fake.get();
            return fake;
        },
        launcher,
        [&](TFormMain& form) {
            shown = true;
            EXPECT_TRUE(form.isVisible());
            auto* about = form.findChild<TFormAbout*>();
            ASSERT_NE(about, nullptr);
            EXPECT_FALSE(about->isVisible());
            QStringList boxes;
            for (QLineEdit* box :
                 {form.EditNRows, form.EditNCols, form.EditSampleRate, form.EditSampleBlockSize,
                  form.EditSamplePerPixel, form.EditSampleAveraged})
                boxes << box->text();
            EXPECT_EQ(boxes.join(' '), "32 30 38400 512 2 3");
            EXPECT_EQ(form.SliderMin->value(), 20);
            EXPECT_EQ(form.SliderMax->value(), 200);
            EXPECT_EQ(device->count(FakeRecordingDevice::Op::Open), 1);
            for (const auto& call : device->calls()) {
                EXPECT_TRUE(call.op != FakeRecordingDevice::Op::Open ||
                            call.format.sampleRate == 38400);
                EXPECT_TRUE(call.op != FakeRecordingDevice::Op::Prepare ||
                            call.bufferLength == 512);
            }
            // Once the loop runs: wait for capture to come up, then leave by Exit.
            QTimer::singleShot(0, &form, [&form, device] {
                waitUntil([&] { return device->isRecording(); });
                QTest::mouseClick(form.Button4, Qt::LeftButton);
            });
        });
    EXPECT_TRUE(shown);
    EXPECT_EQ(code, 0);
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
