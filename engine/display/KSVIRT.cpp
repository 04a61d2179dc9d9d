// Engine start-up and driver selection: the procedure table with its uninstalled-procedure stub,
// the DirectX version probe, the start-up buffers, the Direct3D object and adapter records, the
// start directory and the tick timer.
#define KS_MODULE "KSVIRT"
#include "kestra.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ctype.h>
#include <filesystem>
#include <string>
#include <system_error>

#define KS_D3D_SDK_VERSION 120

KSProcedureTable ksProcTable;
KSChooseDeviceHook ksChooseDeviceHook;
KSStartPath ksStartPath;
KSTimer ksTimer;

// ---- The stub ----

void KS_UninstalledProcedure(void) {
    fputs("KS ERROR: You tried to call a virtual procedure that hasn't been            initialized.\n",
          stdout);
    fflush(stdout);
    exit(1);
}

// One stub per slot signature: each ignores its arguments and ends the process.
template <typename R, typename... A>
static R StubProcedure(A...) {
    KS_UninstalledProcedure();
}

template <typename R, typename... A>
static void InstallStub(R (*&slot)(A...)) {
    slot = &StubProcedure<R, A...>;
}

template <typename R, typename... A>
static int IsStub(R (*slot)(A...)) {
    return slot == &StubProcedure<R, A...>;
}

#define KS_TABLE_SLOTS(X)                                                                        \
    X(SetMode) X(LockFrame) X(UnlockFrame) X(FlushFrame) X(SetClip) X(SetColour) X(FillRect)    \
    X(DrawRect) X(DrawLine) X(DrawVLine) X(DrawHLine) X(DrawString) X(MakeColour) X(GetBlock)   \
    X(PutBlock) X(PutBitmap8) X(PutBitmap32) X(ClearScreen) X(ClearViewport) X(Clear)           \
    X(SetDrawTarget) X(ShowFrame) X(AddTexture) X(AddTexture2) X(AllocTextures)                 \
    X(FreeTextures) X(LoadTexture) X(LoadTexture2) X(DrawTexture) X(DrawTextureRect)            \
    X(SetTexturePalette) X(RenderPolygons)

static_assert(sizeof(KSProcedureTable) == KS_PROCEDURE_SLOTS * sizeof(void (*)(void)),
              "the procedure table has 32 slots");

void KS_ResetProcedures(void) {
#define KS_STUB_SLOT(name) InstallStub(ksProcTable.name);
    KS_TABLE_SLOTS(KS_STUB_SLOT)
#undef KS_STUB_SLOT
}

int KS_ProcedureInstalled(int slot) {
    int i = 0;
#define KS_CHECK_SLOT(name) \
    if (i++ == slot) return !IsStub(ksProcTable.name);
    KS_TABLE_SLOTS(KS_CHECK_SLOT)
#undef KS_CHECK_SLOT
    return 0;
}

// The table starts out as stubs, before any start-up.
static struct StubsAtLoad {
    StubsAtLoad() { KS_ResetProcedures(); }
} stubsAtLoad;

// ---- DirectX version probe ----

// Whether a system library is present and, when `entry` is given, exports it.
static int LibraryHas(const char* library, const char* entry) {
    HMODULE module = LoadLibraryA(library);
    if (!module) return 0;
    int found = entry ? GetProcAddress(module, entry) != nullptr : 1;
    FreeLibrary(module);
    return found ? 1 : -1;
}

// Installed DirectX version. The interfaces that set DirectX 8 apart are looked for by the
// libraries and entry points that carry them, newest first: D3D8.DLL means 0x800, on Windows and
// on the Linux build, whose platform layer answers for it. Without it, the libraries of the older
// releases tell 0x700, 0x601 and the DirectX 2 and 3 levels apart; the finer steps below DirectX 7
// (0x100, 0x500, 0x600) would need the old interface queries and are reported as the nearest level
// found. Start-up only compares the result with 0x800.
int32_t KS_GetDirectXVersion(void) {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return 0;

    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion < 4) return 0;
        if (info.dwMajorVersion == 4) {
            int input = LibraryHas("DINPUT.DLL", "DirectInputCreateA");
            if (input == 1) return 0x300;
            OutputDebugStringA(input == 0 ? "Couldn't LoadLibrary DInput\r\n"
                                          : "Couldn't GetProcAddress DInputCreate\r\n");
            return 0x200;
        }
    }

    if (LibraryHas("D3D8.DLL", nullptr) == 1) return 0x800;

    int draw = LibraryHas("DDRAW.DLL", "DirectDrawCreate");
    if (draw == 0) return 0;
    if (draw < 0) {
        OutputDebugStringA("Couldn't LoadLibrary DDraw\r\n");
        return 0;
    }
    int input = LibraryHas("DINPUT.DLL", "DirectInputCreateA");
    if (input != 1) {
        OutputDebugStringA(input == 0 ? "Couldn't LoadLibrary DInput\r\n"
                                      : "Couldn't GetProcAddress DInputCreate\r\n");
        return 0x200;
    }
    if (LibraryHas("DDRAW.DLL", "DirectDrawCreateEx") == 1) return 0x700;
    if (LibraryHas("DMUSIC.DLL", nullptr) == 1) return 0x601;
    OutputDebugStringA("Couldn't create CLSID_DirectMusic\r\n");
    return 0x300;
}

// ---- Start-up ----

void KS_UseDirect3D(void) {
    ksGlobal.requestedDriver = KS_DRIVER_D3D8;
}

static void FreeBuffer(void** p) {
    if (*p) {
        KS_FREE(*p);
        *p = nullptr;
    }
}

static void FreePolygonBuffers(void) {
    FreeBuffer((void**)&ksGlobal.sortOrder);
    FreeBuffer((void**)&ksGlobal.sortKeys);
    FreeBuffer((void**)&ksGlobal.sortWork1);
    FreeBuffer((void**)&ksGlobal.sortWork2);
    FreeBuffer((void**)&ksGlobal.polygonTexSets);
}

// Adapter numbers from the device-choice hook name recorded adapters only.
static int ValidAdapter(int n) {
    if (n < 0) return 0;
    if (ksGlobal.adapterCount > 0 && n >= ksGlobal.adapterCount) return ksGlobal.adapterCount - 1;
    return n;
}

void KS_InitEngine(int32_t polygonCapacity) {
    // 1. A clean state block; the caller's options survive (the error-box window is kept by the
    // runtime).
    uint8_t runWindowed = ksGlobal.runWindowed, use32Bit = ksGlobal.use32Bit;
    memset(&ksGlobal, 0, sizeof(ksGlobal));
    ksGlobal.runWindowed = runWindowed;
    ksGlobal.use32Bit = use32Bit;
    ksGlobal.cachedMethod = -1;
    ksGlobal.quadDepthFactor = 1.0f;
    ksGlobal.modes[0].index = -1;
    ksErrorLogPath[0] = 0;
    ksErrorLogFlags = 0;
    KS_ResetProcedures();

    // 2. Memory tracker and the DirectX check.
    KS_MemoryInit();
    ksGlobal.directXVersion = KS_GetDirectXVersion();
    if (verbose) KS_Log("DirectX version %x", (unsigned)ksGlobal.directXVersion);
    if (ksGlobal.directXVersion < 0x800)
        MessageBoxA(KS_GetWindow(), "You need to install DirectX 8 or later before running this program.",
                    "DirectX 7 not installed", MB_ICONHAND | MB_SYSTEMMODAL | MB_SETFOREGROUND);

    // 3. Math routines.
    KS_InitMath();

    // 4. Buffers of the deferred polygon sort.
    if (polygonCapacity > 0) {
        size_t words = (size_t)polygonCapacity * sizeof(int32_t);
        if ((uint64_t)words > (uint64_t)INT32_MAX)
            KS_FatalError("Cannot allocate polygon buffers", "KS_InitEngine");
        ksGlobal.sortOrder = (int32_t*)KS_ALLOC(words);
        ksGlobal.sortKeys = (int32_t*)KS_ALLOC(words);
        ksGlobal.sortWork1 = (int32_t*)KS_ALLOC(words);
        ksGlobal.sortWork2 = (int32_t*)KS_ALLOC(words);
        ksGlobal.polygonTexSets = (uint8_t*)KS_ALLOC(polygonCapacity);
        if (!ksGlobal.sortOrder || !ksGlobal.sortKeys || !ksGlobal.sortWork1 || !ksGlobal.sortWork2 ||
            !ksGlobal.polygonTexSets) {
            FreePolygonBuffers();
            KS_FatalError("Cannot allocate polygon buffers", "KS_InitEngine");
        }
    }
    ksGlobal.polygonCapacity = polygonCapacity > 0 ? polygonCapacity : 0;

    // 5. Defaults of the drawing modules.
    ksGlobal.lodFactor = 1.0f;
    KS_ResetProjection();  // the two viewport records that entity projection reads
    ksGlobal.loadPaletteFlag = 1;
    ksGlobal.fatalTextureErrors = 0;
    ksGlobal.ambient[0] = ksGlobal.ambient[1] = ksGlobal.ambient[2] = 0.0f;

    // 6. The Direct3D object and the adapters.
    IDirect3D8* d3d = Direct3DCreate8(KS_D3D_SDK_VERSION);
    if (d3d) {
        ksGlobal.d3d = d3d;
        ksGlobal.adapters[0].d3d = d3d;
        UINT n = d3d->GetAdapterCount();
        if (n > KS_MAX_ADAPTERS) n = KS_MAX_ADAPTERS;
        ksGlobal.adapterCount = (int32_t)n;
        for (UINT i = 0; i < n; i++) {
            KSAdapter* a = &ksGlobal.adapters[i];
            a->d3d = d3d;
            d3d->GetAdapterIdentifier(i, 0, &a->identifier);
            d3d->GetAdapterDisplayMode(i, &a->desktopMode);
        }
        int primary = 0, secondary = 0, device = 0;
        if (ksChooseDeviceHook) {
            ksChooseDeviceHook(&primary, &secondary, &device);
        } else {
            // Without a chooser the engine fills the device-type list itself and takes the
            // first adapter and device type.
            ksGlobal.deviceCount = 0;
            KS_BuildDeviceList();
        }
        ksGlobal.primaryAdapter = ValidAdapter(primary);
        ksGlobal.secondaryAdapter = ValidAdapter(secondary);
        ksGlobal.chosenDevice = device < 0 || device >= KS_MAX_DEVICES ? 0 : device;
        KS_SelectAdapter(0);
    }

    // 7. The library-file layer.
    KS_RegisterLibraryHandlers();
}

void KS_InitDriver(void) {
    KSProcedureTable* t = &ksProcTable;
    t->SetMode = KS_SetModeD3D;
    t->LockFrame = KS_LockFrameD3D;
    t->UnlockFrame = KS_UnlockFrameD3D;
    t->FlushFrame = KS_FlushFrameD3D;
    t->SetClip = KS_SetClipD3D;
    t->SetColour = KS_SetColourD3D;
    t->FillRect = KS_FillRectD3D;
    t->DrawRect = KS_DrawRectD3D;
    t->DrawLine = KS_DrawLineD3D;
    t->DrawVLine = KS_DrawVLineD3D;
    t->DrawHLine = KS_DrawHLineD3D;
    t->DrawString = KS_DrawStringD3D;
    t->MakeColour = KS_MakeColourD3D;
    t->GetBlock = KS_GetBlockD3D;
    t->PutBlock = KS_PutBlockD3D;
    t->PutBitmap8 = KS_PutBitmap8D3D;
    t->PutBitmap32 = KS_PutBitmap32D3D;
    t->ClearScreen = KS_ClearScreenD3D;
    t->ClearViewport = KS_ClearViewportD3D;
    t->Clear = KS_ClearD3D;
    t->SetDrawTarget = KS_SetDrawTargetD3D;
    t->ShowFrame = KS_ShowFrameD3D;
    t->AddTexture = KS_AddTextureD3D;
    t->AddTexture2 = KS_AddTexture2D3D;
    t->AllocTextures = KS_AllocTexturesD3D;
    t->FreeTextures = KS_FreeTexturesD3D;
    t->LoadTexture = KS_LoadTextureD3D;
    t->LoadTexture2 = KS_LoadTexture2D3D;
    t->DrawTexture = KS_DrawTextureD3D;
    t->DrawTextureRect = KS_DrawTextureRectD3D;
    t->SetTexturePalette = KS_SetTexturePaletteD3D;
    t->RenderPolygons = KS_RenderPolygonsD3D;

    ksGlobal.quadUVMin = 0.01f;
    ksGlobal.quadUVMax = 0.99f;
    if (ksGlobal.polygonCapacity > 0) KS_AllocDeferredList(ksGlobal.polygonCapacity);
}

void KS_SelectDriver(void) {
    if (ksGlobal.requestedDriver == KS_DRIVER_NONE || ksGlobal.requestedDriver == KS_DRIVER_D3D8) {
        ksGlobal.driverId = KS_EnumerateDevices();
        if (ksGlobal.driverId == KS_DRIVER_D3D8) KS_InitDriver();
    }
}

void KS_FreeEngineBuffers(void) {
    FreePolygonBuffers();
    ksGlobal.polygonCapacity = 0;
    KS_ShutdownDevice();
}

// ---- Start directory ----

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

static std::string CurrentDirectory(void) {
    std::error_code error;
    std::string cwd = std::filesystem::current_path(error).string();
    if (error) cwd.clear();
    if (cwd.size() > 256) cwd.resize(256);
    return cwd;
}

// Drive number (A = 1) of a path that starts with a drive letter, else 0.
static int DriveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':' && isalpha((unsigned char)path[0]))
        return toupper((unsigned char)path[0]) - 64;
    return 0;
}

// Removes one trailing separator, but keeps a root ("\", "/", "C:\").
static void TrimSeparator(std::string* dir) {
    size_t n = dir->size();
    if (n == 0 || !IsSeparator((*dir)[n - 1])) return;
    if (n == 1) return;
    if (n == 3 && (*dir)[1] == ':') return;
    dir->resize(n - 1);
}

void KS_SetStartPath(const char* path) {
    std::string p = path ? path : "";
    int drive = DriveOf(p);
    std::string rest = drive ? p.substr(2) : p;
    size_t cut = rest.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? std::string() : rest.substr(0, cut + 1);

    std::string cwd = CurrentDirectory();
    if (!drive) drive = DriveOf(cwd);
    if (dir.empty()) dir = cwd;
    TrimSeparator(&dir);
    if (dir.size() > 256) dir.resize(256);

    ksStartPath.drive = drive;
    snprintf(ksStartPath.directory, sizeof(ksStartPath.directory), "%s", dir.c_str());
    snprintf(ksStartPath.userDirectory, sizeof(ksStartPath.userDirectory), "%s", cwd.c_str());
    if (ksErrorLogFlags & KS_ERRLOG_START_PATHS) {
        KS_LogError("Start Path", ksStartPath.directory);
        KS_LogError("User Path", ksStartPath.userDirectory);
    }
}

void KS_ChangeToStartPath(void) {
    std::string dir = ksStartPath.directory;
#ifdef _WIN32
    // The stored directory carries no drive when the path had one; put it back in front.
    if (ksStartPath.drive > 0 && DriveOf(dir) == 0) {
        std::string drive(1, (char)('A' + ksStartPath.drive - 1));
        dir = drive + ":" + dir;
    }
#endif
    if (!dir.empty()) {
        std::error_code error;
        std::filesystem::current_path(dir, error);
    }
    if (ksErrorLogFlags & KS_ERRLOG_START_PATHS)
        KS_LogError("Start Switched path", CurrentDirectory().c_str());
}

// ---- Tick timer ----

void KS_StartTimer(int32_t ticksPerSecond) {
    ksTimer.rate = ticksPerSecond;
    LARGE_INTEGER v;
    ksTimer.frequency = QueryPerformanceFrequency(&v) ? (int64_t)v.QuadPart : 0;
    ksTimer.last = QueryPerformanceCounter(&v) ? (int64_t)v.QuadPart : 0;
}

int32_t KS_ElapsedTicks(void) {
    for (;;) {
        LARGE_INTEGER v;
        if (!QueryPerformanceCounter(&v)) v.QuadPart = 0;
        int64_t counter = (int64_t)v.QuadPart;
        // Without a counter, or a timer started at rate 0, no tick could ever be counted.
        if (ksTimer.frequency == 0 || ksTimer.rate <= 0) return 1;
        int64_t ticks = (counter - ksTimer.last) * ksTimer.rate / ksTimer.frequency;
        if (ticks == 0) continue;
        ksTimer.last = counter;
        return (int32_t)ticks;
    }
}
