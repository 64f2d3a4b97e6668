#pragma once

#include <QString>

namespace corvane {

// Where the capture engine tells the user about device and buffer errors. The program shows a
// modal warning box with an empty caption and an OK button; tests record the texts.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const QString& text) = 0;
};

} // namespace corvane
