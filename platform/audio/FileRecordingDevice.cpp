#include "FileRecordingDevice.h"

#include "RecordingDevices.h"
#include "SoundFile.h"
#include "WaveEvents.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstring>

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
    if (sampleRate == loadedRate_ && !samples_.empty()) {
        return true;
    }
    if (!samples_.empty() && isRawSampleName(path_)) {
        loadedRate_ = sampleRate; // raw bytes carry no rate: they play at whatever we are given
        return true;
    }
    QString error;
    auto samples = readSamples(path_, sampleRate, &error);
    if (!samples || samples->empty()) {
        error_ = samples ? QStringLiteral("%1 holds no samples").arg(path_) : error;
        return false;
    }
    // Carry on at the same moment of the recording.
    if (!samples_.empty()) {
        position_ = static_cast<std::size_t>(static_cast<double>(position_) * samples->size() /
                                             static_cast<double>(samples_.size()));
    }
    position_ = std::min(position_, samples->size());
    samples_ = std::move(*samples);
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
    if (open_ || deviceNumber != 0 || !notificationTarget || format.channels != 1 ||
        format.bitsPerSample != 8 || format.sampleRate < 1 || !load(format.sampleRate)) {
        return false;
    }
    target_ = notificationTarget;
    rate_ = format.sampleRate;
    open_ = true;
    recording_ = false;
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kTickMs);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { tick(); });
    post(kWaveOpenEvent);
    return true;
}

bool FileRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    if (!open_ || !buffer || !buffer->data || buffer->bufferLength < 1) {
        return false;
    }
    prepared_.insert(buffer);
    return true;
}

bool FileRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    if (!open_ || !prepared_.contains(buffer) || isQueued(buffer)) {
        return false;
    }
    buffer->bytesRecorded = 0;
    queue_.push_back(buffer);
    return true;
}

bool FileRecordingDevice::start()
{
    if (!open_) {
        return false;
    }
    recording_ = true;
    playedSinceStart_ = 0;
    clock_.start();
    timer_->start();
    return true;
}

bool FileRecordingDevice::reset()
{
    if (!open_) {
        return false;
    }
    if (recording_) {
        tick(); // what is due up to now still belongs to this take
    }
    recording_ = false;
    timer_->stop();
    handBack();
    return true;
}

bool FileRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    if (!prepared_.contains(buffer) || isQueued(buffer)) {
        return false;
    }
    prepared_.erase(buffer);
    return true;
}

bool FileRecordingDevice::close()
{
    if (!open_ || !queue_.empty()) {
        return false;
    }
    timer_.reset();
    open_ = false;
    recording_ = false;
    prepared_.clear();
    post(kWaveCloseEvent);
    target_ = nullptr;
    return true;
}

void FileRecordingDevice::abandon()
{
    target_ = nullptr;
    timer_.reset();
    queue_.clear();
    prepared_.clear();
    open_ = false;
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
        const auto available = static_cast<std::int64_t>(samples_.size() - position_);
        std::int64_t n = std::min(count, available);
        if (queue_.empty()) {
            return; // no room: playback slips instead of skipping part of the recording
        }
        WaveBuffer* b = queue_.front();
        n = std::min<std::int64_t>(n, b->bufferLength - b->bytesRecorded);
        std::memcpy(b->data.get() + b->bytesRecorded, samples_.data() + position_,
                    static_cast<std::size_t>(n));
        b->bytesRecorded += static_cast<std::int32_t>(n);
        position_ += static_cast<std::size_t>(n);
        count -= n;
        if (b->bytesRecorded == b->bufferLength) {
            queue_.pop_front();
            post(kWaveDataEvent, b);
        }
    }
}

void FileRecordingDevice::post(QEvent::Type type, WaveBuffer* buffer)
{
    if (target_) {
        QCoreApplication::postEvent(target_, new WaveEvent(type, buffer));
    }
}

void FileRecordingDevice::handBack()
{
    while (!queue_.empty()) {
        post(kWaveDataEvent, queue_.front());
        queue_.pop_front();
    }
}

bool FileRecordingDevice::isQueued(WaveBuffer* buffer) const
{
    return std::find(queue_.begin(), queue_.end(), buffer) != queue_.end();
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
