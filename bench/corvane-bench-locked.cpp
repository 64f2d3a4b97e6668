// Samples per second of locked decoding, fed a test-card transmission in sound-card-sized
// pieces: baseband through AC coupling and noise, and AM on a 6 kHz carrier. Each case is first
// checked to lock and deliver frames. Each is run five times and the best rate counts, since
// other work on the machine only slows a run.
#include "LockedDecoder.h"
#include "NbtvTransmitter.h"
#include "RateReporter.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace corvane;

namespace {

constexpr std::size_t kChunk = 4096;
constexpr double kTarget = 50e6;

struct Case
{
    const char* name;
    double rate;
    double amHz;
};

const Case kCases[] = {{"baseband", 48000, 0}, {"am6k", 28800, 6000}};

const std::vector<float>& signalFor(const Case& c)
{
    static std::map<std::string, std::vector<float>> cache;
    auto& signal = cache[c.name];
    if (signal.empty()) {
        TransmitterOptions t;
        t.sampleRate = c.rate;
        t.amHz = c.amHz;
        t.seconds = 10;
        const QImage raster = rasterFor(testPicture(240, 360), t.standard);
        const std::vector<float> once = transmit(raster, t);
        // 40 s of signal: long enough that set-up costs vanish.
        for (int k = 0; k < 4; ++k)
            signal.insert(signal.end(), once.begin(), once.end());
        acCouple(signal, c.rate, 20);
        addNoise(signal, 30, 1);
    }
    return signal;
}

std::int64_t decode(const Case& c)
{
    const auto& signal = signalFor(c);
    LockedDecoder decoder(c.rate, LockedSettings{});
    for (std::size_t at = 0; at < signal.size(); at += kChunk)
        decoder.feed(signal.data() + at, std::min(kChunk, signal.size() - at));
    return decoder.status().frames;
}

void lockedRun(benchmark::State& state, const Case& c)
{
    const auto& signal = signalFor(c);
    for (auto _ : state)
        benchmark::DoNotOptimize(decode(c));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(signal.size()));
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    for (const Case& c : kCases) {
        const std::int64_t frames = decode(c);
        const double seconds = static_cast<double>(signalFor(c).size()) / c.rate;
        // 12.5 frames a second, less the half second it may take to lock.
        if (frames < static_cast<std::int64_t>((seconds - 0.5) * 12.5) - 2) {
            std::fprintf(stderr, "%s: only %lld frames from %.0f s of signal\n", c.name,
                         static_cast<long long>(frames), seconds);
            return 1;
        }
        std::printf("%s: %lld frames from %zu samples\n", c.name, static_cast<long long>(frames),
                    signalFor(c).size());
        benchmark::RegisterBenchmark((std::string("locked/") + c.name).c_str(), lockedRun, c)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5);
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    bool met = true;
    for (const Case& c : kCases) {
        const double rate = reporter.rates[std::string("locked/") + c.name];
        if (rate <= 0)
            continue;
        met = met && rate >= kTarget;
        std::printf("%-10s locked decoding %8.1f M samples/s (target %.0f M)\n", c.name, rate / 1e6,
                    kTarget / 1e6);
    }
    benchmark::Shutdown();
    return met ? 0 : 3;
}
