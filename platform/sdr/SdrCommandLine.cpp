#include "SdrCommandLine.h"

#include "IqFileSource.h"
#include "SettingOptions.h"

namespace corvane {

std::optional<QString> readSdrCommandLine(const QCommandLineParser& parser,
                                          const SdrCommandLine& options, SdrRequest& request)
{
    SdrRequest r;
    if (parser.isSet(options.iq)) {
        const auto format = iqFormatByName(parser.value(options.iq));
        r.formatGiven = parser.value(options.iq).trimmed().toLower() != QLatin1String("auto");
        if (!format && r.formatGiven)
            return QStringLiteral("--iq must be %1, or auto (got '%2')")
                .arg(iqFormatChoices(), parser.value(options.iq));
        r.kind = SdrRequest::Kind::IqFile;
        r.sdr.format = format.value_or(IqFormat::Cu8);
    }
    if (parser.isSet(options.source)) {
        if (r.kind != SdrRequest::Kind::None)
            return QStringLiteral("--iq and --source do not go together");
        const QString text = parser.value(options.source);
        QString error;
        if (text.startsWith(QLatin1String("soapy:"))) {
            r.kind = SdrRequest::Kind::Soapy;
            r.soapy.args = text.mid(6);
        } else if (parseRtlTcpAddress(text, r.rtl, &error)) {
            r.kind = SdrRequest::Kind::RtlTcp;
        } else {
            return QStringLiteral("--source must be rtl_tcp://HOST:PORT or soapy:ARGS (got '%1')")
                .arg(text);
        }
        if (!parser.isSet(options.frequency))
            return QStringLiteral("--source needs --frequency HZ, what to tune the SDR to");
    }
    if (r.kind == SdrRequest::Kind::None) {
        for (const QCommandLineOption& o : options.all())
            if (parser.isSet(o))
                return QStringLiteral("--%1 needs --iq or --source").arg(o.names().front());
        request = r;
        return std::nullopt;
    }
    double rate = 2.4e6, frequency = 0, ppm = 0, gain = 0;
    if (auto problem = readNumberOption(parser, options.sampleRate, 8000, 100e6, rate))
        return problem;
    if (auto problem = readNumberOption(parser, options.frequency, 1, 100e9, frequency))
        return problem;
    if (auto problem = readNumberOption(parser, options.ppm, -1000, 1000, ppm))
        return problem;
    if (auto problem = readNumberOption(parser, options.gain, 0, 100, gain))
        return problem;
    if (parser.isSet(options.tune)) {
        double tune = 0;
        if (auto problem = readNumberOption(parser, options.tune, -rate / 2, rate / 2, tune))
            return problem;
        r.sdr.tuneHz = tune;
    }
    const auto demod = demodByName(parser.value(options.demod));
    if (!demod)
        return QStringLiteral("--demod must be auto, am or fm (got '%1')")
            .arg(parser.value(options.demod));
    r.sdr.demod = *demod;
    r.sdr.sampleRate = rate;
    r.rateGiven = parser.isSet(options.sampleRate);
    r.rtl.sampleRate = r.soapy.sampleRate = rate;
    r.rtl.frequencyHz = r.soapy.frequencyHz = frequency;
    r.rtl.ppm = static_cast<int>(ppm);
    if (parser.isSet(options.gain))
        r.rtl.gainDb = r.soapy.gainDb = gain;
    request = r;
    return std::nullopt;
}

std::optional<QString> applyIqFileName(SdrRequest& request, const QString& path)
{
    const IqNameInfo info = iqNameInfo(path);
    if (!request.rateGiven && info.sampleRate)
        request.sdr.sampleRate = *info.sampleRate;
    if (!request.formatGiven) {
        if (!info.format)
            return QStringLiteral("--iq auto: the name of '%1' does not say its format (%2)")
                .arg(path, iqFormatChoices());
        request.sdr.format = *info.format;
    }
    return std::nullopt;
}

std::unique_ptr<SampleSource> makeSdrSource(const SdrRequest& request, const QString& iqPath,
                                            bool realTime, QObject* parent)
{
    switch (request.kind) {
    case SdrRequest::Kind::IqFile: {
        SdrRequest named = request;
        applyIqFileName(named, iqPath);
        return std::make_unique<IqFileSource>(iqPath, named.sdr, realTime, parent);
    }
    case SdrRequest::Kind::RtlTcp:
        return std::make_unique<RtlTcpSource>(request.rtl, request.sdr, parent);
    case SdrRequest::Kind::Soapy:
        return std::make_unique<SoapySource>(request.soapy, request.sdr, parent);
    case SdrRequest::Kind::None:
        break;
    }
    return nullptr;
}

} // namespace corvane
