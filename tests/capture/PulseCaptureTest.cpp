// Live capture against a private PulseAudio server whose default source is fed from a FIFO:
// bytes and picture exactly as fed, stop/start/restart, and a server or source that dies.
#include "CaptureEngine.h"
#include "CaptureTestSupport.h"
#include "PixelDecoder.h"
#include "PrivatePulse.h"
#include "PulseRecordingDevice.h"
#include "RecordingDevices.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A test card: per picture element a carrier whose amplitude draws bars, a gradient and a
// dark sync column, changing from frame to frame. No sample clips.
std::vector<std::uint8_t> testCard(std::size_t bytes, const DecoderSettings& s)
{
    std::vector<std::uint8_t> out;
    out.reserve(bytes);
    const std::size_t perElement = static_cast<std::size_t>(s.samplesPerPixel);
    for (std::size_t element = 0; out.size() < bytes; ++element) {
        const std::size_t row = element % static_cast<std::size_t>(s.rows);
        const std::size_t col =
            (element / static_cast<std::size_t>(s.rows)) % static_cast<std::size_t>(s.cols);
        const std::size_t frame = element / static_cast<std::size_t>(s.rows * s.cols);
        int amplitude = col == 0 ? 2 : static_cast<int>((row * 5 + ((col + frame) % 6) * 16) % 120);
        for (std::size_t i = 0; i < perElement && out.size() < bytes; ++i) {
            const int sign = (i % 2) ? -1 : 1;
            out.push_back(static_cast<std::uint8_t>(128 + sign * amplitude));
        }
    }
    return out;
}

// Counts the opens and closes the engine makes, passing everything through.
class CountingDevice : public RecordingDevice
{
public:
    explicit CountingDevice(RecordingDevice& inner) : inner_(inner) {}
    std::uint32_t deviceCount() override { return inner_.deviceCount(); }
    bool open(std::uint32_t n, const WaveFormat& f, QObject* t) override
    {
        ++opens;
        return inner_.open(n, f, t);
    }
    bool prepareBuffer(WaveBuffer* b) override { return inner_.prepareBuffer(b); }
    bool addBuffer(WaveBuffer* b) override { return inner_.addBuffer(b); }
    bool start() override { return inner_.start(); }
    bool reset() override { return inner_.reset(); }
    bool unprepareBuffer(WaveBuffer* b) override { return inner_.unprepareBuffer(b); }
    bool close() override
    {
        ++closes;
        return inner_.close();
    }
    void abandon() override { inner_.abandon(); }

    int opens = 0;
    int closes = 0;

private:
    RecordingDevice& inner_;
};

class PulseCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(pulse.start()) << pulse.log().toStdString(); }

    // The engine over a live device recording from source (empty: the server's default).
    void makeEngine(const QString& source = {})
    {
        live = std::make_unique<PulseRecordingDevice>(source);
        counting = std::make_unique<CountingDevice>(*live);
        engine = std::make_unique<CaptureEngine>(*counting, settings, decoder, sink, &host);
        host.engine = engine.get();
        engine->setBlockTap([this](const std::uint8_t* data, std::int32_t count) {
            tapped.tap()(data, count);
            decodedAt.push_back(Clock::now());
        });
    }

    void TearDown() override
    {
        host.engine = nullptr;
        engine.reset();
        counting.reset();
        live.reset();
    }

    bool capturing() const { return engine->state().capturing; }
    bool closed() const { return !engine->state().deviceOpen && !engine->state().capturing; }

    QImage pictureOf(const std::vector<std::uint8_t>& bytes)
    {
        RecordedPicture reference;
        PixelDecoder referenceDecoder(settings, reference);
        referenceDecoder.DecodeBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        return reference.image();
    }

    PrivatePulse pulse;
    DecoderSettings settings;
    RecordedPicture picture;
    PixelDecoder decoder{settings, picture};
    RecordingSink sink;
    EngineHost host;
    TappedBytes tapped;
    std::vector<Clock::time_point> decodedAt;
    std::unique_ptr<PulseRecordingDevice> live;
    std::unique_ptr<CountingDevice> counting;
    std::unique_ptr<CaptureEngine> engine;
};

TEST_F(PulseCaptureTest, BytesReachTheDecoderExactlyAsFedAndPaintTheSamePicture)
{
    makeEngine();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); })) << sink.texts.join('|').toStdString();

    // Three seconds of test card, ending in a partly filled buffer.
    const std::size_t whole = 84 * 1024;
    const auto card = testCard(whole + 300, settings);
    pulse.feedInRealTime(card);
    // Keep the event loop running, as the window does: buffers not handed back in time are
    // not replaced, and the device drops what finds no buffer.
    ASSERT_TRUE(waitUntil([&] { return live->bytesCaptured() == std::int64_t(card.size()); }))
        << live->bytesCaptured() << " of " << card.size() << " bytes arrived";
    ASSERT_TRUE(waitUntil([&] { return tapped.bytes.size() == whole; }));

    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_EQ(engine->state().buffersQueued, 0);
    EXPECT_TRUE(sink.texts.isEmpty()) << sink.texts.join('|').toStdString();
    ASSERT_EQ(tapped.bytes.size(), card.size());
    EXPECT_TRUE(tapped.bytes == card) << "bytes lost, doubled or reordered";
    EXPECT_EQ(tapped.blockSizes[84], 300); // the partial buffer handed back by the reset
    EXPECT_EQ(picture.image(), pictureOf(card));

    // The delay from a buffer's last byte going into the FIFO to that buffer being decoded.
    std::vector<double> delaysMs;
    std::int64_t end = 0;
    for (std::size_t i = 0; i < 84; ++i) {
        end += tapped.blockSizes[i];
        const auto written = pulse.writtenAt(end - 1);
        ASSERT_TRUE(written);
        delaysMs.push_back(
            std::chrono::duration<double, std::milli>(decodedAt[i] - *written).count());
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    const double median = delaysMs[delaysMs.size() / 2];
    std::cout << "FIFO-to-decoder delay of a buffer's last byte over " << delaysMs.size()
              << " buffers: min " << delaysMs.front() << " ms, median " << median << " ms, max "
              << delaysMs.back() << " ms\n";
    RecordProperty("delay_median_ms", std::to_string(median));
}

// The pipe source keeps what is written while nobody records and hands it to the next client
// in one burst, longer than the three queued buffers: the device must not lose the excess.
TEST_F(PulseCaptureTest, BurstLongerThanTheQueuedBuffersLosesNothing)
{
    const auto early = testCard(6 * 1024, settings);
    ASSERT_TRUE(pulse.write(early));
    makeEngine();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return tapped.bytes.size() == early.size(); }))
        << tapped.bytes.size() << " of " << early.size() << " bytes";
    EXPECT_TRUE(tapped.bytes == early);
    EXPECT_EQ(live->bytesDropped(), 0);
}

TEST_F(PulseCaptureTest, StopStartAndRestartWithNewBlockSize)
{
    makeEngine();
    std::vector<std::uint8_t> fed;
    auto feedAndWait = [&](std::size_t bytes) {
        const auto card = testCard(fed.size() + bytes, settings);
        std::vector<std::uint8_t> more(card.begin() + static_cast<std::ptrdiff_t>(fed.size()),
                                       card.end());
        fed.insert(fed.end(), more.begin(), more.end());
        pulse.feedInRealTime(std::move(more));
        return waitUntil([&] { return tapped.bytes.size() == fed.size(); });
    };

    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    ASSERT_TRUE(feedAndWait(4 * 1024));
    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return closed(); }));

    engine->ToggleCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    ASSERT_TRUE(feedAndWait(2 * 1024));

    // Apply: new block size, restart request, stop; exactly one close and one reopen.
    settings.blockSize = 512;
    engine->setRestartPending(true);
    engine->StopCapture();
    ASSERT_TRUE(waitUntil([&] { return counting->opens == 3 && capturing(); }));
    EXPECT_EQ(counting->closes, 2);
    EXPECT_FALSE(engine->state().restartPending);
    const std::size_t before = tapped.blockSizes.size();
    ASSERT_TRUE(feedAndWait(3 * 512));
    EXPECT_EQ(
        std::vector<std::int32_t>(tapped.blockSizes.begin() + static_cast<std::ptrdiff_t>(before),
                                  tapped.blockSizes.end()),
        (std::vector<std::int32_t>{512, 512, 512}));
    EXPECT_TRUE(tapped.bytes == fed);
    EXPECT_TRUE(sink.texts.isEmpty()) << sink.texts.join('|').toStdString();
}

// What the user sees when the server or the source goes away during capture.
struct Disappearance
{
    const char* name;
    bool killServer; // otherwise: the source is removed
    const char* messagePart;
    const char* retryMessage; // what Start says afterwards; nullptr: it records again

    friend void PrintTo(const Disappearance& d, std::ostream* os) { *os << d.name; }
};

class PulseDisappearanceTest : public PulseCaptureTest,
                               public ::testing::WithParamInterface<Disappearance>
{
};

TEST_P(PulseDisappearanceTest, EndsInOneMessageAndACleanStop)
{
    const Disappearance& d = GetParam();
    makeEngine();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    pulse.feedInRealTime(testCard(10 * 28800, settings));
    ASSERT_TRUE(waitUntil([&] { return tapped.blockSizes.size() >= 5; }));

    if (d.killServer) {
        pulse.kill();
    } else {
        ASSERT_TRUE(pulse.removeSource());
    }
    ASSERT_TRUE(waitUntil([&] { return closed(); }))
        << "still open; messages: " << sink.texts.join('|').toStdString();
    EXPECT_EQ(engine->state().buffersQueued, 0);
    ASSERT_EQ(sink.texts.size(), 1) << sink.texts.join('|').toStdString();
    EXPECT_TRUE(sink.texts[0].contains(QString::fromUtf8(d.messagePart)))
        << sink.texts[0].toStdString();

    // Trying again either reports plainly and leaves everything stopped, or records from
    // the source the server now offers as its default.
    engine->StartCapture();
    if (d.retryMessage) {
        ASSERT_EQ(sink.texts.size(), 2);
        EXPECT_EQ(sink.texts[1], QString::fromUtf8(d.retryMessage));
        EXPECT_TRUE(closed());
    } else {
        EXPECT_TRUE(waitUntil([&] { return capturing(); }));
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
    EXPECT_EQ(sink.texts, QStringList{"There are no recording devices!"});
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
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    pulse.feedInRealTime(testCard(2048, settings));
    ASSERT_TRUE(waitUntil([&] { return tapped.bytes.size() == 2048; }));

    pulse.freeze();
    engine->StopCapture(); // answers locally; the server is not asked for anything
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    engine->StartCapture(); // every question to the server times out
    EXPECT_EQ(sink.texts, QStringList{"There are no recording devices!"});
    EXPECT_TRUE(closed());

    pulse.thaw(); // and once it answers again, so do we
    engine->StartCapture();
    EXPECT_TRUE(waitUntil([&] { return capturing(); })) << sink.texts.join('|').toStdString();
}

// Opening what the server cannot give is "Can't open audio device".
struct RefusedOpen
{
    const char* name;
    const char* source;
    std::int32_t sampleRate;

    friend void PrintTo(const RefusedOpen& r, std::ostream* os) { *os << r.name; }
};

class PulseRefusedOpenTest : public PulseCaptureTest,
                             public ::testing::WithParamInterface<RefusedOpen>
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
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); })) << sink.texts.join('|').toStdString();
    pulse.feedInRealTime(testCard(28800, settings));
    ASSERT_TRUE(waitUntil([&] { return tapped.bytes.size() >= 4096; }));
    EXPECT_TRUE(std::all_of(tapped.bytes.begin(), tapped.bytes.end(),
                            [](std::uint8_t b) { return b == 128; }));
}

TEST_F(PulseCaptureTest, LeavingDuringCaptureReleasesEverythingAtOnce)
{
    makeEngine();
    engine->StartCapture();
    ASSERT_TRUE(waitUntil([&] { return capturing(); }));
    pulse.feedInRealTime(testCard(5 * 28800, settings));
    ASSERT_TRUE(waitUntil([&] { return tapped.blockSizes.size() >= 3; }));
    // The window closes: engine and device go while data keeps arriving.
    // Nothing waits for a notification that will never come (ctest's timeout would catch it).
    host.engine = nullptr;
    engine.reset();
    counting.reset();
    live.reset();
    QCoreApplication::sendPostedEvents();
}

} // namespace
} // namespace corvane::test
