// The Monitor in the program: opened from the picture's menu while the main window records a
// test transmission from a private PulseAudio source, it locks and saves the picture it shows;
// recordings hold exactly the bytes received; its options outlive it.
#include "Correlation.h"
#include "ErrorReporting.h"
#include "FormsTestSupport.h"
#include "MonitorLink.h"
#include "NbtvTransmitter.h"
#include "PrivatePulse.h"
#include "Receiver.h"
#include "RecordingDevices.h"
#include "SampleSource.h"
#include "SoundFile.h"
#include "ToolRun.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kRate = 28800;

// An NBTVA transmission of picture as the sound card records it: from a transmitter whose
// clock runs 2 % fast, with noise 30 dB down, AC-coupled, 8-bit.
std::vector<std::uint8_t> transmission(const QImage& picture, double seconds, double level)
{
    TransmitterOptions options;
    options.sampleRate = kRate;
    options.seconds = seconds;
    options.level = level;
    std::vector<float> signal =
        *changeSpeed(transmit(rasterFor(picture, options.standard), options), 2, nullptr);
    addNoise(signal, 30, 1);
    acCouple(signal, kRate, 20);
    return toUnsigned8(signal);
}

class Monitor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        setErrorReporter([this](const QString& message) { errors.push_back(message); });
    }
    void TearDown() override { setErrorReporter({}); }

    FileChooser answer(const QString& name)
    {
        return [path = dir.filePath(name)](QWidget*, const QString&, const QString&,
                                           const QString&) { return path; };
    }
    void feedInBlocks(MonitorWindow& monitor, const std::vector<std::uint8_t>& bytes)
    {
        for (std::size_t at = 0; at < bytes.size(); at += 1024)
            monitor.receiver().feedU8(bytes.data() + at,
                                      std::min<std::size_t>(1024, bytes.size() - at), kRate);
    }

    QTemporaryDir dir;
    std::vector<QString> errors;
};

TEST_F(Monitor, OpenedFromThePictureMenuItLocksToTheReceivedSignalAndSavesWhatItShows)
{
    PrivatePulse pulse;
    ASSERT_TRUE(pulse.start()) << pulse.log().toStdString();
    Receiver receiver(makePulseRecordingDevice(QString()), std::make_unique<RecordingSink>());
    RecordingLauncher launcher;
    TFormMain form(receiver, launcher);
    form.monitorLink().setFileChooser(answer("snapshot.png"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(waitUntil([&] { return receiver.engine().state().capturing; }, 10000));

    // A right click on the picture, then "Monitor" in the menu it brings up.
    const QPoint at(40, 40);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, form.ImageAlign->mapToGlobal(at));
    QApplication::sendEvent(form.ImageAlign, &rightClick);
    QMenu* menu = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->isVisible();
    }));
    QAction* open = form.monitorLink().monitorAction();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(open).center());
    MonitorWindow* monitor = form.monitorLink().monitor();
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(monitor));

    const QImage source = testPicture(200, 300);
    pulse.feedInRealTime(transmission(source, 4, 0.5));
    ASSERT_TRUE(waitUntil(
        [&] {
            return monitor->statusText().startsWith(QStringLiteral("Locked")) &&
                   monitor->receiver().status().signal.frames >= 10;
        },
        15000))
        << monitor->statusText().toStdString();

    const QString rate = monitor->statusText().section(QChar(0xb7), 2).section(u' ', 1, 1);
    EXPECT_NEAR(rate.toDouble(), 408, 2) << monitor->statusText().toStdString();

    QTest::keyClick(monitor, Qt::Key_S, Qt::ControlModifier);
    const QImage saved(dir.filePath("snapshot.png"));
    ASSERT_FALSE(saved.isNull()) << "no snapshot; errors: " << errors.size();
    MonitorPicture* view = monitor->pictureView();
    const QImage shown = view->grab(view->pictureRect()).toImage();
    EXPECT_GT(correlation(saved, shown, shown.size()), 0.98);
    EXPECT_GT(correlation(saved, source, QSize(32, 48)), 0.9);
    EXPECT_NEAR(double(saved.height()) / saved.width(), 1.5, 0.05);
    EXPECT_TRUE(pulse.waitFed(std::chrono::seconds(10)));

    // "Save picture…" in the same menu saves the main window's own picture.
    form.monitorLink().setFileChooser(answer("main.png"));
    form.monitorLink().savePictureAction()->trigger();
    EXPECT_EQ(QImage(dir.filePath("main.png")).convertToFormat(QImage::Format_RGB32),
              receiver.surface().image().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Monitor, ARecordingHoldsTheBytesReceivedAndOneThatFailsIsNotPassedOffAsComplete)
{
    const std::vector<std::uint8_t> bytes = transmission(testPicture(64, 96), 1, 0.8);
    auto monitor = std::make_unique<MonitorWindow>();
    monitor->setFileChooser(answer("reception.wav"));
    monitor->receiver().feedU8(bytes.data(), 1024, kRate); // before recording
    monitor->toggleRecording();
    ASSERT_TRUE(monitor->recording());
    feedInBlocks(*monitor, {bytes.begin() + 1024, bytes.end()});
    monitor->toggleRecording();
    ASSERT_FALSE(monitor->recording());
    QString error;
    auto recorded = readSamples(dir.filePath("reception.wav"), kRate, &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    EXPECT_TRUE(*recorded == std::vector<std::uint8_t>(bytes.begin() + 1024, bytes.end()));

    // Closing the window while recording finishes the file.
    monitor->setFileChooser(answer("closed.wav"));
    monitor->toggleRecording();
    feedInBlocks(*monitor, bytes);
    monitor.reset();
    recorded = readSamples(dir.filePath("closed.wav"), kRate, &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    EXPECT_TRUE(*recorded == bytes);

    // The disk fills up (a file-size limit stands in for it) during the recording.
    monitor = std::make_unique<MonitorWindow>();
    monitor->setFileChooser(answer("full.wav"));
    monitor->receiver().feedU8(bytes.data(), 1024, kRate);
    monitor->toggleRecording();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 16384;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    feedInBlocks(*monitor, bytes);
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(monitor->recording());
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    EXPECT_TRUE(errors[0].contains(dir.filePath("full.wav.part"))) << errors[0].toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("full.wav")));
    const auto kept = readSamples(dir.filePath("full.wav.part"), kRate, &error);
    ASSERT_TRUE(kept) << error.toStdString();
    EXPECT_GT(kept->size(), 8000u);
    EXPECT_TRUE(std::equal(kept->begin(), kept->end(), bytes.begin()));
}

TEST_F(Monitor, ReopenedItHasTheStandardOptionsAndSizeItWasLeftWith)
{
    {
        MonitorWindow monitor;
        monitor.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&monitor));
        monitor.resize(560, 820);
        auto* standard = monitor.findChild<QComboBox*>("standardBox");
        standard->setCurrentIndex(standard->findText("Baird", Qt::MatchStartsWith));
        monitor.findChild<QCheckBox*>("negativeBox")->setChecked(true);
        monitor.findChild<QCheckBox*>("autoLevelsBox")->setChecked(false);
        monitor.findChild<QSlider*>("blackSlider")->setValue(40);
        monitor.findChild<QComboBox*>("rotateBox")->setCurrentIndex(1);
        monitor.findChild<QComboBox*>("polarityBox")->setCurrentIndex(2);
        monitor.close();
    }
    MonitorWindow monitor;
    EXPECT_EQ(monitor.size(), QSize(560, 820));
    const std::vector<std::uint8_t> silence(1024, 128);
    monitor.receiver().feedU8(silence.data(), silence.size(), kRate);
    const LockedSettings& settings = monitor.receiver().settings();
    EXPECT_EQ(settings.standard.name, QStringLiteral("baird"));
    EXPECT_TRUE(settings.negative);
    EXPECT_FALSE(settings.autoLevels);
    EXPECT_DOUBLE_EQ(settings.manualBlack, 0.4);
    EXPECT_EQ(settings.polarity, Polarity::Inverted);
    EXPECT_EQ(monitor.receiver().pictureSettings().rotation, 90);
}

// Settings that cannot be used as they are: levels the wrong way round are repaired, a FIFO in
// the settings file's place is not read (it would hang) and the defaults serve.
TEST_F(Monitor, StoredSettingsItCannotUseGiveWayToTheDefaults)
{
    const QString conf = dir.filePath("corvane/corvane.conf");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("corvane")));
    for (const bool fifo : {false, true}) {
        QFile::remove(conf);
        if (fifo)
            ASSERT_EQ(::mkfifo(QFile::encodeName(conf).constData(), 0600), 0);
        else
            ASSERT_TRUE(writeFile(conf, "[Monitor]\nautoLevels=false\nblack=90\nwhite=10\n"));
        MonitorWindow monitor;
        const std::vector<std::uint8_t> silence(1024, 128);
        monitor.receiver().feedU8(silence.data(), silence.size(), kRate);
        const LockedSettings& settings = monitor.receiver().settings();
        EXPECT_EQ(settings.autoLevels, fifo) << fifo;
        EXPECT_DOUBLE_EQ(settings.manualBlack, LockedSettings().manualBlack) << fifo;
        EXPECT_DOUBLE_EQ(settings.manualWhite, LockedSettings().manualWhite) << fifo;
    }
}

// A source that plays what the test hands it, or will not start.
class ScriptedSource : public SampleSource
{
public:
    explicit ScriptedSource(bool starts) : starts_(starts) {}
    bool start(QString* error) override
    {
        if (!starts_ && error)
            *error = QStringLiteral("the device is gone");
        return starts_;
    }
    void stop() override {}
    QString description() const override { return QStringLiteral("Scripted"); }
    void play(const std::vector<float>& interleaved, int channels, double rate)
    {
        emit block(interleaved.data(), interleaved.size() / channels, channels, rate);
    }

private:
    bool starts_;
};

TEST_F(Monitor, TheSourceBoxSwitchesToAnotherSourceAndBackAndSaysWhenOneWillNotStart)
{
    ScriptedSource* opened = nullptr;
    MonitorFeed feed;
    feed.choices = [] {
        return std::vector<SourceChoice>{{"Works", "test:works"}, {"Broken", "test:broken"}};
    };
    feed.open = [&](const QString& address, double, QString*) {
        auto source = std::make_unique<ScriptedSource>(address == "test:works");
        opened = source.get();
        return std::unique_ptr<SampleSource>(std::move(source));
    };
    MonitorWindow monitor;
    monitor.setFeed(feed);
    auto* box = monitor.findChild<QComboBox*>("sourceBox");
    const auto choose = [&](const char* address) {
        box->setCurrentIndex(box->findData(QString::fromLatin1(address)));
        emit box->activated(box->currentIndex());
    };
    choose("test:works");
    ASSERT_EQ(monitor.receiver().source(), opened);
    // Its samples, not the main window's: the picture on the right of a stereo pair, upside down.
    TransmitterOptions options;
    options.sampleRate = 48000;
    std::vector<float> vision = transmit(rasterFor(testPicture(64, 96), options.standard), options);
    for (float& v : vision)
        v = -v;
    opened->play(withSound(vision, 48000, 1, 0.5), 2, 48000);
    const QString status = monitor.receiver().statusText();
    EXPECT_TRUE(status.endsWith("inverted · right channel")) << status.toStdString();
    EXPECT_TRUE(monitor.windowTitle().contains("Scripted"));

    choose("test:broken");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().contains("the device is gone")) << errors.front().toStdString();
    EXPECT_EQ(monitor.receiver().source(), nullptr); // fed the main window's samples again
    choose("");
    EXPECT_EQ(monitor.receiver().source(), nullptr);
    EXPECT_EQ(box->currentData().toString(), QString());
}

} // namespace
