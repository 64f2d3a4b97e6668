// Samples per second of the decoder against the literal decoder, both fed the same test card
// in 1024-byte buffers, each case checked to give the identical picture first. Each is run
// five times and the best rate counts, since other work on the machine only slows a run.
#include "ImageSurface.h"
#include "LiteralDecoder.h"
#include "PixelDecoder.h"
#include "RateReporter.h"
#include "TestCard.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace corvane;
using corvane::testing::ArraySurface;
using corvane::testing::LiteralDecoder;

namespace {

constexpr std::int32_t kBlock = 1024;

struct Case
{
    const char* name;
    std::int32_t samplesPerPixel;
    std::int32_t samplesAveraged;
    std::int64_t samples;
};

const Case kCases[] = {
    {"defaults", 4, 5, 8 * 1024 * 1024},
    {"window128", 1, 128, 2 * 1024 * 1024},
};

DecoderSettings settingsFor(const Case& c)
{
    DecoderSettings s;
    s.samplesPerPixel = c.samplesPerPixel;
    s.samplesAveraged = c.samplesAveraged;
    s.minLevel = 20; // so the sync band is decoded as sync
    return s;
}

const std::vector<std::uint8_t>& signalFor(const Case& c)
{
    static std::map<std::string, std::vector<std::uint8_t>> cache;
    auto& signal = cache[c.name];
    if (signal.empty()) {
        TestCardOptions card;
        card.settings = settingsFor(c);
        card.samples = c.samples;
        card.clippedBurst = true;
        signal = makeTestCard(card);
    }
    return signal;
}

template <typename Decoder> void feed(Decoder& decoder, const std::vector<std::uint8_t>& signal)
{
    for (std::size_t at = 0; at < signal.size(); at += kBlock) {
        const auto count =
            static_cast<std::int32_t>(std::min<std::size_t>(kBlock, signal.size() - at));
        decoder.DecodeBlock(signal.data() + at, count);
    }
}

bool samePicture(const Case& c)
{
    const DecoderSettings settings = settingsFor(c);
    ImageSurface image;
    PixelDecoder decoder(settings, image);
    feed(decoder, signalFor(c));
    ArraySurface array;
    LiteralDecoder literal(settings, array);
    feed(literal, signalFor(c));
    for (int y = 0; y < ImageSurface::kHeight; ++y)
        for (int x = 0; x < ImageSurface::kWidth; ++x)
            if (image.pixel(x, y) != array.at(x, y))
                return false;
    return image.repaintRequests() == array.repaints &&
           decoder.scanPosition() == literal.ScanPosition_;
}

void literalRun(benchmark::State& state, const Case& c)
{
    const DecoderSettings settings = settingsFor(c);
    const auto& signal = signalFor(c);
    for (auto _ : state) {
        ArraySurface surface;
        LiteralDecoder decoder(settings, surface);
        feed(decoder, signal);
        benchmark::DoNotOptimize(surface.pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(signal.size()));
}

void decoderRun(benchmark::State& state, const Case& c)
{
    const DecoderSettings settings = settingsFor(c);
    const auto& signal = signalFor(c);
    for (auto _ : state) {
        ImageSurface surface;
        PixelDecoder decoder(settings, surface);
        feed(decoder, signal);
        benchmark::DoNotOptimize(surface.image().constBits());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(signal.size()));
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    for (const Case& c : kCases) {
        if (!samePicture(c)) {
            std::fprintf(stderr, "%s: the decoder's picture differs from the literal one\n",
                         c.name);
            return 1;
        }
        std::printf("%s: identical picture, %lld samples\n", c.name,
                    static_cast<long long>(signalFor(c).size()));
        benchmark::RegisterBenchmark((std::string("literal/") + c.name).c_str(), literalRun, c)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5);
        benchmark::RegisterBenchmark((std::string("decoder/") + c.name).c_str(), decoderRun, c)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5);
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const std::map<std::string, double> targets = {{"defaults", 3.0}, {"window128", 20.0}};
    bool met = true;
    for (const Case& c : kCases) {
        const double literal = reporter.rates[std::string("literal/") + c.name];
        const double decoder = reporter.rates[std::string("decoder/") + c.name];
        if (literal <= 0 || decoder <= 0)
            continue;
        const double ratio = decoder / literal;
        const double target = targets.at(c.name);
        met = met && ratio >= target;
        std::printf("%-10s literal %8.1f M samples/s  decoder %8.1f M samples/s  ratio %5.1fx "
                    "(target %.0fx)\n",
                    c.name, literal / 1e6, decoder / 1e6, ratio, target);
    }
    benchmark::Shutdown();
    return met ? 0 : 3;
}
