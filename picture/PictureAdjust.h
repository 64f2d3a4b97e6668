#pragma once

#include "Standard.h"

#include <QImage>
#include <QSize>
#include <cstdint>
#include <vector>

namespace corvane {

// How a decoded picture is shown: tone first, then orientation. Frames are Format_Grayscale8,
// upright as LockedDecoder gives them; other formats are taken as their grey levels.
struct PictureSettings
{
    // Tone, on levels from 0 (black) to 1 (white): the level is stretched about mid grey by
    // contrast, raised by brightness, clipped, then raised to the power 1/gamma (gamma above 1
    // lightens the middle greys and keeps black and white where they are).
    double brightness = 0; // -1..1
    double contrast = 1;   // 0..10
    double gamma = 1;      // 0.1..10
    // Orientation, for transmitters that scan another way: mirrored first, then turned
    // clockwise by rotation degrees (0, 90, 180 or 270).
    bool flipHorizontal = false;
    bool flipVertical = false;
    int rotation = 0;
    // Frames averaged into each shown picture (1 = none); see FrameAverager.
    int average = 1;

    bool changesTone() const { return brightness != 0 || contrast != 1 || gamma != 1; }
    bool changesOrientation() const { return flipHorizontal || flipVertical || rotation != 0; }
};

struct PictureLimits
{
    static constexpr double kMinBrightness = -1, kMaxBrightness = 1;
    static constexpr double kMinContrast = 0, kMaxContrast = 10;
    static constexpr double kMinGamma = 0.1, kMaxGamma = 10;
    static constexpr int kMaxAverage = 100;
};

// The 256-entry level table the tone settings make.
std::vector<std::uint8_t> toneTable(const PictureSettings& settings);
// Tone and orientation (not averaging) applied to one frame; the frame itself when neither
// changes anything. A null frame stays null.
QImage adjustPicture(const QImage& frame, const PictureSettings& settings);
QImage adjustTone(const QImage& frame, const PictureSettings& settings);
QImage orientPicture(const QImage& frame, const PictureSettings& settings);

// A quarter turn swaps width and height: what a raster of size becomes once oriented.
QSize orientedSize(QSize size, const PictureSettings& settings);
// The standard as the turned picture is seen: a quarter turn makes the aspect (height over
// width) its reciprocal. Pass the result to displayFrame() with the oriented picture.
LockedStandard orientedStandard(const LockedStandard& standard, const PictureSettings& settings);

// The running mean of the last N frames, which takes the noise out of a still picture (the
// noise's spread falls by the square root of N). A frame of another size than the last one (a
// new standard) starts the mean afresh. Costs N frames of memory and one pass per frame.
class FrameAverager
{
public:
    explicit FrameAverager(int frames = 1);

    // Changing the count starts afresh.
    void setFrames(int frames);
    int frames() const { return frames_; }
    // Frames the mean is over at present (up to frames()).
    int count() const { return static_cast<int>(held_); }

    // Takes a frame in and returns the mean of it and up to frames() - 1 before it, rounded,
    // as Format_Grayscale8.
    QImage add(const QImage& frame);
    void reset();

private:
    int frames_ = 1;
    QSize size_;
    std::vector<std::uint32_t> sums_;
    std::vector<std::uint8_t> ring_; // the frames held, frames_ slots of size_ pixels
    std::size_t next_ = 0;           // the slot the next frame goes to
    std::size_t held_ = 0;
};

// The steps each decoded frame goes through before it is shown or recorded: averaging, tone,
// orientation. Show the result with displayFrame(picture, shownStandard(standard)).
class PictureProcessor
{
public:
    // A new averaging count starts the mean afresh; other changes apply from the next frame.
    void setSettings(const PictureSettings& settings);
    const PictureSettings& settings() const { return settings_; }
    const FrameAverager& averager() const { return averager_; }

    QImage process(const QImage& frame);
    LockedStandard shownStandard(const LockedStandard& standard) const
    {
        return orientedStandard(standard, settings_);
    }
    // Forgets the frames averaged, e.g. when the signal is lost.
    void reset() { averager_.reset(); }

private:
    PictureSettings settings_;
    FrameAverager averager_;
};

} // namespace corvane
