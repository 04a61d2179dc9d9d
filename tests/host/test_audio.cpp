// The host's audio side: decoding every common format with its tags, broken files, the spectrum
// and waveform handed to the plug-in, and the playlist from files, folders and lists.
#include <gtest/gtest.h>

#include "host.h"
#include "hostaudio.h"
#include "media.h"
#include "test_common.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.Make("audio"));
        dir = scratch.path;
    }
    void TearDown() override { scratch.Remove(); }
    void Write(const std::string& name, const std::string& bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(dir + "/" + name).parent_path());
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    }
    HostAudio Decode(const std::string& path)
    {
        HostAudio audio;
        std::string error;
        EXPECT_TRUE(HostDecodeFile(path, &audio, &error)) << path << ": " << error;
        return audio;
    }
    ScratchFolder scratch;
    std::string dir;
};

struct Analysis {
    unsigned char spectrum[2][HOST_BINS];
    unsigned char waveform[2][HOST_BINS];
};

static Analysis Analyse(const HostAudio& audio, double seconds)
{
    Analysis a;
    HostAnalyse(audio.samples.data(), audio.Frames(), (long long)(seconds * audio.sampleRate), a.spectrum, a.waveform);
    return a;
}

TEST_F(AudioTest, AToneLandsInItsBinAtItsHeight)
{
    // At 48 kHz a bin is 41.67 Hz, so 1 kHz is the middle of bin 24. An amplitude of 1/8 gives
    // |X| = 0.125 * 1152 / 4 = 36 under the Hann window, scaled by 255 / 72 to 127.5; the
    // neighbouring bins hold exactly half of that, all others nothing.
    std::string tone = dir + "/tone.wav";
    ASSERT_TRUE(MakeAudio(tone, Sine(1000, 0.125, 48000, 2.0), "-c:a pcm_f32le"));
    HostAudio audio = Decode(tone);
    ASSERT_EQ(audio.sampleRate, 48000);
    Analysis a = Analyse(audio, 1.0);
    for (int channel = 0; channel < 2; channel++) {
        const unsigned char* bins = a.spectrum[channel];
        EXPECT_NEAR(bins[24], 127.5, 1.0) << channel;
        EXPECT_NEAR(bins[23], 63.75, 1.0) << channel;
        EXPECT_NEAR(bins[25], 63.75, 1.0) << channel;
        for (int bin = 0; bin < HOST_BINS; bin++) {
            if (bin < 23 || bin > 25) {
                ASSERT_LE(bins[bin], 1) << "channel " << channel << " bin " << bin;
            }
        }
        // The waveform: signed bytes, 1/8 of full scale reaches 16.
        signed char low = 0, high = 0;
        for (int i = 0; i < HOST_BINS; i++) {
            low = std::min(low, (signed char)a.waveform[channel][i]);
            high = std::max(high, (signed char)a.waveform[channel][i]);
        }
        EXPECT_EQ(high, 16);
        EXPECT_EQ(low, -16);
    }

    // At 44.1 kHz (38.3 Hz a bin) 1 kHz is 26.1 bins: bin 26 leads, 27 follows.
    ASSERT_TRUE(MakeAudio(tone, Sine(1000, 0.125, 44100, 1.0)));
    a = Analyse(Decode(tone), 0.5);
    const unsigned char* bins = a.spectrum[0];
    EXPECT_EQ(std::max_element(bins, bins + HOST_BINS) - bins, 26);
    EXPECT_GT(bins[27], bins[25]);

    // A loud tone stops at 255 rather than wrapping round.
    ASSERT_TRUE(MakeAudio(tone, Sine(1000, 0.9, 48000, 1.0), "-c:a pcm_f32le"));
    a = Analyse(Decode(tone), 0.5);
    EXPECT_EQ(a.spectrum[0][24], 255);
    EXPECT_EQ(a.spectrum[0][23], 255);
    EXPECT_EQ((signed char)*std::min_element(a.waveform[0], a.waveform[0] + HOST_BINS, [](unsigned char x, unsigned char y) {
                  return (signed char)x < (signed char)y;
              }),
              -115);
}

TEST_F(AudioTest, ChannelsStayApartAndTimeIsWhereTheToneIs)
{
    // Left 1 kHz, right 3 kHz, both starting one second in.
    std::string path = dir + "/apart.flac";
    ASSERT_TRUE(MakeAudio(path, "aevalsrc=0.125*sin(2*PI*1000*t)*gte(t\\,1)|0.125*sin(2*PI*3000*t)*gte(t\\,1):s=48000:d=2"));
    HostAudio audio = Decode(path);
    Analysis before = Analyse(audio, 0.5);
    Analysis after = Analyse(audio, 1.5);
    for (int channel = 0; channel < 2; channel++)
        EXPECT_EQ(*std::max_element(before.spectrum[channel], before.spectrum[channel] + HOST_BINS), 0) << channel;
    EXPECT_NEAR(after.spectrum[0][24], 128, 2);
    EXPECT_LE(after.spectrum[0][72], 1);
    EXPECT_NEAR(after.spectrum[1][72], 128, 2);
    EXPECT_LE(after.spectrum[1][24], 1);
    // Half a window past the start, half of the window holds the tone.
    Analysis edge = Analyse(audio, 1.0);
    EXPECT_GT(edge.spectrum[0][24], 30);
    EXPECT_LT(edge.spectrum[0][24], 100);
    // Beyond the end: silence, not a read past the samples.
    Analysis end = Analyse(audio, 5.0);
    EXPECT_EQ(*std::max_element(end.spectrum[1], end.spectrum[1] + HOST_BINS), 0);
}

TEST_F(AudioTest, EveryCommonFormatDecodesWithItsTitle)
{
    const struct {
        const char* name;
        const char* codec;
        int rate;
    } formats[] = {
        {"a.mp3", "libmp3lame", 44100}, {"b.m4a", "aac", 44100},     {"c.flac", "flac", 48000},
        {"d.ogg", "libvorbis", 44100},  {"e.opus", "libopus", 48000}, {"f.wav", "pcm_s16le", 22050},
    };
    std::vector<std::string> files;
    for (const auto& f : formats) {
        files.push_back(dir + "/" + f.name);
        std::string tags = std::string("-c:a ") + f.codec + " -metadata artist='The Testers' -metadata title='Tone " +
                           f.name + "'";
        ASSERT_TRUE(MakeAudio(files.back(), Sine(440, 0.3, f.rate, 1.5), tags)) << f.name;
    }
    files.push_back(dir + "/No Tags Here.ogg");
    ASSERT_TRUE(MakeAudio(files.back(), Sine(440, 0.3, 44100, 1.5), "-c:a libvorbis"));

    std::vector<HostEntry> entries = HostBuildPlaylist(files);
    ASSERT_EQ(entries.size(), files.size());
    for (size_t i = 0; i < entries.size(); i++) {
        std::string want = i < 6 ? std::string("The Testers - Tone ") + formats[i].name : "No Tags Here";
        EXPECT_EQ(entries[i].title, want);
        HostAudio audio = Decode(entries[i].path);
        // Encoders pad to whole frames; the decoders drop the padding within a few milliseconds.
        EXPECT_NEAR(audio.Seconds(), 1.5, 0.025) << entries[i].path;
        EXPECT_EQ(audio.sampleRate, i < 6 ? formats[i].rate : 44100) << entries[i].path;
        // Music in the middle: the 440 Hz peak.
        Analysis a = Analyse(audio, 0.75);
        int peak = (int)(std::max_element(a.spectrum[0], a.spectrum[0] + HOST_BINS) - a.spectrum[0]);
        EXPECT_NEAR(peak, 440.0 * HOST_FFT_SIZE / audio.sampleRate, 1.0) << entries[i].path;
    }
    EXPECT_EQ(HostTitleFromTags("", "Only Title", "/x/y.mp3"), "Only Title");
    EXPECT_EQ(HostTitleFromTags("Only Artist", "", "/x/01 Song.mp3"), "01 Song");
    EXPECT_EQ(HostTitleFromTags("", "", "/x/.hidden"), ".hidden");
    // Tags are outside input: line breaks become spaces, and a huge tag is cut at a character's start
    // so that the window text keeps its " - Winamp" within what the plug-in reads.
    EXPECT_EQ(HostTitleFromTags("Two\r\nLines", "Tab\there", "/x/y.mp3"), "Two  Lines - Tab here");
    std::string huge;
    for (int i = 0; i < 1000; i++)
        huge += "\xc3\xa9";  // é, two bytes each
    std::string cut = HostTitleFromTags("", huge, "/x/y.mp3");
    EXPECT_EQ(cut, huge.substr(0, 1000));
    EXPECT_EQ(HostTitleFromTags("", "a" + huge, "/x/y.mp3"), "a" + huge.substr(0, 998));
}

TEST_F(AudioTest, BrokenFilesAreReportedAndSkipped)
{
    std::string good = dir + "/good.wav";
    ASSERT_TRUE(MakeAudio(good, Sine(440, 0.3, 44100, 0.5)));
    Write("garbage.mp3", std::string(4000, '\x5a'));
    Write("empty.flac", "");
    // A WAV file by the format's layout: IMA ADPCM (tag 0x11) with a block size of 0. It opens, but no
    // decoder can start on it.
    std::string header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x11\0\x01\0\x44\xac\0\0\x22\x56\0\0\0\0\x04\0data\xe8\x03\0\0", 44);
    Write("bad block.wav", header + std::string(1000, '\x11'));
    std::string badBlock = dir + "/bad block.wav";
    Write("header only.wav", header);
    testing::internal::CaptureStderr();
    std::vector<HostEntry> entries = HostBuildPlaylist(
        {dir + "/garbage.mp3", good, dir + "/empty.flac", dir + "/missing.ogg", badBlock, dir + "/cover.jpg",
         dir + "/header only.wav"});
    std::string report = testing::internal::GetCapturedStderr();
    for (const char* name : {"garbage.mp3", "empty.flac", "missing.ogg", "cover.jpg"})
        EXPECT_NE(report.find(std::string("skipping ") + dir + "/" + name + ": "), std::string::npos) << report;
    EXPECT_NE(report.find("No such file"), std::string::npos) << report;
    // The good file, and two whose faults show only when decoding.
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, good);

    // The player passes over the files that fail to decode, saying so once each, and plays the rest.
    HostPlayer player;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(HostCreatePlayer(&player, {entries[1], entries[0], entries[2]}));
    EXPECT_EQ(player.position, 1);
    for (int i = 0; i < 3; i++) {
        SendMessageA(player.window, WM_KEYDOWN, 'B', 0);
        EXPECT_EQ(player.position, 1);
        EXPECT_EQ(player.state, HOST_PLAYING);
    }
    report = testing::internal::GetCapturedStderr();
    size_t first = report.find("skipping " + badBlock + ": ");
    size_t second = report.find("skipping " + dir + "/header only.wav: ");
    EXPECT_NE(first, std::string::npos) << report;
    EXPECT_NE(second, std::string::npos) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
    HostDestroyPlayer(&player);

    // Nothing that plays: the player stops and the playlist counts as finished.
    testing::internal::CaptureStderr();
    ASSERT_TRUE(HostCreatePlayer(&player, {entries[1]}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(player.state, HOST_STOPPED);
    EXPECT_TRUE(player.finished);
    HostDestroyPlayer(&player);
}

TEST_F(AudioTest, FoldersAndListsExpandInOrder)
{
    for (const char* name : {"music/b.flac", "music/a.wav", "music/C.mp3", "music/cover.jpg", "music/notes.txt",
                             "music/sub/deep.wav", "other/x.ogg"})
        Write(name, "");
    // Relative entries against the list's folder, comments and blank lines skipped, CR LF line
    // ends and a byte-order mark, an absolute path, an address, a list that names itself.
    Write("lists/mix.m3u8", "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,Someone - Something\r\n../other/x.ogg\r\n\r\n  "
                            "../music/a.wav \r\n/abs/y.mp3\r\nhttp://radio.example/stream\r\nmix.m3u8\r\n");
    Write("lists/short.m3u", "../other/x.ogg\n");
    std::vector<std::string> files;
    testing::internal::CaptureStderr();
    files = HostExpandPlaylist({dir + "/music", dir + "/lists/short.m3u", dir + "/lists/mix.m3u8",
                                dir + "/lists/none.m3u", dir + "/single.opus"});
    std::string report = testing::internal::GetCapturedStderr();
    std::string m = dir + "/music/", l = dir + "/lists/";
    std::vector<std::string> prefix = {m + "C.mp3", m + "a.wav", m + "b.flac", l + "../other/x.ogg",
                                       l + "../other/x.ogg", l + "../music/a.wav", "/abs/y.mp3",
                                       "http://radio.example/stream"};
    ASSERT_GE(files.size(), prefix.size());
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.begin() + prefix.size()), prefix);
    EXPECT_EQ(files.back(), dir + "/single.opus");
    // The self-naming list repeats its entries down to the nesting limit, then stops with a word.
    EXPECT_NE(report.find("nested deeper"), std::string::npos) << report;
    EXPECT_NE(report.find("none.m3u: cannot read the list"), std::string::npos) << report;
    EXPECT_LT(files.size(), 100u);
}

TEST(HostShuffle, ShufflesIntoAPermutation)
{
    std::vector<HostEntry> entries(12);
    for (size_t i = 0; i < entries.size(); i++)
        entries[i].path = std::to_string(i);
    std::vector<HostEntry> a = entries, b = entries, c = entries;
    HostShuffle(&a, 1);
    HostShuffle(&b, 1);
    HostShuffle(&c, 2);
    auto paths = [](const std::vector<HostEntry>& list) {
        std::vector<std::string> p;
        for (const HostEntry& e : list)
            p.push_back(e.path);
        return p;
    };
    EXPECT_EQ(paths(a), paths(b));
    EXPECT_NE(paths(a), paths(c));
    EXPECT_NE(paths(a), paths(entries));
    std::vector<std::string> sorted = paths(a);
    std::sort(sorted.begin(), sorted.end(), [](const std::string& x, const std::string& y) { return std::stoi(x) < std::stoi(y); });
    EXPECT_EQ(sorted, paths(entries));
}

}  // namespace
