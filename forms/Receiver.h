#pragma once

#include "CaptureEngine.h"
#include "DecoderSettings.h"
#include "ImageSurface.h"
#include "MessageSink.h"
#include "PixelDecoder.h"
#include "RecordingDevice.h"

#include <memory>

class QObject;

namespace corvane {

// Everything that lives for the whole run, owned in one place: the settings, the picture
// surface, the decoder, the recording device, where capture messages go, and the capture engine.
// The program makes one in main(); tests make a fresh one per case with a fake device.
class Receiver
{
public:
    Receiver(std::unique_ptr<RecordingDevice> device, std::unique_ptr<MessageSink> messages);
    ~Receiver();

    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    DecoderSettings& settings() { return settings_; }
    ImageSurface& surface() { return surface_; }
    PixelDecoder& decoder() { return decoder_; }
    RecordingDevice& device() { return *device_; }
    MessageSink& messages() { return *messages_; }

    // Makes the capture engine with target as the receiver of the device's notifications.
    // The engine needs the window and the window needs the engine, so the window calls this
    // from its constructor and detach() from its destructor.
    CaptureEngine& attach(QObject* target);
    // Drops the engine: an open device is abandoned and every buffer freed, without waiting.
    // After this the device posts nothing more to the old target.
    void detach();
    bool attached() const { return engine_ != nullptr; }
    CaptureEngine& engine() { return *engine_; }

private:
    DecoderSettings settings_;
    ImageSurface surface_;
    PixelDecoder decoder_;
    std::unique_ptr<RecordingDevice> device_;
    std::unique_ptr<MessageSink> messages_;
    std::unique_ptr<CaptureEngine> engine_; // last: goes before the device it uses
};

} // namespace corvane
