#pragma once

#include <QString>
#include <functional>

struct pa_context;
struct pa_glib_mainloop;

namespace corvane {

// A connection to the audio server run by libpulse's GLib adapter on the GLib main context of
// the thread it is made on (which Qt's GLib event dispatcher turns), so its callbacks come on
// that thread with no lock in between. Never starts a server of its own.
class PulseContext
{
public:
    // Told once the connection is ready (failure empty), or when it could not be made or was
    // lost (failure says which). Not called after release().
    using StateHandler = std::function<void(const QString& failure)>;

    PulseContext() = default;
    ~PulseContext() { release(); }
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Begins connecting; false with a reason when it cannot even begin.
    bool connect(StateHandler onState, QString* error);
    // Disconnects; safe inside one of the connection's own callbacks.
    void release();

    pa_context* get() const { return context_; }
    bool ready() const { return ready_; }

private:
    void changed(pa_context* context);

    pa_glib_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    StateHandler onState_;
    bool ready_ = false;
};

} // namespace corvane
