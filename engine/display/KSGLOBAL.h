// The engine state block: the one home of engine-wide state (Direct3D object and device, adapters,
// device types, modes, capability flags, present parameters, current mode, viewport, 2D drawing
// state and the start-up defaults that later modules read).
//
// KS_InitEngine zeroes the block at every start. What the caller sets before that call survives it:
// the two option bytes (runWindowed, use32Bit), like the owner window of the error boxes (kept by
// the runtime, KS_SetWindow). Modules other than the display code keep their engine-wide values here
// too rather than in copies of their own.
#ifndef KSGLOBAL_H
#define KSGLOBAL_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

#define KS_MAX_ADAPTERS 10   // adapters beyond the tenth are not recorded
#define KS_MAX_DEVICES 10    // device-type list capacity (only two are ever filled)
#define KS_MAX_MODES 256     // 255 modes and the end record
#define KS_MODE_LIMIT 255
#define KS_DRIVER_NONE 0
#define KS_DRIVER_D3D8 6     // driver id of Direct3D 8

// One display mode. index -1 marks the end of the list.
struct KSVideoMode {
    int32_t index;   // position in the adapter's own mode enumeration
    int32_t width;
    int32_t height;
    int32_t bits;    // 8, 16, 24, 32 from the format, 0 for a format outside the bits table
    int32_t format;  // D3DFORMAT
};

// One entry of the device-type list ("HAL" and "REF").
struct KSDevice {
    char name[30];
    char about[130];
    int32_t type;      // D3DDEVTYPE
    D3DCAPS8 caps;     // GetDeviceCaps
    int32_t hardware;  // 1 for both entries: dithering on, viewport centre rule
    int32_t zbuffer;   // 1 for both entries; only logged
};

// One Direct3D adapter.
struct KSAdapter {
    D3DADAPTER_IDENTIFIER8 identifier;
    D3DDISPLAYMODE desktopMode;
    IDirect3D8* d3d;              // borrowed: every record holds the one engine object
    IDirect3DDevice8* device;     // null until KS_SetModeD3D
    D3DVIEWPORT8 viewport;
    D3DPRESENT_PARAMETERS presentParams;
};

// Capability flags derived from the current device entry's caps.
struct KSDeviceCaps {
    int32_t FogTable;        // always 0
    int32_t FogVertex;
    int32_t AlphaBlend;      // every render method consults it
    int32_t AlphaStippled;   // always 0
    int32_t BilinearFilter;
    int32_t DDRAWHasAGP;
    int32_t HasAGPTextures;  // always 0
    int32_t WBuffer;
    int32_t MaxTextureWidth;
    int32_t MaxTextureHeight;
    uint8_t SquareTexture;
    uint8_t Pow2Textures;
    uint8_t MaxBlendStages;
    uint8_t MaxSimultaneous;
    uint8_t SeparateTextureMemory;
    int32_t singleTexture;   // MaxSimultaneous == 1; never cleared within a run
    int32_t trilinearFilter;
    int32_t hardwareTnL;
    int32_t maxLights;       // 8 without hardware transform and lighting
    uint32_t vertexShaderVersion;
    int32_t canRenderWindowed;
};

// An engine viewport: inclusive pixel rectangle with its derived sizes.
struct KSViewport {
    float width;       // x2 - x1 + 1
    float height;      // y2 - y1 + 1
    float centreX;     // x1 + halfWidth
    float centreY;     // y1 + halfHeight
    int32_t x1, y1, x2, y2;
    float halfWidth;
    float halfHeight;
    int32_t value;     // caller's value, kept with the viewport
};

// How an engine colour becomes a pixel of the 2D drawing surface.
struct KSPixelFormat {
    int32_t redShift, greenShift, blueShift;  // position of the channel's lowest bit
    int32_t redMax, greenMax, blueMax;        // mask shifted down
    int32_t redLoss, greenLoss, blueLoss;     // right shift from 8 bits
};

struct KSBitmapFont;

struct KSGlobal {
    // ---- Caller options: set before KS_InitEngine, kept by it ----
    uint8_t runWindowed;       // render into the window instead of full screen
    uint8_t use32Bit;          // 32-bit colour, else 16-bit

    // ---- Driver and enumeration ----
    int32_t requestedDriver;   // KS_UseDirect3D sets 6
    int32_t driverId;          // 6 once Direct3D 8 enumeration succeeded
    int32_t directXVersion;    // result of the start-up probe (0x800 for DirectX 8)
    IDirect3D8* d3d;           // the engine's Direct3D object (owned)
    IDirect3DDevice8* device;  // the current device (owned by the current adapter record)
    int32_t adapterCount;      // recorded adapters (at most KS_MAX_ADAPTERS)
    KSAdapter adapters[KS_MAX_ADAPTERS];
    int32_t currentAdapter;    // number of the current adapter record
    int32_t primaryAdapter;    // choices of the device-choice hook
    int32_t secondaryAdapter;
    int32_t chosenDevice;      // device-type entry chosen by the hook
    int32_t deviceCount;
    KSDevice devices[KS_MAX_DEVICES];
    KSVideoMode modes[KS_MAX_MODES];
    KSDeviceCaps caps;

    // ---- Mode and presentation ----
    RECT clientRect[2];        // source and destination rectangles of windowed presents
    int32_t screenWidth;
    int32_t screenHeight;
    int32_t screenBits;
    D3DFORMAT backBufferFormat;
    IDirect3DSurface8* backBuffer;    // back buffer 0 (owned reference)
    IDirect3DSurface8* renderTarget;  // the surface currently set as render target (not owned)
    int32_t drawTarget;        // the value last passed to KSGFX_SetDrawTarget
    int32_t frameParity;       // flips at every present
    KSViewport viewport;       // current engine viewport
    D3DVIEWPORT8 d3dViewport;  // current Direct3D viewport
    float defaultProjection[16];
    int32_t transformMode;     // KS_SetTransformMode

    // ---- 2D drawing ----
    IDirect3DSurface8* drawSurface;   // surface the pixel operations write into (not owned)
    int32_t drawWidth, drawHeight;
    int32_t drawBytesPerPixel;        // 1 to 4, from the drawing surface's format
    uint8_t* framePointer;            // valid between lock and unlock
    int32_t framePitch;
    int32_t frameLocks;               // nesting depth of KSGFX_LockFrame
    int16_t clipX1, clipY1, clipX2, clipY2;
    uint32_t drawColour;              // 0xRRGGBBAA
    uint32_t textColour;              // engine colours of the bitmap-font text
    uint32_t textBackColour;
    int32_t textMode;                 // 0 set bits only, 1 clear bits only, else both
    int32_t textX;                    // pen position while a string is drawn
    const KSBitmapFont* bitmapFont;   // null: the built-in font
    KSPixelFormat pixelFormat;
    float quadDepthFactor;            // 2D texture-quad depth factor (1.0)
    float quadUVMin, quadUVMax;       // 2D quad texture-coordinate range (0.01, 0.99)

    // ---- The render pipeline's deferred sort (Kssort), allocated at start-up ----
    int32_t polygonCapacity;
    int32_t* sortOrder;        // the sorted drawing order
    int32_t* sortKeys;         // one key per deferred polygon
    int32_t* sortWork1;        // radix-sort work arrays
    int32_t* sortWork2;
    uint8_t* polygonTexSets;   // texture-coordinate set count per deferred polygon

    // ---- Render pipeline, texture manager, scene ----
    int32_t cachedMethod;      // render method whose device states are set; -1 = none
    void* cachedMaterial;      // KSMaterial* last set up; null = none
    DWORD cachedFormat;        // vertex format the pipeline last set; 0 = forgotten (another
                               // drawer, such as the buffer path with its shaders, set its own)
    int32_t methodsValidated;  // the render-method table is built for this run
    int32_t loadPaletteFlag;      // texture loads copy their palette into the global one (1)
    int32_t fatalTextureErrors;   // a texture file that does not open is fatal (0)
    float lodFactor;           // level-of-detail factor, 1.0
    float ambient[3];          // ambient light colour, 0..255
    int32_t vertexBufferSwitch;   // 1: objects get vertex buffers and segments with them are drawn from them
    void* currentCamera;       // KSCamera* made current by KS_UpdateCamera
};

extern KSGlobal ksGlobal;

// The log line of a failed Direct3D call ("File: %s\nLine: %d\nError: %s\n"), written only while
// verbose logging is on. Uses the calling file's KS_MODULE as the file name.
#define KS_LOG_D3D_FAILURE(result)                                                         \
    do {                                                                                   \
        if (verbose)                                                                       \
            KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, __LINE__,                  \
                   KS_D3DErrorName(result));                                               \
    } while (0)

#endif
