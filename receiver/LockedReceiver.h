#pragma once

#include "PictureAdjust.h"
#include "Reception.h"
#include "SampleSource.h"
#include "SoundPlayer.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;

namespace corvane {

class LockedDecoder;
class SampleFileWriter;
class VideoRecording;

// What a front end shows of reception: the decoder's view of the signal, and whether samples
// come at all.
struct ReceiverStatus
{
    LockedStatus signal;
    double sampleRate = 0;      // of the samples fed; 0 before the first
    bool rateSupported = true;  // false: the samples come at a rate locked decoding cannot take
    bool noInput = true;        // no samples for half a second (or none yet)
    bool lost = false;          // it was locked and is no longer
    bool searchingLong = false; // a good level and still no lock after a few seconds
};

// How the input level stands for setting the receiver's volume.
enum class LevelVerdict
{
    TooLow,
    Good,
    Clipping
};

// Locked reception, for whichever front end drives it: the Monitor window, corvane-decode and
// the tests. It takes samples from a source it owns or from whoever feeds it, decodes them with
// a locked decoder made for their rate, says what it found, emits every complete frame, and
// records what it receives on request.
//
// Single-threaded: samples are fed, and frames emitted, on the thread it lives on.
class LockedReceiver : public QObject
{
    Q_OBJECT

public:
    explicit LockedReceiver(QObject* parent = nullptr);
    ~LockedReceiver() override;

    void setSettings(const LockedSettings& settings);
    const LockedSettings& settings() const { return settings_; }
    // How frames are shown and recorded: averaging, tone, orientation.
    void setPictureSettings(const PictureSettings& settings);
    const PictureSettings& pictureSettings() const { return processor_.settings(); }

    // Takes a source and feeds from it once started; replaces (and stops) any earlier one.
    void setSource(std::unique_ptr<SampleSource> source);
    SampleSource* source() const { return source_.get(); }
    bool start(QString* error);
    void stop();

    // Plays the programme's sound (a channel besides the picture's) through player while on.
    void setSoundPlayer(std::unique_ptr<SoundPlayer> player);
    void setPlaySound(bool on);
    bool playsSound() const { return playSound_; }

    // Samples handed in directly: interleaved float frames, or unsigned 8-bit mono as a sound
    // card records it. A new rate starts a new decoder, and ends a recording made at the old one.
    void feed(const float* interleaved, std::size_t frames, int channels, double rate);
    void feedU8(const std::uint8_t* samples, std::size_t count, double rate);

    ReceiverStatus status() const;
    // "Locked · NBTVA · 400.1 lines/s · AM 9.0 kHz · inverted · left channel", "Searching…",
    // "No input", "Signal lost".
    QString statusText() const;
    LevelVerdict levelVerdict() const;
    // What to do about the level, or what to try when nothing locks.
    QString advice() const;
    // The video's swing for a meter, 0..1 of full scale.
    double meterLevel() const;

    // The last complete frame as shown (processed; one pixel per element) and the standard as
    // the processed frame is seen (a quarter turn swaps the aspect); null before the first.
    const QImage& lastFrame() const { return lastFrame_; }
    const LockedStandard& frameStandard() const { return frameStandard_; }
    // The last lines as the decoder saw them, for a scope; empty before any samples.
    ScopeTrace scopeTrace(int lines) const;
    // True once any frame has come since the receiver was made.
    bool everLocked() const { return everLocked_; }

    // Records what is fed from now on into path (a WAV file), appearing under its name only
    // when finished. False and a reason when it cannot be made or nothing has been received yet.
    bool startRecording(const QString& path, QString* error);
    // Finishes the recording; false and a reason (and where the part is kept) if it failed.
    bool stopRecording(QString* error);
    bool recording() const { return recorder_ != nullptr; }
    double recordedSeconds() const;

    // Records video (.mp4, .mkv or .webm) of what is shown from the next frame on, with the
    // programme's sound when the input has a channel besides the picture's. False and a reason
    // when the name will not do.
    bool startVideo(const QString& path, bool smooth, QString* error);
    // Finishes the video; false and a reason if it failed (nothing is left under its name).
    bool stopVideo(QString* error);
    bool recordingVideo() const { return !videoPath_.isEmpty(); }
    double videoSeconds() const;
    // Pictures written to the video under way, or to the last one.
    std::int64_t videoPictures() const;

    // Half a second without samples is no input.
    static constexpr int kNoInputMs = 500;

signals:
    void frameReady(const QImage& frame);
    // A recording ended by itself (the input stopped, the rate changed, a write failed):
    // message says why and where the audio is.
    void recordingEnded(const QString& message);
    // A video ended by itself (a write failed): message says why.
    void videoEnded(const QString& message);
    // The source ended (reason empty at the end of a recording).
    void sourceEnded(const QString& reason);

private:
    void prepare(double rate);
    void endRecording(const QString& why);
    void checkInput();
    void showFrame(const QImage& decoded);
    void advanceVideo(const float* interleaved, std::size_t frames, int channels);
    void endVideo(const QString& why);

    LockedSettings settings_;
    std::unique_ptr<LockedDecoder> decoder_;
    std::unique_ptr<SampleSource> source_;
    double rate_ = 0;
    bool rateSupported_ = true;
    QElapsedTimer lastInput_;
    QElapsedTimer searching_;
    bool wasLocked_ = false;
    bool everLocked_ = false;
    QImage lastFrame_;
    LockedStandard frameStandard_;

    std::unique_ptr<SoundPlayer> player_;
    bool playSound_ = false;
    PictureProcessor processor_;
    QString videoPath_;
    bool videoSmooth_ = false;
    bool soundTrack_ = false;
    std::int64_t lastVideoPictures_ = 0;
    std::unique_ptr<VideoRecording> video_; // from the first frame after startVideo
    std::vector<float> sound_;

    std::unique_ptr<SampleFileWriter> recorder_;
    bool recordingFloat_ = false;
    bool floatInput_ = false;
    int inputChannels_ = 1;
    QTimer* inputWatch_ = nullptr;
};

// "left channel", "right channel", "channel 3": how the user knows a channel.
QString channelName(int channel, int channels);

} // namespace corvane
