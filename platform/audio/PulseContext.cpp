#include "PulseContext.h"

#include <QAbstractEventDispatcher>
#include <QTimer>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/glib-mainloop.h>

namespace corvane {

bool PulseContext::connect(StateHandler onState, QString* error)
{
    release();
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        if (error)
            *error = QStringLiteral("Live audio needs Qt's GLib event loop (unset QT_NO_GLIB)");
        return false;
    }
    // A fresh adapter for every connection: on one whose earlier connection has gone, a new
    // connection never got past connecting (libpulse 16, GLib 2.74).
    loop_ = pa_glib_mainloop_new(nullptr);
    // Non-recursive, GLib takes the adapter's descriptors out of its poll set and back around
    // every dispatch, waking twice for each fragment; our callbacks never run a nested loop.
    if (loop_)
        g_source_set_can_recurse(reinterpret_cast<GSource*>(loop_), TRUE);
    context_ = loop_ ? pa_context_new(pa_glib_mainloop_get_api(loop_), "Corvane") : nullptr;
    if (context_) {
        pa_context_set_state_callback(
            context_,
            [](pa_context* c, void* self) { static_cast<PulseContext*>(self)->changed(c); }, this);
    }
    // Its callbacks during the call are answered by its result.
    const bool began =
        context_ && pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
        PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    if (!began) {
        const QString reason = context_ ? QString::fromUtf8(pa_strerror(pa_context_errno(context_)))
                                        : QStringLiteral("out of memory");
        release();
        if (error)
            *error = QStringLiteral("Can't connect to the audio server: %1").arg(reason);
        return false;
    }
    onState_ = std::move(onState);
    return true;
}

void PulseContext::changed(pa_context* context)
{
    if (context != context_ || !onState_)
        return; // one let go of: a failed context keeps its callback
    const pa_context_state_t state = pa_context_get_state(context_);
    if (PA_CONTEXT_IS_GOOD(state) && (state != PA_CONTEXT_READY || ready_))
        return;
    const bool wasReady = ready_;
    ready_ = state == PA_CONTEXT_READY;
    const StateHandler handler = onState_; // it may release us
    if (ready_)
        handler({});
    else
        handler(wasReady ? QStringLiteral("lost the connection to the audio server")
                         : QStringLiteral("Can't connect to the audio server: %1")
                               .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context)))));
}

void PulseContext::release()
{
    onState_ = nullptr;
    ready_ = false;
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    // Freed once the event loop is back: we may be inside one of the adapter's callbacks.
    if (loop_)
        QTimer::singleShot(0, [loop = loop_] { pa_glib_mainloop_free(loop); });
    loop_ = nullptr;
}

} // namespace corvane
