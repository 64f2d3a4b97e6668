#include "SoundFileSource.h"

#include "SoundReader.h"

#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace corvane {

namespace {

constexpr int kTickMs = 20;
// Reads of 10 ms: from a FIFO, libsndfile returns only once all it was asked for has come.
constexpr int kReadsPerSecond = 100;
// How far reading runs ahead of playback: half a second, within a few megabytes.
constexpr double kAheadSeconds = 0.5;
constexpr std::size_t kAheadBytes = std::size_t{4} << 20;
// How much of a stall is caught up at once.
constexpr double kCatchUpSeconds = 0.1;

} // namespace

// What the reading thread and the source's own thread share; the thread keeps it alive for as
// long as it runs.
struct SoundFileSource::Shared
{
    SoundReader reader;
    std::mutex mutex;
    std::condition_variable room;
    std::deque<std::vector<float>> chunks; // interleaved frames, oldest first
    std::size_t taken = 0;                 // samples of the oldest chunk already played
    std::size_t queued = 0;                // samples not yet played
    std::size_t capacity = 0;              // samples read ahead at most
    int channels = 0;
    int rate = 0;
    bool stopping = false;
    bool done = false; // the thread has read all it will
    QString reason;    // why it ended early

    void read(bool open, const QString& path, int rawRate, bool loop);
    void opened()
    {
        const std::lock_guard lock(mutex);
        channels = reader.channels();
        rate = reader.sampleRate();
        const auto perSecond = static_cast<std::size_t>(rate) * std::size_t(channels);
        capacity = std::max(std::min(static_cast<std::size_t>(perSecond * kAheadSeconds),
                                     kAheadBytes / sizeof(float)),
                            SoundReader::kMaxReadBytes / sizeof(float));
    }
};

void SoundFileSource::Shared::read(bool open, const QString& path, int rawRate, bool loop)
{
    QString problem;
    if (open && !reader.open(path, &problem, rawRate)) {
        const std::lock_guard lock(mutex);
        reason = reader.interrupted() ? QString() : problem;
        done = true;
        return;
    }
    if (open)
        opened();
    bool passHadFrames = false;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            room.wait(lock, [this] { return stopping || queued < capacity; });
            if (stopping)
                break;
        }
        const std::span<const float> got =
            reader.read(static_cast<std::size_t>(std::max(rate / kReadsPerSecond, 16)));
        if (got.empty()) {
            if (!reader.damage().isEmpty()) {
                const std::lock_guard lock(mutex);
                reason = QStringLiteral("'%1' is damaged (%2); played the %3 s before the damage")
                             .arg(path, reader.damage())
                             .arg(static_cast<double>(reader.framesRead()) / rate, 0, 'f', 2);
                break;
            }
            // An empty file would start over for ever.
            if (loop && passHadFrames && !reader.interrupted() && reader.rewind()) {
                passHadFrames = false;
                continue;
            }
            break;
        }
        passHadFrames = true;
        const std::lock_guard lock(mutex);
        chunks.emplace_back(got.begin(), got.end());
        queued += got.size();
    }
    const std::lock_guard lock(mutex);
    done = true;
}

SoundFileSource::SoundFileSource(QString path, bool loop, int rawSampleRate, QObject* parent)
    : SampleSource(parent), path_(std::move(path)), loop_(loop), rawSampleRate_(rawSampleRate)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &SoundFileSource::tick);
}

SoundFileSource::~SoundFileSource()
{
    stop();
}

QString SoundFileSource::description() const
{
    return path_ == QLatin1String("-") ? QStringLiteral("standard input")
                                       : QFileInfo(path_).fileName();
}

bool SoundFileSource::start(QString* error)
{
    if (shared_)
        return true;
    auto shared = std::make_shared<Shared>();
    const QFileInfo info(path_);
    // A plain file's header is read here, so what cannot be played fails at once; opening a
    // FIFO waits for its writer, so the reading thread does that.
    const bool openHere = info.isFile() || !info.exists() || info.isDir();
    if (openHere) {
        QString problem;
        if (!shared->reader.open(path_, &problem, rawSampleRate_)) {
            if (error)
                *error = problem;
            return false;
        }
        shared->opened();
    }
    shared_ = shared;
    reading_ = std::thread([shared, openHere, path = path_, rate = rawSampleRate_, loop = loop_] {
        shared->read(!openHere, path, rate, loop);
    });
    channels_ = 0;
    rate_ = 0;
    delivered_ = 0;
    clock_.invalidate();
    timer_.start();
    return true;
}

void SoundFileSource::stop()
{
    timer_.stop();
    if (!shared_)
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->room.notify_all();
    shared_->reader.interrupt();
    reading_.join();
    shared_.reset();
}

void SoundFileSource::tick()
{
    if (!shared_)
        return;
    Shared& shared = *shared_;
    std::unique_lock lock(shared.mutex);
    if (!clock_.isValid()) {
        // The clock starts with the first frames: a FIFO's writer may come much later.
        if (shared.queued == 0) {
            const bool done = shared.done;
            lock.unlock();
            if (done)
                finish();
            return;
        }
        channels_ = shared.channels;
        rate_ = shared.rate;
        clock_.start();
    }
    const auto due =
        static_cast<std::int64_t>(static_cast<double>(clock_.nsecsElapsed()) * 1e-9 * rate_);
    const auto catchUp = static_cast<std::int64_t>(kCatchUpSeconds * rate_);
    delivered_ = std::max(delivered_, due - catchUp);
    const auto channels = static_cast<std::size_t>(channels_);
    std::size_t wanted =
        static_cast<std::size_t>(std::max<std::int64_t>(due - delivered_, 0)) * channels;
    block_.clear();
    while (wanted > 0 && !shared.chunks.empty()) {
        const std::vector<float>& front = shared.chunks.front();
        const std::size_t n = std::min(wanted, front.size() - shared.taken);
        block_.insert(block_.end(), front.begin() + std::ptrdiff_t(shared.taken),
                      front.begin() + std::ptrdiff_t(shared.taken + n));
        shared.taken += n;
        wanted -= n;
        if (shared.taken == front.size()) {
            shared.chunks.pop_front();
            shared.taken = 0;
        }
    }
    shared.queued -= block_.size();
    const bool ended = shared.done && shared.queued == 0;
    lock.unlock();
    shared.room.notify_one();
    const std::size_t frames = block_.size() / channels;
    delivered_ += static_cast<std::int64_t>(frames);
    if (frames > 0)
        emit block(block_.data(), frames, channels_, rate_);
    if (ended && shared_) // still running: the block's receiver may have stopped us
        finish();
}

// The reading thread has finished and everything it read has been played.
void SoundFileSource::finish()
{
    const QString reason = shared_->reason;
    stop();
    emit ended(reason);
}

} // namespace corvane
