#include "FakeRecordingDevice.h"

#include "WaveEvents.h"

#include <algorithm>

namespace corvane::test {

void FakeRecordingDevice::failCall(Op op, int nth)
{
    if (nth == 0)
        failAlways_.insert(op);
    else
        failAt_[op].insert(seen_[op] + nth);
}

void FakeRecordingDevice::succeed(Op op)
{
    failAlways_.erase(op);
    failAt_.erase(op);
}

// Records the call; ok is what the device itself would answer, unless the script says fail.
bool FakeRecordingDevice::record(Op op, bool ok, const WaveBuffer* buffer, const WaveFormat& format)
{
    const int n = ++seen_[op];
    calls_.push_back({op, buffer ? buffer->bufferLength : 0, format});
    return ok && !failAlways_.contains(op) && !failAt_[op].contains(n);
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
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [op](const CallRecord& c) { return c.op == op; }));
}

std::uint32_t FakeRecordingDevice::deviceCount()
{
    record(Op::DeviceCount, true);
    return devices;
}

bool FakeRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                               QObject* notificationTarget)
{
    if (!record(Op::Open, deviceNumber < devices && !queue_.isOpen(), nullptr, format))
        return false;
    recording_ = false;
    queue_.open(notificationTarget);
    queue_.post(kWaveOpenEvent);
    return true;
}

// Each buffer call is scripted before it reaches the queue, so a failure leaves no trace in it.
bool FakeRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    return record(Op::Prepare, true, buffer) && queue_.prepare(buffer);
}

bool FakeRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    return record(Op::Add, true, buffer) && queue_.add(buffer);
}

bool FakeRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    return record(Op::Unprepare, true, buffer) && queue_.unprepare(buffer);
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

bool FakeRecordingDevice::close()
{
    // Like waveInClose: refused while buffers are still queued.
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

void FakeRecordingDevice::feed(std::span<const std::uint8_t> bytes)
{
    if (recording_)
        queue_.fill(bytes.data(), bytes.size());
}

void FakeRecordingDevice::failWhileOpen(const QString& text)
{
    recording_ = false;
    queue_.post(kWaveErrorEvent, nullptr, text);
    queue_.handBack();
}

} // namespace corvane::test
