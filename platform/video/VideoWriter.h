#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace corvane {

// Frames per second as a fraction, e.g. 25/2 for 12.5 frames a second.
struct FrameRate
{
    int numerator = 25;
    int denominator = 2;
    // The closest fraction to a rate, e.g. a standard's lineRateHz / lines.
    static FrameRate fromDouble(double framesPerSecond);
    double value() const { return double(numerator) / denominator; }
};

// The sound that goes with the pictures: float samples in -1..1, interleaved.
struct AudioTrack
{
    int sampleRate = 48000;
    int channels = 1; // 1 or 2
};

// Where a recording's pictures and sound go; what a window holds, so that tests can give it a
// fake. Pictures are shown 1/rate seconds each, in the order given; sound is float samples in
// -1..1, interleaved, frames of them at a time.
class VideoSink
{
public:
    virtual ~VideoSink() = default;
    virtual bool addFrame(const QImage& frame) = 0;
    virtual bool addAudio(const float* samples, std::size_t frames) = 0;
    // Completes the recording; false with the reason in *error when it could not be kept.
    virtual bool finish(QString* error) = 0;
};

// Writes a video file through FFmpeg's libraries, the container chosen by the name's ending:
//   .mp4   H.264 (MPEG-4 Visual where libavcodec lacks libx264), AAC sound
//   .mkv   H.264 (or MPEG-4 Visual), Opus sound (or Vorbis)
//   .webm  VP9 (or VP8), Opus sound (or Vorbis)
// Pictures are scaled to the size open() settles on, at least kMinHeight tall and even in both
// directions; pass the frame displayFrame() makes at kMinHeight and no scaling is needed.
//
// The file is written under a temporary name beside the target and renamed over it only when
// finish() has written, flushed and synced all of it; a writer destroyed without finish(), or
// a finish() that fails, removes the temporary file and leaves any old target as it was.
// Single-threaded; the encoding happens in the calls.
class VideoWriter : public VideoSink
{
public:
    static constexpr int kMinHeight = 480;

    VideoWriter();
    ~VideoWriter() override;
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The size pictures of width x height are written at.
    static QSize outputSize(int width, int height);
    // "'x.avi': a video file name ends in .mp4, .mkv or .webm" for another ending; empty when
    // the name is one open() takes.
    static QString checkFileName(const QString& path);

    // Starts a file (any file this writer had open is abandoned). False with the reason in
    // *error when the name, the rate, the size or the sound is unusable or the file cannot be
    // created.
    bool open(const QString& path, FrameRate rate, int width, int height,
              std::optional<AudioTrack> audio, QString* error);
    bool isOpen() const;
    QSize frameSize() const; // the size written; empty before open()

    // One picture, shown for 1/rate seconds. False once anything has failed (see error()).
    bool addFrame(const QImage& frame) override;
    // frames x channels interleaved samples; ignored without a sound track.
    bool addAudio(const float* samples, std::size_t frames) override;

    // Flushes the encoders, completes the file and gives it its name. False, with the file
    // removed and the reason in *error, on any failure since open() or now.
    bool finish(QString* error) override;
    // The first failure since open(); empty while all is well.
    QString error() const;

    std::int64_t framesWritten() const;

private:
    struct Output;
    std::unique_ptr<Output> out_;
};

} // namespace corvane
