// The device: presentation (windowed and full screen), Reset and device loss, render and stage
// states, transforms, lights, state blocks, clears and copies, and ValidateDevice.
#include "device.h"
#include "vshader.h"

#include "../display/display.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace mxd3d {

static DWORD D(float f) {
  DWORD v;
  memcpy(&v, &f, 4);
  return v;
}

static void Identity(D3DMATRIX& m) {
  memset(&m, 0, sizeof(m));
  m._11 = m._22 = m._33 = m._44 = 1.0f;
}

Device::Device() {
  CountObject(1);
  raster = RasterCreate();
  memset(st.rs, 0, sizeof(st.rs));
  memset(st.tss, 0, sizeof(st.tss));
  memset(st.pixelConst, 0, sizeof(st.pixelConst));
  for (auto*& t : st.textures) t = nullptr;
  for (auto*& b : st.stream) b = nullptr;
  st.indices = nullptr;
  for (int i = 0; i < 256; ++i) gamma.red[i] = gamma.green[i] = gamma.blue[i] = (WORD)(i * 257);
  lossAfterPresents = TakeEnvironmentLoss();
  lostEpochSeen = g_lostEpoch.load();
}

Device::~Device() {
  RasterFlush(raster);
  // Blocks hold references on what they keep, so none is left holding anything by now.
  for (StateBlock* b : stateBlocks) delete b;
  ReleasePresentation();
  RasterDestroy(raster);
  DeleteVertexScratch(vs);
  for (VertexShader* s : vshaders) VsDestroy(s);
  if (d3d) d3d->Release();
  CountObject(-1);
}

void Device::Flush() {
  RasterFlush(raster);
  retiredShaders.clear();  // no queued state names them any more
}

// Implicit surfaces die with the device unless the application still holds them.
static void DropImplicit(Surface*& s) {
  if (!s) return;
  if (s->refs.load() > 0) {
    s->detached = true;  // freed by its last Release
  } else {
    delete s;
  }
  s = nullptr;
}

void Device::ReleasePresentation() {
  Flush();
  renderTarget = nullptr;
  depthStencil = nullptr;
  DropImplicit(backBuffer);
  DropImplicit(frontBuffer);
  DropImplicit(autoDepth);
}

static Surface* MakeImplicit(Device* d, D3DFORMAT f, UINT w, UINT h, DWORD usage, bool lockable) {
  Surface* s = new Surface();
  s->refs = 0;
  s->implicit = true;
  s->device = d;
  s->usage = usage;
  s->pool = D3DPOOL_DEFAULT;
  s->lockable = lockable;
  if (!s->Allocate(f, w, h)) {
    delete s;
    return nullptr;
  }
  return s;
}

HRESULT Device::SetupPresentation(D3DPRESENT_PARAMETERS* pp) {
  D3DPRESENT_PARAMETERS p = *pp;
  HWND window = p.hDeviceWindow ? p.hDeviceWindow : creation.hFocusWindow;
  if (p.MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
  if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY_VSYNC) return D3DERR_INVALIDCALL;
  if (p.BackBufferCount > 3) return D3DERR_INVALIDCALL;
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  if ((p.SwapEffect == D3DSWAPEFFECT_COPY || p.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC) && p.BackBufferCount != 1)
    return D3DERR_INVALIDCALL;
  D3DDISPLAYMODE desktop;
  AdapterDesktopMode(creation.AdapterOrdinal, &desktop);
  if (p.Windowed) {
    if (CurrentProfile() == MARLIX_PROFILE_NO_WINDOWED) return D3DERR_NOTAVAILABLE;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
      RECT rc = {0, 0, 0, 0};
      if (window) GetClientRect(window, &rc);
      if (p.BackBufferWidth == 0) p.BackBufferWidth = rc.right > 0 ? (UINT)rc.right : 1;
      if (p.BackBufferHeight == 0) p.BackBufferHeight = rc.bottom > 0 ? (UINT)rc.bottom : 1;
    }
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = desktop.Format;
    if (p.BackBufferFormat != desktop.Format && p.BackBufferFormat != D3DFMT_A8R8G8B8) return D3DERR_INVALIDCALL;
  } else {
    if (!window) return D3DERR_INVALIDCALL;
    if (!ModeExists(p.BackBufferWidth, p.BackBufferHeight, p.BackBufferFormat)) return D3DERR_INVALIDCALL;
  }
  if (p.BackBufferWidth > 4096 || p.BackBufferHeight > 4096) return D3DERR_INVALIDCALL;
  if (p.EnableAutoDepthStencil && !DepthFormatOK(p.AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;

  backBuffer = MakeImplicit(this, p.BackBufferFormat, p.BackBufferWidth, p.BackBufferHeight, D3DUSAGE_RENDERTARGET,
                            (p.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0);
  if (!backBuffer) return D3DERR_OUTOFVIDEOMEMORY;
  if (!p.Windowed && p.SwapEffect == D3DSWAPEFFECT_FLIP) {
    frontBuffer = MakeImplicit(this, p.BackBufferFormat, p.BackBufferWidth, p.BackBufferHeight, D3DUSAGE_RENDERTARGET,
                               false);
    if (!frontBuffer) return D3DERR_OUTOFVIDEOMEMORY;
  }
  if (p.EnableAutoDepthStencil) {
    autoDepth = MakeImplicit(this, p.AutoDepthStencilFormat, p.BackBufferWidth, p.BackBufferHeight,
                             D3DUSAGE_DEPTHSTENCIL, p.AutoDepthStencilFormat == D3DFMT_D16_LOCKABLE);
    if (!autoDepth) return D3DERR_OUTOFVIDEOMEMORY;
  }
  renderTarget = backBuffer;
  depthStencil = autoDepth;
  present = p;
  *pp = p;
  ResetState();
  FillFreshDepth();
  return D3D_OK;
}

// A fresh depth buffer reads as far (stencil zero), also when it is made during a Reset that
// finds the device still marked lost, where Clear would draw nothing.
void Device::FillFreshDepth() {
  if (!autoDepth || !renderTarget) return;
  PixelState ps;
  memset(&ps, 0, sizeof(ps));
  ps.color = renderTarget->bits;
  ps.colorPitch = renderTarget->pitch;
  ps.colorFormat = renderTarget->format;
  ps.depth = autoDepth->bits;
  ps.depthPitch = autoDepth->pitch;
  ps.depthFormat = autoDepth->format;
  DWORD flags = D3DCLEAR_ZBUFFER;
  if (FindFormat(autoDepth->format)->stencilBits) flags |= D3DCLEAR_STENCIL;
  RECT r = {0, 0, (LONG)autoDepth->width, (LONG)autoDepth->height};
  RasterClear(raster, ps, &r, 1, flags, 0, 1.0f, 0);
}

void Device::ResetState() {
  ++stateSerial;
  for (int i = 0; i < MAX_STAGES; ++i) {
    if (st.textures[i]) st.textures[i]->Release();
    st.textures[i] = nullptr;
  }
  for (int i = 0; i < VS_STREAMS; ++i) {
    if (st.stream[i]) st.stream[i]->Release();
    st.stream[i] = nullptr;
    st.streamStride[i] = 0;
  }
  if (st.indices) st.indices->Release();
  st.indices = nullptr;
  st.baseVertex = 0;
  memset(st.rs, 0, sizeof(st.rs));
  DWORD* rs = st.rs;
  rs[D3DRS_ZENABLE] = present.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
  rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = TRUE;
  rs[D3DRS_LASTPIXEL] = TRUE;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_FOGEND] = D(1.0f);
  rs[D3DRS_FOGDENSITY] = D(1.0f);
  rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xffffffffu;
  rs[D3DRS_TEXTUREFACTOR] = 0xffffffffu;
  rs[D3DRS_CLIPPING] = TRUE;
  rs[D3DRS_LIGHTING] = TRUE;
  rs[D3DRS_COLORVERTEX] = TRUE;
  rs[D3DRS_LOCALVIEWER] = TRUE;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_SOFTWAREVERTEXPROCESSING] = softwareOnly ? TRUE : FALSE;
  rs[D3DRS_POINTSIZE] = D(1.0f);
  rs[D3DRS_POINTSIZE_MIN] = D(0.0f);
  rs[D3DRS_POINTSCALE_A] = D(1.0f);
  rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
  rs[D3DRS_MULTISAMPLEMASK] = 0xffffffffu;
  rs[D3DRS_PATCHSEGMENTS] = D(1.0f);
  rs[D3DRS_POINTSIZE_MAX] = D(64.0f);
  rs[D3DRS_COLORWRITEENABLE] = 0xf;
  rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  rs[D3DRS_POSITIONORDER] = D3DORDER_CUBIC;
  rs[D3DRS_NORMALORDER] = D3DORDER_LINEAR;
  memset(st.tss, 0, sizeof(st.tss));
  for (int i = 0; i < MAX_STAGES; ++i) {
    DWORD* t = st.tss[i];
    t[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = (DWORD)i;
    t[D3DTSS_ADDRESSU] = t[D3DTSS_ADDRESSV] = t[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
    t[D3DTSS_MAGFILTER] = t[D3DTSS_MINFILTER] = D3DTEXF_POINT;
    t[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
    t[D3DTSS_MAXANISOTROPY] = 1;
    t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    Identity(st.tex[i]);
  }
  Identity(st.world);
  Identity(st.view);
  Identity(st.proj);
  memset(&st.material, 0, sizeof(st.material));
  st.lights.clear();
  memset(st.clipPlanes, 0, sizeof(st.clipPlanes));
  st.vertexShader = 0;
  memset(st.vsConst, 0, sizeof(st.vsConst));
  st.pixelShader = 0;
  memset(st.pixelConst, 0, sizeof(st.pixelConst));
  st.palette = 0;
  st.viewport.X = st.viewport.Y = 0;
  st.viewport.Width = renderTarget ? renderTarget->width : 0;
  st.viewport.Height = renderTarget ? renderTarget->height : 0;
  st.viewport.MinZ = 0.0f;
  st.viewport.MaxZ = 1.0f;
}

void Device::CheckLoss() {
  int epoch = g_lostEpoch.load();
  if (epoch != lostEpochSeen) {
    lostEpochSeen = epoch;
    lostState = 1;
    lostPollsLeft = g_lostPolls.load();
  }
}

// ---- IUnknown -------------------------------------------------------------------------------
HRESULT WINAPI Device::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDirect3DDevice8) {
    AddRef();
    *out = static_cast<IDirect3DDevice8*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG WINAPI Device::AddRef() { return (ULONG)++refs; }

ULONG WINAPI Device::Release() {
  int n = --refs;
  if (n == 0) delete this;
  return (ULONG)(n < 0 ? 0 : n);
}

// ---- device-wide queries --------------------------------------------------------------------
HRESULT WINAPI Device::TestCooperativeLevel() {
  CheckLoss();
  if (lostState == 1) {
    if (lostPollsLeft > 0) {
      --lostPollsLeft;
      return D3DERR_DEVICELOST;
    }
    lostState = 2;
  }
  return lostState == 2 ? D3DERR_DEVICENOTRESET : D3D_OK;
}

UINT WINAPI Device::GetAvailableTextureMem() { return 64u << 20; }
HRESULT WINAPI Device::ResourceManagerDiscardBytes(DWORD) { return D3D_OK; }

HRESULT WINAPI Device::GetDirect3D(IDirect3D8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  d3d->AddRef();
  *out = d3d;
  return D3D_OK;
}

HRESULT WINAPI Device::GetDeviceCaps(D3DCAPS8* caps) {
  if (!caps) return D3DERR_INVALIDCALL;
  FillCaps(CurrentProfile(), creation.AdapterOrdinal, caps);
  caps->DeviceType = creation.DeviceType;
  return D3D_OK;
}

HRESULT WINAPI Device::GetDisplayMode(D3DDISPLAYMODE* m) {
  if (!m) return D3DERR_INVALIDCALL;
  if (present.Windowed) {
    AdapterDesktopMode(creation.AdapterOrdinal, m);
  } else {
    m->Width = present.BackBufferWidth;
    m->Height = present.BackBufferHeight;
    m->RefreshRate = present.FullScreen_RefreshRateInHz ? present.FullScreen_RefreshRateInHz : 60;
    m->Format = present.BackBufferFormat;
  }
  return D3D_OK;
}

HRESULT WINAPI Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) {
  if (!p) return D3DERR_INVALIDCALL;
  *p = creation;
  return D3D_OK;
}

HRESULT WINAPI Device::SetCursorProperties(UINT, UINT, IDirect3DSurface8* s) {
  return s ? D3D_OK : D3DERR_INVALIDCALL;
}
void WINAPI Device::SetCursorPosition(UINT, UINT, DWORD) {}
BOOL WINAPI Device::ShowCursor(BOOL) { return FALSE; }

HRESULT WINAPI Device::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain8** out) {
  if (out) *out = nullptr;
  return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI Device::Reset(D3DPRESENT_PARAMETERS* pp) {
  ++stateSerial;
  if (!pp) return D3DERR_INVALIDCALL;
  CheckLoss();
  if (lostState == 1) return D3DERR_DEVICELOST;
  // Resources in the default pool must be released first, as on real cards.
  if (defaultPoolResources > 0) return D3DERR_INVALIDCALL;
  D3DPRESENT_PARAMETERS p = *pp;
  if (!p.Windowed && !ModeExists(p.BackBufferWidth, p.BackBufferHeight, p.BackBufferFormat)) return D3DERR_INVALIDCALL;
  ReleasePresentation();
  HRESULT hr = SetupPresentation(&p);
  if (FAILED(hr)) {
    // Keep a usable device: fall back to the previous parameters.
    D3DPRESENT_PARAMETERS old = present;
    ReleasePresentation();
    if (FAILED(SetupPresentation(&old))) lostState = 2;
    return hr;
  }
  *pp = p;
  lostState = 0;
  g_counters.resets++;
  return D3D_OK;
}

// Scales src (x8r8g8b8 or converted) into the destination rectangle of a client-sized frame.
HRESULT WINAPI Device::Present(const RECT* srcRect, const RECT* dstRect, HWND overrideWindow, const RGNDATA*) {
  if (IsLost()) return D3DERR_DEVICELOST;
  if (inScene) return D3DERR_INVALIDCALL;
  Flush();
  Surface* bb = backBuffer;
  if (!bb) return D3DERR_INVALIDCALL;
  HWND window = overrideWindow ? overrideWindow : (present.hDeviceWindow ? present.hDeviceWindow : creation.hFocusWindow);
  RECT src = {0, 0, (LONG)bb->width, (LONG)bb->height};
  if (present.Windowed && srcRect) src = *srcRect;
  if (src.left < 0) src.left = 0;
  if (src.top < 0) src.top = 0;
  if (src.right > (LONG)bb->width) src.right = (LONG)bb->width;
  if (src.bottom > (LONG)bb->height) src.bottom = (LONG)bb->height;
  int cw = (int)bb->width, ch = (int)bb->height;
  RECT client = {0, 0, 0, 0};
  if (window && GetClientRect(window, &client) && client.right > 0 && client.bottom > 0) {
    cw = client.right;
    ch = client.bottom;
  }
  RECT dst = {0, 0, cw, ch};
  if (present.Windowed && dstRect) dst = *dstRect;
  if (src.right > src.left && src.bottom > src.top && dst.right > dst.left && dst.bottom > dst.top && window) {
    bool direct = (bb->format == D3DFMT_X8R8G8B8 || bb->format == D3DFMT_A8R8G8B8) && src.left == 0 && src.top == 0 &&
                  src.right == (LONG)bb->width && src.bottom == (LONG)bb->height && dst.left == 0 && dst.top == 0 &&
                  dst.right == cw && dst.bottom == ch && cw == (int)bb->width && ch == (int)bb->height;
    if (direct) {
      MarlixDisplayPresent(window, (const uint32_t*)bb->bits, cw, ch, bb->pitch);
    } else {
      presentScratch.resize((size_t)cw * ch);
      int sw = src.right - src.left, sh = src.bottom - src.top;
      int dw = dst.right - dst.left, dh = dst.bottom - dst.top;
      const FormatInfo* fi = FindFormat(bb->format);
      for (int y = 0; y < ch; ++y) {
        uint32_t* row = presentScratch.data() + (size_t)y * cw;
        if (y < dst.top || y >= dst.bottom) continue;
        int sy = src.top + (int)(((int64_t)(y - dst.top) * sh) / dh);
        const uint8_t* srow = bb->bits + (size_t)sy * bb->pitch;
        for (int x = dst.left < 0 ? 0 : dst.left; x < dst.right && x < cw; ++x) {
          int sx = src.left + (int)(((int64_t)(x - dst.left) * sw) / dw);
          row[x] = ReadArgb(bb->format, srow + (size_t)sx * fi->bytesPerPixel, nullptr) | 0xff000000u;
        }
      }
      MarlixDisplayPresent(window, presentScratch.data(), cw, ch, cw * 4);
    }
  }
  if (frontBuffer) {
    // Flip: the old front buffer becomes the new back buffer.
    uint8_t* t = frontBuffer->bits;
    frontBuffer->bits = backBuffer->bits;
    backBuffer->bits = t;
    ++stateSerial;  // the kept pixel state points at the old back buffer's memory
    ++backBuffer->version;
    ++frontBuffer->version;
  }
  g_counters.presents++;
  if (lossAfterPresents >= 0) {
    lostState = 1;
    lostPollsLeft = lossAfterPresents;
    lossAfterPresents = -1;
  }
  return D3D_OK;
}

HRESULT WINAPI Device::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (index >= present.BackBufferCount || !backBuffer) return D3DERR_INVALIDCALL;
  backBuffer->AddRef();
  *out = backBuffer;
  return D3D_OK;
}

HRESULT WINAPI Device::GetRasterStatus(D3DRASTER_STATUS* s) {
  if (!s) return D3DERR_INVALIDCALL;
  s->InVBlank = TRUE;
  s->ScanLine = 0;
  return D3D_OK;
}

void WINAPI Device::SetGammaRamp(DWORD, const D3DGAMMARAMP* r) {
  if (r) gamma = *r;
}
void WINAPI Device::GetGammaRamp(D3DGAMMARAMP* r) {
  if (r) *r = gamma;
}

// ---- copies ---------------------------------------------------------------------------------
static Surface* AsSurface(IDirect3DSurface8* s) { return static_cast<Surface*>(s); }

HRESULT WINAPI Device::CopyRects(IDirect3DSurface8* srcI, const RECT* rects, UINT count, IDirect3DSurface8* dstI,
                                 const POINT* points) {
  Surface* src = AsSurface(srcI);
  Surface* dst = AsSurface(dstI);
  if (!src || !dst || src == dst || src->format != dst->format || src->locked || dst->locked) return D3DERR_INVALIDCALL;
  const FormatInfo* fi = FindFormat(src->format);
  if (!fi || fi->kind == FK_DEPTH) return D3DERR_INVALIDCALL;
  Flush();
  RECT whole = {0, 0, (LONG)src->width, (LONG)src->height};
  if (!rects) count = 1;
  for (UINT i = 0; i < count; ++i) {
    RECT r = rects ? rects[i] : whole;
    POINT p = points ? points[i] : POINT{r.left, r.top};
    if (r.left < 0 || r.top < 0 || r.right > (LONG)src->width || r.bottom > (LONG)src->height || r.left >= r.right ||
        r.top >= r.bottom)
      return D3DERR_INVALIDCALL;
    LONG w = r.right - r.left, h = r.bottom - r.top;
    if (p.x < 0 || p.y < 0 || p.x + w > (LONG)dst->width || p.y + h > (LONG)dst->height) return D3DERR_INVALIDCALL;
    if (fi->kind == FK_DXT) {
      if ((r.left | r.top | p.x | p.y) & 3) return D3DERR_INVALIDCALL;
      int bw = (int)((w + 3) / 4), bh = (int)((h + 3) / 4);
      for (int y = 0; y < bh; ++y)
        memcpy(dst->bits + (size_t)(p.y / 4 + y) * dst->pitch + (size_t)(p.x / 4) * fi->blockBytes,
               src->bits + (size_t)(r.top / 4 + y) * src->pitch + (size_t)(r.left / 4) * fi->blockBytes,
               (size_t)bw * fi->blockBytes);
    } else {
      for (LONG y = 0; y < h; ++y)
        memcpy(dst->bits + (size_t)(p.y + y) * dst->pitch + (size_t)p.x * fi->bytesPerPixel,
               src->bits + (size_t)(r.top + y) * src->pitch + (size_t)r.left * fi->bytesPerPixel,
               (size_t)w * fi->bytesPerPixel);
    }
  }
  ++dst->version;
  return D3D_OK;
}

HRESULT WINAPI Device::UpdateTexture(IDirect3DBaseTexture8* srcI, IDirect3DBaseTexture8* dstI) {
  Texture* src = static_cast<Texture*>(srcI);
  Texture* dst = static_cast<Texture*>(dstI);
  if (!src || !dst || src->format != dst->format || src->pool != D3DPOOL_SYSTEMMEM || dst->pool != D3DPOOL_DEFAULT ||
      src->levels.size() < dst->levels.size())
    return D3DERR_INVALIDCALL;
  Flush();
  size_t skip = 0;
  while (skip < src->levels.size() && src->levels[skip]->width > dst->width) ++skip;
  if (skip + dst->levels.size() > src->levels.size()) return D3DERR_INVALIDCALL;
  for (size_t i = 0; i < dst->levels.size(); ++i) {
    Surface* s = src->levels[skip + i];
    Surface* d = dst->levels[i];
    if (s->width != d->width || s->height != d->height) return D3DERR_INVALIDCALL;
    memcpy(d->bits, s->bits, d->bytes);
    ++d->version;
  }
  return D3D_OK;
}

HRESULT WINAPI Device::GetFrontBuffer(IDirect3DSurface8* destI) {
  Surface* dest = AsSurface(destI);
  if (!dest || dest->format != D3DFMT_A8R8G8B8) return D3DERR_INVALIDCALL;
  Flush();
  Surface* shown = frontBuffer ? frontBuffer : backBuffer;
  if (!shown) return D3DERR_INVALIDCALL;
  const FormatInfo* fi = FindFormat(shown->format);
  for (UINT y = 0; y < dest->height && y < shown->height; ++y)
    for (UINT x = 0; x < dest->width && x < shown->width; ++x) {
      uint32_t c = ReadArgb(shown->format, shown->bits + (size_t)y * shown->pitch + x * fi->bytesPerPixel, nullptr);
      memcpy(dest->bits + (size_t)y * dest->pitch + x * 4, &c, 4);
    }
  ++dest->version;
  return D3D_OK;
}

// ---- targets and scenes ---------------------------------------------------------------------
HRESULT WINAPI Device::SetRenderTarget(IDirect3DSurface8* rtI, IDirect3DSurface8* dsI) {
  ++stateSerial;
  Surface* rt = AsSurface(rtI);
  Surface* ds = AsSurface(dsI);
  if (rt && !(rt->usage & D3DUSAGE_RENDERTARGET)) return D3DERR_INVALIDCALL;
  Surface* newRt = rt ? rt : renderTarget;
  if (ds && (!(ds->usage & D3DUSAGE_DEPTHSTENCIL) || ds->width < newRt->width || ds->height < newRt->height))
    return D3DERR_INVALIDCALL;
  Flush();
  // The device only points at its targets (as the runtime keeps them internally); a target
  // released while bound gives way to the back buffer and the automatic depth buffer.
  renderTarget = newRt;
  depthStencil = ds;
  st.viewport.X = st.viewport.Y = 0;
  st.viewport.Width = renderTarget->width;
  st.viewport.Height = renderTarget->height;
  st.viewport.MinZ = 0.0f;
  st.viewport.MaxZ = 1.0f;
  return D3D_OK;
}

HRESULT WINAPI Device::GetRenderTarget(IDirect3DSurface8** out) {
  if (!out || !renderTarget) return D3DERR_INVALIDCALL;
  renderTarget->AddRef();
  *out = renderTarget;
  return D3D_OK;
}

HRESULT WINAPI Device::GetDepthStencilSurface(IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!depthStencil) return D3DERR_NOTFOUND;
  depthStencil->AddRef();
  *out = depthStencil;
  return D3D_OK;
}

HRESULT WINAPI Device::BeginScene() {
  if (inScene) return D3DERR_INVALIDCALL;
  inScene = true;
  return D3D_OK;
}

HRESULT WINAPI Device::EndScene() {
  if (!inScene) return D3DERR_INVALIDCALL;
  inScene = false;
  return D3D_OK;
}

HRESULT WINAPI Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil) return D3DERR_INVALIDCALL;
  if (flags & D3DCLEAR_STENCIL) {
    const FormatInfo* fi = FindFormat(depthStencil->format);
    if (!fi->stencilBits) return D3DERR_INVALIDCALL;
  }
  if (count && !rects) return D3DERR_INVALIDCALL;
  if (flags == 0) return D3D_OK;  // nothing to clear
  if (IsLost()) return D3D_OK;
  PixelState ps;
  memset(&ps, 0, sizeof(ps));
  ps.color = renderTarget->bits;
  ps.colorPitch = renderTarget->pitch;
  ps.colorFormat = renderTarget->format;
  if (depthStencil) {
    ps.depth = depthStencil->bits;
    ps.depthPitch = depthStencil->pitch;
    ps.depthFormat = depthStencil->format;
  }
  // Clears stay inside the viewport and the target (and the depth buffer).
  LONG vx0 = (LONG)st.viewport.X, vy0 = (LONG)st.viewport.Y;
  LONG vx1 = vx0 + (LONG)st.viewport.Width, vy1 = vy0 + (LONG)st.viewport.Height;
  LONG lw = (LONG)renderTarget->width, lh = (LONG)renderTarget->height;
  if (depthStencil && (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
    if ((LONG)depthStencil->width < lw) lw = (LONG)depthStencil->width;
    if ((LONG)depthStencil->height < lh) lh = (LONG)depthStencil->height;
  }
  if (vx1 > lw) vx1 = lw;
  if (vy1 > lh) vy1 = lh;
  std::vector<RECT> list;
  DWORD n = count ? count : 1;
  for (DWORD i = 0; i < n; ++i) {
    RECT r = {vx0, vy0, vx1, vy1};
    if (count) {
      if (rects[i].x1 > r.left) r.left = rects[i].x1;
      if (rects[i].y1 > r.top) r.top = rects[i].y1;
      if (rects[i].x2 < r.right) r.right = rects[i].x2;
      if (rects[i].y2 < r.bottom) r.bottom = rects[i].y2;
    }
    if (r.left < r.right && r.top < r.bottom) list.push_back(r);
  }
  if (z < 0.0f) z = 0.0f;
  if (z > 1.0f) z = 1.0f;
  if (!list.empty()) RasterClear(raster, ps, list.data(), (int)list.size(), flags, color, z, stencil);
  if (!RasterQueued()) Flush();
  if (flags & D3DCLEAR_TARGET) ++renderTarget->version;
  g_counters.clears++;
  return D3D_OK;
}

// ---- transforms, viewport, material, lights -------------------------------------------------
static D3DMATRIX* TransformSlot(State& s, D3DTRANSFORMSTATETYPE t) {
  switch ((int)t) {
    case D3DTS_VIEW: return &s.view;
    case D3DTS_PROJECTION: return &s.proj;
    case 256: return &s.world;
    default:
      if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) return &s.tex[t - D3DTS_TEXTURE0];
      return nullptr;
  }
}

static D3DMATRIX g_scratchWorld[256];

HRESULT WINAPI Device::SetTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX* m) {
  ++stateSerial;
  if (!m) return D3DERR_INVALIDCALL;
  D3DMATRIX* slot = TransformSlot(st, t);
  if (!slot) {
    // Further world matrices exist for vertex blending, which this device does not do.
    if ((int)t > 256 && (int)t < 512) return D3D_OK;
    return D3DERR_INVALIDCALL;
  }
  *slot = *m;
  if (recording) {
    if (slot == &st.world) recordMask.world = true;
    if (slot == &st.view) recordMask.view = true;
    if (slot == &st.proj) recordMask.proj = true;
    for (int i = 0; i < MAX_STAGES; ++i)
      if (slot == &st.tex[i]) recordMask.tex[i] = true;
  }
  return D3D_OK;
}

HRESULT WINAPI Device::GetTransform(D3DTRANSFORMSTATETYPE t, D3DMATRIX* m) {
  if (!m) return D3DERR_INVALIDCALL;
  D3DMATRIX* slot = TransformSlot(st, t);
  if (!slot) {
    if ((int)t > 256 && (int)t < 512) {
      Identity(g_scratchWorld[0]);
      *m = g_scratchWorld[0];
      return D3D_OK;
    }
    return D3DERR_INVALIDCALL;
  }
  *m = *slot;
  return D3D_OK;
}

HRESULT WINAPI Device::MultiplyTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX* m) {
  ++stateSerial;
  if (!m) return D3DERR_INVALIDCALL;
  D3DMATRIX* slot = TransformSlot(st, t);
  if (!slot) return D3DERR_INVALIDCALL;
  // The new matrix is m times the current one: with row vectors m acts first, so a child's
  // transform multiplied onto its parent's keeps working in the child's own space.
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += m->m[i][k] * slot->m[k][j];
      r.m[i][j] = s;
    }
  *slot = r;
  return D3D_OK;
}

HRESULT WINAPI Device::SetViewport(const D3DVIEWPORT8* v) {
  ++stateSerial;
  if (!v || !renderTarget) return D3DERR_INVALIDCALL;
  // Only where it lies is checked: an empty viewport is valid and draws nothing.
  if ((uint64_t)v->X + v->Width > renderTarget->width ||
      (uint64_t)v->Y + v->Height > renderTarget->height || !(v->MinZ >= 0.0f && v->MinZ <= 1.0f) ||
      !(v->MaxZ >= 0.0f && v->MaxZ <= 1.0f))
    return D3DERR_INVALIDCALL;
  st.viewport = *v;
  if (recording) recordMask.viewport = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetViewport(D3DVIEWPORT8* v) {
  if (!v) return D3DERR_INVALIDCALL;
  *v = st.viewport;
  return D3D_OK;
}

HRESULT WINAPI Device::SetMaterial(const D3DMATERIAL8* m) {
  ++stateSerial;
  if (!m) return D3DERR_INVALIDCALL;
  st.material = *m;
  if (recording) recordMask.material = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetMaterial(D3DMATERIAL8* m) {
  if (!m) return D3DERR_INVALIDCALL;
  *m = st.material;
  return D3D_OK;
}

HRESULT WINAPI Device::SetLight(DWORD index, const D3DLIGHT8* l) {
  ++stateSerial;
  if (!l || index >= MAX_LIGHTS) return D3DERR_INVALIDCALL;
  if (l->Type != D3DLIGHT_POINT && l->Type != D3DLIGHT_SPOT && l->Type != D3DLIGHT_DIRECTIONAL)
    return D3DERR_INVALIDCALL;
  if (l->Type != D3DLIGHT_DIRECTIONAL && !(l->Range >= 0.0f)) return D3DERR_INVALIDCALL;
  if (l->Type == D3DLIGHT_SPOT && !(l->Theta >= 0.0f && l->Phi >= l->Theta && l->Phi <= 3.14159275f))
    return D3DERR_INVALIDCALL;
  if (l->Type != D3DLIGHT_POINT &&
      l->Direction.x == 0.0f && l->Direction.y == 0.0f && l->Direction.z == 0.0f)
    return D3DERR_INVALIDCALL;
  if (l->Attenuation0 < 0.0f || l->Attenuation1 < 0.0f || l->Attenuation2 < 0.0f) return D3DERR_INVALIDCALL;
  if (recording) recordMask.lights = true;
  auto it = st.lights.find(index);
  if (it == st.lights.end()) {
    st.lights[index] = LightSlot{*l, false};
  } else {
    it->second.light = *l;
  }
  return D3D_OK;
}

HRESULT WINAPI Device::GetLight(DWORD index, D3DLIGHT8* l) {
  auto it = st.lights.find(index);
  if (!l || it == st.lights.end()) return D3DERR_INVALIDCALL;
  *l = it->second.light;
  return D3D_OK;
}

HRESULT WINAPI Device::LightEnable(DWORD index, BOOL enable) {
  ++stateSerial;
  if (index >= MAX_LIGHTS) return D3DERR_INVALIDCALL;
  if (recording) recordMask.lights = true;
  auto it = st.lights.find(index);
  if (it == st.lights.end()) {
    // Enabling an undefined light defines the default one: white, directional, along +z.
    D3DLIGHT8 l;
    memset(&l, 0, sizeof(l));
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse.r = l.Diffuse.g = l.Diffuse.b = 1.0f;
    l.Direction.z = 1.0f;
    it = st.lights.emplace(index, LightSlot{l, false}).first;
  }
  if (enable && !it->second.enabled && !softwareOnly && !st.rs[D3DRS_SOFTWAREVERTEXPROCESSING]) {
    D3DCAPS8 caps;
    FillCaps(CurrentProfile(), creation.AdapterOrdinal, &caps);
    DWORD on = 0;
    for (auto& kv : st.lights) on += kv.second.enabled ? 1 : 0;
    if (on >= caps.MaxActiveLights) return D3DERR_INVALIDCALL;
  }
  it->second.enabled = enable != 0;
  return D3D_OK;
}

HRESULT WINAPI Device::GetLightEnable(DWORD index, BOOL* enable) {
  auto it = st.lights.find(index);
  if (!enable || it == st.lights.end()) return D3DERR_INVALIDCALL;
  *enable = it->second.enabled ? 128 : 0;  // the runtime answers a non-zero value, not 1
  return D3D_OK;
}

HRESULT WINAPI Device::SetClipPlane(DWORD index, const float* plane) {
  ++stateSerial;
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  memcpy(st.clipPlanes[index], plane, sizeof(float) * 4);
  if (recording) recordMask.clipPlanes = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetClipPlane(DWORD index, float* plane) {
  if (!plane || index >= 6) return D3DERR_INVALIDCALL;
  memcpy(plane, st.clipPlanes[index], sizeof(float) * 4);
  return D3D_OK;
}

// ---- render and stage states ----------------------------------------------------------------
HRESULT WINAPI Device::SetRenderState(D3DRENDERSTATETYPE s, DWORD v) {
  ++stateSerial;
  if ((unsigned)s >= MAX_RS) return D3DERR_INVALIDCALL;
  if (recording) recordMask.rs[s] = true;
  st.rs[s] = v;
  return D3D_OK;
}

HRESULT WINAPI Device::GetRenderState(D3DRENDERSTATETYPE s, DWORD* v) {
  if ((unsigned)s >= MAX_RS || !v) return D3DERR_INVALIDCALL;
  *v = st.rs[s];
  return D3D_OK;
}

HRESULT WINAPI Device::GetTexture(DWORD stage, IDirect3DBaseTexture8** out) {
  if (stage >= MAX_STAGES || !out) return D3DERR_INVALIDCALL;
  *out = st.textures[stage];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT WINAPI Device::SetTexture(DWORD stage, IDirect3DBaseTexture8* t) {
  ++stateSerial;
  if (stage >= MAX_STAGES) return D3DERR_INVALIDCALL;
  if (recording) recordMask.textures[stage] = true;
  if (t == st.textures[stage]) return D3D_OK;
  if (t) t->AddRef();
  if (st.textures[stage]) st.textures[stage]->Release();
  st.textures[stage] = t;
  return D3D_OK;
}

HRESULT WINAPI Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* v) {
  if (stage >= MAX_STAGES || (unsigned)type >= MAX_TSS || !v) return D3DERR_INVALIDCALL;
  *v = st.tss[stage][type];
  return D3D_OK;
}

HRESULT WINAPI Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD v) {
  ++stateSerial;
  if (stage >= MAX_STAGES || (unsigned)type >= MAX_TSS) return D3DERR_INVALIDCALL;
  if (recording) recordMask.tss[stage][type] = true;
  st.tss[stage][type] = v;
  return D3D_OK;
}

// ---- state blocks ---------------------------------------------------------------------------
// A block keeps a copy of the state and a mask of the parts it holds: everything (or the pixel
// or vertex parts) for created blocks, the parts set while recording for recorded ones. Calls
// made while recording go into the block only; the device state is as before afterwards.
static void HoldRefs(State& s) {
  for (auto* t : s.textures)
    if (t) t->AddRef();
  for (auto* b : s.stream)
    if (b) b->AddRef();
  if (s.indices) s.indices->AddRef();
}
static void DropRefs(State& s) {
  for (auto*& t : s.textures) {
    if (t) t->Release();
    t = nullptr;
  }
  for (auto*& b : s.stream) {
    if (b) b->Release();
    b = nullptr;
  }
  if (s.indices) s.indices->Release();
  s.indices = nullptr;
}

static void MaskFor(D3DSTATEBLOCKTYPE type, StateMask& m) {
  memset(&m, 0, sizeof(m));
  bool all = type == D3DSBT_ALL, pixel = type == D3DSBT_PIXELSTATE, vertex = type == D3DSBT_VERTEXSTATE;
  for (bool& b : m.rs) b = true;
  for (auto& st : m.tss)
    for (bool& b : st) b = true;
  for (bool& b : m.textures) b = all;
  m.world = m.view = m.proj = all;
  for (bool& b : m.tex) b = all;
  m.viewport = m.material = m.clipPlanes = m.indices = m.palette = all;
  for (bool& b : m.stream) b = all;
  // Shader constants go with the whole state only; the vertex part keeps the shader handle.
  for (bool& b : m.vsConst) b = all;
  m.lights = m.vertexShader = all || vertex;
  m.pixelShader = all || pixel;
  for (bool& b : m.pixelConst) b = all || pixel;
}

static StateBlock* BlockFor(std::vector<StateBlock*>& blocks, DWORD token) {
  if (token == 0 || token > blocks.size()) return nullptr;
  return blocks[token - 1];
}

static DWORD AddBlock(std::vector<StateBlock*>& blocks, StateBlock* b) {
  blocks.push_back(b);
  return (DWORD)blocks.size();
}

HRESULT WINAPI Device::BeginStateBlock() {
  if (recording) return D3DERR_INVALIDCALL;
  recording = true;
  recordBase = st;
  HoldRefs(recordBase);
  memset(&recordMask, 0, sizeof(recordMask));
  return D3D_OK;
}

HRESULT WINAPI Device::EndStateBlock(DWORD* token) {
  ++stateSerial;
  if (!recording || !token) return D3DERR_INVALIDCALL;
  recording = false;
  StateBlock* b = new StateBlock();
  b->state = st;
  HoldRefs(b->state);
  b->mask = recordMask;
  DropRefs(st);
  st = recordBase;  // its references were taken when recording began
  *token = AddBlock(stateBlocks, b);
  return D3D_OK;
}

HRESULT WINAPI Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD* token) {
  if (!token || type < D3DSBT_ALL || type > D3DSBT_VERTEXSTATE || recording) return D3DERR_INVALIDCALL;
  StateBlock* b = new StateBlock();
  MaskFor(type, b->mask);
  b->state = st;
  HoldRefs(b->state);
  *token = AddBlock(stateBlocks, b);
  return D3D_OK;
}

// Copies the masked parts of `from` into `to`, keeping the references right.
static void CopyMasked(const State& from, State& to, const StateMask& m) {
  for (int i = 0; i < MAX_RS; ++i)
    if (m.rs[i]) to.rs[i] = from.rs[i];
  for (int s = 0; s < MAX_STAGES; ++s) {
    for (int i = 0; i < MAX_TSS; ++i)
      if (m.tss[s][i]) to.tss[s][i] = from.tss[s][i];
    if (m.textures[s] && to.textures[s] != from.textures[s]) {
      if (from.textures[s]) from.textures[s]->AddRef();
      if (to.textures[s]) to.textures[s]->Release();
      to.textures[s] = from.textures[s];
    }
    if (m.tex[s]) to.tex[s] = from.tex[s];
  }
  if (m.world) to.world = from.world;
  if (m.view) to.view = from.view;
  if (m.proj) to.proj = from.proj;
  if (m.viewport) to.viewport = from.viewport;
  if (m.material) to.material = from.material;
  if (m.lights) to.lights = from.lights;
  if (m.clipPlanes) memcpy(to.clipPlanes, from.clipPlanes, sizeof(to.clipPlanes));
  for (int i = 0; i < 16; ++i) {
    if (!m.stream[i]) continue;
    if (from.stream[i] != to.stream[i]) {
      if (from.stream[i]) from.stream[i]->AddRef();
      if (to.stream[i]) to.stream[i]->Release();
      to.stream[i] = from.stream[i];
    }
    to.streamStride[i] = from.streamStride[i];
  }
  for (int i = 0; i < 96; ++i)
    if (m.vsConst[i]) memcpy(to.vsConst[i], from.vsConst[i], 16);
  if (m.indices) {
    if (from.indices != to.indices) {
      if (from.indices) from.indices->AddRef();
      if (to.indices) to.indices->Release();
      to.indices = from.indices;
    }
    to.baseVertex = from.baseVertex;
  }
  if (m.vertexShader) to.vertexShader = from.vertexShader;
  if (m.pixelShader) to.pixelShader = from.pixelShader;
  for (int i = 0; i < PS_CONSTANTS; ++i)
    if (m.pixelConst[i]) memcpy(to.pixelConst[i], from.pixelConst[i], sizeof(to.pixelConst[i]));
  if (m.palette) to.palette = from.palette;
}

HRESULT WINAPI Device::CaptureStateBlock(DWORD token) {
  StateBlock* b = BlockFor(stateBlocks, token);
  if (!b || recording) return D3DERR_INVALIDCALL;
  CopyMasked(st, b->state, b->mask);
  return D3D_OK;
}

HRESULT WINAPI Device::ApplyStateBlock(DWORD token) {
  ++stateSerial;
  StateBlock* b = BlockFor(stateBlocks, token);
  if (!b || recording) return D3DERR_INVALIDCALL;
  CopyMasked(b->state, st, b->mask);
  ++paletteSerial;
  return D3D_OK;
}

HRESULT WINAPI Device::DeleteStateBlock(DWORD token) {
  StateBlock* b = BlockFor(stateBlocks, token);
  if (!b || recording) return D3DERR_INVALIDCALL;
  DropRefs(b->state);
  delete b;
  stateBlocks[token - 1] = nullptr;
  return D3D_OK;
}

HRESULT WINAPI Device::SetClipStatus(const D3DCLIPSTATUS8* s) {
  if (!s) return D3DERR_INVALIDCALL;
  clipStatus = *s;
  return D3D_OK;
}

HRESULT WINAPI Device::GetClipStatus(D3DCLIPSTATUS8* s) {
  if (!s) return D3DERR_INVALIDCALL;
  *s = clipStatus;
  return D3D_OK;
}

HRESULT WINAPI Device::GetInfo(DWORD, void*, DWORD) { return S_FALSE; }

// ---- palettes -------------------------------------------------------------------------------
HRESULT WINAPI Device::SetPaletteEntries(UINT n, const PALETTEENTRY* e) {
  ++stateSerial;
  if (!e || n > 0xffff) return D3DERR_INVALIDCALL;
  palettes[n].assign(e, e + 256);
  ++paletteSerial;
  return D3D_OK;
}

HRESULT WINAPI Device::GetPaletteEntries(UINT n, PALETTEENTRY* e) {
  auto it = palettes.find(n);
  if (!e || it == palettes.end()) return D3DERR_INVALIDCALL;
  memcpy(e, it->second.data(), 256 * sizeof(PALETTEENTRY));
  return D3D_OK;
}

HRESULT WINAPI Device::SetCurrentTexturePalette(UINT n) {
  ++stateSerial;
  // A palette may be made current before its entries are set; until then it is opaque black.
  if (n > 0xffff) return D3DERR_INVALIDCALL;
  if (palettes.find(n) == palettes.end()) {
    PALETTEENTRY black = {0, 0, 0, 255};
    palettes[n].assign(256, black);
  }
  if (st.palette != n) ++paletteSerial;
  st.palette = n;
  if (recording) recordMask.palette = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetCurrentTexturePalette(UINT* n) {
  if (!n) return D3DERR_INVALIDCALL;
  *n = st.palette;
  return D3D_OK;
}

// ---- streams and shaders --------------------------------------------------------------------
HRESULT WINAPI Device::SetStreamSource(UINT n, IDirect3DVertexBuffer8* vb, UINT stride) {
  if (n >= 16) return D3DERR_INVALIDCALL;
  if (vb && stride == 0) return D3DERR_INVALIDCALL;
  VertexBuffer* b = static_cast<VertexBuffer*>(vb);
  if (b != st.stream[n]) {
    if (b) b->AddRef();
    if (st.stream[n]) st.stream[n]->Release();
    st.stream[n] = b;
  }
  st.streamStride[n] = stride;
  if (recording) recordMask.stream[n] = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetStreamSource(UINT n, IDirect3DVertexBuffer8** out, UINT* stride) {
  if (n >= 16 || !out || !stride) return D3DERR_INVALIDCALL;
  *out = st.stream[n];
  *stride = st.streamStride[n];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT WINAPI Device::SetIndices(IDirect3DIndexBuffer8* ib, UINT base) {
  IndexBuffer* b = static_cast<IndexBuffer*>(ib);
  if (b != st.indices) {
    if (b) b->AddRef();
    if (st.indices) st.indices->Release();
    st.indices = b;
  }
  st.baseVertex = base;
  if (recording) recordMask.indices = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetIndices(IDirect3DIndexBuffer8** out, UINT* base) {
  if (!out || !base) return D3DERR_INVALIDCALL;
  *out = st.indices;
  *base = st.baseVertex;
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

// ---- pixel shaders ---------------------------------------------------------------------------
HRESULT WINAPI Device::CreatePixelShader(const DWORD* function, DWORD* shader) {
  if (!shader) return D3DERR_INVALIDCALL;
  *shader = 0;
  std::shared_ptr<PixelProgram> p = CompilePixelShader(function);
  if (!p || nextPixelShader == 0) return D3DERR_INVALIDCALL;
  DWORD handle = nextPixelShader++;  // never reused: a stale handle never names another shader
  pixelShaders[handle] = std::move(p);
  *shader = handle;
  return D3D_OK;
}

const PixelProgram* Device::BoundPixelShader() const {
  auto it = pixelShaders.find(st.pixelShader);
  return it == pixelShaders.end() ? nullptr : it->second.get();
}

HRESULT WINAPI Device::SetPixelShader(DWORD handle) {
  if (handle && !pixelShaders.count(handle)) return D3DERR_INVALIDCALL;
  ++stateSerial;
  st.pixelShader = handle;
  if (recording) recordMask.pixelShader = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetPixelShader(DWORD* h) {
  if (!h) return D3DERR_INVALIDCALL;
  *h = st.pixelShader;
  return D3D_OK;
}

HRESULT WINAPI Device::DeletePixelShader(DWORD handle) {
  auto it = pixelShaders.find(handle);
  if (it == pixelShaders.end()) return D3DERR_INVALIDCALL;
  // Queued draws may still run it: it is freed at the next flush.
  retiredShaders.push_back(std::move(it->second));
  pixelShaders.erase(it);
  if (st.pixelShader == handle) st.pixelShader = 0;
  ++stateSerial;
  return D3D_OK;
}

HRESULT WINAPI Device::SetPixelShaderConstant(DWORD reg, const void* data, DWORD count) {
  if (!data || reg > PS_CONSTANTS || count > PS_CONSTANTS - reg) return D3DERR_INVALIDCALL;
  ++stateSerial;
  memcpy(st.pixelConst[reg], data, (size_t)count * sizeof(st.pixelConst[0]));
  if (recording)
    for (DWORD i = reg; i < reg + count; ++i) recordMask.pixelConst[i] = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetPixelShaderConstant(DWORD reg, void* data, DWORD count) {
  if (!data || reg > PS_CONSTANTS || count > PS_CONSTANTS - reg) return D3DERR_INVALIDCALL;
  memcpy(data, st.pixelConst[reg], (size_t)count * sizeof(st.pixelConst[0]));
  return D3D_OK;
}

HRESULT WINAPI Device::GetPixelShaderFunction(DWORD handle, void* data, DWORD* size) {
  auto it = pixelShaders.find(handle);
  if (it == pixelShaders.end() || !size) return D3DERR_INVALIDCALL;
  const std::vector<DWORD>& t = PixelShaderTokens(*it->second);
  DWORD bytes = (DWORD)(t.size() * sizeof(DWORD));
  if (!data) {
    *size = bytes;
    return D3D_OK;
  }
  if (*size < bytes) {
    *size = bytes;
    return D3DERR_MOREDATA;
  }
  memcpy(data, t.data(), bytes);
  *size = bytes;
  return D3D_OK;
}

HRESULT WINAPI Device::DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) { return D3DERR_INVALIDCALL; }
HRESULT WINAPI Device::DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) { return D3DERR_INVALIDCALL; }
HRESULT WINAPI Device::DeletePatch(UINT) { return D3DERR_INVALIDCALL; }

// ---- ValidateDevice -------------------------------------------------------------------------
static bool ArgOK(DWORD arg, const D3DCAPS8& caps) {
  DWORD sel = arg & D3DTA_SELECTMASK;
  if (arg & ~(DWORD)(D3DTA_SELECTMASK | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE)) return false;
  if (sel > D3DTA_TEMP) return false;
  if (sel == D3DTA_TEMP && !(caps.PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP)) return false;
  return true;
}

static bool UsesArg(DWORD op, int which) {
  // which: 0 ARG0, 1 ARG1, 2 ARG2
  switch (op) {
    case D3DTOP_DISABLE: return false;
    case D3DTOP_SELECTARG1: return which == 1;
    case D3DTOP_SELECTARG2: return which == 2;
    case D3DTOP_MULTIPLYADD:
    case D3DTOP_LERP: return true;
    case D3DTOP_BUMPENVMAP:
    case D3DTOP_BUMPENVMAPLUMINANCE: return false;
    default: return which != 0;
  }
}

HRESULT Device::Validate(DWORD* passes) {
  D3DCAPS8 caps;
  FillCaps(CurrentProfile(), creation.AdapterOrdinal, &caps);
  int profile = CurrentProfile();
  DWORD stages = 0, textures = 0;
  for (int i = 0; i < MAX_STAGES; ++i) {
    const DWORD* t = st.tss[i];
    DWORD cop = t[D3DTSS_COLOROP], aop = t[D3DTSS_ALPHAOP];
    if (cop == D3DTOP_DISABLE) break;
    ++stages;
    if (cop < D3DTOP_DISABLE || cop > D3DTOP_LERP || !(caps.TextureOpCaps & (1u << (cop - 1))))
      return D3DERR_UNSUPPORTEDCOLOROPERATION;
    if (aop < D3DTOP_DISABLE || aop > D3DTOP_LERP || !(caps.TextureOpCaps & (1u << (aop - 1))))
      return D3DERR_UNSUPPORTEDALPHAOPERATION;
    // Colour-only operations cannot be alpha operations.
    if (aop == D3DTOP_DOTPRODUCT3 || aop == D3DTOP_BUMPENVMAP || aop == D3DTOP_BUMPENVMAPLUMINANCE ||
        (aop >= D3DTOP_MODULATEALPHA_ADDCOLOR && aop <= D3DTOP_MODULATEINVCOLOR_ADDALPHA))
      return D3DERR_UNSUPPORTEDALPHAOPERATION;
    static const int kColorArgs[3] = {D3DTSS_COLORARG0, D3DTSS_COLORARG1, D3DTSS_COLORARG2};
    static const int kAlphaArgs[3] = {D3DTSS_ALPHAARG0, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2};
    bool usesTex = false;
    for (int a = 0; a < 3; ++a) {
      if (UsesArg(cop, a)) {
        if (!ArgOK(t[kColorArgs[a]], caps)) return D3DERR_UNSUPPORTEDCOLORARG;
        if ((t[kColorArgs[a]] & D3DTA_SELECTMASK) == D3DTA_TEXTURE) usesTex = true;
      }
      if (aop != D3DTOP_DISABLE && UsesArg(aop, a)) {
        DWORD arg = t[kAlphaArgs[a]];
        if (!ArgOK(arg, caps) || (arg & D3DTA_ALPHAREPLICATE)) return D3DERR_UNSUPPORTEDALPHAARG;
        if ((arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE) usesTex = true;
      }
    }
    if (t[D3DTSS_RESULTARG] != D3DTA_CURRENT && t[D3DTSS_RESULTARG] != D3DTA_TEMP) return D3DERR_UNSUPPORTEDCOLORARG;
    if (t[D3DTSS_RESULTARG] == D3DTA_TEMP && !(caps.PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP))
      return D3DERR_UNSUPPORTEDCOLORARG;
    bool bumpOp = cop == D3DTOP_BUMPENVMAP || cop == D3DTOP_BUMPENVMAPLUMINANCE;
    if (bumpOp) usesTex = true;
    Texture* tex = static_cast<Texture*>(st.textures[i]);
    if (usesTex) ++textures;
    if (tex) {
      const FormatInfo* fi = FindFormat(tex->format);
      if (!TextureFormatOK(profile, tex->format)) return D3DERR_WRONGTEXTUREFORMAT;
      if (bumpOp != (fi->kind == FK_BUMP) && (bumpOp || usesTex)) return D3DERR_WRONGTEXTUREFORMAT;
      if (cop == D3DTOP_BUMPENVMAPLUMINANCE && tex->format == D3DFMT_V8U8) return D3DERR_WRONGTEXTUREFORMAT;
      DWORD mag = t[D3DTSS_MAGFILTER], mn = t[D3DTSS_MINFILTER], mip = t[D3DTSS_MIPFILTER];
      if (mag < D3DTEXF_POINT || mag > D3DTEXF_LINEAR || mn < D3DTEXF_POINT || mn > D3DTEXF_LINEAR ||
          mip > D3DTEXF_LINEAR)
        return D3DERR_UNSUPPORTEDTEXTUREFILTER;
      if (mip == D3DTEXF_LINEAR && !(caps.TextureFilterCaps & D3DPTFILTERCAPS_MIPFLINEAR))
        return D3DERR_UNSUPPORTEDTEXTUREFILTER;
    }
    // A bump stage perturbs the next stage, so it cannot be the last one.
    if (bumpOp && (i + 1 >= MAX_STAGES || st.tss[i + 1][D3DTSS_COLOROP] == D3DTOP_DISABLE))
      return D3DERR_CONFLICTINGRENDERSTATE;
  }
  if (stages > caps.MaxTextureBlendStages) return D3DERR_TOOMANYOPERATIONS;
  if (textures > caps.MaxSimultaneousTextures) return D3DERR_TOOMANYOPERATIONS;
  if (st.rs[D3DRS_ALPHABLENDENABLE]) {
    DWORD s = st.rs[D3DRS_SRCBLEND], d = st.rs[D3DRS_DESTBLEND];
    if (s < D3DBLEND_ZERO || s > D3DBLEND_BOTHINVSRCALPHA || d < D3DBLEND_ZERO || d > D3DBLEND_BOTHINVSRCALPHA)
      return D3DERR_CONFLICTINGRENDERSTATE;
    // The "both" factors set the destination themselves and are source-only.
    if (d == D3DBLEND_BOTHSRCALPHA || d == D3DBLEND_BOTHINVSRCALPHA || d == D3DBLEND_SRCALPHASAT)
      return D3DERR_CONFLICTINGRENDERSTATE;
  }
  if (passes) *passes = 1;
  return D3D_OK;
}

HRESULT WINAPI Device::ValidateDevice(DWORD* passes) {
  if (!passes) return D3DERR_INVALIDCALL;
  *passes = 0;
  return Validate(passes);
}

}  // namespace mxd3d
