#pragma once

#include <QEvent>

namespace corvane {

struct WaveBuffer;

// The recording device's notifications, posted to the notification target's event queue,
// never delivered from inside the call that caused them. Numbered after the classic wave-in
// messages so a trace reads familiarly.
inline constexpr QEvent::Type kWaveOpenEvent = static_cast<QEvent::Type>(QEvent::User + 0x3BE);
inline constexpr QEvent::Type kWaveCloseEvent = static_cast<QEvent::Type>(QEvent::User + 0x3BF);
inline constexpr QEvent::Type kWaveDataEvent = static_cast<QEvent::Type>(QEvent::User + 0x3C0);

class WaveEvent : public QEvent
{
public:
    WaveEvent(QEvent::Type type, WaveBuffer* buffer = nullptr) : QEvent(type), buffer_(buffer) {}
    // The finished buffer, for kWaveDataEvent; nullptr otherwise.
    WaveBuffer* buffer() const { return buffer_; }

private:
    WaveBuffer* buffer_;
};

} // namespace corvane
