#pragma once

#include "PulseContext.h"
#include "SoundPlayer.h"

#include <QObject>
#include <QString>
#include <cstddef>
#include <vector>

struct pa_stream;

namespace corvane {

// Plays one channel of the blocks a sample source delivers through the audio server's default
// output: the sound that goes with a picture carried on another channel. The stream opens at
// the blocks' rate with the first block, and again when the rate changes; what comes while it
// opens waits (up to half a second). It never lets its delay grow: what finds no room in the
// server's buffer, because the source's clock runs ahead of the output's, is dropped.
class SoundOutput : public QObject, public SoundPlayer
{
    Q_OBJECT

public:
    explicit SoundOutput(QObject* parent = nullptr);
    ~SoundOutput() override;

    // The channel played, from 0; blocks with fewer channels play silence.
    void setChannel(int channel) override { channel_ = channel; }
    int channel() const { return channel_; }

    // Takes a block as SampleSource::block hands it over.
    void play(const float* interleaved, std::size_t frames, int channels, double rate) override;
    // Stops at once; the next block opens the output again.
    void stop() override;

signals:
    // The output could not be opened, or went away; blocks are ignored until stop().
    void failed(const QString& reason);

private:
    void open(double rate);
    void onStreamState(pa_stream* stream);
    void flush();
    void fail(const QString& reason);

    PulseContext context_;
    pa_stream* stream_ = nullptr;
    int channel_ = 0;
    double rate_ = 0;
    bool failed_ = false;
    std::vector<float> pending_; // the chosen channel, waiting for room
};

} // namespace corvane
