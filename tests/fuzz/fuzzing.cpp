#include "fuzzing.h"

#include <marlix_platform.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

jmp_buf fuzzFatalReturn;
static const char* expectedFatal;

// Takes the place of the engine's own (renamed in the fuzz build), which ends the process.
void KS_FatalError(const char* text, const char* caption) {
    if (expectedFatal && text && strcmp(text, expectedFatal) == 0) {
        expectedFatal = nullptr;
        longjmp(fuzzFatalReturn, 1);
    }
    fprintf(stderr, "unexpected fatal error: %s (%s)\n", text ? text : "null", caption ? caption : "null");
    abort();
}

void FuzzArmFatal(const char* text) { expectedFatal = text; }

const char* FuzzFile(const uint8_t* data, size_t size, const char* extension) {
    static char path[128];
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(path, sizeof(path), "%s/marlix-fuzz-%d%s", dir, (int)getpid(), extension);
    FILE* f = fopen(path, "wb");
    if (!f || (size && fwrite(data, 1, size, f) != size)) {
        fprintf(stderr, "cannot write %s\n", path);
        abort();
    }
    fclose(f);
    return path;
}

static LRESULT CALLBACK FuzzWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static void FuzzChooseDevice(int* adapter, int* adapterCopy, int* deviceType) {
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = *adapterCopy = *deviceType = 0;
}

void FuzzStartEngine(void) {
    static bool started;
    if (started) return;
    started = true;
    MarlixSetHeadless(1);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = FuzzWindowProc;
    wc.lpszClassName = "KSFuzz";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "KSFuzz", "fuzz", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    KS_SetWindow(window);
    ksGlobal.runWindowed = 1;
    ksGlobal.use32Bit = 1;
    ksChooseDeviceHook = FuzzChooseDevice;
    KS_UseDirect3D();
    KS_InitEngine(100);
    KS_SelectDriver();
    KSGFX_SetMode(64, 64, 60);
}

void FuzzCheckBlocks(int32_t blocks, const char* what) {
    if (KS_MemoryBlockCount() != blocks) {
        fprintf(stderr, "%s kept %d engine blocks\n", what, (int)(KS_MemoryBlockCount() - blocks));
        abort();
    }
}
