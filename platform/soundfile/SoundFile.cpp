#include "SoundFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

std::uint8_t toUnsigned8(float value)
{
    if (!std::isfinite(value))
        return 128;
    const long level = std::lrint(std::clamp(value, -2.0f, 2.0f) * 128.0f) + 128;
    return static_cast<std::uint8_t>(std::clamp(level, 0L, 255L));
}

std::optional<std::vector<std::uint8_t>> readStdin(QString* error)
{
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> chunk(1 << 16);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), stdin);
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
        if (got < chunk.size()) {
            if (std::ferror(stdin)) {
                setError(error, QStringLiteral("cannot read standard input"));
                return std::nullopt;
            }
            return samples;
        }
    }
}

std::optional<std::vector<std::uint8_t>> readRaw(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot open '%1': %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(std::max<qint64>(file.size(), 0)));
    qint64 done = 0;
    while (done < static_cast<qint64>(samples.size())) {
        const qint64 got = file.read(reinterpret_cast<char*>(samples.data()) + done,
                                     static_cast<qint64>(samples.size()) - done);
        if (got < 0) {
            setError(error, QStringLiteral("cannot read '%1': %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += got;
    }
    samples.resize(static_cast<std::size_t>(done));
    return samples;
}

struct SndfileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct ResamplerDeleter
{
    void operator()(SRC_STATE* state) const { src_delete(state); }
};

std::optional<std::vector<std::uint8_t>> readSoundFile(const QString& path, int sampleRate,
                                                       QString* error)
{
    SF_INFO info{};
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(name.constData(), SFM_READ, &info));
    if (!file) {
        setError(error, QStringLiteral("cannot read '%1' as a sound file: %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        return std::nullopt;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        setError(error, QStringLiteral("'%1' has no usable audio (%2 channels at %3 Hz)")
                            .arg(path)
                            .arg(info.channels)
                            .arg(info.samplerate));
        return std::nullopt;
    }

    const bool resample = info.samplerate != sampleRate;
    const double ratio = static_cast<double>(sampleRate) / info.samplerate;
    std::unique_ptr<SRC_STATE, ResamplerDeleter> resampler;
    if (resample) {
        if (sampleRate < 1 || !src_is_valid_ratio(ratio)) {
            setError(error, QStringLiteral("cannot resample '%1' from %2 Hz to %3 Hz")
                                .arg(path)
                                .arg(info.samplerate)
                                .arg(sampleRate));
            return std::nullopt;
        }
        int status = 0;
        resampler.reset(src_new(SRC_SINC_MEDIUM_QUALITY, 1, &status));
        if (!resampler) {
            setError(error, QStringLiteral("cannot resample '%1': %2")
                                .arg(path, QString::fromUtf8(src_strerror(status))));
            return std::nullopt;
        }
    }

    constexpr sf_count_t kFrames = 1 << 15;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(kFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kFrames));
    std::vector<float> converted(static_cast<std::size_t>(kFrames * ratio) + 64);
    std::vector<std::uint8_t> samples;
    if (info.frames > 0)
        samples.reserve(static_cast<std::size_t>(std::min<double>(info.frames * ratio, 1e9)));

    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), kFrames);
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
            setError(error, QStringLiteral("cannot read '%1': %2")
                                .arg(path, QString::fromUtf8(sf_strerror(file.get()))));
            return std::nullopt;
        }
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c)
                sum += interleaved[static_cast<std::size_t>(i) * channels + c];
            mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(channels);
        }
        const bool last = got < kFrames;
        if (!resample) {
            for (sf_count_t i = 0; i < got; ++i)
                samples.push_back(toUnsigned8(mono[static_cast<std::size_t>(i)]));
        } else {
            SRC_DATA data{};
            data.data_in = mono.data();
            data.input_frames = static_cast<long>(got);
            data.src_ratio = ratio;
            data.end_of_input = last ? 1 : 0;
            // Keep pulling until this chunk is consumed (and, at the end, the filter drained).
            for (;;) {
                data.data_out = converted.data();
                data.output_frames = static_cast<long>(converted.size());
                if (const int status = src_process(resampler.get(), &data)) {
                    setError(error, QStringLiteral("cannot resample '%1': %2")
                                        .arg(path, QString::fromUtf8(src_strerror(status))));
                    return std::nullopt;
                }
                for (long i = 0; i < data.output_frames_gen; ++i)
                    samples.push_back(toUnsigned8(converted[static_cast<std::size_t>(i)]));
                data.data_in += data.input_frames_used;
                data.input_frames -= data.input_frames_used;
                if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
                    break;
            }
        }
        if (last)
            return samples;
    }
}

bool writeRaw(const QString& path, const std::vector<std::uint8_t>& samples, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, file.errorString()));
        return false;
    }
    if (file.write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<qint64>(samples.size())) != static_cast<qint64>(samples.size()) ||
        !file.commit()) {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool writeWav(const QString& path, const std::vector<std::uint8_t>& samples, int sampleRate,
              QString* error)
{
    namespace fs = std::filesystem;
    const fs::path target(QFile::encodeName(path).toStdString());
    fs::path partial = target;
    partial += ".part-" + std::to_string(::getpid());

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (!file) {
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        return false;
    }
    // For 8-bit WAV the file's bytes are the samples themselves.
    const sf_count_t written =
        sf_write_raw(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    const bool complete = written == static_cast<sf_count_t>(samples.size());
    const QString reason = QString::fromUtf8(sf_strerror(file));
    const bool closed = sf_close(file) == 0;
    std::error_code ec;
    if (complete && closed) {
        fs::rename(partial, target, ec);
        if (!ec)
            return true;
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(path, QString::fromStdString(ec.message())));
    } else {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, reason));
    }
    fs::remove(partial, ec);
    return false;
}

} // namespace

bool isRawSampleName(const QString& path)
{
    return path == QLatin1String("-") ||
           path.endsWith(QLatin1String(".raw"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".u8"), Qt::CaseInsensitive);
}

std::optional<std::vector<std::uint8_t>> readSamples(const QString& path, int sampleRate,
                                                     QString* error)
{
    if (path == QLatin1String("-"))
        return readStdin(error);
    const QFileInfo info(path);
    if (!info.exists()) {
        setError(error, QStringLiteral("cannot open '%1': no such file").arg(path));
        return std::nullopt;
    }
    if (info.isDir()) {
        setError(error, QStringLiteral("cannot open '%1': it is a directory").arg(path));
        return std::nullopt;
    }
    if (isRawSampleName(path))
        return readRaw(path, error);
    return readSoundFile(path, sampleRate, error);
}

SampleBuffer::SampleBuffer(std::vector<std::uint8_t> samples)
    : owned_(std::move(samples)), data_(owned_.data()), size_(owned_.size())
{}

SampleBuffer::SampleBuffer(SampleBuffer&& other) noexcept
{
    *this = std::move(other);
}

SampleBuffer& SampleBuffer::operator=(SampleBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        owned_ = std::move(other.owned_);
        mapping_ = other.mapping_;
        size_ = other.size_;
        data_ = mapping_ ? other.data_ : owned_.data();
        other.mapping_ = nullptr;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

SampleBuffer::~SampleBuffer()
{
    release();
}

void SampleBuffer::release()
{
    if (mapping_)
        ::munmap(mapping_, size_);
    mapping_ = nullptr;
    owned_.clear();
    data_ = nullptr;
    size_ = 0;
}

std::optional<SampleBuffer> loadSamples(const QString& path, int sampleRate, QString* error)
{
    if (path == QLatin1String("-") || !isRawSampleName(path) || QFileInfo(path).isDir()) {
        auto samples = readSamples(path, sampleRate, error);
        if (!samples)
            return std::nullopt;
        return SampleBuffer(std::move(*samples));
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
        if (fd >= 0)
            ::close(fd);
        // Not a plain file we can map (or an empty one): read it the ordinary way, which
        // also words any error.
        auto samples = readSamples(path, sampleRate, error);
        if (!samples)
            return std::nullopt;
        return SampleBuffer(std::move(*samples));
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED) {
        auto samples = readSamples(path, sampleRate, error);
        if (!samples)
            return std::nullopt;
        return SampleBuffer(std::move(*samples));
    }
    SampleBuffer buffer;
    buffer.mapping_ = mapping;
    buffer.data_ = static_cast<const std::uint8_t*>(mapping);
    buffer.size_ = size;
    return buffer;
}

bool writeSamples(const QString& path, const std::vector<std::uint8_t>& samples, int sampleRate,
                  QString* error)
{
    if (path == QLatin1String("-")) {
        if (std::fwrite(samples.data(), 1, samples.size(), stdout) != samples.size() ||
            std::fflush(stdout) != 0) {
            setError(error, QStringLiteral("cannot write standard output"));
            return false;
        }
        return true;
    }
    if (isRawSampleName(path))
        return writeRaw(path, samples, error);
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return writeWav(path, samples, sampleRate, error);
    setError(error,
             QStringLiteral("cannot write '%1': use a name ending in .wav, .raw or .u8").arg(path));
    return false;
}

std::unique_ptr<SampleFileWriter> SampleFileWriter::open(const QString& path, int sampleRate,
                                                         QString* error)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    const QString partial = path + QStringLiteral(".part");
    SNDFILE* file = sf_open(QFile::encodeName(partial).constData(), SFM_WRITE, &info);
    if (!file) {
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(partial, QString::fromUtf8(sf_strerror(nullptr))));
        return nullptr;
    }
    // A recording cut off by a crash or a full disk still says how long it is.
    sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return std::unique_ptr<SampleFileWriter>(new SampleFileWriter(path, sampleRate, file));
}

SampleFileWriter::SampleFileWriter(const QString& path, int sampleRate, void* file)
    : path_(path), sampleRate_(sampleRate), file_(file)
{}

SampleFileWriter::~SampleFileWriter()
{
    close(nullptr);
}

bool SampleFileWriter::write(const std::uint8_t* samples, std::size_t count, QString* error)
{
    if (!failure_.isEmpty() || !file_) {
        setError(error,
                 failure_.isEmpty() ? QStringLiteral("'%1' is closed").arg(path_) : failure_);
        return false;
    }
    auto* file = static_cast<SNDFILE*>(file_);
    // For 8-bit WAV the file's bytes are the samples themselves.
    const sf_count_t done = sf_write_raw(file, samples, static_cast<sf_count_t>(count));
    if (done > 0)
        written_ += done;
    if (done != static_cast<sf_count_t>(count)) {
        // libsndfile words a failed write as "System error : File too large."
        QString reason = QString::fromUtf8(sf_strerror(file)).trimmed();
        reason.remove(QRegularExpression(QStringLiteral("^System error\\s*:\\s*|\\.$")));
        failure_ = QStringLiteral("cannot write '%1': %2").arg(partialPath(), reason);
        setError(error, failure_);
        return false;
    }
    return true;
}

bool SampleFileWriter::close(QString* error)
{
    if (!file_) {
        if (!failure_.isEmpty())
            setError(error, failure_);
        return failure_.isEmpty();
    }
    const bool closed = sf_close(static_cast<SNDFILE*>(file_)) == 0;
    file_ = nullptr;
    if (failure_.isEmpty() && !closed)
        failure_ = QStringLiteral("cannot finish '%1'").arg(partialPath());
    if (failure_.isEmpty()) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::rename(fs::path(QFile::encodeName(partialPath()).toStdString()),
                   fs::path(QFile::encodeName(path_).toStdString()), ec);
        if (ec)
            failure_ = QStringLiteral("cannot write '%1': %2")
                           .arg(path_, QString::fromStdString(ec.message()));
    }
    if (!failure_.isEmpty()) {
        setError(error, failure_);
        return false;
    }
    return true;
}

} // namespace corvane

namespace corvane {

FloatSoundReader::FloatSoundReader() = default;

FloatSoundReader::~FloatSoundReader()
{
    if (file_)
        sf_close(static_cast<SNDFILE*>(file_));
}

bool FloatSoundReader::open(const QString& path, QString* error)
{
    if (file_)
        sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    path_ = path;
    const QFileInfo fileInfo(path);
    if (!fileInfo.exists() || fileInfo.isDir()) {
        setError(error, QStringLiteral("cannot open '%1': %2")
                            .arg(path, fileInfo.isDir() ? QStringLiteral("it is a directory")
                                                        : QStringLiteral("no such file")));
        return false;
    }
    SF_INFO info{};
    const QByteArray name = QFile::encodeName(path);
    SNDFILE* file = sf_open(name.constData(), SFM_READ, &info);
    if (!file) {
        setError(error, QStringLiteral("cannot read '%1' as a sound file: %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        return false;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        setError(error, QStringLiteral("'%1' has no usable audio (%2 channels at %3 Hz)")
                            .arg(path)
                            .arg(info.channels)
                            .arg(info.samplerate));
        return false;
    }
    file_ = file;
    channels_ = info.channels;
    sampleRate_ = info.samplerate;
    return true;
}

std::int64_t FloatSoundReader::read(float* out, std::size_t max, QString* error)
{
    if (!file_ || max == 0)
        return 0;
    auto* file = static_cast<SNDFILE*>(file_);
    const auto channels = static_cast<std::size_t>(channels_);
    const std::size_t frames = std::min<std::size_t>(max, 1 << 15);
    float* target = out;
    if (channels > 1) {
        interleaved_.resize(frames * channels);
        target = interleaved_.data();
    }
    const sf_count_t got = sf_readf_float(file, target, static_cast<sf_count_t>(frames));
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        setError(error, QStringLiteral("cannot read '%1': %2")
                            .arg(path_, QString::fromUtf8(sf_strerror(file))));
        return -1;
    }
    if (channels > 1) {
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c)
                sum += interleaved_[static_cast<std::size_t>(i) * channels + c];
            out[i] = sum / static_cast<float>(channels);
        }
    }
    return got;
}

bool writeFloatSamples(const QString& path, const std::vector<float>& samples, int sampleRate,
                       QString* error)
{
    if (path == QLatin1String("-") || isRawSampleName(path)) {
        std::vector<std::uint8_t> bytes(samples.size());
        std::transform(samples.begin(), samples.end(), bytes.begin(), toUnsigned8);
        return writeSamples(path, bytes, sampleRate, error);
    }
    if (!path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        setError(
            error,
            QStringLiteral("cannot write '%1': use a name ending in .wav, .raw or .u8").arg(path));
        return false;
    }
    namespace fs = std::filesystem;
    const fs::path target(QFile::encodeName(path).toStdString());
    fs::path partial = target;
    partial += ".part-" + std::to_string(::getpid());
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (!file) {
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        return false;
    }
    // Full scale stays full scale, not a wrapped-around minimum.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    const bool complete = written == static_cast<sf_count_t>(samples.size());
    const QString reason = QString::fromUtf8(sf_strerror(file));
    const bool closed = sf_close(file) == 0;
    std::error_code ec;
    if (complete && closed) {
        fs::rename(partial, target, ec);
        if (!ec)
            return true;
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(path, QString::fromStdString(ec.message())));
    } else {
        setError(error, QStringLiteral("cannot write '%1': %2").arg(path, reason));
    }
    fs::remove(partial, ec);
    return false;
}

} // namespace corvane
