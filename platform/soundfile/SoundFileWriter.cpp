#include "SoundFileWriter.h"

#include "SafeFile.h"
#include "SampleSteps.h"
#include "SoundReader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
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
             QString* reason, int channels = 1)
{
    SF_VIRTUAL_IO io{wavLength, wavSeek, wavRead, wavWrite, wavTell};
    WavSink sink{fd, 0};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
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
                                                         QString* error, int channels)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = std::max(channels, 1);
    info.format = SF_FORMAT_WAV | (channels > 0 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_U8);
    const QString partial = path + QStringLiteral(".part");
    // What an earlier recording left there is all the user has of it.
    if (QFileInfo::exists(partial) || QFileInfo(partial).isSymLink()) {
        setError(error, QStringLiteral("'%1' holds an earlier recording that was not finished: "
                                       "move it away or choose another name")
                            .arg(partial));
        return nullptr;
    }
    SNDFILE* file = sf_open(QFile::encodeName(partial).constData(), SFM_WRITE, &info);
    if (!file) {
        setError(error, QStringLiteral("cannot write '%1': %2")
                            .arg(partial, QString::fromUtf8(sf_strerror(nullptr))));
        return nullptr;
    }
    // A recording cut off by a crash or a full disk still says how long it is.
    sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return std::unique_ptr<SampleFileWriter>(
        new SampleFileWriter(path, sampleRate, info.channels, file));
}

SampleFileWriter::SampleFileWriter(const QString& path, int sampleRate, int channels, void* file)
    : path_(path), sampleRate_(sampleRate), channels_(channels), file_(file)
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
    // For 8-bit WAV the file's bytes are the samples themselves.
    const sf_count_t done =
        sf_write_raw(static_cast<SNDFILE*>(file_), samples, static_cast<sf_count_t>(count));
    return !failed(static_cast<std::int64_t>(count), done, error);
}

bool SampleFileWriter::writeFloat(const float* interleaved, std::size_t frames, QString* error)
{
    if (!failure_.isEmpty() || !file_) {
        setError(error,
                 failure_.isEmpty() ? QStringLiteral("'%1' is closed").arg(path_) : failure_);
        return false;
    }
    const sf_count_t done =
        sf_writef_float(static_cast<SNDFILE*>(file_), interleaved, static_cast<sf_count_t>(frames));
    return !failed(static_cast<std::int64_t>(frames), done, error);
}

bool SampleFileWriter::failed(std::int64_t wanted, std::int64_t done, QString* error)
{
    if (done > 0)
        written_ += done;
    if (done == wanted)
        return false;
    // libsndfile words a failed write as "System error : File too large."
    QString reason = QString::fromUtf8(sf_strerror(static_cast<SNDFILE*>(file_))).trimmed();
    reason.remove(QRegularExpression(QStringLiteral("^System error\\s*:\\s*|\\.$")));
    failure_ = QStringLiteral("cannot write '%1': %2").arg(partialPath(), reason);
    setError(error, failure_);
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

bool writeFloatSamples(const QString& path, const std::vector<float>& samples, int sampleRate,
                       QString* error, int channels)
{
    channels = std::max(channels, 1);
    if (channels > 1 && (path == QLatin1String("-") || isRawSampleName(path))) {
        setError(error, QStringLiteral("cannot write '%1': raw 8-bit samples are mono; name a "
                                       ".wav file for %2 channels")
                            .arg(path)
                            .arg(channels));
        return false;
    }
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
    const auto fill = [&samples, sampleRate, channels](int fd, QString* reason) {
        return fillWav(
            fd, sampleRate, SF_FORMAT_PCM_16,
            [&samples, channels](SNDFILE* file) {
                // Full scale stays full scale, not a wrapped-around minimum.
                sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
                const auto count = static_cast<sf_count_t>(samples.size() / channels);
                return sf_writef_float(file, samples.data(), count) == count;
            },
            reason, channels);
    };
    return writeFileSafely(path, fill, error);
}

} // namespace corvane
