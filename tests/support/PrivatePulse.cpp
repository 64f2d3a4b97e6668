#include "PrivatePulse.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::test {

namespace {

QString programPath(const char* name)
{
    for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
        const QString path = QStringLiteral("%1/%2").arg(dir, name);
        if (QFile::exists(path)) {
            return path;
        }
    }
    return QString::fromUtf8(name);
}

} // namespace

PrivatePulse::PrivatePulse() : PrivatePulse(Options{}) {}

PrivatePulse::PrivatePulse(Options options)
    : options_(std::move(options)), dir_(QDir::tempPath() + "/corvane-pulse-XXXXXX")
{}

PrivatePulse::~PrivatePulse()
{
    kill(); // first: a write blocked on a full FIFO ends when its reader dies
    stopFeeder();
    if (fifo_ >= 0) {
        ::close(fifo_);
    }
    for (const auto& [name, value] : savedEnv_) {
        if (value) {
            qputenv(name.constData(), *value);
        } else {
            qunsetenv(name.constData());
        }
    }
}

void PrivatePulse::setEnv(const char* name, const QByteArray& value)
{
    if (!savedEnv_.contains(name)) {
        savedEnv_[name] = qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                          : std::nullopt;
    }
    qputenv(name, value);
}

QString PrivatePulse::serverAddress() const
{
    return QStringLiteral("unix:%1/native").arg(dir_.path());
}

void PrivatePulse::pointAtNoServer()
{
    setEnv("PULSE_SERVER", QStringLiteral("unix:%1/nobody-listens").arg(dir_.path()).toUtf8());
    setEnv("HOME", dir_.path().toUtf8());
}

bool PrivatePulse::start()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (!dir_.isValid()) {
        return false;
    }
    const QString root = dir_.path();
    for (const char* sub : {"home", "runtime", "state"}) {
        QDir(root).mkpath(QString::fromUtf8(sub));
    }
    ::chmod(QFile::encodeName(root + "/runtime").constData(), 0700);
    // Both the server and our own client library read these.
    setEnv("HOME", (root + "/home").toUtf8());
    setEnv("XDG_RUNTIME_DIR", (root + "/runtime").toUtf8());
    setEnv("XDG_CONFIG_HOME", (root + "/home/.config").toUtf8());
    setEnv("PULSE_RUNTIME_PATH", (root + "/runtime/pulse").toUtf8());
    setEnv("PULSE_STATE_PATH", (root + "/state").toUtf8());
    setEnv("PULSE_COOKIE", (root + "/cookie").toUtf8());
    setEnv("PULSE_SERVER", serverAddress().toUtf8());

    const QString fifo = root + "/source.fifo";
    QFile script(root + "/server.pa");
    if (!script.open(QIODevice::WriteOnly)) {
        return false;
    }
    script.write(
        QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1/native\n"
                       "load-module module-null-sink\n"
                       "load-module module-always-sink\n"
                       "load-module module-pipe-source source_name=%2 file=%3 format=u8 rate=%4 "
                       "channels=1\n"
                       "set-default-source %2\n")
            .arg(root, options_.sourceName, fifo)
            .arg(options_.sampleRate)
            .toUtf8());
    script.close();

    server_ = std::make_unique<QProcess>();
    server_->setProgram(programPath("pulseaudio"));
    server_->setArguments({"-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
                           "--use-pid-file=no", "--log-target=stderr", "-F", script.fileName()});
    server_->setStandardOutputFile(root + "/server.log", QIODevice::Append);
    server_->setStandardErrorFile(root + "/server.log", QIODevice::Append);
    server_->start();
    if (!server_->waitForStarted(options_.startTimeoutMs)) {
        return false;
    }

    // Ready when a client sees our source as the default one.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < options_.startTimeoutMs) {
        if (server_->state() != QProcess::Running) {
            return false;
        }
        const auto info = pactl({"get-default-source"});
        if (info && info->trimmed() == options_.sourceName) {
            break;
        }
        QThread::msleep(20);
    }
    if (clock.elapsed() >= options_.startTimeoutMs) {
        return false;
    }
    fifo_ = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
    return fifo_ >= 0;
}

bool PrivatePulse::isRunning() const
{
    return server_ && server_->state() == QProcess::Running;
}

void PrivatePulse::kill()
{
    if (server_ && server_->state() != QProcess::NotRunning) {
        server_->kill();
        server_->waitForFinished(10000);
    }
}

void PrivatePulse::freeze()
{
    if (isRunning()) {
        ::kill(static_cast<pid_t>(server_->processId()), SIGSTOP);
    }
}

void PrivatePulse::thaw()
{
    if (isRunning()) {
        ::kill(static_cast<pid_t>(server_->processId()), SIGCONT);
    }
}

std::optional<QString> PrivatePulse::pactl(const QStringList& arguments) const
{
    QProcess p;
    p.start(programPath("pactl"), arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(1000);
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool PrivatePulse::removeSource()
{
    const auto modules = pactl({"list", "short", "modules"});
    if (!modules) {
        return false;
    }
    for (const QString& line : modules->split('\n')) {
        if (line.contains("module-pipe-source")) {
            return pactl({"unload-module", line.section('\t', 0, 0)}).has_value();
        }
    }
    return false;
}

QString PrivatePulse::log() const
{
    QFile f(dir_.path() + "/server.log");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool PrivatePulse::write(std::span<const std::uint8_t> bytes)
{
    std::unique_lock lock(mutex_);
    return writeUnlocked(lock, bytes);
}

// Writes with the lock released, so a full FIFO never blocks the other members.
bool PrivatePulse::writeUnlocked(std::unique_lock<std::mutex>& lock,
                                 std::span<const std::uint8_t> bytes)
{
    if (fifo_ < 0) {
        return false;
    }
    const int fd = fifo_;
    lock.unlock();
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    lock.lock();
    return ok;
}

void PrivatePulse::feedInRealTime(std::vector<std::uint8_t> bytes, std::size_t chunkBytes)
{
    std::lock_guard lock(mutex_);
    chunkBytes_ = std::max<std::size_t>(chunkBytes, 1);
    pending_.push_back(std::move(bytes));
    feeding_ = true;
    if (!feeder_.joinable()) {
        feeder_ = std::thread([this] { feederLoop(); });
    }
    wake_.notify_all();
}

void PrivatePulse::feederLoop()
{
    std::unique_lock lock(mutex_);
    while (!stopFeeding_) {
        if (pending_.empty()) {
            feeding_ = false;
            wake_.notify_all();
            wake_.wait(lock, [this] { return stopFeeding_ || !pending_.empty(); });
            continue;
        }
        const std::vector<std::uint8_t> bytes = std::move(pending_.front());
        pending_.erase(pending_.begin());
        const auto begin = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size() && !stopFeeding_;) {
            const auto due =
                begin + std::chrono::microseconds(static_cast<std::int64_t>(
                            at * 1000000 / static_cast<std::size_t>(options_.sampleRate)));
            if (wake_.wait_until(lock, due, [this] { return stopFeeding_; })) {
                break;
            }
            const std::size_t n = std::min(chunkBytes_, bytes.size() - at);
            if (!writeUnlocked(lock, std::span(bytes).subspan(at, n))) {
                break; // the server is gone
            }
            at += n;
        }
    }
    feeding_ = false;
    wake_.notify_all();
}

bool PrivatePulse::waitFed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, timeout, [this] { return !feeding_ && pending_.empty(); });
}

void PrivatePulse::stopFeeder()
{
    {
        std::lock_guard lock(mutex_);
        stopFeeding_ = true;
        wake_.notify_all();
    }
    if (feeder_.joinable()) {
        feeder_.join();
    }
}

} // namespace corvane::test
