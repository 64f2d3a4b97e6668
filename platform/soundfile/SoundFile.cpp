#include "SoundFile.h"

#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
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

// Why path cannot be opened for reading at all: missing, or a directory. Empty otherwise.
QString unopenable(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("cannot open '%1': it is a directory").arg(path);
    if (!info.exists())
        return QStringLiteral("cannot open '%1': no such file").arg(path);
    return {};
}

// Samples held at once while reading, whatever the file claims about itself.
constexpr std::size_t kChunkSamples = std::size_t{1} << 16;

// How much audio a read may deliver: streams need not end.
struct ReadLimit
{
    std::int64_t samples;
    int sampleRate;
};

QString tooLong(const QString& name, const ReadLimit& limit)
{
    return QStringLiteral("stopped reading '%1': it holds more than the limit of %2 s of audio "
                          "at %3 Hz")
        .arg(name)
        .arg(static_cast<double>(limit.samples) / limit.sampleRate)
        .arg(limit.sampleRate);
}

std::uint8_t toUnsigned8(float value)
{
    if (!std::isfinite(value))
        return 128;
    const long level = std::lrint(std::clamp(value, -2.0f, 2.0f) * 128.0f) + 128;
    return static_cast<std::uint8_t>(std::clamp(level, 0L, 255L));
}

// Raw bytes read from fd until its end, in chunks, whatever kind of file it is: a pipe, FIFO or
// device has no size to go by.
bool streamRaw(int fd, const QString& name, const SampleSink& sink, const ReadLimit& limit,
               QString* error)
{
    std::vector<std::uint8_t> chunk(kChunkSamples);
    std::int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            setError(error, QStringLiteral("cannot read '%1': %2")
                                .arg(name, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        if (got == 0)
            return true;
        total += got;
        if (total > limit.samples) {
            setError(error, tooLong(name, limit));
            return false;
        }
        sink(chunk.data(), static_cast<std::size_t>(got));
    }
}

struct SndfileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct ResamplerDeleter
{
    void operator()(SRC_STATE* state) const { src_delete(state); }
};

bool streamSoundFile(const QString& path, int sampleRate, const SampleSink& sink,
                     const ReadLimit& limit, const SampleReadOptions& options, QString* error,
                     QString* warning)
{
    SF_INFO info{};
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(name.constData(), SFM_READ, &info));
    if (!file) {
        setError(error, QStringLiteral("cannot read '%1' as a sound file: %2")
                            .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
        return false;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        setError(error, QStringLiteral("'%1' has no usable audio (%2 channels at %3 Hz)")
                            .arg(path)
                            .arg(info.channels)
                            .arg(info.samplerate));
        return false;
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
            return false;
        }
        int status = 0;
        // Its 97 dB is far beyond 8-bit samples, at a third of the better converters' time.
        resampler.reset(src_new(SRC_SINC_FASTEST, 1, &status));
        if (!resampler) {
            setError(error, QStringLiteral("cannot resample '%1': %2")
                                .arg(path, QString::fromUtf8(src_strerror(status))));
            return false;
        }
    }

    // The header's channel count and length are only claims: every buffer is sized from a
    // fixed budget of samples, never from them.
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto frames = static_cast<sf_count_t>(std::max<std::size_t>(kChunkSamples / channels, 1));
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(frames));
    std::vector<float> converted(kChunkSamples);
    std::vector<std::uint8_t> samples;
    samples.reserve(kChunkSamples);
    std::int64_t total = 0;
    sf_count_t framesRead = 0;
    QString damage;
    const auto handOver = [&] {
        total += static_cast<std::int64_t>(samples.size());
        if (total > limit.samples) {
            setError(error, tooLong(path, limit));
            return false;
        }
        if (!samples.empty())
            sink(samples.data(), samples.size());
        samples.clear();
        return true;
    };

    for (;;) {
        sf_count_t got = sf_readf_float(file.get(), interleaved.data(), frames);
        bool last = got < frames;
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
            // Damage part-way: keep what decoded before it and say where it stopped.
            damage = QString::fromUtf8(sf_strerror(file.get()));
            got = std::max<sf_count_t>(got, 0);
            last = true;
        }
        framesRead += got;
        if (options.progress && info.frames > 0 &&
            !options.progress(std::min(1.0, static_cast<double>(framesRead) / info.frames))) {
            setError(error, QStringLiteral("stopped reading '%1' before its end").arg(path));
            return false;
        }
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c)
                sum += interleaved[static_cast<std::size_t>(i) * channels + c];
            mono[static_cast<std::size_t>(i)] = sum / static_cast<float>(channels);
        }
        if (!resample) {
            for (sf_count_t i = 0; i < got; ++i)
                samples.push_back(toUnsigned8(mono[static_cast<std::size_t>(i)]));
            if (!handOver())
                return false;
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
                    return false;
                }
                for (long i = 0; i < data.output_frames_gen; ++i)
                    samples.push_back(toUnsigned8(converted[static_cast<std::size_t>(i)]));
                if (!handOver())
                    return false;
                data.data_in += data.input_frames_used;
                data.input_frames -= data.input_frames_used;
                if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
                    break;
            }
        }
        if (last) {
            if (!damage.isEmpty() && total == 0) { // nothing to keep: plainly unreadable
                setError(error, QStringLiteral("cannot read '%1': %2").arg(path, damage));
                return false;
            }
            if (!damage.isEmpty() && warning)
                *warning = QStringLiteral("'%1' is damaged (%2); kept the %3 s before the damage")
                               .arg(path, damage)
                               .arg(static_cast<double>(total) / sampleRate, 0, 'f', 2);
            return true;
        }
    }
}

// libsndfile writing through our own descriptor calls, so a failed write keeps its errno.
struct WavSink
{
    int fd = -1;
    int error = 0;
};

sf_count_t wavLength(void* user)
{
    struct stat info = {};
    return ::fstat(static_cast<WavSink*>(user)->fd, &info) == 0 ? info.st_size : -1;
}

sf_count_t wavSeek(sf_count_t offset, int whence, void* user)
{
    return ::lseek(static_cast<WavSink*>(user)->fd, offset, whence);
}

sf_count_t wavRead(void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t wavWrite(const void* data, sf_count_t count, void* user)
{
    auto* sink = static_cast<WavSink*>(user);
    if (writeAll(sink->fd, data, static_cast<std::size_t>(count)))
        return count;
    sink->error = errno;
    return 0;
}

sf_count_t wavTell(void* user)
{
    return ::lseek(static_cast<WavSink*>(user)->fd, 0, SEEK_CUR);
}

// Writes a mono WAV of the given sample format into fd; put() hands libsndfile the samples.
bool fillWav(int fd, int sampleRate, int format, const std::function<bool(SNDFILE*)>& put,
             QString* reason)
{
    SF_VIRTUAL_IO io{wavLength, wavSeek, wavRead, wavWrite, wavTell};
    WavSink sink{fd, 0};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    if (!file) {
        *reason = sink.error ? QString::fromLocal8Bit(std::strerror(sink.error))
                             : QString::fromUtf8(sf_strerror(nullptr));
        return false;
    }
    const bool complete = put(file);
    const QString libraryReason = QString::fromUtf8(sf_strerror(file));
    const bool closed = sf_close(file) == 0; // rewrites the header with the final sizes
    if (complete && closed && sink.error == 0)
        return true;
    *reason = sink.error ? QString::fromLocal8Bit(std::strerror(sink.error)) : libraryReason;
    return false;
}

bool fillWav(int fd, const std::vector<std::uint8_t>& samples, int sampleRate, QString* reason)
{
    return fillWav(
        fd, sampleRate, SF_FORMAT_PCM_U8,
        [&samples](SNDFILE* file) {
            // For 8-bit WAV the file's bytes are the samples themselves.
            const auto count = static_cast<sf_count_t>(samples.size());
            return sf_write_raw(file, samples.data(), count) == count;
        },
        reason);
}

} // namespace

bool isRawSampleName(const QString& path)
{
    return path == QLatin1String("-") ||
           path.endsWith(QLatin1String(".raw"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".u8"), Qt::CaseInsensitive);
}

bool streamSamples(const QString& path, int sampleRate, const SampleSink& sink,
                   const SampleReadOptions& options, QString* error, QString* warning)
{
    const int rate = std::max(sampleRate, 1);
    const ReadLimit limit{
        static_cast<std::int64_t>(std::clamp(std::floor(options.maxSeconds * rate), 0.0, 9e18)),
        rate};
    if (path == QLatin1String("-"))
        return streamRaw(STDIN_FILENO, QStringLiteral("standard input"), sink, limit, error);
    if (const QString problem = unopenable(path); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    if (!isRawSampleName(path))
        return streamSoundFile(path, sampleRate, sink, limit, options, error, warning);
    // Opened once: a FIFO's writer is paired with this one reader.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot open '%1': %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    const bool ok = streamRaw(fd, path, sink, limit, error);
    ::close(fd);
    return ok;
}

bool checkSampleSource(const QString& path, QString* error)
{
    if (path == QLatin1String("-"))
        return true;
    QString problem = unopenable(path);
    if (problem.isEmpty()) {
        const QFileInfo info(path);
        if (!isRawSampleName(path))
            FloatSoundReader().open(path, &problem);
        else if (info.isFile() && info.size() == 0)
            problem = QStringLiteral("'%1' holds no samples").arg(path);
    }
    setError(error, problem);
    return problem.isEmpty();
}

std::optional<std::vector<std::uint8_t>>
readSamples(const QString& path, int sampleRate, QString* error, const SampleReadOptions& options)
{
    std::vector<std::uint8_t> samples;
    QString warning;
    const bool ok = streamSamples(
        path, sampleRate,
        [&samples](const std::uint8_t* data, std::size_t count) {
            samples.insert(samples.end(), data, data + count);
        },
        options, error, &warning);
    if (!ok)
        return std::nullopt;
    if (!warning.isEmpty())
        qWarning("%s", qUtf8Printable(warning));
    return samples;
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
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    // Only a plain, non-empty file can be mapped. Anything else (a FIFO above all) is never
    // opened here: a second open would cost its writer its reader.
    if (path == QLatin1String("-") || !isRawSampleName(path) ||
        ::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
        auto samples = readSamples(path, sampleRate, error);
        if (!samples)
            return std::nullopt;
        return SampleBuffer(std::move(*samples));
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    const auto size = static_cast<std::size_t>(info.st_size);
    void* mapping =
        fd < 0 ? MAP_FAILED : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (fd >= 0)
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
    if (path == QLatin1String("-"))
        return writeStandardOutput(
            QByteArray::fromRawData(reinterpret_cast<const char*>(samples.data()),
                                    static_cast<qsizetype>(samples.size())),
            error);
    if (isRawSampleName(path))
        return writeFileSafely(
            path,
            QByteArray::fromRawData(reinterpret_cast<const char*>(samples.data()),
                                    static_cast<qsizetype>(samples.size())),
            error);
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return writeFileSafely(
            path, [&](int fd, QString* reason) { return fillWav(fd, samples, sampleRate, reason); },
            error);
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
    if (const QString problem = unopenable(path); !problem.isEmpty()) {
        setError(error, problem);
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
    const auto fill = [&samples, sampleRate](int fd, QString* reason) {
        return fillWav(
            fd, sampleRate, SF_FORMAT_PCM_16,
            [&samples](SNDFILE* file) {
                // Full scale stays full scale, not a wrapped-around minimum.
                sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
                const auto count = static_cast<sf_count_t>(samples.size());
                return sf_writef_float(file, samples.data(), count) == count;
            },
            reason);
    };
    return writeFileSafely(path, fill, error);
}

} // namespace corvane
