#pragma once

#include "IqFile.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <memory>
#include <optional>
#include <span>

namespace corvane {

// "corvane_20261207_123456_27200000Hz_2400000sps.cu8": how SDR programs name their IQ
// recordings, so that they and we can read centre and rate back. The centre is left out when
// it is not known (0).
QString iqRecordingName(const QDateTime& when, double centreHz, double sampleRate, IqFormat format);

// What an IQ recording's name tells: the format from its extension (gqrx's "_fc.raw" is
// cf32), the centre from "_<N>Hz", the rate from "_<N>sps" (or gqrx's
// "gqrx_DATE_TIME_<centre>_<rate>_fc.raw"). Each is nullopt when the name does not say.
struct IqNameInfo
{
    std::optional<IqFormat> format;
    std::optional<double> centreHz, sampleRate;
};
IqNameInfo iqNameInfo(const QString& path);

// Records IQ as it arrives into a folder under iqRecordingName(). The samples go to
// "<name>.part" until close() moves the finished file to its name: a recording that failed or
// was cut off is never found under the name of a complete one.
class IqRecorder
{
public:
    // Nullptr and a one-line reason naming the file if it cannot be made.
    static std::unique_ptr<IqRecorder> open(const QString& folder, double centreHz,
                                            double sampleRate, IqFormat format, QString* error);
    ~IqRecorder(); // as close(), dropping its error
    IqRecorder(const IqRecorder&) = delete;
    IqRecorder& operator=(const IqRecorder&) = delete;

    // Bytes already in the recorder's format.
    bool writeBytes(std::span<const std::uint8_t> bytes);
    // Samples, encoded into the recorder's format.
    bool write(std::span<const IqSample> samples);
    // False once a write failed; error() says why, and nothing more is written.
    bool ok() const { return failure_.isEmpty(); }
    QString error() const { return failure_; }
    // Finishes the file and moves it to path(); false and a reason if anything went wrong,
    // now or in an earlier write (what was written stays under the .part name).
    bool close(QString* error);

    const QString& path() const { return path_; }
    IqFormat format() const { return format_; }
    qint64 bytesWritten() const { return written_; }

private:
    IqRecorder(QString path, IqFormat format);

    QString path_;
    IqFormat format_;
    QFile file_;
    qint64 written_ = 0;
    QString failure_;
};

} // namespace corvane
