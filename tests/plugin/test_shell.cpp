// The host-facing shell: header and module record, a run's start and end, the output window's keys,
// and what reaches the host window.
#include "plugin_fixture.h"

#include <marlix_platform.h>

#include "kestra.h"

#include <fstream>
#include <iterator>
#include <string>

using Shell = PluginTest;

TEST(Header, DescribesTheOneModule)
{
    VisHeader* header = winampVisGetHeader();
    EXPECT_EQ(header->version, 0x101);
    EXPECT_STREQ(header->description, "Marlix Winamp Visualizer");
    VisModule* module = header->getModule(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(header->getModule(0), module);
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);
    EXPECT_STREQ(module->description, header->description);
    EXPECT_TRUE(module->config == VisConfig && module->init == VisInit && module->render == VisRender &&
                module->quit == VisQuit);
}

TEST_F(Shell, WindowedRunOpensTheWindowAndLeavesTheHostAlone)
{
    visSettings.alwaysOnTop = 1;  // in memory only: loading the settings keeps it
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_EQ(running, 1);
    ASSERT_EQ(FindWindowA("Marlix", NULL), visWindow);
    EXPECT_TRUE(IsWindowVisible(visWindow));
    char title[64];
    GetWindowTextA(visWindow, title, sizeof(title));
    EXPECT_STREQ(title, "Marlix Winamp Visualizer");
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_EXSTYLE) & 0x30Fu, 0x308u);
    DWORD style = (DWORD)GetWindowLongA(visWindow, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_SYSMENU | WS_THICKFRAME), (DWORD)(WS_SYSMENU | WS_THICKFRAME));
    EXPECT_EQ(GetWindow(visWindow, GW_OWNER), hostWindow);
    RECT rect;
    GetWindowRect(visWindow, &rect);
    EXPECT_EQ(rect.left, 50);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, 288);
    EXPECT_EQ(rect.bottom - rect.top, 256);
    EXPECT_EQ((VisModule*)GetWindowLongPtrA(visWindow, GWLP_USERDATA), &visModule);
    EXPECT_FALSE(IsIconic(hostWindow));
    EXPECT_EQ(VisRender(&visModule), 0);

    // Moving the window is remembered, and the end of the run saves, closes, unregisters the class
    // and tells the host twice; then the next run starts from the registration again.
    HWND window = visWindow;
    MoveWindow(window, 123, 77, 288, 256, TRUE);
    Pump();
    host.messages.clear();
    VisQuit(&visModule);
    EXPECT_EQ(running, 0);
    EXPECT_FALSE(IsWindow(window));
    WNDCLASSA info;
    EXPECT_FALSE(GetClassInfoA((HINSTANCE)library, "Marlix", &info));
    ASSERT_EQ(host.messages.size(), 2u);
    for (const auto& m : host.messages)
        EXPECT_TRUE(m.message == WM_COMMAND && m.wParam == 40258 && m.lParam == 0);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_x", 0, IniPath().c_str()), 123u);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_y", 0, IniPath().c_str()), 77u);
}

// The user sizes the window during a run: the file keeps the window's outer size (the client
// area and the frame of 6 at the sides and bottom, 25 at the top), so the next run has the
// same client area and the window does not shrink by its frame from run to run.
TEST_F(Shell, AWindowSizedDuringARunComesBackTheSameSize)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    ASSERT_TRUE(MarlixPostSize(visWindow, 320, 200));
    Pump();
    EXPECT_EQ(ksGlobal.screenWidth, 320);
    EXPECT_EQ(ksGlobal.screenHeight, 200);
    VisQuit(&visModule);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_width", 0, IniPath().c_str()), 332u);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_height", 0, IniPath().c_str()), 231u);
    ASSERT_EQ(VisInit(&visModule), 0);
    RECT client;
    GetClientRect(visWindow, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
}

TEST_F(Shell, FullScreenRunMinimisesTheHostAndQuitRestoresIt)
{
    WriteIni("[Marlix Winamp Visualizer]\nRunInWindow=0\nFullRes=1\n");
    ShowWindow(hostWindow, SW_SHOWNORMAL);
    ASSERT_EQ(VisInit(&visModule), 0);
    // Full screen takes the mode of FullRes, not the window's size.
    EXPECT_EQ(ksGlobal.screenWidth, 800);
    EXPECT_EQ(ksGlobal.screenHeight, 600);
    EXPECT_EQ(ksGlobal.viewport.x2, 799);
    EXPECT_EQ(ksGlobal.viewport.y2, 599);
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_EXSTYLE) & 0x30Fu, (DWORD)WS_EX_TOPMOST);
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_STYLE) & WS_POPUP, (DWORD)WS_POPUP);
    EXPECT_TRUE(IsIconic(hostWindow));
    VisQuit(&visModule);
    EXPECT_FALSE(IsIconic(hostWindow));
    EXPECT_TRUE(IsWindowVisible(hostWindow));
}

TEST_F(Shell, KeysTheHostGetsAndKeysThePluginKeeps)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    host.messages.clear();
    const WPARAM keys[] = {'A', '1', VK_LEFT, '8', '9', '0', VK_RETURN, VK_F1, '3'};
    for (WPARAM key : keys) {
        SendMessageA(visWindow, WM_KEYDOWN, key, 0x00110001);
        SendMessageA(visWindow, WM_KEYUP, key, (LPARAM)0xC0110001u);
    }
    Pump();
    EXPECT_EQ(visAnim.currentScene, 2);  // the last scene key, 3
    const WPARAM forwarded[] = {'A', VK_LEFT, '9', '0', VK_F1};
    ASSERT_EQ(host.messages.size(), 10u);
    for (size_t i = 0; i < host.messages.size(); i++) {
        EXPECT_EQ(host.messages[i].message, (i % 2) ? (UINT)WM_KEYUP : (UINT)WM_KEYDOWN);
        EXPECT_EQ(host.messages[i].wParam, forwarded[i / 2]);
        EXPECT_EQ(host.messages[i].lParam, (i % 2) ? (LPARAM)0xC0110001u : (LPARAM)0x00110001);
    }

    // Escape closes the window through a posted WM_CLOSE, and the host sees it too.
    host.messages.clear();
    HWND window = visWindow;
    SendMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(Pump());
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].wParam, (WPARAM)VK_ESCAPE);
}

TEST_F(Shell, ArrowsAndEnterWorkThePlaylistBrowser)
{
    host.position = 1;
    host.titles = {"one", "two", "three"};
    ASSERT_EQ(VisInit(&visModule), 0);
    ASSERT_EQ(visPlaylist.count, 3);
    EXPECT_STREQ(visPlaylist.titles[2], "three");
    EXPECT_NE(visPlaylist.titles[2], host.titles[2].c_str());  // a copy of its own
    host.messages.clear();

    SendMessageA(visWindow, WM_KEYDOWN, VK_RETURN, 0);  // browser hidden: nothing
    EXPECT_TRUE(host.messages.empty());
    // Hidden browser: Up asks for the playing entry and shows it without moving.
    SendMessageA(visWindow, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(visPlaylist.cursor, 1);
    EXPECT_EQ(visPlaylist.playing, 1);
    EXPECT_EQ(visPlaylist.timer, 120);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].message == WM_USER && host.messages[0].wParam == 0 && host.messages[0].lParam == 125);
    // Shown: the arrows move within the titles, stopping at both ends, without asking the host.
    for (int i = 0; i < 3; i++)
        SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(visPlaylist.cursor, 2);
    for (int i = 0; i < 5; i++)
        SendMessageA(visWindow, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(visPlaylist.cursor, 0);
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(host.messages.size(), 1u);

    // Enter plays the highlighted entry: set the position, stop, play.
    host.messages.clear();
    SendMessageA(visWindow, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_TRUE(host.messages[0].message == WM_USER && host.messages[0].wParam == 1 && host.messages[0].lParam == 121);
    EXPECT_TRUE(host.messages[1].message == WM_COMMAND && host.messages[1].wParam == 40047);
    EXPECT_TRUE(host.messages[2].message == WM_COMMAND && host.messages[2].wParam == 40045);
}

TEST_F(Shell, PlaylistCopyIsBoundedAndSurvivesMissingTitles)
{
    host.claimedLength = 5000;  // more entries than the host can name
    host.titles = {"first"};
    VisReadPlaylist(&visModule);
    EXPECT_EQ(visPlaylist.count, 1000);
    EXPECT_STREQ(visPlaylist.titles[0], "first");
    EXPECT_STREQ(visPlaylist.titles[999], "");
    host.claimedLength = -3;
    VisReadPlaylist(&visModule);
    EXPECT_EQ(visPlaylist.count, 0);
    EXPECT_EQ(visPlaylist.titles[0], nullptr);
}

TEST(SongTitle, TakenFromTheHostWindowText)
{
    const char* cases[][2] = {
        {"3. Artist - Song - Winamp", "3. Artist - Song"}, {"3. Song   - WINAMP", "3. Song"},
        {"Song - Winamp - Winamp", "Song - Winamp"},     {"Song -winamp", ""},
        {"- Winamp", ""},                                {"x- Winamp", "x"},
        {"", ""},
    };
    char title[VIS_SONG_TITLE_SIZE + 8];
    for (const auto& c : cases) {
        VisTitleFromWindowText(c[0], title, VIS_SONG_TITLE_SIZE);
        EXPECT_STREQ(title, c[1]) << c[0];
    }
    memset(title, 'z', sizeof(title));
    VisTitleFromWindowText((std::string(600, 'a') + " - Winamp").c_str(), title, VIS_SONG_TITLE_SIZE);
    EXPECT_EQ(std::string(title), std::string(255, 'a'));
    EXPECT_EQ(title[VIS_SONG_TITLE_SIZE], 'z');
}

TEST_F(Shell, ConfigureIsRefusedDuringARunAndReloadsOtherwise)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    MarlixMessageBoxClear();
    visSettings.SceneTime = 5;
    VisConfig(&visModule);
    ASSERT_EQ(MarlixMessageBoxCount(), 1);
    EXPECT_STREQ(MarlixMessageBoxText(0), "Please stop the plugin before configuring");
    EXPECT_STREQ(MarlixMessageBoxCaption(0), "Wait!");
    EXPECT_EQ(MarlixMessageBoxStyle(0), (UINT)MB_OK);
    EXPECT_EQ(MarlixMessageBoxOwner(0), hostWindow);
    EXPECT_EQ(visSettings.SceneTime, 5);  // nothing reloaded under the running visualizer
    VisQuit(&visModule);

    WritePrivateProfileStringA("Marlix Winamp Visualizer", "SceneTime", "900", IniPath().c_str());
    MarlixMessageBoxClear();
    // The dialog opens on the settings loaded from the file.
    static std::string shown;
    MarlixSetDialogScript(
        [](HWND dialog, void*) {
            char text[32];
            GetDlgItemTextA(dialog, 1006, text, sizeof(text));
            shown = text;
            MarlixDialogClick(dialog, IDOK);
        },
        nullptr);
    VisConfig(&visModule);
    MarlixSetDialogScript(nullptr, nullptr);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
    EXPECT_EQ(shown, "900");
    EXPECT_EQ(visSettings.SceneTime, 900);
}

TEST_F(Shell, ClassRegistrationFailureIsReportedAndNothingStarts)
{
    WNDCLASSA taken;
    memset(&taken, 0, sizeof(taken));
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = (HINSTANCE)library;
    taken.lpszClassName = "Marlix";
    ASSERT_NE(RegisterClassA(&taken), 0);
    MarlixMessageBoxClear();
    EXPECT_EQ(VisInit(&visModule), 1);
    EXPECT_EQ(running, 0);
    EXPECT_EQ(FindWindowA("Marlix", NULL), nullptr);
    ASSERT_EQ(MarlixMessageBoxCount(), 1);
    EXPECT_STREQ(MarlixMessageBoxText(0), "Error registering window class");
    EXPECT_STREQ(MarlixMessageBoxCaption(0), "blah");
    EXPECT_EQ(MarlixMessageBoxOwner(0), hostWindow);
}

TEST_F(Shell, ARunReturnsEveryEngineBlock)
{
    // With the memory log on, the tracker names every block still held when the engine shuts down.
    ksMemoryLog = 1;
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_GT(KS_MemoryBlockCount(), 0);
    EXPECT_EQ(VisRender(&visModule), 0);
    VisResize(200, 150);
    EXPECT_EQ(VisRender(&visModule), 0);
    VisQuit(&visModule);
    ksMemoryLog = 0;
    std::ifstream in(dir + "/ks.log");
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("allocated"), std::string::npos);
    EXPECT_EQ(log.find("memory leak"), std::string::npos) << log;
}

TEST_F(Shell, FramesCountTicksCycleScenesAndSkipWhileBusy)
{
    MarlixClockEnable(1);
    // Half a tick on top, so the reads the clock makes on its own never change the count.
    auto advanceTicks = [](int ticks) {
        MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY * ticks / 60 + MARLIX_CLOCK_FREQUENCY / 120);
    };
    WriteIni("[Marlix Winamp Visualizer]\nSceneTime=30\nDefaultScene=7\n");
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_EQ(visAnim.currentScene, 7);
    visAnim.clock = 0.0f;
    visAnim.sceneTimer = 0;
    visPlaylist.timer = 120;
    MarlixD3D8ResetCounters();

    advanceTicks(100);  // a stall counts as 20 ticks at most
    EXPECT_EQ(VisRender(&visModule), 0);
    EXPECT_EQ(visAnim.frameTicks, 20);
    EXPECT_FLOAT_EQ(visAnim.clock, 20.0f);
    EXPECT_EQ(visPlaylist.timer, 100);
    EXPECT_EQ(visAnim.sceneTimer * 10 + visAnim.currentScene, 207);
    advanceTicks(10);  // 30 is not past SceneTime yet
    VisRender(&visModule);
    EXPECT_EQ(visAnim.sceneTimer * 10 + visAnim.currentScene, 307);
    advanceTicks(1);  // past it: after the eighth scene comes the first
    VisRender(&visModule);
    EXPECT_EQ(visAnim.sceneTimer * 10 + visAnim.currentScene, 0);
    EXPECT_FLOAT_EQ(visAnim.clock, 31.0f);

    // Cycling off: the timer stands still. A frame asked for while one is drawn is skipped.
    visSettings.CycleScenes = 0;
    advanceTicks(5);
    VisRender(&visModule);
    EXPECT_EQ(visAnim.sceneTimer, 0);
    MarlixD3D8Counters counters;
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.presents, 4u);
    visAnim.busy = 1;
    advanceTicks(5);
    EXPECT_EQ(VisRender(&visModule), 0);
    MarlixD3D8GetCounters(&counters);
    EXPECT_EQ(counters.presents, 4u);
    EXPECT_FLOAT_EQ(visAnim.clock, 36.0f);
    visAnim.busy = 0;
    VisQuit(&visModule);
}
