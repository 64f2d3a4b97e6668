// Writes a synthetic transmission that the decoder turns into a test card; the demo, the
// tests and the benchmarks make their signals with it.
#include "DecoderSettings.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundFile.h"
#include "TestCard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>
#include <cstdio>

using namespace corvane;

namespace {

constexpr int kBadUsage = 2;
constexpr int kCannotWrite = 1;
constexpr double kMaxSeconds = 3 * 3600;

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "corvane-testcard: %s\n", qUtf8Printable(message));
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-testcard"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a test-card signal for the given decoder settings: grey wedges, a ring, a sync "
        "line along the top (azure when --min-level is above 0) and, with --clip, a clipped "
        "burst in every second frame."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto options = settingOptions(false);
    addSettingOptions(parser, options);
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"),
        QStringLiteral("Length of the signal in seconds, above 0 and up to %1 (default 2).")
            .arg(kMaxSeconds),
        QStringLiteral("S"), QStringLiteral("2"));
    const QCommandLineOption clipOption(
        QStringLiteral("clip"), QStringLiteral("Add a clipped burst to every second frame."));
    const QCommandLineOption outOption(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Where to write: *.wav (8-bit PCM), *.raw or *.u8 (raw unsigned 8-bit), "
                       "or - for raw bytes on stdout."),
        QStringLiteral("OUT"));
    parser.addOption(secondsOption);
    parser.addOption(clipOption);
    parser.addOption(outOption);

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kBadUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        const QString text = parser.isSet(QStringLiteral("help"))
                                 ? parser.helpText()
                                 : QStringLiteral("corvane-testcard %1\n").arg(CORVANE_VERSION);
        QString error;
        return writeStandardOutput(text.toUtf8(), &error) ? 0 : fail(kCannotWrite, error);
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(kBadUsage, QStringLiteral("unexpected argument '%1' (the output goes with -o)")
                                   .arg(parser.positionalArguments().front()));

    TestCardOptions card;
    if (const auto problem = readSettingOptions(parser, options, card.settings))
        return fail(kBadUsage, *problem);

    bool ok = false;
    const double seconds = parser.value(secondsOption).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > kMaxSeconds)
        return fail(kBadUsage, QStringLiteral("--seconds must be above 0 and at most %1 (got '%2')")
                                   .arg(kMaxSeconds)
                                   .arg(parser.value(secondsOption)));
    if (!parser.isSet(outOption))
        return fail(kBadUsage, QStringLiteral("-o OUT is required"));
    const QString out = parser.value(outOption);
    if (out != QLatin1String("-") && !isRawSampleName(out) &&
        !out.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return fail(
            kBadUsage,
            QStringLiteral("-o must name a .wav, .raw or .u8 file or - (got '%1')").arg(out));

    QString error;
    if (out != QLatin1String("-") && !canReplaceFile(out, &error))
        return fail(kCannotWrite, error);
    card.samples = std::llround(seconds * card.settings.sampleRate);
    card.clippedBurst = parser.isSet(clipOption);
    if (!writeSamples(out, makeTestCard(card), card.settings.sampleRate, &error))
        return fail(kCannotWrite, error);
    return 0;
}
