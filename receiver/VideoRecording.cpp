#include "VideoRecording.h"

#include <cmath>

namespace corvane {

VideoRecording::VideoRecording(std::unique_ptr<VideoSink> sink, double frameRate)
    : sink_(std::move(sink)), frameRate_(frameRate > 0 ? frameRate : 12.5)
{}

bool VideoRecording::advance(std::size_t frames, double rate, const float* sound)
{
    if (!error_.isEmpty())
        return false;
    if (!started_) {
        // Sound before the first picture would have nothing to go with.
        if (latest_.isNull())
            return true;
        started_ = true;
        rate_ = rate;
    }
    // The pictures due by the start of these samples (the first at once), then their sound.
    const auto due =
        static_cast<std::int64_t>(std::floor(static_cast<double>(samples_) / rate_ * frameRate_)) +
        1;
    for (; pictures_ < due; ++pictures_)
        if (!sink_->addFrame(latest_)) {
            error_ = QStringLiteral("a picture could not be written");
            return false;
        }
    if (sound && !sink_->addAudio(sound, frames)) {
        error_ = QStringLiteral("the sound could not be written");
        return false;
    }
    samples_ += static_cast<std::int64_t>(frames);
    return true;
}

bool VideoRecording::finish(QString* error)
{
    // Pictures for the time the last sound covers.
    if (started_ && error_.isEmpty()) {
        const auto due = static_cast<std::int64_t>(
            std::ceil(static_cast<double>(samples_) / rate_ * frameRate_));
        for (; pictures_ < due; ++pictures_)
            if (!sink_->addFrame(latest_)) {
                error_ = QStringLiteral("a picture could not be written");
                break;
            }
    }
    QString problem;
    const bool finished = sink_->finish(&problem) && error_.isEmpty();
    if (!finished && error)
        *error = problem.isEmpty() ? error_ : problem;
    return finished;
}

} // namespace corvane
