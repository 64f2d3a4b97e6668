#pragma once

#include "SampleSource.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <thread>
#include <vector>

namespace corvane {

// Plays a sound file as if it came from a sound card: every channel, float, at the file's own
// rate, in blocks of about 20 ms paced by a timer on the thread it lives on. A thread of its own
// reads a little ahead, so a long or slow file never holds up that thread, and stop() ends
// even a wait on a FIFO whose writer has fallen silent.
//
// At the end of the file it emits ended(""), or starts over when looping; damage part-way
// plays what decoded before it, then emits ended() with what was wrong. start() after stop()
// starts from the beginning. A stall of the thread it lives on is caught up for at most
// 100 ms; beyond that playback resumes at its normal pace without skipping anything.
class SoundFileSource final : public SampleSource
{
    Q_OBJECT

public:
    // rawSampleRate: the rate raw .u8/.raw recordings are taken at (they carry none); 0 refuses
    // them.
    explicit SoundFileSource(QString path, bool loop = false, int rawSampleRate = 0,
                             QObject* parent = nullptr);
    ~SoundFileSource() override;

    // A file that cannot be read as sound fails here; a FIFO or device is opened by the
    // reading thread, and what goes wrong there comes as ended(reason).
    bool start(QString* error) override;
    void stop() override;
    QString description() const override;

    // Known once the file is open; 0 before.
    int channels() const { return channels_; }
    double sampleRate() const { return rate_; }

private:
    struct Shared;
    void tick();
    void finish();

    const QString path_;
    const bool loop_;
    const int rawSampleRate_;
    std::shared_ptr<Shared> shared_;
    std::thread reading_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::int64_t delivered_ = 0; // frames since the clock started
    int channels_ = 0;
    double rate_ = 0;
    std::vector<float> block_;
};

} // namespace corvane
