// libFuzzer target over the image loaders (not a test): the first byte picks the loader, the rest
// is the file. Built by hand, see build.sh beside it; run each loader for a while under ASan.
#include <kestra.h>
#include <marlix_platform.h>

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static LRESULT CALLBACK FuzzWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static void FuzzChooseDevice(int* adapter, int* adapterCopy, int* deviceType) {
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = *adapterCopy = *deviceType = 0;
}

static char path[64];
static int only = -1;

// The build renames the engine's own fatal-error path, so this one takes its place: a damaged JPEG
// is a fatal error by design and returns here; any other fatal error is a finding.
static jmp_buf fatalReturn;
static bool fatalExpected = false;
void KS_FatalError(const char* text, const char* caption) {
    if (fatalExpected) longjmp(fatalReturn, 1);
    fprintf(stderr, "unexpected fatal error: %s (%s)\n", text, caption ? caption : "null");
    abort();
}

static void Start(void) {
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
    snprintf(path, sizeof(path), "/dev/shm/marlix-fuzz-%d", (int)getpid());
    const char* env = getenv("FUZZ_LOADER");
    if (env) only = atoi(env);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = false;
    if (!started) {
        Start();
        started = true;
    }
    if (size < 1) return 0;
    int which = only >= 0 ? only : data[0] % 6;
    FILE* f = fopen(path, "wb");
    if (!f) return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    int blocks = KS_MemoryBlockCount();
    uint8_t palette[768];
    int32_t w, h;
    switch (which) {
        case 0: KS_ReleaseSurface(KS_LoadPCX(path, palette)); break;
        case 1: KS_ReleaseSurface(KS_LoadLBM(path, palette)); break;
        case 2: KS_ReleaseSurface(KS_LoadBMP(path, palette)); break;
        case 3: KS_Free(KS_LoadTGA(path, &w, &h), "fuzz", __LINE__); break;
        case 4: {
            IDirect3DTexture8* t = KS_LoadDDS(path, &w, &h);
            if (t) t->Release();
            break;
        }
        case 5:
            // Blocks of an aborted decode are left behind, as the real fatal error would end the
            // program there; run this loader with -detect_leaks=0.
            fatalExpected = true;
            if (setjmp(fatalReturn) == 0) {
                KS_Free(KS_LoadJPEG(path, &w, &h), "fuzz", __LINE__);
            } else {
                fatalExpected = false;
                return 0;
            }
            fatalExpected = false;
            break;
    }
    if (KS_MemoryBlockCount() != blocks) abort();  // a loader kept a block
    return 0;
}
