// The Direct3D object: adapters and display modes, device caps and format checks, all answered
// from the current device profile; also the test controls of marlix_d3d8.h.
#include "d3d8_internal.h"
#include "device.h"

#include <stdlib.h>
#include <string.h>

namespace mxd3d {

Counters g_counters;
std::atomic<int> g_lostEpoch{0};
std::atomic<int> g_lostPolls{0};
static std::atomic<int> g_liveObjects{0};
static std::atomic<int> g_profile{-1};
static std::atomic<int> g_threads{2};

void CountObject(int delta) { g_liveObjects.fetch_add(delta); }

static const char* const kProfileNames[MARLIX_PROFILE_COUNT] = {
    "default", "single-texture", "three-stages", "no-tnl", "no-r5g6b5", "no-windowed", "two-adapters"};

// MARLIX_DEVICE_PROFILE holds a profile name and/or "lost=N", separated by commas.
static void ParseProfileEnv(int* profile, int* lost) {
  *profile = 0;
  *lost = -1;
  const char* env = getenv("MARLIX_DEVICE_PROFILE");
  if (env) {
    char buf[128];
    strncpy(buf, env, sizeof(buf) - 1);
    buf[sizeof(buf) - 1] = 0;
    for (char* tok = strtok(buf, ", "); tok; tok = strtok(nullptr, ", ")) {
      if (strncmp(tok, "lost=", 5) == 0) {
        *lost = atoi(tok + 5);
      } else {
        int p = MarlixD3D8ProfileFromName(tok);
        if (p >= 0) *profile = p;
      }
    }
  }
  const char* lostEnv = getenv("MARLIX_DEVICE_LOST");
  if (lostEnv && *lostEnv) *lost = atoi(lostEnv);
}

// The loss asked for by the environment applies to the first device of the process only.
int TakeEnvironmentLoss() {
  static std::atomic<bool> taken{false};
  if (taken.exchange(true)) return -1;
  int profile, lost;
  ParseProfileEnv(&profile, &lost);
  return lost;
}

int CurrentProfile() {
  int p = g_profile.load();
  if (p < 0) {
    int lost;
    ParseProfileEnv(&p, &lost);
    int expected = -1;
    g_profile.compare_exchange_strong(expected, p);
    p = g_profile.load();
  }
  return p;
}

UINT AdapterCount(int profile) { return profile == MARLIX_PROFILE_TWO_ADAPTERS ? 2 : 1; }

bool DisplayFormatOK(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5;
}

bool RenderTargetFormatOK(D3DFORMAT f) {
  return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 ||
         f == D3DFMT_A1R5G5B5;
}

bool DepthFormatOK(D3DFORMAT f) {
  const FormatInfo* fi = FindFormat(f);
  return fi && fi->kind == FK_DEPTH;
}

bool TextureFormatOK(int profile, D3DFORMAT f) {
  const FormatInfo* fi = FindFormat(f);
  if (!fi) return false;
  if (fi->kind == FK_DEPTH || fi->kind == FK_INDEX) return false;
  if (f == D3DFMT_R5G6B5 && profile == MARLIX_PROFILE_NO_R5G6B5) return false;
  if (fi->kind == FK_BUMP && profile == MARLIX_PROFILE_SINGLE_TEXTURE) return false;
  if (f == D3DFMT_Q8W8V8U8 || f == D3DFMT_V16U16) return profile != MARLIX_PROFILE_SINGLE_TEXTURE;
  return true;
}

void FillCaps(int profile, UINT adapter, D3DCAPS8* c) {
  memset(c, 0, sizeof(*c));
  c->DeviceType = D3DDEVTYPE_HAL;
  c->AdapterOrdinal = adapter;
  c->Caps2 = D3DCAPS2_FULLSCREENGAMMA | D3DCAPS2_DYNAMICTEXTURES;
  if (profile != MARLIX_PROFILE_NO_WINDOWED) c->Caps2 |= D3DCAPS2_CANRENDERWINDOWED;
  c->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
  c->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
               D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
               D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_TEXTURENONLOCALVIDMEM | D3DDEVCAPS_DRAWPRIMITIVES2 |
               D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWRASTERIZATION;
  if (profile != MARLIX_PROFILE_NO_TNL) c->DevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  c->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                         D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_CLIPTLVERTS | D3DPMISCCAPS_TSSARGTEMP |
                         D3DPMISCCAPS_BLENDOP;
  c->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE |
                  D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_WFOG | D3DPRASTERCAPS_ZFOG;
  c->ZCmpCaps = c->AlphaCmpCaps = 0xff;
  c->SrcBlendCaps = c->DestBlendCaps = 0x1fff;
  c->ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND |
                 D3DPSHADECAPS_FOGGOURAUD;
  c->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL |
                   D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_ALPHAPALETTE | D3DPTEXTURECAPS_PROJECTED |
                   D3DPTEXTURECAPS_MIPMAP;
  c->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                         D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                          D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
  c->LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP | D3DLINECAPS_FOG;
  c->MaxTextureWidth = c->MaxTextureHeight = 2048;
  c->MaxTextureRepeat = 8192;
  c->MaxTextureAspectRatio = 2048;
  c->MaxAnisotropy = 1;
  c->MaxVertexW = 1e10f;
  c->GuardBandLeft = c->GuardBandTop = -8192.0f;
  c->GuardBandRight = c->GuardBandBottom = 8192.0f;
  c->StencilCaps = 0xff;
  c->FVFCaps = 8;
  c->TextureOpCaps = 0x3ffffff;  // every operation up to LERP
  c->MaxTextureBlendStages = 8;
  c->MaxSimultaneousTextures = 4;
  c->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                            D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
  c->MaxActiveLights = 8;
  c->MaxVertexBlendMatrices = 1;
  c->MaxPointSize = 64.0f;
  c->MaxPrimitiveCount = 0xfffff;
  c->MaxVertexIndex = 0xfffff;
  c->MaxStreams = 16;
  c->VertexShaderVersion = D3DVS_VERSION(1, 1);
  c->MaxVertexShaderConst = 96;
  c->MaxStreamStride = 255;
  c->PixelShaderVersion = D3DPS_VERSION(1, 4);
  c->MaxPixelShaderValue = kPixelShaderRange;
  switch (profile) {
    case MARLIX_PROFILE_SINGLE_TEXTURE:
      c->MaxTextureBlendStages = 2;
      c->MaxSimultaneousTextures = 1;
      c->TextureOpCaps &= ~(DWORD)(D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE |
                                   D3DTEXOPCAPS_DOTPRODUCT3 | D3DTEXOPCAPS_MULTIPLYADD | D3DTEXOPCAPS_LERP |
                                   D3DTEXOPCAPS_PREMODULATE);
      c->PrimitiveMiscCaps &= ~(DWORD)D3DPMISCCAPS_TSSARGTEMP;
      c->PixelShaderVersion = 0;
      break;
    case MARLIX_PROFILE_THREE_STAGES:
      c->MaxTextureBlendStages = 3;
      c->MaxSimultaneousTextures = 2;
      c->PixelShaderVersion = 0;
      break;
    case MARLIX_PROFILE_NO_TNL:
      c->MaxActiveLights = 0;
      c->VertexProcessingCaps = 0;
      // Shaders still run, in software vertex processing, as on such cards.
      c->VertexShaderVersion = 0;
      c->MaxVertexShaderConst = 0;
      break;
    default: break;
  }
}

// ---- display modes --------------------------------------------------------------------------
struct ModeSize {
  UINT w, h;
};
static const ModeSize kSizes[] = {{320, 240},  {400, 300},  {512, 384},   {640, 400},   {640, 480},  {800, 600},
                                  {1024, 768}, {1152, 864}, {1280, 960},  {1280, 1024}, {1600, 1200}};
static const UINT kRates[] = {60, 75, 85};
static const D3DFORMAT kModeFormats[] = {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8};
static const UINT kModeCount = (UINT)(sizeof(kSizes) / sizeof(kSizes[0]) * 3 * 2);

static void ModeAt(UINT i, D3DDISPLAYMODE* m) {
  // Grouped by format, then size, then refresh rate, as adapters usually list them.
  UINT rate = i % 3, size = (i / 3) % (sizeof(kSizes) / sizeof(kSizes[0])), fmt = i / (3 * (sizeof(kSizes) / sizeof(kSizes[0])));
  m->Width = kSizes[size].w;
  m->Height = kSizes[size].h;
  m->RefreshRate = kRates[rate];
  m->Format = kModeFormats[fmt];
}

static void DesktopMode(UINT adapter, D3DDISPLAYMODE* m) {
  m->Width = adapter == 0 ? 1600 : 1280;
  m->Height = adapter == 0 ? 1200 : 1024;
  m->RefreshRate = 60;
  m->Format = D3DFMT_X8R8G8B8;
}

bool ModeExists(UINT w, UINT h, D3DFORMAT f) {
  for (UINT i = 0; i < kModeCount; ++i) {
    D3DDISPLAYMODE m;
    ModeAt(i, &m);
    if (m.Width == w && m.Height == h && m.Format == f) return true;
  }
  return false;
}

void AdapterDesktopMode(UINT adapter, D3DDISPLAYMODE* m) { DesktopMode(adapter, m); }

// ---- IDirect3D8 -----------------------------------------------------------------------------
struct Direct3D final : public IDirect3D8 {
  std::atomic<int> refs{1};
  Direct3D() { CountObject(1); }
  ~Direct3D() { CountObject(-1); }

  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3D8) {
      AddRef();
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return (ULONG)++refs; }
  ULONG WINAPI Release() override {
    int n = --refs;
    if (n == 0) delete this;
    return (ULONG)(n < 0 ? 0 : n);
  }
  HRESULT WINAPI RegisterSoftwareDevice(void*) override { return D3DERR_INVALIDCALL; }
  UINT WINAPI GetAdapterCount() override { return AdapterCount(CurrentProfile()); }
  bool BadAdapter(UINT a) { return a >= AdapterCount(CurrentProfile()); }
  HRESULT WINAPI GetAdapterIdentifier(UINT a, DWORD, D3DADAPTER_IDENTIFIER8* id) override {
    if (BadAdapter(a) || !id) return D3DERR_INVALIDCALL;
    memset(id, 0, sizeof(*id));
    strcpy(id->Driver, "marlixd3d8.dll");
    strcpy(id->Description, a == 0 ? "Marlix software Direct3D 8 device" : "Marlix software Direct3D 8 device (secondary)");
    id->DriverVersion.QuadPart = 0x0004000800010001LL;
    id->VendorId = 0x4d58;
    id->DeviceId = 0x0800 + a;
    id->Revision = 1;
    id->DeviceIdentifier.Data1 = 0x4d584433u + a;
    id->WHQLLevel = 1;
    return D3D_OK;
  }
  UINT WINAPI GetAdapterModeCount(UINT a) override { return BadAdapter(a) ? 0 : kModeCount; }
  HRESULT WINAPI EnumAdapterModes(UINT a, UINT mode, D3DDISPLAYMODE* m) override {
    if (BadAdapter(a) || !m || mode >= kModeCount) return D3DERR_INVALIDCALL;
    ModeAt(mode, m);
    return D3D_OK;
  }
  HRESULT WINAPI GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* m) override {
    if (BadAdapter(a) || !m) return D3DERR_INVALIDCALL;
    DesktopMode(a, m);
    return D3D_OK;
  }
  static bool BadType(D3DDEVTYPE t) { return t != D3DDEVTYPE_HAL && t != D3DDEVTYPE_REF; }
  HRESULT WINAPI CheckDeviceType(UINT a, D3DDEVTYPE t, D3DFORMAT display, D3DFORMAT back, BOOL windowed) override {
    if (BadAdapter(a) || BadType(t)) return D3DERR_INVALIDCALL;
    if (!DisplayFormatOK(display)) return D3DERR_NOTAVAILABLE;
    bool match = back == display || (display == D3DFMT_X8R8G8B8 && back == D3DFMT_A8R8G8B8) ||
                 (display == D3DFMT_X1R5G5B5 && back == D3DFMT_A1R5G5B5);
    if (!match) return D3DERR_NOTAVAILABLE;
    if (windowed && CurrentProfile() == MARLIX_PROFILE_NO_WINDOWED) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  HRESULT WINAPI CheckDeviceFormat(UINT a, D3DDEVTYPE t, D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE rtype,
                                   D3DFORMAT f) override {
    if (BadAdapter(a) || BadType(t)) return D3DERR_INVALIDCALL;
    if (!DisplayFormatOK(adapterFormat)) return D3DERR_INVALIDCALL;
    int profile = CurrentProfile();
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
      return (rtype == D3DRTYPE_SURFACE && DepthFormatOK(f)) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_RENDERTARGET) {
      if (rtype != D3DRTYPE_SURFACE && rtype != D3DRTYPE_TEXTURE) return D3DERR_NOTAVAILABLE;
      if (!RenderTargetFormatOK(f)) return D3DERR_NOTAVAILABLE;
      if (rtype == D3DRTYPE_TEXTURE && !TextureFormatOK(profile, f)) return D3DERR_NOTAVAILABLE;
      return D3D_OK;
    }
    switch (rtype) {
      case D3DRTYPE_TEXTURE: return TextureFormatOK(profile, f) ? D3D_OK : D3DERR_NOTAVAILABLE;
      case D3DRTYPE_SURFACE: {
        const FormatInfo* fi = FindFormat(f);
        return (fi && fi->kind != FK_INDEX && fi->kind != FK_DEPTH) ? D3D_OK : D3DERR_NOTAVAILABLE;
      }
      case D3DRTYPE_VERTEXBUFFER: return f == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
      case D3DRTYPE_INDEXBUFFER: return (f == D3DFMT_INDEX16 || f == D3DFMT_INDEX32) ? D3D_OK : D3DERR_NOTAVAILABLE;
      default: return D3DERR_NOTAVAILABLE;
    }
  }
  HRESULT WINAPI CheckDeviceMultiSampleType(UINT a, D3DDEVTYPE t, D3DFORMAT, BOOL,
                                            D3DMULTISAMPLE_TYPE ms) override {
    if (BadAdapter(a) || BadType(t)) return D3DERR_INVALIDCALL;
    return ms == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
  }
  HRESULT WINAPI CheckDepthStencilMatch(UINT a, D3DDEVTYPE t, D3DFORMAT adapterFormat, D3DFORMAT rt,
                                        D3DFORMAT ds) override {
    if (BadAdapter(a) || BadType(t)) return D3DERR_INVALIDCALL;
    if (!DisplayFormatOK(adapterFormat)) return D3DERR_INVALIDCALL;
    if (!RenderTargetFormatOK(rt) || !DepthFormatOK(ds)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  HRESULT WINAPI GetDeviceCaps(UINT a, D3DDEVTYPE t, D3DCAPS8* caps) override {
    if (BadAdapter(a) || BadType(t) || !caps) return D3DERR_INVALIDCALL;
    FillCaps(CurrentProfile(), a, caps);
    caps->DeviceType = t;
    return D3D_OK;
  }
  HMONITOR WINAPI GetAdapterMonitor(UINT a) override {
    if (BadAdapter(a)) return nullptr;
    return (HMONITOR)(uintptr_t)(0x1000 + a);
  }
  HRESULT WINAPI CreateDevice(UINT a, D3DDEVTYPE t, HWND focus, DWORD flags, D3DPRESENT_PARAMETERS* pp,
                              IDirect3DDevice8** out) override {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (BadAdapter(a) || BadType(t) || !pp) return D3DERR_INVALIDCALL;
    DWORD vp = flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                        D3DCREATE_MIXED_VERTEXPROCESSING);
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        vp != D3DCREATE_MIXED_VERTEXPROCESSING)
      return D3DERR_INVALIDCALL;
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && CurrentProfile() == MARLIX_PROFILE_NO_TNL)
      return D3DERR_INVALIDCALL;
    if (pp->Windowed && CurrentProfile() == MARLIX_PROFILE_NO_WINDOWED) return D3DERR_NOTAVAILABLE;
    Device* d = new Device();
    d->d3d = this;
    AddRef();
    d->creation.AdapterOrdinal = a;
    d->creation.DeviceType = t;
    d->creation.hFocusWindow = focus;
    d->creation.BehaviorFlags = flags;
    d->softwareOnly = vp == D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    HRESULT hr = d->SetupPresentation(pp);
    if (FAILED(hr)) {
      d->Release();
      return hr;
    }
    RasterSetThreads(d->raster, g_threads.load());
    *out = d;
    return D3D_OK;
  }
};

}  // namespace mxd3d

using namespace mxd3d;

extern "C" IDirect3D8* WINAPI Direct3DCreate8(UINT sdkVersion) {
  // Both DirectX 8.0 and 8.1 headers are accepted.
  if (sdkVersion != 120 && sdkVersion != 220) return nullptr;
  CurrentProfile();
  return new Direct3D();
}

extern "C" {

void MarlixD3D8SetProfile(int profile) {
  if (profile < 0 || profile >= MARLIX_PROFILE_COUNT) profile = 0;
  g_profile.store(profile);
}

int MarlixD3D8GetProfile(void) { return CurrentProfile(); }

int MarlixD3D8ProfileFromName(const char* name) {
  if (!name) return -1;
  for (int i = 0; i < MARLIX_PROFILE_COUNT; ++i)
    if (strcmp(name, kProfileNames[i]) == 0) return i;
  return -1;
}

const char* MarlixD3D8ProfileName(int profile) {
  return (profile >= 0 && profile < MARLIX_PROFILE_COUNT) ? kProfileNames[profile] : "";
}

void MarlixD3D8LoseDevice(int polls) {
  g_lostPolls.store(polls < 0 ? 0 : polls);
  g_lostEpoch.fetch_add(1);
}

void MarlixD3D8SetThreads(int threads) { g_threads.store(threads < 1 ? 1 : (threads > 2 ? 2 : threads)); }
int MarlixD3D8GetThreads(void) { return g_threads.load(); }

void MarlixD3D8GetCounters(MarlixD3D8Counters* o) {
  if (!o) return;
  o->drawCalls = g_counters.drawCalls;
  o->primitives = g_counters.primitives;
  o->verticesLit = g_counters.verticesLit;
  o->verticesIn = g_counters.verticesIn;
  o->trianglesDrawn = g_counters.trianglesDrawn;
  o->pixelsShaded = g_counters.pixelsShaded;
  o->clears = g_counters.clears;
  o->presents = g_counters.presents;
  o->resets = g_counters.resets;
}

void MarlixD3D8ResetCounters(void) {
  g_counters.drawCalls = 0;
  g_counters.primitives = 0;
  g_counters.verticesLit = 0;
  g_counters.verticesIn = 0;
  g_counters.trianglesDrawn = 0;
  g_counters.pixelsShaded = 0;
  g_counters.clears = 0;
  g_counters.presents = 0;
  g_counters.resets = 0;
}

int MarlixD3D8LiveObjects(void) { return g_liveObjects.load(); }

}  // extern "C"
