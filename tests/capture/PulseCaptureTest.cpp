// Live capture against a private PulseAudio server whose default source is fed from a FIFO:
// bytes and picture exactly as fed, stop/start/restart, and a server or source that dies.
#include "CaptureTestSupport.h"
#include "PrivatePulse.h"
#include "PulseRecordingDevice.h"
#include "RecordingDevices.h"
#include "TestCard.h"

#include <algorithm>

namespace corvane::test {
namespace {

class PulseCaptureTest : public EngineFixture
{
protected:
    void SetUp() override { ASSERT_TRUE(pulse.start()) << pulse.log().toStdString(); }
    void TearDown() override
    {
        dropEngine();
        live.reset();
    }

    // The engine over a live device recording from source (empty: the server's default).
    void makeEngine(const QString& source = {})
    {
        live = std::make_unique<PulseRecordingDevice>(source);
        attach(*live);
    }

    std::vector<std::uint8_t> card(std::size_t bytes) const
    {
        return makeTestCard({settings, static_cast<std::int64_t>(bytes)});
    }

    // Starts and waits for the open notification; false with the messages if it never came.
    ::testing::AssertionResult startAndWait()
    {
        engine->StartCapture();
        if (waitUntil([&] { return capturing(); }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not capturing; messages: " << messages();
    }

    PrivatePulse pulse;
    std::unique_ptr<PulseRecordingDevice> live;
};

TEST_F(PulseCaptureTest, BytesReachTheDecoderExactlyAsFedAndPaintTheSamePicture)
{
    makeEngine();
    ASSERT_TRUE(startAndWait());

    // Three seconds of test card, ending in a partly filled buffer.
    const std::size_t whole = 84 * 1024;
    const auto fed = card(whole + 300);
    pulse.feedInRealTime(fed);
    // Keep the event loop running, as the window does: buffers not handed back in time are
    // not replaced, and the device drops what finds no buffer.
    ASSERT_TRUE(waitUntil([&] { return live->bytesCaptured() == std::int64_t(fed.size()); }))
        << live->bytesCaptured() << " of " << fed.size() << " bytes arrived";
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == whole; }));

    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_EQ(engine->state().buffersQueued, 0);
    EXPECT_TRUE(sink.texts.isEmpty()) << messages();
    ASSERT_EQ(tapped.size(), fed.size());
    EXPECT_TRUE(tapped == fed) << "bytes lost, doubled or reordered";
    EXPECT_EQ(blockSizes[84], 300); // the partial buffer handed back by the reset
    EXPECT_EQ(picture.image(), pictureOf(fed));
}

// The pipe source keeps what is written while nobody records and hands it to the next client
// in one burst, longer than the three queued buffers: the device must not lose the excess.
TEST_F(PulseCaptureTest, BurstLongerThanTheQueuedBuffersLosesNothing)
{
    const auto early = card(6 * 1024);
    ASSERT_TRUE(pulse.write(early));
    makeEngine();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == early.size(); }))
        << tapped.size() << " of " << early.size() << " bytes";
    EXPECT_TRUE(tapped == early);
    EXPECT_EQ(live->bytesDropped(), 0);
}

TEST_F(PulseCaptureTest, StopStartAndRestartWithNewBlockSize)
{
    makeEngine();
    std::vector<std::uint8_t> fed;
    auto feedAndWait = [&](std::size_t bytes) {
        const auto all = card(fed.size() + bytes);
        std::vector<std::uint8_t> more(all.begin() + static_cast<std::ptrdiff_t>(fed.size()),
                                       all.end());
        fed.insert(fed.end(), more.begin(), more.end());
        pulse.feedInRealTime(std::move(more));
        return waitUntil([&] { return tapped.size() == fed.size(); });
    };

    ASSERT_TRUE(startAndWait());
    ASSERT_TRUE(feedAndWait(4 * 1024));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    ASSERT_TRUE(feedAndWait(2 * 1024));

    // Apply: new block size, restart request, stop; closed and reopened by itself.
    settings.blockSize = 512;
    engine->setRestartPending(true);
    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing() && !engine->state().stopping; }));
    EXPECT_FALSE(engine->state().restartPending);
    const std::size_t before = blockSizes.size();
    ASSERT_TRUE(feedAndWait(3 * 512));
    EXPECT_EQ(std::vector<std::int32_t>(blockSizes.begin() + static_cast<std::ptrdiff_t>(before),
                                        blockSizes.end()),
              (std::vector<std::int32_t>{512, 512, 512}));
    EXPECT_TRUE(tapped == fed);
    EXPECT_TRUE(sink.texts.isEmpty()) << messages();
}

// What the user sees when the server or the source goes away during capture.
struct Disappearance
{
    const char* name;
    bool killServer; // otherwise: the source is removed
    const char* messagePart;
    const char* retryMessage; // what Start says afterwards; nullptr: it records again

    friend void PrintTo(const Disappearance& c, std::ostream* os) { *os << c.name; }
};

struct PulseDisappearanceTest : PulseCaptureTest, ::testing::WithParamInterface<Disappearance>
{
};

TEST_P(PulseDisappearanceTest, EndsInOneMessageAndACleanStop)
{
    const Disappearance& d = GetParam();
    makeEngine();
    ASSERT_TRUE(startAndWait());
    pulse.feedInRealTime(card(10 * 28800));
    ASSERT_TRUE(waitUntil([&] { return blockSizes.size() >= 5; }));

    if (d.killServer)
        pulse.kill();
    else
        ASSERT_TRUE(pulse.removeSource());
    ASSERT_TRUE(waitUntil([&] { return closed(); })) << "still open; messages: " << messages();
    EXPECT_EQ(engine->state().buffersQueued, 0);
    ASSERT_EQ(sink.texts.size(), 1) << messages();
    EXPECT_TRUE(sink.texts[0].contains(QString::fromUtf8(d.messagePart))) << messages();

    // Trying again either reports plainly and leaves everything stopped, or records from
    // the source the server now offers as its default.
    if (d.retryMessage) {
        engine->StartCapture();
        EXPECT_TRUE(sink.texts.value(1).startsWith(QString::fromUtf8(d.retryMessage)))
            << messages();
        EXPECT_TRUE(closed());
    } else {
        EXPECT_TRUE(startAndWait());
        EXPECT_EQ(sink.texts.size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Live, PulseDisappearanceTest,
                         ::testing::Values(Disappearance{"ServerKilled", true, "audio server",
                                                         "There are no recording devices!"},
                                           Disappearance{"SourceRemoved", false,
                                                         "recording device is gone", nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PulseCaptureTest, NoServerMeansNoRecordingDevices)
{
    pulse.kill();
    pulse.pointAtNoServer();
    makeEngine();
    engine->StartCapture();
    // The message says why, as the server's client library put it.
    EXPECT_EQ(sink.texts, QStringList{"There are no recording devices!\nCan't connect to the "
                                      "audio server: Connection refused"});
    EXPECT_TRUE(closed());

    QString error;
    EXPECT_FALSE(listRecordingDevices(&error));
    EXPECT_TRUE(error.contains("audio server")) << error.toStdString();
}

// A server that stops answering (stopped, swapped out, deadlocked) costs the user a short wait
// and a message, never a hung window.
TEST_F(PulseCaptureTest, ServerThatStopsAnsweringNeverHangsTheEngine)
{
    makeEngine();
    ASSERT_TRUE(startAndWait());
    pulse.feedInRealTime(card(2048));
    ASSERT_TRUE(waitUntil([&] { return tapped.size() == 2048; }));

    pulse.freeze();
    engine->StopCapture(); // answers locally; the server is not asked for anything
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    engine->StartCapture(); // every question to the server times out
    ASSERT_EQ(sink.texts.size(), 1);
    EXPECT_TRUE(sink.texts[0].startsWith("There are no recording devices!\n")) << messages();
    EXPECT_TRUE(sink.texts[0].contains("audio server")) << messages();
    EXPECT_TRUE(closed());

    pulse.thaw(); // and once it answers again, so do we
    EXPECT_TRUE(startAndWait());
}

// Opening what the server cannot give is "Can't open audio device".
struct RefusedOpen
{
    const char* name;
    const char* source;
    std::int32_t sampleRate;

    friend void PrintTo(const RefusedOpen& c, std::ostream* os) { *os << c.name; }
};

struct PulseRefusedOpenTest : PulseCaptureTest, ::testing::WithParamInterface<RefusedOpen>
{
};

TEST_P(PulseRefusedOpenTest, SaysItCannotOpen)
{
    settings.sampleRate = GetParam().sampleRate;
    makeEngine(QString::fromUtf8(GetParam().source));
    engine->StartCapture();
    EXPECT_EQ(sink.texts, QStringList{"Can't open audio device"});
    EXPECT_TRUE(closed());
}

INSTANTIATE_TEST_SUITE_P(Live, PulseRefusedOpenTest,
                         ::testing::Values(RefusedOpen{"UnknownSource", "no-such-source", 28800},
                                           RefusedOpen{"RateTooHigh", "", 10'000'000},
                                           RefusedOpen{"ZeroRate", "", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PulseCaptureTest, EverySourceIsListedAndANamedOneIsRecordedInsteadOfTheDefault)
{
    QString error;
    const auto devices = listRecordingDevices(&error);
    ASSERT_TRUE(devices) << error.toStdString();
    QStringList names;
    for (const RecordingDeviceInfo& d : *devices) {
        names.append(d.name);
        EXPECT_FALSE(d.description.isEmpty()) << d.name.toStdString();
    }
    ASSERT_TRUE(names.contains(pulse.sourceName())) << names.join(' ').toStdString();
    const auto monitor = std::find_if(names.begin(), names.end(),
                                      [](const QString& n) { return n.endsWith(".monitor"); });
    ASSERT_NE(monitor, names.end()) << names.join(' ').toStdString();

    // The null sink's monitor plays silence by itself, while the default source stays fed.
    makeEngine(*monitor);
    ASSERT_TRUE(startAndWait());
    pulse.feedInRealTime(card(28800));
    ASSERT_TRUE(waitUntil([&] { return tapped.size() >= 4096; }));
    EXPECT_TRUE(std::all_of(tapped.begin(), tapped.end(), [](std::uint8_t b) { return b == 128; }));
}

// The window closes: engine and device go while data keeps arriving. Nothing may wait for a
// notification that will never come (ctest's timeout would catch it).
TEST_F(PulseCaptureTest, LeavingDuringCaptureReleasesEverythingAtOnce)
{
    makeEngine();
    ASSERT_TRUE(startAndWait());
    pulse.feedInRealTime(card(5 * 28800));
    ASSERT_TRUE(waitUntil([&] { return blockSizes.size() >= 3; }));
    dropEngine();
    live.reset();
    QCoreApplication::sendPostedEvents();
}

} // namespace
} // namespace corvane::test
