#include "FakeRecordingDevice.h"

#include <algorithm>

namespace corvane::test {

// Records the call; ok is what the device itself answers, unless the script says fail.
bool FakeRecordingDevice::record(Op op, bool ok, const WaveBuffer* buffer, const WaveFormat& format)
{
    const int n = ++seen_[op];
    calls_.push_back({op, buffer ? buffer->bufferLength : 0, format});
    return ok && !failAt_[op].contains(0) && !failAt_[op].contains(n);
}

std::vector<FakeRecordingDevice::Op> FakeRecordingDevice::ops() const
{
    std::vector<Op> out;
    for (const CallRecord& c : calls_)
        out.push_back(c.op);
    return out;
}

int FakeRecordingDevice::count(Op op) const
{
    return int(std::count_if(calls_.begin(), calls_.end(), [op](auto& c) { return c.op == op; }));
}

bool FakeRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                               QObject* target)
{
    if (!record(Op::Open, deviceNumber < devices && !queue_.isOpen(), nullptr, format))
        return false;
    recording_ = false;
    queue_.open(target);
    queue_.post(kWaveOpenEvent);
    return true;
}

bool FakeRecordingDevice::start()
{
    const bool ok = record(Op::Start, queue_.isOpen());
    recording_ = recording_ || ok;
    return ok;
}

bool FakeRecordingDevice::reset()
{
    if (!record(Op::Reset, queue_.isOpen()))
        return false;
    recording_ = false;
    queue_.handBack();
    return true;
}

// Like waveInClose: refused while buffers are still queued.
bool FakeRecordingDevice::close()
{
    if (!record(Op::Close, queue_.isOpen() && queue_.empty()))
        return false;
    recording_ = false;
    return queue_.close();
}

void FakeRecordingDevice::abandon()
{
    record(Op::Abandon, true);
    recording_ = false;
    queue_.abandon();
}

} // namespace corvane::test
