#pragma once

#include "DecoderSettings.h"
#include "SdrCommandLine.h"
#include "SoundFile.h"
#include "Tool.h"

#include <QCommandLineOption>
#include <QList>

namespace corvane {

// The options of locked decoding, beside the first decoder's.
struct LockedCli
{
    LockedCli();
    QList<QCommandLineOption> all() const;

    QCommandLineOption locked, standard, lines, lineRate, aspect, signal, polarity, channel,
        negative, frames, video, seconds;
    // The picture options (--flip, --rotate, --average, ...) go with --locked too.
    QStringList pictureOptionNames;
};

// Decodes input by locking to its line and frame sync, as the Monitor does, and writes what
// the command line asks for. rawSettings give the rate of raw 8-bit input; sdr, when it names
// one, an SDR's IQ recording or live source to demodulate first.
int decodeLocked(Tool& tool, const LockedCli& cli, const DecoderSettings& rawSettings,
                 const QString& input, const SampleReadOptions& reading, const SdrRequest& sdr);

} // namespace corvane
