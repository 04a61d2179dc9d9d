// The plug-in's face to the host: the exported header, the one module record and the run lifecycle.
#include "vis.h"

#include "kestra.h"
#include "resource.h"

#include <commctrl.h>

#include <string.h>

static char visDescription[] = "Marlix Winamp Visualizer";

VisHeader visHeader = {VIS_HEADER_VERSION, visDescription, VisGetModule};

VisModule visModule = {
    visDescription,
    NULL, NULL,          // parentWindow, instance: the host fills them
    0, 0,                // sampleRate, channels
    2, 2,                // latencyMs, delayMs
    1, 1,                // spectrumChannels, waveformChannels
    {{0}}, {{0}},        // spectrum and waveform: the host fills them before every render
    VisConfig, VisInit, VisRender, VisQuit,
    NULL,
};

VisAnimState visAnim;
int running;
HWND visWindow;

// The host reads these records through 32-bit pointers: on the 32-bit product the layout must match
// the host's byte for byte. (A 64-bit build has wider pointers, so the checks apply to 32-bit only.)
#define VIS_LAYOUT32(expr) static_assert(sizeof(void*) != 4 || (expr), #expr)
VIS_LAYOUT32(sizeof(VisHeader) == 12);
VIS_LAYOUT32(offsetof(VisHeader, version) == 0);
VIS_LAYOUT32(offsetof(VisHeader, description) == 4);
VIS_LAYOUT32(offsetof(VisHeader, getModule) == 8);
VIS_LAYOUT32(sizeof(VisModule) == 2360);
VIS_LAYOUT32(offsetof(VisModule, description) == 0);
VIS_LAYOUT32(offsetof(VisModule, parentWindow) == 4);
VIS_LAYOUT32(offsetof(VisModule, instance) == 8);
VIS_LAYOUT32(offsetof(VisModule, sampleRate) == 12);
VIS_LAYOUT32(offsetof(VisModule, channels) == 16);
VIS_LAYOUT32(offsetof(VisModule, latencyMs) == 20);
VIS_LAYOUT32(offsetof(VisModule, delayMs) == 24);
VIS_LAYOUT32(offsetof(VisModule, spectrumChannels) == 28);
VIS_LAYOUT32(offsetof(VisModule, waveformChannels) == 32);
VIS_LAYOUT32(offsetof(VisModule, spectrumData) == 36);
VIS_LAYOUT32(offsetof(VisModule, waveformData) == 1188);
VIS_LAYOUT32(offsetof(VisModule, config) == 2340);
VIS_LAYOUT32(offsetof(VisModule, init) == 2344);
VIS_LAYOUT32(offsetof(VisModule, render) == 2348);
VIS_LAYOUT32(offsetof(VisModule, quit) == 2352);
VIS_LAYOUT32(offsetof(VisModule, userData) == 2356);
static_assert(sizeof(((VisModule*)0)->spectrumData) == 2 * 576, "spectrum is 2 x 576 bytes");

extern "C" __declspec(dllexport) VisHeader* winampVisGetHeader(void)
{
    return &visHeader;
}

VisModule* VisGetModule(int index)
{
    return index == 0 ? &visModule : NULL;
}

void VisConfig(VisModule* module)
{
    // The dialog edits the settings in memory; a run reads them, so no configuring during a run.
    if (running) {
        MessageBoxA(module->parentWindow, "Please stop the plugin before configuring", "Wait!", MB_OK);
        return;
    }
    VisLoadSettings(module);
    // The dialog's up-down control is a common control: its class exists only once registered.
    InitCommonControls();
    DialogBoxParamA(module->instance, MAKEINTRESOURCE(IDD_CONFIG), module->parentWindow, VisConfigDialogProc, 0);
    VisSaveSettings(module);
}

int VisInit(VisModule* module)
{
    // Everything the run reads (marlixdata/) is found beside the library; the process stays there.
    char libraryPath[VIS_PATH_SIZE];
    DWORD length = GetModuleFileNameA(module->instance, libraryPath, VIS_PATH_SIZE);
    libraryPath[length < VIS_PATH_SIZE ? length : VIS_PATH_SIZE - 1] = 0;
    KS_SetStartPath(libraryPath);
    KS_ChangeToStartPath();

    VisLoadSettings(module);

    if (!VisRegisterWindowClass(module->instance)) {
        MessageBoxA(module->parentWindow, "Error registering window class", "blah", MB_OK);
        return 1;
    }
    HWND window = VisCreateOutputWindow(module);
    if (!window) {
        MessageBoxA(module->parentWindow, "Error creating window", "hmmm", MB_OK);
        return 1;
    }
    visWindow = window;

    // The engine's error boxes belong to the output window from here on.
    KS_SetWindow(window);
    // The window procedure reaches the host window through the module record.
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)module);
    ShowWindow(window, SW_SHOWNORMAL);
    running = 1;

    if (!visSettings.RunInWindow) {
        ShowWindow(module->parentWindow, SW_MINIMIZE);
        SetCursor(NULL);
    }

    VisStartEngine();
    VisReadPlaylist(module);
    return 0;
}

void VisQuit(VisModule* module)
{
    VisSaveSettings(module);

    VisFreeScene();
    VisStopEngine();

    // Later error boxes need an owner that outlives the output window.
    ShowWindow(module->parentWindow, SW_RESTORE);
    KS_SetWindow(module->parentWindow);
    ShowWindow(module->parentWindow, SW_SHOWNORMAL);

    if (visWindow) {
        DestroyWindow(visWindow);
        visWindow = NULL;
    }
    running = 0;
    UnregisterClassA(VIS_WINDOW_CLASS, module->instance);
    VisFreePlaylist();

    VisHostRunEnded(module);
}
