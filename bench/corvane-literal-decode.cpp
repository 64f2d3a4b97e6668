// corvane-decode with the literal decoder inside: reads the input (streamed, in blocks) and
// writes the picture the same way, so timing both over one file compares the decoders, start-up and
// I/O included.
#include "ImageSurface.h"
#include "LiteralDecoder.h"
#include "SafeFile.h"
#include "SettingOptions.h"
#include "SoundFile.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <algorithm>
#include <cstdio>
#include <vector>

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
    testing::ArraySurface surface;
    testing::LiteralDecoder decoder(settings, surface);
    const auto blockSize = static_cast<std::size_t>(settings.blockSize);
    std::vector<std::uint8_t> block;
    block.reserve(blockSize);
    const auto decode = [&] {
        decoder.DecodeBlock(block.data(), static_cast<std::int32_t>(block.size()));
        block.clear();
    };
    QString error;
    const bool read = streamSamples(
        parser.positionalArguments().front(), settings.sampleRate,
        [&](const std::uint8_t* data, std::size_t count) {
            while (count > 0) {
                const std::size_t take = std::min(count, blockSize - block.size());
                block.insert(block.end(), data, data + take);
                data += take;
                count -= take;
                if (block.size() == blockSize)
                    decode();
            }
        },
        SampleReadOptions{}, &error, nullptr);
    if (!read) {
        std::fprintf(stderr, "corvane-literal-decode: %s\n", qUtf8Printable(error));
        return 1;
    }
    if (!block.empty())
        decode();

    if (parser.isSet(outOption)) {
        QImage image(ImageSurface::kWidth, ImageSurface::kHeight, QImage::Format_RGB32);
        for (int y = 0; y < ImageSurface::kHeight; ++y)
            for (int x = 0; x < ImageSurface::kWidth; ++x)
                image.setPixel(x, y, ImageSurface::toRgb(surface.at(x, y)));
        const QString out = parser.value(outOption);
        const QByteArray format = out.toLower().endsWith(QLatin1String(".ppm")) ? "ppm" : "png";
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!QImageWriter(&buffer, format).write(image) || !writeFileSafely(out, bytes, &error)) {
            std::fprintf(stderr, "corvane-literal-decode: cannot write '%s': %s\n",
                         qUtf8Printable(out), qUtf8Printable(error));
            return 1;
        }
    }
    return 0;
}
