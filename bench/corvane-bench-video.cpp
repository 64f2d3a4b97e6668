// What recording a video and processing the picture cost per frame, to judge whether they may
// run on the window's thread: one 12.5 frames/s NBTVA frame (32 x 48 elements shown 320 x 480)
// with its 80 ms of 48 kHz sound, encoded into each container (CPU of all the encoders'
// threads); the picture steps on the raster.
#include "PictureAdjust.h"
#include "Standard.h"
#include "VideoWriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

using namespace corvane;

namespace {

QImage raster(int i)
{
    QImage frame(32, 48, QImage::Format_Grayscale8);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 32; ++x)
            frame.scanLine(y)[x] = static_cast<uchar>((x * 7 + y * 3 + i) & 0xff);
    return frame;
}

void encode(benchmark::State& state, const char* name)
{
    QTemporaryDir dir;
    const LockedStandard standard;
    const QImage first = displayFrame(raster(0), standard, VideoWriter::kMinHeight);
    std::vector<float> sound(48000 / 25 * 2);
    for (std::size_t i = 0; i < sound.size(); ++i)
        sound[i] = 0.3f * float(std::sin(0.05 * double(i)));
    VideoWriter writer;
    QString error;
    if (!writer.open(dir.filePath(name), {25, 2}, first.width(), first.height(),
                     AudioTrack{48000, 1}, &error)) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    int i = 0;
    for (auto _ : state) {
        writer.addFrame(displayFrame(raster(i++), standard, VideoWriter::kMinHeight));
        writer.addAudio(sound.data(), sound.size());
    }
    if (!writer.finish(&error)) // outside the timed loop
        state.SkipWithError(error.toLocal8Bit().constData());
}

void picture(benchmark::State& state)
{
    PictureSettings settings;
    settings.gamma = 1.8;
    settings.contrast = 1.3;
    settings.rotation = 90;
    FrameAverager averager(8);
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(adjustPicture(averager.add(raster(i++)), settings));
}

} // namespace

BENCHMARK_CAPTURE(encode, mp4, "b.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(250)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(encode, mkv, "b.mkv")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(250)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(encode, webm, "b.webm")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(250)
    ->MeasureProcessCPUTime();
BENCHMARK(picture)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
