#include "VideoWriter.h"

#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <samplerate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace corvane {

namespace {

// What each ending is written as; the first encoder libavcodec has is taken.
struct Container
{
    const char* ending;
    const char* format;
    std::vector<const char*> video;
    std::vector<const char*> audio;
};

const Container* containerFor(const QString& path)
{
    static const std::vector<Container> kContainers = {
        {".mp4", "mp4", {"libx264", "mpeg4"}, {"aac"}},
        {".mkv", "matroska", {"libx264", "mpeg4"}, {"libopus", "libvorbis"}},
        {".webm", "webm", {"libvpx-vp9", "libvpx"}, {"libopus", "libvorbis"}},
    };
    for (const Container& container : kContainers)
        if (path.endsWith(QLatin1String(container.ending), Qt::CaseInsensitive))
            return &container;
    return nullptr;
}

const AVCodec* firstEncoder(const std::vector<const char*>& names)
{
    for (const char* name : names)
        if (const AVCodec* codec = avcodec_find_encoder_by_name(name))
            return codec;
    return nullptr;
}

QString avReason(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int even(int n)
{
    return std::max(2, n + (n & 1));
}

} // namespace

FrameRate FrameRate::fromDouble(double framesPerSecond)
{
    const AVRational q = av_d2q(framesPerSecond, 100000);
    return {q.num, q.den};
}

struct VideoWriter::Output
{
    QString name;         // as the user gave it, for messages
    QString target;       // what the rename replaces (a link's target)
    QByteArray temporary; // empty once renamed
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    SwsContext* scaler = nullptr;
    AVAudioFifo* fifo = nullptr;
    SRC_STATE* resampler = nullptr; // when the sound encoder does not take the track's rate
    std::vector<float> resampled;
    std::vector<float> planar;
    int channels = 0;
    int trackRate = 0; // the rate addAudio() is given
    std::int64_t frames = 0;
    std::int64_t soundPts = 0;
    QString error;

    ~Output()
    {
        if (format && format->pb)
            avio_closep(&format->pb);
        avformat_free_context(format);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        av_packet_free(&packet);
        av_frame_free(&picture);
        av_frame_free(&sound);
        sws_freeContext(scaler);
        if (fifo)
            av_audio_fifo_free(fifo);
        if (resampler)
            src_delete(resampler);
        if (!temporary.isEmpty()) {
            ::unlink(temporary.constData());
            unregisterTemporary(temporary);
        }
    }

    bool fail(const QString& reason)
    {
        if (error.isEmpty())
            error = QStringLiteral("cannot write '%1': %2").arg(name, reason);
        return false;
    }
    bool failAv(const char* doing, int code)
    {
        return fail(QStringLiteral("%1: %2").arg(QLatin1String(doing), avReason(code)));
    }

    bool createTemporary();
    bool openVideo(const AVCodec* codec, FrameRate rate, QSize size);
    bool openAudio(const AVCodec* codec, const AudioTrack& track);
    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame);
    bool encodeSound(bool last);
    bool queue(const float* samples, std::size_t frames);
    bool convert(const float* samples, std::size_t frames, bool end);
    bool complete();
};

// Reserves a name beside the target the way writeFileSafely does, with the permissions a new
// file (or the old one) has; libavformat then writes into it by name.
bool VideoWriter::Output::createTemporary()
{
    const QByteArray base = QFile::encodeName(target) + ".part-" + QByteArray::number(::getpid());
    struct stat old = {};
    const bool replacing = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = base + '-' + QByteArray::number(attempt);
        // Known before it exists: a signal between the two must not leave it behind.
        registerTemporary(candidate);
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            unregisterTemporary(candidate);
        if (fd >= 0) {
            if (replacing)
                ::fchmod(fd, old.st_mode & 07777);
            ::close(fd);
            temporary = candidate;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return fail(QString::fromLocal8Bit(std::strerror(errno)));
}

bool VideoWriter::Output::openVideo(const AVCodec* codec, FrameRate rate, QSize size)
{
    video = avcodec_alloc_context3(codec);
    if (!video)
        return fail(QStringLiteral("out of memory"));
    video->width = size.width();
    video->height = size.height();
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->color_range = AVCOL_RANGE_MPEG;
    video->time_base = {rate.denominator, rate.numerator};
    video->framerate = {rate.numerator, rate.denominator};
    // A key frame every two seconds, so that a player can seek.
    video->gop_size = std::max(1, static_cast<int>(std::lround(2 * rate.value())));
    const QByteArray name = codec->name;
    if (name == "libx264") {
        av_opt_set(video->priv_data, "preset", "veryfast", 0);
        av_opt_set(video->priv_data, "crf", "18", 0);
    } else if (name.startsWith("libvpx")) {
        // Constant quality; "good" at the fastest setting keeps up with live pictures.
        video->bit_rate = name == "libvpx" ? 2000000 : 0;
        av_opt_set(video->priv_data, "crf", "20", 0);
        av_opt_set(video->priv_data, "deadline", "good", 0);
        av_opt_set(video->priv_data, "cpu-used", "5", 0);
    } else {
        video->flags |= AV_CODEC_FLAG_QSCALE;
        video->global_quality = FF_QP2LAMBDA * 3;
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int code = avcodec_open2(video, codec, nullptr); code < 0)
        return failAv(codec->name, code);
    videoStream = avformat_new_stream(format, nullptr);
    if (!videoStream)
        return fail(QStringLiteral("out of memory"));
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;
    if (const int code = avcodec_parameters_from_context(videoStream->codecpar, video); code < 0)
        return failAv(codec->name, code);
    picture = av_frame_alloc();
    if (!picture)
        return fail(QStringLiteral("out of memory"));
    picture->format = video->pix_fmt;
    picture->width = video->width;
    picture->height = video->height;
    if (const int code = av_frame_get_buffer(picture, 0); code < 0)
        return failAv("picture", code);
    return true;
}

bool VideoWriter::Output::openAudio(const AVCodec* codec, const AudioTrack& track)
{
    audio = avcodec_alloc_context3(codec);
    if (!audio)
        return fail(QStringLiteral("out of memory"));
    channels = track.channels;
    trackRate = track.sampleRate;
    // Float samples, planar or interleaved, whichever the encoder takes.
    audio->sample_fmt = AV_SAMPLE_FMT_NONE;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT) {
            audio->sample_fmt = *f;
            break;
        }
    if (audio->sample_fmt == AV_SAMPLE_FMT_NONE)
        return fail(QStringLiteral("%1 takes no float samples").arg(QLatin1String(codec->name)));
    // Opus takes only 48000 Hz and a few lower rates; anything else is converted to 48000.
    int rate = track.sampleRate;
    if (const int* rates = codec->supported_samplerates) {
        const int* end = rates;
        while (*end)
            ++end;
        if (std::find(rates, end, rate) == end)
            rate = std::find(rates, end, 48000) != end ? 48000 : rates[0];
    }
    if (rate != track.sampleRate) {
        int code = 0;
        resampler = src_new(SRC_SINC_MEDIUM_QUALITY, channels, &code);
        if (!resampler)
            return fail(QString::fromLatin1(src_strerror(code)));
    }
    audio->sample_rate = rate;
    av_channel_layout_default(&audio->ch_layout, channels);
    if (QByteArray(codec->name) == "libvorbis") {
        // Vorbis has no bit rate for every sample rate; a quality has a rate for each.
        audio->flags |= AV_CODEC_FLAG_QSCALE;
        audio->global_quality = FF_QP2LAMBDA * 4;
    } else {
        audio->bit_rate = 64000 * channels;
    }
    audio->time_base = {1, rate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int code = avcodec_open2(audio, codec, nullptr); code < 0)
        return failAv(codec->name, code);
    audioStream = avformat_new_stream(format, nullptr);
    if (!audioStream)
        return fail(QStringLiteral("out of memory"));
    audioStream->time_base = audio->time_base;
    if (const int code = avcodec_parameters_from_context(audioStream->codecpar, audio); code < 0)
        return failAv(codec->name, code);
    fifo = av_audio_fifo_alloc(audio->sample_fmt, channels, 4096);
    sound = av_frame_alloc();
    if (!fifo || !sound)
        return fail(QStringLiteral("out of memory"));
    sound->format = audio->sample_fmt;
    sound->sample_rate = rate;
    sound->nb_samples = audio->frame_size > 0 ? audio->frame_size : 1024;
    av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
    if (const int code = av_frame_get_buffer(sound, 0); code < 0)
        return failAv("sound", code);
    return true;
}

bool VideoWriter::Output::encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame)
{
    if (const int code = avcodec_send_frame(codec, frame); code < 0)
        return failAv("encoding", code);
    for (;;) {
        const int code = avcodec_receive_packet(codec, packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return true;
        if (code < 0)
            return failAv("encoding", code);
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (const int written = av_interleaved_write_frame(format, packet); written < 0)
            return failAv("writing", written);
        // libavformat keeps a failed write to itself until the end; a full disk should stop
        // the recording when it happens.
        if (format->pb->error < 0)
            return failAv("writing", format->pb->error);
    }
}

// Interleaved samples at the encoder's rate into the queue, in the encoder's layout.
bool VideoWriter::Output::queue(const float* samples, std::size_t frames)
{
    const auto n = static_cast<std::size_t>(channels);
    void* planes[2] = {const_cast<float*>(samples), nullptr};
    if (audio->sample_fmt == AV_SAMPLE_FMT_FLTP && n > 1) {
        planar.resize(frames * n);
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < n; ++c)
                planar[c * frames + i] = samples[i * n + c];
        planes[0] = planar.data();
        planes[1] = planar.data() + frames;
    }
    if (av_audio_fifo_write(fifo, planes, static_cast<int>(frames)) < 0)
        return fail(QStringLiteral("out of memory"));
    return true;
}

// Samples at the track's rate through the converter into the queue; end flushes it.
bool VideoWriter::Output::convert(const float* samples, std::size_t frames, bool end)
{
    constexpr long kChunk = 4096;
    resampled.resize(static_cast<std::size_t>(kChunk * channels));
    SRC_DATA data = {};
    data.src_ratio = double(audio->sample_rate) / trackRate;
    data.end_of_input = end ? 1 : 0;
    data.data_in = samples;
    data.input_frames = static_cast<long>(frames);
    data.data_out = resampled.data();
    data.output_frames = kChunk;
    for (;;) {
        if (const int code = src_process(resampler, &data); code != 0)
            return fail(QString::fromLatin1(src_strerror(code)));
        if (data.output_frames_gen > 0 &&
            !queue(resampled.data(), static_cast<std::size_t>(data.output_frames_gen)))
            return false;
        data.data_in += data.input_frames_used * channels;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames == 0 && (!end || data.output_frames_gen == 0))
            return true;
    }
}

// Encodes every whole sound frame the queue holds; the last call also the rest, padded with
// silence where the encoder takes only whole frames.
bool VideoWriter::Output::encodeSound(bool last)
{
    const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
    while (av_audio_fifo_size(fifo) >= frameSize || (last && av_audio_fifo_size(fifo) > 0)) {
        if (const int code = av_frame_make_writable(sound); code < 0)
            return failAv("sound", code);
        const int got = av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), frameSize);
        const bool small = audio->codec->capabilities &
                           (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        sound->nb_samples = small ? got : frameSize;
        if (got < frameSize && !small)
            av_samples_set_silence(sound->data, got, frameSize - got, channels, audio->sample_fmt);
        sound->pts = soundPts;
        soundPts += sound->nb_samples;
        if (!encode(audio, audioStream, sound))
            return false;
    }
    sound->nb_samples = frameSize;
    return !last || encode(audio, audioStream, nullptr);
}

bool VideoWriter::Output::complete()
{
    if (frames == 0)
        return fail(QStringLiteral("no pictures were recorded"));
    if (!encode(video, videoStream, nullptr))
        return false;
    if (audio) {
        static const float kNothing = 0;
        if (resampler && !convert(&kNothing, 0, true)) // what is still inside the converter
            return false;
        if (!encodeSound(true))
            return false;
    }
    if (const int code = av_write_trailer(format); code < 0)
        return failAv("finishing", code);
    const int ioError = format->pb->error;
    const int closed = avio_closep(&format->pb);
    if (ioError < 0 || closed < 0)
        return failAv("writing", ioError < 0 ? ioError : closed);
    // The data on disk before the name: a crash leaves the old file or the whole new one.
    const int fd = ::open(temporary.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int reason = errno;
        if (fd >= 0)
            ::close(fd);
        return fail(QString::fromLocal8Bit(std::strerror(reason)));
    }
    ::close(fd);
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    unregisterTemporary(temporary);
    temporary.clear();
    const QByteArray dir = QFile::encodeName(QFileInfo(target).absolutePath());
    if (const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

VideoWriter::VideoWriter() = default;
VideoWriter::~VideoWriter() = default;

QSize VideoWriter::outputSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    if (height < kMinHeight) {
        width = static_cast<int>(std::lround(double(width) * kMinHeight / height));
        height = kMinHeight;
    }
    return {even(width), even(height)};
}

QString VideoWriter::checkFileName(const QString& path)
{
    if (containerFor(path))
        return {};
    return QStringLiteral("'%1': a video file name ends in .mp4, .mkv or .webm").arg(path);
}

bool VideoWriter::open(const QString& path, FrameRate rate, int width, int height,
                       std::optional<AudioTrack> track, QString* error)
{
    out_.reset();
    // The encoders' statistics and notes would read as trouble on a tool's standard error.
    av_log_set_level(AV_LOG_ERROR);
    auto out = std::make_unique<Output>();
    out->name = path;
    const auto refuse = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    const Container* container = containerFor(path);
    if (!container)
        return refuse(checkFileName(path));
    if (rate.numerator <= 0 || rate.denominator <= 0 || rate.value() > 1000)
        return refuse(QStringLiteral("cannot write '%1': %2/%3 is no frame rate")
                          .arg(path)
                          .arg(rate.numerator)
                          .arg(rate.denominator));
    const QSize size = outputSize(width, height);
    if (size.isEmpty() || size.width() > 8192 || size.height() > 8192)
        return refuse(QStringLiteral("cannot write '%1': pictures of %2 x %3 pixels")
                          .arg(path)
                          .arg(width)
                          .arg(height));
    if (track && (track->channels < 1 || track->channels > 2 || track->sampleRate < 1000 ||
                  track->sampleRate > 384000))
        return refuse(QStringLiteral("cannot write '%1': sound of %2 channels at %3 Hz")
                          .arg(path)
                          .arg(track->channels)
                          .arg(track->sampleRate));
    if (!canReplaceFile(path, error))
        return false;
    const QFileInfo info(path);
    out->target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;

    const AVCodec* videoCodec = firstEncoder(container->video);
    const AVCodec* audioCodec = track ? firstEncoder(container->audio) : nullptr;
    if (!videoCodec || (track && !audioCodec))
        return refuse(QStringLiteral("cannot write '%1': this FFmpeg has no %2 encoder")
                          .arg(path, QLatin1String(!videoCodec ? container->video.front()
                                                               : container->audio.front())));
    if (!out->createTemporary())
        return refuse(out->error);
    const QByteArray url = "file:" + out->temporary;
    if (avformat_alloc_output_context2(&out->format, nullptr, container->format, url.constData()) <
            0 ||
        !(out->packet = av_packet_alloc()))
        return refuse(out->error.isEmpty()
                          ? QStringLiteral("cannot write '%1': out of memory").arg(path)
                          : out->error);
    if (!out->openVideo(videoCodec, rate, size) || (track && !out->openAudio(audioCodec, *track)))
        return refuse(out->error);
    if (const int code = avio_open(&out->format->pb, url.constData(), AVIO_FLAG_WRITE); code < 0)
        return refuse((out->failAv("opening", code), out->error));
    AVDictionary* options = nullptr;
    if (QByteArray(container->format) == "mp4") // the index first, so that players can stream it
        av_dict_set(&options, "movflags", "+faststart", 0);
    const int code = avformat_write_header(out->format, &options);
    av_dict_free(&options);
    if (code < 0)
        return refuse((out->failAv("starting", code), out->error));
    out_ = std::move(out);
    return true;
}

bool VideoWriter::isOpen() const
{
    return out_ != nullptr;
}

QSize VideoWriter::frameSize() const
{
    return out_ ? QSize(out_->video->width, out_->video->height) : QSize();
}

std::int64_t VideoWriter::framesWritten() const
{
    return out_ ? out_->frames : 0;
}

QString VideoWriter::error() const
{
    return out_ ? out_->error : QString();
}

bool VideoWriter::addFrame(const QImage& frame)
{
    if (!out_ || !out_->error.isEmpty() || frame.isNull())
        return out_ && out_->error.isEmpty();
    Output& o = *out_;
    const bool grey = frame.format() == QImage::Format_Grayscale8;
    const QImage source = grey ? frame : frame.convertToFormat(QImage::Format_RGB32);
    o.scaler = sws_getCachedContext(o.scaler, source.width(), source.height(),
                                    grey ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_RGB32, o.video->width,
                                    o.video->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                    nullptr, nullptr);
    if (!o.scaler)
        return o.fail(QStringLiteral("cannot scale a picture of %1 x %2")
                          .arg(source.width())
                          .arg(source.height()));
    if (const int code = av_frame_make_writable(o.picture); code < 0)
        return o.failAv("picture", code);
    const std::uint8_t* planes[] = {source.constBits()};
    const int strides[] = {static_cast<int>(source.bytesPerLine())};
    sws_scale(o.scaler, planes, strides, 0, source.height(), o.picture->data, o.picture->linesize);
    o.picture->pts = o.frames++;
    return o.encode(o.video, o.videoStream, o.picture);
}

bool VideoWriter::addAudio(const float* samples, std::size_t frames)
{
    if (!out_ || !out_->error.isEmpty())
        return out_ && out_->error.isEmpty();
    Output& o = *out_;
    if (!o.audio || frames == 0)
        return true;
    if (o.resampler ? !o.convert(samples, frames, false) : !o.queue(samples, frames))
        return false;
    return o.encodeSound(false);
}

bool VideoWriter::finish(QString* error)
{
    if (!out_) {
        if (error)
            *error = QStringLiteral("no video file is open");
        return false;
    }
    const bool ok = out_->error.isEmpty() && out_->complete();
    if (!ok && error)
        *error = out_->error;
    out_.reset(); // removes the temporary file unless it was renamed
    return ok;
}

} // namespace corvane
