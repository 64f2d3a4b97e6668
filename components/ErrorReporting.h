#pragma once

#include <QString>
#include <functional>

namespace corvane {

// How controls report an error to the user without knowing the application they live in.
// The program installs its default error display at start-up; where nothing is installed
// (inside Qt Designer, say) reportError shows a critical message box itself.
using ErrorReporter = std::function<void(const QString& message)>;

void setErrorReporter(ErrorReporter reporter);
void reportError(const QString& message);

} // namespace corvane
