// The capture engine over the scripted device: start, buffer rotation, drain and close,
// restart, every failure point, and messages raised while another box is up.
#include "CaptureTestSupport.h"
#include "FakeRecordingDevice.h"
#include "WaveEvents.h"

namespace corvane::test {
namespace {

using Op = FakeRecordingDevice::Op;
using Ops = std::vector<Op>;
using Sizes = std::vector<std::int32_t>;
const QString kAddFailed = "Error sending audio buffer to the device";
const QString kPrepareFailed = "Error preparing audio buffer";

// A deterministic signal with every byte value, clipping ones included.
std::vector<std::uint8_t> testSignal(std::size_t n)
{
    std::vector<std::uint8_t> out(n);
    std::uint32_t x = 1;
    for (auto& b : out)
        b = std::uint8_t((x = x * 1664525u + 1013904223u) >> 24);
    return out;
}

class CaptureEngineTest : public EngineFixture
{
protected:
    CaptureEngineTest() { attach(device); }
    void TearDown() override
    {
        dropEngine();
        deliverPosted(); // nothing posted may name a freed buffer
    }
    void startRunning()
    {
        engine->StartCapture();
        deliverPosted();
        ASSERT_TRUE(capturing());
        device.clearCalls();
    }
    void feed(std::size_t n)
    {
        const auto bytes = testSignal(n);
        fed.insert(fed.end(), bytes.begin(), bytes.end());
        device.feed(bytes);
        deliverPosted();
    }
    const CaptureState& state() const { return engine->state(); }

    FakeRecordingDevice device;
    std::vector<std::uint8_t> fed;
};

TEST_F(CaptureEngineTest, StartOpensQueuesThreeStartsAndIgnoresRepeatsAndIdleStop)
{
    engine->setRestartPending(true);
    engine->StopCapture(); // idle: nothing, and the restart request stays
    EXPECT_TRUE(device.calls().empty());
    EXPECT_TRUE(state().restartPending);
    settings.sampleRate = 11025;
    engine->StartCapture();
    EXPECT_EQ(device.ops(), (Ops{Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                                 Op::Add, Op::Prepare, Op::Add, Op::Start}));
    EXPECT_EQ(device.calls()[1].format.sampleRate, 11025);
    EXPECT_EQ(device.calls()[2].bufferLength, 1024);
    EXPECT_FALSE(capturing()); // not before the open notification
    engine->StartCapture();    // a quick second click, open notification still queued
    deliverPosted();
    EXPECT_TRUE(capturing());
    engine->StartCapture();
    EXPECT_EQ(device.count(Op::Open), 1);
    EXPECT_EQ(state().buffersQueued, 3);
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, EachBufferIsReplacedBeforeDecodingAndStopDrainsIntoOneClose)
{
    startRunning();
    feed(3 * 1024);
    feed(300);
    Ops expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), {Op::Prepare, Op::Add, Op::Unprepare});
    EXPECT_EQ(device.ops(), expected);
    EXPECT_EQ(state().buffersQueued, 3);

    // Nothing replaced after the reset; the partial buffer comes back decoded for its bytes.
    engine->StopCapture();
    EXPECT_TRUE(state().stopping);
    deliverPosted();
    EXPECT_EQ(device.count(Op::Prepare), 3);
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(blockSizes, (Sizes{1024, 1024, 1024, 300, 0, 0}));
    EXPECT_EQ(tapped, fed);
    EXPECT_EQ(picture.image(), pictureOf(fed));
    EXPECT_TRUE(closed());
    EXPECT_EQ(device.preparedBuffers(), 0u);
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, RestartClosesOnceAndReopensWithTheNewSettingsOrSaysWhyNot)
{
    startRunning();
    settings.blockSize = 512;
    settings.sampleRate = 8000;
    engine->setRestartPending(true);
    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(device.ops(), (Ops{Op::Reset, Op::Unprepare, Op::Unprepare, Op::Unprepare, Op::Close,
                                 Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                                 Op::Add, Op::Prepare, Op::Add, Op::Start}));
    EXPECT_EQ(device.calls()[6].format.sampleRate, 8000);
    EXPECT_EQ(device.calls()[7].bufferLength, 512);
    EXPECT_TRUE(capturing());
    EXPECT_FALSE(state().stopping || state().restartPending);

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
    std::vector<std::pair<Op, int>> failing; // op and which call (0: all); DeviceCount: none
    QStringList messages;
    int buffersQueued; // -1: the device was not opened

    friend void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.name; }
};

struct StartFailureTest : CaptureEngineTest, ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(StartFailureTest, ReportsAndCanStillBeStopped)
{
    const StartFailure& f = GetParam();
    for (auto [op, nth] : f.failing)
        op == Op::DeviceCount ? void(device.devices = 0) : device.failCall(op, nth);
    engine->StartCapture();
    deliverPosted();
    EXPECT_EQ(sink.texts, f.messages);
    EXPECT_EQ(capturing(), f.buffersQueued >= 0);
    if (f.buffersQueued < 0)
        return;
    EXPECT_EQ(state().buffersQueued, f.buffersQueued);
    // Every buffer given up on was unprepared and freed (LSan checks the freeing).
    EXPECT_EQ(device.preparedBuffers(), std::size_t(f.buffersQueued));
    // Stop ends it whatever failed (a second click meanwhile changes nothing); Start works.
    engine->ToggleCapture();
    engine->StopCapture();
    deliverPosted();
    EXPECT_TRUE(closed());
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(blockSizes, Sizes(std::size_t(f.buffersQueued), 0));
    for (Op op : {Op::Prepare, Op::Add, Op::Start})
        device.succeed(op);
    engine->ToggleCapture();
    deliverPosted();
    EXPECT_EQ(state().buffersQueued, 3);
}

const QString kNoDevice = "There are no recording devices!";
const QString kStartFailed = "Error starting recording";
// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryPoint, StartFailureTest, ::testing::Values(
    StartFailure{"NoDevice", {{Op::DeviceCount, 0}}, {kNoDevice}, -1},
    StartFailure{"Open", {{Op::Open, 0}}, {"Can't open audio device"}, -1},
    StartFailure{"SecondPrepare", {{Op::Prepare, 2}}, {kPrepareFailed}, 2},
    StartFailure{"FirstAdd", {{Op::Add, 1}}, {kAddFailed}, 2},
    StartFailure{"Start", {{Op::Start, 0}}, {kStartFailed}, 3},
    // Nothing will ever come back from the device: Stop must close it by itself.
    StartFailure{"EveryBuffer", {{Op::Add, 0}}, QStringList(3, kAddFailed), 0},
    StartFailure{"EveryBufferAndStart", {{Op::Prepare, 0}, {Op::Start, 0}},
                 QStringList(3, kPrepareFailed) << kStartFailed, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(CaptureEngineTest, FailingReplacementsDrainTheQueueAndEndCapture)
{
    startRunning();
    device.failCall(Op::Prepare);
    feed(3 * 1024);
    EXPECT_EQ(sink.texts, QStringList(3, kPrepareFailed));
    EXPECT_EQ(tapped, fed); // every returned buffer was still decoded
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_TRUE(closed());
}

TEST_F(CaptureEngineTest, BufferThatCannotBeUnpreparedStaysCountedAndKeepsDeviceOpen)
{
    startRunning();
    device.failCall(Op::Unprepare, 1);
    feed(1024);
    EXPECT_EQ(sink.texts, QStringList{"Errore unprepare"});
    EXPECT_EQ(state().buffersQueued, 4);
    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(state().buffersQueued, 1);
    engine->StopCapture(); // only resets again
    deliverPosted();
    EXPECT_TRUE(capturing());
    EXPECT_EQ(device.count(Op::Reset), 2);
    EXPECT_EQ(device.count(Op::Close), 0);
}

// A notice is shown while capture goes on; a device failing on its own drains into one
// message and a clean close.
TEST_F(CaptureEngineTest, DeviceNoticesAndFailuresEachShowOneMessage)
{
    startRunning();
    QCoreApplication::postEvent(&host, new WaveEvent(kWaveNoticeEvent, nullptr, "Now from B"));
    feed(1024 + 100);
    EXPECT_EQ(sink.texts, QStringList{"Now from B"});
    EXPECT_TRUE(capturing());
    device.failWhileOpen("Lost the connection to the audio server");
    deliverPosted();
    EXPECT_EQ(sink.texts.value(1), "Lost the connection to the audio server");
    EXPECT_EQ(device.count(Op::Prepare), 1); // no replacement after the failure
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(tapped, fed);
    EXPECT_TRUE(closed());
}

// A box's modal loop dispatches notifications before the handler that raised it continues.
// The box comes only after the handler, so buffers are decoded in the order they were filled.
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
    feed(3 * 1024);
    EXPECT_EQ(tapped, fed);
    EXPECT_EQ(sink.texts, QStringList(2, kPrepareFailed));
    EXPECT_EQ(decodedWhenShown, (std::vector<std::size_t>{1024, 3 * 1024}));
    EXPECT_EQ(sink.maxDepth, 1);
    EXPECT_EQ(state().buffersQueued, 1);
}

TEST_F(CaptureEngineTest, DestroyedWhileOpenOrWhileItsBoxIsUpReleasesAllWithoutWaiting)
{
    startRunning();
    sink.onMessage = [&](const QString&) { dropEngine(); }; // the window closed behind the box
    device.failCall(Op::Prepare);
    feed(2 * 1024);
    EXPECT_EQ(sink.texts.size(), 1);
    EXPECT_EQ(device.count(Op::Abandon), 1);
    EXPECT_FALSE(device.isOpen());

    attach(device);
    device.succeed(Op::Prepare);
    startRunning();
    device.feed(testSignal(1024)); // a notification left undelivered
    engine->StopCapture();         // and a drain that will never be handled
    dropEngine();
    EXPECT_EQ(device.count(Op::Abandon), 1);
}

} // namespace
} // namespace corvane::test
