#include "LineClock.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Searching: intervals that agree this closely, this near the nominal period.
constexpr double kAgree = 0.02;
constexpr double kPullIn = 0.08;
// Loop gains per line (phase, then period), about critically damped.
constexpr double kPhaseGain = 0.25;
constexpr double kPeriodGain = 0.02;
// Pulses outside the window, decaying per line, beyond which the signal is taken for noise.
constexpr float kNoiseLimit = 3.0f;

} // namespace

LineClock::LineClock(double nominalPeriod) : nominal_(nominalPeriod), period_(nominalPeriod) {}

void LineClock::reset()
{
    locked_ = false;
    period_ = nominal_;
    last_ = 0;
    misses_ = 0;
    outside_ = 0;
    noise_ = 0;
    edgeCount_ = 0;
}

void LineClock::lose(std::vector<LineEvent>& out)
{
    const bool was = locked_;
    reset();
    if (was) {
        LineEvent e;
        e.kind = LineEvent::Lost;
        out.push_back(e);
    }
}

void LineClock::startLine(double time, const SyncPulse* p, bool rephased,
                          std::vector<LineEvent>& out)
{
    LineEvent e;
    e.time = time;
    e.real = p != nullptr;
    e.rephased = rephased;
    if (p) {
        e.width = p->width;
        e.flat = p->flat;
        lastTip_ = p->tip;
    }
    e.tip = lastTip_;
    noise_ = noise_ * 0.75f + static_cast<float>(outside_);
    outside_ = 0;
    if (noise_ > kNoiseLimit) {
        lose(out);
        return;
    }
    out.push_back(e);
}

void LineClock::advance(double now, std::vector<LineEvent>& out)
{
    while (locked_ && last_ + period_ + window() < now) {
        last_ += period_;
        if (++misses_ > kMaxMisses) {
            lose(out);
            return;
        }
        startLine(last_, nullptr, false, out);
    }
}

void LineClock::pulse(const SyncPulse& p, std::vector<LineEvent>& out)
{
    if (!locked_) {
        if (edgeCount_ == static_cast<int>(edges_.size())) {
            std::move(edges_.begin() + 1, edges_.end(), edges_.begin());
            --edgeCount_;
        }
        edges_[static_cast<std::size_t>(edgeCount_++)] = p.edge;
        if (edgeCount_ < static_cast<int>(edges_.size()))
            return;
        const double mean = (edges_.back() - edges_.front()) / (edges_.size() - 1);
        if (std::abs(mean - nominal_) > kPullIn * nominal_)
            return;
        for (std::size_t k = 1; k < edges_.size(); ++k)
            if (std::abs(edges_[k] - edges_[k - 1] - mean) > kAgree * mean)
                return;
        locked_ = true;
        period_ = mean;
        width_ = p.width;
        last_ = p.edge;
        misses_ = 0;
        noise_ = 0;
        outside_ = 0;
        startLine(last_, &p, false, out);
        return;
    }

    advance(p.edge, out);
    if (!locked_)
        return;
    const double predicted = last_ + period_;
    const double error = p.edge - predicted;
    if (std::abs(error) <= window()) {
        last_ = predicted + kPhaseGain * error;
        period_ = std::clamp(period_ + kPeriodGain * error, nominal_ * (1 - 1.5 * kPullIn),
                             nominal_ * (1 + 1.5 * kPullIn));
        misses_ = 0;
        // The usual sync width, for judging a pulse that would move the clock.
        width_ += 0.2 * (p.width - width_);
        startLine(last_, &p, false, out);
    } else if (misses_ > 0 && error < 0 && p.width > 0.35 * width_ && p.width < 2.5 * width_) {
        // After a gap the next pulse may sit anywhere in the line: a new phase. Only a pulse
        // shaped like sync may move the clock; noise makes narrow ones.
        last_ = p.edge;
        misses_ = 0;
        startLine(last_, &p, true, out);
    } else {
        ++outside_;
    }
}

} // namespace corvane
