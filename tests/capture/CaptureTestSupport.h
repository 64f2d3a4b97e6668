#pragma once

#include "CaptureEngine.h"
#include "ImageSurface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

namespace corvane::test {

// Records message texts; onMessage runs where a real box would run its modal loop.
struct RecordingSink : MessageSink
{
    void showMessage(const QString& text) override
    {
        texts.append(text);
        maxDepth = std::max(maxDepth, ++depth);
        if (onMessage)
            onMessage(text);
        --depth;
    }
    QStringList texts;
    std::function<void(const QString&)> onMessage;
    int depth = 0;
    int maxDepth = 0;
};

// Stands in for the main window: hands the device's notifications to the engine.
struct EngineHost : QObject
{
    CaptureEngine* engine = nullptr;
    bool event(QEvent* e) override { return (engine && engine->dispatch(e)) || QObject::event(e); }
};

// Delivers what is posted, and what its handling posts in turn (a close that reopens).
inline void deliverPosted()
{
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::sendPostedEvents();
}

// Runs the event loop until done() holds or timeoutMs passes; done()'s last answer.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// The engine as the window holds it, over the device a test brings; every decoded block is
// tapped in order.
class EngineFixture : public ::testing::Test
{
protected:
    void attach(RecordingDevice& device)
    {
        engine = std::make_unique<CaptureEngine>(device, settings, decoder, sink, &host);
        host.engine = engine.get();
        tap = engine->addDecodedTap([this](const DecodedBlock& b) {
            tapped.insert(tapped.end(), b.data, b.data + b.count);
            blockSizes.push_back(b.count);
        });
    }
    void dropEngine()
    {
        host.engine = nullptr;
        engine.reset();
    }
    void TearDown() override { dropEngine(); }

    bool capturing() const { return engine->state().capturing; }
    bool closed() const { return !engine->state().deviceOpen && !capturing(); }
    std::string messages() const { return sink.texts.join('|').toStdString(); }
    // The picture the decoder paints from exactly these bytes, from a fresh start.
    QImage pictureOf(const std::vector<std::uint8_t>& bytes) const
    {
        ImageSurface reference;
        PixelDecoder(settings, reference).DecodeBlock(bytes.data(), std::int32_t(bytes.size()));
        return reference.image();
    }

    DecoderSettings settings;
    ImageSurface picture;
    PixelDecoder decoder{settings, picture};
    RecordingSink sink;
    EngineHost host;
    std::vector<std::uint8_t> tapped;
    TapHandle tap;
    std::vector<std::int32_t> blockSizes;
    std::unique_ptr<CaptureEngine> engine;
};

} // namespace corvane::test
