#include "IqFileSource.h"

#include <QFileInfo>
#include <algorithm>

namespace corvane {

namespace {
constexpr int kTickMs = 20;
constexpr double kPieceSeconds = 0.05;
} // namespace

IqFileSource::IqFileSource(QString path, SdrOptions options, bool realTime, QObject* parent)
    : SdrSource(parent), path_(std::move(path)), options_(options), realTime_(realTime),
      centreHz_(iqNameInfo(path_).centreHz.value_or(0))
{
    timer_.setInterval(realTime_ ? kTickMs : 0);
    connect(&timer_, &QTimer::timeout, this, &IqFileSource::tick);
}

IqFileSource::~IqFileSource() = default;

bool IqFileSource::start(QString* error)
{
    if (timer_.isActive())
        return true;
    if (!chain_) {
        if (!reader_.open(path_, options_.format, options_.sampleRate, error))
            return false;
        options_.sampleRate = reader_.sampleRate();
        if (const auto problem = checkSdrOptions(options_)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path_, *problem);
            return false;
        }
        chain_ = std::make_unique<IqDemodChain>(options_);
        chain_->watchBand(kBandBins, [this](const std::vector<float>& row) {
            emit bandPower(row, centreHz_, reader_.sampleRate());
        });
    }
    clock_.start();
    delivered_ = 0;
    timer_.start();
    return true;
}

void IqFileSource::stop()
{
    timer_.stop();
}

QString IqFileSource::description() const
{
    return QFileInfo(path_).fileName();
}

void IqFileSource::tick()
{
    const double rate = reader_.sampleRate();
    auto due = static_cast<std::int64_t>(kPieceSeconds * rate);
    if (realTime_)
        due =
            std::min(static_cast<std::int64_t>(double(clock_.elapsed()) / 1000 * rate) - delivered_,
                     static_cast<std::int64_t>(4 * due));
    if (due <= 0)
        return;
    iq_.resize(static_cast<std::size_t>(due));
    const std::size_t got = reader_.read(iq_.data(), iq_.size());
    delivered_ += static_cast<std::int64_t>(got);
    if (recorder_)
        recorder_->write(std::span(iq_.data(), got));
    video_.clear();
    chain_->feed(std::span(iq_.data(), got), video_);
    if (got < iq_.size())
        chain_->finish(video_);
    if (!video_.empty())
        emit block(video_.data(), video_.size(), 1, chain_->videoRate());
    if (got < iq_.size()) {
        const SdrStatus s = chain_->status();
        finish(!reader_.error().isEmpty() ? reader_.error() : s.found ? QString() : s.message);
    }
}

void IqFileSource::finish(const QString& reason)
{
    timer_.stop();
    emit ended(reason);
}

} // namespace corvane
