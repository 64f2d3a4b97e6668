#pragma once

#include <QFile>
#include <QString>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace corvane {

// How an SDR's samples are stored: interleaved I/Q pairs. cu8 is what an rtl-sdr gives
// (unsigned, centred on 127.5), cs8 a HackRF, cs16 and cf32 most other tools; a WAV file
// holds I on its first channel and Q on its second, as sound-card SDRs record them.
enum class IqFormat
{
    Cu8,
    Cs8,
    Cs16,
    Cf32,
    Wav
};

using IqSample = std::complex<float>;

std::optional<IqFormat> iqFormatByName(const QString& name);
// The format a file's extension names (.cu8, .cs8, .cs16, .cf32, .wav); nullopt otherwise.
std::optional<IqFormat> iqFormatForPath(const QString& path);
QString iqFormatName(IqFormat format);
// "cu8, cs8, cs16, cf32 or wav", for help and error texts.
QString iqFormatChoices();
// Bytes one I/Q pair takes in a raw format; 0 for WAV.
int iqFrameBytes(IqFormat format);

// Raw pairs to complex samples, full scale 1. frames pairs from bytes.
void decodeIq(IqFormat format, const std::uint8_t* bytes, std::size_t frames, IqSample* out);
// Complex samples to raw pairs, clipped at full scale (WAV: as cs16).
std::vector<std::uint8_t> encodeIq(IqFormat format, std::span<const IqSample> samples);

// Reads an IQ recording in blocks. Raw formats carry no rate, so the caller gives it; a WAV
// file's header has its own, and it must have two channels.
class IqReader
{
public:
    IqReader();
    ~IqReader();
    IqReader(const IqReader&) = delete;
    IqReader& operator=(const IqReader&) = delete;

    bool open(const QString& path, IqFormat format, double rawSampleRate, QString* error);
    double sampleRate() const { return rate_; }
    // Up to max samples into out; 0 at the end or on a read error (error() says which).
    std::size_t read(IqSample* out, std::size_t max);
    QString error() const { return error_; }

private:
    struct Wav;
    IqFormat format_ = IqFormat::Cu8;
    double rate_ = 0;
    QFile file_;
    std::unique_ptr<Wav> wav_;
    std::vector<std::uint8_t> bytes_;
    std::vector<float> interleaved_;
    QString error_;
};

// Writes samples as an IQ recording in the format; WAV gets a 16-bit two-channel file.
bool writeIqFile(const QString& path, std::span<const IqSample> samples, IqFormat format,
                 double sampleRate, QString* error);

} // namespace corvane
