#pragma once

#include "PulseContext.h"
#include "SampleSource.h"

#include <QTimer>
#include <cstdint>
#include <vector>

struct pa_source_info;
struct pa_stream;

namespace corvane {

// Records a PulseAudio (or pipewire-pulse) source as float samples at the source's own rate,
// every channel it has, in fragments of about 10 ms, straight from libpulse's callbacks on the
// thread it lives on (see PulseContext).
//
// start() only begins connecting; if the server, or the source, cannot be had within timeoutMs,
// ended() says why. Once recording, ended() comes when the source goes away or the server does;
// it never follows its source elsewhere.
class PulseSampleSource final : public SampleSource
{
    Q_OBJECT

public:
    // sourceName: the server's name of the source; empty records from the server's default.
    explicit PulseSampleSource(QString sourceName = {}, int timeoutMs = 2000,
                               QObject* parent = nullptr);
    ~PulseSampleSource() override;

    bool start(QString* error) override;
    void stop() override;
    // The source's description once connected ("Built-in Audio Analog Stereo"), its name before.
    QString description() const override;

    // The stream is up; blocks follow as the source records.
    bool recording() const { return recording_; }
    // Known once recording; 0 before.
    int channels() const { return channels_; }
    double sampleRate() const { return rate_; }

private:
    void onContext(const QString& failure);
    void onSourceInfo(const pa_source_info* info);
    void onStreamState(pa_stream* stream);
    void onRead(pa_stream* stream);
    void deliver(const std::uint8_t* bytes, std::size_t count);
    void fail(const QString& reason);
    void release();

    const QString sourceName_;
    const int timeoutMs_;
    QString description_;
    PulseContext context_;
    pa_stream* stream_ = nullptr;
    bool started_ = false;
    QTimer giveUp_;
    bool recording_ = false;
    int channels_ = 0;
    double rate_ = 0;
    std::vector<std::uint8_t> partial_; // bytes of a frame split between fragments
    std::vector<float> staging_;
};

} // namespace corvane
