// The player: main window, playlist, transport, the plug-in's requests, and the visualization loop.
#include "host.h"
#include "hostcontrols.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <filesystem>

// --- The player's main window ---------------------------------------------------------------------

static void UpdateTitle(HostPlayer* player)
{
    // The plug-in reads the song title back from this text: "N. Title - Winamp".
    std::string title = "Winamp";
    if (player->position >= 0 && player->position < (int)player->titles.size())
        title = std::to_string(player->position + 1) + ". " + player->titles[player->position] + " - Winamp";
    SetWindowTextA(player->window, title.c_str());
}

void HostSetPosition(HostPlayer* player, int position)
{
    if (position < 0 || position >= (int)player->titles.size())
        return;  // the plug-in may ask for an entry it read before the list changed
    if (position != player->position)
        player->trackTime = 0.0;
    player->position = position;
    UpdateTitle(player);
}

static void Play(HostPlayer* player)
{
    if (player->state != HOST_PAUSED)
        player->trackTime = 0.0;
    player->state = HOST_PLAYING;
}

static void Step(HostPlayer* player, int delta)
{
    int count = (int)player->titles.size();
    if (count == 0)
        return;
    HostSetPosition(player, (player->position + delta + count) % count);
    player->trackTime = 0.0;
}

void HostAdvance(HostPlayer* player, double seconds)
{
    if (player->state == HOST_PLAYING)
        player->trackTime += seconds;
}

static void OnKey(HostPlayer* player, WPARAM key)
{
    // The player's own keyboard shortcuts: previous, play, pause, stop, next.
    switch (key) {
    case 'Z': Step(player, -1); break;
    case 'X': Play(player); break;
    case 'C':
        if (player->state == HOST_PLAYING)
            player->state = HOST_PAUSED;
        else if (player->state == HOST_PAUSED)
            player->state = HOST_PLAYING;
        break;
    case 'V': player->state = HOST_STOPPED; player->trackTime = 0.0; break;
    case 'B': Step(player, 1); break;
    default: break;
    }
}

static LRESULT OnRequest(HostPlayer* player, WPARAM wParam, LPARAM code)
{
    switch (code) {
    case HOST_REQ_LENGTH:
        return (LRESULT)player->titles.size();
    case HOST_REQ_POSITION:
        return player->position;
    case HOST_REQ_TITLE:
        // The plug-in lives in this process, so it can read the text where it is.
        if ((size_t)wParam < player->titles.size())
            return (LRESULT)player->titles[wParam].c_str();
        return 0;
    case HOST_REQ_SET_POSITION:
        HostSetPosition(player, (int)wParam);
        return 0;
    default:
        return 0;
    }
}

static LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HostPlayer* player = (HostPlayer*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!player)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_USER:
        return OnRequest(player, wParam, lParam);
    case WM_COMMAND:
        player->commands.push_back(LOWORD(wParam));
        if (LOWORD(wParam) == HOST_CMD_PLAY)
            Play(player);
        else if (LOWORD(wParam) == HOST_CMD_STOP)
            player->state = HOST_STOPPED;
        // HOST_CMD_VIS_ENDED: the plug-in's notice that its run is over; recorded, nothing to do.
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
        player->keys.push_back(HostKeyEvent{message, wParam, lParam});
        if (message == WM_KEYDOWN)
            OnKey(player, wParam);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool HostCreatePlayer(HostPlayer* player, const std::vector<std::string>& playlist)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = PlayerWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = HOST_WINDOW_CLASS;
    // A second player in the same process (tests) finds the class already there.
    WNDCLASSA existing;
    if (!GetClassInfoA(windowClass.hInstance, HOST_WINDOW_CLASS, &existing) && !RegisterClassA(&windowClass))
        return false;

    player->titles.clear();
    for (const std::string& file : playlist)
        player->titles.push_back(HostTitleFromFileName(file));
    player->position = 0;
    player->trackTime = 0.0;
    player->state = HOST_PLAYING;  // the test signal plays from the start
    player->keys.clear();
    player->commands.clear();
    player->window = CreateWindowExA(0, HOST_WINDOW_CLASS, "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 275, 116,
                                     NULL, NULL, windowClass.hInstance, NULL);
    if (!player->window)
        return false;
    SetWindowLongPtrA(player->window, GWLP_USERDATA, (LONG_PTR)player);
    UpdateTitle(player);
    return true;
}

void HostDestroyPlayer(HostPlayer* player)
{
    if (player->window) {
        SetWindowLongPtrA(player->window, GWLP_USERDATA, 0);
        DestroyWindow(player->window);
        player->window = NULL;
    }
    // DestroyWindow may leave a WM_QUIT in the queue only from the plug-in's window, never ours.
}

// --- The plug-in --------------------------------------------------------------------------------

bool HostLoadPlugin(HostPlugin* plugin, const std::string& path, std::string* error)
{
    plugin->library = LoadLibraryA(path.c_str());
    if (!plugin->library) {
        // Say why, so a wrong path is told apart from a broken build.
        std::error_code ignored;
        if (!std::filesystem::exists(path, ignored))
            *error = "cannot load the plug-in " + path + ": no such file (build it, or name it with --plugin PATH)";
        else if (std::filesystem::is_directory(path, ignored))
            *error = "cannot load the plug-in " + path + ": it is a directory";
        else
            *error = "cannot load the plug-in " + path +
                     ": not a shared library for this system, or a library it needs is missing";
        return false;
    }
    HostGetHeaderProc getHeader = (HostGetHeaderProc)(void (*)(void))GetProcAddress(plugin->library, HOST_VIS_ENTRY);
    plugin->header = getHeader ? getHeader() : NULL;
    plugin->module = plugin->header && plugin->header->getModule ? plugin->header->getModule(0) : NULL;
    if (!plugin->module) {
        *error = path + " is not a visualization plug-in (no " HOST_VIS_ENTRY " or no module 0)";
        HostUnloadPlugin(plugin);
        return false;
    }
    return true;
}

void HostUnloadPlugin(HostPlugin* plugin)
{
    if (plugin->library)
        FreeLibrary(plugin->library);
    plugin->library = NULL;
    plugin->header = NULL;
    plugin->module = NULL;
}

void HostAttach(HostPlugin* plugin, HostPlayer* player)
{
    HostVisModule* module = plugin->module;
    module->parentWindow = player->window;
    module->instance = (HINSTANCE)plugin->library;
    module->sampleRate = 44100;
    module->channels = 2;
}

static void FillAudio(HostVisModule* module, const HostPlayer* player)
{
    if (player->state != HOST_PLAYING) {
        memset(module->spectrumData, 0, sizeof(module->spectrumData));
        memset(module->waveformData, 0, sizeof(module->waveformData));
        return;
    }
    // Both channels carry the same mono signal.
    HostSpectrum(player->position, player->trackTime, module->spectrumData[0]);
    memcpy(module->spectrumData[1], module->spectrumData[0], 576);
    HostWaveform(player->position, player->trackTime, module->waveformData[0]);
    memcpy(module->waveformData[1], module->waveformData[0], 576);
}

bool HostFrame(HostPlugin* plugin, HostPlayer* player)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return false;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    FillAudio(plugin->module, player);
    plugin->module->render(plugin->module);
    return true;
}

void HostEndRun(HostPlugin* plugin)
{
    plugin->module->quit(plugin->module);
    // Destroying its window made the plug-in post a quit message that nobody has read yet (the
    // loop may have stopped on its frame count): drop it, or it would end the next run at once.
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT)
            DispatchMessageA(&message);
}

// --- The program --------------------------------------------------------------------------------

int HostRun(const HostOptions& options)
{
    // Without a display the run is headless whether asked for or not: virtual windows, virtual time.
    bool headless = options.headless || HostDisplayMissing();
    if (headless)
        HostUseHeadless();
    if (headless && options.frames == 0 && !options.configure) {
        fprintf(stderr, "marlix: a headless run needs --frames N (nothing can close its window)\n");
        return 2;
    }

    std::string path = options.pluginPath.empty() ? HostDefaultPluginPath() : options.pluginPath;
    HostPlugin plugin;
    std::string error;
    if (!HostLoadPlugin(&plugin, path, &error)) {
        fprintf(stderr, "marlix: %s\n", error.c_str());
        return 1;
    }
    HostPlayer player;
    if (!HostCreatePlayer(&player, options.playlist)) {
        fprintf(stderr, "marlix: cannot create the player window\n");
        HostUnloadPlugin(&plugin);
        return 1;
    }
    HostAttach(&plugin, &player);

    int status = 0;
    if (options.configure) {
        plugin.module->config(plugin.module);
    } else if (plugin.module->init(plugin.module) != 0) {
        fprintf(stderr, "marlix: the plug-in failed to start\n");
        status = 1;
    } else {
        HostCapture capture;
        std::error_code ignored;
        if (headless && !options.outDir.empty())
            std::filesystem::create_directories(options.outDir, ignored);
        HostBeginCapture(&capture, headless ? options.outDir : std::string());
        int rendered = 0;
        auto last = std::chrono::steady_clock::now();
        while (options.frames == 0 || rendered < options.frames) {
            if (!HostFrame(&plugin, &player))
                break;
            rendered++;
            // Headless time is virtual: exactly one sixtieth of a second per frame. A real-time run
            // waits the delay the plug-in asked for between frames, as a player's visualization
            // thread does, and plays on by the time that really passed.
            if (headless) {
                HostAdvanceClock(1.0 / 60.0);
                HostAdvance(&player, 1.0 / 60.0);
            } else {
                if (plugin.module->delayMs > 0)
                    Sleep((DWORD)plugin.module->delayMs);
                auto now = std::chrono::steady_clock::now();
                HostAdvance(&player, std::chrono::duration<double>(now - last).count());
                last = now;
            }
        }
        HostEndRun(&plugin);
        if (!HostEndCapture(&capture)) {
            fprintf(stderr, "marlix: cannot write the frames into %s\n", options.outDir.c_str());
            status = 1;
        }
    }
    HostDestroyPlayer(&player);
    HostUnloadPlugin(&plugin);
    return status;
}
