// The host-facing shell: header and module record, a run's start and end, the output window's
// messages and keys, and what the host window receives.
#include "plugin_fixture.h"

#include <marlix_platform.h>

using Shell = PluginTest;

TEST(Header, DescribesTheOneModule)
{
    VisHeader* header = winampVisGetHeader();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->version, 0x101);
    EXPECT_STREQ(header->description, "Marlix Winamp Visualizer");
    ASSERT_NE(header->getModule, nullptr);
    VisModule* module = header->getModule(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(header->getModule(0), module);
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);

    EXPECT_STREQ(module->description, header->description);
    EXPECT_EQ(module->latencyMs, 2);
    EXPECT_EQ(module->delayMs, 2);
    EXPECT_EQ(module->spectrumChannels, 1);
    EXPECT_EQ(module->waveformChannels, 1);
    EXPECT_EQ(module->config, &VisConfig);
    EXPECT_EQ(module->init, &VisInit);
    EXPECT_EQ(module->render, &VisRender);
    EXPECT_EQ(module->quit, &VisQuit);
    EXPECT_EQ(module->userData, nullptr);
}

TEST(Header, BuiltPluginExportsItsHeader)
{
    HMODULE library = LoadLibraryA(MARLIX_PLUGIN_FILE);
    ASSERT_NE(library, nullptr);
    typedef VisHeader* (*GetHeader)(void);
    GetHeader get = (GetHeader)(void (*)(void))GetProcAddress(library, "winampVisGetHeader");
    ASSERT_NE(get, nullptr);
    VisHeader* header = get();
    EXPECT_EQ(header->version, 0x101);
    EXPECT_NE(header->getModule(0), nullptr);
    EXPECT_EQ(header->getModule(1), nullptr);
    // Nothing else of the plug-in is reachable by name.
    EXPECT_EQ(GetProcAddress(library, "VisInit"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "visSettings"), nullptr);
    FreeLibrary(library);
}

TEST_F(Shell, WindowedRunOpensTheWindowAndLeavesTheHostAlone)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_EQ(running, 1);
    ASSERT_NE(visWindow, nullptr);
    EXPECT_TRUE(IsWindowVisible(visWindow));
    EXPECT_EQ(FindWindowA("Marlix", NULL), visWindow);

    char title[64];
    GetWindowTextA(visWindow, title, sizeof(title));
    EXPECT_STREQ(title, "Marlix Winamp Visualizer");
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_EXSTYLE) & 0x30Fu, 0x300u);
    DWORD style = (DWORD)GetWindowLongA(visWindow, GWL_STYLE);
    EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME), (DWORD)(WS_SYSMENU | WS_THICKFRAME));
    EXPECT_EQ(style & WS_POPUP, 0u);
    EXPECT_EQ(GetParent(visWindow) == hostWindow || GetWindow(visWindow, GW_OWNER) == hostWindow, true);
    RECT rect;
    GetWindowRect(visWindow, &rect);
    EXPECT_EQ(rect.left, 50);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, 288);
    EXPECT_EQ(rect.bottom - rect.top, 256);
    EXPECT_EQ((VisModule*)GetWindowLongPtrA(visWindow, GWLP_USERDATA), &visModule);
    EXPECT_FALSE(IsIconic(hostWindow));
    EXPECT_EQ(VisRender(&visModule), 0);
}

TEST_F(Shell, AlwaysOnTopAddsTopmostToTheWindowedStyle)
{
    visSettings.alwaysOnTop = 1;
    // Loading keeps the in-memory flag: it is not a key of the file.
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_EXSTYLE) & 0x30Fu, 0x308u);
}

TEST_F(Shell, FullScreenRunMinimisesTheHostAndQuitRestoresIt)
{
    WriteIni("[Marlix Winamp Visualizer]\nRunInWindow=0\n");
    ShowWindow(hostWindow, SW_SHOWNORMAL);
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_EXSTYLE) & 0x30Fu, (DWORD)WS_EX_TOPMOST);
    EXPECT_EQ((DWORD)GetWindowLongA(visWindow, GWL_STYLE) & WS_POPUP, (DWORD)WS_POPUP);
    EXPECT_TRUE(IsIconic(hostWindow));
    VisQuit(&visModule);
    EXPECT_FALSE(IsIconic(hostWindow));
    EXPECT_TRUE(IsWindowVisible(hostWindow));
}

TEST_F(Shell, QuitSavesClosesUnregistersAndTellsTheHostTwice)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    HWND window = visWindow;
    host.messages.clear();
    VisQuit(&visModule);
    EXPECT_EQ(running, 0);
    EXPECT_FALSE(IsWindow(window));
    WNDCLASSA info;
    EXPECT_FALSE(GetClassInfoA((HINSTANCE)library, "Marlix", &info));
    auto commands = HostGot(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    for (const auto& c : commands) {
        EXPECT_EQ(c.wParam, 40258u);
        EXPECT_EQ(c.lParam, 0);
    }
    EXPECT_EQ(IniEntries().size(), 17u);

    // The next run starts again from the class registration.
    ASSERT_EQ(VisInit(&visModule), 0);
    EXPECT_TRUE(IsWindow(visWindow));
}

TEST_F(Shell, MovingTheWindowIsRememberedInTheFile)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    MoveWindow(visWindow, 123, 77, 288, 256, TRUE);
    Pump();
    EXPECT_EQ(visSettings.Screen_x, 123);
    EXPECT_EQ(visSettings.Screen_y, 77);
    VisQuit(&visModule);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_x", 0, IniPath().c_str()), 123u);
    EXPECT_EQ(GetPrivateProfileIntA("Marlix Winamp Visualizer", "Screen_y", 0, IniPath().c_str()), 77u);
}

TEST_F(Shell, KeysThePluginDoesNotTakeReachTheHostUnchanged)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    host.messages.clear();
    const WPARAM forwarded[] = {'A', 'Z', VK_LEFT, VK_SPACE, '9', '0', VK_F1};
    for (WPARAM key : forwarded) {
        SendMessageA(visWindow, WM_KEYDOWN, key, 0x00110001);
        SendMessageA(visWindow, WM_KEYUP, key, (LPARAM)0xC0110001u);
    }
    Pump();
    auto keys = host.messages;
    ASSERT_EQ(keys.size(), 2 * (sizeof(forwarded) / sizeof(forwarded[0])));
    for (size_t i = 0; i < keys.size(); i++) {
        EXPECT_EQ(keys[i].message, (i % 2) ? (UINT)WM_KEYUP : (UINT)WM_KEYDOWN);
        EXPECT_EQ(keys[i].wParam, forwarded[i / 2]);
        EXPECT_EQ(keys[i].lParam, (i % 2) ? (LPARAM)0xC0110001u : (LPARAM)0x00110001);
    }
}

TEST_F(Shell, SceneKeysPickTheSceneAndStayWithThePlugin)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    host.messages.clear();
    for (int key = '1'; key <= '8'; key++) {
        SendMessageA(visWindow, WM_KEYDOWN, key, 0);
        EXPECT_EQ(visAnim.currentScene, key - '1');
        SendMessageA(visWindow, WM_KEYUP, key, 0);
    }
    SendMessageA(visWindow, WM_KEYDOWN, '9', 0);
    EXPECT_EQ(visAnim.currentScene, 7);
    Pump();
    // Only the 9 went on to the host.
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].wParam, (WPARAM)'9');
}

TEST_F(Shell, EscapeClosesTheWindowAndEndsTheLoopButReachesTheHostToo)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    HWND window = visWindow;
    host.messages.clear();
    SendMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(IsWindow(window));  // the close is posted, not done inside the key handler
    EXPECT_TRUE(Pump());
    EXPECT_FALSE(IsWindow(window));
    auto keys = HostGot(WM_KEYDOWN);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].wParam, (WPARAM)VK_ESCAPE);
    VisQuit(&visModule);
    EXPECT_EQ(running, 0);
}

TEST_F(Shell, ArrowsOpenAndMoveThePlaylistBrowser)
{
    host.playlistLength = 3;
    host.position = 1;
    host.titles = {"one", "two", "three"};
    ASSERT_EQ(VisInit(&visModule), 0);
    ASSERT_EQ(visPlaylist.count, 3);
    EXPECT_STREQ(visPlaylist.titles[2], "three");
    EXPECT_NE(visPlaylist.titles[2], host.titles[2].c_str());  // a copy of its own
    host.messages.clear();

    // Hidden browser: Up asks for the playing entry and shows it without moving.
    SendMessageA(visWindow, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(visPlaylist.cursor, 1);
    EXPECT_EQ(visPlaylist.playing, 1);
    EXPECT_EQ(visPlaylist.timer, 120);
    auto requests = HostGot(WM_USER);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].wParam, 0u);
    EXPECT_EQ(requests[0].lParam, 125);

    // Shown: the arrows move within the titles read at start.
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(visPlaylist.cursor, 2);
    for (int i = 0; i < 5; i++)
        SendMessageA(visWindow, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(visPlaylist.cursor, 0);
    EXPECT_EQ(HostGot(WM_USER).size(), 1u);

    // Enter plays the highlighted entry: set position, stop, play.
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    host.messages.clear();
    SendMessageA(visWindow, WM_KEYDOWN, VK_RETURN, 0);
    Pump();
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[0].message, (UINT)WM_USER);
    EXPECT_EQ(host.messages[0].wParam, 1u);
    EXPECT_EQ(host.messages[0].lParam, 121);
    EXPECT_EQ(host.messages[1].message, (UINT)WM_COMMAND);
    EXPECT_EQ(host.messages[1].wParam, 40047u);
    EXPECT_EQ(host.messages[2].message, (UINT)WM_COMMAND);
    EXPECT_EQ(host.messages[2].wParam, 40045u);
}

TEST_F(Shell, EnterWithTheBrowserHiddenDoesNothing)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    host.messages.clear();
    SendMessageA(visWindow, WM_KEYDOWN, VK_RETURN, 0);
    SendMessageA(visWindow, WM_KEYUP, VK_RETURN, 0);
    Pump();
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Shell, PlaylistCopiesAreBoundedAndSurviveMissingTitles)
{
    // A host claiming more entries than it names: titles beyond are empty, the count stops at 1000.
    host.playlistLength = 5000;
    host.titles = {"first"};
    VisReadPlaylist(&visModule);
    EXPECT_EQ(visPlaylist.count, 1000);
    EXPECT_STREQ(visPlaylist.titles[0], "first");
    EXPECT_STREQ(visPlaylist.titles[999], "");
    host.playlistLength = -3;
    VisReadPlaylist(&visModule);
    EXPECT_EQ(visPlaylist.count, 0);
    EXPECT_EQ(visPlaylist.titles[0], nullptr);
}

TEST(SongTitle, TakenFromTheHostWindowText)
{
    const struct {
        const char* text;
        const char* title;
    } cases[] = {
        {"3. Artist - Song - Winamp", "3. Artist - Song"},
        {"3. Artist - Song   - WINAMP", "3. Artist - Song"},
        {"Song - Winamp - Winamp", "Song - Winamp"},
        {"Song -winamp", ""},
        {"Winamp", ""},
        {"- Winamp", ""},
        {"x- Winamp", "x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char title[VIS_SONG_TITLE_SIZE];
        memset(title, 'x', sizeof(title));
        VisTitleFromWindowText(c.text, title, sizeof(title));
        EXPECT_STREQ(title, c.title) << c.text;
    }
    std::string longText = std::string(600, 'a') + " - Winamp";
    char title[VIS_SONG_TITLE_SIZE + 8];
    memset(title, 'z', sizeof(title));
    VisTitleFromWindowText(longText.c_str(), title, VIS_SONG_TITLE_SIZE);
    EXPECT_EQ(std::string(title), std::string(255, 'a'));
    EXPECT_EQ(title[VIS_SONG_TITLE_SIZE], 'z');
}

TEST_F(Shell, SongTitleIsReadFromTheWindowOfThePlayersClass)
{
    strcpy(songTitle, "previous");
    VisReadSongTitle();
    EXPECT_STREQ(songTitle, "previous");  // no player window: the old text stays

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "Winamp v1.x";
    WNDCLASSA existing;
    if (!GetClassInfoA(NULL, windowClass.lpszClassName, &existing)) {
        ASSERT_NE(RegisterClassA(&windowClass), 0);
    }
    HWND player = CreateWindowExA(0, "Winamp v1.x", "7. Band - Tune - Winamp", WS_OVERLAPPEDWINDOW, 0, 0,
                                  10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(player, nullptr);
    VisReadSongTitle();
    EXPECT_STREQ(songTitle, "7. Band - Tune");
    DestroyWindow(player);
    UnregisterClassA("Winamp v1.x", NULL);
}

TEST_F(Shell, ConfigureDuringARunIsRefusedWithABox)
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

    // Stopped: configuring reads the file again, and shows no box.
    WritePrivateProfileStringA("Marlix Winamp Visualizer", "SceneTime", "900", IniPath().c_str());
    MarlixMessageBoxClear();
    VisConfig(&visModule);
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
    EXPECT_EQ(visSettings.SceneTime, 900);
}

TEST_F(Shell, ClassRegistrationFailureIsReportedAndNothingStarts)
{
    // The class name is taken already: registration fails.
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
    UnregisterClassA("Marlix", (HINSTANCE)library);
}
