#pragma once

#include <QString>

namespace corvane {

// Where the capture engine tells the user about device and buffer errors. The program shows a
// modal warning box with an empty caption and an OK button; tests record the texts.
//
// Contract for implementations:
// - showMessage may block and may run a nested event loop (QMessageBox::exec does). The engine
//   calls it only between its own handlers, once the handler that found the error has
//   finished, so device notifications dispatched by that nested loop see a consistent engine
//   and buffers are still decoded in the order the device filled them.
// - Messages raised while a box is up are queued by the engine and shown one after another
//   when it closes, never as stacked boxes.
// - The sink may even see the engine destroyed while its box is up (the window closed behind
//   the box); the engine notices and touches nothing afterwards.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const QString& text) = 0;
};

} // namespace corvane
