// The capture engine over the scripted device: start, buffer rotation, drain and close,
// restart, every failure point, and messages raised while another box is up.
#include "CaptureEngine.h"

#include "CaptureTestSupport.h"
#include "FakeRecordingDevice.h"

#include <optional>

namespace corvane::test {
namespace {

using Op = FakeRecordingDevice::Op;
using Ops = std::vector<Op>;
using Sizes = std::vector<std::int32_t>;

// A deterministic signal with every byte value, clipping ones included.
std::vector<std::uint8_t> testSignal(std::size_t n)
{
    std::vector<std::uint8_t> out(n);
    std::uint32_t x = 1;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

class CaptureEngineTest : public EngineFixture
{
protected:
    CaptureEngineTest() { attach(device); }
    void TearDown() override
    {
        dropEngine();
        deliverPosted();
    }

    // Start and handle the open notification.
    void startRunning()
    {
        engine->StartCapture();
        deliverPosted();
        ASSERT_TRUE(capturing());
        device.clearCalls();
    }

    void feed(const std::vector<std::uint8_t>& bytes)
    {
        fed.insert(fed.end(), bytes.begin(), bytes.end());
        device.feed(bytes);
        deliverPosted();
    }

    const CaptureState& state() const { return engine->state(); }

    FakeRecordingDevice device;
    std::vector<std::uint8_t> fed;
};

TEST_F(CaptureEngineTest, StartOpensDeviceZeroQueuesThreeBuffersThenStarts)
{
    settings.sampleRate = 11025;
    engine->StartCapture();

    EXPECT_EQ(device.ops(), (Ops{Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                                 Op::Add, Op::Prepare, Op::Add, Op::Start}));
    const WaveFormat& format = device.calls()[1].format;
    EXPECT_EQ(format.sampleRate, 11025);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(format.bitsPerSample, 8);
    for (const auto& call : device.calls()) {
        if (call.op == Op::Prepare) {
            EXPECT_EQ(call.bufferLength, 1024);
        }
    }
    EXPECT_EQ(state().buffersQueued, 3);
    // Capturing begins with the open notification, not with the call.
    EXPECT_FALSE(capturing());
    deliverPosted();
    EXPECT_TRUE(capturing());
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, StartWhileOpenOrCapturingDoesNothingStopWhileIdleNeither)
{
    engine->setRestartPending(true);
    engine->StopCapture();
    EXPECT_TRUE(device.calls().empty());
    EXPECT_TRUE(state().restartPending);

    engine->StartCapture();
    engine->StartCapture(); // a quick second click, open notification still queued
    engine->ToggleCapture();
    deliverPosted();
    engine->StartCapture();
    EXPECT_EQ(device.count(Op::Open), 1);
    EXPECT_EQ(state().buffersQueued, 3);
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, EachReturnedBufferIsReplacedBeforeItIsDecoded)
{
    startRunning();
    const auto signal = testSignal(3 * 1024 + 500);
    feed(signal);

    // For each buffer back: a fresh one queued, then the old one released.
    Ops expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), {Op::Prepare, Op::Add, Op::Unprepare});
    EXPECT_EQ(device.ops(), expected);
    EXPECT_EQ(state().buffersQueued, 3);
    EXPECT_EQ(tapped, std::vector<std::uint8_t>(signal.begin(), signal.begin() + 3 * 1024));
    EXPECT_EQ(picture.image(), pictureOf(tapped));
}

TEST_F(CaptureEngineTest, StopDrainsEveryBufferThenClosesOnceAndStartsAgain)
{
    startRunning();
    feed(testSignal(1024 + 300));
    engine->StopCapture();
    EXPECT_TRUE(state().stopping);
    deliverPosted();

    // Nothing replaced after the reset; the partial buffer and two empty ones come back, the
    // partial one decoded for its recorded bytes only.
    EXPECT_EQ(device.count(Op::Reset), 1);
    EXPECT_EQ(device.count(Op::Prepare), 1);
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(blockSizes, (Sizes{1024, 300, 0, 0}));
    EXPECT_EQ(tapped, fed);
    EXPECT_EQ(picture.image(), pictureOf(fed));
    EXPECT_TRUE(closed());
    EXPECT_EQ(state().buffersQueued, 0);
    EXPECT_EQ(device.preparedBuffers(), 0u);
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(sink.texts.isEmpty());

    engine->StartCapture();
    deliverPosted();
    EXPECT_TRUE(capturing());
    EXPECT_FALSE(state().stopping);
}

TEST_F(CaptureEngineTest, RestartRequestClosesOnceAndReopensWithNewBlockSize)
{
    startRunning();
    settings.blockSize = 512;
    settings.sampleRate = 8000;
    engine->setRestartPending(true);
    engine->StopCapture();
    deliverPosted();

    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(device.count(Op::Open), 1);
    EXPECT_EQ(device.count(Op::Prepare), 3);
    bool reopened = false;
    for (const auto& call : device.calls()) {
        if (call.op == Op::Open) {
            reopened = true;
            EXPECT_EQ(call.format.sampleRate, 8000);
        }
        if (call.op == Op::Prepare) {
            ASSERT_TRUE(reopened) << "no buffer may be made between reset and reopen";
            EXPECT_EQ(call.bufferLength, 512);
        }
    }
    EXPECT_TRUE(capturing());
    EXPECT_FALSE(state().stopping);
    EXPECT_FALSE(state().restartPending);
    EXPECT_EQ(state().buffersQueued, 3);
    feed(testSignal(600));
    EXPECT_EQ(blockSizes.back(), 512);
}

TEST_F(CaptureEngineTest, RestartWhoseOpenFailsLeavesCaptureStopped)
{
    startRunning();
    engine->setRestartPending(true);
    device.failCall(Op::Open);
    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(sink.texts, QStringList{"Can't open audio device"});
    EXPECT_TRUE(closed());
    EXPECT_FALSE(state().restartPending);
}

// What each failure at Start leaves behind, and how Stop then ends it.
struct StartFailure
{
    const char* name;
    std::function<void(FakeRecordingDevice&)> script;
    QStringList messages;
    bool opened; // the device was left open
    int buffersQueued;

    friend void PrintTo(const StartFailure& c, std::ostream* os) { *os << c.name; }
};

struct StartFailureTest : CaptureEngineTest, ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(StartFailureTest, ReportsAndCanStillBeStopped)
{
    const StartFailure& f = GetParam();
    f.script(device);
    engine->StartCapture();
    deliverPosted();

    EXPECT_EQ(sink.texts, f.messages);
    EXPECT_EQ(state().buffersQueued, f.buffersQueued);
    EXPECT_EQ(capturing(), f.opened);
    EXPECT_EQ(state().deviceOpen, f.opened);
    // Every buffer given up on was unprepared and freed (LSan checks the freeing).
    EXPECT_EQ(device.preparedBuffers(), static_cast<std::size_t>(f.buffersQueued));
    if (!f.opened) {
        EXPECT_EQ(device.count(Op::Open) + device.count(Op::DeviceCount), device.calls().size());
        return;
    }
    // Whatever failed, the Start / Stop button ends the capture (a second click while the
    // close is on its way changes nothing) and a new Start works.
    engine->ToggleCapture();
    engine->StopCapture();
    deliverPosted();
    EXPECT_TRUE(closed());
    EXPECT_EQ(state().buffersQueued, 0);
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(blockSizes, Sizes(f.buffersQueued, 0));
    for (Op op : {Op::Prepare, Op::Add, Op::Start})
        device.succeed(op);
    engine->ToggleCapture();
    deliverPosted();
    EXPECT_TRUE(capturing());
    EXPECT_EQ(state().buffersQueued, 3);
}

const QString kAddFailed = "Error sending audio buffer to the device";
const QString kPrepareFailed = "Error preparing audio buffer";

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, StartFailureTest,
    ::testing::Values(
        StartFailure{"NoDevice",
                     [](auto& d) { d.devices = 0; },
                     {"There are no recording devices!"},
                     false,
                     0},
        StartFailure{
            "Open", [](auto& d) { d.failCall(Op::Open); }, {"Can't open audio device"}, false, 0},
        StartFailure{"SecondPrepare",
                     [](auto& d) { d.failCall(Op::Prepare, 2); },
                     {kPrepareFailed},
                     true,
                     2},
        StartFailure{"FirstAdd", [](auto& d) { d.failCall(Op::Add, 1); }, {kAddFailed}, true, 2},
        StartFailure{
            "Start", [](auto& d) { d.failCall(Op::Start); }, {"Error starting recording"}, true, 3},
        // Nothing will ever come back from the device: Stop must close it by itself.
        StartFailure{"EveryBuffer", [](auto& d) { d.failCall(Op::Add); },
                     QStringList(3, kAddFailed), true, 0},
        StartFailure{"EveryBufferAndStart",
                     [](auto& d) {
                         d.failCall(Op::Prepare);
                         d.failCall(Op::Start);
                     },
                     QStringList(3, kPrepareFailed) << "Error starting recording", true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureEngineTest, FailingReplacementsDrainTheQueueAndEndCapture)
{
    startRunning();
    device.failCall(Op::Prepare);
    feed(testSignal(3 * 1024));
    EXPECT_EQ(sink.texts, QStringList(3, kPrepareFailed));
    EXPECT_EQ(tapped, fed); // every returned buffer was still decoded
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_TRUE(closed());
    EXPECT_EQ(state().buffersQueued, 0);
}

TEST_F(CaptureEngineTest, BufferThatCannotBeUnpreparedStaysCountedAndKeepsDeviceOpen)
{
    startRunning();
    device.failCall(Op::Unprepare, 1);
    feed(testSignal(1024));
    EXPECT_EQ(sink.texts, QStringList{"Errore unprepare"});
    EXPECT_EQ(state().buffersQueued, 4);

    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(state().buffersQueued, 1);
    EXPECT_TRUE(capturing());
    engine->StopCapture(); // only resets again
    deliverPosted();
    EXPECT_EQ(device.count(Op::Reset), 2);
    EXPECT_EQ(device.count(Op::Close), 0);
}

TEST_F(CaptureEngineTest, DeviceFailingOnItsOwnDrainsIntoOneMessageAndCleanStop)
{
    startRunning();
    feed(testSignal(1024 + 100));
    device.failWhileOpen("Lost the connection to the audio server");
    deliverPosted();

    EXPECT_EQ(sink.texts, QStringList{"Lost the connection to the audio server"});
    EXPECT_EQ(device.count(Op::Prepare), 1); // no replacement after the failure
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(tapped, fed);
    EXPECT_TRUE(closed());
    EXPECT_EQ(state().buffersQueued, 0);
}

// A box's modal loop dispatches notifications before the handler that raised it continues. The
// box comes only after the handler, so buffers are decoded in the order they were filled.
TEST_F(CaptureEngineTest, NotificationsHandledWhileABoxIsUpKeepOrderAndCounts)
{
    startRunning();
    std::vector<std::size_t> decodedWhenShown;
    sink.onMessage = [&](const QString&) {
        decodedWhenShown.push_back(tapped.size());
        deliverPosted(); // the modal loop
    };
    device.failCall(Op::Prepare, 1);
    device.failCall(Op::Prepare, 2);
    feed(testSignal(3 * 1024));

    EXPECT_EQ(tapped, fed);
    EXPECT_EQ(picture.image(), pictureOf(fed));
    EXPECT_EQ(sink.texts, QStringList(2, kPrepareFailed));
    // The first box came after the first buffer was decoded, the second after the first box.
    ASSERT_EQ(decodedWhenShown.size(), 2u);
    EXPECT_EQ(decodedWhenShown[0], 1024u);
    EXPECT_EQ(sink.maxDepth, 1);
    EXPECT_EQ(state().buffersQueued, 1);
    EXPECT_TRUE(capturing());
}

TEST_F(CaptureEngineTest, DestroyedWhileOpenReleasesEverythingWithoutWaiting)
{
    startRunning();
    feed(testSignal(700));
    device.feed(testSignal(1024)); // a notification left undelivered
    engine->StopCapture();         // and a drain that will never be handled
    dropEngine();
    EXPECT_EQ(device.count(Op::Abandon), 1);
    EXPECT_FALSE(device.isOpen());
    deliverPosted(); // the notifications naming freed buffers are gone with the engine
}

TEST_F(CaptureEngineTest, DestroyedWhileItsBoxIsUp)
{
    startRunning();
    sink.onMessage = [&](const QString&) { dropEngine(); }; // the window closed behind the box
    device.failCall(Op::Prepare);
    feed(testSignal(2 * 1024));
    EXPECT_EQ(sink.texts.size(), 1);
    EXPECT_EQ(device.count(Op::Abandon), 1);
}

} // namespace
} // namespace corvane::test
