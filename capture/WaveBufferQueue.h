#pragma once

#include "RecordingDevice.h"

#include <QEvent>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>

class QObject;

namespace corvane {

// The buffers a recording device holds for the capture engine, and the notifications about
// them, as every device keeps them: prepared buffers are known, added ones wait in order, a
// full one goes back at once, and close is refused while any is still queued. Single-threaded:
// every call on the notification target's thread. Notifications are always posted, never
// delivered from inside the call.
class WaveBufferQueue
{
public:
    // From now on buffers may be prepared and added; notifications go to target.
    void open(QObject* target);
    bool isOpen() const { return open_; }

    bool prepare(WaveBuffer* buffer);
    bool add(WaveBuffer* buffer);
    bool unprepare(WaveBuffer* buffer);
    bool isQueued(WaveBuffer* buffer) const;
    bool empty() const { return queue_.empty(); }
    std::size_t preparedCount() const { return prepared_.size(); }

    // Copies bytes into the queued buffers in order, handing back each one that fills up;
    // returns how many found room.
    std::size_t fill(const std::uint8_t* data, std::size_t count);
    // Hands back every queued buffer as it stands (the last may be partly filled).
    void handBack();

    // Refused while buffers are queued; otherwise forgets the prepared ones and posts the close.
    bool close();
    // Forgets every buffer and posts nothing more.
    void abandon();

    void post(QEvent::Type type, WaveBuffer* buffer = nullptr, const QString& text = {});

private:
    QPointer<QObject> target_;
    bool open_ = false;
    std::deque<WaveBuffer*> queue_;
    std::set<WaveBuffer*> prepared_;
};

} // namespace corvane
