// Direct3D 8 enumeration (device types, display modes, capability flags), mode setting, the
// default render states and matrices, viewports, presentation with lost-device recovery, and
// device shut-down.
//
// Adapter numbers. The device-choice hook names a primary and a secondary adapter number and a
// device-type number. The engine uses one rule for every adapter number n: n is the Direct3D
// adapter for everything that concerns the display (caps, modes, the depth-format check and the
// device creation), and the device type is that of the chosen device-type entry, whose record
// also keeps the caps. For adapter 0 with device type 0 (HAL), which is what the plug-in always
// chooses, this is exactly "caps of adapter 0 / HAL, device created on adapter 0 as HAL". Adapter
// numbers outside the recorded adapters are taken as the last recorded one.
#define KS_MODULE "KSHRDWRE"
#include "kestra.h"

#include <string.h>

// ---- Adapter and device-entry rule ----

static int DeviceEntry(void) {
    int n = ksGlobal.chosenDevice;
    if (n < 0 || n >= ksGlobal.deviceCount) n = 0;
    return n;
}

static UINT D3DAdapterNumber(void) {
    return (UINT)ksGlobal.currentAdapter;
}

static D3DDEVTYPE DeviceType(void) {
    D3DDEVTYPE type = (D3DDEVTYPE)ksGlobal.devices[DeviceEntry()].type;
    return type == 0 ? D3DDEVTYPE_HAL : type;
}

// ---- Enumeration ----

int32_t KS_FormatBits(int32_t format) {
    switch (format) {
    case D3DFMT_R3G3B2:
    case D3DFMT_A8:
    case D3DFMT_P8:
    case D3DFMT_L8:
    case D3DFMT_A4L4:
        return 8;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8R3G3B2:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8P8:
    case D3DFMT_A8L8:
    case D3DFMT_V8U8:
    case D3DFMT_L6V5U5:
        return 16;
    case D3DFMT_R8G8B8:
        return 24;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_X8L8V8U8:
    case D3DFMT_Q8W8V8U8:
    case D3DFMT_V16U16:
    case D3DFMT_W11V11U10:
        return 32;
    default:
        return 0;
    }
}

void KS_BuildDeviceList(void) {
    static const struct {
        D3DDEVTYPE type;
        const char* name;
    } kTypes[2] = {{D3DDEVTYPE_HAL, "HAL"}, {D3DDEVTYPE_REF, "REF"}};
    for (int i = 0; i < 2; i++) {
        int n = ksGlobal.deviceCount;
        if (n >= KS_MAX_DEVICES) return;
        KSDevice* d = &ksGlobal.devices[n];
        d->type = kTypes[i].type;
        strcpy(d->name, kTypes[i].name);
        strcpy(d->about, " ");
        d->hardware = 1;
        d->zbuffer = 1;
        if (verbose) {
            KS_Log("D3D Device OK %i", n);
            KS_Log("  Device Name: %s", d->name);
            KS_Log("  Device About:%s", d->about);
            KS_Log("  Device Is Hardware: %i", d->hardware);
            KS_Log("  Device uses Zbuffer: %i", d->zbuffer);
        }
        ksGlobal.deviceCount = n + 1;
    }
}

void KS_EnumerateModes(void) {
    IDirect3D8* d3d = ksGlobal.d3d;
    if (!d3d) return;
    UINT adapter = D3DAdapterNumber();
    UINT n = d3d->GetAdapterModeCount(adapter);
    for (UINT i = 0; i < n; i++) {
        D3DDISPLAYMODE mode;
        memset(&mode, 0, sizeof(mode));
        if (FAILED(d3d->EnumAdapterModes(adapter, i, &mode))) continue;
        if (mode.Width < 640 || mode.Height < 400) continue;

        // The adapter lists one mode per refresh rate; keep one per size and format.
        int end = 0;
        bool duplicate = false;
        for (; end < KS_MODE_LIMIT && ksGlobal.modes[end].index != -1; end++) {
            const KSVideoMode* m = &ksGlobal.modes[end];
            if (m->width == (int32_t)mode.Width && m->height == (int32_t)mode.Height &&
                m->format == (int32_t)mode.Format) {
                duplicate = true;
                break;
            }
        }
        if (duplicate) continue;

        int32_t bits = KS_FormatBits(mode.Format);
        if (end < KS_MODE_LIMIT) {
            KSVideoMode* m = &ksGlobal.modes[end];
            m->index = (int32_t)i;
            m->width = (int32_t)mode.Width;
            m->height = (int32_t)mode.Height;
            m->bits = bits;
            m->format = (int32_t)mode.Format;
            ksGlobal.modes[end + 1].index = -1;
        }
        if (verbose)
            KS_Log("Add Mode Width: %i  Height %i  Bits: %i  Format: %i", (int)mode.Width,
                   (int)mode.Height, (int)bits, (int)mode.Format);
    }
}

static int ModeArea(const KSVideoMode* m) {
    return m->width * m->height;
}

int KS_EnumerateDevices(void) {
    IDirect3D8* d3d = ksGlobal.d3d;
    if (!d3d) return 0;  // no Direct3D object: nothing can be listed

    KSDevice* entry = &ksGlobal.devices[DeviceEntry()];
    HRESULT hr = d3d->GetDeviceCaps(D3DAdapterNumber(), DeviceType(), &entry->caps);
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);

    // The bit itself, as its log line shows it.
    ksGlobal.caps.DDRAWHasAGP = (int32_t)(entry->caps.DevCaps & D3DDEVCAPS_TEXTURENONLOCALVIDMEM);
    if (entry->caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED) {
        if (verbose) KS_Log("Device can render to a window");
        ksGlobal.caps.canRenderWindowed = 1;
    }

    ksGlobal.deviceCount = 0;
    ksGlobal.modes[0].index = -1;
    KS_BuildDeviceList();
    if (verbose) KS_Log("%i suitable device(s) found", (int)ksGlobal.deviceCount);
    if (ksGlobal.deviceCount == 0) return 0;

    KS_EnumerateModes();
    if (ksGlobal.modes[0].index == -1)
        KS_FatalError("No video modes found!  Try a different bit depth or device.",
                      "EnumDisplaymodes");

    // Selection sort by pixel area, smallest first.
    int count = 0;
    while (count < KS_MODE_LIMIT && ksGlobal.modes[count].index != -1) count++;
    for (int i = 0; i < count - 1; i++) {
        int best = i;
        for (int j = i + 1; j < count; j++)
            if (ModeArea(&ksGlobal.modes[j]) < ModeArea(&ksGlobal.modes[best])) best = j;
        if (best != i) {
            KSVideoMode t = ksGlobal.modes[i];
            ksGlobal.modes[i] = ksGlobal.modes[best];
            ksGlobal.modes[best] = t;
        }
    }

    ksGlobal.driverId = KS_DRIVER_D3D8;
    return KS_DRIVER_D3D8;
}

void KS_ReadDeviceCaps(void) {
    const D3DCAPS8* c = &ksGlobal.devices[DeviceEntry()].caps;
    KSDeviceCaps* k = &ksGlobal.caps;

    k->FogTable = 0;
    if (c->RasterCaps & D3DPRASTERCAPS_FOGVERTEX) k->FogVertex = 1;
    k->vertexShaderVersion = c->VertexShaderVersion;
    if (c->ShadeCaps & D3DPSHADECAPS_ALPHAGOURAUDBLEND) k->AlphaBlend = 1;
    if (c->TextureFilterCaps & D3DPTFILTERCAPS_MAGFLINEAR) k->BilinearFilter = 1;
    if (c->TextureFilterCaps & D3DPTFILTERCAPS_MIPFLINEAR) k->trilinearFilter = 1;
    k->maxLights = (int32_t)c->MaxActiveLights;
    k->WBuffer = (c->RasterCaps & D3DPRASTERCAPS_WBUFFER) ? 1 : 0;
    k->MaxTextureHeight = (int32_t)c->MaxTextureHeight;
    k->MaxTextureWidth = (int32_t)c->MaxTextureWidth;
    k->SquareTexture = (c->TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : 0;
    k->Pow2Textures = (c->TextureCaps & D3DPTEXTURECAPS_POW2) ? 1 : 0;
    k->MaxBlendStages = (uint8_t)c->MaxTextureBlendStages;
    k->MaxSimultaneous = (uint8_t)c->MaxSimultaneousTextures;
    if (k->MaxSimultaneous == 1) k->singleTexture = 1;
    k->SeparateTextureMemory = (c->DevCaps & D3DDEVCAPS_SEPARATETEXTUREMEMORIES) ? 1 : 0;
    k->hardwareTnL = (c->DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? 1 : 0;
    if (!k->hardwareTnL) k->maxLights = 8;

    if (verbose) {
        KS_Log("Device Caps:");
        KS_Log("FogTable: %i", (int)k->FogTable);
        KS_Log("FogVertex: %i", (int)k->FogVertex);
        KS_Log("AlphaBlend: %i", (int)k->AlphaBlend);
        KS_Log("AlphaStippled: %i", (int)k->AlphaStippled);
        KS_Log("BilinearFilter: %i", (int)k->BilinearFilter);
        KS_Log("DDRAWHasAGP: %i", (int)k->DDRAWHasAGP);
        KS_Log("HasAGPTextures: %i", (int)k->HasAGPTextures);
        KS_Log("WBuffer: %i", (int)k->WBuffer);
        KS_Log("MaxTextureWidth: %i", (int)k->MaxTextureWidth);
        KS_Log("MaxTextureHeight: %i", (int)k->MaxTextureHeight);
        KS_Log("SquareTexture: %i", (int)k->SquareTexture);
        KS_Log("Pow2Textures: %i", (int)k->Pow2Textures);
        KS_Log("MaxBlendStages: %i", (int)k->MaxBlendStages);
        KS_Log("MaxSimultaneous: %i", (int)k->MaxSimultaneous);
        KS_Log("SeparateTextureMemory: %i", (int)k->SeparateTextureMemory);
    }
}

int KS_FindDepthFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT* depth) {
    static const D3DFORMAT kCandidates[3] = {D3DFMT_D32, D3DFMT_D24X8, D3DFMT_D16};
    IDirect3D8* d3d = ksGlobal.d3d;
    if (!d3d) return 0;
    for (int i = 0; i < 3; i++) {
        if (FAILED(d3d->CheckDeviceFormat(adapter, type, adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_SURFACE, kCandidates[i])))
            continue;
        if (FAILED(d3d->CheckDepthStencilMatch(adapter, type, adapterFormat, adapterFormat,
                                               kCandidates[i])))
            continue;
        *depth = kCandidates[i];
        return 1;
    }
    return 0;
}

// ---- Back buffer ----

void KS_ReleaseBackBuffer(void) {
    if (ksGlobal.backBuffer) {
        if (ksGlobal.drawSurface == ksGlobal.backBuffer) KS_SetDrawSurface(nullptr);
        if (ksGlobal.renderTarget == ksGlobal.backBuffer) ksGlobal.renderTarget = nullptr;
        ksGlobal.backBuffer->Release();
        ksGlobal.backBuffer = nullptr;
    }
}

// Fetches back buffer 0 of the current device; 1 when there is one.
static int GetBackBuffer0(void) {
    KS_ReleaseBackBuffer();
    if (!ksGlobal.device) return 0;
    HRESULT hr = ksGlobal.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &ksGlobal.backBuffer);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        ksGlobal.backBuffer = nullptr;
        return 0;
    }
    return 1;
}

int KS_FetchBackBuffer(void) {
    bool wasDrawing = ksGlobal.drawSurface == nullptr || ksGlobal.drawSurface == ksGlobal.backBuffer;
    if (!GetBackBuffer0()) return 0;
    ksGlobal.renderTarget = ksGlobal.backBuffer;
    if (wasDrawing) KS_SetDrawSurface(ksGlobal.backBuffer);
    return 1;
}

// ---- Mode setting ----

int KS_SetModeD3D(int width, int height, int refresh) {
    (void)refresh;
    int cur = ksGlobal.currentAdapter;
    KSAdapter* adapter = &ksGlobal.adapters[cur];
    HWND window = KS_GetWindow();

    // A device that is still open from an earlier mode setting is released, not dropped.
    KS_ReleaseBackBuffer();
    if (adapter->device) {
        adapter->device->Release();
        if (ksGlobal.device == adapter->device) ksGlobal.device = nullptr;
    }
    adapter->device = nullptr;

    if (ksGlobal.runWindowed) {
        GetClientRect(window, &ksGlobal.clientRect[0]);
        ksGlobal.clientRect[1] = ksGlobal.clientRect[0];
        width = ksGlobal.clientRect[0].right;
        height = ksGlobal.clientRect[0].bottom;
    }

    int bits = ksGlobal.use32Bit ? 32 : 16;
    D3DPRESENT_PARAMETERS* pp = &adapter->presentParams;
    memset(pp, 0, sizeof(*pp));

    if (ksGlobal.runWindowed) {
        if (!ksGlobal.caps.canRenderWindowed)
            KS_FatalError("This video card does not support rendering to a window", " ");
        pp->Windowed = TRUE;
        pp->Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        pp->hDeviceWindow = window;
        pp->BackBufferCount = 0;
        pp->BackBufferWidth = (UINT)width;
        pp->BackBufferHeight = (UINT)height;
        pp->BackBufferFormat = adapter->desktopMode.Format;
        pp->SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp->EnableAutoDepthStencil = TRUE;
        // The back buffer has the desktop's depth, whatever use32Bit asks for: the 2D layer
        // must pack its pixels for the surface it writes.
        if (KS_FormatBits(pp->BackBufferFormat) != 0) bits = KS_FormatBits(pp->BackBufferFormat);
    } else {
        pp->Windowed = FALSE;
        const KSVideoMode* found = nullptr;
        for (int i = 0; i < KS_MODE_LIMIT && ksGlobal.modes[i].index != -1; i++) {
            const KSVideoMode* m = &ksGlobal.modes[i];
            if (m->width == width && m->height == height && m->bits == bits) {
                found = m;
                break;
            }
        }
        if (!found) {
            KS_FatalError("Could not find the video mode you requested.", "KS_SetMode");
            return -1;
        }
        pp->Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        pp->hDeviceWindow = window;
        pp->BackBufferWidth = (UINT)width;
        pp->BackBufferHeight = (UINT)height;
        pp->BackBufferCount = 1;
        pp->BackBufferFormat = (D3DFORMAT)found->format;
        pp->EnableAutoDepthStencil = TRUE;
        pp->SwapEffect = D3DSWAPEFFECT_FLIP;
        pp->MultiSampleType = D3DMULTISAMPLE_NONE;
    }

    D3DFORMAT depth = D3DFMT_UNKNOWN;
    if (!KS_FindDepthFormat(D3DAdapterNumber(), DeviceType(), pp->BackBufferFormat, &depth))
        KS_FatalError("Could find suitable depth buffer format! Please try running in 32 bit color mode.",
                      "KS_SetMode");
    pp->AutoDepthStencilFormat = depth;

    DWORD behaviour;
    if (ksGlobal.devices[DeviceEntry()].caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        ksGlobal.caps.hardwareTnL = 1;
        behaviour = D3DCREATE_MIXED_VERTEXPROCESSING;
        if (verbose) KS_Log("Hardware Vertex Processing\n");
    } else {
        ksGlobal.caps.hardwareTnL = 0;
        behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        if (verbose) KS_Log("Software Vertex Processing\n");
    }

    HRESULT hr = ksGlobal.d3d ? ksGlobal.d3d->CreateDevice(D3DAdapterNumber(), DeviceType(), window,
                                                          behaviour, pp, &adapter->device)
                              : D3DERR_INVALIDCALL;
    if (FAILED(hr) || !adapter->device) {
        adapter->device = nullptr;
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError(KS_D3DErrorName(hr), "CreateDevice Failed");
    }
    ksGlobal.device = adapter->device;

    if (verbose) KS_Log("KS_SetModeD3D: W: %i H: %i BPP:%i\n", width, height, bits);
    GetBackBuffer0();
    ksGlobal.screenWidth = width;
    ksGlobal.screenHeight = height;
    ksGlobal.screenBits = bits;
    ksGlobal.backBufferFormat = pp->BackBufferFormat;
    ksGlobal.drawTarget = 1;
    ksGlobal.frameParity = 0;

    KS_ReadPixelFormat(ksGlobal.backBuffer);
    KS_SetDrawSurface(ksGlobal.backBuffer);
    KS_ReadDeviceCaps();
    KS_EnumTextureFormats();

    D3DVIEWPORT8* vp = &adapter->viewport;
    vp->X = 0;
    vp->Y = 0;
    vp->Width = (DWORD)width;
    vp->Height = (DWORD)height;
    vp->MinZ = 0.0f;
    vp->MaxZ = 1.0f;
    ksGlobal.d3dViewport = *vp;
    hr = ksGlobal.device->SetViewport(vp);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError("SetViewport Failed", "KS_SetModeD3D");
    }

    ksGlobal.renderTarget = ksGlobal.backBuffer;
    KS_SelectAdapter(ksGlobal.currentAdapter);
    KS_SetDefaultRenderStates();

    if (ksGlobal.currentAdapter == ksGlobal.primaryAdapter) KS_ValidateMethods();
    return 1;
}

void KS_SelectAdapter(int n) {
    if (n > ksGlobal.adapterCount) n = ksGlobal.adapterCount;
    int cur = n == 0 ? ksGlobal.primaryAdapter : ksGlobal.secondaryAdapter;
    if (cur < 0 || cur >= KS_MAX_ADAPTERS) cur = 0;
    ksGlobal.currentAdapter = cur;

    KSAdapter* adapter = &ksGlobal.adapters[cur];
    if (adapter->d3d) ksGlobal.d3d = adapter->d3d;
    ksGlobal.device = adapter->device;
    ksGlobal.d3dViewport = adapter->viewport;

    bool wasTarget = ksGlobal.renderTarget == nullptr || ksGlobal.renderTarget == ksGlobal.backBuffer;
    bool wasDrawing = ksGlobal.drawSurface == nullptr || ksGlobal.drawSurface == ksGlobal.backBuffer;
    if (GetBackBuffer0()) {
        if (wasTarget) ksGlobal.renderTarget = ksGlobal.backBuffer;
        if (wasDrawing) {
            // Same surface as before: keep the clip rectangle the caller set.
            int16_t c[4] = {ksGlobal.clipX1, ksGlobal.clipY1, ksGlobal.clipX2, ksGlobal.clipY2};
            KS_SetDrawSurface(ksGlobal.backBuffer);
            ksGlobal.clipX1 = c[0];
            ksGlobal.clipY1 = c[1];
            ksGlobal.clipX2 = c[2];
            ksGlobal.clipY2 = c[3];
        }
    }
}

// ---- Default states ----

static void SetState(D3DRENDERSTATETYPE state, DWORD value) {
    ksGlobal.device->SetRenderState(state, value);
}

void KS_SetDefaultMatrices(void) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev) return;

    D3DMATRIX identity;
    memset(&identity, 0, sizeof(identity));
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;

    D3DMATRIX projection;
    memset(&projection, 0, sizeof(projection));
    float m11 = 1.0f / KSM_Tan(0.52358335f);
    projection._11 = m11;
    projection._22 = m11 * 1.6f;
    uint32_t m33Bits = 0x3F800080u;   // 1.0000153
    uint32_t m43Bits = 0xC12000A0u;   // -10.000153: a near plane of 10
    memcpy(&projection._33, &m33Bits, 4);
    projection._34 = 1.0f;
    memcpy(&projection._43, &m43Bits, 4);
    memcpy(ksGlobal.defaultProjection, &projection, sizeof(ksGlobal.defaultProjection));

    if (FAILED(dev->SetTransform(D3DTS_WORLD, &identity)))
        KS_FatalError("Cannot set world matrix", " ");
    if (FAILED(dev->SetTransform(D3DTS_VIEW, &identity)))
        KS_FatalError("Cannot set view matrix", " ");
    if (FAILED(dev->SetTransform(D3DTS_PROJECTION, &projection)))
        KS_FatalError("Cannot set projection matrix", " ");
}

void KS_SetDefaultRenderStates(void) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev) return;

    SetState(D3DRS_DITHERENABLE, ksGlobal.devices[DeviceEntry()].hardware ? TRUE : FALSE);
    SetState(D3DRS_CULLMODE, D3DCULL_NONE);
    SetState(D3DRS_CLIPPING, FALSE);
    SetState(D3DRS_CLIPPING, TRUE);
    SetState(D3DRS_LIGHTING, FALSE);
    SetState(D3DRS_ZENABLE, D3DZB_TRUE);
    SetState(D3DRS_ZWRITEENABLE, TRUE);
    SetState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    SetState(D3DRS_AMBIENT, 0);

    KS_SetDefaultMatrices();

    static const D3DRENDERSTATETYPE kWraps[8] = {D3DRS_WRAP0, D3DRS_WRAP1, D3DRS_WRAP2, D3DRS_WRAP3,
                                                 D3DRS_WRAP4, D3DRS_WRAP5, D3DRS_WRAP6, D3DRS_WRAP7};
    for (int i = 0; i < 8; i++) SetState(kWraps[i], 0);
    SetState(D3DRS_SOFTWAREVERTEXPROCESSING, ksGlobal.caps.hardwareTnL ? FALSE : TRUE);

    DWORD filter = ksGlobal.caps.BilinearFilter ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    for (DWORD stage = 0; stage < 8; stage++) {
        dev->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
        dev->SetTextureStageState(stage, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
        dev->SetTextureStageState(stage, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
        dev->SetTextureStageState(stage, D3DTSS_MINFILTER, filter);
        dev->SetTextureStageState(stage, D3DTSS_MAGFILTER, filter);
        dev->SetTextureStageState(stage, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    }

    KS_PrepareVertexBuffers();
}

// ---- Render target and presentation ----

void KS_SetRenderTarget(IDirect3DSurface8* surface) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!surface || !dev) return;
    if (verbose) {
        D3DSURFACE_DESC desc;
        memset(&desc, 0, sizeof(desc));
        surface->GetDesc(&desc);
        KS_Log("Switching Render Target: w: %i h: %i", (int)desc.Width, (int)desc.Height);
    }
    ksGlobal.renderTarget = surface;

    // Back to the back buffer: pair it with the device's own depth buffer again, which a null
    // depth-stencil argument would release and leave 3D drawing without depth.
    IDirect3DSurface8* depth = nullptr;
    if (surface == ksGlobal.backBuffer && FAILED(dev->GetDepthStencilSurface(&depth)))
        depth = nullptr;
    HRESULT hr = dev->SetRenderTarget(surface, depth);
    if (depth) depth->Release();
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);

    hr = dev->SetViewport(&ksGlobal.d3dViewport);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError("SetViewport Failed", "KS_SetModeD3D");
    }
    KSGFX_Clear(&ksGlobal.viewport, 1);
}

void KS_SetDrawTargetD3D(int flag) {
    if (flag == 1) {
        // The back buffer becomes the drawing surface again, with the clip rectangle over all of it.
        KS_SetDrawSurface(ksGlobal.backBuffer);
        if (flag != ksGlobal.drawTarget && !ksGlobal.runWindowed) KS_SetRenderTarget(ksGlobal.backBuffer);
    }
    ksGlobal.drawTarget = flag;
}

HRESULT KS_ResetDevice(int width, int height) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS* params = &ksGlobal.adapters[ksGlobal.currentAdapter].presentParams;
    params->BackBufferWidth = (UINT)width;
    params->BackBufferHeight = (UINT)height;

    // Reset needs every default-pool resource and every reference to the back buffer gone.
    KS_ReleaseRenderTextures();
    KS_ReleaseBackBuffer();
    HRESULT hr = dev->Reset(params);
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
    ksGlobal.screenWidth = width;
    ksGlobal.screenHeight = height;
    // A windowed present copies the whole new back buffer onto the whole client area.
    ksGlobal.clientRect[0].left = ksGlobal.clientRect[0].top = 0;
    ksGlobal.clientRect[0].right = width;
    ksGlobal.clientRect[0].bottom = height;
    ksGlobal.clientRect[1] = ksGlobal.clientRect[0];
    KS_FetchBackBuffer();
    KS_SetDefaultRenderStates();
    KS_RestoreRenderTextures();
    return hr;
}

// Brings a lost device back: wait until it can be reset, reset it at its own size and restore its
// state. Up to three attempts; 1 when the device works again.
static int RecoverLostDevice(void) {
    IDirect3DDevice8* dev = ksGlobal.device;
    const D3DPRESENT_PARAMETERS* params = &ksGlobal.adapters[ksGlobal.currentAdapter].presentParams;
    for (int attempt = 0; attempt < 3; attempt++) {
        // Poll once a second for as long as the device stays lost.
        HRESULT state;
        do {
            Sleep(1000);
            state = dev->TestCooperativeLevel();
        } while (state == D3DERR_DEVICELOST);

        if (SUCCEEDED(KS_ResetDevice((int)params->BackBufferWidth, (int)params->BackBufferHeight)))
            return 1;
    }
    return 0;
}

int KS_ShowFrameD3D(void) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (dev) {
        HRESULT hr;
        if (ksGlobal.runWindowed)
            hr = dev->Present(&ksGlobal.clientRect[0], &ksGlobal.clientRect[1], nullptr, nullptr);
        else
            hr = dev->Present(nullptr, nullptr, nullptr, nullptr);
        if (hr == D3DERR_DEVICELOST) RecoverLostDevice();
    }
    ksGlobal.frameParity = !ksGlobal.frameParity;
    return ksGlobal.frameParity;
}

void KS_ShutdownDevice(void) {
    KS_FreeVertexShaders();
    KS_FreePixelShaders();
    if (verbose) KS_Log("Shutting down D3D");
    if (ksGlobal.device)
        for (DWORD stage = 0; stage < 8; stage++) ksGlobal.device->SetTexture(stage, nullptr);

    KS_ReleaseBackBuffer();
    ksGlobal.drawSurface = nullptr;
    ksGlobal.renderTarget = nullptr;
    // Each adapter record borrows the device it created; the engine's current device is one of
    // them.
    for (int i = 0; i < KS_MAX_ADAPTERS; i++) {
        KSAdapter* a = &ksGlobal.adapters[i];
        if (a->device) {
            if (a->device == ksGlobal.device) ksGlobal.device = nullptr;
            a->device->Release();
            a->device = nullptr;
        }
        a->d3d = nullptr;
    }
    if (ksGlobal.device) {
        ksGlobal.device->Release();
        ksGlobal.device = nullptr;
    }
    if (ksGlobal.d3d) {
        ksGlobal.d3d->Release();
        ksGlobal.d3d = nullptr;
    }
    if (verbose) KS_Log("Done shutdown  D3D");

    KS_FreeDeferredList();
    KS_RemoveAllCameras();
    KS_MemoryShutdown();
}

// ---- Viewports and state switches ----

static void FillViewport(KSViewport* v, int x1, int y1, int x2, int y2) {
    v->width = (float)(x2 - x1 + 1);
    v->height = (float)(y2 - y1 + 1);
    v->halfWidth = v->width * 0.5f;
    v->halfHeight = v->height * 0.5f;
    v->centreX = (float)x1 + v->halfWidth;
    v->centreY = (float)y1 + v->halfHeight;
    v->x1 = x1;
    v->y1 = y1;
    v->x2 = x2;
    v->y2 = y2;
}

void KS_MakeViewport(KSViewport* viewport, int x1, int y1, int x2, int y2, int32_t value) {
    if (!viewport) return;
    FillViewport(viewport, x1, y1, x2, y2);
    viewport->value = value;
    KSGFX_SetClip(x1, y1, x2, y2);
}

void KS_SetViewport(const KSViewport* viewport) {
    if (!viewport) return;
    ksGlobal.viewport = *viewport;
    ksGlobal.d3dViewport.X = (DWORD)viewport->x1;
    ksGlobal.d3dViewport.Y = (DWORD)viewport->y1;
    ksGlobal.d3dViewport.Width = (DWORD)(int)viewport->width;
    ksGlobal.d3dViewport.Height = (DWORD)(int)viewport->height;
    ksGlobal.adapters[ksGlobal.currentAdapter].viewport = ksGlobal.d3dViewport;
    if (ksGlobal.device) {
        HRESULT hr = ksGlobal.device->SetViewport(&ksGlobal.d3dViewport);
        if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
    }
}

void KS_ResizeViewport(KSViewport* viewport, int x1, int y1, int x2, int y2) {
    if (!viewport) return;
    FillViewport(viewport, x1, y1, x2, y2);
    KS_SetViewport(viewport);
}

void KS_SetDepthWrite(int flag) {
    if (ksGlobal.device) ksGlobal.device->SetRenderState(D3DRS_ZWRITEENABLE, flag ? TRUE : FALSE);
}

void KS_SetTextureFiltering(int minLinear, int magLinear) {
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev || !ksGlobal.caps.BilinearFilter) return;
    for (DWORD stage = 0; stage < 8; stage++) {
        dev->SetTextureStageState(stage, D3DTSS_MINFILTER, minLinear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
        dev->SetTextureStageState(stage, D3DTSS_MAGFILTER, magLinear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
        dev->SetTextureStageState(stage, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    }
}

void KS_SetTransformMode(int flag) {
    if (flag == ksGlobal.transformMode) return;
    ksGlobal.transformMode = flag;
    ksGlobal.cachedMethod = -1;
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev) return;
    if (flag == 1) {
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    } else if (flag == 0) {
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
        for (DWORD stage = 0; stage < 8; stage++)
            dev->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
    }
}
