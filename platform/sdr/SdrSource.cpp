#include "SdrSource.h"

#include "Demodulation.h"

namespace corvane {

SdrStatus SdrSource::status() const
{
    return chain_ ? chain_->status() : SdrStatus{};
}

SourceTuning SdrSource::tuning() const
{
    const SdrStatus now = status();
    SourceTuning tuning;
    tuning.radio = true;
    tuning.found = now.found;
    if (now.found)
        tuning.demod = demodName(now.demod);
    tuning.centreHz = centreHz();
    tuning.offsetHz = now.tuneHz;
    tuning.message = now.message;
    return tuning;
}

bool SdrSource::tuneTo(double offsetHz)
{
    if (!chain_)
        return false;
    chain_->tuneTo(offsetHz);
    return true;
}

bool SdrSource::startRawRecording(const QString& folder, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!chain_)
        return fail(QStringLiteral("%1 is not receiving").arg(description()));
    if (recorder_)
        return fail(QStringLiteral("already recording IQ to '%1'").arg(recorder_->path()));
    recorder_ = IqRecorder::open(folder, centreHz(), iqRate(), rawFormat(), error);
    return recorder_ != nullptr;
}

QString SdrSource::stopRawRecording(QString* error)
{
    if (!recorder_) {
        if (error)
            *error = QStringLiteral("no IQ recording is under way");
        return {};
    }
    const bool ok = recorder_->close(error);
    const QString path = recorder_->path();
    recorder_.reset();
    return ok ? path : QString();
}

} // namespace corvane
