// The engine started headless on the software Direct3D device in a shown popup window, the way
// the test programs, the benchmarks and the fuzz targets run it:
//     TestEngineOptions options("KSFontTest", "font");
//     HWND window;
//     KSViewport viewport;
//     ASSERT_TRUE(StartTestEngine(options, &window, &viewport));
//     ...
//     StopTestEngine(window);
// A caller that needs something between the driver choice and the mode (tables the mode's
// start-up uses) calls InitTestEngine and SetTestMode itself; one with its own window calls
// InitTestDriver. Built as the marlix_test_engine library (and into the fuzz targets with their
// own flags).
#ifndef MARLIX_ENGINE_START_H
#define MARLIX_ENGINE_START_H

#include <kestra.h>

#include <stdint.h>

// The device choice of the tests: the device-type list built as the plug-in does, then the first
// adapter and device type.
void ChooseFirstDevice(int* adapter, int* adapterCopy, int* deviceType);

struct TestEngineOptions {
    const char* className;             // window class, registered by every start
    const char* title;
    int width = 320, height = 240;     // the window's size and the mode's
    int32_t engineSize = 7000;         // for KS_InitEngine
    int profile = -1;                  // when >= 0, the device profile set before the start
    bool virtualClock = true;          // Sleep advances the virtual clock instead of waiting
    bool quiet = true;                 // verbose = 0
    KSChooseDeviceHook chooseDevice = ChooseFirstDevice;   // null: the engine's own choice
    bool windowed = true, use32Bit = true;   // ksGlobal.runWindowed and use32Bit
    bool selectDriver = true;                // false leaves KS_SelectDriver to the caller

    TestEngineOptions(const char* className, const char* title) : className(className), title(title) {}
};

// Headless mode, the clock, the profile, the window (shown and given to the engine), then
// InitTestDriver. Returns the window.
HWND InitTestEngine(const TestEngineOptions& options);

// The options into ksGlobal, verbose and the chooser, KS_UseDirect3D, KS_InitEngine and
// KS_SelectDriver: the engine on the window given to KS_SetWindow, ready for a mode.
void InitTestDriver(const TestEngineOptions& options);

// KSGFX_SetMode(width, height, 60); false when it fails. With a viewport, then the viewport over
// the whole mode, made current, and the back buffer as the draw target.
bool SetTestMode(int width, int height, KSViewport* viewport);

// Both of the above, the mode of the window's size.
bool StartTestEngine(const TestEngineOptions& options, HWND* window, KSViewport* viewport);

// KS_FreeEngineBuffers, then the window goes.
void StopTestEngine(HWND window);

#endif
