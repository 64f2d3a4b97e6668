#include "PrivatePulse.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::test {

namespace {
bool pollUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QThread::msleep(20);
    return done();
}
} // namespace

PrivatePulse::PrivatePulse() : dir_(QDir::tempPath() + "/corvane-pulse-XXXXXX") {}

PrivatePulse::~PrivatePulse()
{
    kill(); // first: a write blocked on a full FIFO ends when its reader dies
    joinFeeder();
    if (fifo_ >= 0)
        ::close(fifo_);
}

void PrivatePulse::pointAtNoServer()
{
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + dir_.path() + "/nobody-listens"));
}

bool PrivatePulse::start()
{
    std::signal(SIGPIPE, SIG_IGN); // writes to a dead server's FIFO fail instead
    const QString root = dir_.path();
    if (!dir_.isValid() || !QDir(root).mkpath("runtime"))
        return false;
    ::chmod(QFile::encodeName(root + "/runtime").constData(), 0700);
    // Both the server and our own client library read these.
    for (const auto& [name, value] : {std::pair{"HOME", root},
                                      {"XDG_RUNTIME_DIR", root + "/runtime"},
                                      {"XDG_CONFIG_HOME", root},
                                      {"PULSE_RUNTIME_PATH", root + "/runtime/pulse"},
                                      {"PULSE_STATE_PATH", root + "/runtime"},
                                      {"PULSE_COOKIE", root + "/cookie"},
                                      {"PULSE_SERVER", "unix:" + root + "/native"}})
        qputenv(name, QFile::encodeName(value));
    QFile script(root + "/server.pa");
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 "
                                "socket=%1/native\nload-module module-null-sink\n"
                                "load-module module-always-sink\n"
                                "load-module module-pipe-source source_name=%2 "
                                "file=%1/source.fifo format=u8 rate=%3 channels=1\n"
                                "set-default-source %2\n")
                     .arg(root, sourceName())
                     .arg(kSampleRate)
                     .toUtf8());
    script.close();
    server_ = std::make_unique<QProcess>();
    server_->setProcessChannelMode(QProcess::MergedChannels);
    server_->setStandardOutputFile(root + "/server.log");
    server_->start("pulseaudio",
                   {"-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
                    "--use-pid-file=no", "--log-target=stderr", "-F", script.fileName()});
    const auto ready = [&] {
        const auto source = pactl({"get-default-source"});
        return server_->state() != QProcess::Running ||
               (source && source->trimmed() == sourceName());
    };
    const bool up = server_->waitForStarted(20000) && pollUntil(ready, 20000);
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

void PrivatePulse::signal(int number)
{
    ::kill(pid_t(server_->processId()), number);
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
    for (const QString& line : pactl({"list", "short", "modules"}).value_or("").split('\n'))
        if (line.contains("module-pipe-source"))
            return pactl({"unload-module", line.section('\t', 0, 0)}).has_value();
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
        if (n <= 0 && errno != EINTR)
            return false;
        bytes = bytes.subspan(std::size_t(std::max<ssize_t>(n, 0)));
    }
    return fifo_ >= 0;
}

void PrivatePulse::feedInRealTime(std::vector<std::uint8_t> bytes)
{
    joinFeeder();
    feeding_ = true;
    feeder_ = std::thread([this, bytes = std::move(bytes)] {
        const auto begin = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size() && !stop_; at += 256) {
            std::this_thread::sleep_until(
                begin + std::chrono::microseconds(std::int64_t(at) * 1000000 / kSampleRate));
            if (!write(std::span(bytes).subspan(at, std::min<std::size_t>(256, bytes.size() - at))))
                break; // the server is gone
        }
        feeding_ = false;
    });
}

bool PrivatePulse::waitFed(std::chrono::milliseconds timeout)
{
    return pollUntil([&] { return !feeding_; }, int(timeout.count()));
}

void PrivatePulse::joinFeeder()
{
    stop_ = server_ && server_->state() == QProcess::NotRunning;
    if (feeder_.joinable())
        feeder_.join();
    stop_ = false;
}

} // namespace corvane::test
