#include "Unit1.h"

#include "About.h"
#include "AppIcon.h"
#include "ErrorDisplay.h"
#include "FormFonts.h"
#include "Launcher.h"
#include "Receiver.h"
#include "StrToInt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
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

    ExeDirectory_ = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath() + u'/';

    const QIcon icon = corvaneIcon();
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);

    ImageAlign->setSurface(&receiver_.surface());
    receiver_.surface().setRepaintCallback([this] {
        ImageAlign->updateColumns(receiver_.decoder().scanPosition().col,
                                  receiver_.settings().cols);
    });

    try {
        CaptureEngine& engine = receiver_.attach(this);
        hookUpTrace(engine);
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
}

bool TFormMain::event(QEvent* event)
{
    // The device's notifications go to the capture engine, everything else to QWidget.
    bool handled = false;
    runGuarded([&] { handled = receiver_.attached() && receiver_.engine().dispatch(event); });
    if (handled)
        return true;
    const bool updating = event->type() == QEvent::UpdateRequest;
    handled = QWidget::event(event);
    // The update request is where the backing store paints and flushes to the window system.
    if (updating && receiver_.trace())
        receiver_.trace()->flushed();
    return handled;
}

void TFormMain::hookUpTrace(CaptureEngine& engine)
{
    TimingTrace* trace = receiver_.trace();
    if (!trace)
        return;
    engine.setDecodedTap(
        [trace](const std::uint8_t* data, std::int32_t count) { trace->decoded(data, count); });
    ImageAlign->setPaintedHook([trace] { trace->painted(); });
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    runGuarded([&] { FormClose(); });
    event->accept();
}

void TFormMain::clearPicture()
{
    receiver_.surface().clear();
    ImageAlign->update();
}

void TFormMain::Button1Click()
{
    CaptureEngine& engine = receiver_.engine();
    if (engine.state().capturing)
        engine.StopCapture();
    else
        engine.StartCapture();
}

void TFormMain::Button2Click()
{
    launchRecordingLevelControl(launcher_);
}

void TFormMain::Button3Click()
{
    if (FormAbout_)
        FormAbout_->exec();
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
    const DecoderSettings defaults;
    EditSampleRate->setText(QString::number(defaults.sampleRate));
    EditSampleBlockSize->setText(QString::number(defaults.blockSize));
    EditNCols->setText(QString::number(defaults.cols));
    EditNRows->setText(QString::number(defaults.rows));
    EditSamplePerPixel->setText(QString::number(defaults.samplesPerPixel));
    EditSampleAveraged->setText(QString::number(defaults.samplesAveraged));
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
    openHelpPage(launcher_, ExeDirectory_);
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
