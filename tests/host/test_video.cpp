// Rendering a playlist into a video file: the streams, read back through FFmpeg's libraries, hold
// 60 pictures per second of audio and the audio itself, and the same run gives the same pictures.
#include <gtest/gtest.h>

#include "host.h"
#include "media.h"
#include "plugin_copy.h"
#include "test_common.h"

#include <marlix_platform.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <stdlib.h>

#include <filesystem>

namespace {

struct Probe {
    std::string videoCodec, audioCodec;
    int width = 0, height = 0;
    int pictures = 0;
    double audioSeconds = 0.0;
    std::vector<uint64_t> pictureHashes;  // of every decoded picture's planes
};

static uint64_t Hash(uint64_t hash, const uint8_t* bytes, int count)
{
    for (int i = 0; i < count; i++)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

static void Decoded(AVCodecContext* decoder, AVFrame* frame, Probe* probe)
{
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        uint64_t hash = 14695981039346656037ull;
        for (int plane = 0; plane < 3; plane++) {
            int rows = plane == 0 ? frame->height : (frame->height + 1) / 2;
            int bytes = plane == 0 ? frame->width : (frame->width + 1) / 2;
            for (int y = 0; y < rows; y++)
                hash = Hash(hash, frame->data[plane] + (size_t)y * frame->linesize[plane], bytes);
        }
        probe->pictureHashes.push_back(hash);
        av_frame_unref(frame);
    }
}

static bool ProbeFile(const std::string& path, Probe* probe)
{
    AVFormatContext* format = NULL;
    if (avformat_open_input(&format, path.c_str(), NULL, NULL) < 0)
        return false;
    bool ok = avformat_find_stream_info(format, NULL) >= 0;
    int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, NULL, 0);
    int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, NULL, 0);
    ok = ok && video >= 0 && audio >= 0;
    AVCodecContext* decoder = NULL;
    if (ok) {
        const AVCodecParameters* v = format->streams[video]->codecpar;
        probe->videoCodec = avcodec_get_name(v->codec_id);
        probe->audioCodec = avcodec_get_name(format->streams[audio]->codecpar->codec_id);
        probe->width = v->width;
        probe->height = v->height;
        const AVCodec* codec = avcodec_find_decoder(v->codec_id);
        decoder = codec ? avcodec_alloc_context3(codec) : NULL;
        ok = decoder && avcodec_parameters_to_context(decoder, v) >= 0 && avcodec_open2(decoder, codec, NULL) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t audioTicks = 0;
    while (ok && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            probe->pictures++;
            avcodec_send_packet(decoder, packet);
            Decoded(decoder, frame, probe);
        } else if (packet->stream_index == audio) {
            audioTicks += packet->duration;
        }
        av_packet_unref(packet);
    }
    if (ok) {
        avcodec_send_packet(decoder, NULL);
        Decoded(decoder, frame, probe);
        probe->audioSeconds = audioTicks * av_q2d(format->streams[audio]->time_base);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return ok;
}

class VideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MarlixSetHeadless(1);
        MarlixResetWindows();
        ASSERT_TRUE(scratch.Make("video"));
        dir = scratch.path;
        plugin = CopyPlugin(dir);
    }
    void TearDown() override
    {
        MarlixResetWindows();
        scratch.Remove();
    }
    HostOptions Options(const std::string& out, const std::vector<std::string>& files) const
    {
        HostOptions options;
        options.pluginPath = plugin;
        options.out = out;
        options.width = 160;  // small pictures: the scenes are drawn in software
        options.height = 120;
        options.playlist = files;
        return options;
    }
    ScratchFolder scratch;
    std::string dir, plugin;
};

TEST_F(VideoTest, TenSecondsGiveSixHundredPicturesAndTheAudioTheSameEveryTime)
{
    std::string track = dir + "/ten.wav";
    ASSERT_TRUE(MakeAudio(track, Sine(440, 0.4, 44100, 10.0)));
    Probe first, second;
    ASSERT_EQ(HostRun(Options(dir + "/a.mp4", {track})), 0);
    ASSERT_TRUE(ProbeFile(dir + "/a.mp4", &first));
    EXPECT_EQ(first.videoCodec, "h264");
    EXPECT_EQ(first.audioCodec, "aac");
    EXPECT_EQ(first.width, 160);
    EXPECT_EQ(first.height, 120);
    EXPECT_EQ(first.pictures, 600);
    EXPECT_EQ(first.pictureHashes.size(), 600u);
    EXPECT_NEAR(first.audioSeconds, 10.0, 0.05);

    MarlixResetWindows();
    ASSERT_EQ(HostRun(Options(dir + "/b.mp4", {track})), 0);
    ASSERT_TRUE(ProbeFile(dir + "/b.mp4", &second));
    EXPECT_EQ(first.pictureHashes, second.pictureHashes);
}

TEST_F(VideoTest, ContainersPlaylistsAndTheFrameLimit)
{
    // Two tracks of different rates follow each other in one file; a broken one in between is left out.
    std::string one = dir + "/one.flac", two = dir + "/two.wav";
    ASSERT_TRUE(MakeAudio(one, Sine(440, 0.4, 48000, 1.0)));
    ASSERT_TRUE(MakeAudio(two, Sine(440, 0.4, 22050, 0.5)));
    const struct {
        const char* name;
        const char* video;
        const char* audio;
    } containers[] = {{"c.mkv", "h264", "aac"}, {"c.webm", "vp9", "opus"}};
    for (const auto& c : containers) {
        MarlixResetWindows();
        testing::internal::CaptureStderr();
        ASSERT_EQ(HostRun(Options(dir + "/" + c.name, {one, dir + "/none.wav", two})), 0) << c.name;
        testing::internal::GetCapturedStderr();
        Probe probe;
        ASSERT_TRUE(ProbeFile(dir + "/" + c.name, &probe)) << c.name;
        EXPECT_EQ(probe.videoCodec, c.video);
        EXPECT_EQ(probe.audioCodec, c.audio);
        EXPECT_EQ(probe.pictures, 90) << c.name;
        EXPECT_NEAR(probe.audioSeconds, 1.5, 0.05) << c.name;  // Opus packets are 20 ms
    }

    MarlixResetWindows();
    HostOptions options = Options(dir + "/short.mp4", {one});
    options.frames = 30;
    ASSERT_EQ(HostRun(options), 0);
    Probe probe;
    ASSERT_TRUE(ProbeFile(dir + "/short.mp4", &probe));
    EXPECT_EQ(probe.pictures, 30);

    // Nothing to render, or nowhere to write: failures, not empty files.
    MarlixResetWindows();
    testing::internal::CaptureStderr();
    EXPECT_EQ(HostRun(Options(dir + "/nothing.mp4", {dir + "/none.wav"})), 1);
    EXPECT_EQ(HostRun(Options(dir + "/no/such/folder/x.mp4", {one})), 1);
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists(dir + "/nothing.mp4"));
    EXPECT_NE(report.find("no/such/folder/x.mp4"), std::string::npos) << report;
}

}  // namespace
