// What the main window does: capture from creation, Start / Stop, closing, the sliders, Apply
// and Default, the error display, the launcher commands and the About window.
#include "About.h"
#include "DecoderSettings.h"
#include "MainWindowFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextEdit>

using namespace corvane;
using namespace corvane::test;

namespace {

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t value)
{
    return std::vector<std::uint8_t>(count, value);
}

using Lengths = std::vector<std::int32_t>;

Lengths preparedLengths(const FakeRecordingDevice& device)
{
    Lengths lengths;
    for (const auto& call : device.calls())
        if (call.op == Op::Prepare)
            lengths.push_back(call.bufferLength);
    return lengths;
}

bool pictureIsBlack(const ImageSurface& surface)
{
    QImage black(surface.image().size(), surface.image().format());
    black.fill(Qt::black);
    return surface.image() == black;
}

TEST_F(MainWindowTest, CaptureRunsFromCreationOnABlackPicture)
{
    EXPECT_EQ(device->ops(),
              (std::vector<Op>{Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                               Op::Add, Op::Prepare, Op::Add, Op::Start}));
    EXPECT_EQ(device->calls()[1].format.sampleRate, 28800);
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 1024));
    EXPECT_TRUE(pictureIsBlack(receiver->surface()));
    EXPECT_EQ(form->ImageAlign->grab().toImage().pixelColor(90, 100), QColor(Qt::black));
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MainWindowTest, StartStopDrainsAndStartsAgainWithTheCurrentBlockSize)
{
    device->clearCalls();
    click(form->Button1);
    // Pressed again while the buffers are still on their way back: only another reset.
    click(form->Button1);
    EXPECT_EQ(device->ops(), (std::vector<Op>{Op::Reset, Op::Reset}));
    ASSERT_TRUE(waitUntil([&] { return idle(); }));
    EXPECT_EQ(device->count(Op::Close), 1);
    EXPECT_EQ(state().buffersQueued, 0);

    settings().blockSize = 512; // as a pending Apply would leave it
    device->clearCalls();
    click(form->Button1);
    ASSERT_TRUE(waitUntil([&] { return state().capturing; }));
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 512));

    // Closed when stopped, the window touches no device.
    stopAndWait();
    device->clearCalls();
    form.reset();
    EXPECT_TRUE(device->ops().empty());
}

TEST_F(MainWindowTest, ClosingWhileCapturingResetsOnceAndDoesNotWait)
{
    device->clearCalls();
    click(form->Button4); // Exit
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(device->ops(), std::vector<Op>{Op::Reset});
    form.reset(); // the program ends here, the drain's notifications never handled
    EXPECT_EQ(device->ops(), (std::vector<Op>{Op::Reset, Op::Abandon}));
}

TEST_F(MainWindowTest, SlidersChangeTheNextBlocksWithoutClearOrRestart)
{
    // Rectified 50 with a window of 5: sum 250, grey 250 at the default levels; row 1 of
    // column 0 (row 0 had only four samples in its window).
    feed(bytes(1024, 178));
    const ScanPosition after = receiver->decoder().scanPosition();
    EXPECT_EQ(receiver->surface().pixel(72, 69), 250u * 0x010101u);

    device->clearCalls();
    form->SliderMax->setFocus();
    QTest::keyClick(form->SliderMax, Qt::Key_Home);
    EXPECT_EQ(settings().maxLevel, 0);
    form->SliderMin->setFocus();
    QTest::keyClick(form->SliderMin, Qt::Key_Right);
    EXPECT_EQ(settings().minLevel, 1);

    feed(bytes(1024, 178));
    // Maximum below minimum: every element at or above the minimum is white.
    EXPECT_EQ(receiver->surface().pixel(72 - 3 * after.col, 72 - 3 * after.row), 0xFFFFFFu);
    EXPECT_EQ(receiver->surface().pixel(72, 69), 250u * 0x010101u); // not cleared
    EXPECT_EQ(device->count(Op::Reset), 0);                         // not restarted
}

TEST_F(MainWindowTest, ThePictureReachesTheScreenEveryFourthColumnAndAcrossFrames)
{
    form->EditSampleBlockSize->setText("96"); // one column of 24 rows, 4 samples each
    click(form->Button5);
    ASSERT_TRUE(waitUntil([&] { return running(); }));
    ASSERT_TRUE(waitUntil([&] { return pictureOnScreen() == picture(); }));
    for (int column = 0; column < 3; ++column)
        feed(bytes(96, 200));
    QCoreApplication::processEvents();
    EXPECT_NE(pictureOnScreen(), picture()); // painted into the surface, not shown
    feed(bytes(96, 200));
    ASSERT_TRUE(waitUntil([&] { return pictureOnScreen() == picture(); }));

    // Buffers that end a frame part-way and go on into the next (24 columns of 96 samples),
    // each frame brighter than the last, so a column left unshown shows the one before.
    form->EditSampleBlockSize->setText("1000");
    click(form->Button5);
    ASSERT_TRUE(waitUntil([&] { return running(); }));
    std::vector<std::uint8_t> frames;
    for (const std::uint8_t level : {60, 120, 180, 240})
        frames.insert(frames.end(), 2304, level);
    for (std::size_t at = 0; at + 1000 <= frames.size(); at += 1000) {
        feed({frames.begin() + static_cast<std::ptrdiff_t>(at),
              frames.begin() + static_cast<std::ptrdiff_t>(at + 1000)});
        ASSERT_TRUE(waitUntil([&] { return pictureOnScreen() == picture(); })) << at;
    }
}

TEST_F(MainWindowTest, ApplyWhileCapturingRestartsOnceWithTheNewSettings)
{
    feed(bytes(1024, 200));
    setBoxes({" 22050 ", "512", "0x20", "30", "+3", "$10"});
    device->clearCalls();
    click(form->Button5);

    EXPECT_EQ(settings(), (DecoderSettings{30, 32, 22050, 512, 3, 16, 0, 255}));
    EXPECT_EQ(receiver->decoder().scanPosition(), ScanPosition{});
    EXPECT_TRUE(pictureIsBlack(receiver->surface()));
    EXPECT_EQ(device->ops(), std::vector<Op>{Op::Reset});

    ASSERT_TRUE(waitUntil([&] { return running(); }));
    EXPECT_EQ(device->count(Op::Open), 1);
    EXPECT_EQ(device->calls()[device->calls().size() - 8].format.sampleRate, 22050); // Open
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 512));
    EXPECT_FALSE(state().restartPending);
}

// A box that is not an integer, or out of its range, stops Apply there with a message naming the
// range: the boxes before it applied, the rest, the picture and capture untouched.
TEST_F(MainWindowTest, ABadBoxStopsApplyThereAndTheWindowGoesOn)
{
    const std::array<const char*, 6> texts = {"11025", "2048", "32", "10", "2", "3"};
    const struct
    {
        std::size_t bad;
        const char* text;
        const char* message;
    } cases[] = {{2, "abc", "'abc' is not a valid integer value."},
                 {0, "999999", "Sample rate must be between 1000 and 192000."},
                 {1, "-1024", "Sample block size must be between 1 and 4194304."},
                 {3, "2147483647", "Number of Rows must be between 1 and 1000."},
                 {5, "0", "Samples averaged must be between 1 and 128."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        feed(bytes(1024, 200));
        const QImage before = receiver->surface().image().copy();
        const ScanPosition position = receiver->decoder().scanPosition();
        const DecoderSettings old = settings();
        setBoxes(texts);
        form->findChild<QLineEdit*>(kApplyOrder[c.bad])->setText(c.text);
        device->clearCalls();
        EXPECT_EQ(answerBoxes([&] { click(form->Button5); }), std::vector{errorBox(c.message)});
        DecoderSettings expected = old;
        if (c.bad > 0)
            expected.sampleRate = 11025;
        if (c.bad > 1)
            expected.blockSize = 2048;
        if (c.bad > 2)
            expected.cols = 32;
        if (c.bad > 3)
            expected.rows = 10;
        if (c.bad > 4)
            expected.samplesPerPixel = 2;
        EXPECT_EQ(settings(), expected);
        EXPECT_EQ(receiver->decoder().scanPosition(), position);
        EXPECT_EQ(receiver->surface().image(), before);
        EXPECT_FALSE(state().restartPending);
        EXPECT_TRUE(device->ops().empty());
    }
    // The window still works: decoding goes on, and a corrected box applies.
    const ScanPosition position = receiver->decoder().scanPosition();
    feed(bytes(1024, 200));
    EXPECT_NE(receiver->decoder().scanPosition(), position);
    setBoxes(texts);
    EXPECT_TRUE(answerBoxes([&] { click(form->Button5); }).empty());
    EXPECT_EQ(settings().rows, 10);
    EXPECT_EQ(device->count(Op::Reset), 1);
}

TEST_F(MainWindowTest, DefaultRestoresTheBoxesAndAppliesButKeepsTheSliders)
{
    setBoxes({"8000", "1", "", "abc", "99", "128"});
    form->SliderMin->setValue(17);
    form->SliderMax->setValue(100);
    settings().rows = 12; // as an earlier Apply would have left it
    device->clearCalls();

    EXPECT_TRUE(answerBoxes([&] { click(form->Button6); }).empty());
    const char* const texts[] = {"28800", "1024", "24", "24", "4", "5"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(form->findChild<QLineEdit*>(kApplyOrder[i])->text(), texts[i]);
    EXPECT_EQ(settings(), (DecoderSettings{24, 24, 28800, 1024, 4, 5, 17, 100}));
    EXPECT_EQ(device->ops(), std::vector<Op>{Op::Reset});
}

class MainWindowWithoutDevices : public MainWindowTest
{
    void prepareDevice(FakeRecordingDevice& fake) override { fake.devices = 0; }
};

TEST_F(MainWindowWithoutDevices, SaysSoAndStaysUsable)
{
    EXPECT_EQ(sink->messages, std::vector<QString>{"There are no recording devices!"});
    EXPECT_FALSE(state().capturing);
    EXPECT_TRUE(form->isVisible());
    click(form->Button1); // tries again
    EXPECT_EQ(sink->messages.size(), 2u);
}

// Set Volume starts the first recording-level control installed, once: a failed start is not
// retried with the next one.
TEST_F(MainWindowTest, SetVolumeAndHelpStartTheirPrograms)
{
    launcher.installed = {"gnome-control-center", "pwvucontrol"};
    launcher.startSucceeds = false;
    const auto boxes = answerBoxes([&] { click(form->Button2); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("Could not start /usr/bin/pwvucontrol"));
    launcher.startSucceeds = true;
    form->MenuHelpClick();
    const CommandLine volume{"/usr/bin/pwvucontrol", {}};
    EXPECT_EQ(launcher.started, std::vector<CommandLine>{volume});
    EXPECT_EQ(launcher.opened,
              std::vector{QUrl::fromLocalFile(form->ExeDirectory() + "help/help.htm")});
}

// The real launcher, with PATH holding only what the test puts there: no mixer, no browser,
// and, once installed, an xdg-open that writes down what it was asked to open.
class MainWindowOnThisDesktop : public MainWindowTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bin.isValid());
        qputenv("PATH", QFile::encodeName(bin.path()));
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        qputenv("PATH", savedPath);
    }
    ProgramLauncher& programs() override { return desktop; }

    void installOpener()
    {
        QFile script(bin.filePath("xdg-open"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.log\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    QStringList opened() const
    {
        QFile log(bin.filePath("xdg-open.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split(u'\n')
                                             : QStringList{};
    }

    QTemporaryDir bin;
    const QByteArray savedPath = qgetenv("PATH");
    DetachedProcessLauncher desktop;
};

TEST_F(MainWindowOnThisDesktop, SetVolumeWithoutAMixerSaysWhatToInstall)
{
    const auto boxes = answerBoxes([&] { click(form->Button2); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("pavucontrol")) << boxes[0].text.toStdString();
}

TEST_F(MainWindowOnThisDesktop, HelpOpensTheBuiltPageFromF1AndAboutOrSaysWhyNot)
{
    auto boxes = answerBoxes([&] { QTest::keyClick(form.get(), Qt::Key_F1); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("browser")) << boxes[0].text.toStdString();

    installOpener();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const QString page = QUrl::fromLocalFile(form->ExeDirectory() + "help/help.htm").toString();
    ASSERT_TRUE(QFileInfo(form->ExeDirectory() + "help/help.htm").isFile());
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_TRUE(waitUntil([&] {
        return opened() == QStringList{page, ""};
    })) << opened().join(' ').toStdString();

    auto* about = new TFormAbout(form.get());
    form->setAboutWindow(about);
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    boxes = answerBoxes([&] {
        QTest::mouseClick(about->LabelHelp, Qt::LeftButton, {}, about->LabelHelp->rect().center());
        EXPECT_TRUE(waitUntil([&] { return opened().size() == 3; }));
    });
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(opened(), (QStringList{page, page, ""}));
}

// Centred on the screen by its own computation (no window manager here moves it), modal, and
// the device's notifications still reach the decoder behind it.
TEST_F(MainWindowTest, AboutIsModalCentredAndCaptureGoesOnBehindIt)
{
    auto* about = new TFormAbout(form.get());
    form->setAboutWindow(about);
    bool checked = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(waitUntil([&] { return about->isVisible(); }));
        checked = true;
        EXPECT_EQ(QApplication::activeModalWidget(), about);
        const QPoint screenCentre = about->screen()->geometry().center();
        EXPECT_LE((about->geometry().center() - screenCentre).manhattanLength(), 2);
        const ScanPosition before = receiver->decoder().scanPosition();
        device->feed(bytes(1024, 200));
        EXPECT_TRUE(waitUntil([&] { return receiver->decoder().scanPosition() != before; }));
        QTest::mouseClick(about->Button1, Qt::LeftButton);
    });
    click(form->Button3);
    EXPECT_TRUE(checked);
    EXPECT_EQ(about->result(), QDialog::Accepted);
}

} // namespace
