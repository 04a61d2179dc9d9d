// The real host driving the real plug-in, headless: whole runs, keys, requests, the settings file
// and the capture of presented frames.
#include <gtest/gtest.h>

#include "host.h"
#include "hostcontrols.h"
#include "media.h"
#include "plugin_copy.h"
#include "test_common.h"

#include <d3d8.h>
#include <marlix_platform.h>
#include <png.h>

#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MarlixSetHeadless(1);
        MarlixResetWindows();
        startDir = std::filesystem::current_path();
        ASSERT_TRUE(scratch.Make("host"));
        dir = scratch.path;
        plugin = CopyPlugin(dir);
        // Three short tracks: the first without tags, the others tagged.
        std::filesystem::create_directories(dir + "/music");
        files = {dir + "/music/01 Opening.wav", dir + "/second.flac", dir + "/third.ogg"};
        ASSERT_TRUE(MakeAudio(files[0], Sine(220, 0.5, 44100, 1.0)));
        ASSERT_TRUE(MakeAudio(files[1], Sine(440, 0.5, 44100, 1.0), "-metadata artist=Band -metadata title='Second Song'"));
        ASSERT_TRUE(MakeAudio(files[2], Sine(880, 0.5, 48000, 1.0), "-metadata title=Third"));
    }
    void TearDown() override
    {
        if (loaded.module) {
            HostDestroyPlayer(&player);
            HostUnloadPlugin(&loaded);
        }
        MarlixResetWindows();
        std::error_code ignored;
        std::filesystem::current_path(startDir, ignored);
        scratch.Remove();
    }
    HostOptions Options(int frames) const
    {
        HostOptions options;
        options.pluginPath = plugin;
        options.headless = true;
        options.frames = frames;
        options.playlist = files;
        return options;
    }
    // Loads the plug-in and starts a run by hand, for tests that step frame by frame.
    void StartRun()
    {
        std::string error;
        ASSERT_TRUE(HostLoadPlugin(&loaded, plugin, &error)) << error;
        ASSERT_TRUE(HostCreatePlayer(&player, HostBuildPlaylist(files)));
        HostAttach(&loaded, &player);
        ASSERT_EQ(loaded.module->init(loaded.module), 0);
        pluginWindow = FindWindowA("Marlix", NULL);
        ASSERT_NE(pluginWindow, nullptr);
    }
    void Key(UINT key)
    {
        ASSERT_TRUE(MarlixPostKey(pluginWindow, key, TRUE));
        ASSERT_TRUE(MarlixPostKey(pluginWindow, key, FALSE));
        ASSERT_TRUE(HostFrame(&loaded, &player));
    }
    // The file's lines as "key=", with FontScale's value kept: the format is what is checked there.
    std::vector<std::string> IniKeys() const
    {
        std::ifstream in(dir + "/plugins/marlix.ini");
        std::vector<std::string> keys;
        for (std::string line; std::getline(in, line);) {
            line.erase(line.find_last_not_of('\r') + 1);
            size_t equals = line.find('=');
            if (equals != std::string::npos)
                keys.push_back(line.rfind("FontScale=", 0) == 0 ? line : line.substr(0, equals + 1));
        }
        return keys;
    }
    static std::string Text(HWND window)
    {
        char text[256];
        GetWindowTextA(window, text, sizeof(text));
        return text;
    }

    ScratchFolder scratch;
    std::string dir, startDir, plugin;
    std::vector<std::string> files;
    HostPlugin loaded;
    HostPlayer player;
    HWND pluginWindow = NULL;
};

TEST_F(HostTest, RunsLeaveTheSeventeenKeysBesideThePlugin)
{
    EXPECT_EQ(HostRun(Options(10)), 0);
    const std::vector<std::string> want = {
        "SceneTime=", "DefaultScene=", "MotionBlur=", "CycleScenes=", "SongTitle=", "ShowCustom=",
        "FontScale=0.50", "CustomString=", "RenderDevice=", "RenderHAL=", "RunInWindow=", "Use32Bit=",
        "FullRes=", "Screen_x=", "Screen_y=", "Screen_width=", "Screen_height="};
    EXPECT_EQ(IniKeys(), want);
    EXPECT_EQ(MarlixWindowCount(), 0);  // the plug-in's window and the player's are gone

    // The program itself, as a process; then a second run in this process, and one by hand with two
    // runs in one load: each run registers the window class again.
    std::filesystem::remove(dir + "/plugins/marlix.ini");
    std::string command = std::string("'") + MARLIX_HOST_PROGRAM + "' --headless --frames 10 --plugin '" + plugin +
                          "' one.wav >/dev/null 2>&1";
    int status = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(IniKeys(), want);
    EXPECT_EQ(HostRun(Options(3)), 0);
    StartRun();
    ASSERT_TRUE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
    ASSERT_EQ(loaded.module->init(loaded.module), 0);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
    EXPECT_EQ(std::count(player.commands.begin(), player.commands.end(), HOST_CMD_VIS_ENDED), 4);
}

// Window sizes in the settings file that no window can have: each run of the program works, and a
// size of 0 or less is written back as the default, so the file is repaired for the next run.
TEST_F(HostTest, UnusableWindowSizesInTheSettingsStillRun)
{
    struct Case {
        const char* lines;
        int width, height;  // what the file holds after the run
    };
    const Case cases[] = {
        {"Screen_width=0\n", 288, 256},
        {"Screen_height=-5\n", 288, 256},
        {"Screen_width=-1\nScreen_height=0\n", 288, 256},
        {"Screen_height=1\n", 288, 1},
        {"Screen_height=20\n", 288, 20},
        {"Screen_height=31\n", 288, 31},
        {"Screen_width=100000\nScreen_height=100000\n", 100000, 100000},
    };
    const std::string ini = dir + "/plugins/marlix.ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        std::ofstream(ini, std::ios::binary) << "[Marlix Winamp Visualizer]\n" << c.lines;
        // As a process of its own: a fatal box ends the program, and must not end this test.
        std::string log = dir + "/run.log";
        std::string command = std::string("'") + MARLIX_HOST_PROGRAM + "' --headless --frames 3 --plugin '" + plugin +
                              "' one.wav >'" + log + "' 2>&1";
        int status = system(command.c_str());
        std::ifstream in(log);
        std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", -99, ini.c_str()), c.width);
        EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_height", -99, ini.c_str()), c.height);
    }
}

// A size asked for on the command line is the run's own: the user's window size stays in the file,
// and a file without one gets none.
TEST_F(HostTest, ASizeGivenToARunIsNotSaved)
{
    const std::string ini = dir + "/plugins/marlix.ini";
    HostOptions options = Options(3);
    options.width = 320;
    options.height = 240;
    std::ofstream(ini, std::ios::binary) << "[Marlix Winamp Visualizer]\nScreen_width=700\nScreen_height=500\n";
    EXPECT_EQ(HostRun(options), 0);
    EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", -99, ini.c_str()), 700);
    EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_height", -99, ini.c_str()), 500);
    EXPECT_EQ(IniKeys().size(), 17u);  // the run still saved everything else

    std::filesystem::remove(ini);
    EXPECT_EQ(HostRun(options), 0);
    EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", -99, ini.c_str()), -99);
    EXPECT_EQ((int)GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_height", -99, ini.c_str()), -99);
    EXPECT_EQ(IniKeys().size(), 15u);
}

TEST_F(HostTest, RunsOpenTheDevicePresentAndFollowTheWindowSize)
{
    MarlixD3D8ResetCounters();
    StartRun();
    RECT client;
    ASSERT_TRUE(GetClientRect(pluginWindow, &client));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    MarlixFrame frame;
    ASSERT_TRUE(MarlixGetFrame(pluginWindow, &frame));
    EXPECT_EQ(frame.width, client.right);
    EXPECT_EQ(frame.height, client.bottom);
    MarlixD3D8Counters counters;
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.presents, 2u);
    EXPECT_EQ(counters.resets, 0u);

    // A new client size resets the device to it; the next frames have the new size.
    ASSERT_TRUE(MarlixPostSize(pluginWindow, 320, 200));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(MarlixGetFrame(pluginWindow, &frame));
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(frame.height, 200);
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.resets, 1u);
    RECT outer;
    ASSERT_TRUE(GetWindowRect(pluginWindow, &outer));

    // A zero-height client area is ignored.
    ASSERT_TRUE(MarlixPostSize(pluginWindow, 320, 0));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.resets, 1u);
    ASSERT_TRUE(MarlixPostSize(pluginWindow, 320, 200));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
    EXPECT_EQ(MarlixD3D8LiveObjects(), 0);  // device, surfaces and textures all released

    // The next run opens the window at the size the last one ended with, frame included: it does
    // not shrink by its border from run to run.
    ASSERT_EQ(loaded.module->init(loaded.module), 0);
    pluginWindow = FindWindowA("Marlix", NULL);
    RECT again;
    ASSERT_TRUE(GetWindowRect(pluginWindow, &again));
    EXPECT_EQ(again.right - again.left, outer.right - outer.left);
    EXPECT_EQ(again.bottom - again.top, outer.bottom - outer.top);
    ASSERT_TRUE(GetClientRect(pluginWindow, &client));
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
    HostEndRun(&loaded);
}

TEST_F(HostTest, ALostDeviceIsRecoveredWithinTheFrame)
{
    MarlixClockEnable(1);  // the recovery waits a second between polls: on the virtual clock
    MarlixD3D8ResetCounters();
    StartRun();
    ASSERT_TRUE(HostFrame(&loaded, &player));
    MarlixFrame before, after;
    ASSERT_TRUE(MarlixGetFrame(pluginWindow, &before));
    MarlixD3D8LoseDevice(3);
    ASSERT_TRUE(HostFrame(&loaded, &player));  // its present finds the device lost and resets it
    MarlixD3D8Counters counters;
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.resets, 1u);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(MarlixGetFrame(pluginWindow, &after));
    EXPECT_GT(after.counter, before.counter);  // frames reach the window again
    HostEndRun(&loaded);
    EXPECT_EQ(MarlixD3D8LiveObjects(), 0);
}

TEST_F(HostTest, EscapeEndsTheRunAndReachesThePlayer)
{
    StartRun();
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, VK_ESCAPE, TRUE));
    EXPECT_FALSE(HostFrame(&loaded, &player));
    EXPECT_FALSE(IsWindow(pluginWindow));
    HostEndRun(&loaded);
    ASSERT_EQ(player.keys.size(), 1u);
    EXPECT_EQ(player.keys[0].key, (WPARAM)VK_ESCAPE);
}

TEST_F(HostTest, KeysThePluginDoesNotTakeWorkThePlayer)
{
    StartRun();
    Key('3');  // a scene key: the plug-in keeps it
    EXPECT_TRUE(player.keys.empty());
    const struct {
        UINT key;
        int position;
        HostPlayState state;
    } steps[] = {{'Z', 2, HOST_PLAYING}, {'C', 2, HOST_PAUSED}, {'C', 2, HOST_PLAYING}, {'V', 2, HOST_STOPPED},
                 {'X', 2, HOST_PLAYING}, {'B', 0, HOST_PLAYING}, {'B', 1, HOST_PLAYING}};
    for (const auto& s : steps) {
        Key(s.key);
        EXPECT_EQ(player.position, s.position) << (char)s.key;
        EXPECT_EQ(player.state, s.state) << (char)s.key;
    }
    EXPECT_EQ(Text(player.window), "2. Band - Second Song - Winamp");
    ASSERT_EQ(player.keys.size(), 14u);
    EXPECT_EQ(player.keys[13].message, (UINT)WM_KEYUP);
    EXPECT_EQ(player.keys[13].key, (WPARAM)'B');
    EXPECT_NE((uint64_t)player.keys[13].lParam & 0x80000000u, 0u);  // a release's transition bit, unchanged
    HostEndRun(&loaded);
}

TEST_F(HostTest, AnswersThePluginsRequestsFromTheRealPlaylist)
{
    StartRun();
    HWND w = player.window;
    EXPECT_EQ(Text(w), "1. 01 Opening - Winamp");
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, HOST_REQ_LENGTH), 3);
    EXPECT_STREQ((const char*)SendMessageA(w, WM_USER, 1, HOST_REQ_TITLE), "Band - Second Song");
    EXPECT_STREQ((const char*)SendMessageA(w, WM_USER, 2, HOST_REQ_TITLE), "Third");
    EXPECT_EQ(SendMessageA(w, WM_USER, 3, HOST_REQ_TITLE), 0);
    EXPECT_EQ(SendMessageA(w, WM_USER, (WPARAM)-1, HOST_REQ_TITLE), 0);
    SendMessageA(w, WM_USER, 2, HOST_REQ_SET_POSITION);
    SendMessageA(w, WM_USER, 7, HOST_REQ_SET_POSITION);  // no such entry: ignored
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, HOST_REQ_POSITION), 2);
    EXPECT_EQ(Text(w), "3. Third - Winamp");

    // Playing the third entry: its 880 Hz at 48 kHz is bin 21 (41.7 Hz a bin), in both channels,
    // and the module tells its format.
    HostAdvance(&player, 0.5);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    EXPECT_EQ(loaded.module->sampleRate, 48000);
    EXPECT_EQ(loaded.module->channels, 2);
    for (int channel = 0; channel < 2; channel++) {
        const unsigned char* bins = loaded.module->spectrumData[channel];
        EXPECT_EQ(std::max_element(bins, bins + 576) - bins, 21) << channel;
        EXPECT_EQ(bins[21], 255) << channel;
    }
    // Stop (40047), then play (40045) starts the selected entry again from its start.
    SendMessageA(w, WM_COMMAND, HOST_CMD_STOP, 0);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    unsigned char silence[576] = {0};
    EXPECT_EQ(memcmp(loaded.module->spectrumData[0], silence, 576), 0);
    EXPECT_EQ(memcmp(loaded.module->waveformData[1], silence, 576), 0);
    SendMessageA(w, WM_COMMAND, HOST_CMD_PLAY, 0);
    EXPECT_EQ(player.state, HOST_PLAYING);
    EXPECT_EQ(player.position, 2);
    EXPECT_EQ(player.trackTime, 0.0);
    HostEndRun(&loaded);
}

TEST_F(HostTest, SeekVolumeAndTheEndOfTheList)
{
    StartRun();
    HWND w = player.window;
    auto press = [&](WPARAM key) { SendMessageA(w, WM_KEYDOWN, key, 0); };
    press(VK_RIGHT);  // past the end of a one-second track: held at its end
    EXPECT_DOUBLE_EQ(player.trackTime, 1.0);
    press(VK_LEFT);
    EXPECT_DOUBLE_EQ(player.trackTime, 0.0);
    float start = player.volume;
    press(VK_DOWN);
    EXPECT_LT(player.volume, start);
    for (int i = 0; i < 30; i++)
        press(VK_UP);
    EXPECT_EQ(player.volume, 1.0f);
    for (int i = 0; i < 30; i++)
        press(VK_DOWN);
    EXPECT_EQ(player.volume, 0.0f);

    // Sixty frames a second: each track ends after exactly its 60 frames and the next one plays;
    // after the last, the player stops, or with repeat starts over.
    int frames = 0;
    while (!player.finished && frames < 1000) {
        HostAdvance(&player, 1.0 / 60.0);
        frames++;
    }
    EXPECT_EQ(frames, 180);
    EXPECT_EQ(player.state, HOST_STOPPED);
    player.repeat = true;
    HostPlay(&player);
    EXPECT_EQ(player.position, 2);
    for (int i = 0; i < 60; i++)
        HostAdvance(&player, 1.0 / 60.0);
    EXPECT_EQ(player.position, 0);
    EXPECT_EQ(player.state, HOST_PLAYING);
    HostEndRun(&loaded);
}

TEST(HostArgs, ParsesOptionsAndRejectsBadOnes)
{
    const char* argv[] = {"marlix", "--plugin", "/p/vis.so", "--headless", "--frames", "12", "--out", "frames",
                          "--shuffle", "--repeat", "--size", "800x600", "a/b/Song One.ogg", "--", "--odd.wav"};
    HostOptions options;
    std::string error;
    ASSERT_TRUE(HostParseArgs(15, (char**)argv, &options, &error)) << error;
    EXPECT_EQ(options.pluginPath, "/p/vis.so");
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.frames, 12);
    EXPECT_EQ(options.out, "frames");
    EXPECT_TRUE(options.shuffle);
    EXPECT_TRUE(options.repeat);
    EXPECT_EQ(options.width, 800);
    EXPECT_EQ(options.height, 600);
    EXPECT_EQ(options.playlist, (std::vector<std::string>{"a/b/Song One.ogg", "--odd.wav"}));
    const char* capture[] = {"marlix", "--capture", "--device", "sink.monitor"};
    HostOptions c;
    ASSERT_TRUE(HostParseArgs(4, (char**)capture, &c, &error)) << error;
    EXPECT_TRUE(c.capture);
    EXPECT_EQ(c.device, "sink.monitor");
    const char* video[] = {"marlix", "--out", "x.MP4"};  // a video file needs no --headless
    HostOptions v;
    EXPECT_TRUE(HostParseArgs(3, (char**)video, &v, &error)) << error;
    const std::vector<std::vector<const char*>> bad = {
        {"marlix", "--frames"}, {"marlix", "--frames", "0"}, {"marlix", "--frames", "7x"},
        {"marlix", "--frames", "99999999999"}, {"marlix", "--bogus"}, {"marlix", "--out", "dir"},
        {"marlix", "--size", "640"}, {"marlix", "--size", "641x480"}, {"marlix", "--size", "8x8"},
        {"marlix", "--size", "640x480x"}, {"marlix", "--size", "99999x480"},
        {"marlix", "--capture", "--out", "a.webm"}, {"marlix", "--capture", "a.wav"}, {"marlix", "--device", "x"}};
    for (const auto& args : bad) {
        HostOptions o;
        std::string e;
        EXPECT_FALSE(HostParseArgs((int)args.size(), (char**)args.data(), &o, &e)) << args.back();
    }
}

TEST_F(HostTest, MissingOrForeignPluginAndEndlessHeadlessRunsFail)
{
    HostOptions options = Options(1);
    options.pluginPath = dir + "/nothing.so";
    EXPECT_EQ(HostRun(options), 1);
    options.pluginPath = MARLIX_HOST_PROGRAM;
    EXPECT_EQ(HostRun(options), 1);
    options = Options(0);
    options.playlist.clear();
    EXPECT_EQ(HostRun(options), 2);  // headless with nothing to play and no frame count would never end
    options = Options(0);
    options.repeat = true;
    EXPECT_EQ(HostRun(options), 2);  // nor would a repeated playlist

    // The message tells a wrong path from a file that is no plug-in.
    HostPlugin plugin;
    std::string error;
    EXPECT_FALSE(HostLoadPlugin(&plugin, dir + "/nothing.so", &error));
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;
    EXPECT_FALSE(HostLoadPlugin(&plugin, dir, &error));
    EXPECT_NE(error.find("directory"), std::string::npos) << error;
    EXPECT_FALSE(HostLoadPlugin(&plugin, MARLIX_HOST_PROGRAM, &error));
    EXPECT_NE(error.find("not a shared library"), std::string::npos) << error;  // a program
    EXPECT_EQ(plugin.library, nullptr);
}

static bool ReadPng(const std::string& path, int* width, std::vector<unsigned char>* rgb)
{
    png_image png;
    memset(&png, 0, sizeof(png));
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_RGB;
    *width = (int)png.width;
    rgb->resize(PNG_IMAGE_SIZE(png));
    bool ok = png_image_finish_read(&png, NULL, rgb->data(), 0, NULL) != 0;
    png_image_free(&png);
    return ok;
}

TEST_F(HostTest, CaptureWritesEveryPresentInOrder)
{
    // A popup, so that the client area is exactly the back buffer and nothing is scaled.
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "capture";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND window = CreateWindowExA(0, "capture", "", WS_POPUP, 0, 0, 32, 24, NULL, NULL, NULL, NULL);
    ShowWindow(window, SW_SHOWNORMAL);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = 32;
    pp.BackBufferHeight = 24;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = window;
    IDirect3DDevice8* device = NULL;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
              D3D_OK);
    HostCapture capture;
    HostBeginCapture(&capture, dir);
    device->Clear(0, NULL, D3DCLEAR_TARGET, 0x00ff8000, 1.0f, 0);
    device->Present(NULL, NULL, NULL, NULL);
    D3DRECT corner = {0, 0, 8, 4};
    device->Clear(0, NULL, D3DCLEAR_TARGET, 0x000040ff, 1.0f, 0);
    device->Clear(1, &corner, D3DCLEAR_TARGET, 0x00ffffff, 1.0f, 0);
    device->Present(NULL, NULL, NULL, NULL);
    EXPECT_TRUE(HostEndCapture(&capture));
    device->Present(NULL, NULL, NULL, NULL);  // after the capture: not written
    device->Release();
    d3d->Release();

    EXPECT_EQ(capture.written, 2);
    EXPECT_FALSE(std::filesystem::exists(dir + "/frame-00002.png"));
    int width = 0;
    std::vector<unsigned char> first, second;
    ASSERT_TRUE(ReadPng(dir + "/frame-00000.png", &width, &first));
    ASSERT_TRUE(ReadPng(dir + "/frame-00001.png", &width, &second));
    ASSERT_EQ(width, 32);
    ASSERT_EQ(first.size(), 32u * 24 * 3);
    EXPECT_EQ(std::vector<unsigned char>(first.end() - 3, first.end()), (std::vector<unsigned char>{0xff, 0x80, 0}));
    auto pixel = [&](int x, int y) { return std::vector<unsigned char>(&second[(y * 32 + x) * 3], &second[(y * 32 + x) * 3 + 3]); };
    EXPECT_EQ(pixel(7, 3), (std::vector<unsigned char>{0xff, 0xff, 0xff}));
    EXPECT_EQ(pixel(8, 4), (std::vector<unsigned char>{0, 0x40, 0xff}));
}

}  // namespace
