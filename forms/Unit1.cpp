#include "Unit1.h"

#include "About.h"
#include "AppIcon.h"
#include "ErrorDisplay.h"
#include "FormFonts.h"
#include "Launcher.h"
#include "MonitorLink.h"
#include "Receiver.h"
#include "StrToInt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QShortcut>
#include <stdexcept>

namespace corvane {

namespace {
// A settings value outside what the program accepts; what() names the box and its range.
class SettingRangeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace

TFormMain::TFormMain(Receiver& receiver, ProgramLauncher& launcher, QWidget* parent)
    : QWidget(parent), receiver_(receiver), launcher_(launcher)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(510, 305);
    move(54, 35);
    applyFonts();
    bindHandlers();
    // What the command line gave, shown before capture starts with it.
    showBoxes(receiver_.settings());
    SliderMin->setValue(receiver_.settings().minLevel);
    SliderMax->setValue(receiver_.settings().maxLevel);

    exeDirectory_ = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath() + u'/';
    monitorLink_ = new MonitorLink(receiver_, this, ImageAlign);

    const QIcon icon = corvaneIcon();
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);

    ImageAlign->setSurface(&receiver_.surface());
    receiver_.surface().setRepaintCallback([this] { ImageAlign->requestRepaint(); });

    try {
        CaptureEngine& engine = receiver_.attach(this);
        paintTap_ = engine.addDecodedTap([this](const DecodedBlock&) {
            const DecoderSettings& settings = receiver_.settings();
            ImageAlign->paintDue(
                {receiver_.decoder().scanPosition().col, settings.rows, settings.cols});
        });
        engine.StartCapture();
    } catch (...) {
        // The device must not go on posting to a window that was never finished.
        receiver_.surface().setRepaintCallback({});
        receiver_.detach();
        throw;
    }
    clearPicture();
}

TFormMain::~TFormMain()
{
    receiver_.surface().setRepaintCallback({});
    receiver_.detach();
}

void TFormMain::applyFonts()
{
    // The window's own font is the large one; the group boxes and the command panel carry the
    // small one, which their controls inherit.
    setFont(formFont(21));
    for (QWidget* box : {static_cast<QWidget*>(GroupBox1), static_cast<QWidget*>(GroupBox2),
                         static_cast<QWidget*>(Panel2)})
        box->setFont(formFont(11));
    // Labels size themselves to their caption, keeping their left edge.
    for (QLabel* label : findChildren<QLabel*>())
        label->adjustSize();
}

void TFormMain::bindHandlers()
{
    const auto bind = [this](QPushButton* button, void (TFormMain::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { runGuarded([&] { (this->*handler)(); }); });
    };
    bind(Button1, &TFormMain::Button1Click);
    bind(Button2, &TFormMain::Button2Click);
    bind(Button3, &TFormMain::Button3Click);
    bind(Button4, &TFormMain::Button4Click);
    bind(Button5, &TFormMain::Button5Click);
    bind(Button6, &TFormMain::Button6Click);
    connect(SliderMin, &QSlider::valueChanged, this,
            [this] { runGuarded([&] { SliderMinChange(); }); });
    connect(SliderMax, &QSlider::valueChanged, this,
            [this] { runGuarded([&] { SliderMaxChange(); }); });
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            [this] { runGuarded([&] { MenuHelpClick(); }); });
}

void TFormMain::setAboutWindow(TFormAbout* about)
{
    formAbout_ = about;
    if (about)
        connect(about, &TFormAbout::helpRequested, this,
                [this] { runGuarded([&] { MenuHelpClick(); }); });
}

void TFormMain::showBoxes(const DecoderSettings& settings)
{
    EditSampleRate->setText(QString::number(settings.sampleRate));
    EditSampleBlockSize->setText(QString::number(settings.blockSize));
    EditNCols->setText(QString::number(settings.cols));
    EditNRows->setText(QString::number(settings.rows));
    EditSamplePerPixel->setText(QString::number(settings.samplesPerPixel));
    EditSampleAveraged->setText(QString::number(settings.samplesAveraged));
}

// What went wrong with a command the user can act on, in the look of the capture messages.
void TFormMain::showProblem(const QString& text)
{
    QWidget* over = QApplication::activeModalWidget();
    QMessageBox::warning(over ? over : this, QString(), text);
}

bool TFormMain::event(QEvent* event)
{
    // The device's notifications go to the capture engine, everything else to QWidget.
    bool handled = false;
    runGuarded([&] { handled = receiver_.attached() && receiver_.engine().dispatch(event); });
    return handled || QWidget::event(event);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    runGuarded([&] { FormClose(); });
    event->accept();
}

void TFormMain::clearPicture()
{
    receiver_.surface().clear();
    ImageAlign->restart();
}

void TFormMain::Button1Click()
{
    receiver_.engine().ToggleCapture();
}

void TFormMain::Button2Click()
{
    if (const auto problem =
            launchRecordingLevelControl(launcher_, qEnvironmentVariable("XDG_CURRENT_DESKTOP")))
        showProblem(*problem);
}

void TFormMain::Button3Click()
{
    if (formAbout_)
        formAbout_->exec();
}

void TFormMain::Button4Click()
{
    close();
}

void TFormMain::Button5Click()
{
    struct Box
    {
        QLineEdit* edit;
        SettingField field;
    };
    // Each value is stored as soon as its box has been read, so a bad box stops the command
    // with the boxes before it already applied.
    const Box boxes[] = {
        {EditSampleRate, SettingField::SampleRate},
        {EditSampleBlockSize, SettingField::BlockSize},
        {EditNCols, SettingField::Cols},
        {EditNRows, SettingField::Rows},
        {EditSamplePerPixel, SettingField::SamplesPerPixel},
        {EditSampleAveraged, SettingField::SamplesAveraged},
    };
    DecoderSettings& settings = receiver_.settings();
    for (const Box& box : boxes) {
        const std::int32_t value = StrToInt(box.edit->text());
        if (auto problem = checkSetting(box.field, value))
            throw SettingRangeError(*problem);
        settingRef(settings, box.field) = value;
    }
    receiver_.decoder().scanPosition() = ScanPosition{};
    CaptureEngine& engine = receiver_.engine();
    engine.setRestartPending(true);
    engine.StopCapture();
    clearPicture();
}

void TFormMain::Button6Click()
{
    showBoxes(DecoderSettings{});
    Button5Click();
}

void TFormMain::SliderMinChange()
{
    receiver_.settings().minLevel = SliderMin->value();
}

void TFormMain::SliderMaxChange()
{
    receiver_.settings().maxLevel = SliderMax->value();
}

void TFormMain::FormClose()
{
    // Stops once and does not wait: the drain's notifications never arrive, and the engine
    // releases the device and its buffers when the window goes.
    CaptureEngine& engine = receiver_.engine();
    if (engine.state().capturing)
        engine.StopCapture();
}

void TFormMain::MenuHelpClick()
{
    if (const auto problem = openHelpPage(launcher_, exeDirectory_))
        showProblem(*problem);
}

void TFormMain::MenuStartReceiveClick()
{
    receiver_.engine().StartCapture();
}

void TFormMain::MenuStopReceiveClick()
{
    receiver_.engine().StopCapture();
}

void TFormMain::ButtonStopRxClick()
{
    receiver_.engine().StopCapture();
}

void TFormMain::ButtonStartRxClick()
{
    Button1Click();
}

void TFormMain::ToolButton3Click()
{
    Button2Click();
}

void TFormMain::AboutClick()
{
    Button3Click();
}

void TFormMain::MenuExitClick()
{
    Button4Click();
}

} // namespace corvane
