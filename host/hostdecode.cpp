// Music files through FFmpeg's libraries: whatever libavformat opens and libavcodec decodes,
// converted by libswresample to stereo floats at the file's own sample rate.
#include "hostaudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

// Tracks are held whole in memory; three hours of stereo floats at 48 kHz are about 4 GB,
// which is where a file stops being a track.
static const double maxSeconds = 3.0 * 3600.0;

static std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return text;
}

static std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? path : name;
}

// The window text "N. Title - Winamp" is read back by the plug-in into 2048 bytes, where the
// suffix must still be found: a title longer than this is cut (never inside a UTF-8 character), and
// control characters a tag may hold (line breaks, tabs) become spaces.
static const size_t maxTitle = 1000;

static std::string CleanTitle(std::string title)
{
    for (char& c : title)
        if ((unsigned char)c < 32 || c == 127)
            c = ' ';
    if (title.size() > maxTitle) {
        size_t cut = maxTitle;
        while (cut > 0 && ((unsigned char)title[cut] & 0xc0) == 0x80)
            cut--;
        title.erase(cut);
    }
    return title;
}

std::string HostTitleFromTags(const std::string& artist, const std::string& title, const std::string& path)
{
    if (!title.empty())
        return CleanTitle(artist.empty() ? title : artist + " - " + title);
    return CleanTitle(FileName(path));
}

// An open file with its audio stream chosen.
struct Input {
    AVFormatContext* format = NULL;
    int stream = -1;
    const AVCodec* codec = NULL;
};

static void CloseInput(Input* input)
{
    if (input->format)
        avformat_close_input(&input->format);
}

static bool OpenInput(const std::string& path, Input* input, std::string* error)
{
    // The libraries' own warnings about damaged data would bury the one line the player writes
    // about a file it skips.
    av_log_set_level(AV_LOG_FATAL);
    int status = avformat_open_input(&input->format, path.c_str(), NULL, NULL);
    if (status < 0) {
        *error = AvError(status);
        input->format = NULL;
        return false;
    }
    status = avformat_find_stream_info(input->format, NULL);
    if (status < 0) {
        *error = AvError(status);
        CloseInput(input);
        return false;
    }
    input->stream = av_find_best_stream(input->format, AVMEDIA_TYPE_AUDIO, -1, -1, &input->codec, 0);
    if (input->stream < 0) {
        *error = input->stream == AVERROR_DECODER_NOT_FOUND ? "no decoder for its audio" : "no audio in it";
        CloseInput(input);
        return false;
    }
    const AVCodecParameters* parameters = input->format->streams[input->stream]->codecpar;
    if (parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0) {
        *error = "its audio has no sample rate or no channels";
        CloseInput(input);
        return false;
    }
    return true;
}

static std::string Tag(const Input& input, const char* key)
{
    // Containers keep tags for the whole file (MP3, MP4, FLAC) or on the stream (Ogg).
    const AVDictionaryEntry* entry = av_dict_get(input.format->metadata, key, NULL, 0);
    if (!entry)
        entry = av_dict_get(input.format->streams[input.stream]->metadata, key, NULL, 0);
    return entry && entry->value ? entry->value : "";
}

bool HostProbeFile(const std::string& path, std::string* title, double* seconds, std::string* error)
{
    Input input;
    if (!OpenInput(path, &input, error))
        return false;
    *title = HostTitleFromTags(Tag(input, "artist"), Tag(input, "title"), path);
    *seconds = input.format->duration > 0 ? (double)input.format->duration / AV_TIME_BASE : 0.0;
    CloseInput(&input);
    return true;
}

// Decodes everything that comes out of the decoder now into audio; false on a real error.
static bool Drain(AVCodecContext* decoder, SwrContext* resampler, AVFrame* frame, int outChannels, HostAudio* audio,
                  std::string* error)
{
    for (;;) {
        int status = avcodec_receive_frame(decoder, frame);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0) {
            *error = AvError(status);
            return false;
        }
        int capacity = swr_get_out_samples(resampler, frame->nb_samples);
        if (capacity < 0) {
            *error = AvError(capacity);
            return false;
        }
        std::vector<float> converted((size_t)capacity * outChannels);
        uint8_t* out[1] = {(uint8_t*)converted.data()};
        int got = swr_convert(resampler, out, capacity, (const uint8_t**)frame->extended_data, frame->nb_samples);
        av_frame_unref(frame);
        if (got < 0) {
            *error = AvError(got);
            return false;
        }
        if ((double)audio->Frames() + got > maxSeconds * audio->sampleRate) {
            *error = "longer than three hours";
            return false;
        }
        for (int i = 0; i < got; i++) {
            float left = converted[(size_t)i * outChannels];
            audio->samples.push_back(left);
            audio->samples.push_back(outChannels == 2 ? converted[(size_t)i * 2 + 1] : left);
        }
    }
}

bool HostDecodeFile(const std::string& path, HostAudio* audio, std::string* error)
{
    audio->samples.clear();
    Input input;
    if (!OpenInput(path, &input, error))
        return false;
    const AVCodecParameters* parameters = input.format->streams[input.stream]->codecpar;
    AVCodecContext* decoder = avcodec_alloc_context3(input.codec);
    SwrContext* resampler = NULL;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = decoder && packet && frame;
    int status = 0;
    if (ok && (status = avcodec_parameters_to_context(decoder, parameters)) >= 0)
        status = avcodec_open2(decoder, input.codec, NULL);
    if (ok && status < 0) {
        *error = AvError(status);
        ok = false;
    }
    // Mono stays mono through the resampler (which would lower it by 3 dB into stereo) and is
    // copied to both channels here; everything else is mixed down to stereo.
    int outChannels = 2;
    if (ok) {
        AVChannelLayout inLayout;
        if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, decoder->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &decoder->ch_layout);
        outChannels = inLayout.nb_channels == 1 ? 1 : 2;
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, outChannels);
        status = swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_FLT, decoder->sample_rate, &inLayout,
                                     decoder->sample_fmt, decoder->sample_rate, 0, NULL);
        if (status >= 0)
            status = swr_init(resampler);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (status < 0) {
            *error = AvError(status);
            ok = false;
        }
        audio->sampleRate = decoder->sample_rate;
        audio->fileChannels = decoder->ch_layout.nb_channels;
    }
    // A damaged packet here and there is skipped, as players do; the file fails only when a read
    // fails for another reason than its end, or when nothing at all could be decoded.
    int damaged = 0;
    std::string damage;
    while (ok) {
        status = av_read_frame(input.format, packet);
        if (status == AVERROR_EOF)
            break;
        if (status < 0) {
            *error = AvError(status);
            ok = false;
            break;
        }
        if (packet->stream_index == input.stream) {
            status = avcodec_send_packet(decoder, packet);
            if (status < 0 && status != AVERROR(EAGAIN)) {
                damaged++;
                damage = AvError(status);
            }
            ok = Drain(decoder, resampler, frame, outChannels, audio, error);
        }
        av_packet_unref(packet);
    }
    if (ok) {
        avcodec_send_packet(decoder, NULL);
        ok = Drain(decoder, resampler, frame, outChannels, audio, error);
    }
    if (ok && audio->Frames() == 0) {
        *error = damaged ? "no audio could be decoded (" + damage + ")" : "no audio in it";
        ok = false;
    }
    if (!ok)
        audio->samples.clear();
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&resampler);
    avcodec_free_context(&decoder);
    CloseInput(&input);
    return ok;
}
