#pragma once

#include "ErrorDisplay.h"
#include "ErrorReporting.h"
#include "FormsTestSupport.h"
#include "Receiver.h"
#include "Unit1.h"

#include <QLineEdit>
#include <QScreen>
#include <array>
#include <gtest/gtest.h>
#include <memory>

namespace corvane::test {

using Op = FakeRecordingDevice::Op;

// The settings boxes in the order Apply reads them.
inline constexpr std::array<const char*, 6> kApplyOrder = {
    "EditSampleRate", "EditSampleBlockSize", "EditNCols",
    "EditNRows",      "EditSamplePerPixel",  "EditSampleAveraged"};

// A fresh receiver with a fake device and a main window over it, shown and active, capture
// started and its open notification handled (unless the device was told to fail).
class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
        setErrorReporter(showDefaultError);
        auto fake = std::make_unique<FakeRecordingDevice>();
        auto recorder = std::make_unique<RecordingSink>();
        device = fake.get();
        sink = recorder.get();
        prepareDevice(*device);
        receiver = std::make_unique<Receiver>(std::move(fake), std::move(recorder));
        form = std::make_unique<TFormMain>(*receiver, programs());
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        settleCapture();
    }

    void TearDown() override
    {
        form.reset();
        receiver.reset();
        setErrorReporter({});
    }

    // Scripting the device before the window is made.
    virtual void prepareDevice(FakeRecordingDevice&) {}
    // What the window starts programs through.
    virtual ProgramLauncher& programs() { return launcher; }

    // Handles the device's pending notifications.
    void settleCapture()
    {
        waitUntil([this] {
            QCoreApplication::processEvents();
            return !receiver->engine().state().deviceOpen || receiver->engine().state().capturing;
        });
        QCoreApplication::sendPostedEvents(form.get());
    }

    const CaptureState& state() const { return receiver->engine().state(); }
    DecoderSettings& settings() { return receiver->settings(); }

    // Feeds bytes and lets the window hand the filled buffers to the decoder.
    void feed(std::vector<std::uint8_t> bytes)
    {
        device->feed(bytes);
        QCoreApplication::sendPostedEvents(form.get());
    }

    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void setBoxes(const std::array<const char*, 6>& texts)
    {
        for (std::size_t i = 0; i < texts.size(); ++i)
            form->findChild<QLineEdit*>(kApplyOrder[i])->setText(texts[i]);
    }

    bool idle() const { return !state().capturing && !state().deviceOpen; }
    bool running() const { return state().capturing && !state().stopping; }
    // What the window system holds of the picture, not what the widget would paint.
    QImage pictureOnScreen() const
    {
        const QPoint at = form->ImageAlign->mapTo(form.get(), QPoint());
        return form->screen()
            ->grabWindow(form->winId(), at.x(), at.y(), form->ImageAlign->width(),
                         form->ImageAlign->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    QImage picture() const
    {
        return receiver->surface().image().convertToFormat(QImage::Format_RGB32);
    }
    void stopAndWait()
    {
        click(form->Button1);
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
    }

    FakeRecordingDevice* device = nullptr;
    RecordingSink* sink = nullptr;
    RecordingLauncher launcher;
    std::unique_ptr<Receiver> receiver;
    std::unique_ptr<TFormMain> form;
};

} // namespace corvane::test
