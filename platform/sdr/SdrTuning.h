#pragma once

#include "Demodulation.h"
#include "IqDemodChain.h"
#include "IqRecorder.h"
#include "SampleSource.h"

#include <memory>

namespace corvane {

// What an SDR source tells the receiver of its chain's search.
inline SourceTuning tuningOf(const SdrStatus& status, double centreHz)
{
    SourceTuning tuning;
    tuning.radio = true;
    tuning.found = status.found;
    if (status.found)
        tuning.demod = demodName(status.demod);
    tuning.centreHz = centreHz;
    tuning.offsetHz = status.tuneHz;
    tuning.message = status.message;
    return tuning;
}

// Bins across the band in a source's spectrum rows.
inline constexpr int kSpectrumBins = 1024;

// A source's start of a raw IQ recording: one at a time.
inline bool startIqRecording(std::unique_ptr<IqRecorder>& recorder, const QString& folder,
                             double centreHz, double sampleRate, IqFormat format, QString* error)
{
    if (recorder) {
        if (error)
            *error = QStringLiteral("already recording IQ to '%1'").arg(recorder->path());
        return false;
    }
    recorder = IqRecorder::open(folder, centreHz, sampleRate, format, error);
    return recorder != nullptr;
}

// Its end: the finished file's name, or empty and why.
inline QString stopIqRecording(std::unique_ptr<IqRecorder>& recorder, QString* error)
{
    if (!recorder) {
        if (error)
            *error = QStringLiteral("no IQ recording is under way");
        return {};
    }
    const bool ok = recorder->close(error);
    const QString path = recorder->path();
    recorder.reset();
    return ok ? path : QString();
}

} // namespace corvane
