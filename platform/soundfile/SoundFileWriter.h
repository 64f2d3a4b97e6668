#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvane {

// Writes samples to path: *.raw and *.u8 as raw bytes, *.wav as 8-bit unsigned PCM WAV at
// sampleRate, "-" as raw bytes to stdout. The file appears only when complete: nothing is left
// behind on failure, and an existing file is replaced only by a finished one.
bool writeSamples(const QString& path, const std::vector<std::uint8_t>& samples, int sampleRate,
                  QString* error);

// Records samples as they arrive into a WAV file: unsigned 8-bit mono as a sound card records
// them, or float frames of any number of channels as 16-bit PCM. The samples go to
// "<path>.part", whose header is brought up to date after every block, until close() moves the
// finished file to its name: a recording that failed or was cut off is never found under the
// name of a complete one, and what it holds stays readable. A ".part" left by an earlier
// recording is never written over.
class SampleFileWriter
{
public:
    // Nullptr and a one-line reason naming the file if it cannot be made. channels > 0 makes a
    // 16-bit file of that many channels for writeFloat(); 0 an 8-bit mono one for write().
    static std::unique_ptr<SampleFileWriter> open(const QString& path, int sampleRate,
                                                  QString* error, int channels = 0);
    // Closes as close() would, dropping its error.
    ~SampleFileWriter();
    SampleFileWriter(const SampleFileWriter&) = delete;
    SampleFileWriter& operator=(const SampleFileWriter&) = delete;

    // False and a reason once a block could not be written; every later call fails too, and
    // close() leaves the samples written before under partialPath().
    bool write(const std::uint8_t* samples, std::size_t count, QString* error);
    // Interleaved frames of the file's channels, -1..1.
    bool writeFloat(const float* interleaved, std::size_t frames, QString* error);
    // Finishes the file and moves it to path(); false and a reason if anything went wrong,
    // now or in an earlier write. Closing twice does nothing.
    bool close(QString* error);

    const QString& path() const { return path_; }
    QString partialPath() const { return path_ + QStringLiteral(".part"); }
    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Frames written (samples of each channel).
    std::int64_t samplesWritten() const { return written_; }

private:
    SampleFileWriter(const QString& path, int sampleRate, int channels, void* file);
    bool failed(std::int64_t wanted, std::int64_t done, QString* error);

    QString path_;
    int sampleRate_ = 0;
    int channels_ = 1;
    void* file_ = nullptr; // SNDFILE*
    std::int64_t written_ = 0;
    QString failure_;
};

// Writes float samples (-1..1), interleaved frames of channels, to path: *.wav as 16-bit PCM
// WAV at sampleRate; mono also to *.raw, *.u8 and "-" as unsigned 8-bit bytes. Complete or not
// at all, as writeSamples.
bool writeFloatSamples(const QString& path, const std::vector<float>& samples, int sampleRate,
                       QString* error, int channels = 1);

} // namespace corvane
