#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <vector>

namespace corvane {

// What a radio source has found in its band; sound sources have none.
struct SourceTuning
{
    bool radio = false;  // the source demodulates a radio band
    bool found = false;  // a transmission is being demodulated
    QString demod;       // "am" or "fm", once found
    double centreHz = 0; // what the radio is tuned to; 0 when not known (a recording)
    double offsetHz = 0; // where the transmission is from the centre
    QString message;     // while nothing is found: what the band holds
};

// Where a receiver's samples come from: a recording device, a sound file played in real time,
// an SDR. Blocks arrive as interleaved float frames (-1..1 full scale) on the thread the source
// lives on, through the block signal, connected directly: the receiver decodes inside it.
class SampleSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts delivering; false with a reason the user can act on when it cannot.
    virtual bool start(QString* error) = 0;
    // Stops delivering; no block follows. Safe to call when stopped.
    virtual void stop() = 0;
    // What the user recognises the source by ("Built-in Audio", "rec.wav", "rtl_tcp 127.0.0.1").
    virtual QString description() const = 0;
    virtual SourceTuning tuning() const { return {}; }
    // A radio source moves to the transmission at offsetHz from its centre (a click on its
    // band); false where there is nothing to tune.
    virtual bool tuneTo(double offsetHz)
    {
        Q_UNUSED(offsetHz);
        return false;
    }
    // A radio source records the IQ it receives into folder, named as SDR programs name such
    // files (format, centre frequency and rate in the name), until stopRawRecording(). False
    // and a reason where it cannot.
    virtual bool startRawRecording(const QString& folder, QString* error)
    {
        Q_UNUSED(folder);
        if (error)
            *error = tr("This source has no radio samples to record.");
        return false;
    }
    // Finishes the IQ recording: its file name, or empty and a reason in *error.
    virtual QString stopRawRecording(QString* error)
    {
        Q_UNUSED(error);
        return {};
    }

signals:
    // frames frames of channels samples each, at rate samples per second per channel.
    void block(const float* interleaved, std::size_t frames, int channels, double rate);
    // The source ended by itself: reason is empty at the end of a recording, else what failed
    // (the device vanished, the server went away).
    void ended(const QString& reason);
    // A radio source's band, a few times a second: power in dB for bins from the lowest to the
    // highest frequency, spanHz wide around centreHz (0 when not known).
    void bandPower(const std::vector<float>& powerDb, double centreHz, double spanHz);
};

} // namespace corvane
