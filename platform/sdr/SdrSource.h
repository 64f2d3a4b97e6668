#pragma once

#include "IqDemodChain.h"
#include "IqRecorder.h"
#include "SampleSource.h"

#include <memory>

namespace corvane {

// Bins across the band in a source's rows of the band's power.
inline constexpr int kBandBins = 1024;

// What every SDR source shares: a demodulation chain once started, which says what it found and
// can be tuned, and a raw IQ recording of what comes in, one at a time.
class SdrSource : public SampleSource
{
    Q_OBJECT

public:
    using SampleSource::SampleSource;

    SdrStatus status() const;
    SourceTuning tuning() const override;
    // False before start.
    bool tuneTo(double offsetHz) override;
    bool startRawRecording(const QString& folder, QString* error) override;
    QString stopRawRecording(QString* error) override;

protected:
    // Where the radio is tuned (0 when not known), its IQ rate, and the format its raw
    // recordings are written in.
    virtual double centreHz() const = 0;
    virtual double iqRate() const = 0;
    virtual IqFormat rawFormat() const { return IqFormat::Cf32; }

    std::unique_ptr<IqDemodChain> chain_;
    std::unique_ptr<IqRecorder> recorder_;
};

} // namespace corvane
