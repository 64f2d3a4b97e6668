#include "MessageBoxSink.h"

#include <QApplication>
#include <QMessageBox>

namespace corvane {

void MessageBoxSink::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace corvane
