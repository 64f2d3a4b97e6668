#pragma once

#include "RecordingDevice.h"

#include <QEvent>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <span>
#include <vector>

namespace corvane::test {

// A recording device for tests: every call can be scripted to fail, every call is recorded in
// order, and buffers are filled only when the test feeds bytes. Notifications are posted to
// the target like a real device's, so the test decides when they are delivered.
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
        Abandon,
    };

    struct CallRecord
    {
        Op op;
        WaveBuffer* buffer = nullptr;  // Prepare, Add, Unprepare
        std::int32_t bufferLength = 0; // its length at the time of the call
        WaveFormat format;             // Open
        bool result = true;
    };

    std::uint32_t devices = 1; // what deviceCount() answers

    // Makes the nth call (1-based, counted from now) of op fail; nth 0 makes every one fail.
    void failCall(Op op, int nth = 0);
    // Undoes every failure scripted for op.
    void succeed(Op op);

    // Fills the queued buffers in order with bytes while recording; each one filled is posted
    // back. Returns how many bytes found room (the rest is dropped, like an overrun).
    std::size_t feed(std::span<const std::uint8_t> bytes);
    // Like a device failing on its own: posts an error, then hands back what it holds.
    void failWhileOpen(const QString& text);

    const std::vector<CallRecord>& calls() const { return calls_; }
    std::vector<Op> ops() const;
    int count(Op op) const;
    void clearCalls() { calls_.clear(); }

    bool isOpen() const { return open_; }
    bool isRecording() const { return recording_; }
    // Buffers prepared and not yet unprepared.
    std::size_t preparedBuffers() const { return prepared_.size(); }

    std::uint32_t deviceCount() override;
    bool open(std::uint32_t deviceNumber, const WaveFormat& format,
              QObject* notificationTarget) override;
    bool prepareBuffer(WaveBuffer* buffer) override;
    bool addBuffer(WaveBuffer* buffer) override;
    bool start() override;
    bool reset() override;
    bool unprepareBuffer(WaveBuffer* buffer) override;
    bool close() override;
    void abandon() override;

private:
    bool scripted(Op op);
    bool record(Op op, bool result, WaveBuffer* buffer = nullptr, const WaveFormat& format = {});
    void post(QEvent::Type type, WaveBuffer* buffer = nullptr, const QString& text = {});
    void handBackAll();

    std::vector<CallRecord> calls_;
    std::map<Op, int> seen_;
    std::map<Op, std::set<int>> failAt_; // call numbers of op that fail
    std::set<Op> failAlways_;

    QPointer<QObject> target_;
    bool open_ = false;
    bool recording_ = false;
    std::deque<WaveBuffer*> queue_;
    std::set<WaveBuffer*> prepared_;
};

} // namespace corvane::test
