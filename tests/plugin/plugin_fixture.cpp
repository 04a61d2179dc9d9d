#include "plugin_fixture.h"

#include <marlix_platform.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

// The settings are constant-initialised, so this copy holds their values at library load.
static const VisSettings settingsAtLoad = visSettings;

static LRESULT CALLBACK FakeHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    FakeHost* host = (FakeHost*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!host || (message != WM_USER && message != WM_COMMAND && message != WM_KEYDOWN && message != WM_KEYUP))
        return DefWindowProcA(window, message, wParam, lParam);
    host->messages.push_back(RecordedMessage{message, wParam, lParam});
    if (message == WM_USER && lParam == 124)
        return host->claimedLength != -1 ? host->claimedLength : (LRESULT)host->titles.size();
    if (message == WM_USER && lParam == 125)
        return host->position;
    if (message == WM_USER && lParam == 212)
        return wParam < host->titles.size() ? (LRESULT)host->titles[wParam].c_str() : 0;
    return 0;
}

void PluginTest::SetUp()
{
    MarlixSetHeadless(1);
    MarlixResetWindows();
    MarlixMessageBoxSetAnswer(IDOK);
    startDir = std::filesystem::current_path();  // a run changes into the plug-in's folder
    ASSERT_TRUE(scratch.Make("plugin"));
    dir = scratch.path;
    std::filesystem::copy_file(MARLIX_PLUGIN_FILE, dir + "/vis_marlix.so");
    // The dialog template travels with the plug-in, as the resources inside the DLL do.
    std::filesystem::copy_file(std::filesystem::path(MARLIX_PLUGIN_FILE).replace_extension(".res"),
                               dir + "/vis_marlix.res");
    // A copy of the scene data the build made beside the plug-in (a run writes its log where it
    // stands, which during set-up is the data folder).
    std::filesystem::copy(std::filesystem::path(MARLIX_PLUGIN_FILE).parent_path() / "marlixdata",
                          dir + "/marlixdata");
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
    windowClass.lpszClassName = "test host";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    hostWindow = CreateWindowExA(0, "test host", "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    ASSERT_NE(hostWindow, nullptr);
    SetWindowLongPtrA(hostWindow, GWLP_USERDATA, (LONG_PTR)&host);
    visModule.parentWindow = hostWindow;
    visModule.instance = (HINSTANCE)library;
}

void PluginTest::TearDown()
{
    if (running)
        VisQuit(&visModule);
    VisFreePlaylist();
    MarlixResetWindows();
    MarlixClockEnable(0);  // a test may have put time on the virtual clock
    if (library)
        FreeLibrary(library);
    std::error_code ignored;
    std::filesystem::current_path(startDir, ignored);
    scratch.Remove();
}

void PluginTest::WriteIni(const std::string& text) const
{
    std::ofstream(IniPath(), std::ios::binary) << text;
}

std::vector<std::pair<std::string, std::string>> PluginTest::IniEntries() const
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::ifstream in(IniPath(), std::ios::binary);
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

bool PluginTest::Pump()
{
    bool quit = false;
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            quit = true;
        else
            DispatchMessageA(&message);
    }
    return quit;
}
