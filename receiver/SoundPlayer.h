#pragma once

#include <cstddef>

namespace corvane {

// Where the programme's sound goes when the user wants to hear it: the desktop's output. The
// receiver hands it every block with the channel to play.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void setChannel(int channel) = 0;
    virtual void play(const float* interleaved, std::size_t frames, int channels, double rate) = 0;
    virtual void stop() = 0;
};

} // namespace corvane
