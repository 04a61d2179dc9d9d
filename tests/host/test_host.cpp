// The real host driving the real plug-in, headless: whole runs, keys, requests and the settings file.
#include <gtest/gtest.h>

#include "host.h"

#include <marlix_platform.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MarlixSetHeadless(1);
        MarlixResetWindows();
        startDir = std::filesystem::current_path();
        char pattern[] = "/tmp/marlix-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::create_directories(dir + "/plugins");
        plugin = dir + "/plugins/vis_marlix.so";
        std::filesystem::copy_file(MARLIX_PLUGIN_FILE, plugin);
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
        std::filesystem::remove_all(dir);
    }

    HostOptions Options(int frames) const
    {
        HostOptions options;
        options.pluginPath = plugin;
        options.headless = true;
        options.frames = frames;
        options.playlist = {"music/01 Opening.ogg", "Second Song.mp3", "/x/y/Third"};
        return options;
    }

    // Loads the plug-in and starts a run by hand, for tests that step frame by frame.
    void StartRun()
    {
        std::string error;
        ASSERT_TRUE(HostLoadPlugin(&loaded, plugin, &error)) << error;
        ASSERT_TRUE(HostCreatePlayer(&player, Options(0).playlist));
        HostAttach(&loaded, &player);
        ASSERT_EQ(loaded.module->init(loaded.module), 0);
        pluginWindow = FindWindowA("Marlix", NULL);
        ASSERT_NE(pluginWindow, nullptr);
    }

    std::vector<std::pair<std::string, std::string>> Ini() const
    {
        std::ifstream in(dir + "/plugins/marlix.ini", std::ios::binary);
        std::vector<std::pair<std::string, std::string>> entries;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t equals = line.find('=');
            if (!line.empty() && line[0] != '[' && equals != std::string::npos)
                entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        return entries;
    }

    std::string WindowText(HWND window) const
    {
        char text[256];
        GetWindowTextA(window, text, sizeof(text));
        return text;
    }

    std::string dir;
    std::string startDir;
    std::string plugin;
    HostPlugin loaded;
    HostPlayer player;
    HWND pluginWindow = NULL;
};

TEST_F(HostTest, RunLeavesTheSeventeenKeysBesideThePlugin)
{
    EXPECT_EQ(HostRun(Options(10)), 0);
    auto ini = Ini();
    const char* keys[17] = {"SceneTime", "DefaultScene", "MotionBlur", "CycleScenes", "SongTitle", "ShowCustom",
                            "FontScale", "CustomString", "RenderDevice", "RenderHAL", "RunInWindow", "Use32Bit",
                            "FullRes", "Screen_x", "Screen_y", "Screen_width", "Screen_height"};
    ASSERT_EQ(ini.size(), 17u);
    for (int i = 0; i < 17; i++)
        EXPECT_EQ(ini[i].first, keys[i]);
    EXPECT_EQ(ini[6].second, "0.50");
    EXPECT_EQ(ini[9].second, "0");
    EXPECT_EQ(MarlixWindowCount(), 0);  // the plug-in's window and the player's are gone
}

TEST_F(HostTest, TwoRunsInOneProcess)
{
    // Loaded afresh for each run, and twice within one load: the window class is unregistered at
    // the end of a run and registered again by the next.
    EXPECT_EQ(HostRun(Options(3)), 0);
    EXPECT_EQ(HostRun(Options(3)), 0);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);

    StartRun();
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
    EXPECT_EQ(FindWindowA("Marlix", NULL), nullptr);
    ASSERT_EQ(loaded.module->init(loaded.module), 0);
    EXPECT_NE(FindWindowA("Marlix", NULL), nullptr);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
    int ended = 0;
    for (int command : player.commands)
        ended += command == HOST_CMD_VIS_ENDED;
    EXPECT_EQ(ended, 4);
}

TEST_F(HostTest, EscapeEndsTheRun)
{
    StartRun();
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, VK_ESCAPE, TRUE));
    // The close is posted by the key handler and delivered on the next pump; the run ends there.
    int frames = 0;
    while (frames < 5 && HostFrame(&loaded, &player))
        frames++;
    EXPECT_LT(frames, 5);
    EXPECT_FALSE(IsWindow(pluginWindow));
    HostEndRun(&loaded);
    ASSERT_FALSE(player.keys.empty());
    EXPECT_EQ(player.keys[0].key, (WPARAM)VK_ESCAPE);
}

TEST_F(HostTest, EscapeEndsAWholeRunBeforeItsFrameCount)
{
    // Through the program's own loop: a run of "a million" frames ends as soon as the window closes.
    StartRun();
    ASSERT_TRUE(MarlixPostKey(pluginWindow, VK_ESCAPE, TRUE));
    EXPECT_FALSE(HostFrame(&loaded, &player));
    HostEndRun(&loaded);
}

TEST_F(HostTest, KeysThePluginDoesNotTakeReachThePlayer)
{
    StartRun();
    ASSERT_EQ(player.position, 0);
    ASSERT_TRUE(MarlixPostKey(pluginWindow, 'B', TRUE));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, 'B', FALSE));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, '3', TRUE));  // a scene key: the plug-in keeps it
    ASSERT_TRUE(MarlixPostKey(pluginWindow, '3', FALSE));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, 'V', TRUE));
    ASSERT_TRUE(MarlixPostKey(pluginWindow, 'V', FALSE));
    ASSERT_TRUE(HostFrame(&loaded, &player));
    ASSERT_TRUE(HostFrame(&loaded, &player));

    ASSERT_EQ(player.keys.size(), 4u);
    EXPECT_EQ(player.keys[0].message, (UINT)WM_KEYDOWN);
    EXPECT_EQ(player.keys[0].key, (WPARAM)'B');
    EXPECT_EQ(player.keys[1].message, (UINT)WM_KEYUP);
    EXPECT_EQ(player.keys[1].key, (WPARAM)'B');
    EXPECT_NE((uint64_t)player.keys[1].lParam & 0x80000000u, 0u);  // the transition bit of a release, unchanged
    EXPECT_EQ(player.keys[2].key, (WPARAM)'V');
    EXPECT_EQ(player.keys[3].message, (UINT)WM_KEYUP);
    // B went to the next title, V stopped: the player acted on them.
    EXPECT_EQ(player.position, 1);
    EXPECT_EQ(WindowText(player.window), "2. Second Song - Winamp");
    EXPECT_EQ(player.state, HOST_STOPPED);
    HostEndRun(&loaded);
}

TEST_F(HostTest, PlayerKeysMoveThroughThePlaylist)
{
    StartRun();
    const struct {
        UINT key;
        int position;
        HostPlayState state;
    } steps[] = {
        {'Z', 2, HOST_PLAYING}, {'Z', 1, HOST_PLAYING}, {'C', 1, HOST_PAUSED}, {'C', 1, HOST_PLAYING},
        {'V', 1, HOST_STOPPED}, {'X', 1, HOST_PLAYING}, {'B', 2, HOST_PLAYING}, {'B', 0, HOST_PLAYING},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(MarlixPostKey(pluginWindow, s.key, TRUE));
        ASSERT_TRUE(MarlixPostKey(pluginWindow, s.key, FALSE));
        ASSERT_TRUE(HostFrame(&loaded, &player));
        EXPECT_EQ(player.position, s.position) << (char)s.key;
        EXPECT_EQ(player.state, s.state) << (char)s.key;
    }
    HostEndRun(&loaded);
}

TEST_F(HostTest, AnswersThePluginsRequests)
{
    ASSERT_TRUE(HostCreatePlayer(&player, Options(0).playlist));
    HWND w = player.window;
    EXPECT_EQ(WindowText(w), "1. 01 Opening - Winamp");
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, HOST_REQ_LENGTH), 3);
    EXPECT_STREQ((const char*)SendMessageA(w, WM_USER, 1, HOST_REQ_TITLE), "Second Song");
    EXPECT_STREQ((const char*)SendMessageA(w, WM_USER, 2, HOST_REQ_TITLE), "Third");
    EXPECT_EQ(SendMessageA(w, WM_USER, 3, HOST_REQ_TITLE), 0);
    EXPECT_EQ(SendMessageA(w, WM_USER, (WPARAM)-1, HOST_REQ_TITLE), 0);
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, HOST_REQ_POSITION), 0);
    SendMessageA(w, WM_USER, 2, HOST_REQ_SET_POSITION);
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, HOST_REQ_POSITION), 2);
    EXPECT_EQ(WindowText(w), "3. Third - Winamp");
    SendMessageA(w, WM_USER, 7, HOST_REQ_SET_POSITION);  // no such entry: ignored
    EXPECT_EQ(player.position, 2);

    SendMessageA(w, WM_COMMAND, HOST_CMD_STOP, 0);
    EXPECT_EQ(player.state, HOST_STOPPED);
    SendMessageA(w, WM_COMMAND, HOST_CMD_PLAY, 0);
    EXPECT_EQ(player.state, HOST_PLAYING);
    EXPECT_EQ(player.commands, (std::vector<int>{HOST_CMD_STOP, HOST_CMD_PLAY}));

    HostPlayer empty;
    ASSERT_TRUE(HostCreatePlayer(&empty, {}));
    EXPECT_EQ(SendMessageA(empty.window, WM_USER, 0, HOST_REQ_LENGTH), 0);
    EXPECT_EQ(SendMessageA(empty.window, WM_USER, 0, HOST_REQ_TITLE), 0);
    EXPECT_EQ(WindowText(empty.window), "Winamp");
    HostDestroyPlayer(&empty);
    HostDestroyPlayer(&player);
}

TEST_F(HostTest, SpectrumFollowsThePlayer)
{
    StartRun();
    // Playing: the same spectrum as the test signal at that time, in both channels.
    ASSERT_TRUE(HostFrame(&loaded, &player));
    unsigned char expected[576];
    HostSpectrum(player.position, player.trackTime, expected);
    EXPECT_EQ(memcmp(loaded.module->spectrumData[0], expected, 576), 0);
    EXPECT_EQ(memcmp(loaded.module->spectrumData[1], expected, 576), 0);
    int sum = 0;
    for (int bin = 4; bin < 68; bin++)
        sum += loaded.module->spectrumData[0][bin];
    EXPECT_GT(sum, 64 * 4);  // the bins that drive the animation carry the music

    SendMessageA(player.window, WM_COMMAND, HOST_CMD_STOP, 0);
    ASSERT_TRUE(HostFrame(&loaded, &player));
    for (int bin = 0; bin < 576; bin++)
        ASSERT_EQ(loaded.module->spectrumData[0][bin], 0) << bin;
    HostEndRun(&loaded);
}

TEST(HostSignal, SpectrumIsDeterministicAndMoves)
{
    unsigned char a[576], b[576], c[576];
    HostSpectrum(0, 2.5, a);
    HostSpectrum(0, 2.5, b);
    HostSpectrum(0, 2.5 + 1.0 / 60.0 * 7, c);
    EXPECT_EQ(memcmp(a, b, 576), 0);
    EXPECT_NE(memcmp(a, c, 576), 0);
    // Another entry is another track.
    HostSpectrum(1, 2.5, c);
    EXPECT_NE(memcmp(a, c, 576), 0);
    // The kick (55 Hz, bins 2 to 3) is loudest just after a beat and gone before the next one.
    unsigned char onBeat[576], late[576];
    HostSpectrum(0, 6.0 + 0.03, onBeat);   // 100 beats a minute: beats at 0.6 s steps
    HostSpectrum(0, 6.0 + 0.55, late);
    EXPECT_GT(onBeat[2] + onBeat[3], late[2] + late[3] + 100);
}

TEST(HostArgs, ParsesOptionsAndPlaylist)
{
    const char* argv[] = {"marlix", "--plugin", "/p/vis.so", "--headless", "--frames", "12", "--out", "frames",
                          "a/b/Song One.ogg", "--", "--odd name.wav"};
    HostOptions options;
    std::string error;
    ASSERT_TRUE(HostParseArgs(11, (char**)argv, &options, &error)) << error;
    EXPECT_EQ(options.pluginPath, "/p/vis.so");
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.frames, 12);
    EXPECT_EQ(options.outDir, "frames");
    EXPECT_FALSE(options.configure);
    EXPECT_EQ(options.playlist, (std::vector<std::string>{"a/b/Song One.ogg", "--odd name.wav"}));
    EXPECT_EQ(HostTitleFromFileName("a/b/Song One.ogg"), "Song One");
    EXPECT_EQ(HostTitleFromFileName("C:\\m\\x.y.mp3"), "x.y");
    EXPECT_EQ(HostTitleFromFileName(".hidden"), ".hidden");
    EXPECT_EQ(HostTitleFromFileName("plain"), "plain");

    const std::vector<std::vector<const char*>> bad = {
        {"marlix", "--frames"}, {"marlix", "--frames", "0"}, {"marlix", "--frames", "-4"},
        {"marlix", "--frames", "7x"}, {"marlix", "--frames", "99999999999"}, {"marlix", "--bogus"},
        {"marlix", "--out", "dir"},  // frames are written only headless
    };
    for (const auto& args : bad) {
        HostOptions o;
        std::string e;
        EXPECT_FALSE(HostParseArgs((int)args.size(), (char**)args.data(), &o, &e)) << args.back();
        EXPECT_FALSE(e.empty());
    }
}

TEST(HostArgs, DefaultPluginIsBesideTheProgram)
{
    std::string path = HostDefaultPluginPath();
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::string program = self;
    EXPECT_EQ(path, program.substr(0, program.rfind('/') + 1) + "plugins/vis_marlix.so");
}

TEST_F(HostTest, MissingPluginFailsCleanly)
{
    HostOptions options = Options(1);
    options.pluginPath = dir + "/nothing.so";
    EXPECT_EQ(HostRun(options), 1);
    options.pluginPath = MARLIX_HOST_PROGRAM;  // loadable or not, it is no plug-in
    EXPECT_EQ(HostRun(options), 1);
}

TEST_F(HostTest, ProgramRunsHeadlessAndExitsZero)
{
    std::string command = std::string("'") + MARLIX_HOST_PROGRAM + "' --headless --frames 10 --plugin '" + plugin +
                          "' one.wav two.wav >'" + dir + "/out.txt' 2>&1";
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Ini().size(), 17u);

    command = std::string("'") + MARLIX_HOST_PROGRAM + "' --frames nope >/dev/null 2>&1";
    status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST_F(HostTest, ConfigureLoadsTheSettingsAndExits)
{
    HostOptions options = Options(0);
    options.configure = true;
    EXPECT_EQ(HostRun(options), 0);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
    EXPECT_EQ(MarlixWindowCount(), 0);
}

}  // namespace
