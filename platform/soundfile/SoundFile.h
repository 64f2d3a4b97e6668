#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// Sound files as the decoder wants them: unsigned 8-bit mono samples, silence at 128.

// True for names the tools treat as raw unsigned 8-bit mono: "-" (stdin), *.raw and *.u8.
bool isRawSampleName(const QString& path);

// How much audio a read takes before it stops with an error, unless told otherwise: a stream
// (standard input, a FIFO, a device) need not end.
inline constexpr double kDefaultMaxSeconds = 3 * 3600;

struct SampleReadOptions
{
    double maxSeconds = kDefaultMaxSeconds; // at the requested sample rate
    // Told how much of a sound file has been read (0..1) after each chunk; returning false
    // stops the reading with an error. Not called for raw input, which needs no converting.
    std::function<bool(double done)> progress;
};

// Takes samples as they are read, a bounded chunk at a time.
using SampleSink = std::function<void(const std::uint8_t* data, std::size_t count)>;

// Reads path as readSamples below does, handing the samples to sink as they come instead of
// collecting them: memory stays flat however long the input. Pipes, FIFOs and devices are read
// until their end. Past options.maxSeconds of audio it stops with an error. A sound file
// damaged part-way is no failure: the samples before the damage are handed over and *warning
// (when given) says what happened and how much was kept. On failure returns false with a
// one-line reason in *error; samples handed over before it stay handed over.
bool streamSamples(const QString& path, int sampleRate, const SampleSink& sink,
                   const SampleReadOptions& options, QString* error, QString* warning);

// What can be told of path without reading its samples: that it exists and is no directory,
// that libsndfile takes a sound file's header, that a raw file is not empty. False and a
// one-line reason naming the file when it cannot be read.
bool checkSampleSource(const QString& path, QString* error);

// Reads every sample of path. "-" reads raw bytes from stdin, *.raw and *.u8 are raw bytes
// taken as they are (they carry no rate, so sampleRate does not apply); anything else is
// opened with libsndfile (WAV, FLAC, Ogg, ...), mixed to mono, resampled to sampleRate when
// its own rate differs, and converted to 8 bits. On failure returns nullopt and, when error is
// given, a one-line reason naming the file. Reads at most kDefaultMaxSeconds; a damaged sound
// file gives the samples before the damage and a warning on the log.
std::optional<std::vector<std::uint8_t>> readSamples(const QString& path, int sampleRate,
                                                     QString* error,
                                                     const SampleReadOptions& options = {});

// Samples held either in memory or, for raw files, mapped straight from the file.
class SampleBuffer
{
public:
    SampleBuffer() = default;
    explicit SampleBuffer(std::vector<std::uint8_t> samples);
    SampleBuffer(SampleBuffer&& other) noexcept;
    SampleBuffer& operator=(SampleBuffer&& other) noexcept;
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;
    ~SampleBuffer();

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    friend std::optional<SampleBuffer> loadSamples(const QString&, int, QString*);
    void release();

    std::vector<std::uint8_t> owned_;
    void* mapping_ = nullptr;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// As readSamples, but maps raw files instead of copying them: for long recordings read once.
std::optional<SampleBuffer> loadSamples(const QString& path, int sampleRate, QString* error);

// Writes samples to path: *.raw and *.u8 as raw bytes, *.wav as 8-bit unsigned PCM WAV at
// sampleRate, "-" as raw bytes to stdout. The file appears only when complete: nothing is left
// behind on failure, and an existing file is replaced only by a finished one.
bool writeSamples(const QString& path, const std::vector<std::uint8_t>& samples, int sampleRate,
                  QString* error);

// Records unsigned 8-bit mono samples as they arrive into an 8-bit PCM WAV file. The samples go
// to "<path>.part", whose header is brought up to date after every block, until close() moves
// the finished file to its name: a recording that failed or was cut off is never found under
// the name of a complete one, and what it holds stays readable.
class SampleFileWriter
{
public:
    // Nullptr and a one-line reason naming the file if it cannot be made.
    static std::unique_ptr<SampleFileWriter> open(const QString& path, int sampleRate,
                                                  QString* error);
    // Closes as close() would, dropping its error.
    ~SampleFileWriter();
    SampleFileWriter(const SampleFileWriter&) = delete;
    SampleFileWriter& operator=(const SampleFileWriter&) = delete;

    // False and a reason once a block could not be written; every later call fails too, and
    // close() leaves the samples written before under partialPath().
    bool write(const std::uint8_t* samples, std::size_t count, QString* error);
    // Finishes the file and moves it to path(); false and a reason if anything went wrong,
    // now or in an earlier write. Closing twice does nothing.
    bool close(QString* error);

    const QString& path() const { return path_; }
    QString partialPath() const { return path_ + QStringLiteral(".part"); }
    int sampleRate() const { return sampleRate_; }
    std::int64_t samplesWritten() const { return written_; }

private:
    SampleFileWriter(const QString& path, int sampleRate, void* file);

    QString path_;
    int sampleRate_ = 0;
    void* file_ = nullptr; // SNDFILE*
    std::int64_t written_ = 0;
    QString failure_;
};

} // namespace corvane

namespace corvane {

// A sound file read as float mono samples (-1..1) at its own rate and full resolution,
// channels mixed, piece by piece so a long recording never has to fit in memory.
class FloatSoundReader
{
public:
    FloatSoundReader();
    ~FloatSoundReader();
    FloatSoundReader(const FloatSoundReader&) = delete;
    FloatSoundReader& operator=(const FloatSoundReader&) = delete;

    // Opens path with libsndfile (WAV, FLAC, Ogg, ...). On failure returns false and, when
    // error is given, a one-line reason naming the file.
    bool open(const QString& path, QString* error);
    int sampleRate() const { return sampleRate_; }
    // Up to max samples into out: the count read, 0 at the end, -1 on a read error.
    std::int64_t read(float* out, std::size_t max, QString* error);

private:
    void* file_ = nullptr;
    QString path_;
    int channels_ = 1;
    int sampleRate_ = 0;
    std::vector<float> interleaved_;
};

// Writes float samples (-1..1) to path: *.wav as 16-bit PCM WAV at sampleRate, *.raw, *.u8 and
// "-" as unsigned 8-bit bytes. Complete or not at all, as writeSamples.
bool writeFloatSamples(const QString& path, const std::vector<float>& samples, int sampleRate,
                       QString* error);

} // namespace corvane
