#include "ErrorReporting.h"

#include <QApplication>
#include <QMessageBox>

namespace corvane {

namespace {
ErrorReporter& installedReporter()
{
    static ErrorReporter reporter;
    return reporter;
}
} // namespace

void setErrorReporter(ErrorReporter reporter)
{
    installedReporter() = std::move(reporter);
}

void reportError(const QString& message)
{
    if (const ErrorReporter& reporter = installedReporter()) {
        reporter(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                          message);
}

} // namespace corvane
