#include "SoundFile.h"

#include "Resampler.h"
#include "SampleSteps.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
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

// Samples held at once while reading.
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

// Raw bytes read from fd until its end, in chunks, whatever kind of file it is: a pipe, FIFO or
// device has no size to go by. Byte for byte: the first decoder's pictures depend on it.
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

// Reader, mono mix, resampler and 8-bit step in a row.
bool streamSoundFile(const QString& path, int sampleRate, const SampleSink& sink,
                     const ReadLimit& limit, const SampleReadOptions& options, QString* error,
                     QString* warning)
{
    SoundReader reader;
    if (!reader.open(path, error))
        return false;
    std::unique_ptr<Resampler> resampler;
    if (reader.sampleRate() != sampleRate) {
        QString reason;
        resampler =
            sampleRate > 0 ? Resampler::make(reader.sampleRate(), sampleRate, 1, &reason) : nullptr;
        if (!resampler) {
            setError(error, QStringLiteral("cannot resample '%1' from %2 Hz to %3 Hz")
                                .arg(path)
                                .arg(reader.sampleRate())
                                .arg(sampleRate));
            return false;
        }
    }

    std::vector<float> mono;
    std::vector<std::uint8_t> samples;
    std::int64_t total = 0;
    const auto handOver = [&](const float* values, std::size_t count) {
        total += static_cast<std::int64_t>(count);
        if (total > limit.samples) {
            setError(error, tooLong(path, limit));
            return false;
        }
        samples.resize(count);
        std::transform(values, values + count, samples.begin(),
                       [](float v) { return toUnsigned8(v); });
        if (count > 0)
            sink(samples.data(), count);
        return true;
    };
    for (;;) {
        const std::span<const float> got = reader.read(kChunkSamples);
        const std::size_t frames = got.size() / static_cast<std::size_t>(reader.channels());
        const bool last = frames == 0;
        if (options.progress && reader.claimedFrames() > 0 &&
            !options.progress(std::min(1.0, static_cast<double>(reader.framesRead()) /
                                                static_cast<double>(reader.claimedFrames())))) {
            setError(error, QStringLiteral("stopped reading '%1' before its end").arg(path));
            return false;
        }
        mono.resize(frames);
        mixToMono(got.data(), frames, reader.channels(), mono.data());
        if (!resampler) {
            if (!handOver(mono.data(), frames))
                return false;
        } else {
            QString reason;
            if (!resampler->process(mono.data(), frames, last, handOver, &reason)) {
                if (!reason.isEmpty())
                    setError(error, QStringLiteral("cannot resample '%1': %2").arg(path, reason));
                return false;
            }
        }
        if (!last)
            continue;
        const QString& damage = reader.damage();
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

} // namespace

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
    const QFileInfo info(path);
    if (problem.isEmpty() && info.isFile()) {
        if (!isRawSampleName(path))
            SoundReader().open(path, &problem);
        else if (info.size() == 0)
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

} // namespace corvane
