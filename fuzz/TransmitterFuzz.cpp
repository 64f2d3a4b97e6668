// The test transmitter's picture input: any bytes an image file might hold, as
// corvane-testcard --standard --picture reads them, through rasterFor and transmit.
#include "NbtvTransmitter.h"
#include "Standard.h"

#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane;
    if (size < 1)
        return 0;
    // Pictures past a few megapixels only cost time; Qt refuses those above the allocation limit.
    QImageReader::setAllocationLimit(16);
    const QImage picture = QImage::fromData(QByteArray::fromRawData(
        reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1)));
    if (picture.isNull() || picture.width() * static_cast<qint64>(picture.height()) > 4'000'000)
        return 0;
    const auto standards = knownStandards();
    TransmitterOptions options;
    options.standard = standards[data[0] % standards.size()];
    options.seconds = 0.2;
    options.sampleRate = 8000;
    options.negative = data[0] & 0x80;
    options.amHz = (data[0] & 0x40) ? 2000 : 0;
    const QImage raster = rasterFor(picture, options.standard);
    transmit(raster, options);
    return 0;
}
