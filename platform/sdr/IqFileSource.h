#pragma once

#include "IqDemodChain.h"
#include "IqFile.h"
#include "IqRecorder.h"
#include "SdrSource.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <vector>

namespace corvane {

// An IQ recording played as an SDR would give it: read, found, demodulated, and handed on as
// baseband video (one channel at the chain's video rate). In real time it is paced by a timer
// at the recording's rate; otherwise it goes as fast as the thread allows, a piece per turn of
// the event loop. At the end: ended("") when a transmission was found, else ended(what the
// band held). Its band's power comes about ten times a second of the recording.
class IqFileSource final : public SdrSource
{
    Q_OBJECT

public:
    // options.sampleRate is the rate of a raw recording; a WAV file's header gives its own.
    IqFileSource(QString path, SdrOptions options, bool realTime = true, QObject* parent = nullptr);
    ~IqFileSource() override;

    bool start(QString* error) override;
    void stop() override;
    QString description() const override;

protected:
    double centreHz() const override { return centreHz_; }
    double iqRate() const override { return reader_.sampleRate(); }

private:
    void tick();
    void finish(const QString& reason);

    QString path_;
    SdrOptions options_;
    bool realTime_;
    double centreHz_; // from the recording's name; 0 when it does not say
    IqReader reader_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::int64_t delivered_ = 0;
    std::vector<IqSample> iq_;
    std::vector<float> video_;
};

} // namespace corvane
