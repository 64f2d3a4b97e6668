#pragma once

#include "LockedDecoder.h"
#include "SaveLocation.h"
#include "ui_MonitorWindow.h"

#include <QWidget>
#include <cstdint>
#include <memory>

class QAction;
class QTimer;

namespace corvane {

class SampleFileWriter;

// The Monitor: the picture locked to the transmission's line and frame sync, as large as the
// window, with the decoder's status, an input level meter for setting the receiver's volume,
// the standard and level controls, snapshots and recording of the received audio.
//
// It decodes the blocks it is fed with a locked decoder of its own, made for the blocks' sample
// rate. Its options and geometry are kept in the user's settings between runs.
class MonitorWindow : public QWidget, private Ui::MonitorWindow
{
    Q_OBJECT

public:
    explicit MonitorWindow(QWidget* parent = nullptr);
    // Finishes a recording in progress and stores the options.
    ~MonitorWindow() override;

    // Unsigned 8-bit samples as recorded, at sampleRate. A new rate starts a new decoder and
    // ends a recording made at the old one.
    void feedU8(const std::uint8_t* samples, std::size_t count, int sampleRate);

    // Where snapshots and recordings go; the desktop's save dialog unless replaced.
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // The current frame upright at its standard's aspect, at least 320 pixels tall: what a
    // snapshot saves. Null before the first frame.
    QImage snapshotImage() const;
    // Where the frame is drawn in the window, and the decoder (null before the first samples).
    MonitorPicture* pictureView() const { return picture; }
    const LockedDecoder* decoder() const { return decoder_.get(); }
    bool recording() const { return recorder_ != nullptr; }
    // False on the first run, when the window has no place of its own yet.
    bool placeRestored() const { return placeRestored_; }
    QString statusText() const { return statusLabel->text(); }

public slots:
    void snapshot();
    void toggleRecording();
    void toggleFullScreen();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    LockedSettings settingsFromControls() const;
    void controlsChanged();
    void blackMoved(int value);
    void whiteMoved(int value);
    void makeDecoder(int sampleRate);
    void showStatus();
    void stopRecording();
    // A failure met while a block was being fed, shown once the feed has finished.
    void reportLater(const QString& message);
    void restoreOptions();
    void storeOptions() const;

    LockedSettings settings_;
    std::unique_ptr<LockedDecoder> decoder_;
    int sampleRate_ = 0;
    LockedStandard frameStandard_;
    std::unique_ptr<SampleFileWriter> recorder_;
    FileChooser chooseFile_ = chooseWithSaveDialog;
    QTimer* statusTimer_ = nullptr;
    QAction* fullScreenAction_ = nullptr;
    bool placeRestored_ = false;
};

} // namespace corvane
