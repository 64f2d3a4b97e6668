#pragma once

#include "IqDemodChain.h"
#include "IqRecorder.h"
#include "SdrSource.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

struct RtlTcpOptions
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 1234;
    double frequencyHz = 0; // what the dongle tunes to; the transmission is found around it
    double sampleRate = 2.4e6;
    std::optional<double> gainDb; // manual tuner gain; unset: the tuner's automatic gain
    int ppm = 0;                  // the dongle's crystal error
    bool rtlAgc = false;          // the RTL2832's own digital AGC
    int headerTimeoutMs = 3000;
    int reconnectAttempts = 3;
    int reconnectDelayMs = 1000;
};

// "rtl_tcp://HOST:PORT" (or "rtl_tcp://HOST", port 1234) into options; false with a reason.
bool parseRtlTcpAddress(const QString& text, RtlTcpOptions& options, QString* error);

// A client of rtl_tcp, the network server for rtl-sdr dongles: reads its greeting (RTL0, tuner
// type, gain count), sets rate, frequency, crystal correction, gain and AGC, then demodulates
// the unsigned 8-bit I/Q it streams and hands on baseband video. When the server goes away
// after streaming it says so through message() and reconnects a few times before ending;
// a server that cannot be reached or does not greet as rtl_tcp ends it at once, with a reason.
class RtlTcpSource final : public SdrSource
{
    Q_OBJECT

public:
    RtlTcpSource(RtlTcpOptions options, SdrOptions sdr, QObject* parent = nullptr);
    ~RtlTcpSource() override;

    // Checks the options and starts connecting; what the server says comes later.
    bool start(QString* error) override;
    void stop() override;
    QString description() const override;

    // From the greeting: "R820T" and the like; empty before it.
    QString tunerName() const { return tuner_; }

signals:
    // Progress the user may want to see: connected, lost, reconnecting.
    void message(const QString& text);

protected:
    double centreHz() const override { return options_.frequencyHz; }
    double iqRate() const override { return options_.sampleRate; }
    IqFormat rawFormat() const override { return IqFormat::Cu8; }

private:
    void connectNow();
    void dropConnection();
    void onReadyRead();
    void onGone(const QString& reason);
    void fail(const QString& reason);
    void command(std::uint8_t code, std::uint32_t value);
    QString where() const;

    RtlTcpOptions options_;
    SdrOptions sdr_;
    QTcpSocket socket_;
    QTimer headerTimer_;
    bool running_ = false, greeted_ = false, everStreamed_ = false;
    int attempts_ = 0;
    QByteArray header_;
    QString tuner_;
    std::vector<float> video_;
};

} // namespace corvane
