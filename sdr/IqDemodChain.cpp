#include "IqDemodChain.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// The video's line sync is looked at every kWatchSeconds, over its last kWatchSpan seconds; so
// many misses in a row and the transmission counts as gone.
constexpr double kWatchSeconds = 2, kWatchSpan = 0.25;
constexpr int kMissesToLose = 3;
// 20 dB under the power the transmission had when found.
constexpr double kLostPower = 0.01;
constexpr double kMinRate = 8000, kMaxRate = 100e6;

SdrOptions inRange(SdrOptions o)
{
    if (!(o.sampleRate >= kMinRate && o.sampleRate <= kMaxRate))
        o.sampleRate =
            std::clamp(std::isfinite(o.sampleRate) ? o.sampleRate : 0, kMinRate, kMaxRate);
    if (o.tuneHz && !(std::abs(*o.tuneHz) <= o.sampleRate / 2))
        o.tuneHz.reset();
    o.videoRate = std::clamp(std::isfinite(o.videoRate) ? o.videoRate : 0, 8000.0, 192000.0);
    o.searchSeconds = std::clamp(std::isfinite(o.searchSeconds) ? o.searchSeconds : 0, 0.2, 5.0);
    return o;
}

} // namespace

std::optional<QString> checkSdrOptions(const SdrOptions& options)
{
    if (!(options.sampleRate >= kMinRate && options.sampleRate <= kMaxRate))
        return QStringLiteral("the IQ sample rate must be %1 Hz to %2 MHz (got %3)")
            .arg(kMinRate)
            .arg(kMaxRate / 1e6)
            .arg(options.sampleRate, 0, 'f', 0);
    if (options.tuneHz && !(std::abs(*options.tuneHz) <= options.sampleRate / 2))
        return QStringLiteral("the transmission must lie within the band, %1 Hz either side of "
                              "the centre (got %2 Hz)")
            .arg(options.sampleRate / 2, 0, 'f', 0)
            .arg(*options.tuneHz, 0, 'f', 0);
    return std::nullopt;
}

IqDemodChain::IqDemodChain(const SdrOptions& given)
    : options_(inRange(given)),
      videoRate_(std::min(options_.videoRate, std::min(options_.sampleRate, kChannelRate))),
      conditioner_(options_.sampleRate)
{
    if (options_.tuneHz && options_.demod != Demod::Auto) {
        status_.found = true;
        status_.demod = options_.demod;
        status_.tuneHz = *options_.tuneHz;
        channelStage_ = std::make_unique<Channel>(options_.sampleRate, status_.tuneHz);
        demodulator_ =
            std::make_unique<VideoDemodulator>(channelStage_->rate(), status_.demod, videoRate_);
        level_ = std::make_unique<VideoLevel>(videoRate_);
    } else {
        status_.message = QStringLiteral("looking for an NBTV transmission");
    }
}

IqDemodChain::~IqDemodChain() = default;

void IqDemodChain::feedBytes(std::span<const std::uint8_t> bytes, std::vector<float>& video)
{
    const auto frameBytes = static_cast<std::size_t>(iqFrameBytes(options_.format));
    if (frameBytes == 0)
        return;
    const std::uint8_t* data = bytes.data();
    std::size_t size = bytes.size();
    if (!partial_.empty()) {
        partial_.insert(partial_.end(), bytes.begin(), bytes.end());
        data = partial_.data();
        size = partial_.size();
    }
    const std::size_t frames = size / frameBytes;
    decoded_.resize(frames);
    decodeIq(options_.format, data, frames, decoded_.data());
    std::vector<std::uint8_t> rest(data + frames * frameBytes, data + size);
    partial_ = std::move(rest);
    feed(decoded_, video);
}

void IqDemodChain::feed(std::span<const IqSample> iq, std::vector<float>& video)
{
    if (status_.found) {
        held_.assign(iq.begin(), iq.end());
        conditioner_.process(held_.data(), held_.size());
        conditioned(held_);
        demodulate(held_, video);
        return;
    }
    if (skip_ > 0) {
        const auto passed = std::min(iq.size(), static_cast<std::size_t>(std::ceil(skip_)));
        skip_ -= double(passed);
        // The conditioner keeps following the receiver's drift meanwhile.
        held_.assign(iq.begin(), iq.begin() + static_cast<long>(passed));
        conditioner_.process(held_.data(), held_.size());
        conditioned(held_);
        held_.clear();
        iq = iq.subspan(passed);
    }
    const std::size_t had = held_.size();
    held_.insert(held_.end(), iq.begin(), iq.end());
    conditioner_.process(held_.data() + had, iq.size());
    conditioned(std::span(held_).subspan(had));
    if (double(held_.size()) >= options_.searchSeconds * options_.sampleRate)
        search(video);
}

void IqDemodChain::conditioned(std::span<const IqSample> iq)
{
    if (band_)
        band_->feed(iq);
}

void IqDemodChain::watchBand(int bins, BandPower::Sink sink)
{
    band_ = std::make_unique<BandPower>(options_.sampleRate, bins, std::move(sink));
}

void IqDemodChain::tuneTo(double offsetHz)
{
    const double edge = options_.sampleRate / 2;
    near_ = std::clamp(std::isfinite(offsetHz) ? offsetHz : 0, -edge, edge);
    options_.tuneHz.reset();
    finder_.reset(); // searched with the new aim from now on
    status_.found = false;
    status_.message =
        QStringLiteral("looking for a transmission near %1 kHz").arg(*near_ / 1000, 0, 'f', 1);
    channelStage_.reset();
    demodulator_.reset();
    level_.reset();
    held_.clear();
    skip_ = 0;
}

void IqDemodChain::finish(std::vector<float>& video)
{
    if (!status_.found && double(held_.size()) >= 0.1 * options_.sampleRate)
        search(video);
}

void IqDemodChain::search(std::vector<float>& video)
{
    if (!finder_) {
        FinderOptions finder;
        finder.demod = options_.demod;
        finder.tuneHz = options_.tuneHz;
        finder.nearHz = near_;
        finder.videoRate = videoRate_;
        finder_ = std::make_unique<SignalFinder>(options_.sampleRate, finder);
    }
    const FinderResult found = finder_->find(held_);
    status_.carriers = found.carriers;
    if (!found.found) {
        ++status_.searches;
        status_.message =
            near_ ? QStringLiteral("nothing near %1 kHz; carriers seen: %2")
                        .arg(*near_ / 1000, 0, 'f', 1)
                        .arg(describeCarriers(found.carriers))
                  : QStringLiteral("no NBTV transmission found (nothing with a line-rate sync); "
                                   "carriers seen: %1")
                        .arg(describeCarriers(found.carriers));
        skip_ = std::max(0.0, (options_.searchEverySeconds - options_.searchSeconds) *
                                  options_.sampleRate);
        held_.clear();
        return;
    }
    status_.found = true;
    status_.demod = found.demod;
    status_.tuneHz = found.offsetHz;
    status_.lineRateHz = found.lineRateHz;
    status_.message.clear();
    watched_.clear();
    misses_ = 0;
    foundPower_ = 0;
    channelStage_ = std::make_unique<Channel>(options_.sampleRate, status_.tuneHz);
    demodulator_ =
        std::make_unique<VideoDemodulator>(channelStage_->rate(), status_.demod, videoRate_);
    level_ = std::make_unique<VideoLevel>(videoRate_);
    const std::vector<IqSample> held = std::move(held_);
    held_.clear();
    demodulate(held, video);
}

void IqDemodChain::demodulate(std::span<const IqSample> iq, std::vector<float>& video)
{
    channel_.clear();
    channelStage_->process(iq.data(), iq.size(), channel_);
    const std::size_t had = video.size();
    demodulator_->process(channel_.data(), channel_.size(), video);
    level_->process(video.data() + had, video.size() - had);
    if (!options_.tuneHz)
        watch(std::span(video).subspan(had));
}

void IqDemodChain::watch(std::span<const float> video)
{
    watched_.insert(watched_.end(), video.begin(), video.end());
    if (double(watched_.size()) < kWatchSeconds * videoRate_)
        return;
    const double power = demodulator_->takePower();
    if (foundPower_ <= 0)
        foundPower_ = power;
    const auto span = static_cast<std::size_t>(kWatchSpan * videoRate_);
    const double periodicity = linePeriodicity(
        std::span(watched_).last(std::min(span, watched_.size())), videoRate_, nullptr);
    watched_.clear();
    const bool gone =
        periodicity < FinderOptions{}.minPeriodicity || power < kLostPower * foundPower_;
    misses_ = gone ? misses_ + 1 : 0;
    if (misses_ < kMissesToLose)
        return;
    misses_ = 0;
    status_.found = false;
    status_.message = QStringLiteral("lost the transmission at %1 kHz; looking again")
                          .arg(status_.tuneHz / 1000, 0, 'f', 1);
    channelStage_.reset();
    demodulator_.reset();
    level_.reset();
    held_.clear();
    skip_ = 0;
}

bool demodulateIqFile(const QString& path, SdrOptions options,
                      const std::function<void(std::span<const float> video, double rate)>& sink,
                      SdrStatus* status, QString* error)
{
    IqReader reader;
    if (!reader.open(path, options.format, options.sampleRate, error))
        return false;
    options.sampleRate = reader.sampleRate();
    if (const auto problem = checkSdrOptions(options)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, *problem);
        return false;
    }
    IqDemodChain chain(options);
    std::vector<IqSample> iq(65536);
    std::vector<float> video;
    for (;;) {
        const std::size_t got = reader.read(iq.data(), iq.size());
        video.clear();
        chain.feed(std::span(iq.data(), got), video);
        if (got < iq.size())
            chain.finish(video);
        if (sink && !video.empty())
            sink(video, chain.videoRate());
        if (got < iq.size())
            break;
    }
    if (status)
        *status = chain.status();
    const QString problem = !reader.error().isEmpty() ? reader.error()
                            : !chain.status().found
                                ? QStringLiteral("%1: %2").arg(path, chain.status().message)
                                : QString();
    if (error)
        *error = problem;
    return problem.isEmpty();
}

} // namespace corvane
