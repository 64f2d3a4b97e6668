#pragma once

#include "FakeRecordingDevice.h"
#include "Launcher.h"
#include "MessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <ostream>
#include <vector>

namespace corvane::test {

// Lets the event loop run until pred holds, as long as a user would wait; false on timeout.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    return QTest::qWaitFor(pred, timeoutMs);
}

// The title the window system shows: X11's _NET_WM_NAME, else its WM_NAME.
inline QString shownTitle(QWidget* window)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return window->windowTitle();
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {"-id", QString::number(window->winId()), "_NET_WM_NAME", "WM_NAME"});
    xprop.waitForFinished(5000);
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput());
    for (const QString& line : out.split(u'\n'))
        if (const auto at = line.indexOf(QStringLiteral(" = ")); at > 0)
            return line.mid(at + 3).remove(u'"');
    return QStringLiteral("(no title: %1)").arg(out);
}

// What a message box showed.
struct BoxSeen
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = true;

    friend bool operator==(const BoxSeen&, const BoxSeen&) = default;
    friend void PrintTo(const BoxSeen& b, std::ostream* os)
    {
        *os << "{" << b.title.toStdString() << ": " << b.text.toStdString() << ", icon " << b.icon
            << (b.modal ? ", modal}" : ", modeless}");
    }
};

// The default error display's box.
inline BoxSeen errorBox(const QString& text)
{
    return {QStringLiteral("Corvane"), text, QMessageBox::Critical};
}

// Runs action, which may open modal message boxes; answers each with OK and records it.
inline std::vector<BoxSeen> answerBoxes(const std::function<void()>& action)
{
    std::vector<BoxSeen> seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.push_back({shownTitle(box), box->text(), box->icon(), box->isModal()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    poll.start();
    action();
    poll.stop();
    return seen;
}

// Remembers the capture messages instead of showing them.
class RecordingSink : public MessageSink
{
public:
    void showMessage(const QString& text) override { messages.push_back(text); }
    std::vector<QString> messages;
};

// Pretends that the programs in `installed` exist and records what would have been started.
class RecordingLauncher : public ProgramLauncher
{
public:
    QString findExecutable(const QString& name) const override
    {
        return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    }
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.push_back({program, arguments});
        return startSucceeds;
    }
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return true;
    }

    QStringList installed;
    bool startSucceeds = true;
    std::vector<CommandLine> started;
    std::vector<QUrl> opened;
};

} // namespace corvane::test
