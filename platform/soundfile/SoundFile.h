#pragma once

// Recordings as the first decoder wants them: unsigned 8-bit mono samples, silence at 128,
// built from the reader, the resampler and the 8-bit step. The writers' header is included for
// the callers that still find them here.
#include "SoundFileWriter.h"
#include "SoundReader.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

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

// Reads path as unsigned 8-bit mono at sampleRate, handing the samples to sink as they come:
// memory stays flat however long the input. "-" reads raw bytes from stdin, *.raw and *.u8 are
// raw bytes taken as they are (they carry no rate, so sampleRate does not apply); anything else
// is a sound file whose channels are averaged, resampled to sampleRate when its own rate
// differs, and converted to 8 bits. Pipes, FIFOs and devices are read until their end. Past
// options.maxSeconds of audio it stops with an error. A sound file damaged part-way is no
// failure: the samples before the damage are handed over and *warning (when given) says what
// happened and how much was kept. On failure returns false with a one-line reason in *error;
// samples handed over before it stay handed over.
bool streamSamples(const QString& path, int sampleRate, const SampleSink& sink,
                   const SampleReadOptions& options, QString* error, QString* warning);

// What can be told of path without reading its samples: that it exists and is no directory,
// that libsndfile takes a sound file's header, that a raw file is not empty. A FIFO or device
// is not opened: its writer would lose its reader. False and a one-line reason naming the file
// when it cannot be read.
bool checkSampleSource(const QString& path, QString* error);

// streamSamples into memory; a damaged file's warning goes to the log.
std::optional<std::vector<std::uint8_t>> readSamples(const QString& path, int sampleRate,
                                                     QString* error,
                                                     const SampleReadOptions& options = {});

} // namespace corvane
