#include "IqFile.h"

#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <sndfile.h>

namespace corvane {

namespace {

struct FormatName
{
    IqFormat format;
    const char* name;
    int bytes;
};

constexpr FormatName kFormats[] = {{IqFormat::Cu8, "cu8", 2},
                                   {IqFormat::Cs8, "cs8", 2},
                                   {IqFormat::Cs16, "cs16", 4},
                                   {IqFormat::Cf32, "cf32", 8},
                                   {IqFormat::Wav, "wav", 0}};

// An rtl-sdr's byte b stands for (b - 127.5) / 127.5: a table beats the arithmetic.
const std::array<float, 256>& cu8Table()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int b = 0; b < 256; ++b)
            t[static_cast<std::size_t>(b)] = static_cast<float>((b - 127.5) / 127.5);
        return t;
    }();
    return table;
}

template <typename T> T clipped(float v, float scale, float offset, float lo, float hi)
{
    return static_cast<T>(std::lround(std::clamp(v * scale + offset, lo, hi)));
}

} // namespace

std::optional<IqFormat> iqFormatByName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    for (const FormatName& f : kFormats)
        if (key == QLatin1String(f.name))
            return f.format;
    return std::nullopt;
}

std::optional<IqFormat> iqFormatForPath(const QString& path)
{
    return iqFormatByName(QFileInfo(path).suffix());
}

QString iqFormatName(IqFormat format)
{
    for (const FormatName& f : kFormats)
        if (f.format == format)
            return QString::fromLatin1(f.name);
    return {};
}

QString iqFormatChoices()
{
    return QStringLiteral("cu8, cs8, cs16, cf32 or wav");
}

int iqFrameBytes(IqFormat format)
{
    for (const FormatName& f : kFormats)
        if (f.format == format)
            return f.bytes;
    return 0;
}

void decodeIq(IqFormat format, const std::uint8_t* bytes, std::size_t frames, IqSample* out)
{
    switch (format) {
    case IqFormat::Cu8: {
        const auto& table = cu8Table();
        for (std::size_t k = 0; k < frames; ++k)
            out[k] = {table[bytes[2 * k]], table[bytes[2 * k + 1]]};
        break;
    }
    case IqFormat::Cs8:
        for (std::size_t k = 0; k < frames; ++k)
            out[k] = {static_cast<std::int8_t>(bytes[2 * k]) / 128.0f,
                      static_cast<std::int8_t>(bytes[2 * k + 1]) / 128.0f};
        break;
    case IqFormat::Cs16:
    case IqFormat::Wav:
        for (std::size_t k = 0; k < frames; ++k) {
            std::int16_t pair[2];
            std::memcpy(pair, bytes + 4 * k, sizeof pair);
            out[k] = {pair[0] / 32768.0f, pair[1] / 32768.0f};
        }
        break;
    case IqFormat::Cf32:
        std::memcpy(static_cast<void*>(out), bytes, frames * sizeof(IqSample));
        break;
    }
}

std::vector<std::uint8_t> encodeIq(IqFormat format, std::span<const IqSample> samples)
{
    const int frameBytes = format == IqFormat::Wav ? 4 : iqFrameBytes(format);
    std::vector<std::uint8_t> out(samples.size() * static_cast<std::size_t>(frameBytes));
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const float parts[2] = {samples[k].real(), samples[k].imag()};
        std::uint8_t* at = out.data() + k * static_cast<std::size_t>(frameBytes);
        for (int c = 0; c < 2; ++c) {
            switch (format) {
            case IqFormat::Cu8:
                at[c] = clipped<std::uint8_t>(parts[c], 127.5f, 127.5f, 0, 255);
                break;
            case IqFormat::Cs8:
                at[c] =
                    static_cast<std::uint8_t>(clipped<std::int8_t>(parts[c], 128, 0, -128, 127));
                break;
            case IqFormat::Cs16:
            case IqFormat::Wav: {
                const auto v = clipped<std::int16_t>(parts[c], 32768, 0, -32768, 32767);
                std::memcpy(at + 2 * c, &v, 2);
                break;
            }
            case IqFormat::Cf32:
                std::memcpy(at + 4 * c, &parts[c], 4);
                break;
            }
        }
    }
    return out;
}

struct IqReader::Wav
{
    SNDFILE* file = nullptr;
    ~Wav()
    {
        if (file)
            sf_close(file);
    }
};

IqReader::IqReader() = default;
IqReader::~IqReader() = default;

bool IqReader::open(const QString& path, IqFormat format, double rawSampleRate, QString* error)
{
    const auto fail = [&](const QString& why) {
        error_ = why;
        if (error)
            *error = why;
        return false;
    };
    format_ = format;
    wav_.reset();
    file_.close();
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return fail(
            QStringLiteral("the IQ recording '%1' does not exist or is a directory").arg(path));
    if (format == IqFormat::Wav) {
        SF_INFO sfInfo{};
        auto wav = std::make_unique<Wav>();
        wav->file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &sfInfo);
        if (!wav->file)
            return fail(QStringLiteral("cannot read the IQ recording '%1': %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        if (sfInfo.channels != 2)
            return fail(QStringLiteral("the IQ recording '%1' has %2 channel(s); I/Q needs 2")
                            .arg(path)
                            .arg(sfInfo.channels));
        rate_ = sfInfo.samplerate;
        wav_ = std::move(wav);
    } else {
        if (!(rawSampleRate > 0))
            return fail(QStringLiteral("a raw IQ recording needs its sample rate"));
        file_.setFileName(path);
        if (!file_.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read the IQ recording '%1': %2")
                            .arg(path, file_.errorString()));
        rate_ = rawSampleRate;
    }
    error_.clear();
    return true;
}

std::size_t IqReader::read(IqSample* out, std::size_t max)
{
    if (wav_) {
        interleaved_.resize(2 * max);
        const sf_count_t got =
            sf_readf_float(wav_->file, interleaved_.data(), static_cast<sf_count_t>(max));
        for (sf_count_t k = 0; k < got; ++k)
            out[k] = {interleaved_[2 * static_cast<std::size_t>(k)],
                      interleaved_[2 * static_cast<std::size_t>(k) + 1]};
        return static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    }
    if (!file_.isOpen())
        return 0;
    const auto frameBytes = static_cast<std::size_t>(iqFrameBytes(format_));
    bytes_.resize(max * frameBytes);
    const qint64 got =
        file_.read(reinterpret_cast<char*>(bytes_.data()), static_cast<qint64>(bytes_.size()));
    if (got < 0) {
        error_ = QStringLiteral("cannot read the IQ recording '%1': %2")
                     .arg(file_.fileName(), file_.errorString());
        return 0;
    }
    const std::size_t frames = static_cast<std::size_t>(got) / frameBytes;
    decodeIq(format_, bytes_.data(), frames, out);
    return frames;
}

bool writeIqFile(const QString& path, std::span<const IqSample> samples, IqFormat format,
                 double sampleRate, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("cannot write '%1': %2").arg(path, why);
        return false;
    };
    if (format == IqFormat::Wav) {
        SF_INFO info{};
        info.samplerate = static_cast<int>(std::lround(sampleRate));
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        if (!file)
            return fail(QString::fromUtf8(sf_strerror(nullptr)));
        std::vector<float> interleaved(2 * samples.size());
        for (std::size_t k = 0; k < samples.size(); ++k) {
            interleaved[2 * k] = std::clamp(samples[k].real(), -1.0f, 1.0f);
            interleaved[2 * k + 1] = std::clamp(samples[k].imag(), -1.0f, 1.0f);
        }
        const auto frames = static_cast<sf_count_t>(samples.size());
        const bool ok = sf_writef_float(file, interleaved.data(), frames) == frames;
        const QString why = QString::fromUtf8(sf_strerror(file));
        return sf_close(file) == 0 && ok ? true : fail(why);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const std::vector<std::uint8_t> bytes = encodeIq(format, samples);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.commit() ? true : fail(file.errorString());
}

} // namespace corvane
