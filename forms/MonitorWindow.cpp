#include "MonitorWindow.h"

#include "ErrorReporting.h"
#include "SampleSource.h"
#include "UserSettings.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QSettings>
#include <QSignalBlocker>
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
    QAction* videoAction =
        command(tr("Record video / stop…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
                &MonitorWindow::toggleVideo);
    QAction* scopeAction =
        command(tr("Scope"), QKeySequence(Qt::CTRL | Qt::Key_L), &MonitorWindow::toggleScope);
    command(tr("Copy picture"), QKeySequence::Copy, &MonitorWindow::copyPicture);
    fullScreenAction_ =
        command(tr("Full screen"), QKeySequence(Qt::Key_F11), &MonitorWindow::toggleFullScreen);
    connect(snapshotButton, &QPushButton::clicked, snapshotAction, &QAction::trigger);
    connect(recordButton, &QPushButton::clicked, recordAction, &QAction::trigger);
    connect(videoButton, &QPushButton::clicked, videoAction, &QAction::trigger);
    connect(scopeButton, &QPushButton::clicked, scopeAction, &QAction::trigger);
    connect(fullScreenButton, &QPushButton::clicked, fullScreenAction_, &QAction::trigger);
    connect(folderButton, &QPushButton::clicked, this, &MonitorWindow::chooseAutoSaveFolder);
    connect(iqButton, &QPushButton::clicked, this, &MonitorWindow::toggleRawRecording);
    connect(sourceBox, &QComboBox::activated, this, &MonitorWindow::sourceChosen);
    // A radio is retuned by opening it again at the new frequency.
    connect(frequencyBox, &QDoubleSpinBox::editingFinished, this, [this] {
        if (frequencyBox->isVisible() && !sourceAddress_.isEmpty())
            sourceChosen(sourceBox->currentIndex());
    });
    frequencyBox->hide();
    fillSourceBox();
    waterfall->hide();
    iqButton->hide();
    connect(receiver_, &LockedReceiver::videoEnded, this, &MonitorWindow::reportLater);
    chooseFolder_ = [](QWidget* parent, const QString& current) {
        return QFileDialog::getExistingDirectory(parent, tr("Save snapshots in"), current);
    };
    autoSaveTimer_ = new QTimer(this);
    connect(autoSaveTimer_, &QTimer::timeout, this, &MonitorWindow::autoSave);

    for (const LockedStandard& s : knownStandards())
        standardBox->addItem(tr("%1, %2 lines").arg(s.title).arg(s.lines), s.name);
    standardBox->addItem(tr("Custom"), QStringLiteral("custom"));
    linesBox->setRange(StandardLimits::kMinLines, StandardLimits::kMaxLines);
    lineRateBox->setRange(StandardLimits::kMinLineRate, StandardLimits::kMaxLineRate);
    aspectBox->setRange(StandardLimits::kMinAspect, StandardLimits::kMaxAspect);

    restoreOptions();
    for (QCheckBox* box : {negativeBox, autoLevelsBox, smoothBox, soundBox})
        connect(box, &QCheckBox::toggled, this, &MonitorWindow::controlsChanged);
    for (QComboBox* box : {standardBox, polarityBox, channelBox, flipBox, rotateBox})
        connect(box, &QComboBox::currentIndexChanged, this, &MonitorWindow::controlsChanged);
    for (QSlider* slider : {brightnessSlider, contrastSlider, gammaSlider})
        connect(slider, &QSlider::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(averageBox, &QSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(autoSaveBox, &QCheckBox::toggled, this, &MonitorWindow::updateAutoSave);
    connect(autoSaveSeconds, &QSpinBox::valueChanged, this, &MonitorWindow::updateAutoSave);
    connect(linesBox, &QSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(lineRateBox, &QDoubleSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(aspectBox, &QDoubleSpinBox::valueChanged, this, &MonitorWindow::controlsChanged);
    connect(blackSlider, &QSlider::valueChanged, this, &MonitorWindow::blackMoved);
    connect(whiteSlider, &QSlider::valueChanged, this, &MonitorWindow::whiteMoved);
    controlsChanged();
    updateAutoSave();

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
    const auto index = [&](const char* key, QComboBox* box) {
        const int i = settings.value(QLatin1String(key), 0).toInt();
        box->setCurrentIndex(i >= 0 && i < box->count() ? i : 0);
    };
    index("polarity", polarityBox);
    index("channel", channelBox);
    index("flip", flipBox);
    index("rotate", rotateBox);
    // Sliders and boxes keep a stored value within their range themselves.
    brightnessSlider->setValue(settings.value(QStringLiteral("brightness"), 0).toInt());
    contrastSlider->setValue(settings.value(QStringLiteral("contrast"), 100).toInt());
    gammaSlider->setValue(settings.value(QStringLiteral("gamma"), 100).toInt());
    averageBox->setValue(settings.value(QStringLiteral("average"), 1).toInt());
    soundBox->setChecked(settings.value(soundKey_, false).toBool());
    scope->setVisible(settings.value(QStringLiteral("scope"), false).toBool());
    scopeButton->setChecked(scope->isVisible());
    autoSaveFolder_ = settings
                          .value(QStringLiteral("autoSaveFolder"),
                                 QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))
                          .toString();
    autoSaveSeconds->setValue(settings.value(QStringLiteral("autoSaveSeconds"), 10).toInt());
    autoSaveBox->setChecked(settings.value(QStringLiteral("autoSave"), false).toBool());
    folderLabel->setText(QDir::toNativeSeparators(autoSaveFolder_));
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
    settings.setValue(QStringLiteral("polarity"), polarityBox->currentIndex());
    settings.setValue(QStringLiteral("channel"), channelBox->currentIndex());
    settings.setValue(QStringLiteral("flip"), flipBox->currentIndex());
    settings.setValue(QStringLiteral("rotate"), rotateBox->currentIndex());
    settings.setValue(QStringLiteral("brightness"), brightnessSlider->value());
    settings.setValue(QStringLiteral("contrast"), contrastSlider->value());
    settings.setValue(QStringLiteral("gamma"), gammaSlider->value());
    settings.setValue(QStringLiteral("average"), averageBox->value());
    settings.setValue(soundKey_, soundBox->isChecked());
    settings.setValue(QStringLiteral("scope"), scopeButton->isChecked());
    settings.setValue(QStringLiteral("autoSave"), autoSaveBox->isChecked());
    settings.setValue(QStringLiteral("autoSaveSeconds"), autoSaveSeconds->value());
    settings.setValue(QStringLiteral("autoSaveFolder"), autoSaveFolder_);
}

LockedSettings MonitorWindow::settingsFromControls() const
{
    LockedSettings settings = settings_;
    settings.standard =
        standardByName(standardBox->currentData().toString())
            .value_or(customStandard(linesBox->value(), lineRateBox->value(), aspectBox->value()));
    constexpr Polarity polarities[] = {Polarity::Auto, Polarity::Normal, Polarity::Inverted};
    settings.polarity = polarities[std::clamp(polarityBox->currentIndex(), 0, 2)];
    settings.channel = channelBox->currentIndex() - 1; // "found by itself" first, then 0, 1
    settings.negative = negativeBox->isChecked();
    settings.autoLevels = autoLevelsBox->isChecked();
    settings.manualBlack = blackSlider->value() / 100.0;
    settings.manualWhite = whiteSlider->value() / 100.0;
    return settings;
}

void MonitorWindow::setFeed(const MonitorFeed& feed)
{
    feed_ = feed;
    if (feed.frequencyHz > 0)
        frequencyBox->setValue(feed.frequencyHz / 1e6);
    fillSourceBox();
}

namespace {
bool isRadio(const QString& address)
{
    return address.startsWith(QLatin1String("rtl_tcp:")) ||
           address.startsWith(QLatin1String("soapy:"));
}
} // namespace

void MonitorWindow::fillSourceBox()
{
    const QSignalBlocker quiet(sourceBox);
    sourceBox->clear();
    sourceBox->addItem(tr("The main window's input"), QString());
    if (feed_.choices)
        for (const SourceChoice& choice : feed_.choices())
            sourceBox->addItem(choice.title, choice.address);
    if (feed_.open) {
        sourceBox->addItem(tr("An rtl_tcp server…"), QStringLiteral("ask:rtl_tcp"));
        sourceBox->addItem(tr("A recording or IQ file…"), QStringLiteral("ask:file"));
    }
    int at = sourceBox->findData(sourceAddress_);
    if (at < 0 && !sourceAddress_.isEmpty()) {
        // One given on the command line or asked for: offered again as it is.
        sourceBox->insertItem(1, sourceAddress_.section(u':', 1), sourceAddress_);
        at = 1;
    }
    sourceBox->setCurrentIndex(std::max(at, 0));
    frequencyBox->setVisible(isRadio(sourceAddress_));
}

void MonitorWindow::sourceChosen(int index)
{
    QString address = sourceBox->itemData(index).toString();
    if (address == QLatin1String("ask:rtl_tcp")) {
        address =
            QInputDialog::getText(this, tr("rtl_tcp server"), tr("Address"), QLineEdit::Normal,
                                  QStringLiteral("rtl_tcp://127.0.0.1:1234"));
    } else if (address == QLatin1String("ask:file")) {
        const QString file = QFileDialog::getOpenFileName(
            this, tr("Receive from a recording"), QString(),
            tr("Recordings (*.wav *.flac *.ogg *.opus *.mp3 *.u8 *.raw *.cu8 *.cs8 *.cs16 *.cf32);;"
               "All files (*)"));
        address = file.isEmpty() ? QString() : QStringLiteral("file:") + file;
    }
    if (address.startsWith(QLatin1String("ask:")) || (address.isEmpty() && index != 0)) {
        fillSourceBox(); // cancelled: as it was
        return;
    }
    if (address.isEmpty()) {
        receiver_->setSource(nullptr);
        sourceAddress_.clear();
        setWindowTitle(tr("Corvane Monitor"));
        waterfall->hide();
        iqButton->hide();
        soundBox->setEnabled(true);
        fillSourceBox();
        return;
    }
    QString error;
    auto source = feed_.open ? feed_.open(address, frequencyBox->value() * 1e6, &error) : nullptr;
    if (!source || !takeFeed(std::move(source), address, &error))
        reportError(tr("Cannot receive from %1: %2").arg(address.section(u':', 1), error));
    fillSourceBox();
}

bool MonitorWindow::takeFeed(std::unique_ptr<SampleSource> source, const QString& address,
                             QString* error)
{
    if (!source)
        return false;
    SampleSource* s = source.get();
    const QString before = sourceAddress_;
    receiver_->setSource(std::move(source));
    if (!s->start(error)) {
        receiver_->setSource(nullptr);
        sourceAddress_.clear();
        return false;
    }
    sourceAddress_ = address;
    connect(s, &SampleSource::ended, this, [this](const QString& reason) {
        if (!reason.isEmpty())
            reportLater(tr("The Monitor's source stopped: %1").arg(reason));
    });
    receiver_->setSoundPlayer(feed_.player ? feed_.player() : nullptr);
    // Heard by default while a recording plays, not while a live receiver has its own
    // loudspeaker; each remembered apart.
    const bool fromFile =
        address.startsWith(QLatin1String("file:")) || (address.isEmpty() && feed_.fromFile);
    soundKey_ = fromFile ? QStringLiteral("soundFile") : QStringLiteral("soundLive");
    const auto settings = openUserSettings();
    {
        const QSignalBlocker quiet(soundBox);
        soundBox->setChecked(
            settings ? settings->value(QStringLiteral("Monitor/") + soundKey_, fromFile).toBool()
                     : fromFile);
    }
    receiver_->setPlaySound(soundBox->isChecked());
    setWindowTitle(tr("Corvane Monitor · %1").arg(s->description()));
    // A radio shows its band above the picture; a click tunes to what was clicked.
    const bool radio = s->tuning().radio;
    waterfall->clear();
    waterfall->setVisible(radio);
    iqButton->setVisible(radio);
    // A radio's video has no sound beside it.
    soundBox->setEnabled(!radio);
    rawRecording_ = false;
    iqButton->setChecked(false);
    if (radio) {
        connect(s, &SampleSource::bandPower, waterfall, &Waterfall::addRow);
        connect(waterfall, &Waterfall::tuneRequested, s, [s](double hz) { s->tuneTo(hz); });
    }
    if (before != address)
        fillSourceBox();
    return true;
}

PictureSettings MonitorWindow::pictureFromControls() const
{
    PictureSettings picture;
    picture.brightness = brightnessSlider->value() / 100.0;
    picture.contrast = contrastSlider->value() / 100.0;
    picture.gamma = gammaSlider->value() / 100.0;
    picture.flipHorizontal = flipBox->currentIndex() == 1 || flipBox->currentIndex() == 3;
    picture.flipVertical = flipBox->currentIndex() >= 2;
    picture.rotation = 90 * std::clamp(rotateBox->currentIndex(), 0, 3);
    picture.average = averageBox->value();
    return picture;
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
    }
    receiver_->setSettings(settings_);
    receiver_->setPlaySound(soundBox->isChecked());
    const PictureSettings shown = pictureFromControls();
    if (shown.rotation != receiver_->pictureSettings().rotation)
        picture->setFrame(QImage()); // the old turn's shape until the next frame
    receiver_->setPictureSettings(shown);
    picture->setAspect(orientedStandard(settings_.standard, shown).aspect);
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
    if (scope->isVisible())
        showScope();
    if (const SampleSource* source = receiver_->source(); source && waterfall->isVisible()) {
        const SourceTuning tuning = source->tuning();
        waterfall->setMarker(tuning.offsetHz, tuning.found);
    }
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
    const QString video =
        receiver_->recordingVideo()
            ? tr("Stop video (%1)")
                  .arg(minutesAndSeconds(static_cast<std::int64_t>(receiver_->videoSeconds())))
            : tr("Record video…");
    if (videoButton->text() != video)
        videoButton->setText(video);
    videoButton->setChecked(receiver_->recordingVideo());
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

void MonitorWindow::copyPicture()
{
    const QImage image = snapshotImage();
    if (image.isNull()) {
        reportError(tr("There is no picture to copy yet: the Monitor has not locked to a signal."));
        return;
    }
    QGuiApplication::clipboard()->setImage(image);
}

void MonitorWindow::toggleVideo()
{
    if (receiver_->recordingVideo()) {
        QString error;
        if (!receiver_->stopVideo(&error))
            reportLater(error);
        showStatus();
        return;
    }
    const QString chosen =
        chooseFile_(this, tr("Record video"),
                    timeStampedPath(QStandardPaths::MoviesLocation, QStringLiteral("mp4"),
                                    QDateTime::currentDateTime()),
                    tr("MP4 video (*.mp4);;Matroska video (*.mkv);;WebM video (*.webm)"));
    QString error;
    if (!chosen.isEmpty() && !receiver_->startVideo(withSuffix(chosen, QStringLiteral("mp4")),
                                                    smoothBox->isChecked(), &error))
        reportError(error);
    showStatus();
}

void MonitorWindow::showScope()
{
    // Four lines overlaid: noise and hum show as spread, a steady signal as one trace.
    const ScopeTrace trace = receiver_->scopeTrace(4);
    if (trace.samples.empty()) {
        scope->clear();
        return;
    }
    scope->setLines(trace.samples.data(), trace.samples.size(), trace.lines);
    scope->setLevels(trace.slice, trace.black, trace.white);
    scope->setSync(0, trace.syncWidth);
    scope->setCaption(
        trace.locked
            ? tr("Sync %1 % of the line").arg(100 * trace.syncWidth / trace.period, 0, 'f', 1)
            : tr("No line sync found: the last %1 line periods").arg(trace.lines));
}

void MonitorWindow::toggleRawRecording()
{
    SampleSource* source = receiver_->source();
    if (!source)
        return;
    QString error;
    if (rawRecording_) {
        rawRecording_ = false;
        const QString file = source->stopRawRecording(&error);
        if (file.isEmpty())
            reportError(error);
    } else if (source->startRawRecording(autoSaveFolder_, &error)) {
        rawRecording_ = true;
    } else {
        reportError(error);
    }
    iqButton->setChecked(rawRecording_);
}

void MonitorWindow::toggleScope()
{
    scope->setVisible(!scope->isVisible());
    scopeButton->setChecked(scope->isVisible());
}

void MonitorWindow::chooseAutoSaveFolder()
{
    const QString folder = chooseFolder_(this, autoSaveFolder_);
    if (folder.isEmpty())
        return;
    autoSaveFolder_ = folder;
    folderLabel->setText(QDir::toNativeSeparators(folder));
}

void MonitorWindow::updateAutoSave()
{
    autoSaveTimer_->setInterval(autoSaveSeconds->value() * 1000);
    if (autoSaveBox->isChecked())
        autoSaveTimer_->start();
    else
        autoSaveTimer_->stop();
}

void MonitorWindow::autoSave()
{
    // Only a picture that is being received: a frozen one would fill the folder with copies.
    const ReceiverStatus now = receiver_->status();
    const QImage image = snapshotImage();
    if (image.isNull() || now.noInput || !now.signal.locked)
        return;
    const QString name =
        QDateTime::currentDateTime().toString(QStringLiteral("'corvane-'yyyy-MM-dd-HHmmss'.png'"));
    QString error;
    if (!savePng(image, QDir(autoSaveFolder_).filePath(name), &error)) {
        // One message, not one every few seconds.
        autoSaveBox->setChecked(false);
        reportLater(tr("Timed snapshots stopped: %1").arg(error));
    }
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
    if (receiver_->recordingVideo()) {
        QString error;
        if (!receiver_->stopVideo(&error))
            reportLater(error);
    }
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
