#include "IqRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>

namespace corvane {

QString iqRecordingName(const QDateTime& when, double centreHz, double sampleRate, IqFormat format)
{
    const QString centre =
        centreHz > 0 ? QStringLiteral("_%1Hz").arg(std::llround(centreHz)) : QString();
    return QStringLiteral("corvane_%1%2_%3sps.%4")
        .arg(when.toString(QStringLiteral("yyyyMMdd_HHmmss")), centre)
        .arg(std::llround(sampleRate))
        .arg(iqFormatName(format));
}

IqNameInfo iqNameInfo(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    IqNameInfo info;
    info.format = iqFormatForPath(name);
    static const QRegularExpression gqrx(
        QStringLiteral("^gqrx_\\d{8}_\\d{6}_(\\d+)_(\\d+)_fc\\.raw$"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = gqrx.match(name); m.hasMatch()) {
        info.format = IqFormat::Cf32;
        info.centreHz = m.captured(1).toDouble();
        info.sampleRate = m.captured(2).toDouble();
        return info;
    }
    static const QRegularExpression centre(QStringLiteral("_(\\d+(?:\\.\\d+)?)Hz(?=[_.])"));
    static const QRegularExpression rate(QStringLiteral("_(\\d+(?:\\.\\d+)?)sps(?=[_.])"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (const auto m = centre.match(name); m.hasMatch() && m.captured(1).toDouble() > 0)
        info.centreHz = m.captured(1).toDouble();
    if (const auto m = rate.match(name); m.hasMatch() && m.captured(1).toDouble() > 0)
        info.sampleRate = m.captured(1).toDouble();
    return info;
}

std::unique_ptr<IqRecorder> IqRecorder::open(const QString& folder, double centreHz,
                                             double sampleRate, IqFormat format, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    if (format == IqFormat::Wav)
        return fail(QStringLiteral("IQ is recorded raw (cu8, cs8, cs16 or cf32), not as wav"));
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return fail(QStringLiteral("cannot record IQ into '%1': no such folder").arg(folder));
    // Two recordings in one second get a number; a .part an earlier one left is never reused.
    const QString base =
        iqRecordingName(QDateTime::currentDateTime(), centreHz, sampleRate, format);
    QString path = dir.filePath(base);
    for (int n = 2; QFileInfo::exists(path) || QFileInfo::exists(path + QStringLiteral(".part"));
         ++n)
        path = dir.filePath(QFileInfo(base).completeBaseName() + QStringLiteral("_%1.").arg(n) +
                            QFileInfo(base).suffix());
    std::unique_ptr<IqRecorder> recorder(new IqRecorder(path, format));
    recorder->file_.setFileName(path + QStringLiteral(".part"));
    if (!recorder->file_.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(QStringLiteral("cannot write '%1': %2")
                        .arg(recorder->file_.fileName(), recorder->file_.errorString()));
    return recorder;
}

IqRecorder::IqRecorder(QString path, IqFormat format) : path_(std::move(path)), format_(format) {}

IqRecorder::~IqRecorder()
{
    close(nullptr);
}

bool IqRecorder::writeBytes(std::span<const std::uint8_t> bytes)
{
    if (!ok() || !file_.isOpen())
        return false;
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 done = file_.write(reinterpret_cast<const char*>(bytes.data()), size);
    if (done > 0)
        written_ += done;
    if (done != size)
        failure_ =
            QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString());
    return ok();
}

bool IqRecorder::write(std::span<const IqSample> samples)
{
    if (format_ == IqFormat::Cf32)
        return writeBytes(
            std::span(reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()));
    return writeBytes(encodeIq(format_, samples));
}

bool IqRecorder::close(QString* error)
{
    if (file_.isOpen()) {
        if (ok() && !file_.flush())
            failure_ =
                QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString());
        file_.close();
        if (ok() && !QFile::rename(file_.fileName(), path_))
            failure_ = QStringLiteral("cannot rename '%1' to '%2'").arg(file_.fileName(), path_);
    }
    if (!ok() && error)
        *error = failure_;
    return ok();
}

} // namespace corvane
