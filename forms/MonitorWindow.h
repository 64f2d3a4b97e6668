#pragma once

#include "LockedReceiver.h"
#include "MonitorFeed.h"
#include "SaveLocation.h"
#include "ui_MonitorWindow.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QTimer;

namespace corvane {

// The Monitor: the picture locked to the transmission's line and frame sync, as large as the
// window, with the decoder's status, an input level meter for setting the receiver's volume,
// the standard and level controls, snapshots and recording of the received audio.
//
// A view over a locked receiver of its own: it shows the receiver's frames and status and sets
// its options. Its options and geometry are kept in the user's settings between runs.
class MonitorWindow : public QWidget, private Ui::MonitorWindow
{
    Q_OBJECT

public:
    explicit MonitorWindow(QWidget* parent = nullptr);
    // Finishes a recording in progress and stores the options.
    ~MonitorWindow() override;

    // What the Source box offers and how its sources are made.
    void setFeed(const MonitorFeed& feed);
    // Receives from source from now on (started here; address is its choice's), playing the
    // programme's sound when asked. False and why when the source cannot start: it is dropped
    // and the Monitor is fed the main window's samples.
    bool takeFeed(std::unique_ptr<SampleSource> source, const QString& address, QString* error);
    // What the Monitor shows; feed it, or give it a source.
    LockedReceiver& receiver() { return *receiver_; }
    const LockedReceiver& receiver() const { return *receiver_; }

    // Where snapshots and recordings go; the desktop's save dialog unless replaced.
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // Where timed snapshots go; the desktop's folder dialog unless replaced.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& current)>;
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

    // The current frame upright at its standard's aspect, at least 320 pixels tall: what a
    // snapshot saves. Null before the first frame.
    QImage snapshotImage() const;
    // Where the frame is drawn in the window.
    MonitorPicture* pictureView() const { return picture; }
    bool recording() const { return receiver_->recording(); }
    // False on the first run, when the window has no place of its own yet.
    bool placeRestored() const { return placeRestored_; }
    QString statusText() const { return statusLabel->text(); }

public slots:
    void snapshot();
    void copyPicture();
    void toggleRecording();
    void toggleVideo();
    void toggleScope();
    void toggleRawRecording();
    void toggleFullScreen();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    LockedSettings settingsFromControls() const;
    PictureSettings pictureFromControls() const;
    void chooseAutoSaveFolder();
    void autoSave();
    void updateAutoSave();
    void controlsChanged();
    void blackMoved(int value);
    void whiteMoved(int value);
    void showStatus();
    void showScope();
    void stopRecording();
    // A failure met while a block was being fed, shown once the feed has finished.
    void reportLater(const QString& message);
    void restoreOptions();
    void storeOptions() const;

    LockedReceiver* receiver_;
    LockedSettings settings_;
    FileChooser chooseFile_ = chooseWithSaveDialog;
    FolderChooser chooseFolder_;
    QString autoSaveFolder_;
    bool rawRecording_ = false;
    MonitorFeed feed_;
    QString sourceAddress_; // what the Monitor receives from; empty: the main window's samples
    void sourceChosen(int index);
    void fillSourceBox();
    QString soundKey_ = QStringLiteral("soundLive");
    QTimer* statusTimer_ = nullptr;
    QTimer* autoSaveTimer_ = nullptr;
    QAction* fullScreenAction_ = nullptr;
    bool placeRestored_ = false;
};

} // namespace corvane
