#include "SoapySource.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <exception>

namespace corvane {

namespace {
constexpr std::size_t kReadSamples = 16384;
constexpr long kReadTimeoutUs = 200000;
// Beyond this much unread IQ the window thread has fallen behind; the oldest goes.
constexpr double kMaxPendingSeconds = 1;
} // namespace

struct SoapySource::Device
{
    SoapySDR::Device* device = nullptr;
    SoapySDR::Stream* stream = nullptr;
    ~Device()
    {
        if (!device)
            return;
        if (stream) {
            device->deactivateStream(stream);
            device->closeStream(stream);
        }
        SoapySDR::Device::unmake(device);
    }
};

SoapySource::SoapySource(SoapyOptions options, SdrOptions sdr, QObject* parent)
    : SdrSource(parent), options_(std::move(options)), sdr_(sdr)
{
    sdr_.format = IqFormat::Cf32;
    sdr_.sampleRate = options_.sampleRate;
}

SoapySource::~SoapySource()
{
    stop();
}

std::vector<SoapyDeviceInfo> listSoapyDevices()
{
    std::vector<SoapyDeviceInfo> found;
    try {
        for (const SoapySDR::Kwargs& device : SoapySDR::Device::enumerate()) {
            QStringList args;
            for (const auto& [key, value] : device)
                if (key == "driver" || key == "serial")
                    args << QString::fromStdString(key + "=" + value);
            const auto label = device.find("label");
            found.push_back(
                {label != device.end() ? QString::fromStdString(label->second) : args.join(u','),
                 args.join(u',')});
        }
    } catch (const std::exception&) {
        // A module that fails to enumerate offers nothing.
    }
    return found;
}

QString SoapySource::description() const
{
    return QStringLiteral("SoapySDR %1").arg(options_.args);
}

bool SoapySource::start(QString* error)
{
    if (reading_)
        return true;
    if (const auto problem = checkSdrOptions(sdr_)) {
        if (error)
            *error = *problem;
        return false;
    }
    auto device = std::make_unique<Device>();
    try {
        device->device = SoapySDR::Device::make(options_.args.toStdString());
        SoapySDR::Device& d = *device->device;
        d.setSampleRate(SOAPY_SDR_RX, 0, options_.sampleRate);
        d.setFrequency(SOAPY_SDR_RX, 0, options_.frequencyHz);
        if (options_.gainDb) {
            d.setGainMode(SOAPY_SDR_RX, 0, false);
            d.setGain(SOAPY_SDR_RX, 0, *options_.gainDb);
        } else if (d.hasGainMode(SOAPY_SDR_RX, 0)) {
            d.setGainMode(SOAPY_SDR_RX, 0, true);
        }
        device->stream = d.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32);
        if (const int code = d.activateStream(device->stream); code != 0)
            throw std::runtime_error(SoapySDR::errToStr(code));
    } catch (const std::exception& e) {
        if (error)
            *error = QStringLiteral("cannot open the SDR '%1': %2")
                         .arg(options_.args, QString::fromStdString(e.what()));
        return false;
    }
    device_ = std::move(device);
    if (!chain_) {
        chain_ = std::make_unique<IqDemodChain>(sdr_);
        chain_->watchBand(kBandBins, [this](const std::vector<float>& row) {
            emit bandPower(row, options_.frequencyHz, options_.sampleRate);
        });
    }
    reading_ = true;
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

void SoapySource::stop()
{
    reading_ = false;
    if (reader_.joinable())
        reader_.join();
    device_.reset();
    const std::lock_guard lock(mutex_);
    pending_.clear();
}

void SoapySource::readLoop()
{
    std::vector<IqSample> buffer(kReadSamples);
    const auto maxPending = static_cast<std::size_t>(kMaxPendingSeconds * options_.sampleRate);
    while (reading_) {
        void* buffers[] = {buffer.data()};
        int flags = 0;
        long long timeNs = 0;
        const int got = device_->device->readStream(device_->stream, buffers, buffer.size(), flags,
                                                    timeNs, kReadTimeoutUs);
        if (got == SOAPY_SDR_TIMEOUT || got == SOAPY_SDR_OVERFLOW)
            continue;
        {
            const std::lock_guard lock(mutex_);
            if (got < 0) {
                readError_ = QStringLiteral("the SDR '%1' stopped: %2")
                                 .arg(options_.args, QString::fromLatin1(SoapySDR::errToStr(got)));
                reading_ = false;
            } else {
                pending_.insert(pending_.end(), buffer.begin(), buffer.begin() + got);
                if (pending_.size() > maxPending)
                    pending_.erase(pending_.begin(),
                                   pending_.begin() +
                                       static_cast<long>(pending_.size() - maxPending));
            }
        }
        QMetaObject::invokeMethod(
            this, [this] { drain(); }, Qt::QueuedConnection);
    }
}

void SoapySource::drain()
{
    QString error;
    {
        const std::lock_guard lock(mutex_);
        taken_.swap(pending_);
        pending_.clear();
        error.swap(readError_);
    }
    if (recorder_)
        recorder_->write(taken_);
    video_.clear();
    if (chain_ && !taken_.empty())
        chain_->feed(taken_, video_);
    if (!video_.empty())
        emit block(video_.data(), video_.size(), 1, chain_->videoRate());
    if (!error.isEmpty()) {
        stop();
        emit ended(error);
    }
}

} // namespace corvane
