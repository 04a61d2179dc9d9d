#include "engine_start.h"

#include <marlix_platform.h>

#include <string.h>

static LRESULT CALLBACK TestEngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void ChooseFirstDevice(int* adapter, int* adapterCopy, int* deviceType) {
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = *adapterCopy = *deviceType = 0;
}

HWND InitTestEngine(const TestEngineOptions& options) {
    MarlixSetHeadless(1);
    if (options.virtualClock) MarlixClockEnable(1);
    if (options.profile >= 0) MarlixD3D8SetProfile(options.profile);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = TestEngineWindowProc;
    wc.lpszClassName = options.className;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, options.className, options.title, WS_POPUP, 0, 0, options.width,
                                  options.height, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    KS_SetWindow(window);
    InitTestDriver(options);
    return window;
}

void InitTestDriver(const TestEngineOptions& options) {
    ksGlobal.runWindowed = options.windowed ? 1 : 0;
    ksGlobal.use32Bit = options.use32Bit ? 1 : 0;
    if (options.quiet) verbose = 0;
    ksChooseDeviceHook = options.chooseDevice;
    KS_UseDirect3D();
    KS_InitEngine(options.engineSize);
    if (options.selectDriver) KS_SelectDriver();
}

bool SetTestMode(int width, int height, KSViewport* viewport) {
    if (KSGFX_SetMode(width, height, 60) != 1) return false;
    if (viewport) {
        KS_MakeViewport(viewport, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
        KS_SetViewport(viewport);
        KSGFX_SetDrawTarget(1);
    }
    return true;
}

bool StartTestEngine(const TestEngineOptions& options, HWND* window, KSViewport* viewport) {
    *window = InitTestEngine(options);
    return SetTestMode(options.width, options.height, viewport);
}

void StopTestEngine(HWND window) {
    KS_FreeEngineBuffers();
    DestroyWindow(window);
}
