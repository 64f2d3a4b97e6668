#include "FrameMarkerDetector.h"

#include <algorithm>

namespace corvane {

namespace {

// A frame's wide sync pulse is clearly wider than the usual one (transmitters use two to
// three times); noise moves widths by far less.
constexpr double kWide = 1.6;

} // namespace

void FrameMarkerDetector::reset()
{
    open_ = false;
    pending_.clear();
    widthCount_ = 0;
    widthAt_ = 0;
    typical_ = 0;
}

void FrameMarkerDetector::close(double end, float tipEnd, std::vector<PictureLine>& out)
{
    if (!open_)
        return;
    current_.end = end;
    current_.tipEnd = tipEnd;
    if (current_.end > current_.start)
        out.push_back(current_);
    open_ = false;
}

void FrameMarkerDetector::open(const LineEvent& e, bool marked)
{
    current_ = PictureLine{};
    current_.start = e.time;
    current_.tipStart = e.tip;
    current_.marked = marked;
    current_.coasted = !e.real;
    current_.jumped = e.rephased;
    open_ = true;
}

void FrameMarkerDetector::event(const LineEvent& e, std::vector<PictureLine>& out)
{
    if (e.kind == LineEvent::Lost) {
        reset();
        return;
    }
    if (!e.real) {
        // Wait for the next real pulse to tell a missing frame pulse, hidden pulses and a gap
        // apart. The clock gives up after a few misses, so this stays short.
        if (pending_.size() < 8)
            pending_.push_back(e);
        return;
    }

    bool wide = false;
    if (e.width > 0) {
        // Wide and flat: a pulse that runs on into black picture is wide but not flat.
        wide = widthCount_ >= 5 && e.width > kWide * typical_ && e.flat > 0.7f;
        if (!wide) {
            widths_[static_cast<std::size_t>(widthAt_)] = e.width;
            widthAt_ = (widthAt_ + 1) % static_cast<int>(widths_.size());
            widthCount_ = std::min(widthCount_ + 1, static_cast<int>(widths_.size()));
            // The median moves slowly: every few pulses is often enough.
            if (widthCount_ < static_cast<int>(widths_.size()) || widthAt_ % 5 == 0) {
                std::array<double, 15> sorted = widths_;
                const auto end = sorted.begin() + widthCount_;
                std::nth_element(sorted.begin(), sorted.begin() + widthCount_ / 2, end);
                typical_ = sorted[static_cast<std::size_t>(widthCount_ / 2)];
            }
        }
    }

    if (e.rephased) {
        // A gap: the line before it ends where its successor was due; the coasted lines in
        // between are black, not picture.
        if (!pending_.empty())
            close(pending_.front().time, pending_.front().tip, out);
        pending_.clear();
        open(e, true);
        return;
    }

    if (pending_.size() == 1) {
        // One pulse missing between two in phase: the frame's first line.
        close(pending_.front().time, pending_.front().tip, out);
        open(pending_.front(), true);
    } else {
        // Pulses hidden by noise: their lines are picture as usual.
        for (const LineEvent& p : pending_) {
            close(p.time, p.tip, out);
            open(p, false);
        }
    }
    pending_.clear();
    close(e.time, e.tip, out);
    open(e, wide);
}

} // namespace corvane
