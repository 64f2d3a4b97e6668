#include "ErrorDisplay.h"

#include "ErrorReporting.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <new>

namespace corvane {

QString withFullStop(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void showDefaultError(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    withFullStop(message), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void reportCurrentException()
{
    QString message;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("An unexpected error occurred");
    }
    reportError(message);
}

} // namespace corvane
