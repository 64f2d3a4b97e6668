#include "ReadingProgress.h"

#include <QPointer>
#include <QProgressDialog>
#include <memory>

namespace corvane {

std::function<void(int percent, bool done)> readingProgressView(QWidget* parent,
                                                                const QString& name)
{
    auto dialog = std::make_shared<QPointer<QProgressDialog>>();
    return [parent, name, dialog](int percent, bool done) {
        if (done) {
            delete dialog->data();
            return;
        }
        if (!*dialog) {
            // Made when a reading starts: its clock for showing itself starts then.
            *dialog = new QProgressDialog(QStringLiteral("Reading %1…").arg(name), QString(), 0,
                                          100, parent);
            (*dialog)->setWindowModality(Qt::NonModal);
            (*dialog)->setMinimumDuration(500);
            (*dialog)->setValue(0); // starts the clock the half second is counted on
        }
        (*dialog)->setValue(percent);
    };
}

} // namespace corvane
