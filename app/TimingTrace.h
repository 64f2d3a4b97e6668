#pragma once

#include "CaptureEngine.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

class QWidget;

namespace corvane {

class CaptureEngine;
class PictureView;

// A timing trace of the live program, for measuring its delays from outside: one line per
// buffer decoded and one per repaint of the picture, each stamped with CLOCK_MONOTONIC, which
// every process on the machine shares, so a feeder's own log lines up with it.
//
//   D <ns> <bytes> <running bytes> <running CRC-32, hex>   a buffer has been decoded
//   P <ns>                                                 the picture's paint has ended
//   F <ns>                                                 the window has been flushed to screen
//
// The running CRC-32 is zlib's over every byte decoded so far, so a reader can tell a lost or
// doubled buffer from the byte counts and checksums alone. Lines are buffered and written
// out when the trace ends, so tracing adds no system call per buffer.
class TimingTrace : public QObject
{
public:
    // Opens (truncates) path; nullptr and a reason in *error if it cannot be written.
    static std::unique_ptr<TimingTrace> open(const QString& path, QString* error);
    ~TimingTrace() override;

    // Traces the engine's decoded buffers, the picture's paints and the window's flushes. The
    // trace must outlive the engine; window and picture may go first.
    void watch(CaptureEngine& engine, QWidget& window, PictureView& picture);

    std::int64_t bytes() const { return bytes_; }
    std::int64_t paints() const { return paints_; }
    std::int64_t flushes() const { return flushes_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TimingTrace(std::FILE* file);
    void decoded(const std::uint8_t* data, std::int32_t count);
    void mark(char kind);

    std::FILE* file_;
    TapHandle tap_;
    QWidget* window_ = nullptr;
    QWidget* picture_ = nullptr;
    std::int64_t bytes_ = 0;
    std::uint32_t crc_ = 0;
    std::int64_t paints_ = 0;
    std::int64_t flushes_ = 0;
};

} // namespace corvane
