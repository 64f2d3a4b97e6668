#pragma once

#include "IqDemodChain.h"
#include "RtlTcpSource.h"
#include "SampleSource.h"
#include "SoapySource.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <memory>
#include <optional>

namespace corvane {

// SDR reception as command-line options, for the program and the tools alike.
struct SdrCommandLine
{
    QCommandLineOption iq{QStringLiteral("iq"),
                          QStringLiteral("The input is an SDR's IQ recording in FORMAT: %1 "
                                         "(cu8 as an rtl-sdr gives it, cs8 a HackRF; a wav file "
                                         "holds I and Q as its two channels), or auto: as the "
                                         "file's name says (…_2400000sps.cu8).")
                              .arg(iqFormatChoices()),
                          QStringLiteral("FORMAT")};
    QCommandLineOption sampleRate{QStringLiteral("sample-rate"),
                                  QStringLiteral("IQ samples per second of a raw recording or "
                                                 "the SDR (default: what the recording's name "
                                                 "says, else 2400000; a wav file's own rate "
                                                 "wins)."),
                                  QStringLiteral("HZ")};
    QCommandLineOption tune{QStringLiteral("tune"),
                            QStringLiteral("Where the transmission is, in Hz from the tuned "
                                           "centre (default: found by its line sync)."),
                            QStringLiteral("HZ")};
    QCommandLineOption demod{QStringLiteral("demod"),
                             QStringLiteral("Demodulate as am, fm or auto (the default: FM when "
                                            "the envelope is flat)."),
                             QStringLiteral("KIND"), QStringLiteral("auto")};
    QCommandLineOption source{
        QStringList{QStringLiteral("source")},
        QStringLiteral("Take the samples from an SDR: rtl_tcp://HOST:PORT (an rtl_tcp server) or "
                       "soapy:ARGS (SoapySDR device arguments, e.g. soapy:driver=rtlsdr)."),
        QStringLiteral("SDR")};
    QCommandLineOption frequency{QStringLiteral("frequency"),
                                 QStringLiteral("The frequency to tune the SDR to, in Hz."),
                                 QStringLiteral("HZ")};
    QCommandLineOption gain{QStringLiteral("gain"),
                            QStringLiteral("The SDR's tuner gain in dB (default automatic)."),
                            QStringLiteral("DB")};
    QCommandLineOption ppm{QStringLiteral("ppm"),
                           QStringLiteral("An rtl-sdr's crystal error in parts per million."),
                           QStringLiteral("PPM")};

    QList<QCommandLineOption> all() const
    {
        return {iq, sampleRate, tune, demod, source, frequency, gain, ppm};
    }
};

struct SdrRequest
{
    enum class Kind
    {
        None, // no SDR option: the input is sound
        IqFile,
        RtlTcp,
        Soapy
    };
    Kind kind = Kind::None;
    SdrOptions sdr;
    RtlTcpOptions rtl;
    SoapyOptions soapy;
    // Whether the user gave the IQ recording's format (not --iq auto) and its rate.
    bool formatGiven = true, rateGiven = true;
};

// Reads the options into request; a one-line complaint naming the option on a bad value or a
// missing companion (--frequency with --source, --iq or --source for the others).
std::optional<QString> readSdrCommandLine(const QCommandLineParser& parser,
                                          const SdrCommandLine& options, SdrRequest& request);

// Fills in what the options left to the IQ recording's name (see iqNameInfo): the format for
// --iq auto, the rate without --sample-rate. A complaint naming the file when the format is
// still not known.
std::optional<QString> applyIqFileName(SdrRequest& request, const QString& path);

// The source the request asks for (an IQ file at iqPath for Kind::IqFile, its name filling in
// what the options left out); null for Kind::None.
std::unique_ptr<SampleSource> makeSdrSource(const SdrRequest& request, const QString& iqPath,
                                            bool realTime, QObject* parent = nullptr);

} // namespace corvane
