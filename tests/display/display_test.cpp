// Shared set-up of the display tests.
#include "display_test.h"

#include "engine_start.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int testAdapter = 0;

// What the plug-in's device chooser does: the device-type list HAL, REF, then its choice.
void TestChooseDevice(int* adapter, int* adapterCopy, int* deviceType) {
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = testAdapter;
    *adapterCopy = testAdapter;
    *deviceType = 0;
}

static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND testWindow;

HWND MakeTestWindow(int clientWidth, int clientHeight, DWORD style) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = TestWindowProc;
        wc.lpszClassName = "KSDisplayTest";
        RegisterClassA(&wc);
        registered = true;
    }
    RECT r = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&r, style, FALSE);
    testWindow = CreateWindowExA(0, "KSDisplayTest", "display test", style, 10, 10, r.right - r.left,
                                 r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(testWindow, SW_SHOWNORMAL);
    KS_SetWindow(testWindow);
    return testWindow;
}

void InitEngine(bool windowed, bool use32Bit, bool selectDriver) {
    MarlixSetHeadless(1);
    MarlixClockEnable(1);  // Sleep advances the virtual clock instead of waiting
    if (!testWindow) MakeTestWindow(320, 240);
    TestEngineOptions options("KSDisplayTest", "display test");
    options.chooseDevice = TestChooseDevice;
    options.windowed = windowed;
    options.use32Bit = use32Bit;
    options.selectDriver = selectDriver;
    InitTestDriver(options);
}

void SetModeAndViewport(int width, int height, KSViewport* viewport) {
    ASSERT_TRUE(SetTestMode(width, height, viewport));
    KS_StartTimer(60);
}

void StartEngine(bool windowed, bool use32Bit, int width, int height, KSViewport* viewport) {
    InitEngine(windowed, use32Bit);
    SetModeAndViewport(width, height, viewport);
}

int StopEngine() {
    KS_FreeEngineBuffers();
    if (testWindow) {
        DestroyWindow(testWindow);
        testWindow = nullptr;
    }
    return KS_MemoryLeakCount();
}

uint32_t FramePixel(int x, int y) {
    const uint8_t* row = ksGlobal.framePointer + y * ksGlobal.framePitch;
    if (ksGlobal.drawBytesPerPixel == 1) return row[x];
    if (ksGlobal.drawBytesPerPixel == 2) return ((const uint16_t*)row)[x];
    return ((const uint32_t*)row)[x] & 0xFFFFFF;  // the unused byte of X8R8G8B8 is not compared
}

D3DDISPLAYMODE Mode(UINT width, UINT height, D3DFORMAT format, UINT rate) {
    D3DDISPLAYMODE m;
    m.Width = width;
    m.Height = height;
    m.RefreshRate = rate;
    m.Format = format;
    return m;
}

namespace {

// Forwards to the real object; only the mode enumeration is the test's.
struct ModeFilter : IDirect3D8 {
    IDirect3D8* real = nullptr;
    FakeModes* fake = nullptr;

    HRESULT WINAPI QueryInterface(REFIID riid, void** out) override { return real->QueryInterface(riid, out); }
    ULONG WINAPI AddRef() override { return real->AddRef(); }
    ULONG WINAPI Release() override { return real->Release(); }
    HRESULT WINAPI RegisterSoftwareDevice(void* f) override { return real->RegisterSoftwareDevice(f); }
    UINT WINAPI GetAdapterCount() override { return real->GetAdapterCount(); }
    HRESULT WINAPI GetAdapterIdentifier(UINT a, DWORD f, D3DADAPTER_IDENTIFIER8* id) override {
        return real->GetAdapterIdentifier(a, f, id);
    }
    UINT WINAPI GetAdapterModeCount(UINT) override { return (UINT)fake->modes.size(); }
    HRESULT WINAPI EnumAdapterModes(UINT, UINT mode, D3DDISPLAYMODE* m) override {
        if (mode >= fake->modes.size()) return D3DERR_INVALIDCALL;
        *m = fake->modes[mode];
        return D3D_OK;
    }
    HRESULT WINAPI GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* m) override {
        return real->GetAdapterDisplayMode(a, m);
    }
    HRESULT WINAPI CheckDeviceType(UINT a, D3DDEVTYPE t, D3DFORMAT d, D3DFORMAT b, BOOL w) override {
        return real->CheckDeviceType(a, t, d, b, w);
    }
    HRESULT WINAPI CheckDeviceFormat(UINT a, D3DDEVTYPE t, D3DFORMAT af, DWORD u, D3DRESOURCETYPE r,
                                     D3DFORMAT f) override {
        return real->CheckDeviceFormat(a, t, af, u, r, f);
    }
    HRESULT WINAPI CheckDeviceMultiSampleType(UINT a, D3DDEVTYPE t, D3DFORMAT f, BOOL w,
                                              D3DMULTISAMPLE_TYPE m) override {
        return real->CheckDeviceMultiSampleType(a, t, f, w, m);
    }
    HRESULT WINAPI CheckDepthStencilMatch(UINT a, D3DDEVTYPE t, D3DFORMAT af, D3DFORMAT rt,
                                          D3DFORMAT ds) override {
        return real->CheckDepthStencilMatch(a, t, af, rt, ds);
    }
    HRESULT WINAPI GetDeviceCaps(UINT a, D3DDEVTYPE t, D3DCAPS8* c) override { return real->GetDeviceCaps(a, t, c); }
    HMONITOR WINAPI GetAdapterMonitor(UINT a) override { return real->GetAdapterMonitor(a); }
    HRESULT WINAPI CreateDevice(UINT a, D3DDEVTYPE t, HWND w, DWORD f, D3DPRESENT_PARAMETERS* pp,
                                IDirect3DDevice8** out) override {
        return real->CreateDevice(a, t, w, f, pp, out);
    }
};

ModeFilter filter;

}  // namespace

IDirect3D8* MakeModeFilter(IDirect3D8* real, FakeModes* modes) {
    filter.real = real;
    filter.fake = modes;
    return &filter;
}

void InstallModeFilter(FakeModes* modes) {
    if (ksGlobal.d3d == &filter) {
        filter.fake = modes;
        return;
    }
    IDirect3D8* f = MakeModeFilter(ksGlobal.d3d, modes);
    ksGlobal.d3d = f;
    for (int i = 0; i < KS_MAX_ADAPTERS; i++)
        if (ksGlobal.adapters[i].d3d) ksGlobal.adapters[i].d3d = f;
}

void UseThreadsafeDeathTests() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
}

void StdoutToStderr() {
    fflush(stdout);
    dup2(2, 1);
}
