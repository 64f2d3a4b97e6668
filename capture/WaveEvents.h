#pragma once

#include <QEvent>
#include <QString>
#include <utility>

namespace corvane {

struct WaveBuffer;

// The recording device's notifications, posted to the notification target's event queue,
// never delivered from inside the call that caused them. Numbered after the classic wave-in
// messages so a trace reads familiarly.
inline constexpr QEvent::Type kWaveOpenEvent = static_cast<QEvent::Type>(QEvent::User + 0x3BE);
inline constexpr QEvent::Type kWaveCloseEvent = static_cast<QEvent::Type>(QEvent::User + 0x3BF);
inline constexpr QEvent::Type kWaveDataEvent = static_cast<QEvent::Type>(QEvent::User + 0x3C0);
// The device failed on its own while open (audio server gone, source removed). It is posted
// before the device hands back its queued buffers, so the engine can stop replacing them and
// let the queue drain into an ordinary close.
inline constexpr QEvent::Type kWaveErrorEvent = static_cast<QEvent::Type>(QEvent::User + 0x3C1);
// Something the user should know while recording goes on (text() says what), e.g. that the
// device now records from another source because the one it had went away.
inline constexpr QEvent::Type kWaveNoticeEvent = static_cast<QEvent::Type>(QEvent::User + 0x3C2);

class WaveEvent : public QEvent
{
public:
    explicit WaveEvent(QEvent::Type type, WaveBuffer* buffer = nullptr, QString text = {})
        : QEvent(type), buffer_(buffer), text_(std::move(text))
    {}
    // The finished buffer, for kWaveDataEvent; nullptr otherwise.
    WaveBuffer* buffer() const { return buffer_; }
    // What went wrong, in words for the user, for kWaveErrorEvent and kWaveNoticeEvent.
    const QString& text() const { return text_; }

private:
    WaveBuffer* buffer_;
    QString text_;
};

// True for the event types above.
inline bool isWaveEvent(QEvent::Type type)
{
    return type >= kWaveOpenEvent && type <= kWaveNoticeEvent;
}

} // namespace corvane
