#pragma once

#include "WaveBufferQueue.h"

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
    void failCall(Op op, int nth = 0);
    void succeed(Op op); // undoes every failure scripted for op

    // Fills the queued buffers in order while recording, handing back each one filled.
    void feed(std::span<const std::uint8_t> bytes);
    // As a device failing on its own: an error, then every buffer handed back.
    void failWhileOpen(const QString& text);

    const std::vector<CallRecord>& calls() const { return calls_; }
    std::vector<Op> ops() const;
    int count(Op op) const;
    void clearCalls() { calls_.clear(); }
    bool isOpen() const { return queue_.isOpen(); }
    bool isRecording() const { return recording_; }
    std::size_t preparedBuffers() const { return queue_.preparedCount(); }

    std::uint32_t deviceCount() override;
    bool open(std::uint32_t deviceNumber, const WaveFormat& format, QObject* target) override;
    bool prepareBuffer(WaveBuffer* buffer) override;
    bool addBuffer(WaveBuffer* buffer) override;
    bool start() override;
    bool reset() override;
    bool unprepareBuffer(WaveBuffer* buffer) override;
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
