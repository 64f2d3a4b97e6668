#include "LockedDecoder.h"

#include "AmDemodulator.h"
#include "CarrierDetector.h"
#include "FrameAssembler.h"
#include "FrameMarkerDetector.h"
#include "LevelMeter.h"
#include "LineClock.h"
#include "SyncSeparator.h"
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

} // namespace

struct LockedDecoder::Pipeline
{
    Pipeline(double rate, const LockedSettings& s)
        : sampleRate(std::max(rate, kMinRate)), settings(s),
          period(linePeriod(sampleRate, s.standard)), meter(sampleRate), detector(sampleRate),
          sync(period), clock(period), assembler(s),
          // Lines are cut out a few lines late (after coasting), plus a block in flight.
          video(static_cast<std::size_t>(12 * period) + 2 * kBlock)
    {
        pulses.reserve(kBlock);
        events.reserve(kBlock);
        lines.reserve(kBlock);
        envelope.resize(kBlock);
        scratch.resize(kBlock);
        kind = s.signal == SignalKind::Am ? SignalKind::Am : SignalKind::Baseband;
    }

    void restartSearch()
    {
        sync.reset();
        clock.reset();
        marks.reset();
        assembler.reset();
    }

    void process(const float* x, std::size_t n);
    void deliver(const std::vector<LineEvent>& events);

    double sampleRate;
    LockedSettings settings;
    double period;
    LevelMeter meter;
    CarrierDetector detector;
    AmDemodulator am;
    double amCarrier = 0;
    float amTip = 0;
    bool amTipKnown = false;
    SyncSeparator sync;
    LineClock clock;
    FrameMarkerDetector marks;
    FrameAssembler assembler;
    VideoHistory video;
    SignalKind kind;

    std::vector<float> envelope, scratch, picked;
    int channel = 0, channels = 1;
    std::vector<SyncPulse> pulses;
    std::vector<LineEvent> events;
    std::vector<PictureLine> lines;

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
            amTipKnown = false;
            // The separator starts over with its own smoothing and moving levels; an envelope
            // gets its settings once its carrier is known.
            sync.setMinimumSmoothing(1);
            sync.setSettleSamples(0);
            sync.setSteadyLevels(false);
        }
    }

    const float* v = x;
    if (kind == SignalKind::Am) {
        const double carrier = detector.carrierHz();
        if (carrier > 0 && (amCarrier == 0 || std::abs(carrier - amCarrier) > 0.03 * amCarrier)) {
            amCarrier = carrier;
            am.configure(sampleRate, carrier);
            sync.setSettleSamples(AmDemodulator::kDelay + 1);
            sync.setSteadyLevels(true);
        }
        if (amCarrier > 0)
            am.process(x, envelope.data(), n);
        else
            std::fill_n(envelope.begin(), n, 0.0f);
        v = envelope.data();
    }

    const std::int64_t first = video.end();
    video.append(v, n);
    pulses.clear();
    sync.process(v, n, first, pulses);

    events.clear();
    for (SyncPulse& p : pulses) {
        if (kind == SignalKind::Am) {
            // An envelope has no DC to wander: one steady tip level keeps the carrier's
            // ripple at the tips from striping the picture.
            amTip = amTipKnown ? amTip + 0.05f * (p.tip - amTip) : p.tip;
            amTipKnown = true;
            p.tip = amTip;
        }
        clock.pulse(p, events);
    }
    // A pulse still under way may have begun up to its greatest width (plus the smoothing)
    // before the last sample.
    clock.advance(static_cast<double>(video.end()) - 0.45 * period - 40, events);
    deliver(events);
}

void LockedDecoder::Pipeline::deliver(const std::vector<LineEvent>& list)
{
    for (const LineEvent& e : list) {
        if (e.kind == LineEvent::Lost) {
            marks.reset();
            assembler.reset();
            continue;
        }
        lines.clear();
        marks.event(e, lines);
        for (const PictureLine& line : lines) {
            if (assembler.add(line, video, marks.typicalWidth())) {
                last = assembler.frame();
                ++frames;
                if (callback)
                    callback(last);
            }
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
    p.channel =
        std::clamp(p.settings.channel == kAutoChannel ? 0 : p.settings.channel, 0, channels - 1);
    p.picked.resize(kBlock);
    while (frames > 0) {
        const std::size_t n = std::min(frames, kBlock);
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
    s.locked = p.clock.locked() && p.assembler.confirmed();
    s.lineRateHz = p.clock.locked() ? p.sampleRate / p.clock.period() : 0;
    s.detected = p.kind;
    s.carrierHz = p.kind == SignalKind::Am ? p.amCarrier : 0;
    s.frames = p.frames;
    s.samples = p.samples;
    s.inputPeak = p.meter.peak();
    s.inputTooLow = p.meter.tooLow();
    s.inputClipping = p.meter.clipping();
    s.channel = p.channel;
    s.channels = p.channels;
    s.everLocked = p.frames > 0;
    return s;
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
