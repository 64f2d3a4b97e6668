#pragma once

#include "CaptureEngine.h"
#include "MessageSink.h"
#include "PictureSurface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <cstdint>
#include <functional>
#include <vector>

namespace corvane::test {

// A picture surface that keeps what was painted, to compare two decodings.
class RecordedPicture : public PictureSurface
{
public:
    RecordedPicture() : image_(179, 196, QImage::Format_RGB32) { image_.fill(Qt::black); }
    void paintBlock(int x, int y, WinColour colour) override
    {
        const QRgb rgb = qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
        for (int dy = 0; dy < 3; ++dy) {
            for (int dx = 0; dx < 3; ++dx) {
                if (image_.rect().contains(x + dx, y + dy)) {
                    image_.setPixel(x + dx, y + dy, rgb);
                }
            }
        }
        ++blocks_;
    }
    void requestRepaint() override { ++repaints_; }

    const QImage& image() const { return image_; }
    int blocks() const { return blocks_; }

private:
    QImage image_;
    int blocks_ = 0;
    int repaints_ = 0;
};

// Records message texts; onMessage runs inside showMessage, where a real box would run its
// modal loop.
class RecordingSink : public MessageSink
{
public:
    void showMessage(const QString& text) override
    {
        texts.append(text);
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (onMessage) {
            onMessage(text);
        }
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
    bool event(QEvent* e) override
    {
        if (engine && engine->dispatch(e)) {
            return true;
        }
        return QObject::event(e);
    }
};

// Collects every block the engine decodes, in order.
struct TappedBytes
{
    std::vector<std::uint8_t> bytes;
    std::vector<std::int32_t> blockSizes;

    CaptureEngine::BlockTap tap()
    {
        return [this](const std::uint8_t* data, std::int32_t count) {
            bytes.insert(bytes.end(), data, data + count);
            blockSizes.push_back(count);
        };
    }
};

// Delivers every notification posted so far and those their handling posts in turn (a close
// that reopens the device posts an open).
inline void deliverPosted()
{
    for (int pass = 0; pass < 4; ++pass) {
        QCoreApplication::sendPostedEvents();
    }
}

// Runs the event loop until done() holds or timeoutMs passes; done()'s last answer.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

} // namespace corvane::test
