#include "LockedDecode.h"

#include "DecodeOutput.h"
#include "Demodulation.h"
#include "LockedReceiver.h"
#include "PictureOptions.h"
#include "RtlTcpSource.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundReader.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonObject>
#include <QTimer>
#include <optional>

namespace corvane {

namespace {

QString signalName(SignalKind kind)
{
    switch (kind) {
    case SignalKind::Am:
        return QStringLiteral("am");
    case SignalKind::Baseband:
        return QStringLiteral("baseband");
    case SignalKind::Auto:
        break;
    }
    return QStringLiteral("auto");
}

// "auto", "left", "right" or a channel number from 1.
std::optional<int> channelByName(const QString& text)
{
    const QString key = text.trimmed().toLower();
    if (key == QLatin1String("auto"))
        return kAutoChannel;
    if (key == QLatin1String("left"))
        return 0;
    if (key == QLatin1String("right"))
        return 1;
    bool ok = false;
    const int number = key.toInt(&ok);
    if (ok && number >= 1 && number <= 64)
        return number - 1;
    return std::nullopt;
}

} // namespace

LockedCli::LockedCli()
    : locked(QStringLiteral("locked"),
             QStringLiteral("Lock to the line and frame sync of a real NBTV transmission and "
                            "write its frames upright. The options below need it.")),
      standard(QStringLiteral("standard"),
               QStringLiteral("%1; the first is the default.").arg(standardChoices()),
               QStringLiteral("NAME"), knownStandards().front().name),
      lines(QStringLiteral("lines"),
            QStringLiteral("Lines per frame, %1..%2, for another standard.")
                .arg(StandardLimits::kMinLines)
                .arg(StandardLimits::kMaxLines),
            QStringLiteral("N")),
      lineRate(QStringLiteral("line-rate"),
               QStringLiteral("Lines per second, %1..%2, for another standard.")
                   .arg(StandardLimits::kMinLineRate)
                   .arg(StandardLimits::kMaxLineRate),
               QStringLiteral("HZ")),
      aspect(QStringLiteral("aspect"),
             QStringLiteral("Picture height over width, %1..%2, for another standard.")
                 .arg(StandardLimits::kMinAspect)
                 .arg(StandardLimits::kMaxAspect),
             QStringLiteral("A")),
      signal(QStringLiteral("signal"),
             QStringLiteral("auto (the default), baseband, or am (video on an audio carrier)."),
             QStringLiteral("KIND"), QStringLiteral("auto")),
      polarity(QStringLiteral("polarity"),
               QStringLiteral("auto (the default: found from the sync), normal, or inverted (the "
                              "whole signal upside down, sync pointing up)."),
               QStringLiteral("WAY"), QStringLiteral("auto")),
      channel(QStringLiteral("channel"),
              QStringLiteral("The channel carrying the picture: auto (the default: the one with "
                             "sync), left, right, or a number from 1."),
              QStringLiteral("CH"), QStringLiteral("auto")),
      negative(QStringLiteral("negative"),
               QStringLiteral("Show the picture negative (for senders that send black high).")),
      frames(QStringLiteral("frames"),
             QStringLiteral("Write every frame to DIR as frame-000001.png ... (DIR must not hold "
                            "frames of an earlier run)."),
             QStringLiteral("DIR")),
      video(QStringLiteral("video"),
            QStringLiteral("Record the frames as a video (.mp4, .mkv or .webm) at the standard's "
                           "frame rate, at least 480 pixels tall, with the programme's sound "
                           "when the recording has a channel besides the picture's."),
            QStringLiteral("OUT")),
      seconds(QStringLiteral("seconds"),
              QStringLiteral("How long to receive from a live --source, in seconds (default 10)."),
              QStringLiteral("S"), QStringLiteral("10")),
      pictureOptionNames{QStringLiteral("flip"),     QStringLiteral("rotate"),
                         QStringLiteral("average"),  QStringLiteral("brightness"),
                         QStringLiteral("contrast"), QStringLiteral("gamma")}
{}

QList<QCommandLineOption> LockedCli::all() const
{
    return {locked,   standard, lines,    lineRate, aspect, signal,
            polarity, channel,  negative, frames,   video,  seconds};
}

int decodeLocked(Tool& tool, const LockedCli& cli, const DecoderSettings& rawSettings,
                 const QString& input, const SampleReadOptions& reading, const SdrRequest& sdr)
{
    const QCommandLineParser& parser = tool.parser();
    LockedSettings settings;
    const auto standard = standardByName(parser.value(cli.standard));
    if (!standard)
        return tool.fail(Tool::kBadUsage, QStringLiteral("--standard must be %1 (got '%2')")
                                              .arg(standardChoices(), parser.value(cli.standard)));
    settings.standard = *standard;
    if (parser.isSet(cli.lines) || parser.isSet(cli.lineRate) || parser.isSet(cli.aspect)) {
        int lines = settings.standard.lines;
        double rate = settings.standard.lineRateHz, aspect = settings.standard.aspect;
        std::optional<QString> problem = readNumberOption(
            parser, cli.lines, {StandardLimits::kMinLines, StandardLimits::kMaxLines}, lines);
        if (!problem)
            problem = readNumberOption(
                parser, cli.lineRate,
                NumberRule{StandardLimits::kMinLineRate, StandardLimits::kMaxLineRate}, rate);
        if (!problem)
            problem = readNumberOption(
                parser, cli.aspect,
                NumberRule{StandardLimits::kMinAspect, StandardLimits::kMaxAspect}, aspect);
        if (problem)
            return tool.fail(Tool::kBadUsage, *problem);
        settings.standard = customStandard(lines, rate, aspect);
    }
    const QString kind = parser.value(cli.signal).trimmed().toLower();
    if (kind == QLatin1String("auto"))
        settings.signal = SignalKind::Auto;
    else if (kind == QLatin1String("baseband"))
        settings.signal = SignalKind::Baseband;
    else if (kind == QLatin1String("am"))
        settings.signal = SignalKind::Am;
    else
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("--signal must be auto, baseband or am (got '%1')")
                             .arg(parser.value(cli.signal)));
    const QString way = parser.value(cli.polarity).trimmed().toLower();
    if (way == QLatin1String("auto"))
        settings.polarity = Polarity::Auto;
    else if (way == QLatin1String("normal"))
        settings.polarity = Polarity::Normal;
    else if (way == QLatin1String("inverted"))
        settings.polarity = Polarity::Inverted;
    else
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("--polarity must be auto, normal or inverted (got '%1')")
                             .arg(parser.value(cli.polarity)));
    const auto channel = channelByName(parser.value(cli.channel));
    if (!channel)
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("--channel must be auto, left, right or a number from 1 "
                                        "(got '%1')")
                             .arg(parser.value(cli.channel)));
    settings.channel = *channel;
    settings.negative = parser.isSet(cli.negative);
    PictureSettings picture;
    if (const auto problem = readPictureOptions(parser, picture))
        return tool.fail(Tool::kBadUsage, *problem);

    const bool stats = parser.isSet(QStringLiteral("stats"));
    const QString out = parser.value(QStringLiteral("o"));
    const bool wantsPicture = parser.isSet(QStringLiteral("o"));
    if (!wantsPicture && !stats && !parser.isSet(cli.frames) && !parser.isSet(cli.video))
        return tool.fail(Tool::kBadUsage,
                         QStringLiteral("nothing to do: give -o OUT for the last frame, --frames "
                                        "DIR for every frame, --video OUT for a video, --stats "
                                        "for the counters (see --help)"));
    QByteArray format;
    if (wantsPicture) {
        format = pictureFormat(out);
        if (format.isEmpty())
            return tool.fail(
                Tool::kBadUsage,
                QStringLiteral("-o must name a .png or .ppm file (got '%1')").arg(out));
    }
    QString error;
    if (wantsPicture && out != QLatin1String("-") && !canReplaceFile(out, &error))
        return tool.fail(Tool::kFailed, error);
    const QString framesDir = parser.value(cli.frames);
    if (parser.isSet(cli.frames) && !prepareFramesFolder(framesDir, &error))
        return tool.fail(Tool::kFailed, error);

    const bool radio = sdr.kind != SdrRequest::Kind::None;
    const bool live = sdr.kind == SdrRequest::Kind::RtlTcp || sdr.kind == SdrRequest::Kind::Soapy;
    double liveSeconds = 10;
    if (const auto problem = readNumberOption(parser, cli.seconds,
                                              NumberRule{0, 24 * 3600.0, false, true}, liveSeconds))
        return tool.fail(Tool::kBadUsage, *problem);
    // Raw bytes carry no rate; sound files are read at their own, in full resolution, with
    // every channel kept for the receiver to find the picture's.
    const bool raw = !radio && isRawSampleName(input);
    SoundReader sound;
    double sampleRate = rawSettings.sampleRate;
    if (radio) {
        sampleRate = LockedRates::kMin; // the video's, known once demodulated
    } else if (!raw) {
        if (!sound.open(input, &error))
            return tool.fail(Tool::kFailed, error);
        sampleRate = sound.sampleRate();
    }
    if (sampleRate < LockedRates::kMin || sampleRate > LockedRates::kMax)
        return tool.fail(Tool::kFailed,
                         QStringLiteral("'%1' is at %2 Hz; locked decoding takes %3 to %4 Hz")
                             .arg(input)
                             .arg(sampleRate)
                             .arg(LockedRates::kMin)
                             .arg(LockedRates::kMax));

    LockedReceiver receiver;
    std::optional<QString> frameError;
    receiver.setSettings(settings);
    receiver.setPictureSettings(picture);
    const QString videoPath = parser.value(cli.video);
    if (!videoPath.isEmpty() &&
        (!canReplaceFile(videoPath, &error) || !receiver.startVideo(videoPath, false, &error)))
        return tool.fail(Tool::kFailed, error);
    QObject::connect(&receiver, &LockedReceiver::videoEnded,
                     [&](const QString& message) { frameError = message; });
    std::int64_t written = 0;
    double lineRate = 0; // as measured at the last frame
    QObject::connect(&receiver, &LockedReceiver::frameReady, [&](const QImage& frame) {
        lineRate = receiver.status().signal.lineRateHz;
        if (framesDir.isEmpty() || frameError)
            return;
        const QString name = QDir(framesDir).filePath(
            QStringLiteral("frame-%1.png").arg(++written, 6, 10, QLatin1Char('0')));
        QString problem;
        if (!writePicture(name, "png", displayFrame(frame, receiver.frameStandard()), &problem))
            frameError = problem;
    });

    QString warning;
    SdrStatus radioStatus;
    if (sdr.kind == SdrRequest::Kind::IqFile) {
        // The format and rate a recording's name gives, where the command line left them.
        SdrRequest named = sdr;
        if (const auto problem = applyIqFileName(named, input))
            return tool.fail(Tool::kBadUsage, *problem);
        const auto sink = [&](std::span<const float> video, double rate) {
            if (!frameError)
                receiver.feed(video.data(), video.size(), 1, rate);
        };
        if (!demodulateIqFile(input, named.sdr, sink, &radioStatus, &error))
            return tool.fail(Tool::kFailed, error);
    } else if (live) {
        // Received for the time asked, or until the radio goes.
        receiver.setSource(makeSdrSource(sdr, {}, true));
        QEventLoop loop;
        QString ended;
        QObject::connect(&receiver, &LockedReceiver::sourceEnded, &loop, [&](const QString& why) {
            ended = why;
            loop.quit();
        });
        if (auto* rtl = qobject_cast<RtlTcpSource*>(receiver.source()))
            QObject::connect(rtl, &RtlTcpSource::message,
                             [&](const QString& text) { tool.note(text); });
        QTimer::singleShot(static_cast<int>(liveSeconds * 1000), &loop, &QEventLoop::quit);
        if (!receiver.start(&error))
            return tool.fail(Tool::kFailed, error);
        loop.exec();
        const SourceTuning tuning = receiver.source()->tuning();
        receiver.stop();
        radioStatus.found = tuning.found;
        radioStatus.demod = tuning.demod == QLatin1String("fm") ? Demod::Fm : Demod::Am;
        radioStatus.tuneHz = tuning.offsetHz;
        if (!ended.isEmpty() && receiver.lastFrame().isNull())
            return tool.fail(Tool::kFailed, ended);
        if (!tuning.found && receiver.lastFrame().isNull())
            return tool.fail(Tool::kFailed, tuning.message.isEmpty()
                                                ? QStringLiteral("no NBTV transmission found")
                                                : tuning.message);
    } else if (raw) {
        const auto feed = [&](const std::uint8_t* data, std::size_t count) {
            if (!frameError)
                receiver.feedU8(data, count, sampleRate);
        };
        if (!streamSamples(input, static_cast<int>(sampleRate), feed, reading, &error, &warning))
            return tool.fail(Tool::kFailed, error);
    } else {
        // Small pieces, so a video's pictures follow the frames closely.
        constexpr std::size_t kChunk = 1 << 12;
        const double limit = reading.maxSeconds * sampleRate;
        const int channels = sound.channels();
        for (double total = 0; !frameError;) {
            const std::span<const float> got = sound.read(kChunk);
            if (got.empty())
                break;
            const std::size_t frames = got.size() / static_cast<std::size_t>(channels);
            total += static_cast<double>(frames);
            if (total > limit)
                return tool.fail(Tool::kFailed,
                                 QStringLiteral("stopped reading '%1': it holds more than the "
                                                "limit of %2 s of audio at %3 Hz")
                                     .arg(input)
                                     .arg(reading.maxSeconds)
                                     .arg(sampleRate));
            receiver.feed(got.data(), frames, channels, sampleRate);
        }
        // Damage part-way: what came before it is decoded and kept, as the first decoder
        // keeps its picture.
        if (!sound.damage().isEmpty()) {
            if (sound.framesRead() == 0)
                return tool.fail(Tool::kFailed, sound.damage());
            warning = QStringLiteral("%1; decoded the %2 s before it")
                          .arg(sound.damage())
                          .arg(static_cast<double>(sound.framesRead()) / sampleRate, 0, 'f', 1);
        }
    }
    if (frameError)
        return tool.fail(Tool::kFailed, *frameError);
    if (!videoPath.isEmpty() && !receiver.stopVideo(&error))
        return tool.fail(Tool::kFailed, error);
    if (!warning.isEmpty())
        tool.warn(warning);

    // Success is a frame: "locked" in the counters and the exit status say the same.
    const ReceiverStatus status = receiver.status();
    const bool locked = !receiver.lastFrame().isNull();
    if (stats) {
        QJsonObject counters{
            {QStringLiteral("locked"), locked},
            {QStringLiteral("lockedAtEnd"), status.signal.locked},
            {QStringLiteral("lineRateHz"), lineRate},
            {QStringLiteral("frames"), static_cast<qint64>(status.signal.frames)},
            {QStringLiteral("signal"), signalName(status.signal.detected)},
            {QStringLiteral("carrierHz"), status.signal.carrierHz},
            {QStringLiteral("polarity"),
             status.signal.inverted ? QStringLiteral("inverted") : QStringLiteral("normal")},
            {QStringLiteral("channel"), status.signal.channel},
            {QStringLiteral("channels"), status.signal.channels},
            {QStringLiteral("samples"), static_cast<qint64>(status.signal.samples)},
            {QStringLiteral("sampleRate"), receiver.status().sampleRate},
            {QStringLiteral("inputPeak"), status.signal.inputPeak},
            {QStringLiteral("swing"), status.signal.swing},
            {QStringLiteral("noSyncFound"), status.signal.noSyncFound},
        };
        if (!videoPath.isEmpty())
            counters.insert(QStringLiteral("videoFrames"),
                            static_cast<qint64>(receiver.videoPictures()));
        if (radio) {
            counters.insert(QStringLiteral("demod"), demodName(radioStatus.demod));
            counters.insert(QStringLiteral("tuneHz"), radioStatus.tuneHz);
        }
        if (tool.printJson(counters) != Tool::kOk)
            return Tool::kFailed;
    }
    if (!locked)
        return tool.fail(Tool::kFailed,
                         QStringLiteral("no %1 signal found in '%2': never locked (is it a %3-line "
                                        "transmission at %4 lines/s?)")
                             .arg(settings.standard.name == QLatin1String("custom")
                                      ? QStringLiteral("NBTV")
                                      : settings.standard.title)
                             .arg(input)
                             .arg(settings.standard.lines)
                             .arg(settings.standard.lineRateHz));
    if (wantsPicture &&
        !writePicture(out, format, displayFrame(receiver.lastFrame(), receiver.frameStandard()),
                      &error))
        return tool.fail(Tool::kFailed, error);
    return Tool::kOk;
}

} // namespace corvane
