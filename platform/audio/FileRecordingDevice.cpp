#include "FileRecordingDevice.h"

#include "RecordingDevices.h"
#include "SoundFile.h"
#include "WaveEvents.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace corvane {

namespace {

// Often enough that a buffer is handed back within ~10 ms of being due.
constexpr int kTickMs = 10;

} // namespace

FileRecordingDevice::FileRecordingDevice(QString path, bool loop, std::int32_t initialSampleRate)
    : path_(std::move(path)), loop_(loop)
{
    load(initialSampleRate);
}

FileRecordingDevice::~FileRecordingDevice() = default;

bool FileRecordingDevice::load(std::int32_t sampleRate)
{
    QString error;
    auto samples = readSamples(path_, sampleRate, &error);
    return adopt(samples ? std::move(*samples) : std::vector<std::uint8_t>(), error, sampleRate);
}

// Takes freshly read samples, carrying on at the same moment of the recording.
bool FileRecordingDevice::adopt(std::vector<std::uint8_t> samples, const QString& error,
                                std::int32_t sampleRate)
{
    if (samples.empty()) {
        error_ = error.isEmpty() ? QStringLiteral("%1 holds no samples").arg(path_) : error;
        return false;
    }
    if (!samples_.empty()) {
        position_ = static_cast<std::size_t>(static_cast<double>(position_) * samples.size() /
                                             static_cast<double>(samples_.size()));
    }
    position_ = std::min(position_, samples.size());
    samples_ = std::move(samples);
    loadedRate_ = sampleRate;
    error_.clear();
    return true;
}

std::uint32_t FileRecordingDevice::deviceCount()
{
    return samples_.empty() ? 0 : 1;
}

bool FileRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                               QObject* notificationTarget)
{
    if (queue_.isOpen() || deviceNumber != 0 || !notificationTarget || format.channels != 1 ||
        format.bitsPerSample != 8 || format.sampleRate < 1 || samples_.empty()) {
        return false;
    }
    rate_ = format.sampleRate;
    recording_ = false;
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kTickMs);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { tick(); });
    queue_.open(notificationTarget);
    // Raw bytes carry no rate: they play at whatever we are given.
    if (rate_ == loadedRate_ || isRawSampleName(path_)) {
        loadedRate_ = rate_;
        queue_.post(kWaveOpenEvent);
        return true;
    }
    // Reading and resampling a long recording takes seconds: not on the window's thread.
    loading_ = std::make_unique<QFutureWatcher<Loaded>>();
    QObject::connect(loading_.get(), &QFutureWatcherBase::finished, [this] { loaded(); });
    loading_->setFuture(QtConcurrent::run([path = path_, rate = rate_] {
        Loaded result;
        result.samples =
            readSamples(path, rate, &result.error).value_or(std::vector<std::uint8_t>());
        return result;
    }));
    return true;
}

void FileRecordingDevice::loaded()
{
    Loaded result = loading_->result();
    loading_.reset();
    if (!adopt(std::move(result.samples), result.error, rate_)) {
        queue_.post(kWaveErrorEvent, nullptr, QStringLiteral("Can't open audio device\n") + error_);
        queue_.handBack();
        return;
    }
    queue_.post(kWaveOpenEvent);
    if (recording_) {
        start(); // asked for while the recording was being read
    }
}

bool FileRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    return queue_.prepare(buffer);
}

bool FileRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    return queue_.add(buffer);
}

bool FileRecordingDevice::start()
{
    if (!queue_.isOpen()) {
        return false;
    }
    recording_ = true;
    if (loading_) {
        return true;
    }
    playedSinceStart_ = 0;
    clock_.start();
    timer_->start();
    return true;
}

bool FileRecordingDevice::reset()
{
    if (!queue_.isOpen()) {
        return false;
    }
    if (recording_ && !loading_) {
        tick(); // what is due up to now still belongs to this take
    }
    recording_ = false;
    timer_->stop();
    queue_.handBack();
    return true;
}

bool FileRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    return queue_.unprepare(buffer);
}

bool FileRecordingDevice::close()
{
    if (!queue_.close()) {
        return false;
    }
    timer_.reset();
    recording_ = false;
    return true;
}

void FileRecordingDevice::abandon()
{
    loading_.reset(); // the reading goes on and its result is dropped
    queue_.abandon();
    timer_.reset();
    recording_ = false;
}

void FileRecordingDevice::tick()
{
    if (!recording_) {
        return;
    }
    // Pace by the clock, not by counting ticks, so late timer events do not slow playback.
    // What finds no buffer is not owed later: after a stall playback resumes at normal speed.
    const std::int64_t due = clock_.nsecsElapsed() * rate_ / 1'000'000'000;
    deliver(due - playedSinceStart_);
    playedSinceStart_ = due;
}

void FileRecordingDevice::deliver(std::int64_t count)
{
    while (count > 0) {
        if (position_ >= samples_.size()) {
            if (!loop_) {
                timer_->stop(); // the end of the recording: nothing more comes
                return;
            }
            position_ = 0;
        }
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(count, static_cast<std::int64_t>(samples_.size() - position_)));
        const std::size_t used = queue_.fill(samples_.data() + position_, n);
        position_ += used;
        count -= static_cast<std::int64_t>(used);
        if (used < n) {
            return; // no room: playback slips instead of skipping part of the recording
        }
    }
}

std::unique_ptr<RecordingDevice> makeFileRecordingDevice(const QString& path, bool loop,
                                                         QString* error)
{
    auto device = std::make_unique<FileRecordingDevice>(path, loop);
    if (!device->error().isEmpty()) {
        if (error) {
            *error = device->error();
        }
        return nullptr;
    }
    return device;
}

} // namespace corvane
