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

TEST_F(MainWindowTest, ThePictureReachesTheScreenEveryFourthColumn)
{
    struct PaintCounter : QObject
    {
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
        int paints = 0;
    } counter;
    form->EditSampleBlockSize->setText("96"); // one column of 24 rows, 4 samples each
    click(form->Button5);
    ASSERT_TRUE(waitUntil([&] { return running(); }));
    QCoreApplication::processEvents();
    form->ImageAlign->installEventFilter(&counter);
    for (int column = 0; column < 3; ++column)
        feed(bytes(96, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    EXPECT_NE(receiver->surface().pixel(72, 69), 0u); // painted into the surface, not shown
    feed(bytes(96, 200));
    ASSERT_TRUE(waitUntil([&] { return counter.paints > 0; }));
    EXPECT_EQ(form->ImageAlign->grab().toImage().convertToFormat(QImage::Format_RGB32),
              receiver->surface().image().convertToFormat(QImage::Format_RGB32));
}

TEST_F(MainWindowTest, ApplyWhileCapturingRestartsOnceWithTheNewSettings)
{
    feed(bytes(1024, 200));
    setBoxes({" 22050 ", "512", "0x20", "30", "+3", "$10"});
    device->clearCalls();
    click(form->Button5);

    DecoderSettings expected;
    expected.sampleRate = 22050;
    expected.blockSize = 512;
    expected.cols = 32;
    expected.rows = 30;
    expected.samplesPerPixel = 3;
    expected.samplesAveraged = 16;
    EXPECT_EQ(settings(), expected);
    EXPECT_EQ(receiver->decoder().scanPosition(), ScanPosition{});
    EXPECT_TRUE(pictureIsBlack(receiver->surface()));
    EXPECT_EQ(device->ops(), std::vector<Op>{Op::Reset});

    ASSERT_TRUE(waitUntil([&] { return running(); }));
    EXPECT_EQ(device->count(Op::Open), 1);
    EXPECT_EQ(device->calls()[device->calls().size() - 8].format.sampleRate, 22050); // Open
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 512));
    EXPECT_FALSE(state().restartPending);
}

TEST_F(MainWindowTest, NotAnIntegerStopsApplyAtThatBoxAndTheWindowGoesOn)
{
    feed(bytes(1024, 200));
    const QImage before = receiver->surface().image().copy();
    const ScanPosition position = receiver->decoder().scanPosition();
    setBoxes({"11025", "2048", "abc", "10", "2", "3"});
    device->clearCalls();

    EXPECT_EQ(answerBoxes([&] { click(form->Button5); }),
              std::vector{errorBox("'abc' is not a valid integer value.")});
    DecoderSettings expected; // the boxes before the bad one applied, the rest untouched
    expected.sampleRate = 11025;
    expected.blockSize = 2048;
    EXPECT_EQ(settings(), expected);
    EXPECT_EQ(receiver->decoder().scanPosition(), position);
    EXPECT_EQ(receiver->surface().image(), before);
    EXPECT_FALSE(state().restartPending);
    EXPECT_TRUE(device->ops().empty());

    // The window still works: decoding goes on, and a corrected box applies.
    feed(bytes(1024, 200));
    EXPECT_NE(receiver->decoder().scanPosition(), position);
    form->EditNCols->setText("20");
    EXPECT_TRUE(answerBoxes([&] { click(form->Button5); }).empty());
    EXPECT_EQ(settings().cols, 20);
    EXPECT_EQ(device->count(Op::Reset), 1);
}

struct ApplyRejects : MainWindowTest, ::testing::WithParamInterface<std::pair<int, std::string>>
{
};

// The box's value out of range stops Apply there, naming the range; earlier boxes applied.
TEST_P(ApplyRejects, OutOfRangeValueStopsAtItsBox)
{
    const SettingField fields[] = {
        SettingField::SampleRate, SettingField::BlockSize,       SettingField::Cols,
        SettingField::Rows,       SettingField::SamplesPerPixel, SettingField::SamplesAveraged};
    const std::array<const char*, 6> newValues = {"44100", "333", "7", "9", "2", "6"};
    const auto [bad, text] = GetParam();
    setBoxes(newValues);
    form->findChild<QLineEdit*>(kApplyOrder[bad])->setText(QString::fromStdString(text));
    DecoderSettings before = settings();
    device->clearCalls();

    const SettingRange range = settingRange(fields[bad]);
    EXPECT_EQ(answerBoxes([&] { click(form->Button5); }),
              std::vector{errorBox(QStringLiteral("%1 must be between %2 and %3.")
                                       .arg(QString::fromStdString(settingCaption(fields[bad])))
                                       .arg(range.min)
                                       .arg(range.max))});
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(settingRef(settings(), fields[i]),
                  i < bad ? QString(newValues[i]).toInt() : settingRef(before, fields[i]))
            << kApplyOrder[i];
    EXPECT_TRUE(device->ops().empty());
    EXPECT_FALSE(state().restartPending);
}

INSTANTIATE_TEST_SUITE_P(Boxes, ApplyRejects,
                         ::testing::Values(std::pair{0, std::string("999999")},
                                           std::pair{1, std::string("-1024")},
                                           std::pair{3, std::string("2147483647")},
                                           std::pair{5, std::string("0")}));

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
    DecoderSettings expected;
    expected.minLevel = 17;
    expected.maxLevel = 100;
    EXPECT_EQ(settings(), expected);
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

TEST_F(MainWindowTest, SetVolumeAndHelpStartTheirPrograms)
{
    launcher.installed = {"pwvucontrol"};
    click(form->Button2);
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

// The version line is this build's, not a copied one.
TEST(AboutWindow, ShowsThisBuildsVersion)
{
    TFormAbout about;
    EXPECT_TRUE(about.Label5->text().startsWith("Version " CORVANE_VERSION " - "))
        << about.Label5->text().toStdString();
}

} // namespace
