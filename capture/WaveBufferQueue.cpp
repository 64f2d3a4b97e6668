#include "WaveBufferQueue.h"

#include "WaveEvents.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

namespace corvane {

void WaveBufferQueue::open(QObject* target)
{
    target_ = target;
    open_ = true;
}

bool WaveBufferQueue::prepare(WaveBuffer* buffer)
{
    if (!open_ || !buffer || !buffer->data || buffer->bufferLength < 1) {
        return false;
    }
    prepared_.insert(buffer);
    return true;
}

bool WaveBufferQueue::add(WaveBuffer* buffer)
{
    if (!open_ || !prepared_.contains(buffer) || isQueued(buffer)) {
        return false;
    }
    buffer->bytesRecorded = 0;
    queue_.push_back(buffer);
    return true;
}

bool WaveBufferQueue::unprepare(WaveBuffer* buffer)
{
    if (!prepared_.contains(buffer) || isQueued(buffer)) {
        return false;
    }
    prepared_.erase(buffer);
    return true;
}

bool WaveBufferQueue::isQueued(WaveBuffer* buffer) const
{
    return std::find(queue_.begin(), queue_.end(), buffer) != queue_.end();
}

std::size_t WaveBufferQueue::fill(const std::uint8_t* data, std::size_t count)
{
    std::size_t used = 0;
    while (used < count && !queue_.empty()) {
        WaveBuffer* b = queue_.front();
        const auto room = static_cast<std::size_t>(b->bufferLength - b->bytesRecorded);
        const std::size_t take = std::min(room, count - used);
        std::memcpy(b->data.get() + b->bytesRecorded, data + used, take);
        b->bytesRecorded += static_cast<std::int32_t>(take);
        used += take;
        if (b->bytesRecorded == b->bufferLength) {
            queue_.pop_front();
            post(kWaveDataEvent, b);
        }
    }
    return used;
}

void WaveBufferQueue::handBack()
{
    while (!queue_.empty()) {
        post(kWaveDataEvent, queue_.front());
        queue_.pop_front();
    }
}

bool WaveBufferQueue::close()
{
    if (!open_ || !queue_.empty()) {
        return false;
    }
    prepared_.clear();
    open_ = false;
    post(kWaveCloseEvent);
    target_ = nullptr;
    return true;
}

void WaveBufferQueue::abandon()
{
    target_ = nullptr;
    open_ = false;
    queue_.clear();
    prepared_.clear();
}

void WaveBufferQueue::post(QEvent::Type type, WaveBuffer* buffer, const QString& text)
{
    if (target_) {
        QCoreApplication::postEvent(target_, new WaveEvent(type, buffer, text));
    }
}

} // namespace corvane
