#include "fuzzing.h"

#include "engine_start.h"

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

IDirect3DDevice8* FuzzCreateDevice(void) {
    MarlixSetHeadless(1);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = pp.BackBufferHeight = 8;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice8* dev = nullptr;
    if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev)))
        abort();
    return dev;
}

void FuzzStartEngine(void) {
    static bool started;
    if (started) return;
    started = true;
    TestEngineOptions options("KSFuzz", "fuzz");
    options.width = options.height = 64;
    options.engineSize = 100;
    options.virtualClock = false;
    options.quiet = false;
    HWND window;
    StartTestEngine(options, &window, nullptr);
}

void FuzzCheckBlocks(int32_t blocks, const char* what) {
    if (KS_MemoryBlockCount() != blocks) {
        fprintf(stderr, "%s kept %d engine blocks\n", what, (int)(KS_MemoryBlockCount() - blocks));
        abort();
    }
}
