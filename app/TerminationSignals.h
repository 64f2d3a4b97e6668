#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;
class QWidget;

namespace corvane {

// Turns SIGTERM and SIGINT (a session ending, Ctrl+C in the terminal) into a call on the event
// loop, so the program can close its window and leave the ordinary way instead of dying with
// the device open. One instance at a time; the previous handlers come back when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    static void handle(int signal);
    void readSignal();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

// What the program does when asked to end: closes any message box that is up (each runs an
// event loop of its own, under which the program could not end), closes window as its Exit
// button would, and leaves every event loop. A box that a handler would open afterwards
// returns at once.
void endProgram(QWidget& window);

} // namespace corvane
