#include "MonitorWindow.h"

#include "ErrorReporting.h"
#include "UserSettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QSettings>
#include <QTimer>
#include <cmath>

namespace corvane {

namespace {

QString minutesAndSeconds(std::int64_t seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

MonitorWindow::MonitorWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), receiver_(new LockedReceiver(this))
{
    setupUi(this);
    connect(receiver_, &LockedReceiver::frameReady, picture, &MonitorPicture::setFrame);
    connect(receiver_, &LockedReceiver::recordingEnded, this, &MonitorWindow::reportLater);
    // The main window ends the program; an open Monitor does not keep it running.
    setAttribute(Qt::WA_QuitOnClose, false);

    const auto command = [this](const QString& text, const QKeySequence& keys, auto handler) {
        auto* action = new QAction(text, this);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, handler);
        // Window-wide, so the keys work in full screen where the buttons are hidden.
        addAction(action);
        picture->addAction(action);
        return action;
    };
    QAction* snapshotAction =
        command(tr("Snapshot…"), QKeySequence(Qt::CTRL | Qt::Key_S), &MonitorWindow::snapshot);
    QAction* recordAction =
        command(tr("Record / stop recording…"), QKeySequence(Qt::CTRL | Qt::Key_R),
                &MonitorWindow::toggleRecording);
    fullScreenAction_ =
        command(tr("Full screen"), QKeySequence(Qt::Key_F11), &MonitorWindow::toggleFullScreen);
    connect(snapshotButton, &QPushButton::clicked, snapshotAction, &QAction::trigger);
    connect(recordButton, &QPushButton::clicked, recordAction, &QAction::trigger);
    connect(fullScreenButton, &QPushButton::clicked, fullScreenAction_, &QAction::trigger);

    for (const LockedStandard& s : knownStandards())
        standardBox->addItem(tr("%1, %2 lines").arg(s.title).arg(s.lines), s.name);
    standardBox->addItem(tr("Custom"), QStringLiteral("custom"));
    linesBox->setRange(StandardLimits::kMinLines, StandardLimits::kMaxLines);
    lineRateBox->setRange(StandardLimits::kMinLineRate, StandardLimits::kMaxLineRate);
    aspectBox->setRange(StandardLimits::kMinAspect, StandardLimits::kMaxAspect);

    restoreOptions();
    for (QCheckBox* box : {negativeBox, autoLevelsBox, smoothBox})
        connect(box, &QCheckBox::toggled, this, &MonitorWindow::controlsChanged);
    connect(standardBox, &QComboBox::currentIndexChanged, this, &MonitorWindow::controlsChanged);
    connect(linesBox, &QSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(lineRateBox, &QDoubleSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(aspectBox, &QDoubleSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(blackSlider, &QSlider::valueChanged, this, &MonitorWindow::blackMoved);
    connect(whiteSlider, &QSlider::valueChanged, this, &MonitorWindow::whiteMoved);
    controlsChanged();

    // Ten status updates a second are plenty for a reader; the picture repaints per frame.
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(100);
    connect(statusTimer_, &QTimer::timeout, this, &MonitorWindow::showStatus);
    showStatus();
}

MonitorWindow::~MonitorWindow()
{
    storeOptions();
}

void MonitorWindow::restoreOptions()
{
    const auto stored = openUserSettings();
    if (!stored)
        return;
    QSettings& settings = *stored;
    settings.beginGroup(QStringLiteral("Monitor"));
    placeRestored_ = restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    const QString standard = settings.value(QStringLiteral("standard")).toString();
    standardBox->setCurrentIndex(std::max(standardBox->findData(standard), 0));
    linesBox->setValue(settings.value(QStringLiteral("lines"), linesBox->value()).toInt());
    lineRateBox->setValue(
        settings.value(QStringLiteral("lineRate"), lineRateBox->value()).toDouble());
    aspectBox->setValue(settings.value(QStringLiteral("aspect"), aspectBox->value()).toDouble());
    negativeBox->setChecked(settings.value(QStringLiteral("negative"), false).toBool());
    autoLevelsBox->setChecked(settings.value(QStringLiteral("autoLevels"), true).toBool());
    smoothBox->setChecked(settings.value(QStringLiteral("smooth"), false).toBool());
    const int black = blackSlider->value(), white = whiteSlider->value();
    whiteSlider->setValue(settings.value(QStringLiteral("white"), white).toInt());
    blackSlider->setValue(settings.value(QStringLiteral("black"), black).toInt());
    // Black lies below white; levels saved otherwise (edited by hand) give way to the defaults.
    if (blackSlider->value() >= whiteSlider->value()) {
        blackSlider->setValue(black);
        whiteSlider->setValue(white);
    }
}

void MonitorWindow::storeOptions() const
{
    const auto stored = openUserSettings();
    if (!stored)
        return;
    QSettings& settings = *stored;
    settings.beginGroup(QStringLiteral("Monitor"));
    // The window's normal place; full screen is where it goes for the moment only.
    if (!isFullScreen())
        settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("standard"), settings_.standard.name);
    settings.setValue(QStringLiteral("lines"), linesBox->value());
    settings.setValue(QStringLiteral("lineRate"), lineRateBox->value());
    settings.setValue(QStringLiteral("aspect"), aspectBox->value());
    settings.setValue(QStringLiteral("negative"), negativeBox->isChecked());
    settings.setValue(QStringLiteral("autoLevels"), autoLevelsBox->isChecked());
    settings.setValue(QStringLiteral("smooth"), smoothBox->isChecked());
    settings.setValue(QStringLiteral("black"), blackSlider->value());
    settings.setValue(QStringLiteral("white"), whiteSlider->value());
}

LockedSettings MonitorWindow::settingsFromControls() const
{
    LockedSettings settings = settings_;
    settings.standard =
        standardByName(standardBox->currentData().toString())
            .value_or(customStandard(linesBox->value(), lineRateBox->value(), aspectBox->value()));
    settings.negative = negativeBox->isChecked();
    settings.autoLevels = autoLevelsBox->isChecked();
    settings.manualBlack = blackSlider->value() / 100.0;
    settings.manualWhite = whiteSlider->value() / 100.0;
    return settings;
}

void MonitorWindow::controlsChanged()
{
    const LockedStandard before = settings_.standard;
    settings_ = settingsFromControls();
    const LockedStandard& now = settings_.standard;
    customPanel->setVisible(now.name == QLatin1String("custom"));
    manualLevels->setVisible(!settings_.autoLevels);
    picture->setSmooth(smoothBox->isChecked());
    if (now != before) {
        // A frame of the old raster would show at the wrong shape until the new one locks.
        picture->setFrame(QImage());
        picture->setAspect(now.aspect);
    }
    receiver_->setSettings(settings_);
}

void MonitorWindow::blackMoved(int value)
{
    // Black stays below white: pushing one past the other takes the other along.
    if (value >= whiteSlider->value())
        whiteSlider->setValue(std::min(value + 1, whiteSlider->maximum()));
    if (value >= whiteSlider->value())
        blackSlider->setValue(whiteSlider->value() - 1);
    controlsChanged();
}

void MonitorWindow::whiteMoved(int value)
{
    if (value <= blackSlider->value())
        blackSlider->setValue(std::max(value - 1, blackSlider->minimum()));
    if (value <= blackSlider->value())
        whiteSlider->setValue(blackSlider->value() + 1);
    controlsChanged();
}

void MonitorWindow::reportLater(const QString& message)
{
    // A message box runs an event loop, which would hand this window the next block while the
    // current one is still being fed.
    QTimer::singleShot(0, this, [message] { reportError(message); });
}

void MonitorWindow::showStatus()
{
    const QString status = receiver_->statusText();
    const QString advice = receiver_->advice();
    if (statusLabel->text() != status)
        statusLabel->setText(status);
    if (levelAdvice->text() != advice)
        levelAdvice->setText(advice);
    const LevelVerdict verdict = receiver_->levelVerdict();
    levelMeter->setLevel(receiver_->meterLevel(),
                         verdict == LevelVerdict::Good       ? InputLevelMeter::Verdict::Good
                         : verdict == LevelVerdict::Clipping ? InputLevelMeter::Verdict::Clipping
                                                             : InputLevelMeter::Verdict::TooLow);
    // The last picture stays, dimmed, while nothing new can come.
    const ReceiverStatus now = receiver_->status();
    picture->setDimmed(now.noInput || now.lost);

    const QString record =
        receiver_->recording()
            ? tr("Stop recording (%1)")
                  .arg(minutesAndSeconds(static_cast<std::int64_t>(receiver_->recordedSeconds())))
            : tr("Record…");
    if (recordButton->text() != record)
        recordButton->setText(record);
    recordButton->setChecked(receiver_->recording());
}

QImage MonitorWindow::snapshotImage() const
{
    const QImage& frame = picture->frame();
    if (frame.isNull())
        return {};
    return displayFrame(frame, receiver_->frameStandard(), 320, smoothBox->isChecked());
}

void MonitorWindow::snapshot()
{
    // Taken now, so the picture saved is the one on screen when the user asked.
    const QImage image = snapshotImage();
    if (image.isNull()) {
        reportError(tr("There is no picture to save yet: the Monitor has not locked to a signal."));
        return;
    }
    QString error;
    if (!savePictureAs(this, chooseFile_, image, &error))
        reportError(error);
}

void MonitorWindow::toggleRecording()
{
    if (receiver_->recording()) {
        stopRecording();
        return;
    }
    if (receiver_->status().sampleRate == 0) {
        reportError(tr("Nothing is being received yet: start reception in the main window."));
        showStatus();
        return;
    }
    const QString chosen =
        chooseFile_(this, tr("Record the received audio"),
                    timeStampedPath(QStandardPaths::MusicLocation, QStringLiteral("wav"),
                                    QDateTime::currentDateTime()),
                    tr("WAV audio (*.wav)"));
    QString error;
    if (!chosen.isEmpty() &&
        !receiver_->startRecording(withSuffix(chosen, QStringLiteral("wav")), &error))
        reportError(error);
    showStatus();
}

void MonitorWindow::stopRecording()
{
    QString error;
    if (!receiver_->stopRecording(&error))
        reportLater(error);
    if (isVisible())
        showStatus();
}

void MonitorWindow::toggleFullScreen()
{
    if (isFullScreen()) {
        controls->show();
        showNormal();
    } else {
        controls->hide();
        showFullScreen();
    }
}

void MonitorWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && isFullScreen()) {
        toggleFullScreen();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MonitorWindow::closeEvent(QCloseEvent* event)
{
    stopRecording();
    storeOptions();
    event->accept();
}

void MonitorWindow::showEvent(QShowEvent* event)
{
    statusTimer_->start();
    QWidget::showEvent(event);
}

void MonitorWindow::hideEvent(QHideEvent* event)
{
    statusTimer_->stop();
    QWidget::hideEvent(event);
}

} // namespace corvane
