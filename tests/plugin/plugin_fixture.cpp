#include "plugin_fixture.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>

#include <marlix_platform.h>

// The settings are constant-initialised, so this copy holds their values at library load.
static const VisSettings settingsAtLoad = visSettings;

static LRESULT CALLBACK FakeHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    FakeHost* host = (FakeHost*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!host)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_USER || message == WM_COMMAND || message == WM_KEYDOWN || message == WM_KEYUP)
        host->messages.push_back(RecordedMessage{message, wParam, lParam});
    if (message == WM_USER) {
        if (lParam == 124)
            return host->playlistLength;
        if (lParam == 125)
            return host->position;
        if (lParam == 212)
            return wParam < host->titles.size() ? (LRESULT)host->titles[wParam].c_str() : 0;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PluginTest::SetUp()
{
    MarlixSetHeadless(1);
    MarlixResetWindows();
    MarlixMessageBoxSetAnswer(IDOK);
    // A run changes into the plug-in's folder; each test goes back to where it started.
    startDir = std::filesystem::current_path();
    char pattern[] = "/tmp/marlix-plugin-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::filesystem::copy_file(MARLIX_PLUGIN_FILE, dir + "/vis_marlix.so");
    library = LoadLibraryA((dir + "/vis_marlix.so").c_str());
    ASSERT_NE(library, nullptr);

    visSettings = settingsAtLoad;
    visAnim = VisAnimState();
    VisFreePlaylist();
    visPlaylist = VisPlaylist();
    running = 0;
    visWindow = NULL;

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = FakeHostProc;
    windowClass.lpszClassName = "Marlix test host";
    WNDCLASSA existing;
    if (!GetClassInfoA(NULL, windowClass.lpszClassName, &existing)) {
        ASSERT_NE(RegisterClassA(&windowClass), 0);
    }
    hostWindow = CreateWindowExA(0, windowClass.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 NULL, NULL, NULL, NULL);
    ASSERT_NE(hostWindow, nullptr);
    SetWindowLongPtrA(hostWindow, GWLP_USERDATA, (LONG_PTR)&host);

    visModule.parentWindow = hostWindow;
    visModule.instance = (HINSTANCE)library;
}

void PluginTest::TearDown()
{
    if (running)
        VisQuit(&visModule);
    if (hostWindow) {
        SetWindowLongPtrA(hostWindow, GWLP_USERDATA, 0);
        DestroyWindow(hostWindow);
    }
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    }
    VisFreePlaylist();
    if (library)
        FreeLibrary(library);
    std::error_code ignored;
    std::filesystem::current_path(startDir, ignored);
    if (!dir.empty())
        std::filesystem::remove_all(dir);
}

std::string PluginTest::ReadIni() const
{
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void PluginTest::WriteIni(const std::string& text) const
{
    std::ofstream out(IniPath(), std::ios::binary);
    out << text;
}

std::vector<std::pair<std::string, std::string>> PluginTest::IniEntries() const
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::istringstream in(ReadIni());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        if (line.empty() || line[0] == '[' || equals == std::string::npos)
            continue;
        entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return entries;
}

bool PluginTest::Pump()
{
    bool quit = false;
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            continue;
        }
        DispatchMessageA(&message);
    }
    return quit;
}

std::vector<RecordedMessage> PluginTest::HostGot(UINT message) const
{
    std::vector<RecordedMessage> got;
    for (const RecordedMessage& m : host.messages)
        if (m.message == message)
            got.push_back(m);
    return got;
}
