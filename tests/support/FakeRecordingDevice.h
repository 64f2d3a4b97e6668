#pragma once

#include "WaveBufferQueue.h"
#include "WaveEvents.h"

#include <map>
#include <set>
#include <span>
#include <vector>

namespace corvane::test {

// A recording device for tests: any call can be scripted to fail, every call is recorded in
// order, and buffers fill only when the test feeds bytes. Its buffers live in the real
// devices' queue; the test decides when the posted notifications are delivered.
class FakeRecordingDevice : public RecordingDevice
{
public:
    enum class Op
    {
        DeviceCount,
        Open,
        Prepare,
        Add,
        Start,
        Reset,
        Unprepare,
        Close,
        Abandon
    };
    struct CallRecord
    {
        Op op;
        std::int32_t bufferLength = 0; // Prepare, Add, Unprepare: the buffer's length then
        WaveFormat format;             // Open
    };

    std::uint32_t devices = 1; // what deviceCount() answers

    // Makes the nth call of op from now (1-based) fail; nth 0 makes every one fail.
    void failCall(Op op, int nth = 0) { failAt_[op].insert(nth == 0 ? 0 : seen_[op] + nth); }
    void succeed(Op op) { failAt_.erase(op); }
    // Fills the queued buffers in order while recording, handing back each one filled.
    void feed(std::span<const std::uint8_t> bytes)
    {
        if (recording_)
            queue_.fill(bytes.data(), bytes.size());
    }
    // As a device failing on its own: an error, then every buffer handed back.
    void failWhileOpen(const QString& text)
    {
        recording_ = false;
        queue_.post(kWaveErrorEvent, nullptr, text);
        queue_.handBack();
    }

    const std::vector<CallRecord>& calls() const { return calls_; }
    std::vector<Op> ops() const;
    int count(Op op) const;
    void clearCalls() { calls_.clear(); }
    bool isOpen() const { return queue_.isOpen(); }
    bool isRecording() const { return recording_; }
    std::size_t preparedBuffers() const { return queue_.preparedCount(); }

    std::uint32_t deviceCount() override { return record(Op::DeviceCount, true) ? devices : 0; }
    bool open(std::uint32_t deviceNumber, const WaveFormat& format, QObject* target) override;
    // A scripted failure comes before the queue, so it leaves no trace there.
    bool prepareBuffer(WaveBuffer* b) override
    {
        return record(Op::Prepare, true, b) && queue_.prepare(b);
    }
    bool addBuffer(WaveBuffer* b) override { return record(Op::Add, true, b) && queue_.add(b); }
    bool unprepareBuffer(WaveBuffer* b) override
    {
        return record(Op::Unprepare, true, b) && queue_.unprepare(b);
    }
    bool start() override;
    bool reset() override;
    bool close() override;
    void abandon() override;

private:
    bool record(Op op, bool ok, const WaveBuffer* buffer = nullptr, const WaveFormat& format = {});

    std::vector<CallRecord> calls_;
    std::map<Op, int> seen_;
    std::map<Op, std::set<int>> failAt_; // call numbers of op that fail; 0: all
    bool recording_ = false;
    WaveBufferQueue queue_;
};

} // namespace corvane::test
