#pragma once

#include <QString>
#include <utility>

namespace corvane {

// The message as the error display shows it: a full stop is appended when the last character's
// code is above that of the full stop (so "...value" gains one, "...value." and "...ok!" don't).
QString withFullStop(const QString& message);

// The program's default error display: a critical box whose caption is the application's display
// name ("Corvane"), with the message passed through withFullStop. Installed at start-up as the
// component library's error reporter.
void showDefaultError(const QString& message);

// Inside a catch block: reports the exception being handled through reportError().
void reportCurrentException();

// Runs an event handler so that an exception it throws is reported and goes no further: Qt's
// widget code is built without exception support, so an exception must never unwind through it.
template <class Handler> void runGuarded(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        reportCurrentException();
    }
}

} // namespace corvane
