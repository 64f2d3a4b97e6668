#pragma once

#include "CaptureEngine.h"
#include "ImageSurface.h"
#include "MessageSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QStringList>
#include <QThread>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

namespace corvane::test {

// Records message texts; onMessage runs inside showMessage, where a real box would run its
// modal loop.
class RecordingSink : public MessageSink
{
public:
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

// Stands in for the main window: the notification target that hands wave events to the engine.
class EngineHost : public QObject
{
public:
    CaptureEngine* engine = nullptr;

protected:
    bool event(QEvent* e) override { return (engine && engine->dispatch(e)) || QObject::event(e); }
};

// Delivers every notification posted so far and those their handling posts in turn (a close
// that reopens the device posts an open).
inline void deliverPosted()
{
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::sendPostedEvents();
}

// Runs the event loop until done() holds or timeoutMs passes; done()'s last answer.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
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

// The engine as the window holds it, over whatever device a test brings; every decoded block
// is tapped, in order.
class EngineFixture : public ::testing::Test
{
protected:
    void attach(RecordingDevice& device)
    {
        engine = std::make_unique<CaptureEngine>(device, settings, decoder, sink, &host);
        host.engine = engine.get();
        engine->setDecodedTap([this](const std::uint8_t* data, std::int32_t count) {
            tapped.insert(tapped.end(), data, data + count);
            blockSizes.push_back(count);
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
        PixelDecoder(settings, reference)
            .DecodeBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        return reference.image();
    }

    DecoderSettings settings;
    ImageSurface picture;
    PixelDecoder decoder{settings, picture};
    RecordingSink sink;
    EngineHost host;
    std::vector<std::uint8_t> tapped;
    std::vector<std::int32_t> blockSizes;
    std::unique_ptr<CaptureEngine> engine;
};

} // namespace corvane::test
