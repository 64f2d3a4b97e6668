#include "LockedReceiver.h"

#include "LockedDecoder.h"
#include "SoundFileWriter.h"
#include "VideoRecording.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// A decoder that has not locked after this long, on a signal of a good level, is looking for
// the wrong thing.
constexpr qint64 kSearchingLongMs = 3000;

const char* signalWord(SignalKind kind)
{
    return kind == SignalKind::Am ? "AM" : "baseband";
}

} // namespace

QString channelName(int channel, int channels)
{
    if (channels == 2)
        return channel == 0 ? LockedReceiver::tr("left channel")
                            : LockedReceiver::tr("right channel");
    return LockedReceiver::tr("channel %1").arg(channel + 1);
}

LockedReceiver::LockedReceiver(QObject* parent) : QObject(parent)
{
    inputWatch_ = new QTimer(this);
    inputWatch_->setInterval(kNoInputMs / 4);
    connect(inputWatch_, &QTimer::timeout, this, &LockedReceiver::checkInput);
}

LockedReceiver::~LockedReceiver()
{
    if (source_)
        source_->stop();
    if (recordingVideo()) {
        QString error;
        if (!stopVideo(&error))
            qWarning("%s", qPrintable(error));
    }
    // Nobody is left to tell that the recording could not be finished: the log is.
    if (recorder_) {
        QString error;
        if (!stopRecording(&error))
            qWarning("%s", qPrintable(error));
    }
}

void LockedReceiver::setSettings(const LockedSettings& settings)
{
    const bool restart =
        !(settings.standard == settings_.standard) || settings.signal != settings_.signal ||
        settings.polarity != settings_.polarity || settings.channel != settings_.channel;
    settings_ = settings;
    if (decoder_)
        decoder_->setSettings(settings_);
    if (restart) {
        wasLocked_ = false;
        searching_.restart();
    }
}

void LockedReceiver::setSoundPlayer(std::unique_ptr<SoundPlayer> player)
{
    if (player_)
        player_->stop();
    player_ = std::move(player);
}

void LockedReceiver::setPlaySound(bool on)
{
    playSound_ = on;
    if (!on && player_)
        player_->stop();
}

void LockedReceiver::setPictureSettings(const PictureSettings& settings)
{
    processor_.setSettings(settings);
}

void LockedReceiver::setSource(std::unique_ptr<SampleSource> source)
{
    if (source_) {
        source_->stop();
        source_->disconnect(this);
    }
    source_ = std::move(source);
    if (!source_)
        return;
    connect(source_.get(), &SampleSource::block, this,
            [this](const float* interleaved, std::size_t frames, int channels, double rate) {
                feed(interleaved, frames, channels, rate);
            });
    connect(source_.get(), &SampleSource::ended, this, [this](const QString& reason) {
        if (recorder_)
            endRecording(reason.isEmpty() ? tr("the recording being played ended") : reason);
        emit sourceEnded(reason);
    });
}

bool LockedReceiver::start(QString* error)
{
    if (!source_) {
        if (error)
            *error = tr("There is no source to receive from.");
        return false;
    }
    return source_->start(error);
}

void LockedReceiver::stop()
{
    if (source_)
        source_->stop();
}

void LockedReceiver::prepare(double rate)
{
    lastInput_.restart();
    if (rate == rate_)
        return;
    // A recording's time runs at one rate: a new one ends it.
    if (recorder_ && rate_ != 0)
        endRecording(tr("the sample rate changed to %1 Hz").arg(rate));
    if (video_ && rate_ != 0)
        endVideo(tr("the sample rate changed to %1 Hz").arg(rate));
    rate_ = rate;
    decoder_.reset();
    wasLocked_ = false;
    searching_.restart();
    rateSupported_ = rate >= LockedRates::kMin && rate <= LockedRates::kMax;
    if (!rateSupported_)
        return;
    decoder_ = std::make_unique<LockedDecoder>(rate, settings_);
    decoder_->setFrameCallback([this](const QImage& frame) { showFrame(frame); });
}

void LockedReceiver::showFrame(const QImage& decoded)
{
    lastFrame_ = processor_.process(decoded);
    frameStandard_ = processor_.shownStandard(settings_.standard);
    everLocked_ = true;
    wasLocked_ = true;
    if (recordingVideo() && !video_) {
        // The first picture sets the video's size; the programme's sound goes with it when
        // there is a channel besides the picture's.
        const LockedStatus now = decoder_->status();
        const QImage shown =
            displayFrame(lastFrame_, frameStandard_, VideoWriter::kMinHeight, videoSmooth_);
        std::optional<AudioTrack> sound;
        if (now.channels > 1)
            sound = AudioTrack{static_cast<int>(std::lround(rate_)), 1};
        auto writer = std::make_unique<VideoWriter>();
        QString error;
        if (!writer->open(videoPath_,
                          FrameRate::fromDouble(settings_.standard.lineRateHz /
                                                std::max(settings_.standard.lines, 1)),
                          shown.width(), shown.height(), sound, &error)) {
            videoPath_.clear();
            emit videoEnded(error);
        } else {
            video_ = std::make_unique<VideoRecording>(std::move(writer),
                                                      settings_.standard.lineRateHz /
                                                          std::max(settings_.standard.lines, 1));
            soundTrack_ = sound.has_value();
        }
    }
    if (video_)
        video_->picture(
            displayFrame(lastFrame_, frameStandard_, VideoWriter::kMinHeight, videoSmooth_));
    emit frameReady(lastFrame_);
}

void LockedReceiver::advanceVideo(const float* interleaved, std::size_t frames, int channels)
{
    if (!video_)
        return;
    const float* sound = nullptr;
    if (soundTrack_ && interleaved && channels > 1) {
        // The programme's sound is the first channel that is not the picture's.
        const int picture = decoder_ ? decoder_->status().channel : 0;
        const int other = picture == 0 ? 1 : 0;
        sound_.resize(frames);
        for (std::size_t i = 0; i < frames; ++i)
            sound_[i] = interleaved[i * static_cast<std::size_t>(channels) +
                                    static_cast<std::size_t>(other)];
        sound = sound_.data();
    } else if (soundTrack_) {
        sound_.assign(frames, 0.0f);
        sound = sound_.data();
    }
    if (!video_->advance(frames, rate_, sound))
        endVideo(video_->error());
}

bool LockedReceiver::startVideo(const QString& path, bool smooth, QString* error)
{
    const QString problem = VideoWriter::checkFileName(path);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    if (recordingVideo())
        stopVideo(nullptr);
    videoPath_ = path;
    videoSmooth_ = smooth;
    return true;
}

bool LockedReceiver::stopVideo(QString* error)
{
    const QString path = videoPath_;
    videoPath_.clear();
    auto video = std::move(video_);
    if (path.isEmpty())
        return true;
    if (!video) {
        if (error)
            *error = tr("No video was written to '%1': no picture was received.").arg(path);
        return false;
    }
    QString problem;
    const bool finished = video->finish(&problem);
    lastVideoPictures_ = video->picturesWritten();
    if (finished)
        return true;
    if (error)
        *error = tr("The video '%1' could not be finished: %2. Nothing is left under its name.")
                     .arg(path, problem);
    return false;
}

void LockedReceiver::endVideo(const QString& why)
{
    QString error;
    if (stopVideo(&error))
        error = tr("The video stopped: %1.").arg(why);
    emit videoEnded(error);
}

double LockedReceiver::videoSeconds() const
{
    return video_ ? video_->seconds() : 0.0;
}

std::int64_t LockedReceiver::videoPictures() const
{
    return video_ ? video_->picturesWritten() : lastVideoPictures_;
}

void LockedReceiver::feed(const float* interleaved, std::size_t frames, int channels, double rate)
{
    prepare(rate);
    channels = std::max(channels, 1);
    inputChannels_ = channels;
    floatInput_ = true;
    if (recorder_) {
        // Every channel, as it came: the programme's sound is worth keeping too.
        QString error;
        if (recorder_->channels() != channels || !recordingFloat_)
            endRecording(tr("the input changed to %1 channels").arg(channels));
        else if (!recorder_->writeFloat(interleaved, frames, &error))
            endRecording(error);
    }
    if (decoder_)
        decoder_->feed(interleaved, frames, channels);
    if (playSound_ && player_ && channels > 1) {
        const int picture = decoder_ ? decoder_->status().channel : 0;
        player_->setChannel(picture == 0 ? 1 : 0);
        player_->play(interleaved, frames, channels, rate);
    }
    advanceVideo(interleaved, frames, channels);
}

void LockedReceiver::feedU8(const std::uint8_t* samples, std::size_t count, double rate)
{
    prepare(rate);
    inputChannels_ = 1;
    floatInput_ = false;
    if (recorder_) {
        QString error;
        if (recordingFloat_)
            endRecording(tr("the input changed to 8-bit samples"));
        else if (!recorder_->write(samples, count, &error))
            endRecording(error);
    }
    if (decoder_)
        decoder_->feedU8(samples, count);
    advanceVideo(nullptr, count, 1);
}

ReceiverStatus LockedReceiver::status() const
{
    ReceiverStatus s;
    s.sampleRate = rate_;
    s.rateSupported = rateSupported_;
    s.noInput = !lastInput_.isValid() || lastInput_.elapsed() >= kNoInputMs;
    if (decoder_)
        s.signal = decoder_->status();
    s.lost = !s.signal.locked && wasLocked_ && !s.noInput;
    s.searchingLong = !s.signal.locked && !s.noInput && decoder_ && !s.signal.swingTooLow &&
                      !s.signal.inputClipping &&
                      (s.signal.noSyncFound ||
                       (searching_.isValid() && searching_.elapsed() >= kSearchingLongMs));
    return s;
}

QString LockedReceiver::statusText() const
{
    const ReceiverStatus s = status();
    if (s.noInput)
        return tr("No input");
    if (!s.rateSupported)
        return tr("Cannot decode at %1 Hz").arg(s.sampleRate);
    if (!s.signal.locked)
        return s.lost ? tr("Signal lost") : tr("Searching…");
    QStringList parts{tr("Locked"), settings_.standard.title,
                      tr("%1 lines/s").arg(s.signal.lineRateHz, 0, 'f', 1)};
    if (s.signal.detected == SignalKind::Am)
        parts << tr("%1 %2 kHz")
                     .arg(QLatin1String(signalWord(s.signal.detected)))
                     .arg(s.signal.carrierHz / 1000, 0, 'f', 1);
    const SourceTuning radio = source_ ? source_->tuning() : SourceTuning{};
    if (radio.found)
        parts << (radio.centreHz > 0 ? tr("%1 at %2 MHz")
                                           .arg(radio.demod.toUpper())
                                           .arg((radio.centreHz + radio.offsetHz) / 1e6, 0, 'f', 4)
                                     : tr("%1 %2 kHz")
                                           .arg(radio.demod.toUpper())
                                           .arg(QString::asprintf("%+.1f", radio.offsetHz / 1000)));
    if (s.signal.inverted)
        parts << tr("inverted");
    if (s.signal.channels > 1)
        parts << channelName(s.signal.channel, s.signal.channels);
    return parts.join(QStringLiteral(" · "));
}

LevelVerdict LockedReceiver::levelVerdict() const
{
    const ReceiverStatus s = status();
    if (s.noInput || !decoder_)
        return LevelVerdict::TooLow;
    if (s.signal.inputClipping)
        return LevelVerdict::Clipping;
    // The video's swing, not the peak: a quiet capture's noise can peak high while the picture
    // has a handful of levels.
    return s.signal.swingTooLow ? LevelVerdict::TooLow : LevelVerdict::Good;
}

double LockedReceiver::meterLevel() const
{
    const ReceiverStatus s = status();
    return s.noInput ? 0.0 : s.signal.swing;
}

QString LockedReceiver::advice() const
{
    const ReceiverStatus s = status();
    if (!s.rateSupported)
        return tr("Set a sample rate of %1 to %2 Hz.")
            .arg(LockedRates::kMin)
            .arg(LockedRates::kMax);
    const SourceTuning radio = source_ ? source_->tuning() : SourceTuning{};
    if (radio.radio && !radio.found && !radio.message.isEmpty())
        return radio.message;
    if (s.noInput)
        return rate_ == 0 ? tr("No input yet") : tr("No samples are coming in");
    switch (levelVerdict()) {
    case LevelVerdict::Clipping:
        return tr("Input clipping: lower the receiver's volume");
    case LevelVerdict::TooLow:
        return tr("Input too low: raise the receiver's volume");
    case LevelVerdict::Good:
        break;
    }
    if (s.searchingLong)
        return tr("No %1 picture found: try another standard, channel or polarity")
            .arg(settings_.standard.title);
    return tr("Input level good");
}

bool LockedReceiver::startRecording(const QString& path, QString* error)
{
    if (rate_ == 0) {
        if (error)
            *error = tr("Nothing is being received yet: start reception first.");
        return false;
    }
    if (recorder_)
        stopRecording(nullptr);
    // 8-bit as the sound card gave it, or 16-bit with every channel.
    recordingFloat_ = floatInput_;
    recorder_ = SampleFileWriter::open(path, static_cast<int>(std::lround(rate_)), error,
                                       floatInput_ ? inputChannels_ : 0);
    if (recorder_)
        inputWatch_->start();
    return recorder_ != nullptr;
}

bool LockedReceiver::stopRecording(QString* error)
{
    inputWatch_->stop();
    if (!recorder_)
        return true;
    QString problem;
    const bool finished = recorder_->close(&problem);
    const QString partial = recorder_->partialPath();
    recorder_.reset();
    if (!finished && error)
        *error =
            tr("Recording stopped: %1. What was recorded is kept in '%2'.").arg(problem, partial);
    return finished;
}

ScopeTrace LockedReceiver::scopeTrace(int lines) const
{
    return decoder_ ? decoder_->scopeTrace(lines) : ScopeTrace{};
}

double LockedReceiver::recordedSeconds() const
{
    return recorder_ ? static_cast<double>(recorder_->samplesWritten()) / recorder_->sampleRate()
                     : 0.0;
}

void LockedReceiver::endRecording(const QString& why)
{
    const QString path = recorder_ ? recorder_->path() : QString();
    QString error;
    const QString message =
        stopRecording(&error)
            ? tr("The recording ended because %1. It is saved as '%2'.").arg(why, path)
            : error;
    emit recordingEnded(message);
}

void LockedReceiver::checkInput()
{
    // Audio that stops and comes back later must not run on in the same file as if nothing
    // had been missed.
    if (recorder_ && lastInput_.isValid() && lastInput_.elapsed() >= kNoInputMs)
        endRecording(tr("no input came for %1 s").arg(kNoInputMs / 1000.0));
}

} // namespace corvane
