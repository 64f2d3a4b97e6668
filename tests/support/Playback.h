#pragma once

// Video files read back through libavformat, as a player reads them.
#include <QFile>
#include <QImage>
#include <QString>
#include <cmath>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

// What a player finds in a video file.
struct Played
{
    QString videoCodec, audioCodec;
    AVRational rate = {0, 1};
    std::vector<QImage> pictures; // grey
    double audioSeconds = 0;
    double audioRms = 0;
};

inline Played play(const QString& path)
{
    Played played;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return played;
    avformat_find_stream_info(format, nullptr);
    std::vector<AVCodecContext*> decoders(format->nb_streams);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        decoders[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[i], par);
        avcodec_open2(decoders[i], codec, nullptr);
        (par->codec_type == AVMEDIA_TYPE_VIDEO ? played.videoCodec : played.audioCodec) =
            QString::fromLatin1(avcodec_get_name(par->codec_id));
        if (par->codec_type == AVMEDIA_TYPE_VIDEO)
            played.rate = format->streams[i]->avg_frame_rate;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double sumSquares = 0;
    std::int64_t samples = 0;
    const auto drain = [&](AVCodecContext* decoder) {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
                QImage picture(frame->width, frame->height, QImage::Format_Grayscale8);
                SwsContext* sws = sws_getContext(
                    frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                    frame->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr, nullptr);
                uint8_t* planes[] = {picture.bits()};
                const int strides[] = {int(picture.bytesPerLine())};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
                sws_freeContext(sws);
                played.pictures.push_back(picture);
            } else {
                const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
                for (int i = 0; i < frame->nb_samples; ++i) {
                    const float s = reinterpret_cast<const float*>(
                        frame->data[0])[planar ? i : i * frame->ch_layout.nb_channels];
                    sumSquares += double(s) * s;
                }
                samples += frame->nb_samples;
                played.audioSeconds += double(frame->nb_samples) / frame->sample_rate;
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        avcodec_send_packet(decoders[unsigned(packet->stream_index)], packet);
        drain(decoders[unsigned(packet->stream_index)]);
        av_packet_unref(packet);
    }
    for (AVCodecContext* decoder : decoders) {
        avcodec_send_packet(decoder, nullptr);
        drain(decoder);
        avcodec_free_context(&decoder);
    }
    played.audioRms = samples ? std::sqrt(sumSquares / samples) : 0;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return played;
}
