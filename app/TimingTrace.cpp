#include "TimingTrace.h"

#include "CaptureEngine.h"
#include "PictureView.h"

#include <QDeadlineTimer>
#include <QEvent>
#include <QFile>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <zlib.h>

namespace corvane {

namespace {

constexpr std::size_t kFileBuffer = 1 << 16;

// The monotonic clock the feeder stamps its writes with, in nanoseconds.
std::int64_t monotonicNanoseconds()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

} // namespace

std::unique_ptr<TimingTrace> TimingTrace::open(const QString& path, QString* error)
{
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "we");
    if (!file) {
        if (error)
            *error = QStringLiteral("Cannot write the timing trace %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, kFileBuffer);
    return std::unique_ptr<TimingTrace>(new TimingTrace(file));
}

TimingTrace::TimingTrace(std::FILE* file) : file_(file) {}

TimingTrace::~TimingTrace()
{
    std::fclose(file_);
}

void TimingTrace::watch(CaptureEngine& engine, QWidget& window, PictureView& picture)
{
    tap_ = engine.addDecodedTap([this](const DecodedBlock& b) { decoded(b.data, b.count); },
                                CaptureEngine::TapPlace::First);
    window_ = &window;
    picture_ = &picture;
    window.installEventFilter(this);
    picture.installEventFilter(this);
    // Painted and flushed in one go, with no event of Qt's to mark either.
    connect(&picture, &PictureView::dueShown, this, [this] {
        ++paints_;
        mark('P');
        ++flushes_;
        mark('F');
    });
}

// The picture paints, and the window paints and flushes to the window system, while they
// handle these events; the marks are for their end, so the event is handled here first.
bool TimingTrace::eventFilter(QObject* watched, QEvent* event)
{
    const bool painting = watched == picture_ && event->type() == QEvent::Paint;
    const bool flushing = watched == window_ && event->type() == QEvent::UpdateRequest;
    if (!painting && !flushing)
        return false;
    watched->event(event);
    if (painting)
        ++paints_;
    else
        ++flushes_;
    mark(painting ? 'P' : 'F');
    return true;
}

void TimingTrace::decoded(const std::uint8_t* data, std::int32_t count)
{
    const std::int64_t now = monotonicNanoseconds();
    if (count > 0) {
        crc_ = static_cast<std::uint32_t>(::crc32(crc_, data, static_cast<uInt>(count)));
        bytes_ += count;
    }
    std::fprintf(file_, "D %lld %d %lld %08x\n", static_cast<long long>(now), count,
                 static_cast<long long>(bytes_), static_cast<unsigned>(crc_));
}

void TimingTrace::mark(char kind)
{
    std::fprintf(file_, "%c %lld\n", kind, static_cast<long long>(monotonicNanoseconds()));
}

} // namespace corvane
