#include "RtlTcpSource.h"

#include <QSignalBlocker>
#include <QUrl>
#include <QtEndian>
#include <cmath>

namespace corvane {

namespace {

constexpr int kHeaderBytes = 12;

enum Command : std::uint8_t
{
    SetFrequency = 1,
    SetSampleRate = 2,
    SetGainMode = 3,
    SetGain = 4,
    SetFrequencyCorrection = 5,
    SetAgcMode = 8,
};

QString tunerName(std::uint32_t type)
{
    static const char* const names[] = {"unknown tuner", "E4000", "FC0012", "FC0013",
                                        "FC2580",        "R820T", "R828D"};
    return type < std::size(names) ? QString::fromLatin1(names[type])
                                   : QStringLiteral("tuner type %1").arg(type);
}

} // namespace

bool parseRtlTcpAddress(const QString& text, RtlTcpOptions& options, QString* error)
{
    // An underscore may not stand in a URL's scheme, so QUrl reads the rest under another.
    static const QString scheme = QStringLiteral("rtl_tcp://");
    const QString trimmed = text.trimmed();
    const QUrl url(QStringLiteral("tcp://") + trimmed.mid(scheme.size()), QUrl::StrictMode);
    if (!trimmed.startsWith(scheme, Qt::CaseInsensitive) || !url.isValid() ||
        url.host().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/"))) {
        if (error)
            *error = QStringLiteral("an rtl_tcp source is written rtl_tcp://HOST:PORT (got '%1')")
                         .arg(text);
        return false;
    }
    options.host = url.host();
    options.port = static_cast<quint16>(url.port(1234));
    return true;
}

RtlTcpSource::RtlTcpSource(RtlTcpOptions options, SdrOptions sdr, QObject* parent)
    : SdrSource(parent), options_(std::move(options)), sdr_(sdr)
{
    sdr_.format = IqFormat::Cu8;
    sdr_.sampleRate = options_.sampleRate;
    headerTimer_.setSingleShot(true);
    connect(&headerTimer_, &QTimer::timeout, this, [this] {
        onGone(
            socket_.state() == QAbstractSocket::ConnectedState
                ? QStringLiteral("it sent no rtl_tcp greeting within %1 s; is it an rtl_tcp "
                                 "server?")
                      .arg(options_.headerTimeoutMs / 1000.0)
                : QStringLiteral("no answer within %1 s").arg(options_.headerTimeoutMs / 1000.0));
    });
    connect(&socket_, &QTcpSocket::connected, this, [this] { header_.clear(); });
    connect(&socket_, &QTcpSocket::readyRead, this, &RtlTcpSource::onReadyRead);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { onGone(QStringLiteral("the connection closed")); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A closed connection is told by disconnected, once.
        if (e != QAbstractSocket::RemoteHostClosedError &&
            socket_.state() != QAbstractSocket::ConnectedState)
            onGone(socket_.errorString());
    });
}

RtlTcpSource::~RtlTcpSource()
{
    running_ = false;
    dropConnection();
}

void RtlTcpSource::dropConnection()
{
    // Quietly: the loss being handled must not be told again.
    const QSignalBlocker quiet(&socket_);
    socket_.abort();
}

QString RtlTcpSource::where() const
{
    return QStringLiteral("%1:%2").arg(options_.host).arg(options_.port);
}

QString RtlTcpSource::description() const
{
    return QStringLiteral("rtl_tcp ") + where();
}

bool RtlTcpSource::start(QString* error)
{
    if (running_)
        return true;
    const auto bad = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const double rate = options_.sampleRate;
    if (!(options_.frequencyHz >= 1e6 && options_.frequencyHz <= 2.2e9))
        return bad(QStringLiteral("the frequency to tune an rtl-sdr to must be 1 MHz to 2.2 GHz "
                                  "(got %1 Hz)")
                       .arg(options_.frequencyHz, 0, 'f', 0));
    if (!((rate > 225000 && rate <= 300000) || (rate > 900000 && rate <= 3.2e6)))
        return bad(QStringLiteral("an rtl-sdr's sample rate must be 225001..300000 or "
                                  "900001..3200000 Hz (got %1)")
                       .arg(rate, 0, 'f', 0));
    if (options_.gainDb && !(*options_.gainDb >= 0 && *options_.gainDb <= 60))
        return bad(
            QStringLiteral("the tuner gain must be 0..60 dB (got %1)").arg(*options_.gainDb));
    if (options_.host.isEmpty())
        return bad(QStringLiteral("an rtl_tcp source needs a host"));
    if (!chain_) {
        chain_ = std::make_unique<IqDemodChain>(sdr_);
        chain_->watchBand(kBandBins, [this](const std::vector<float>& row) {
            emit bandPower(row, options_.frequencyHz, options_.sampleRate);
        });
    }
    running_ = true;
    everStreamed_ = false;
    attempts_ = 0;
    connectNow();
    return true;
}

void RtlTcpSource::stop()
{
    running_ = false;
    headerTimer_.stop();
    dropConnection();
}

void RtlTcpSource::connectNow()
{
    greeted_ = false;
    header_.clear();
    dropConnection();
    headerTimer_.start(options_.headerTimeoutMs);
    socket_.connectToHost(options_.host, options_.port);
}

void RtlTcpSource::command(std::uint8_t code, std::uint32_t value)
{
    char bytes[5];
    bytes[0] = static_cast<char>(code);
    qToBigEndian(value, bytes + 1);
    socket_.write(bytes, sizeof bytes);
}

void RtlTcpSource::onReadyRead()
{
    if (!running_)
        return;
    if (!greeted_) {
        header_ += socket_.read(kHeaderBytes - header_.size());
        if (header_.size() < kHeaderBytes)
            return;
        if (!header_.startsWith("RTL0")) {
            fail(QStringLiteral("%1 is not an rtl_tcp server: it greeted with '%2'")
                     .arg(where(), QString::fromLatin1(header_.toPercentEncoding(" "))));
            return;
        }
        headerTimer_.stop();
        greeted_ = everStreamed_ = true;
        attempts_ = 0;
        tuner_ = corvane::tunerName(qFromBigEndian<std::uint32_t>(header_.constData() + 4));
        command(SetSampleRate, static_cast<std::uint32_t>(std::lround(options_.sampleRate)));
        command(SetFrequency, static_cast<std::uint32_t>(std::llround(options_.frequencyHz)));
        command(SetFrequencyCorrection, static_cast<std::uint32_t>(options_.ppm));
        command(SetGainMode, options_.gainDb ? 1 : 0);
        if (options_.gainDb)
            command(SetGain, static_cast<std::uint32_t>(std::lround(*options_.gainDb * 10)));
        command(SetAgcMode, options_.rtlAgc ? 1 : 0);
        emit message(QStringLiteral("connected to rtl_tcp at %1 (%2)").arg(where(), tuner_));
    }
    const QByteArray bytes = socket_.readAll();
    const std::span raw(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
    if (recorder_)
        recorder_->writeBytes(raw);
    video_.clear();
    chain_->feedBytes(raw, video_);
    if (!video_.empty())
        emit block(video_.data(), video_.size(), 1, chain_->videoRate());
}

void RtlTcpSource::onGone(const QString& reason)
{
    if (!running_)
        return;
    headerTimer_.stop();
    if (!everStreamed_) {
        fail(QStringLiteral("cannot use rtl_tcp at %1: %2").arg(where(), reason));
    } else if (attempts_ < options_.reconnectAttempts) {
        ++attempts_;
        emit message(QStringLiteral("the rtl_tcp server at %1 went away (%2); reconnecting, "
                                    "attempt %3 of %4")
                         .arg(where(), reason)
                         .arg(attempts_)
                         .arg(options_.reconnectAttempts));
        dropConnection();
        QTimer::singleShot(options_.reconnectDelayMs, this, [this] {
            if (running_)
                connectNow();
        });
    } else {
        fail(QStringLiteral("the rtl_tcp server at %1 went away (%2) and %3 attempts to "
                            "reconnect failed")
                 .arg(where(), reason)
                 .arg(options_.reconnectAttempts));
    }
}

void RtlTcpSource::fail(const QString& reason)
{
    running_ = false;
    headerTimer_.stop();
    dropConnection();
    emit ended(reason);
}

} // namespace corvane
