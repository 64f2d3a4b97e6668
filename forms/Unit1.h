#pragma once

#include "CaptureEngine.h"
#include "DecoderSettings.h"
#include "ui_Unit1.h"

#include <QWidget>

class QCloseEvent;

namespace corvane {

class ProgramLauncher;
class Receiver;
class TFormAbout;
class MonitorLink;

// The main window: the picture, the level sliders, the settings boxes and the command buttons.
// It is the target of the recording device's notifications and hands them to the capture
// engine. One field per control of the layout in Unit1.ui, named as there.
class TFormMain : public QWidget, public Ui::TFormMain
{
    Q_OBJECT

public:
    // Builds the window from its layout and starts capture. receiver and launcher must outlive
    // the window.
    TFormMain(Receiver& receiver, ProgramLauncher& launcher, QWidget* parent = nullptr);
    // Abandons a device still open (the program does not wait for it to drain).
    ~TFormMain() override;

    // The About window shown by the "About" button; created after this window at start-up.
    // Its help link opens the help page as F1 does.
    void setAboutWindow(TFormAbout* about);

    // The directory of the running executable, with a trailing separator.
    const QString& ExeDirectory() const { return exeDirectory_; }

    // The Monitor window and the picture's context menu that opens it.
    MonitorLink& monitorLink() { return *monitorLink_; }

public slots:
    void Button1Click(); // Start / Stop
    void Button2Click(); // Set Volume
    void Button3Click(); // About
    void Button4Click(); // Exit
    void Button5Click(); // Apply
    void Button6Click(); // Default
    void SliderMinChange();
    void SliderMaxChange();
    void FormClose();

    // Handlers of commands this layout has no control for; kept so a layout with a menu or a
    // tool bar can bind them.
    void MenuHelpClick();
    void MenuStartReceiveClick();
    void MenuStopReceiveClick();
    void ButtonStopRxClick();
    void ButtonStartRxClick();
    void ToolButton3Click();
    void AboutClick();
    void MenuExitClick();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyFonts();
    void bindHandlers();
    void showBoxes(const DecoderSettings& settings);
    void showProblem(const QString& text);
    void clearPicture();

    Receiver& receiver_;
    ProgramLauncher& launcher_;
    TFormAbout* formAbout_ = nullptr;
    QString exeDirectory_;
    MonitorLink* monitorLink_ = nullptr;
    TapHandle paintTap_;
};

} // namespace corvane
