#pragma once

#include "SampleSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <optional>
#include <sndfile.h>
#include <vector>

namespace corvane::test {

// Interleaved samples of channels written to path as format (a float WAV unless told).
inline bool writeSound(const QString& path, int rate, int channels,
                       const std::vector<float>& samples,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
{
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const auto frames = sf_count_t(samples.size()) / channels;
    const bool written = file && sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

// Everything a sample source delivers, as it arrives.
struct SourceLog
{
    explicit SourceLog(SampleSource& source)
    {
        QObject::connect(&source, &SampleSource::block,
                         [this](const float* data, std::size_t frames, int n, double r) {
                             samples.insert(samples.end(), data, data + frames * std::size_t(n));
                             blockFrames.push_back(frames);
                             channels = n;
                             rate = r;
                         });
        QObject::connect(&source, &SampleSource::ended,
                         [this](const QString& reason) { ended = reason; });
    }
    // Runs the event loop until done() holds or timeoutMs passes; done()'s last answer.
    template <typename Done> static bool waitUntil(Done done, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return done();
    }
    std::size_t frames() const { return channels ? samples.size() / std::size_t(channels) : 0; }

    std::vector<float> samples; // interleaved
    std::vector<std::size_t> blockFrames;
    int channels = 0;
    double rate = 0;
    std::optional<QString> ended;
};

} // namespace corvane::test
