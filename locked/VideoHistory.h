#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// The most recent video samples, addressed by their number since the start: a line is cut
// out of it once the sync pulse after it has been seen.
class VideoHistory
{
public:
    explicit VideoHistory(std::size_t capacity = 1024)
        : samples_(std::bit_ceil(capacity), 0.0f), mask_(samples_.size() - 1)
    {}

    void append(const float* video, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i)
            samples_[static_cast<std::size_t>(end_ + static_cast<std::int64_t>(i)) & mask_] =
                video[i];
        end_ += static_cast<std::int64_t>(count);
    }

    // Sample number i; samples older than the capacity (or not yet written) read as the
    // nearest one held, so a line at the edge never reads stale memory.
    float at(std::int64_t i) const
    {
        const std::int64_t oldest = end_ - static_cast<std::int64_t>(samples_.size());
        if (i < oldest)
            i = oldest;
        if (i >= end_)
            i = end_ - 1;
        if (i < 0)
            return 0.0f;
        return samples_[static_cast<std::size_t>(i) & mask_];
    }

    // Samples from..to-1 in one piece: straight from the ring when they lie in one stretch of
    // it, else copied into scratch (read as at() does).
    const float* span(std::int64_t from, std::int64_t to, std::vector<float>& scratch) const
    {
        const std::int64_t oldest = end_ - static_cast<std::int64_t>(samples_.size());
        const auto a = static_cast<std::size_t>(from) & mask_;
        if (from >= oldest && from >= 0 && to <= end_ && to > from &&
            a + static_cast<std::size_t>(to - from) <= samples_.size())
            return samples_.data() + a;
        scratch.resize(static_cast<std::size_t>(std::max<std::int64_t>(to - from, 1)));
        for (std::int64_t i = from; i < to; ++i)
            scratch[static_cast<std::size_t>(i - from)] = at(i);
        return scratch.data();
    }

    std::int64_t end() const { return end_; }
    std::size_t capacity() const { return samples_.size(); }
    void reset() { end_ = 0; }

private:
    std::vector<float> samples_;
    std::size_t mask_;
    std::int64_t end_ = 0;
};

} // namespace corvane
