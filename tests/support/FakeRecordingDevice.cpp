#include "FakeRecordingDevice.h"

#include "WaveEvents.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

namespace corvane::test {

void FakeRecordingDevice::failCall(Op op, int nth)
{
    if (nth == 0) {
        failAlways_.insert(op);
    } else {
        failAt_[op].insert(seen_[op] + nth);
    }
}

void FakeRecordingDevice::succeed(Op op)
{
    failAlways_.erase(op);
    failAt_.erase(op);
}

bool FakeRecordingDevice::scripted(Op op)
{
    const int n = ++seen_[op];
    return !failAlways_.contains(op) && !failAt_[op].contains(n);
}

bool FakeRecordingDevice::record(Op op, bool result, WaveBuffer* buffer, const WaveFormat& format)
{
    CallRecord call;
    call.op = op;
    call.buffer = buffer;
    call.bufferLength = buffer ? buffer->bufferLength : 0;
    call.format = format;
    call.result = result;
    calls_.push_back(call);
    return result;
}

std::vector<FakeRecordingDevice::Op> FakeRecordingDevice::ops() const
{
    std::vector<Op> out;
    for (const CallRecord& c : calls_) {
        out.push_back(c.op);
    }
    return out;
}

int FakeRecordingDevice::count(Op op) const
{
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [op](const CallRecord& c) { return c.op == op; }));
}

void FakeRecordingDevice::post(QEvent::Type type, WaveBuffer* buffer, const QString& text)
{
    if (target_) {
        QCoreApplication::postEvent(target_, new WaveEvent(type, buffer, text));
    }
}

std::uint32_t FakeRecordingDevice::deviceCount()
{
    record(Op::DeviceCount, true);
    return devices;
}

bool FakeRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                               QObject* notificationTarget)
{
    const bool ok = scripted(Op::Open) && deviceNumber < devices && !open_;
    if (ok) {
        open_ = true;
        recording_ = false;
        target_ = notificationTarget;
        post(kWaveOpenEvent);
    }
    return record(Op::Open, ok, nullptr, format);
}

bool FakeRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    const bool ok = scripted(Op::Prepare) && open_ && buffer->bufferLength > 0 && buffer->data;
    if (ok) {
        prepared_.insert(buffer);
    }
    return record(Op::Prepare, ok, buffer);
}

bool FakeRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    const bool ok = scripted(Op::Add) && open_ && prepared_.contains(buffer);
    if (ok) {
        buffer->bytesRecorded = 0;
        queue_.push_back(buffer);
    }
    return record(Op::Add, ok, buffer);
}

bool FakeRecordingDevice::start()
{
    const bool ok = scripted(Op::Start) && open_;
    if (ok) {
        recording_ = true;
    }
    return record(Op::Start, ok);
}

bool FakeRecordingDevice::reset()
{
    const bool ok = scripted(Op::Reset) && open_;
    if (ok) {
        recording_ = false;
        handBackAll();
    }
    return record(Op::Reset, ok);
}

bool FakeRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    const bool queued = std::find(queue_.begin(), queue_.end(), buffer) != queue_.end();
    const bool ok = scripted(Op::Unprepare) && prepared_.contains(buffer) && !queued;
    if (ok) {
        prepared_.erase(buffer);
    }
    return record(Op::Unprepare, ok, buffer);
}

bool FakeRecordingDevice::close()
{
    // Like waveInClose: refused while buffers are still queued.
    const bool ok = scripted(Op::Close) && open_ && queue_.empty();
    if (ok) {
        open_ = false;
        recording_ = false;
        post(kWaveCloseEvent);
    }
    return record(Op::Close, ok);
}

void FakeRecordingDevice::abandon()
{
    open_ = false;
    recording_ = false;
    queue_.clear();
    prepared_.clear();
    target_ = nullptr;
    record(Op::Abandon, true);
}

std::size_t FakeRecordingDevice::feed(std::span<const std::uint8_t> bytes)
{
    std::size_t used = 0;
    while (recording_ && used < bytes.size() && !queue_.empty()) {
        WaveBuffer* b = queue_.front();
        const std::size_t room = static_cast<std::size_t>(b->bufferLength - b->bytesRecorded);
        const std::size_t n = std::min(room, bytes.size() - used);
        std::memcpy(b->data.get() + b->bytesRecorded, bytes.data() + used, n);
        b->bytesRecorded += static_cast<std::int32_t>(n);
        used += n;
        if (b->bytesRecorded == b->bufferLength) {
            queue_.pop_front();
            post(kWaveDataEvent, b);
        }
    }
    return used;
}

void FakeRecordingDevice::failWhileOpen(const QString& text)
{
    recording_ = false;
    post(kWaveErrorEvent, nullptr, text);
    handBackAll();
}

void FakeRecordingDevice::handBackAll()
{
    while (!queue_.empty()) {
        post(kWaveDataEvent, queue_.front());
        queue_.pop_front();
    }
}

} // namespace corvane::test
