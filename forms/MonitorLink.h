#pragma once

#include "CaptureEngine.h"
#include "MonitorFeed.h"
#include "MonitorWindow.h"
#include "SaveLocation.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QWidget;

namespace corvane {

class Receiver;
// Opens the Monitor from the main window without touching its layout: the picture's context
// menu ("Monitor", "Save picture…") and Ctrl+M. The Monitor is fed every block the capture
// engine decodes, in order, from the same buffers as the main window's decoder.
class MonitorLink : public QObject
{
    Q_OBJECT

public:
    // mainWindow gets the shortcut, picture the context menu; the link goes with mainWindow.
    MonitorLink(Receiver& receiver, QWidget* mainWindow, QWidget* picture);
    // Closes the Monitor.
    ~MonitorLink() override;

    // Shows the Monitor (making it the first time or after it was closed) in front.
    MonitorWindow* openMonitor();
    // The open Monitor, or nullptr.
    MonitorWindow* monitor() const { return monitor_; }

    // Saves the main window's own picture as PNG, asking where.
    void savePicture();
    // Where Monitors opened from now on take their samples.
    void setFeed(MonitorFeed feed) { feed_ = std::move(feed); }
    // Replaces the desktop's save dialog, here and in Monitors opened afterwards.
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    QAction* monitorAction() const { return monitorAction_; }
    QAction* savePictureAction() const { return savePictureAction_; }

private:
    void showContextMenu(const QPoint& position);

    Receiver& receiver_;
    QWidget* mainWindow_;
    QWidget* picture_;
    QAction* monitorAction_;
    QAction* savePictureAction_;
    QPointer<MonitorWindow> monitor_;
    TapHandle tap_;
    MonitorFeed feed_;
    FileChooser chooseFile_ = chooseWithSaveDialog;
};

} // namespace corvane
