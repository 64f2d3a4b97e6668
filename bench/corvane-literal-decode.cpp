// corvane-decode with the literal decoder inside: reads the input and writes the picture the
// same way, so timing both over one file compares the decoders, start-up and I/O included.
#include "ImageSurface.h"
#include "LiteralDecoder.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

using namespace corvane;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const auto options = settingOptions(true);
    addSettingOptions(parser, options);
    const QCommandLineOption outOption(QStringList{QStringLiteral("o")},
                                       QStringLiteral("Picture (.png or .ppm)."),
                                       QStringLiteral("OUT"));
    parser.addOption(outOption);
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("The recording."));
    parser.process(app);

    DecoderSettings settings;
    if (const auto problem = readSettingOptions(parser, options, settings)) {
        std::fprintf(stderr, "corvane-literal-decode: %s\n", qUtf8Printable(*problem));
        return 2;
    }
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "corvane-literal-decode: expects exactly one INPUT\n");
        return 2;
    }
    QString error;
    const auto samples =
        loadSamples(parser.positionalArguments().front(), settings.sampleRate, &error);
    if (!samples) {
        std::fprintf(stderr, "corvane-literal-decode: %s\n", qUtf8Printable(error));
        return 1;
    }

    testing::ArraySurface surface;
    testing::LiteralDecoder decoder(settings, surface);
    const auto block = static_cast<std::size_t>(settings.blockSize);
    for (std::size_t at = 0; at < samples->size(); at += block)
        decoder.DecodeBlock(samples->data() + at,
                            static_cast<std::int32_t>(std::min(block, samples->size() - at)));

    if (parser.isSet(outOption)) {
        QImage image(ImageSurface::kWidth, ImageSurface::kHeight, QImage::Format_RGB32);
        for (int y = 0; y < ImageSurface::kHeight; ++y)
            for (int x = 0; x < ImageSurface::kWidth; ++x)
                image.setPixel(x, y, ImageSurface::toRgb(surface.at(x, y)));
        const QString out = parser.value(outOption);
        QSaveFile file(out);
        const QByteArray format = out.toLower().endsWith(QLatin1String(".ppm")) ? "ppm" : "png";
        QImageWriter writer(&file, format);
        if (!file.open(QIODevice::WriteOnly) || !writer.write(image) || !file.commit()) {
            std::fprintf(stderr, "corvane-literal-decode: cannot write '%s'\n",
                         qUtf8Printable(out));
            return 1;
        }
    }
    return 0;
}
