#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace corvane {

// How a standard lays its lines on the picture, as seen by the viewer.
enum class ScanOrder
{
    VerticalBottomUpRightToLeft,  // NBTVA and Baird: vertical lines drawn upward, first line on the
                                  // right
    HorizontalLeftToRightTopDown, // German 30-line and most custom landscape pictures
};

// A narrow-band television standard: what a transmitter sends and how it is shown.
struct LockedStandard
{
    QString name = QStringLiteral("nbtva");
    int lines = 32;
    double lineRateHz = 400.0;
    // Picture height divided by width as the viewer sees it (3:2 portrait is 1.5).
    double aspect = 1.5;
    ScanOrder order = ScanOrder::VerticalBottomUpRightToLeft;

    double frameRateHz() const { return lineRateHz / lines; }
    // Picture elements along one line, so that elements come out square at the aspect.
    int elementsPerLine() const;
};

// "nbtva" (32 lines, 400 lines/s, 3:2 portrait) and "baird" (30 lines, 375 lines/s, 7:3
// portrait); nullopt for any other name.
std::optional<LockedStandard> standardByName(const QString& name);

enum class SignalKind
{
    Auto,
    Baseband,
    Am
};

struct LockedSettings
{
    LockedStandard standard;
    SignalKind signal = SignalKind::Auto;
    bool negative = false;
    // Automatic levels follow the signal; manual levels are fractions of the sync-tip-to-peak
    // swing (0 = sync tip, 1 = the brightest the signal has reached), black below white.
    bool autoLevels = true;
    double manualBlack = 0.25;
    double manualWhite = 1.0;
};

// What the decoder currently knows about the signal, for status lines, meters and --stats.
struct LockedStatus
{
    bool locked = false;
    double lineRateHz = 0; // measured; 0 while searching
    SignalKind detected = SignalKind::Baseband;
    double carrierHz = 0;       // estimated AM carrier; 0 for baseband
    std::int64_t frames = 0;    // complete frames delivered while locked
    std::int64_t samples = 0;   // input samples consumed
    double inputPeak = 0;       // largest |sample| over the last ~0.2 s, 0..1 of full scale
    bool inputTooLow = false;   // peak below a level that gives a clean picture
    bool inputClipping = false; // samples at or near full scale in the last ~0.2 s
};

// Decodes a real NBTV transmission by locking to its line and frame sync: samples in (any rate
// 8000..192000 Hz, as float in -1..1), one upright greyscale frame out after every frame.
// Single-threaded; the frame callback runs inside feed().
class LockedDecoder
{
public:
    using FrameCallback = std::function<void(const QImage& frame)>;

    LockedDecoder(double sampleRate, const LockedSettings& settings);
    ~LockedDecoder();
    LockedDecoder(const LockedDecoder&) = delete;
    LockedDecoder& operator=(const LockedDecoder&) = delete;

    void feed(const float* samples, std::size_t count);
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

    // Forgets lock, levels and the frame in progress.
    void reset();

private:
    struct Pipeline;
    std::unique_ptr<Pipeline> pipeline_;
};

// Scales an upright frame to the standard's aspect, at least minHeight pixels tall, with sharp
// element edges (or smooth interpolation).
QImage displayFrame(const QImage& frame, const LockedStandard& standard, int minHeight = 320,
                    bool smooth = false);

} // namespace corvane
