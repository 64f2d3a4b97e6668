#include "FileRecordingDevice.h"

#include "RecordingDevices.h"
#include "SoundFile.h"
#include "WaveEvents.h"

#include <QCoreApplication>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace corvane {

namespace {

// Often enough that a buffer is handed back within ~10 ms of being due.
constexpr int kTickMs = 10;

} // namespace

namespace {

// Readings run on a pool of their own that the program never waits for when it ends: a FIFO's
// writer need not stop, and a reading blocked on it must not keep the process alive after its
// window has closed (the global pool is waited for at exit). Never destroyed, for that reason.
QThreadPool& readingPool()
{
    static auto* pool = new QThreadPool;
    return *pool;
}

} // namespace

FileRecordingDevice::FileRecordingDevice(QString path, bool loop, ReadingProgress progress)
    : path_(std::move(path)), loop_(loop), progress_(std::move(progress))
{}

FileRecordingDevice::~FileRecordingDevice()
{
    abandon();
}

// Takes freshly read samples, carrying on at the same moment of the recording.
bool FileRecordingDevice::adopt(std::vector<std::uint8_t> samples, const QString& error,
                                std::int32_t sampleRate)
{
    if (samples.empty()) {
        error_ = error.isEmpty() ? QStringLiteral("'%1' holds no samples").arg(path_) : error;
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
    return 1;
}

bool FileRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                               QObject* notificationTarget)
{
    if (queue_.isOpen() || deviceNumber != 0 || !notificationTarget || format.channels != 1 ||
        format.bitsPerSample != 8 || format.sampleRate < 1) {
        return false;
    }
    rate_ = format.sampleRate;
    recording_ = false;
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kTickMs);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { tick(); });
    queue_.open(notificationTarget);
    // Raw bytes carry no rate: once read they play at whatever we are given.
    if (rate_ == loadedRate_ || (isRawSampleName(path_) && !samples_.empty())) {
        loadedRate_ = rate_;
        queue_.post(kWaveOpenEvent);
        return true;
    }
    // Reading and resampling a long recording takes seconds: not on the window's thread.
    loading_ = std::make_unique<QFutureWatcher<Loaded>>();
    QObject::connect(loading_.get(), &QFutureWatcherBase::finished, [this] { loaded(); });
    if (progress_) {
        QObject::connect(loading_.get(), &QFutureWatcherBase::progressValueChanged,
                         [this](int percent) { progress_(percent, false); });
    }
    loading_->setFuture(QtConcurrent::run(&readingPool(), [path = path_, rate = rate_](
                                                              QPromise<Loaded>& promise) {
        promise.setProgressRange(0, 100);
        SampleReadOptions options;
        options.progress = [&promise](double done) {
            promise.setProgressValue(static_cast<int>(done * 100));
            return !promise.isCanceled(); // the device went: stop reading for nobody
        };
        Loaded result;
        result.samples =
            readSamples(path, rate, &result.error, options).value_or(std::vector<std::uint8_t>());
        promise.addResult(std::move(result));
    }));
    return true;
}

void FileRecordingDevice::loaded()
{
    Loaded result = loading_->future().resultCount() > 0 ? loading_->result() : Loaded{};
    loading_.reset();
    if (progress_)
        progress_(100, true);
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
    stopReading();
    timer_.reset();
    recording_ = false;
    return true;
}

void FileRecordingDevice::stopReading()
{
    if (!loading_)
        return;
    const int reached = loading_->progressValue();
    loading_->cancel(); // the reading stops at its next chunk and its result is dropped
    loading_.reset();
    if (progress_)
        progress_(reached, true);
}

void FileRecordingDevice::abandon()
{
    stopReading();
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
                                                         QString* error, ReadingProgress progress)
{
    // What can be told without reading the samples fails at once, at start-up.
    if (!checkSampleSource(path, error))
        return nullptr;
    return std::make_unique<FileRecordingDevice>(path, loop, std::move(progress));
}

} // namespace corvane
