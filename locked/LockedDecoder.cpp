#include "LockedDecoder.h"

#include "AmDemodulator.h"
#include "CarrierDetector.h"
#include "FrameAssembler.h"
#include "LevelMeter.h"
#include "SyncLocker.h"
#include "VideoHistory.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr std::size_t kBlock = 4096;
constexpr double kMinRate = LockedRates::kMin;

double linePeriod(double sampleRate, const LockedStandard& standard)
{
    return sampleRate / std::max(standard.lineRateHz, 1.0);
}

// Sync is about 5 % of a line; the smoothing for finding it stays well under that.
int smoothing(double period)
{
    return std::clamp(static_cast<int>(std::lround(period * 0.05 / 3)), 1, 32);
}

} // namespace

struct LockedDecoder::Pipeline
{
    Pipeline(double rate, const LockedSettings& s)
        : sampleRate(std::max(rate, kMinRate)), settings(s),
          period(linePeriod(sampleRate, s.standard)), meter(sampleRate), detector(sampleRate),
          smoothLength(smoothing(period)),
          locker(period, (smoothLength - 1) / 2.0, s.standard.lines), assembler(s),
          // Lines are cut out a couple of lines late, plus a block in flight.
          video(static_cast<std::size_t>(12 * period) + 2 * kBlock),
          smooth(static_cast<std::size_t>(40 * period) + 2 * kBlock)
    {
        lines.reserve(kBlock);
        envelope.resize(kBlock);
        scratch.resize(kBlock);
        smoothed.resize(kBlock);
        extended.assign(kBlock + 64, 0.0f);
        kind = s.signal == SignalKind::Am ? SignalKind::Am : SignalKind::Baseband;
        locker.setPolarity(s.polarity);
        swingWindow = static_cast<std::int64_t>(0.2 * sampleRate);
    }

    void restartSearch()
    {
        locker.reset();
        assembler.reset();
    }

    void process(const float* x, std::size_t n);
    void deliver();
    void probeChannels(const float* interleaved, std::size_t n, int channels);

    // The last stretch of every channel, searched for line sync while none is locked.
    std::vector<std::vector<float>> probes;
    std::vector<float> probeWindow;
    std::size_t probeAt = 0;
    std::int64_t probeFill = 0, lastProbe = 0;

    double sampleRate;
    LockedSettings settings;
    double period;
    LevelMeter meter;
    CarrierDetector detector;
    AmDemodulator am;
    double amCarrier = 0;
    int smoothLength;
    SyncLocker locker;
    FrameAssembler assembler;
    VideoHistory video, smooth;
    SignalKind kind;

    std::vector<float> envelope, scratch, picked, smoothed;
    std::vector<float> extended; // the block, the last samples of the one before in front
    int channel = 0, channels = 1;
    std::vector<PictureLine> lines;
    // Highest and lowest video over this and the last fifth of a second.
    float high = -1e30f, low = 1e30f, lastHigh = 0, lastLow = 0;
    std::int64_t swingFill = 0, swingWindow = 1;

    PictureLine lastLine; // the last one handed to the assembler
    FrameCallback callback;
    QImage last;
    std::int64_t frames = 0;
    std::int64_t samples = 0;
};

void LockedDecoder::Pipeline::process(const float* x, std::size_t n)
{
    samples += static_cast<std::int64_t>(n);
    meter.process(x, n);

    if (settings.signal != SignalKind::Baseband) {
        detector.process(x, n);
        SignalKind wanted = settings.signal;
        if (wanted == SignalKind::Auto)
            wanted =
                detector.decided() && detector.carrier() ? SignalKind::Am : SignalKind::Baseband;
        if (wanted != kind) {
            kind = wanted;
            restartSearch();
            amCarrier = 0;
        }
    }

    const float* v = x;
    if (kind == SignalKind::Am) {
        const double carrier = detector.carrierHz();
        if (carrier > 0 && (amCarrier == 0 || std::abs(carrier - amCarrier) > 0.03 * amCarrier)) {
            amCarrier = carrier;
            am.configure(sampleRate, carrier);
        }
        if (amCarrier > 0)
            am.process(x, envelope.data(), n);
        else
            std::fill_n(envelope.begin(), n, 0.0f);
        v = envelope.data();
    }

    // A running mean over a few samples takes the edge off noise before sync is looked for:
    // over the block with the last few samples of the one before in front, summed afresh.
    const auto len = static_cast<std::size_t>(smoothLength);
    const float inv = 1.0f / static_cast<float>(len);
    float* ext = extended.data();
    std::copy(v, v + n, ext + len - 1);
    float running = 0;
    for (std::size_t k = 0; k + 1 < len; ++k)
        running += ext[k];
    for (std::size_t i = 0; i < n; ++i) {
        running += ext[i + len - 1];
        smoothed[i] = running * inv;
        running -= ext[i];
    }
    std::copy(ext + n, ext + n + len - 1, ext);
    // The range tells the swing while nothing is locked (locked, the picture's levels do).
    if (!locker.locked()) {
        float hi = high, lo = low;
        for (std::size_t i = 0; i < n; ++i) {
            hi = std::max(hi, v[i]);
            lo = std::min(lo, v[i]);
        }
        high = hi;
        low = lo;
    }
    swingFill += static_cast<std::int64_t>(n);
    if (swingFill >= swingWindow) {
        lastHigh = high;
        lastLow = low;
        high = -1e30f;
        low = 1e30f;
        swingFill = 0;
    }
    video.append(v, n);
    smooth.append(smoothed.data(), n);
    locker.allowLikeness(kind == SignalKind::Baseband);
    lines.clear();
    locker.process(smooth, lines);
    deliver();
}

void LockedDecoder::Pipeline::probeChannels(const float* interleaved, std::size_t n, int count)
{
    if (locker.locked() || kind == SignalKind::Am)
        return;
    const auto length = static_cast<std::size_t>(24 * period);
    const auto channelCount = static_cast<std::size_t>(count);
    if (probes.size() != channelCount)
        probes.assign(channelCount, std::vector<float>(length, 0.0f));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < channelCount; ++c)
            probes[c][(probeAt + i) % length] = interleaved[i * channelCount + c];
    probeAt = (probeAt + n) % length;
    probeFill += static_cast<std::int64_t>(n);
    if (probeFill < static_cast<std::int64_t>(length) ||
        probeFill - lastProbe < static_cast<std::int64_t>(0.05 * sampleRate))
        return;
    lastProbe = probeFill;
    int best = -1;
    double strongest = 0;
    probeWindow.resize(length);
    for (std::size_t c = 0; c < channelCount; ++c) {
        std::rotate_copy(probes[c].begin(), probes[c].begin() + static_cast<long>(probeAt),
                         probes[c].end(), probeWindow.begin());
        const SyncFound f = findLineSync(probeWindow.data(), length, period, settings.polarity);
        if (f.found && f.evidence > strongest) {
            strongest = f.evidence;
            best = static_cast<int>(c);
        }
    }
    if (best >= 0 && best != channel) {
        channel = best;
        restartSearch();
    }
}

void LockedDecoder::Pipeline::deliver()
{
    for (const PictureLine& line : lines) {
        if (line.lost) {
            assembler.reset();
            continue;
        }
        lastLine = line;
        if (assembler.add(line, video, locker.sign())) {
            last = assembler.frame();
            ++frames;
            if (callback)
                callback(last);
        }
    }
}

LockedDecoder::LockedDecoder(double sampleRate, const LockedSettings& settings)
    : pipeline_(std::make_unique<Pipeline>(sampleRate, settings))
{}

LockedDecoder::~LockedDecoder() = default;

void LockedDecoder::feed(const float* samples, std::size_t count)
{
    float* clean = pipeline_->scratch.data();
    while (count > 0) {
        const std::size_t n = std::min(count, kBlock);
        // A damaged float file may hold NaN or huge values: one would stick in every filter.
        for (std::size_t i = 0; i < n; ++i)
            clean[i] = std::isfinite(samples[i]) ? std::clamp(samples[i], -4.0f, 4.0f) : 0.0f;
        pipeline_->process(clean, n);
        samples += n;
        count -= n;
    }
}

void LockedDecoder::feed(const float* interleaved, std::size_t frames, int channels)
{
    Pipeline& p = *pipeline_;
    channels = std::max(channels, 1);
    p.channels = channels;
    if (channels == 1) {
        feed(interleaved, frames);
        return;
    }
    p.picked.resize(kBlock);
    while (frames > 0) {
        const std::size_t n = std::min(frames, kBlock);
        if (p.settings.channel == kAutoChannel)
            p.probeChannels(interleaved, n, channels);
        p.channel = std::clamp(p.settings.channel == kAutoChannel ? p.channel : p.settings.channel,
                               0, channels - 1);
        for (std::size_t i = 0; i < n; ++i)
            p.picked[i] = interleaved[i * static_cast<std::size_t>(channels) +
                                      static_cast<std::size_t>(p.channel)];
        feed(p.picked.data(), n);
        interleaved += n * static_cast<std::size_t>(channels);
        frames -= n;
    }
}

void LockedDecoder::feedU8(const std::uint8_t* samples, std::size_t count)
{
    float* scratch = pipeline_->scratch.data();
    while (count > 0) {
        const std::size_t n = std::min(count, kBlock);
        for (std::size_t i = 0; i < n; ++i)
            scratch[i] = (static_cast<float>(samples[i]) - 128.0f) * (1.0f / 128.0f);
        pipeline_->process(scratch, n);
        samples += n;
        count -= n;
    }
}

void LockedDecoder::setSettings(const LockedSettings& settings)
{
    Pipeline& p = *pipeline_;
    if (settings.standard != p.settings.standard || settings.signal != p.settings.signal) {
        auto fresh = std::make_unique<Pipeline>(p.sampleRate, settings);
        fresh->callback = std::move(p.callback);
        fresh->samples = p.samples;
        fresh->frames = p.frames;
        fresh->last = p.last;
        fresh->channel = p.channel;
        fresh->channels = p.channels;
        pipeline_ = std::move(fresh);
        return;
    }
    p.settings = settings;
    p.assembler.setLevels(settings);
    p.locker.setPolarity(settings.polarity);
}

const LockedSettings& LockedDecoder::settings() const
{
    return pipeline_->settings;
}

double LockedDecoder::sampleRate() const
{
    return pipeline_->sampleRate;
}

void LockedDecoder::setFrameCallback(FrameCallback callback)
{
    pipeline_->callback = std::move(callback);
}

LockedStatus LockedDecoder::status() const
{
    const Pipeline& p = *pipeline_;
    LockedStatus s;
    s.locked = p.locker.locked() && p.assembler.confirmed();
    s.lineRateHz = p.locker.locked() ? p.sampleRate / p.locker.period() : 0;
    s.detected = p.kind;
    s.carrierHz = p.kind == SignalKind::Am ? p.amCarrier : 0;
    s.frames = p.frames;
    s.samples = p.samples;
    s.inputPeak = p.meter.peak();
    s.inputTooLow = p.meter.tooLow();
    s.inputClipping = p.meter.clipping();
    s.channel = p.channel;
    s.channels = p.channels;
    s.everLocked = p.locker.everLocked();
    s.inverted = p.locker.sign() < 0;
    const float sign = static_cast<float>(p.locker.sign());
    const float top = std::max({sign * p.high, sign * p.lastHigh, sign * p.low, sign * p.lastLow});
    const float bottom =
        std::min({sign * p.high, sign * p.lastHigh, sign * p.low, sign * p.lastLow});
    // Locked, the picture's own levels; else the range of the last fifth of a second.
    s.swing = std::clamp(static_cast<double>(p.locker.locked() && p.assembler.swing() > 0
                                                 ? p.assembler.swing()
                                                 : top - bottom) /
                             2,
                         0.0, 1.0);
    s.swingTooLow = s.swing < LevelMeter::kTooLow;
    s.noSyncFound = s.swing >= LevelMeter::kTooLow &&
                    p.locker.searchingFor(p.video.end()) > static_cast<std::int64_t>(p.sampleRate);
    return s;
}

ScopeTrace LockedDecoder::scopeTrace(int lines) const
{
    const Pipeline& p = *pipeline_;
    ScopeTrace trace;
    trace.lines = std::clamp(lines, 1, 8);
    trace.locked = p.locker.locked() && p.lastLine.period > 0;
    trace.period = trace.locked ? p.lastLine.period : p.period;
    const auto length = static_cast<std::int64_t>(std::ceil(trace.period * trace.lines));
    // Locked, from the last line's sync edge; else the newest stretch.
    const std::int64_t from = trace.locked ? static_cast<std::int64_t>(std::floor(p.lastLine.start))
                                           : std::max<std::int64_t>(p.video.end() - length, 0);
    std::vector<float> scratch;
    const std::int64_t to = std::min(from + length, p.video.end());
    if (to <= from)
        return trace;
    const float* v = p.video.span(from, to, scratch);
    trace.samples.assign(v, v + (to - from));
    const float sign = static_cast<float>(p.locker.sign());
    if (trace.locked) {
        trace.syncWidth = p.lastLine.syncWidth;
        trace.tip = p.lastLine.tipStart;
        trace.black = trace.tip + sign * p.lastLine.syncDepth;
        trace.slice = trace.tip + 0.5f * sign * p.lastLine.syncDepth;
        trace.white = trace.tip + sign * p.assembler.swing();
    } else {
        const auto [lo, hi] = std::minmax_element(trace.samples.begin(), trace.samples.end());
        trace.tip = trace.slice = trace.black = sign > 0 ? *lo : *hi;
        trace.white = sign > 0 ? *hi : *lo;
    }
    return trace;
}

QImage LockedDecoder::lastFrame() const
{
    return pipeline_->last;
}

void LockedDecoder::reset()
{
    Pipeline& p = *pipeline_;
    auto fresh = std::make_unique<Pipeline>(p.sampleRate, p.settings);
    fresh->callback = std::move(p.callback);
    pipeline_ = std::move(fresh);
}

} // namespace corvane
