#pragma once

#include "RecordingDevice.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace corvane {

// One recording source as the audio server names and describes it.
struct RecordingDeviceInfo
{
    QString name;        // what --device takes, e.g. "alsa_input.usb-...analog-mono"
    QString description; // what a person reads, e.g. "USB Audio Analog Mono"
};

// The live device over the audio server; sourceName empty records from the server's default.
std::unique_ptr<RecordingDevice> makePulseRecordingDevice(const QString& sourceName);

// How far reading a recording has got, in percent; done once it is read, has failed or was
// given up.
using ReadingProgress = std::function<void(int percent, bool done)>;

// Plays a recording into the buffers in real time. Returns nullptr and sets *error when the
// file cannot be read; what only reading it all can tell comes when the device is opened.
std::unique_ptr<RecordingDevice> makeFileRecordingDevice(const QString& path, bool loop,
                                                         QString* error,
                                                         ReadingProgress progress = {});

// The audio server's recording sources; nullopt and *error when no server answers.
std::optional<QList<RecordingDeviceInfo>> listRecordingDevices(QString* error);

} // namespace corvane
