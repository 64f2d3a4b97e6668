// The capture engine over the scripted device: start, buffer rotation, drain and close,
// restart, every failure point, and messages raised while another box is up.
#include "CaptureEngine.h"

#include "CaptureTestSupport.h"
#include "FakeRecordingDevice.h"
#include "PixelDecoder.h"
#include "WaveEvents.h"

#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <optional>
#include <ostream>
#include <vector>

namespace corvane::test {
namespace {

using Op = FakeRecordingDevice::Op;

// A deterministic signal with every byte value, clipping ones included.
std::vector<std::uint8_t> testSignal(std::size_t n, unsigned seed = 1)
{
    std::vector<std::uint8_t> out(n);
    std::uint32_t x = seed;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

class CaptureEngineTest : public ::testing::Test
{
protected:
    CaptureEngineTest()
    {
        engine = std::make_unique<CaptureEngine>(device, settings, decoder, sink, &host);
        host.engine = engine.get();
        engine->setBlockTap(tapped.tap());
    }
    ~CaptureEngineTest() override
    {
        host.engine = nullptr;
        engine.reset();
        deliverPosted();
    }

    // Start and handle the open notification.
    void startRunning()
    {
        engine->StartCapture();
        deliverPosted();
        ASSERT_TRUE(engine->state().capturing);
        device.clearCalls();
    }

    void feed(const std::vector<std::uint8_t>& bytes)
    {
        fed.insert(fed.end(), bytes.begin(), bytes.end());
        device.feed(bytes);
        deliverPosted();
    }

    // The picture the decoder paints from exactly these bytes, from a fresh start.
    QImage pictureOf(const std::vector<std::uint8_t>& bytes)
    {
        RecordedPicture picture;
        PixelDecoder reference(settings, picture);
        reference.DecodeBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        return picture.image();
    }

    DecoderSettings settings;
    RecordedPicture picture;
    PixelDecoder decoder{settings, picture};
    RecordingSink sink;
    EngineHost host;
    FakeRecordingDevice device;
    TappedBytes tapped;
    std::vector<std::uint8_t> fed;
    std::unique_ptr<CaptureEngine> engine;
};

TEST_F(CaptureEngineTest, StartOpensDeviceZeroQueuesThreeBuffersThenStarts)
{
    settings.sampleRate = 11025;
    engine->StartCapture();

    EXPECT_EQ(device.ops(),
              (std::vector<Op>{Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                               Op::Add, Op::Prepare, Op::Add, Op::Start}));
    const auto& open = device.calls()[1];
    EXPECT_EQ(open.format.sampleRate, 11025);
    EXPECT_EQ(open.format.channels, 1);
    EXPECT_EQ(open.format.bitsPerSample, 8);
    for (const auto& call : device.calls()) {
        if (call.op == Op::Prepare) {
            EXPECT_EQ(call.bufferLength, 1024);
        }
    }
    EXPECT_EQ(engine->state().buffersQueued, 3);
    // Capturing begins with the open notification, not with the call.
    EXPECT_FALSE(engine->state().capturing);
    deliverPosted();
    EXPECT_TRUE(engine->state().capturing);
    EXPECT_FALSE(engine->state().stopping);
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, StartWhileOpenOrCapturingDoesNothing)
{
    engine->StartCapture();
    engine->StartCapture(); // a quick second click, open notification still queued
    engine->ToggleCapture();
    EXPECT_EQ(device.count(Op::Open), 1);
    deliverPosted();
    engine->StartCapture();
    EXPECT_EQ(device.count(Op::Open), 1);
    EXPECT_EQ(engine->state().buffersQueued, 3);
    EXPECT_TRUE(sink.texts.isEmpty());
}

TEST_F(CaptureEngineTest, StopWhileIdleDoesNothingAndKeepsRestartRequest)
{
    engine->setRestartPending(true);
    engine->StopCapture();
    EXPECT_TRUE(device.calls().empty());
    EXPECT_TRUE(engine->state().restartPending);
}

TEST_F(CaptureEngineTest, EachReturnedBufferIsReplacedBeforeItIsDecoded)
{
    startRunning();
    const auto signal = testSignal(3 * 1024 + 500);
    feed(signal);

    // Three buffers came back; for each: a fresh one queued, then the old one released.
    const std::vector<Op> perBuffer{Op::Prepare, Op::Add, Op::Unprepare};
    std::vector<Op> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), perBuffer.begin(), perBuffer.end());
    }
    EXPECT_EQ(device.ops(), expected);
    EXPECT_EQ(engine->state().buffersQueued, 3);
    EXPECT_EQ(tapped.bytes, std::vector<std::uint8_t>(signal.begin(), signal.begin() + 3 * 1024));
    EXPECT_EQ(picture.image(), pictureOf(tapped.bytes));
}

TEST_F(CaptureEngineTest, StopDrainsEveryBufferThenClosesOnce)
{
    startRunning();
    feed(testSignal(1024 + 300));
    engine->StopCapture();
    EXPECT_TRUE(engine->state().stopping);
    deliverPosted();

    // Nothing replaced after the reset; the partial buffer and two empty ones come back.
    EXPECT_EQ(device.count(Op::Reset), 1);
    EXPECT_EQ(device.count(Op::Prepare), 1);
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(tapped.blockSizes, (std::vector<std::int32_t>{1024, 300, 0, 0}));
    // The partial buffer is decoded for its recorded bytes only.
    EXPECT_EQ(tapped.bytes, fed);
    EXPECT_EQ(picture.image(), pictureOf(fed));

    const CaptureState& s = engine->state();
    EXPECT_FALSE(s.capturing);
    EXPECT_FALSE(s.deviceOpen);
    EXPECT_EQ(s.buffersQueued, 0);
    EXPECT_EQ(device.preparedBuffers(), 0u);
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(sink.texts.isEmpty());

    // And it starts again from scratch.
    engine->StartCapture();
    deliverPosted();
    EXPECT_TRUE(engine->state().capturing);
    EXPECT_FALSE(engine->state().stopping);
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
    std::optional<std::size_t> reopenedAt;
    for (std::size_t i = 0; i < device.calls().size(); ++i) {
        const auto& call = device.calls()[i];
        if (call.op == Op::Open) {
            reopenedAt = i;
            EXPECT_EQ(call.format.sampleRate, 8000);
        }
        if (call.op == Op::Prepare) {
            ASSERT_TRUE(reopenedAt) << "no buffer may be made between reset and reopen";
            EXPECT_EQ(call.bufferLength, 512);
        }
    }
    EXPECT_EQ(device.count(Op::Prepare), 3);
    const CaptureState& s = engine->state();
    EXPECT_TRUE(s.capturing);
    EXPECT_FALSE(s.stopping);
    EXPECT_FALSE(s.restartPending);
    EXPECT_EQ(s.buffersQueued, 3);

    feed(testSignal(600));
    EXPECT_EQ(tapped.blockSizes.back(), 512);
}

TEST_F(CaptureEngineTest, RestartWhoseOpenFailsLeavesCaptureStopped)
{
    startRunning();
    engine->setRestartPending(true);
    device.failCall(Op::Open);
    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(sink.texts, QStringList{"Can't open audio device"});
    EXPECT_FALSE(engine->state().capturing);
    EXPECT_FALSE(engine->state().restartPending);
    EXPECT_FALSE(engine->state().deviceOpen);
}

// What each failure at Start leaves behind, and how Stop then ends it.
struct StartFailure
{
    const char* name;
    std::function<void(FakeRecordingDevice&)> script;
    QStringList messages;
    bool opened; // the device was left open
    int buffersQueued;

    friend void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.name; }
};

class StartFailureTest : public CaptureEngineTest,
                         public ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(StartFailureTest, ReportsAndCanStillBeStopped)
{
    const StartFailure& f = GetParam();
    f.script(device);
    engine->StartCapture();
    deliverPosted();

    EXPECT_EQ(sink.texts, f.messages);
    EXPECT_EQ(engine->state().buffersQueued, f.buffersQueued);
    EXPECT_EQ(engine->state().capturing, f.opened);
    EXPECT_EQ(engine->state().deviceOpen, f.opened);
    // Every buffer given up on was unprepared and freed (LSan checks the freeing).
    EXPECT_EQ(device.preparedBuffers(), static_cast<std::size_t>(f.buffersQueued));

    if (!f.opened) {
        EXPECT_EQ(device.count(Op::Open) + device.count(Op::DeviceCount), device.calls().size());
        return;
    }
    // Whatever failed, the Start / Stop button ends the capture and a new Start works.
    engine->ToggleCapture();
    deliverPosted();
    EXPECT_FALSE(engine->state().capturing);
    EXPECT_FALSE(engine->state().deviceOpen);
    EXPECT_EQ(engine->state().buffersQueued, 0);
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_EQ(tapped.blockSizes, std::vector<std::int32_t>(f.buffersQueued, 0));
    device.succeed(Op::Prepare);
    device.succeed(Op::Add);
    device.succeed(Op::Start);
    engine->ToggleCapture();
    deliverPosted();
    EXPECT_TRUE(engine->state().capturing);
    EXPECT_EQ(engine->state().buffersQueued, 3);
}

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
                     {"Error preparing audio buffer"},
                     true,
                     2},
        StartFailure{"FirstAdd",
                     [](auto& d) { d.failCall(Op::Add, 1); },
                     {"Error sending audio buffer to the device"},
                     true,
                     2},
        StartFailure{
            "Start", [](auto& d) { d.failCall(Op::Start); }, {"Error starting recording"}, true, 3},
        // Nothing will ever come back from the device: Stop must close it by itself.
        StartFailure{"EveryBuffer",
                     [](auto& d) { d.failCall(Op::Add); },
                     {"Error sending audio buffer to the device",
                      "Error sending audio buffer to the device",
                      "Error sending audio buffer to the device"},
                     true,
                     0},
        StartFailure{"EveryBufferAndStart",
                     [](auto& d) {
                         d.failCall(Op::Prepare);
                         d.failCall(Op::Start);
                     },
                     {"Error preparing audio buffer", "Error preparing audio buffer",
                      "Error preparing audio buffer", "Error starting recording"},
                     true,
                     0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureEngineTest, FailingReplacementsDrainTheQueueAndEndCapture)
{
    startRunning();
    device.failCall(Op::Prepare);
    feed(testSignal(3 * 1024));

    EXPECT_EQ(sink.texts, QStringList(3, "Error preparing audio buffer"));
    EXPECT_EQ(tapped.bytes, fed); // every returned buffer was still decoded
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_FALSE(engine->state().capturing);
    EXPECT_EQ(engine->state().buffersQueued, 0);
}

TEST_F(CaptureEngineTest, BufferThatCannotBeUnpreparedStaysCountedAndKeepsDeviceOpen)
{
    startRunning();
    device.failCall(Op::Unprepare, 1);
    feed(testSignal(1024));
    EXPECT_EQ(sink.texts, QStringList{"Errore unprepare"});
    EXPECT_EQ(engine->state().buffersQueued, 4);

    engine->StopCapture();
    deliverPosted();
    EXPECT_EQ(engine->state().buffersQueued, 1);
    EXPECT_EQ(device.count(Op::Close), 0);
    EXPECT_TRUE(engine->state().capturing);
    engine->StopCapture(); // only resets again
    deliverPosted();
    EXPECT_EQ(device.count(Op::Reset), 2);
    EXPECT_EQ(device.count(Op::Close), 0);
}

TEST_F(CaptureEngineTest, SecondStopWhileClosingDoesNotCloseTwice)
{
    device.failCall(Op::Add);
    engine->StartCapture();
    deliverPosted();
    engine->StopCapture();
    engine->StopCapture(); // close notification still queued
    deliverPosted();
    EXPECT_EQ(device.count(Op::Close), 1);
    EXPECT_FALSE(engine->state().capturing);
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
    EXPECT_EQ(tapped.bytes, fed);
    EXPECT_FALSE(engine->state().capturing);
    EXPECT_FALSE(engine->state().deviceOpen);
    EXPECT_EQ(engine->state().buffersQueued, 0);
}

TEST_F(CaptureEngineTest, ForeignBufferNotificationIsIgnored)
{
    startRunning();
    WaveBuffer stranger;
    stranger.bytesRecorded = 10;
    QCoreApplication::postEvent(&host, new WaveEvent(kWaveDataEvent, &stranger));
    deliverPosted();
    EXPECT_TRUE(device.calls().empty());
    EXPECT_TRUE(tapped.blockSizes.empty());
    EXPECT_EQ(engine->state().buffersQueued, 3);
}

// A box's modal loop dispatches notifications before the handler that raised it continues. The
// box comes only after the handler, so buffers are decoded in the order they were filled.
TEST_F(CaptureEngineTest, NotificationsHandledWhileABoxIsUpKeepOrderAndCounts)
{
    startRunning();
    std::vector<std::size_t> decodedWhenShown;
    sink.onMessage = [&](const QString&) {
        decodedWhenShown.push_back(tapped.bytes.size());
        deliverPosted(); // the modal loop
    };
    device.failCall(Op::Prepare, 1);
    device.failCall(Op::Prepare, 2);
    feed(testSignal(3 * 1024));

    EXPECT_EQ(tapped.bytes, fed);
    EXPECT_EQ(picture.image(), pictureOf(fed));
    EXPECT_EQ(sink.texts, QStringList(2, "Error preparing audio buffer"));
    // The first box came after the first buffer was decoded, the second after the first box.
    ASSERT_EQ(decodedWhenShown.size(), 2u);
    EXPECT_EQ(decodedWhenShown[0], 1024u);
    EXPECT_EQ(sink.maxDepth, 1);
    EXPECT_EQ(engine->state().buffersQueued, 1);
    EXPECT_TRUE(engine->state().capturing);
}

TEST_F(CaptureEngineTest, DestroyedWhileOpenReleasesEverythingWithoutWaiting)
{
    startRunning();
    feed(testSignal(700));
    device.feed(testSignal(1024)); // a notification left undelivered
    engine->StopCapture();         // and a drain that will never be handled
    host.engine = nullptr;
    engine.reset();

    EXPECT_EQ(device.count(Op::Abandon), 1);
    EXPECT_FALSE(device.isOpen());
    // The notifications naming freed buffers are gone with the engine.
    deliverPosted();
}

TEST_F(CaptureEngineTest, DestroyedWhileItsBoxIsUp)
{
    startRunning();
    sink.onMessage = [&](const QString&) {
        host.engine = nullptr;
        engine.reset(); // the window closed behind the box
    };
    device.failCall(Op::Prepare);
    feed(testSignal(2 * 1024));
    EXPECT_EQ(sink.texts.size(), 1);
    EXPECT_EQ(device.count(Op::Abandon), 1);
}

} // namespace
} // namespace corvane::test
