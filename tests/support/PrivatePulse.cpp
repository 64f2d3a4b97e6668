#include "PrivatePulse.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::test {

namespace {
// Polls done() until it holds or timeoutMs passes; done()'s last answer.
bool pollUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return done();
        QThread::msleep(20);
    }
    return true;
}
} // namespace

PrivatePulse::PrivatePulse() : dir_(QDir::tempPath() + "/corvane-pulse-XXXXXX") {}

PrivatePulse::~PrivatePulse()
{
    kill(); // first: a write blocked on a full FIFO ends when its reader dies
    joinFeeder();
    if (fifo_ >= 0)
        ::close(fifo_);
    for (const auto& [name, value] : savedEnv_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void PrivatePulse::setEnv(const char* name, const QByteArray& value)
{
    if (!savedEnv_.contains(name))
        savedEnv_[name] =
            qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qputenv(name, value);
}

void PrivatePulse::pointAtNoServer()
{
    setEnv("PULSE_SERVER", QFile::encodeName("unix:" + dir_.path() + "/nobody-listens"));
}

bool PrivatePulse::start()
{
    // Writes to the FIFO of a dead server must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    const QString root = dir_.path();
    if (!dir_.isValid() || !QDir(root).mkpath("runtime") || !QDir(root).mkpath("home"))
        return false;
    ::chmod(QFile::encodeName(root + "/runtime").constData(), 0700);
    // Both the server and our own client library read these.
    setEnv("HOME", QFile::encodeName(root + "/home"));
    setEnv("XDG_RUNTIME_DIR", QFile::encodeName(root + "/runtime"));
    setEnv("XDG_CONFIG_HOME", QFile::encodeName(root + "/home/.config"));
    setEnv("PULSE_RUNTIME_PATH", QFile::encodeName(root + "/runtime/pulse"));
    setEnv("PULSE_STATE_PATH", QFile::encodeName(root + "/runtime"));
    setEnv("PULSE_COOKIE", QFile::encodeName(root + "/cookie"));
    setEnv("PULSE_SERVER", QFile::encodeName("unix:" + root + "/native"));

    QFile script(root + "/server.pa");
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 "
                                "socket=%1/native\n"
                                "load-module module-null-sink\n"
                                "load-module module-always-sink\n"
                                "load-module module-pipe-source source_name=%2 "
                                "file=%1/source.fifo format=u8 rate=%3 channels=1\n"
                                "set-default-source %2\n")
                     .arg(root, sourceName())
                     .arg(kSampleRate)
                     .toUtf8());
    script.close();
    server_ = std::make_unique<QProcess>();
    server_->setStandardOutputFile(root + "/server.log");
    server_->setProcessChannelMode(QProcess::MergedChannels);
    server_->start("pulseaudio",
                   {"-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
                    "--use-pid-file=no", "--log-target=stderr", "-F", script.fileName()});
    const bool up = server_->waitForStarted(20000) && pollUntil(
        [&] {
            const auto source = pactl({"get-default-source"});
            return server_->state() != QProcess::Running ||
                   (source && source->trimmed() == sourceName());
        },
        20000);
    if (!up || server_->state() != QProcess::Running)
        return false;
    fifo_ = ::open(QFile::encodeName(root + "/source.fifo").constData(), O_WRONLY | O_CLOEXEC);
    return fifo_ >= 0;
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
    ::kill(static_cast<pid_t>(server_->processId()), SIGSTOP);
}

void PrivatePulse::thaw()
{
    ::kill(static_cast<pid_t>(server_->processId()), SIGCONT);
}

std::optional<QString> PrivatePulse::pactl(const QStringList& arguments) const
{
    QProcess p;
    p.start("pactl", arguments);
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
    for (const QString& line : modules.value_or(QString()).split('\n')) {
        if (line.contains("module-pipe-source"))
            return pactl({"unload-module", line.section('\t', 0, 0)}).has_value();
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
    while (fifo_ >= 0 && !bytes.empty()) {
        const ssize_t n = ::write(fifo_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return fifo_ >= 0;
}

void PrivatePulse::feedInRealTime(std::vector<std::uint8_t> bytes, std::size_t chunkBytes)
{
    joinFeeder();
    feeding_ = true;
    feeder_ = std::thread([this, bytes = std::move(bytes), chunkBytes] {
        const auto begin = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size() && !stop_; at += chunkBytes) {
            std::this_thread::sleep_until(
                begin + std::chrono::microseconds(std::int64_t(at) * 1000000 / kSampleRate));
            if (!write(std::span(bytes).subspan(at, std::min(chunkBytes, bytes.size() - at))))
                break; // the server is gone
        }
        feeding_ = false;
    });
}

bool PrivatePulse::waitFed(std::chrono::milliseconds timeout)
{
    return pollUntil([&] { return !feeding_; }, static_cast<int>(timeout.count()));
}

void PrivatePulse::joinFeeder()
{
    if (!feeder_.joinable())
        return;
    if (server_ && server_->state() == QProcess::NotRunning)
        stop_ = true;
    feeder_.join();
    stop_ = false;
}

} // namespace corvane::test
