#pragma once

#include "Reception.h"

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>

namespace corvane {

// Decodes a real NBTV transmission by locking to its line and frame sync: samples in (any rate
// 8000..192000 Hz, as float in -1..1), one upright greyscale frame out after every frame. It
// needs no knob for the picture, the frame mark, porches, the polarity (unless set) or the
// level; see status() for what it found. Single-threaded; the frame callback runs inside feed().
class LockedDecoder
{
public:
    using FrameCallback = std::function<void(const QImage& frame)>;

    LockedDecoder(double sampleRate, const LockedSettings& settings);
    ~LockedDecoder();
    LockedDecoder(const LockedDecoder&) = delete;
    LockedDecoder& operator=(const LockedDecoder&) = delete;

    void feed(const float* samples, std::size_t count);
    // Interleaved frames of several channels. The vision channel is the settings' one, or with
    // kAutoChannel whichever carries line sync (status().channel says which); a channel of
    // sound as loud as the vision does not count.
    void feed(const float* interleaved, std::size_t frames, int channels);
    // Unsigned 8-bit samples, silence at 128, as the sound card records them.
    void feedU8(const std::uint8_t* samples, std::size_t count);

    // Takes effect from the next sample; a new standard or signal kind starts a new search.
    void setSettings(const LockedSettings& settings);
    const LockedSettings& settings() const;
    double sampleRate() const;

    // Called with each complete frame while locked.
    void setFrameCallback(FrameCallback callback);

    LockedStatus status() const;
    // The last complete frame, Format_Grayscale8, upright as the viewer sees it, one pixel per
    // element (lines wide and elementsPerLine tall for vertical scanning); null before the first.
    QImage lastFrame() const;
    // The last few lines for a scope.
    ScopeTrace scopeTrace(int lines) const;

    // Forgets lock, levels and the frame in progress.
    void reset();

private:
    struct Pipeline;
    std::unique_ptr<Pipeline> pipeline_;
};

} // namespace corvane
