// The save dialog behind Save picture…, Snapshot and Record: a name typed without a suffix is
// checked for replacing under its final name.
#include "FormsTestSupport.h"
#include "SaveLocation.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

TEST(SaveDialog, AsksBeforeReplacingAFileNamedWithoutItsSuffix)
{
    QTemporaryDir dir;
    QFile existing(dir.filePath("picture.png"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    for (const auto& [typed, asked] : std::vector<std::pair<QString, bool>>{
             {"picture", true}, {"picture.png", true}, {"other", false}}) {
        QString question;
        // Types the name and presses Enter; refuses to replace, then cancels the dialog.
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [&, typed = typed] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                question = box->text();
                box->button(QMessageBox::No)->click();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                if (name && name->text() != typed) {
                    name->setText(typed);
                    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                } else if (name) {
                    dialog->reject();
                }
            }
        });
        poll->start(50);
        const QString chosen =
            chooseWithSaveDialog(nullptr, "Save", dir.filePath("start.png"), "PNG images (*.png)");
        delete poll;
        EXPECT_EQ(question.contains("picture.png"), asked) << typed.toStdString();
        // Not replaced: nothing was chosen, except a new name, which comes with its suffix.
        EXPECT_EQ(chosen, asked ? QString() : dir.filePath("other.png")) << typed.toStdString();
    }
}

} // namespace
