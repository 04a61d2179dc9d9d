// The player: main window, playlist, transport, the plug-in's requests, and the visualization loop.
#include "host.h"
#include "hostcontrols.h"

#include <marlix_platform.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

// --- The player's main window and transport ----------------------------------------------------

static const double seekSeconds = 5.0;
static const float volumeStep = 0.05f;

static int EntryCount(const HostPlayer* player)
{
    return (int)player->entries.size();
}

static void UpdateTitle(HostPlayer* player)
{
    // The plug-in reads the song title back from this text: "N. Artist - Title - Winamp".
    std::string title = "Winamp";
    if (player->position >= 0 && player->position < EntryCount(player))
        title = std::to_string(player->position + 1) + ". " + player->entries[player->position].title + " - Winamp";
    SetWindowTextA(player->window, title.c_str());
}

// What the sound output's callback reads changes under its lock.
static void SetState(HostPlayer* player, HostPlayState state)
{
    HostSoundLock(player);
    player->state = state;
    HostSoundUnlock(player);
}

static void SetVolume(HostPlayer* player, float volume)
{
    HostSoundLock(player);
    player->volume = std::min(1.0f, std::max(0.0f, volume));
    HostSoundUnlock(player);
}

// Puts the time heard at `seconds` of the loaded entry, for the virtual clock and the sound output.
static void SetTime(HostPlayer* player, double seconds)
{
    HostSoundLock(player);
    player->trackTime = seconds;
    player->soundCursor = (long long)(seconds * player->audio.sampleRate);
    player->soundEnded = false;
    HostSoundUnlock(player);
}

// Decodes an entry into audio unless it is there already. A file that fails is reported once and
// marked, so that moving through the playlist passes over it.
static bool Load(HostPlayer* player, int entry)
{
    if (player->capture)
        return true;  // the source is the sound server, not a file
    if (entry == player->loaded)
        return true;
    HostEntry& e = player->entries[entry];
    if (e.broken)
        return false;
    HostAudio audio;
    std::string error;
    if (!HostDecodeFile(e.path, &audio, &error)) {
        fprintf(stderr, "marlix: skipping %s: %s\n", e.path.c_str(), error.c_str());
        e.broken = true;
        return false;
    }
    if (player->soundDevice && audio.sampleRate != player->soundRate) {
        HostSoundClose(player);
        std::string soundError;
        if (!HostSoundOpen(player, audio.sampleRate, &soundError))
            fprintf(stderr, "marlix: no sound output (%s): playing on silently\n", soundError.c_str());
    }
    HostSoundLock(player);
    player->audio = std::move(audio);
    player->loaded = entry;
    HostSoundUnlock(player);
    return true;
}

// Makes `entry` current, or the first entry after it (in the direction `step`) that decodes.
// False when none does: the player stops.
static bool Select(HostPlayer* player, int entry, int step)
{
    int count = EntryCount(player);
    for (int tries = 0; tries < count; tries++) {
        int candidate = ((entry + step * tries) % count + count) % count;
        if (Load(player, candidate)) {
            player->position = candidate;
            SetTime(player, 0.0);
            UpdateTitle(player);
            return true;
        }
    }
    SetState(player, HOST_STOPPED);
    player->finished = true;
    SetTime(player, 0.0);
    return false;
}

void HostSetPosition(HostPlayer* player, int position)
{
    if (position < 0 || position >= EntryCount(player))
        return;  // the plug-in may ask for an entry it read before the list changed
    if (position == player->position && player->loaded == position)
        return;
    Select(player, position, 1);
}

void HostPlay(HostPlayer* player)
{
    if (EntryCount(player) == 0)
        return;
    if (player->state == HOST_PAUSED) {
        SetState(player, HOST_PLAYING);
        return;
    }
    player->finished = false;
    if (Select(player, player->position, 1))
        SetState(player, HOST_PLAYING);
}

static void Stop(HostPlayer* player)
{
    SetState(player, HOST_STOPPED);
    SetTime(player, 0.0);
}

static void Step(HostPlayer* player, int delta)
{
    if (EntryCount(player) == 0)
        return;
    player->finished = false;
    Select(player, player->position + delta, delta);
}

void HostSeek(HostPlayer* player, double seconds)
{
    if (player->loaded < 0)
        return;
    double to = player->trackTime + seconds;
    double length = player->audio.Seconds();
    SetTime(player, to < 0.0 ? 0.0 : to > length ? length : to);
}

// The current entry has been heard to its end.
static void EndOfEntry(HostPlayer* player)
{
    int next = player->position + 1;
    if (next >= EntryCount(player) && !player->repeat) {
        player->finished = true;
        Stop(player);
        return;
    }
    Select(player, next % EntryCount(player), 1);
}

void HostAdvance(HostPlayer* player, double seconds)
{
    if (player->state != HOST_PLAYING || player->capture || player->loaded < 0)
        return;
    player->trackTime += seconds;
    // Sixtieths of a second added up: allow for their rounding, so that a ten-second track is
    // exactly 600 frames.
    if (player->trackTime >= player->audio.Seconds() - 1e-6)
        EndOfEntry(player);
}

void HostSyncSound(HostPlayer* player)
{
    if (!player->soundDevice || player->loaded < 0)
        return;
    HostSoundLock(player);
    // What the device holds has been handed over but not heard yet.
    long long heard = player->soundCursor - player->soundBufferFrames;
    bool ended = player->soundEnded;
    HostSoundUnlock(player);
    player->trackTime = heard > 0 ? (double)heard / player->audio.sampleRate : 0.0;
    if (ended && player->state == HOST_PLAYING)
        EndOfEntry(player);
}

static void OnKey(HostPlayer* player, WPARAM key)
{
    // The player's own keyboard shortcuts, as players have them.
    switch (key) {
    case 'Z': Step(player, -1); break;
    case 'X': HostPlay(player); break;
    case 'C':
        if (player->state == HOST_PLAYING)
            SetState(player, HOST_PAUSED);
        else if (player->state == HOST_PAUSED)
            SetState(player, HOST_PLAYING);
        break;
    case 'V': Stop(player); break;
    case 'B': Step(player, 1); break;
    case VK_LEFT: HostSeek(player, -seekSeconds); break;
    case VK_RIGHT: HostSeek(player, seekSeconds); break;
    case VK_UP: SetVolume(player, player->volume + volumeStep); break;
    case VK_DOWN: SetVolume(player, player->volume - volumeStep); break;
    default: break;
    }
}

static LRESULT OnRequest(HostPlayer* player, WPARAM wParam, LPARAM code)
{
    switch (code) {
    case HOST_REQ_LENGTH:
        return (LRESULT)EntryCount(player);
    case HOST_REQ_POSITION:
        return player->position;
    case HOST_REQ_TITLE:
        // The plug-in lives in this process, so it can read the text where it is.
        if ((size_t)wParam < player->entries.size())
            return (LRESULT)player->entries[wParam].title.c_str();
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
            HostPlay(player);
        else if (LOWORD(wParam) == HOST_CMD_STOP)
            Stop(player);
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

bool HostCreatePlayer(HostPlayer* player, const std::vector<HostEntry>& entries)
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

    player->entries = entries;
    player->position = 0;
    player->loaded = -1;
    player->audio = HostAudio();
    player->trackTime = 0.0;
    player->finished = false;
    player->state = HOST_STOPPED;
    player->keys.clear();
    player->commands.clear();
    player->window = CreateWindowExA(0, HOST_WINDOW_CLASS, "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 275, 116,
                                     NULL, NULL, windowClass.hInstance, NULL);
    if (!player->window)
        return false;
    SetWindowLongPtrA(player->window, GWLP_USERDATA, (LONG_PTR)player);
    UpdateTitle(player);
    HostPlay(player);
    return true;
}

void HostDestroyPlayer(HostPlayer* player)
{
    HostSoundClose(player);
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
    module->sampleRate = player->audio.sampleRate;
    module->channels = player->audio.fileChannels;
}

static void FillAudio(HostVisModule* module, HostPlayer* player)
{
    if (player->state != HOST_PLAYING || (!player->capture && player->loaded < 0)) {
        memset(module->spectrumData, 0, sizeof(module->spectrumData));
        memset(module->waveformData, 0, sizeof(module->waveformData));
        return;
    }
    if (player->capture) {
        float latest[HOST_FFT_SIZE * 2];
        HostCaptureLatest(player->capture, latest, HOST_FFT_SIZE);
        module->sampleRate = HostCaptureRate(player->capture);
        module->channels = 2;
        HostAnalyse(latest, HOST_FFT_SIZE, HOST_FFT_SIZE / 2, module->spectrumData, module->waveformData);
        return;
    }
    // On a display the picture of this call is seen latencyMs from now, so it shows the audio
    // heard then; a picture of a video file is seen exactly at its own time.
    double seconds = player->trackTime;
    if (player->realtime && module->latencyMs > 0)
        seconds += module->latencyMs / 1000.0;
    const HostAudio& audio = player->audio;
    module->sampleRate = audio.sampleRate;
    module->channels = audio.fileChannels;
    HostAnalyse(audio.samples.data(), audio.Frames(), (long long)(seconds * audio.sampleRate), module->spectrumData,
                module->waveformData);
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

static int ListDevices(void)
{
    std::vector<HostSourceInfo> sources;
    std::string monitor, error;
    if (!HostListSources(&sources, &monitor, &error)) {
        fprintf(stderr, "marlix: %s\n", error.c_str());
        return 2;
    }
    // Monitors carry what an output plays; the others are inputs (microphones, line in).
    for (const HostSourceInfo& source : sources)
        printf("%s %s\t%s%s\n", source.name == monitor ? "*" : " ", source.name.c_str(), source.description.c_str(),
               source.monitor ? "" : " (input)");
    return 0;
}

// "  45%  312 fps  0:12 left" on one line of a terminal, four times a second at most.
struct Progress {
    bool shown = false;
    long long total = 0;  // frames expected
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last;
};

static void ShowProgress(Progress* progress, long long done, bool final)
{
    if (!progress->shown || progress->total <= 0)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!final && done > 1 && now - progress->last < std::chrono::milliseconds(250))
        return;
    progress->last = now;
    double elapsed = std::chrono::duration<double>(now - progress->start).count();
    double fps = elapsed > 0.0 ? done / elapsed : 0.0;
    long long remaining = progress->total > done ? progress->total - done : 0;
    int left = fps > 0.0 ? (int)(remaining / fps + 0.5) : 0;
    int percent = (int)(done * 100 / progress->total);
    fprintf(stderr, "\rmarlix: rendering %3d%%  %4.0f fps  %d:%02d left ", percent > 100 ? 100 : percent, fps, left / 60,
            left % 60);
    if (final)
        fputc('\n', stderr);
}

// --configure without a display: prints what the dialog shows, label by label in its own order,
// then accepts it as shown (OK is the dialog's only way out).
static void HostPrintDialog(HWND dialog, void*)
{
    char text[512];
    GetWindowTextA(dialog, text, sizeof(text));
    printf("%s\n", text);
    bool labelled = false;  // a label was printed and waits for its value
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        char kind[32];
        GetClassNameA(control, kind, sizeof(kind));
        DWORD style = (DWORD)GetWindowLongA(control, GWL_STYLE);
        GetWindowTextA(control, text, sizeof(text));
        if (!strcasecmp(kind, "Static") && (style & SS_TYPEMASK) != SS_BITMAP) {
            printf("  %s ", text);
            labelled = true;
        } else if (!strcasecmp(kind, "Edit") || !strcasecmp(kind, "ComboBox")) {
            printf("%s%s\n", labelled ? "" : "      ", text);
            labelled = false;
        } else if (!strcasecmp(kind, "Button") && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
            printf("  [%c] %s\n", SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 'x' : ' ', text);
        } else if (!strcasecmp(kind, "Button") && (style & BS_TYPEMASK) == BS_GROUPBOX && text[0]) {
            printf("%s\n", text);
        }
    }
    fflush(stdout);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
}

// The audio heard during the picture at the player's time: one sixtieth of a second of the track.
static bool AddVideoAudio(HostVideo* video, const HostPlayer& player, std::string* error)
{
    if (player.state != HOST_PLAYING || player.loaded < 0)
        return true;
    const HostAudio& audio = player.audio;
    long long frame = llround(player.trackTime * 60.0);
    long long from = frame * audio.sampleRate / 60;
    long long to = std::min((frame + 1) * audio.sampleRate / 60, audio.Frames());
    if (to <= from)
        return true;
    return HostVideoAddAudio(video, audio.samples.data() + from * 2, to - from, audio.sampleRate, error);
}

// A size given on the command line (or a video's default size) is this run's only: the plug-in
// saves its window's size when it stops, so the host puts the user's own size back afterwards.
struct SavedWindowSize {
    std::string file, section;
    bool had[2] = {false, false};
    char value[2][32] = {};
};
static const char* const windowSizeKeys[2] = {"Screen_width", "Screen_height"};

static void RememberWindowSize(SavedWindowSize* saved, const std::string& pluginPath, const char* section)
{
    saved->file = (std::filesystem::path(pluginPath).parent_path() / "marlix.ini").string();
    saved->section = section;
    for (int i = 0; i < 2; i++) {
        // An absent key gives back the default, a text no settings file holds.
        GetPrivateProfileStringA(section, windowSizeKeys[i], "\x01", saved->value[i], sizeof(saved->value[i]),
                                 saved->file.c_str());
        saved->had[i] = strcmp(saved->value[i], "\x01") != 0;
    }
}

static void RestoreWindowSize(const SavedWindowSize& saved)
{
    for (int i = 0; i < 2; i++)
        WritePrivateProfileStringA(saved.section.c_str(), windowSizeKeys[i], saved.had[i] ? saved.value[i] : NULL,
                                   saved.file.c_str());
}

int HostRun(const HostOptions& options)
{
    if (options.listDevices)
        return ListDevices();
    bool video = HostIsVideoFile(options.out);
    // Without a display the run is headless whether asked for or not: virtual windows, virtual
    // time. A video is always rendered that way, as fast as the machine goes.
    bool headless = video || options.headless || HostDisplayMissing();
    if (headless)
        HostUseHeadless();

    HostPlayer player;
    player.repeat = options.repeat && !video;  // a video holds the playlist once
    std::vector<HostEntry> entries;
    std::string error;
    if (options.capture && !options.configure) {
        std::string description;
        player.capture = HostCaptureOpen(options.device, &description, &error);
        if (!player.capture) {
            fprintf(stderr, "marlix: %s\n", error.c_str());
            return 2;
        }
        HostEntry entry;
        entry.title = description;
        entries.push_back(entry);
    } else if (!options.configure) {
        entries = HostBuildPlaylist(options.playlist);
        if (options.shuffle)
            HostShuffle(&entries, std::random_device()());
    }
    if (video && entries.empty()) {
        fprintf(stderr, "marlix: nothing to render into %s: no file that plays\n", options.out.c_str());
        return 1;
    }
    bool endless = player.capture || player.repeat || entries.empty();
    if (headless && options.frames == 0 && endless && !options.configure) {
        fprintf(stderr, "marlix: a headless run without files to play needs --frames N (nothing can close its window)\n");
        HostCaptureClose(player.capture);
        return 2;
    }

    std::string path = options.pluginPath.empty() ? HostDefaultPluginPath() : options.pluginPath;
    HostPlugin plugin;
    if (!HostLoadPlugin(&plugin, path, &error)) {
        fprintf(stderr, "marlix: %s\n", error.c_str());
        HostCaptureClose(player.capture);
        return 1;
    }
    if (!HostCreatePlayer(&player, entries)) {
        fprintf(stderr, "marlix: cannot create the player window\n");
        HostUnloadPlugin(&plugin);
        HostCaptureClose(player.capture);
        return 1;
    }
    HostAttach(&plugin, &player);
    player.realtime = !headless;
    if (player.realtime && !player.capture && player.loaded >= 0 &&
        !HostSoundOpen(&player, player.audio.sampleRate, &error))
        fprintf(stderr, "marlix: no sound output (%s): the pictures run on the clock\n", error.c_str());

    // Headless runs are reproducible: the plug-in draws from the C library's generator, which it
    // seeds from the process clock while it starts, so the host seeds it with a fixed value before
    // and after the start.
    if (headless)
        srand(1);
    int status = 0;
    if (options.configure) {
        if (headless)
            MarlixSetDialogScript(HostPrintDialog, NULL);
        plugin.module->config(plugin.module);
        MarlixSetDialogScript(NULL, NULL);
    } else if (plugin.module->init(plugin.module) != 0) {
        fprintf(stderr, "marlix: the plug-in failed to start\n");
        status = 1;
    } else {
        if (headless)
            srand(1);
        HostVideo* out = NULL;
        int width = options.width, height = options.height;
        if (video && width == 0) {
            width = 640;
            height = 480;
        }
        if (video && !(out = HostVideoOpen(options.out, width, height, &error))) {
            fprintf(stderr, "marlix: cannot write %s: %s\n", options.out.c_str(), error.c_str());
            status = 1;
        }
        SavedWindowSize savedSize;
        if (width > 0) {
            RememberWindowSize(&savedSize, path, plugin.module->description);
            HWND window = FindWindowA(NULL, plugin.module->description);
            // A headless picture starts from the same device state whatever size the window opened
            // with (its settings keep the last run's size): through another size to the one asked for,
            // so that the device is reset to it every time.
            if (headless)
                HostResizeWindow(window, width + 2, height);
            HostResizeWindow(window, width, height);
        }
        HostCapture capture;
        std::string frameDir = headless && !video ? options.out : std::string();
        std::error_code ignored;
        if (!frameDir.empty())
            std::filesystem::create_directories(frameDir, ignored);
        HostBeginCapture(&capture, frameDir);
        Progress progress;
        progress.shown = video && isatty(2);
        for (const HostEntry& entry : player.entries)
            progress.total += (long long)ceil(entry.seconds * 60.0);
        if (options.frames > 0 && (progress.total == 0 || options.frames < progress.total))
            progress.total = options.frames;
        int rendered = 0;
        auto last = std::chrono::steady_clock::now();
        while (status == 0 && (options.frames == 0 || rendered < options.frames)) {
            if (player.finished && (headless || options.frames > 0))
                break;
            if (out && !AddVideoAudio(out, player, &error)) {
                fprintf(stderr, "marlix: cannot write %s: %s\n", options.out.c_str(), error.c_str());
                status = 1;
                break;
            }
            if (!HostFrame(&plugin, &player))
                break;
            rendered++;
            if (out) {
                const uint32_t* pixels = NULL;
                int frameWidth = 0, frameHeight = 0;
                std::vector<uint32_t> black;
                if (!HostLastFrame(&pixels, &frameWidth, &frameHeight)) {
                    black.assign((size_t)width * height, 0);
                    pixels = black.data();
                    frameWidth = width;
                    frameHeight = height;
                }
                if (!HostVideoAddFrame(out, pixels, frameWidth, frameHeight, &error)) {
                    fprintf(stderr, "marlix: cannot write %s: %s\n", options.out.c_str(), error.c_str());
                    status = 1;
                }
                ShowProgress(&progress, rendered, false);
            }
            // Headless time is virtual: exactly one sixtieth of a second per frame. A real-time run
            // waits the delay the plug-in asked for between frames, as a player's visualization
            // thread does, and takes the time from the sound output (or the clock without one).
            if (headless) {
                HostAdvanceClock(1.0 / 60.0);
                HostAdvance(&player, 1.0 / 60.0);
            } else {
                if (plugin.module->delayMs > 0)
                    Sleep((DWORD)plugin.module->delayMs);
                auto now = std::chrono::steady_clock::now();
                if (player.soundDevice)
                    HostSyncSound(&player);
                else
                    HostAdvance(&player, std::chrono::duration<double>(now - last).count());
                last = now;
            }
        }
        ShowProgress(&progress, rendered, true);
        HostEndRun(&plugin);
        if (width > 0)
            RestoreWindowSize(savedSize);
        if (!HostEndCapture(&capture)) {
            fprintf(stderr, "marlix: cannot write the frames into %s\n", frameDir.c_str());
            status = 1;
        }
        if (out && !HostVideoClose(out, &error) && status == 0) {
            fprintf(stderr, "marlix: cannot write %s: %s\n", options.out.c_str(), error.c_str());
            status = 1;
        }
    }
    HostDestroyPlayer(&player);
    HostCaptureClose(player.capture);
    HostUnloadPlugin(&plugin);
    return status;
}
