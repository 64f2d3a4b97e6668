#pragma once

#include "VideoWriter.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvane {

// A video of reception, its pictures kept in step with its sound: every frame period of input
// gets one picture, the last one again while no new frame comes (a fade, a lost lock), so the
// file plays as long as the reception lasted. It starts with the first picture, whose size
// every later one is scaled to.
class VideoRecording
{
public:
    // sink receives what is recorded; frameRate is the standard's.
    VideoRecording(std::unique_ptr<VideoSink> sink, double frameRate);

    // A new picture, as it is to be shown (processed and scaled to the video's size).
    void picture(const QImage& shown) { latest_ = shown; }
    // input frames of samples went by; sound (one channel, or null when there is no sound
    // track) goes with them. False once anything failed: error() says what.
    bool advance(std::size_t frames, double rate, const float* sound);
    bool finish(QString* error);

    bool started() const { return started_; }
    std::int64_t picturesWritten() const { return pictures_; }
    double seconds() const { return rate_ > 0 ? static_cast<double>(samples_) / rate_ : 0.0; }
    const QString& error() const { return error_; }

private:
    std::unique_ptr<VideoSink> sink_;
    double frameRate_;
    double rate_ = 0;
    bool started_ = false;
    std::int64_t samples_ = 0;  // since the first picture
    std::int64_t pictures_ = 0; // written
    QImage latest_;
    QString error_;
};

} // namespace corvane
