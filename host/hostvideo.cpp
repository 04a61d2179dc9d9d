// Video files of a rendered run through FFmpeg's libraries: the plug-in's pictures at 60 frames per
// second (H.264 where the libraries have it, else what the container suits) and the track's audio,
// muxed into MP4, Matroska or WebM. Encoding is bit-exact, so the same run gives the same file.
#include "hostaudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string.h>
#include <strings.h>

#include <algorithm>

static const int framesPerSecond = 60;
static const int audioRate = 48000;  // every audio encoder here takes it, Opus needs it

// Encoders per container, best first.
struct Container {
    const char* extension;
    const char* video[3];
    const char* audio[3];
};
static const Container containers[] = {
    {"mp4", {"libx264", "mpeg4", NULL}, {"aac", NULL, NULL}},
    {"mkv", {"libx264", "mpeg4", NULL}, {"aac", "flac", NULL}},
    {"webm", {"libvpx-vp9", "libvpx", NULL}, {"libopus", "libvorbis", NULL}},
};

struct HostVideo {
    AVFormatContext* format = NULL;
    AVCodecContext* video = NULL;
    AVCodecContext* audio = NULL;
    AVStream* videoStream = NULL;
    AVStream* audioStream = NULL;
    SwsContext* scaler = NULL;
    SwrContext* resampler = NULL;
    int resamplerRate = 0;
    AVAudioFifo* fifo = NULL;
    AVFrame* picture = NULL;
    AVFrame* sound = NULL;
    AVPacket* packet = NULL;
    long long pictures = 0;
    long long samples = 0;  // audio samples sent to the encoder
};

static std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return text;
}

static const Container* ContainerFor(const std::string& path)
{
    size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return NULL;
    for (const Container& c : containers)
        if (strcasecmp(path.c_str() + dot + 1, c.extension) == 0)
            return &c;
    return NULL;
}

bool HostIsVideoFile(const std::string& path)
{
    return ContainerFor(path) != NULL;
}

static const AVCodec* FirstEncoder(const char* const* names)
{
    for (int i = 0; i < 3 && names[i]; i++)
        if (const AVCodec* codec = avcodec_find_encoder_by_name(names[i]))
            return codec;
    return NULL;
}

static void Free(HostVideo* v)
{
    if (v->format && v->format->pb && !(v->format->oformat->flags & AVFMT_NOFILE))
        avio_closep(&v->format->pb);
    avformat_free_context(v->format);
    avcodec_free_context(&v->video);
    avcodec_free_context(&v->audio);
    sws_freeContext(v->scaler);
    swr_free(&v->resampler);
    if (v->fifo)
        av_audio_fifo_free(v->fifo);
    av_frame_free(&v->picture);
    av_frame_free(&v->sound);
    av_packet_free(&v->packet);
    delete v;
}

// Sends a frame (NULL: the end) and writes every packet the encoder has ready.
static bool Encode(HostVideo* v, AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string* error)
{
    int status = avcodec_send_frame(codec, frame);
    while (status >= 0) {
        status = avcodec_receive_packet(codec, v->packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0)
            break;
        av_packet_rescale_ts(v->packet, codec->time_base, stream->time_base);
        v->packet->stream_index = stream->index;
        status = av_interleaved_write_frame(v->format, v->packet);
    }
    *error = AvError(status);
    return false;
}

static AVCodecContext* OpenVideoEncoder(HostVideo* v, const AVCodec* codec, int width, int height, std::string* error)
{
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        return NULL;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, framesPerSecond};
    c->framerate = AVRational{framesPerSecond, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = 2 * framesPerSecond;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (v->format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Quality for cartoon pictures with fine trails, at a speed well above real time.
    if (strcmp(codec->name, "libx264") == 0) {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        av_opt_set(c->priv_data, "crf", "20", 0);
    } else if (strncmp(codec->name, "libvpx", 6) == 0) {
        av_opt_set(c->priv_data, "deadline", "realtime", 0);
        av_opt_set(c->priv_data, "cpu-used", "8", 0);
        c->bit_rate = (int64_t)width * height * 6;
    } else {
        c->bit_rate = (int64_t)width * height * 6;
    }
    int status = avcodec_open2(c, codec, NULL);
    if (status < 0) {
        *error = std::string("cannot start the video encoder ") + codec->name + ": " + AvError(status);
        avcodec_free_context(&c);
    }
    return c;
}

static AVCodecContext* OpenAudioEncoder(HostVideo* v, const AVCodec* codec, std::string* error)
{
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        return NULL;
    c->sample_rate = audioRate;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&c->ch_layout, 2);
    c->bit_rate = 192000;
    c->time_base = AVRational{1, audioRate};
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (v->format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int status = avcodec_open2(c, codec, NULL);
    if (status < 0) {
        *error = std::string("cannot start the audio encoder ") + codec->name + ": " + AvError(status);
        avcodec_free_context(&c);
    }
    return c;
}

HostVideo* HostVideoOpen(const std::string& path, int width, int height, std::string* error)
{
    const Container* container = ContainerFor(path);
    if (!container || width < 2 || height < 2 || width % 2 || height % 2) {
        *error = "not a .mp4, .mkv or .webm file, or an odd picture size";
        return NULL;
    }
    av_log_set_level(AV_LOG_FATAL);  // the encoders' banners are not the player's to show
    HostVideo* v = new HostVideo;
    int status = avformat_alloc_output_context2(&v->format, NULL, NULL, path.c_str());
    if (status < 0 || !v->format) {
        *error = AvError(status);
        Free(v);
        return NULL;
    }
    v->format->flags |= AVFMT_FLAG_BITEXACT;
    const AVCodec* videoCodec = FirstEncoder(container->video);
    const AVCodec* audioCodec = FirstEncoder(container->audio);
    if (!videoCodec || !audioCodec) {
        *error = std::string("FFmpeg's libraries here have no ") + (videoCodec ? "audio" : "video") + " encoder for ." +
                 container->extension;
        Free(v);
        return NULL;
    }
    v->video = OpenVideoEncoder(v, videoCodec, width, height, error);
    v->audio = v->video ? OpenAudioEncoder(v, audioCodec, error) : NULL;
    v->videoStream = v->audio ? avformat_new_stream(v->format, NULL) : NULL;
    v->audioStream = v->videoStream ? avformat_new_stream(v->format, NULL) : NULL;
    v->picture = av_frame_alloc();
    v->sound = av_frame_alloc();
    v->packet = av_packet_alloc();
    v->fifo = av_audio_fifo_alloc(v->audio ? v->audio->sample_fmt : AV_SAMPLE_FMT_FLTP, 2, audioRate);
    if (!v->audioStream || !v->picture || !v->sound || !v->packet || !v->fifo) {
        if (error->empty())
            *error = "out of memory";
        Free(v);
        return NULL;
    }
    v->videoStream->time_base = v->video->time_base;
    v->audioStream->time_base = v->audio->time_base;
    status = avcodec_parameters_from_context(v->videoStream->codecpar, v->video);
    if (status >= 0)
        status = avcodec_parameters_from_context(v->audioStream->codecpar, v->audio);
    if (status >= 0 && !(v->format->oformat->flags & AVFMT_NOFILE))
        status = avio_open(&v->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status >= 0)
        status = avformat_write_header(v->format, NULL);
    if (status < 0) {
        *error = AvError(status);
        Free(v);
        return NULL;
    }
    v->picture->format = v->video->pix_fmt;
    v->picture->width = width;
    v->picture->height = height;
    status = av_frame_get_buffer(v->picture, 0);
    if (status < 0) {
        *error = AvError(status);
        Free(v);
        return NULL;
    }
    return v;
}

bool HostVideoAddFrame(HostVideo* v, const uint32_t* pixels, int width, int height, std::string* error)
{
    if (!pixels || width <= 0 || height <= 0) {
        *error = "no picture";
        return false;
    }
    // X8R8G8B8 in memory is blue, green, red, unused.
    v->scaler = sws_getCachedContext(v->scaler, width, height, AV_PIX_FMT_BGR0, v->video->width, v->video->height,
                                     v->video->pix_fmt, SWS_BILINEAR | SWS_BITEXACT, NULL, NULL, NULL);
    int status = v->scaler ? av_frame_make_writable(v->picture) : AVERROR(ENOMEM);
    if (status < 0) {
        *error = AvError(status);
        return false;
    }
    const uint8_t* source[1] = {(const uint8_t*)pixels};
    int pitch[1] = {width * 4};
    sws_scale(v->scaler, source, pitch, 0, height, v->picture->data, v->picture->linesize);
    v->picture->pts = v->pictures++;
    return Encode(v, v->video, v->videoStream, v->picture, error);
}

// Encodes whole encoder frames from the queue; at the end (`last`) also the rest, padded with
// silence where the encoder needs whole frames.
static bool EncodeQueued(HostVideo* v, bool last, std::string* error)
{
    int frameSize = v->audio->frame_size > 0 ? v->audio->frame_size : 1024;
    bool smallLast = (v->audio->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    while (av_audio_fifo_size(v->fifo) >= frameSize || (last && av_audio_fifo_size(v->fifo) > 0)) {
        int queued = av_audio_fifo_size(v->fifo);
        int take = queued < frameSize ? queued : frameSize;
        av_frame_unref(v->sound);
        v->sound->format = v->audio->sample_fmt;
        v->sound->sample_rate = audioRate;
        v->sound->nb_samples = take < frameSize && !smallLast ? frameSize : take;
        av_channel_layout_copy(&v->sound->ch_layout, &v->audio->ch_layout);
        int status = av_frame_get_buffer(v->sound, 0);
        if (status < 0) {
            *error = AvError(status);
            return false;
        }
        av_samples_set_silence(v->sound->extended_data, 0, v->sound->nb_samples, 2, v->audio->sample_fmt);
        av_audio_fifo_read(v->fifo, (void**)v->sound->extended_data, take);
        v->sound->pts = v->samples;
        v->samples += v->sound->nb_samples;
        if (!Encode(v, v->audio, v->audioStream, v->sound, error))
            return false;
    }
    return true;
}

// Runs samples (NULL: what the resampler still holds) through the resampler into the queue.
static bool Resample(HostVideo* v, const float* stereo, int frames, std::string* error)
{
    int capacity = swr_get_out_samples(v->resampler, frames);
    if (capacity <= 0)
        return capacity == 0;
    uint8_t** converted = NULL;
    int status = av_samples_alloc_array_and_samples(&converted, NULL, 2, capacity, v->audio->sample_fmt, 0);
    if (status >= 0) {
        const uint8_t* in[1] = {(const uint8_t*)stereo};
        status = swr_convert(v->resampler, converted, capacity, stereo ? in : NULL, frames);
        if (status > 0 && av_audio_fifo_write(v->fifo, (void**)converted, status) < status)
            status = AVERROR(ENOMEM);
    }
    if (converted)
        av_freep(&converted[0]);
    av_freep(&converted);
    if (status < 0) {
        *error = AvError(status);
        return false;
    }
    return true;
}

bool HostVideoAddAudio(HostVideo* v, const float* stereo, long long frames, int sampleRate, std::string* error)
{
    if (sampleRate <= 0) {
        *error = "audio without a sample rate";
        return false;
    }
    if (sampleRate != v->resamplerRate) {
        if (v->resampler && !Resample(v, NULL, 0, error))
            return false;
        swr_free(&v->resampler);
        AVChannelLayout stereoLayout;
        av_channel_layout_default(&stereoLayout, 2);
        int status = swr_alloc_set_opts2(&v->resampler, &v->audio->ch_layout, v->audio->sample_fmt, audioRate,
                                         &stereoLayout, AV_SAMPLE_FMT_FLT, sampleRate, 0, NULL);
        if (status >= 0)
            status = swr_init(v->resampler);
        if (status < 0) {
            *error = AvError(status);
            return false;
        }
        v->resamplerRate = sampleRate;
    }
    for (long long done = 0; done < frames;) {
        int chunk = (int)std::min<long long>(frames - done, 65536);
        if (!Resample(v, stereo + done * 2, chunk, error))
            return false;
        done += chunk;
    }
    return EncodeQueued(v, false, error);
}

bool HostVideoClose(HostVideo* v, std::string* error)
{
    bool ok = (!v->resampler || Resample(v, NULL, 0, error)) && EncodeQueued(v, true, error) &&
              Encode(v, v->video, v->videoStream, NULL, error) && Encode(v, v->audio, v->audioStream, NULL, error);
    if (ok) {
        int status = av_write_trailer(v->format);
        if (status < 0) {
            *error = AvError(status);
            ok = false;
        }
    }
    Free(v);
    return ok;
}
