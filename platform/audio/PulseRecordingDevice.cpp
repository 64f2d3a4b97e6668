#include "PulseRecordingDevice.h"

#include "RecordingDevices.h"
#include "WaveEvents.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtGlobal>
#include <algorithm>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/glib-mainloop.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

namespace corvane {

namespace {

constexpr const char* kClientName = "Corvane";
// The loop runs at least this often while recording; a gap of kStall means it stood still.
constexpr auto kBeat = std::chrono::milliseconds(200);
constexpr auto kStall = std::chrono::seconds(1);
// After a stand-still, the server hands over what it kept well within this.
constexpr auto kHandOver = std::chrono::milliseconds(500);
const QString kOpenFailed = QStringLiteral("Can't open audio device");

// Small fragments keep the delay from the server to the picture near 10 ms; the default
// fragment of a record stream is two seconds.
std::uint32_t fragmentBytes(std::uint32_t sampleRate)
{
    return std::max<std::uint32_t>(sampleRate / 100, 16);
}

struct ServerSources
{
    QList<RecordingDeviceInfo> sources;
    QString defaultSource;
};

// Asks the server for its sources on a connection and main loop of our own, iterated here
// until the answer or the timeout: a server that stopped answering costs timeoutMs, and no
// other event is handled meanwhile.
std::optional<ServerSources> querySources(int timeoutMs, QString* error)
{
    struct Query
    {
        ServerSources found;
        int pending = 2;
    } query;
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = loop ? pa_context_new(pa_mainloop_get_api(loop), kClientName) : nullptr;
    pa_operation* ops[2] = {};
    QString problem;
    // Never start a server of our own: no server means no recording devices.
    if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        problem = QStringLiteral("Can't create an audio server connection");
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (problem.isEmpty() && query.pending > 0) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            problem = QStringLiteral("Can't connect to the audio server: %1")
                          .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context))));
            break;
        }
        if (state == PA_CONTEXT_READY && !ops[0]) {
            ops[0] = pa_context_get_source_info_list(
                context,
                [](pa_context*, const pa_source_info* info, int eol, void* data) {
                    auto* q = static_cast<Query*>(data);
                    if (eol) {
                        --q->pending;
                    } else if (info) {
                        q->found.sources.append(
                            {QString::fromUtf8(info->name),
                             QString::fromUtf8(info->description ? info->description : "")});
                    }
                },
                &query);
            ops[1] = pa_context_get_server_info(
                context,
                [](pa_context*, const pa_server_info* info, void* data) {
                    auto* q = static_cast<Query*>(data);
                    if (info && info->default_source_name) {
                        q->found.defaultSource = QString::fromUtf8(info->default_source_name);
                    }
                    --q->pending;
                },
                &query);
            if (!ops[0] || !ops[1]) {
                problem = QStringLiteral("The audio server refused the list of recording devices");
                break;
            }
            continue;
        }
        if (deadline.hasExpired()) {
            problem = state == PA_CONTEXT_READY
                          ? QStringLiteral("The audio server did not list its recording devices")
                          : QStringLiteral("Can't connect to the audio server: no answer");
            break;
        }
        if (pa_mainloop_prepare(loop, static_cast<int>(deadline.remainingTime()) * 1000) < 0 ||
            pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) {
            problem = QStringLiteral("Can't connect to the audio server");
        }
    }
    for (pa_operation* op : ops) {
        if (op) {
            pa_operation_cancel(op); // its callback must not see the query after we return
            pa_operation_unref(op);
        }
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    if (loop) {
        pa_mainloop_free(loop);
    }
    if (!problem.isEmpty()) {
        if (error) {
            *error = problem;
        }
        return std::nullopt;
    }
    return query.found;
}

} // namespace

PulseRecordingDevice::PulseRecordingDevice(QString sourceName, int timeoutMs, int backlogSeconds,
                                           double serverBufferSeconds)
    : sourceName_(std::move(sourceName)), timeoutMs_(timeoutMs),
      backlogSeconds_(static_cast<std::size_t>(std::max(backlogSeconds, 0))),
      serverBufferSeconds_(std::max(serverBufferSeconds, 0.0))
{
    giveUp_.setSingleShot(true);
    QObject::connect(&giveUp_, &QTimer::timeout, [this] { fail(kOpenFailed); });
    heartbeat_.setInterval(kBeat);
    QObject::connect(&heartbeat_, &QTimer::timeout, [this] { beat(); });
    stallCheck_.setSingleShot(true);
    QObject::connect(&stallCheck_, &QTimer::timeout, [this] { checkStall(); });
}

PulseRecordingDevice::~PulseRecordingDevice()
{
    abandon();
    if (loop_) {
        pa_glib_mainloop_free(loop_);
    }
}

std::uint32_t PulseRecordingDevice::deviceCount()
{
    // A reason from an earlier attempt must not follow a later, different failure.
    lastError_.clear();
    const auto found = querySources(timeoutMs_, &lastError_);
    knownSources_.clear();
    if (!found) {
        return 0;
    }
    for (const RecordingDeviceInfo& source : found->sources) {
        knownSources_.append(source.name);
    }
    return static_cast<std::uint32_t>(found->sources.size());
}

bool PulseRecordingDevice::open(std::uint32_t deviceNumber, const WaveFormat& format,
                                QObject* notificationTarget)
{
    if (queue_.isOpen() || deviceNumber != 0 || !notificationTarget || format.channels != 1 ||
        format.bitsPerSample != 8 || format.sampleRate <= 0 ||
        (!sourceName_.isEmpty() && !knownSources_.isEmpty() &&
         !knownSources_.contains(sourceName_))) {
        return false;
    }
    const pa_sample_spec sampleFormat{PA_SAMPLE_U8, static_cast<std::uint32_t>(format.sampleRate),
                                      1};
    if (!pa_sample_spec_valid(&sampleFormat)) {
        return false;
    }
    // libpulse's GLib adapter runs on the main context, which only Qt's GLib dispatcher turns.
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        lastError_ = QStringLiteral("Live recording needs Qt's GLib event loop (unset QT_NO_GLIB)");
        return false;
    }
    // A fresh adapter for every connection: on one whose earlier connection has gone, a new
    // connection never got past connecting here (libpulse 16, GLib 2.74).
    if (loop_) {
        pa_glib_mainloop_free(loop_);
    }
    loop_ = pa_glib_mainloop_new(nullptr);
    // The adapter is a GSource (its first member, since libpulse 0.9.x). Left non-recursive,
    // GLib takes its descriptors out of the poll set and puts them back around every dispatch,
    // waking the loop twice for each: most of the cost of a fragment. Our callbacks never run
    // a nested loop, so recursion cannot happen.
    if (loop_) {
        g_source_set_can_recurse(reinterpret_cast<GSource*>(loop_), TRUE);
    }
    context_ = loop_ ? pa_context_new(pa_glib_mainloop_get_api(loop_), kClientName) : nullptr;
    if (!context_) {
        return false;
    }
    pa_context_set_state_callback(
        context_,
        [](pa_context* c, void* self) {
            static_cast<PulseRecordingDevice*>(self)->onContextState(c);
        },
        this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        release();
        return false;
    }
    rate_ = sampleFormat.rate;
    streaming_ = recording_ = failed_ = false;
    backlog_.clear();
    backlogHead_ = 0;
    queue_.open(notificationTarget);
    giveUp_.start(timeoutMs_);
    return true;
}

void PulseRecordingDevice::onContextState(pa_context* context)
{
    if (context != context_) {
        return; // one we have let go (see release())
    }
    const pa_context_state_t state = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(state)) {
        fail(streaming_ ? QStringLiteral("Recording stopped: lost the connection to the audio "
                                         "server")
                        : kOpenFailed);
        return;
    }
    if (state != PA_CONTEXT_READY || stream_) {
        return;
    }
    const pa_sample_spec sampleFormat{PA_SAMPLE_U8, rate_, 1};
    stream_ = pa_stream_new(context_, "Picture signal", &sampleFormat, nullptr);
    if (!stream_) {
        fail(kOpenFailed);
        return;
    }
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream* s, void* self) {
            static_cast<PulseRecordingDevice*>(self)->onStreamState(s);
        },
        this);
    pa_stream_set_read_callback(
        stream_,
        [](pa_stream* s, std::size_t, void* self) {
            static_cast<PulseRecordingDevice*>(self)->onRead(s);
        },
        this);
    pa_buffer_attr attr;
    std::fill_n(reinterpret_cast<std::uint32_t*>(&attr), sizeof attr / sizeof(std::uint32_t),
                static_cast<std::uint32_t>(-1)); // every field "server's choice" ...
    attr.fragsize = fragmentBytes(rate_);        // ... except the fragment
    if (serverBufferSeconds_ > 0) {
        attr.maxlength =
            std::max(attr.fragsize, static_cast<std::uint32_t>(serverBufferSeconds_ * rate_));
    }
    // Corked until start(), like a wave-in device that records only once started. A source
    // that goes away ends the capture instead of silently switching to another one.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (!recording_) {
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    }
    const QByteArray source = sourceName_.toUtf8();
    if (pa_stream_connect_record(stream_, source.isEmpty() ? nullptr : source.constData(), &attr,
                                 flags) < 0) {
        fail(kOpenFailed);
    }
}

void PulseRecordingDevice::onStreamState(pa_stream* stream)
{
    if (stream != stream_) {
        return;
    }
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state)) {
        const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        if (streaming_ && !serverGone) {
            lostSource_ = recordedSource_;
        }
        fail(!streaming_ ? kOpenFailed
             : serverGone
                 ? QStringLiteral("Recording stopped: lost the connection to the audio server")
                 : QStringLiteral("Recording stopped: the recording device is gone"));
        return;
    }
    if (state != PA_STREAM_READY || streaming_) {
        return;
    }
    giveUp_.stop();
    streaming_ = true;
    recordedSource_ = QString::fromUtf8(pa_stream_get_device_name(stream_));
    queue_.post(kWaveOpenEvent);
    // Not the source we had: it went away, and the server chose this one for us.
    if (!lostSource_.isEmpty() && recordedSource_ != lostSource_) {
        queue_.post(
            kWaveNoticeEvent, nullptr,
            QStringLiteral("Recording from %1: %2 is gone").arg(recordedSource_, lostSource_));
    }
    lostSource_.clear();
    if (recording_) {
        setCorked(false); // start() came while the stream was being made corked
    }
}

bool PulseRecordingDevice::prepareBuffer(WaveBuffer* buffer)
{
    return queue_.prepare(buffer);
}

bool PulseRecordingDevice::addBuffer(WaveBuffer* buffer)
{
    if (!queue_.add(buffer)) {
        return false;
    }
    if (failed_) {
        // The stream is gone and the engine has been told; hand it straight back so the
        // queue drains into a close without a second message.
        queue_.handBack();
    } else {
        takeFromBacklog();
    }
    return true;
}

bool PulseRecordingDevice::start()
{
    if (!queue_.isOpen() || failed_) {
        return false;
    }
    if (!recording_ && streaming_) {
        setCorked(false);
    }
    recording_ = true;
    lastRead_ = {};
    lastBeat_ = Clock::now();
    heartbeat_.start();
    return true;
}

bool PulseRecordingDevice::reset()
{
    if (!queue_.isOpen()) {
        return false;
    }
    if (recording_ && streaming_) {
        setCorked(true);
    }
    recording_ = false;
    stopStallWatch();
    // Recorded after the last buffer ran out: no buffer of this take holds it.
    backlog_.clear();
    backlogHead_ = 0;
    reportLoss();
    queue_.handBack();
    return true;
}

bool PulseRecordingDevice::unprepareBuffer(WaveBuffer* buffer)
{
    return queue_.unprepare(buffer);
}

bool PulseRecordingDevice::close()
{
    if (!queue_.close()) {
        return false;
    }
    release();
    return true;
}

void PulseRecordingDevice::abandon()
{
    queue_.abandon();
    release();
}

// No need to wait for the server's answer: whatever arrives while not recording is dropped.
void PulseRecordingDevice::setCorked(bool corked)
{
    if (pa_operation* op = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr)) {
        pa_operation_unref(op);
    }
}

void PulseRecordingDevice::onRead(pa_stream* stream)
{
    if (stream != stream_) {
        return;
    }
    beat(); // a stand-still is seen here first when data was waiting
    std::int64_t read = 0;
    while (pa_stream_readable_size(stream_) > 0) {
        const void* bytes = nullptr;
        std::size_t n = 0;
        if (pa_stream_peek(stream_, &bytes, &n) < 0 || n == 0) {
            break;
        }
        // bytes is null for a hole in the stream: nothing was recorded there.
        if (bytes && recording_) {
            consume(static_cast<const std::uint8_t*>(bytes), n);
        }
        read += static_cast<std::int64_t>(n);
        pa_stream_drop(stream_);
    }
    if (!recording_) {
        return;
    }
    readSinceStall_ += read;
    // Still handing over what it kept (far more than comes live in one go): count once it is done.
    if (stallCheck_.isActive() && read > 10 * static_cast<std::int64_t>(fragmentBytes(rate_))) {
        stallCheck_.start(kHandOver);
    }
    if (!stallCheck_.isActive()) {
        lastRead_ = Clock::now();
        readSinceStall_ = 0;
    }
}

// Fills the queued buffers in order; what finds no buffer waits in the backlog, and beyond
// that it is lost, as on a sound card that overruns.
void PulseRecordingDevice::consume(const std::uint8_t* data, std::size_t count)
{
    const std::size_t used = backlog_.empty() ? queue_.fill(data, count) : 0;
    bytesCaptured_ += static_cast<std::int64_t>(used);
    if (used == count) {
        reportLoss();
        return;
    }
    if (backlogHead_ > 0 && backlogHead_ * 2 >= backlog_.size()) {
        backlog_.erase(backlog_.begin(),
                       backlog_.begin() + static_cast<std::ptrdiff_t>(backlogHead_));
        backlogHead_ = 0;
    }
    const std::size_t limit = backlogSeconds_ * rate_;
    const std::size_t held = backlog_.size() - backlogHead_;
    const std::size_t keep = std::min(count - used, limit - std::min(limit, held));
    backlog_.insert(backlog_.end(), data + used, data + used + keep);
    const auto lost = static_cast<std::int64_t>(count - used - keep);
    bytesDropped_ += lost;
    unreportedLoss_ += lost;
    if (lost == 0) {
        reportLoss();
    }
}

void PulseRecordingDevice::takeFromBacklog()
{
    if (backlogHead_ == backlog_.size()) {
        return;
    }
    const std::size_t used =
        queue_.fill(backlog_.data() + backlogHead_, backlog_.size() - backlogHead_);
    backlogHead_ += used;
    bytesCaptured_ += static_cast<std::int64_t>(used);
    if (backlogHead_ == backlog_.size()) {
        backlog_.clear();
        backlogHead_ = 0;
    }
}

// Once per stretch of losses, when it has ended: how much the picture skipped.
void PulseRecordingDevice::reportLoss()
{
    if (unreportedLoss_ == 0 || stallCheck_.isActive()) {
        return; // after a stand-still, once with what the server dropped
    }
    const double seconds = static_cast<double>(unreportedLoss_) / std::max<std::uint32_t>(rate_, 1);
    qWarning("Recording fell behind: %.1f s of audio (%lld bytes) lost", seconds,
             static_cast<long long>(unreportedLoss_));
    const QString text =
        stalledSeconds_ > 0
            ? QStringLiteral("Recording fell behind: the program stood still for %1 s and about "
                             "%2 s of audio were lost")
                  .arg(stalledSeconds_, 0, 'f', 1)
                  .arg(seconds, 0, 'f', 1)
            : QStringLiteral("Recording fell behind: %1 s of audio were lost")
                  .arg(seconds, 0, 'f', 1);
    unreportedLoss_ = 0;
    stalledSeconds_ = 0;
    if (queue_.isOpen()) {
        queue_.post(kWaveNoticeEvent, nullptr, text);
    }
}

// Marks the loop as running; a gap since the last mark means this thread stood still, and what
// the server kept meanwhile is about to arrive.
void PulseRecordingDevice::beat()
{
    const Clock::time_point now = Clock::now();
    const bool stood = lastBeat_ != Clock::time_point{} && now - lastBeat_ > kStall;
    lastBeat_ = now;
    if (stood && recording_ && lastRead_ != Clock::time_point{} && !stallCheck_.isActive()) {
        stallCheck_.start(kHandOver);
    }
}

// What the source made since the last read before the stand-still, by the clock, against what
// arrived of it: the rest the server dropped.
void PulseRecordingDevice::checkStall()
{
    const Clock::time_point now = Clock::now();
    const std::chrono::duration<double> since = now - lastRead_;
    const auto made = static_cast<std::int64_t>(since.count() * rate_);
    // Up to a fragment or two can still be on the way.
    const std::int64_t missing = made - readSinceStall_ - 2 * fragmentBytes(rate_);
    if (missing > 0) {
        bytesDropped_ += missing;
        unreportedLoss_ += missing;
        stalledSeconds_ = since.count() - std::chrono::duration<double>(kHandOver).count();
    }
    lastRead_ = now;
    readSinceStall_ = 0;
    reportLoss();
}

void PulseRecordingDevice::stopStallWatch()
{
    heartbeat_.stop();
    if (stallCheck_.isActive()) {
        stallCheck_.stop();
        checkStall(); // what has not arrived by now is not in this take either
    }
}

void PulseRecordingDevice::fail(const QString& text)
{
    if (!queue_.isOpen() || failed_) {
        return;
    }
    release();
    failed_ = true;
    queue_.post(kWaveErrorEvent, nullptr, text);
    queue_.handBack();
}

// The one way a connection ends (close, abandon, failure, destruction): no call waits for the
// server. libpulse keeps the callbacks of a stream or context that has already failed, so the
// handlers also ignore calls about any but the current ones.
void PulseRecordingDevice::release()
{
    giveUp_.stop();
    stopStallWatch();
    reportLoss();
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
            pa_stream_disconnect(stream_);
        }
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    streaming_ = recording_ = false;
    backlog_.clear();
    backlogHead_ = 0;
}

std::unique_ptr<RecordingDevice> makePulseRecordingDevice(const QString& sourceName)
{
    return std::make_unique<PulseRecordingDevice>(sourceName);
}

std::optional<QList<RecordingDeviceInfo>> listRecordingDevices(QString* error)
{
    auto found = querySources(2000, error);
    if (!found) {
        return std::nullopt;
    }
    return found->sources;
}

} // namespace corvane
