#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace corvane {

// True for names read as raw unsigned 8-bit mono: "-" (stdin), *.raw and *.u8.
bool isRawSampleName(const QString& path);

// A sound file read through libsndfile (WAV, FLAC, Ogg Vorbis and Opus, MP3, ...) as interleaved
// float frames (-1..1) at its own rate, every channel kept: a stereo recording may carry the
// picture on one channel and the sound on the other.
//
// The header's channel count and length are only claims: a read never holds more than
// kMaxReadBytes, however many channels the file says it has. A file damaged part-way reads as
// far as it decodes; damage() then says what stopped it.
//
// A FIFO or device is read through a pipe a helper thread fills, so that interrupt() can end an
// open or a read that waits on a writer who never writes.
class SoundReader
{
public:
    static constexpr std::size_t kMaxReadBytes = std::size_t{1} << 18;

    SoundReader();
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    // Opens path. rawSampleRate above 0 reads names isRawSampleName() takes as unsigned 8-bit
    // mono at that rate; otherwise those are refused like any file libsndfile cannot read. On
    // failure returns false with a one-line reason naming the file.
    bool open(const QString& path, QString* error, int rawSampleRate = 0);

    const QString& path() const { return path_; }
    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    // Frames the header claims; 0 when it does not say (a stream).
    std::int64_t claimedFrames() const { return claimedFrames_; }
    std::int64_t framesRead() const { return framesRead_; }
    // Whether rewind() can start the file over (a stream cannot).
    bool seekable() const { return seekable_; }

    // The next frames, at most maxFrames of them and at most kMaxReadBytes; the view lasts
    // until the next call. Empty at the end, after damage and once interrupted.
    std::span<const float> read(std::size_t maxFrames);
    // Why reading stopped before the end: libsndfile's reason, empty when it did not.
    const QString& damage() const { return damage_; }

    // Starts a seekable file over; false when it cannot.
    bool rewind();

    // From any thread, at any time (before open too): a waiting open or read returns soon, and
    // the reader reads nothing more.
    void interrupt();
    bool interrupted() const { return interrupted_; }

private:
    struct Pump;
    void close();

    void* file_ = nullptr; // SNDFILE*
    std::unique_ptr<Pump> pump_;
    int wake_ = -1; // an eventfd interrupt() signals
    std::atomic<bool> interrupted_ = false;
    QString path_;
    int channels_ = 0;
    int sampleRate_ = 0;
    std::int64_t claimedFrames_ = 0;
    std::int64_t framesRead_ = 0;
    bool seekable_ = false;
    bool ended_ = false;
    QString damage_;
    std::vector<float> buffer_;
};

} // namespace corvane
