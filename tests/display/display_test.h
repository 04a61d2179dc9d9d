// Shared set-up of the display tests: a window, the engine started through the same calls the
// plug-in's start makes, and a Direct3D object whose mode list a test chooses.
#ifndef DISPLAY_TEST_H
#define DISPLAY_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include <string>
#include <vector>

// The tests' device choice: the device-type list built like the plug-in does, then
// (testAdapter, testAdapter, 0).
extern int testAdapter;
void TestChooseDevice(int* adapter, int* adapterCopy, int* deviceType);

// A shown window of the given client size (a popup, whose client area is the whole window).
HWND MakeTestWindow(int clientWidth, int clientHeight, DWORD style = WS_POPUP);

// Options, KS_UseDirect3D, KS_InitEngine(7000), KS_SelectDriver: the engine ready for a mode.
// Without selectDriver the last step is left to the test.
void InitEngine(bool windowed, bool use32Bit, bool selectDriver = true);
// The rest of the start: KSGFX_SetMode, the viewport over the mode, the draw target, the timer.
void SetModeAndViewport(int width, int height, KSViewport* viewport);
// Both of the above.
void StartEngine(bool windowed, bool use32Bit, int width, int height, KSViewport* viewport);
// KS_FreeEngineBuffers, then the window goes. Returns the tracker's live blocks just before its
// leak report.
int StopEngine();

// Pixel (x, y) of the locked drawing surface: 8 or 16 bits as stored, 32-bit pixels without
// their unused top byte.
uint32_t FramePixel(int x, int y);

// A Direct3D object that answers every call through the real one, except the display modes of
// its adapters, which come from `modes`.
struct FakeModes {
    std::vector<D3DDISPLAYMODE> modes;
};
IDirect3D8* MakeModeFilter(IDirect3D8* real, FakeModes* modes);
// Puts the filter in place of the engine's object (ksGlobal and every adapter record).
void InstallModeFilter(FakeModes* modes);

D3DDISPLAYMODE Mode(UINT width, UINT height, D3DFORMAT format, UINT rate = 60);

// Death tests re-run the program for the one test, because the device has threads.
void UseThreadsafeDeathTests();

// Pipes standard output into standard error, so death tests can match what the engine prints.
void StdoutToStderr();

#endif
