#pragma once

#include "MessageSink.h"

namespace corvane {

// Capture messages as the user sees them: a modal warning box with an empty caption and an
// OK button, over whatever window is active.
class MessageBoxSink final : public MessageSink
{
public:
    void showMessage(const QString& text) override;
};

} // namespace corvane
