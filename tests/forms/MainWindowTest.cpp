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

// The lengths of the buffers prepared since the calls were last cleared.
std::vector<std::int32_t> preparedLengths(const FakeRecordingDevice& device)
{
    std::vector<std::int32_t> lengths;
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

// Counts the paint events a widget receives.
struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

using Lengths = std::vector<std::int32_t>;

TEST_F(MainWindowTest, CaptureRunsFromCreationOnABlackPicture)
{
    EXPECT_EQ(device->ops(),
              (std::vector<Op>{Op::DeviceCount, Op::Open, Op::Prepare, Op::Add, Op::Prepare,
                               Op::Add, Op::Prepare, Op::Add, Op::Start}));
    EXPECT_EQ(device->calls()[1].format.sampleRate, 28800);
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 1024));
    EXPECT_TRUE(state().capturing);
    EXPECT_TRUE(pictureIsBlack(receiver->surface()));
    const QImage shown = form->ImageAlign->grab().toImage();
    EXPECT_EQ(shown.size(), QSize(179, 196));
    EXPECT_EQ(shown.pixelColor(90, 100), QColor(Qt::black));
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MainWindowTest, StartStopStopsDrainsAndStartsAgainWithTheCurrentBlockSize)
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
    EXPECT_EQ(device->count(Op::Open), 1);
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 512));
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

TEST_F(MainWindowTest, ClosingWhenStoppedTouchesNoDevice)
{
    stopAndWait();
    device->clearCalls();
    form->close();
    form.reset();
    EXPECT_TRUE(device->ops().empty());
}

TEST_F(MainWindowTest, SlidersChangeTheNextBlocksWithoutClearOrRestart)
{
    // Rectified 50 with a window of 5: sum 250, grey 250 at the default levels.
    feed(bytes(1024, 178));
    const ScanPosition after = receiver->decoder().scanPosition();
    // Row 1 of column 0 (row 0 had only four samples in its window).
    const WinColour first = receiver->surface().pixel(72, 69);
    EXPECT_EQ(first, 250u * 0x010101u);

    device->clearCalls();
    form->SliderMax->setFocus();
    QTest::keyClick(form->SliderMax, Qt::Key_PageUp); // 255 - 2
    EXPECT_EQ(settings().maxLevel, 253);
    QTest::keyClick(form->SliderMax, Qt::Key_Home);
    EXPECT_EQ(settings().maxLevel, 0);
    form->SliderMin->setFocus();
    QTest::keyClick(form->SliderMin, Qt::Key_Right);
    QTest::keyClick(form->SliderMin, Qt::Key_Down);
    EXPECT_EQ(settings().minLevel, 2);
    // A click in the channel right of the handle moves one page toward it.
    QTest::mouseClick(form->SliderMin, Qt::LeftButton, {},
                      QPoint(form->SliderMin->width() - 10, form->SliderMin->height() / 2));
    EXPECT_EQ(settings().minLevel, 4);

    feed(bytes(1024, 178));
    // Maximum below minimum: every element at or above the minimum is white.
    EXPECT_EQ(receiver->surface().pixel(72 - 3 * after.col, 72 - 3 * after.row), 0xFFFFFFu);
    EXPECT_EQ(receiver->surface().pixel(72, 69), first); // not cleared
    EXPECT_EQ(device->count(Op::Reset), 0);              // not restarted
    EXPECT_TRUE(state().capturing);
}

TEST_F(MainWindowTest, ThePictureReachesTheScreenEveryFourthColumn)
{
    // One column of 24 rows, 4 samples each, per buffer.
    form->EditSampleBlockSize->setText("96");
    click(form->Button5);
    ASSERT_TRUE(waitUntil([&] { return running(); }));
    PaintCounter counter(form->ImageAlign);
    QCoreApplication::processEvents();
    counter.paints = 0;
    const std::int64_t requests = receiver->surface().repaintRequests();
    // Three columns: painted into the surface, not yet shown.
    for (int column = 0; column < 3; ++column)
        feed(bytes(96, 200));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(receiver->surface().repaintRequests(), requests);
    EXPECT_NE(receiver->surface().pixel(72, 69), 0u);
    feed(bytes(96, 200));
    ASSERT_TRUE(waitUntil([&] { return counter.paints > 0; }));
    const QImage shown = form->ImageAlign->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, receiver->surface().image().convertToFormat(QImage::Format_RGB32));
}

// ---- Apply and Default

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
    EXPECT_EQ(device->count(Op::Close), 1);
    EXPECT_EQ(device->count(Op::Open), 1);
    EXPECT_EQ(device->calls().back().op, Op::Start);
    for (const auto& call : device->calls()) {
        if (call.op == Op::Open) {
            EXPECT_EQ(call.format.sampleRate, 22050);
        }
    }
    EXPECT_EQ(preparedLengths(*device), Lengths(3, 512));
    EXPECT_FALSE(state().restartPending);
    EXPECT_TRUE(sink->messages.empty());
}

TEST_F(MainWindowTest, ApplyWhileStoppedLeavesTheRestartPending)
{
    stopAndWait();
    device->clearCalls();
    form->EditSampleBlockSize->setText("256");
    click(form->Button5);
    EXPECT_TRUE(device->ops().empty());
    EXPECT_TRUE(state().restartPending);

    click(form->Button1); // Start
    ASSERT_TRUE(waitUntil([&] { return state().capturing; }));
    click(form->Button1); // Stop: closes and at once reopens
    ASSERT_TRUE(waitUntil([&] { return device->count(Op::Open) == 2 && state().capturing; }));
    EXPECT_EQ(device->count(Op::Close), 1);
    EXPECT_FALSE(state().restartPending);

    stopAndWait(); // a second Stop stops
    EXPECT_EQ(device->count(Op::Open), 2);
    EXPECT_EQ(preparedLengths(*device), Lengths(6, 256));
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
    EXPECT_TRUE(state().capturing);

    // The window still works: decoding goes on, and a corrected box applies.
    feed(bytes(1024, 200));
    EXPECT_NE(receiver->decoder().scanPosition(), position);
    form->EditNCols->setText("20");
    EXPECT_TRUE(answerBoxes([&] { click(form->Button5); }).empty());
    EXPECT_EQ(settings().cols, 20);
    EXPECT_EQ(settings().samplesAveraged, 3);
    EXPECT_EQ(device->count(Op::Reset), 1);
}

struct OutOfRange
{
    int box; // in Apply's order
    const char* text;

    friend void PrintTo(const OutOfRange& c, std::ostream* os)
    {
        *os << kApplyOrder[c.box] << " " << c.text;
    }
};

struct ApplyRejects : MainWindowTest, ::testing::WithParamInterface<OutOfRange>
{
};

TEST_P(ApplyRejects, OutOfRangeValueStopsAtItsBoxNamingTheRange)
{
    const SettingField fields[] = {
        SettingField::SampleRate, SettingField::BlockSize,       SettingField::Cols,
        SettingField::Rows,       SettingField::SamplesPerPixel, SettingField::SamplesAveraged};
    const std::array<const char*, 6> newValues = {"44100", "333", "7", "9", "2", "6"};
    const OutOfRange& bad = GetParam();
    setBoxes(newValues);
    form->findChild<QLineEdit*>(kApplyOrder[bad.box])->setText(bad.text);
    DecoderSettings before = settings();
    device->clearCalls();

    const SettingField field = fields[bad.box];
    const SettingRange range = settingRange(field);
    EXPECT_EQ(answerBoxes([&] { click(form->Button5); }),
              std::vector{errorBox(QStringLiteral("%1 must be between %2 and %3.")
                                       .arg(QString::fromStdString(settingCaption(field)))
                                       .arg(range.min)
                                       .arg(range.max))});
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(kApplyOrder[i]);
        EXPECT_EQ(settingRef(settings(), fields[i]),
                  i < bad.box ? QString(newValues[i]).toInt() : settingRef(before, fields[i]));
    }
    EXPECT_TRUE(device->ops().empty());
    EXPECT_FALSE(state().restartPending);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ApplyRejects,
    ::testing::Values(OutOfRange{0, "0"}, OutOfRange{0, "999999"}, OutOfRange{1, "0"},
                      OutOfRange{1, "-1024"}, OutOfRange{2, "0"}, OutOfRange{3, "2147483647"},
                      OutOfRange{4, "0"}, OutOfRange{5, "500"}, OutOfRange{5, "0"}),
    [](const auto& info) { return kApplyOrder[info.param.box] + std::to_string(info.index); });

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
    EXPECT_EQ(form->SliderMin->value(), 17);
    EXPECT_EQ(form->SliderMax->value(), 100);
    EXPECT_EQ(device->ops(), std::vector<Op>{Op::Reset});
}

// ---- Capture messages

class MainWindowWithoutDevices : public MainWindowTest
{
    void prepareDevice(FakeRecordingDevice& fake) override { fake.devices = 0; }
};

TEST_F(MainWindowWithoutDevices, SaysSoAndStaysUsable)
{
    EXPECT_EQ(sink->messages, std::vector<QString>{"There are no recording devices!"});
    EXPECT_FALSE(state().capturing);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(pictureIsBlack(receiver->surface()));
    click(form->Button1); // tries again
    EXPECT_EQ(sink->messages.size(), 2u);
}

// ---- External programs and the unbound commands

TEST_F(MainWindowTest, SetVolumeAndHelpStartTheirPrograms)
{
    launcher.installed = {"pwvucontrol"};
    click(form->Button2);
    form->ToolButton3Click();
    form->MenuHelpClick();
    const CommandLine volume{"/usr/bin/pwvucontrol", {}};
    EXPECT_EQ(launcher.started, (std::vector<CommandLine>{volume, volume}));
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

// ---- About

TEST_F(MainWindowTest, AboutIsModalCentredAndCaptureGoesOnBehindIt)
{
    auto* about = new TFormAbout(form.get());
    form->setAboutWindow(about);
    EXPECT_FALSE(about->isVisible());

    bool checked = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(waitUntil([&] { return about->isVisible(); }));
        checked = true;
        EXPECT_EQ(QApplication::activeModalWidget(), about);
        EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);
        EXPECT_TRUE(about->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(about->size(), QSize(356, 297));
        const QPoint screenCentre = about->screen()->geometry().center();
        EXPECT_LE((about->geometry().center() - screenCentre).manhattanLength(), 2);

        // The device's notifications still reach the decoder.
        const ScanPosition before = receiver->decoder().scanPosition();
        device->feed(bytes(1024, 200));
        EXPECT_TRUE(waitUntil([&] { return receiver->decoder().scanPosition() != before; }));

        QTest::mouseClick(about->Button1, Qt::LeftButton);
    });
    click(form->Button3);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->result(), QDialog::Accepted);
}

TEST(AboutWindow, TextsAndLayout)
{
    TFormAbout about;
    EXPECT_EQ(about.windowTitle(), "About Corvane");
    EXPECT_EQ(about.Label1->text(), "Corvane");
    EXPECT_TRUE(about.Label1->font().bold());
    EXPECT_EQ(QFontInfo(about.Label1->font()).pixelSize(), 13);
    EXPECT_TRUE(about.Label5->text().startsWith("Version " CORVANE_VERSION " - "));
    EXPECT_EQ(about.Button1->text(), "Close");
    EXPECT_EQ(about.Button1->geometry(), QRect(136, 264, 73, 25));
    EXPECT_EQ(about.Panel3->geometry(), QRect(16, 16, 321, 241));
    EXPECT_EQ(about.findChild<QWidget*>("Label3"), nullptr);
    EXPECT_EQ(about.findChild<QWidget*>("Label4"), nullptr);

    // Every text fits its place.
    for (QLabel* label : {about.Label1, about.Label5}) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
    EXPECT_LE(about.Label2->heightForWidth(about.Label2->width()), about.Label2->height());
    for (const QString& line : about.Label2->text().split(u'\n')) // no line wraps
        EXPECT_LE(about.Label2->fontMetrics().horizontalAdvance(line), about.Label2->width());
    QTextDocument* memo = about.Label6->document();
    memo->setTextWidth(about.Label6->width());
    EXPECT_EQ(memo->blockCount(), 4);
    EXPECT_LE(memo->size().height(), about.Label6->height());
    EXPECT_LE(memo->idealWidth(), about.Label6->width());
    EXPECT_EQ(QFontInfo(about.Label6->font()).family(), "Liberation Sans");
}

} // namespace
