#pragma once

#include "IqDemodChain.h"
#include "IqRecorder.h"
#include "SdrSource.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvane {

struct SoapyOptions
{
    QString args; // SoapySDR device arguments: "driver=rtlsdr", "driver=hackrf,serial=…"
    double frequencyHz = 0; // what the device tunes to
    double sampleRate = 2.4e6;
    std::optional<double> gainDb; // unset: the device's automatic gain, where it has one
};

// The devices SoapySDR's modules find: a label a person reads, and the arguments that open it.
struct SoapyDeviceInfo
{
    QString label;
    QString args;
};
std::vector<SoapyDeviceInfo> listSoapyDevices();

// Any SDR a SoapySDR module drives. Samples are read on a thread of its own and demodulated
// on the thread the source lives on, where the video blocks come out.
class SoapySource final : public SdrSource
{
    Q_OBJECT

public:
    SoapySource(SoapyOptions options, SdrOptions sdr, QObject* parent = nullptr);
    ~SoapySource() override;

    // Opens and sets up the device; false with SoapySDR's reason when there is none to match.
    bool start(QString* error) override;
    void stop() override;
    QString description() const override;

protected:
    double centreHz() const override { return options_.frequencyHz; }
    double iqRate() const override { return options_.sampleRate; }

private:
    struct Device;
    void readLoop();
    void drain();

    SoapyOptions options_;
    SdrOptions sdr_;
    std::unique_ptr<Device> device_;
    std::thread reader_;
    std::atomic<bool> reading_{false};
    std::mutex mutex_;
    std::vector<IqSample> pending_; // read, not yet demodulated
    QString readError_;
    std::vector<IqSample> taken_;
    std::vector<float> video_;
};

} // namespace corvane
