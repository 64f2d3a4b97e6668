// The sound-file readers of both decoding modes on arbitrary file contents: the 8-bit stream
// the first decoder reads (resampled, mixed to mono) and the float reader of locked decoding.
#include "FuzzInput.h"
#include "SoundFile.h"
#include "SoundReader.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane;
    fuzz::Bytes bytes(data, size);
    // A rate the reader has to convert to, most of the time.
    const int rate = 4000 + 1000 * (bytes.next() % 45);
    const QString path = fuzz::writeInput(bytes.data(), bytes.size(), ".wav");

    // Bounded, so a header claiming hours of audio still ends quickly.
    SampleReadOptions options;
    options.maxSeconds = 4;
    std::size_t total = 0;
    QString error, warning;
    streamSamples(
        path, rate, [&](const std::uint8_t*, std::size_t count) { total += count; }, options,
        &error, &warning);

    // The channel-keeping reader locked decoding uses.
    SoundReader reader;
    if (reader.open(path, &error))
        for (int i = 0; i < 64 && !reader.read(4096).empty(); ++i) {
        }
    checkSampleSource(path, &error);
    return 0;
}
