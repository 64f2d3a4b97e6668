#include "SoundReader.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvane {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void signalEvent(int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

// Waits until fd is ready for events, or stop or wake is signalled: false for the latter.
bool waitFor(int fd, short events, int stop, int wake)
{
    for (;;) {
        pollfd fds[3] = {{fd, events, 0}, {stop, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents || fds[2].revents)
            return false;
        if (fds[0].revents)
            return true;
    }
}

} // namespace

bool isRawSampleName(const QString& path)
{
    return path == QLatin1String("-") ||
           path.endsWith(QLatin1String(".raw"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".u8"), Qt::CaseInsensitive);
}

// Copies a FIFO or device into a socket libsndfile reads as it would a pipe, waiting on nothing
// it cannot be woken from. Its end closes when the source ends, fails, or either stop is
// signalled, so libsndfile then meets the end of the file. A socket rather than a pipe: a
// write after libsndfile gave up must fail, not raise SIGPIPE.
struct SoundReader::Pump
{
    int source = -1;
    int out = -1;
    int stop = ::eventfd(0, EFD_CLOEXEC);
    std::thread thread;

    void run(int wake)
    {
        std::vector<char> chunk(std::size_t{1} << 16);
        while (waitFor(source, POLLIN, stop, wake) && copy(chunk, wake)) {
        }
        ::close(out);
        out = -1;
    }

    bool copy(std::vector<char>& chunk, int wake)
    {
        const ssize_t got = ::read(source, chunk.data(), chunk.size());
        if (got < 0)
            return errno == EINTR || errno == EAGAIN;
        for (ssize_t done = 0; done < got;) {
            if (!waitFor(out, POLLOUT, stop, wake))
                return false;
            const ssize_t put = ::send(out, chunk.data() + done, std::size_t(got - done),
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (put < 0 && errno != EINTR && errno != EAGAIN)
                return false;
            done += std::max<ssize_t>(put, 0);
        }
        return got > 0;
    }

    ~Pump()
    {
        signalEvent(stop);
        if (thread.joinable())
            thread.join();
        if (out >= 0)
            ::close(out);
        ::close(source);
        ::close(stop);
    }
};

SoundReader::SoundReader() : wake_(::eventfd(0, EFD_CLOEXEC)) {}

SoundReader::~SoundReader()
{
    close();
    ::close(wake_);
}

void SoundReader::interrupt()
{
    interrupted_ = true;
    signalEvent(wake_);
}

void SoundReader::close()
{
    pump_.reset(); // first: its writes must not meet a closed pipe
    if (file_)
        sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
}

bool SoundReader::open(const QString& path, QString* error, int rawSampleRate)
{
    close();
    path_ = path;
    framesRead_ = 0;
    ended_ = false;
    damage_.clear();
    const bool raw = isRawSampleName(path);
    if (raw && rawSampleRate < 1) {
        setError(error,
                 QStringLiteral("cannot read '%1': raw samples carry no sample rate").arg(path));
        return false;
    }
    SF_INFO info{};
    if (raw) {
        info.samplerate = rawSampleRate;
        info.channels = 1;
        info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_U8;
    }
    const QByteArray name = QFile::encodeName(path);
    const bool standardInput = path == QLatin1String("-");
    struct stat status = {};
    if (!standardInput && ::stat(name.constData(), &status) != 0) {
        setError(error,
                 QStringLiteral("cannot open '%1': %2")
                     .arg(path, errno == ENOENT ? QStringLiteral("no such file") : systemReason()));
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        setError(error, QStringLiteral("cannot open '%1': it is a directory").arg(path));
        return false;
    }
    SNDFILE* file = nullptr;
    if (!standardInput && S_ISREG(status.st_mode)) {
        file = sf_open(name.constData(), SFM_READ, &info);
    } else {
        // Not blocking in open(): a FIFO without a writer would hold it.
        auto pump = std::make_unique<Pump>();
        pump->source = standardInput ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                     : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int pair[2] = {-1, -1};
        if (pump->source < 0 || pump->stop < 0 ||
            ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            setError(error, QStringLiteral("cannot open '%1': %2").arg(path, systemReason()));
            return false;
        }
        pump->out = pair[1];
        pump->thread = std::thread([p = pump.get(), wake = wake_] { p->run(wake); });
        pump_ = std::move(pump);
        file = sf_open_fd(pair[0], SFM_READ, &info, SF_TRUE); // closes pair[0] on failure
    }
    if (!file) {
        const QString reason = interrupted_ ? QStringLiteral("stopped before its header came")
                                            : QString::fromUtf8(sf_strerror(nullptr));
        close();
        setError(error, QStringLiteral("cannot read '%1' as a sound file: %2").arg(path, reason));
        return false;
    }
    file_ = file;
    if (info.channels < 1 || info.samplerate < 1) {
        close();
        setError(error, QStringLiteral("'%1' has no usable audio (%2 channels at %3 Hz)")
                            .arg(path)
                            .arg(info.channels)
                            .arg(info.samplerate));
        return false;
    }
    channels_ = info.channels;
    sampleRate_ = info.samplerate;
    // A stream's header may claim any length; SF_COUNT_MAX stands for "unknown".
    claimedFrames_ = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
    seekable_ = !pump_ && info.seekable;
    return true;
}

std::span<const float> SoundReader::read(std::size_t maxFrames)
{
    if (!file_ || ended_ || interrupted_ || maxFrames == 0)
        return {};
    auto* file = static_cast<SNDFILE*>(file_);
    const auto channels = static_cast<std::size_t>(channels_);
    const std::size_t frames =
        std::min(maxFrames, std::max<std::size_t>(kMaxReadBytes / sizeof(float) / channels, 1));
    buffer_.resize(frames * channels);
    sf_count_t got = sf_readf_float(file, buffer_.data(), static_cast<sf_count_t>(frames));
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        damage_ = QString::fromUtf8(sf_strerror(file));
        ended_ = true;
    }
    if (got <= 0) {
        ended_ = true;
        return {};
    }
    framesRead_ += got;
    return {buffer_.data(), static_cast<std::size_t>(got) * channels};
}

bool SoundReader::rewind()
{
    if (!file_ || !seekable_ || !damage_.isEmpty() ||
        sf_seek(static_cast<SNDFILE*>(file_), 0, SEEK_SET) != 0)
        return false;
    framesRead_ = 0;
    ended_ = false;
    return true;
}

} // namespace corvane
