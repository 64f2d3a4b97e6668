#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {

class SampleSource;
class SoundPlayer;

// A source the Monitor's Source box offers: what the user reads, and what open() takes
// ("pulse:NAME", "soapy:ARGS", "rtl_tcp://HOST:PORT", "file:PATH").
struct SourceChoice
{
    QString title;
    QString address;
};

// Where a Monitor takes its own samples from: made when it opens (the recording source at its
// own rate with every channel, the file being played, an SDR), and what else it can switch to.
// Without a source (or when it cannot start) the Monitor is fed the main window's blocks.
struct MonitorFeed
{
    std::function<std::unique_ptr<SampleSource>()> source;
    QString sourceAddress;  // what source() makes, as a choice's address
    double frequencyHz = 0; // what a radio source() makes is tuned to
    std::function<std::vector<SourceChoice>()> choices;
    // A source by its address; a radio tunes to frequencyHz. Null and why when it cannot be made.
    std::function<std::unique_ptr<SampleSource>(const QString& address, double frequencyHz,
                                                QString* error)>
        open;
    std::function<std::unique_ptr<SoundPlayer>()> player;
    // A recording is listened to as it plays; a live receiver has its own loudspeaker.
    bool fromFile = false;
};

} // namespace corvane
