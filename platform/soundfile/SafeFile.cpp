#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Where the content goes: the target itself, or what a symbolic link to a regular file names.
// Empty with *error set when the target must not be replaced.
QString resolveTarget(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT)
            return path; // a new file (or a dangling link, which the file replaces)
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, systemReason(errno)));
        return {};
    }
    if (!S_ISREG(info.st_mode)) {
        setError(error,
                 QStringLiteral("cannot write '%1': it is not a regular file (%2)")
                     .arg(path, S_ISDIR(info.st_mode)    ? QStringLiteral("a directory")
                                : S_ISFIFO(info.st_mode) ? QStringLiteral("a FIFO")
                                                         : QStringLiteral("a device or socket")));
        return {};
    }
    const QFileInfo file(path);
    return file.isSymLink() ? file.canonicalFilePath() : path;
}

// Creates an exclusive temporary file beside target, with the permissions an ordinary new file
// would get (or the old file's). Returns -1 with errno set on failure.
int createTemporary(const QString& target, QByteArray* temporaryName)
{
    const QByteArray base = QFile::encodeName(target) + ".part-" + QByteArray::number(::getpid());
    struct stat old = {};
    const bool replacing = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporaryName = base + '-' + QByteArray::number(attempt);
        // Known before it exists: a signal between the two must not leave it behind.
        registerTemporary(*temporaryName);
        const int fd =
            ::open(temporaryName->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            unregisterTemporary(*temporaryName);
        if (fd >= 0) {
            if (replacing)
                ::fchmod(fd, old.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Room for the temporaries a program has at once (a picture, a video, a frame or two), in
// memory a signal handler may read: fixed slots, each claimed and released atomically.
constexpr std::size_t kTemporarySlots = 16;
constexpr std::size_t kPathRoom = 4096;
struct TemporarySlot
{
    std::atomic<int> state{0}; // 0 free, 1 being written, 2 holds a path
    char path[kPathRoom] = {};
};
TemporarySlot temporaries[kTemporarySlots];

extern "C" void removeTemporariesAndEnd(int signal)
{
    for (TemporarySlot& slot : temporaries)
        if (slot.state.load() == 2)
            ::unlink(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void syncDirectoryOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // the rename itself; the data is already safe, so a failure here is moot
        ::close(fd);
    }
}

} // namespace

void registerTemporary(const QByteArray& path)
{
    if (path.size() >= static_cast<qsizetype>(kPathRoom))
        return;
    for (TemporarySlot& slot : temporaries) {
        int free = 0;
        if (!slot.state.compare_exchange_strong(free, 1))
            continue;
        std::memcpy(slot.path, path.constData(), static_cast<std::size_t>(path.size()) + 1);
        slot.state.store(2);
        return;
    }
}

void unregisterTemporary(const QByteArray& path)
{
    for (TemporarySlot& slot : temporaries)
        if (slot.state.load() == 2 && path == slot.path)
            slot.state.store(0);
}

void removeTemporariesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, removeTemporariesAndEnd);
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, at, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        at += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool canReplaceFile(const QString& path, QString* error)
{
    return !resolveTarget(path, error).isEmpty();
}

bool writeFileSafely(const QString& path, const FileFiller& fill, QString* error)
{
    const QString target = resolveTarget(path, error);
    if (target.isEmpty())
        return false;
    QByteArray temporary;
    const int fd = createTemporary(target, &temporary);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, systemReason(errno)));
        return false;
    }
    QString reason;
    bool ok = fill(fd, &reason);
    if (ok && ::fsync(fd) != 0) {
        reason = systemReason(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        reason = systemReason(errno);
        ok = false;
    }
    if (ok && ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        reason = systemReason(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.constData());
    unregisterTemporary(temporary);
    if (!ok) {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, reason));
        return false;
    }
    syncDirectoryOf(target);
    return true;
}

bool writeFileSafely(const QString& path, const QByteArray& bytes, QString* error)
{
    return writeFileSafely(
        path,
        [&bytes](int fd, QString* reason) {
            if (writeAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())))
                return true;
            *reason = systemReason(errno);
            return false;
        },
        error);
}

bool writeStandardOutput(const QByteArray& bytes, QString* error)
{
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                     stdout) == static_cast<std::size_t>(bytes.size());
    if (written && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    setError(error, QStringLiteral("cannot write standard output: %1")
                        .arg(errno ? systemReason(errno) : QStringLiteral("write error")));
    return false;
}

} // namespace corvane
