// Surfaces, textures, vertex and index buffers: memory in the real layout of each format, locking,
// reference counting. A resource holds a reference on its device; the device only points at the
// resources bound to it and is told when one goes away.
#include "device.h"

#include <stdlib.h>
#include <string.h>

namespace mxd3d {

static bool Is(REFIID a, const GUID& b) { return a == b; }

// ---- private data is not kept: these objects carry none ------------------------------------
#define NO_PRIVATE_DATA(Class)                                                                        \
  HRESULT WINAPI Class::SetPrivateData(REFGUID, const void*, DWORD, DWORD) { return E_OUTOFMEMORY; } \
  HRESULT WINAPI Class::GetPrivateData(REFGUID, void*, DWORD*) { return D3DERR_NOTFOUND; }           \
  HRESULT WINAPI Class::FreePrivateData(REFGUID) { return D3DERR_NOTFOUND; }

// ---- Surface --------------------------------------------------------------------------------
Surface::Surface() { CountObject(1); }

Surface::~Surface() {
  free(bits);
  CountObject(-1);
}

bool Surface::Allocate(D3DFORMAT f, UINT w, UINT h) {
  const FormatInfo* fi = FindFormat(f);
  if (!fi || w == 0 || h == 0 || w > 16384 || h > 16384) return false;
  format = f;
  width = w;
  height = h;
  pitch = (int)FormatPitch(f, w);
  bytes = (size_t)pitch * FormatRows(f, h);
  // 16 spare bytes let the span code read a little past a row end.
  bits = (uint8_t*)calloc(1, bytes + 16);
  return bits != nullptr;
}

HRESULT WINAPI Surface::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (Is(riid, IID_IUnknown) || Is(riid, IID_IDirect3DSurface8)) {
    AddRef();
    *out = static_cast<IDirect3DSurface8*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG WINAPI Surface::AddRef() {
  if (container) return container->AddRef();
  int n = ++refs;
  if (implicit && device) device->AddRef();
  return (ULONG)n;
}

ULONG WINAPI Surface::Release() {
  if (container) return container->Release();
  if (implicit) {
    if (refs.load() <= 0) return 0;
    int n = --refs;
    Device* d = device;
    if (n == 0 && detached) delete this;
    if (d) d->Release();
    return (ULONG)n;
  }
  int n = --refs;
  if (n == 0) {
    Device* d = device;
    if (d) {
      d->Flush();
      ++d->stateSerial;  // the kept pixel state may point at this surface
      if (d->renderTarget == this || d->depthStencil == this) {
        if (d->renderTarget == this) d->renderTarget = d->backBuffer;
        if (d->depthStencil == this) d->depthStencil = d->autoDepth;
      }
      if (pool == D3DPOOL_DEFAULT && !implicit) d->defaultPoolResources--;
    }
    delete this;
    if (d) d->Release();
  }
  return (ULONG)(n < 0 ? 0 : n);
}

HRESULT WINAPI Surface::GetDevice(IDirect3DDevice8** out) {
  if (!out || !device) return D3DERR_INVALIDCALL;
  device->AddRef();
  *out = device;
  return D3D_OK;
}

NO_PRIVATE_DATA(Surface)

HRESULT WINAPI Surface::GetContainer(REFIID riid, void** out) {
  if (!out) return D3DERR_INVALIDCALL;
  if (container) return container->QueryInterface(riid, out);
  if (device) return device->QueryInterface(riid, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT WINAPI Surface::GetDesc(D3DSURFACE_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = format;
  d->Type = D3DRTYPE_SURFACE;
  d->Usage = usage;
  d->Pool = pool;
  d->Size = (UINT)bytes;
  d->MultiSampleType = D3DMULTISAMPLE_NONE;
  d->Width = width;
  d->Height = height;
  return D3D_OK;
}

HRESULT WINAPI Surface::LockRect(D3DLOCKED_RECT* lr, const RECT* rect, DWORD) {
  if (!lr || locked || !lockable || !bits) return D3DERR_INVALIDCALL;
  const FormatInfo* fi = FindFormat(format);
  size_t offset = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->right > (LONG)width || rect->bottom > (LONG)height ||
        rect->left >= rect->right || rect->top >= rect->bottom)
      return D3DERR_INVALIDCALL;
    if (fi->kind == FK_DXT) {
      if ((rect->left & 3) || (rect->top & 3)) return D3DERR_INVALIDCALL;
      offset = (size_t)(rect->top / 4) * pitch + (size_t)(rect->left / 4) * fi->blockBytes;
    } else {
      offset = (size_t)rect->top * pitch + (size_t)rect->left * fi->bytesPerPixel;
    }
  }
  if (device) device->Flush();
  locked = true;
  lr->Pitch = pitch;
  lr->pBits = bits + offset;
  return D3D_OK;
}

HRESULT WINAPI Surface::UnlockRect() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  ++version;
  return D3D_OK;
}

// ---- Texture --------------------------------------------------------------------------------
Texture::Texture() { CountObject(1); }

Texture::~Texture() {
  for (Surface* s : levels) {
    s->container = nullptr;
    s->device = nullptr;
    delete s;
  }
  CountObject(-1);
}

HRESULT WINAPI Texture::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (Is(riid, IID_IUnknown) || Is(riid, IID_IDirect3DResource8) || Is(riid, IID_IDirect3DBaseTexture8) ||
      Is(riid, IID_IDirect3DTexture8)) {
    AddRef();
    *out = static_cast<IDirect3DTexture8*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG WINAPI Texture::AddRef() { return (ULONG)++refs; }

ULONG WINAPI Texture::Release() {
  int n = --refs;
  if (n == 0) {
    Device* d = device;
    if (d) {
      d->Flush();
      ++d->stateSerial;  // the kept pixel state may point at this texture's texels
      for (int i = 0; i < MAX_STAGES; ++i)
        if (d->st.textures[i] == this) d->st.textures[i] = nullptr;
      for (StateBlock* b : d->stateBlocks)
        if (b)
          for (int i = 0; i < MAX_STAGES; ++i)
            if (b->state.textures[i] == this) b->state.textures[i] = nullptr;
      for (Surface* s : levels)
        if (d->renderTarget == s) d->renderTarget = d->backBuffer;
      if (pool == D3DPOOL_DEFAULT) d->defaultPoolResources--;
    }
    delete this;
    if (d) d->Release();
  }
  return (ULONG)(n < 0 ? 0 : n);
}

HRESULT WINAPI Texture::GetDevice(IDirect3DDevice8** out) {
  if (!out || !device) return D3DERR_INVALIDCALL;
  device->AddRef();
  *out = device;
  return D3D_OK;
}

NO_PRIVATE_DATA(Texture)

DWORD WINAPI Texture::SetPriority(DWORD p) {
  DWORD old = priority;
  if (pool == D3DPOOL_MANAGED) priority = p;
  return old;
}
DWORD WINAPI Texture::GetPriority() { return priority; }
void WINAPI Texture::PreLoad() {}
D3DRESOURCETYPE WINAPI Texture::GetType() { return D3DRTYPE_TEXTURE; }

DWORD WINAPI Texture::SetLOD(DWORD l) {
  DWORD old = lod;
  if (pool == D3DPOOL_MANAGED) lod = l < levels.size() ? l : (DWORD)levels.size() - 1;
  return old;
}
DWORD WINAPI Texture::GetLOD() { return lod; }
DWORD WINAPI Texture::GetLevelCount() { return (DWORD)levels.size(); }

HRESULT WINAPI Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* d) {
  if (level >= levels.size() || !d) return D3DERR_INVALIDCALL;
  levels[level]->GetDesc(d);
  return D3D_OK;
}

HRESULT WINAPI Texture::GetSurfaceLevel(UINT level, IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  AddRef();
  *out = levels[level];
  return D3D_OK;
}

HRESULT WINAPI Texture::LockRect(UINT level, D3DLOCKED_RECT* lr, const RECT* rect, DWORD flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockRect(lr, rect, flags);
}

HRESULT WINAPI Texture::UnlockRect(UINT level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockRect();
}

HRESULT WINAPI Texture::AddDirtyRect(const RECT*) {
  for (Surface* s : levels) ++s->version;
  return D3D_OK;
}

// ---- buffers --------------------------------------------------------------------------------
static HRESULT LockBuffer(Device* d, Buffer& b, UINT offset, UINT size, BYTE** out) {
  if (!out || b.locked) return D3DERR_INVALIDCALL;
  *out = nullptr;
  size_t len = b.data.size();
  if (offset > len || (size && (size_t)offset + size > len)) return D3DERR_INVALIDCALL;
  (void)d;
  b.locked = true;
  *out = b.data.data() + offset;
  return D3D_OK;
}

#define BUFFER_COMMON(Class, Iface, Rtype)                                                                 \
  Class::Class() { CountObject(1); }                                                                        \
  Class::~Class() { CountObject(-1); }                                                                      \
  HRESULT WINAPI Class::QueryInterface(REFIID riid, void** out) {                                          \
    if (!out) return E_POINTER;                                                                             \
    if (Is(riid, IID_IUnknown) || Is(riid, IID_IDirect3DResource8) || Is(riid, IID_##Iface)) {            \
      AddRef();                                                                                             \
      *out = static_cast<Iface*>(this);                                                                     \
      return S_OK;                                                                                          \
    }                                                                                                       \
    *out = nullptr;                                                                                         \
    return E_NOINTERFACE;                                                                                   \
  }                                                                                                         \
  ULONG WINAPI Class::AddRef() { return (ULONG)++refs; }                                                    \
  HRESULT WINAPI Class::GetDevice(IDirect3DDevice8** out) {                                                 \
    if (!out || !device) return D3DERR_INVALIDCALL;                                                         \
    device->AddRef();                                                                                       \
    *out = device;                                                                                          \
    return D3D_OK;                                                                                          \
  }                                                                                                         \
  NO_PRIVATE_DATA(Class)                                                                                    \
  DWORD WINAPI Class::SetPriority(DWORD) { return 0; }                                                      \
  DWORD WINAPI Class::GetPriority() { return 0; }                                                           \
  void WINAPI Class::PreLoad() {}                                                                           \
  D3DRESOURCETYPE WINAPI Class::GetType() { return Rtype; }                                                 \
  HRESULT WINAPI Class::Lock(UINT offset, UINT size, BYTE** out, DWORD) {                                   \
    return LockBuffer(device, buf, offset, size, out);                                                      \
  }                                                                                                         \
  HRESULT WINAPI Class::Unlock() {                                                                          \
    if (!buf.locked) return D3DERR_INVALIDCALL;                                                             \
    buf.locked = false;                                                                                     \
    return D3D_OK;                                                                                          \
  }

BUFFER_COMMON(VertexBuffer, IDirect3DVertexBuffer8, D3DRTYPE_VERTEXBUFFER)
BUFFER_COMMON(IndexBuffer, IDirect3DIndexBuffer8, D3DRTYPE_INDEXBUFFER)

ULONG WINAPI VertexBuffer::Release() {
  int n = --refs;
  if (n == 0) {
    Device* d = device;
    if (d) {
      for (auto*& v : d->st.stream)
        if (v == this) v = nullptr;
      for (StateBlock* b : d->stateBlocks) {
        if (!b) continue;
        for (auto*& v : b->state.stream)
          if (v == this) v = nullptr;
      }
      if (buf.pool == D3DPOOL_DEFAULT) d->defaultPoolResources--;
    }
    delete this;
    if (d) d->Release();
  }
  return (ULONG)(n < 0 ? 0 : n);
}

ULONG WINAPI IndexBuffer::Release() {
  int n = --refs;
  if (n == 0) {
    Device* d = device;
    if (d) {
      if (d->st.indices == this) d->st.indices = nullptr;
      for (StateBlock* b : d->stateBlocks)
        if (b && b->state.indices == this) b->state.indices = nullptr;
      if (buf.pool == D3DPOOL_DEFAULT) d->defaultPoolResources--;
    }
    delete this;
    if (d) d->Release();
  }
  return (ULONG)(n < 0 ? 0 : n);
}

HRESULT WINAPI VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = D3DFMT_VERTEXDATA;
  d->Type = D3DRTYPE_VERTEXBUFFER;
  d->Usage = buf.usage;
  d->Pool = buf.pool;
  d->Size = (UINT)buf.data.size();
  d->FVF = fvf;
  return D3D_OK;
}

HRESULT WINAPI IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* d) {
  if (!d) return D3DERR_INVALIDCALL;
  d->Format = format;
  d->Type = D3DRTYPE_INDEXBUFFER;
  d->Usage = buf.usage;
  d->Pool = buf.pool;
  d->Size = (UINT)buf.data.size();
  return D3D_OK;
}

// ---- creation on the device -----------------------------------------------------------------
static bool PoolOK(D3DPOOL p) {
  return p == D3DPOOL_DEFAULT || p == D3DPOOL_MANAGED || p == D3DPOOL_SYSTEMMEM || p == D3DPOOL_SCRATCH;
}

HRESULT WINAPI Device::CreateTexture(UINT w, UINT h, UINT levelCount, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     IDirect3DTexture8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (w == 0 || h == 0 || w > 2048 || h > 2048 || !PoolOK(pool)) return D3DERR_INVALIDCALL;
  if (!TextureFormatOK(CurrentProfile(), format)) return D3DERR_INVALIDCALL;
  if (usage & D3DUSAGE_DEPTHSTENCIL) return D3DERR_INVALIDCALL;
  if (usage & D3DUSAGE_RENDERTARGET) {
    if (pool != D3DPOOL_DEFAULT || !RenderTargetFormatOK(format)) return D3DERR_INVALIDCALL;
  }
  const FormatInfo* fi = FindFormat(format);
  UINT full = 1;
  for (UINT x = w, y = h; x > 1 || y > 1; x = x > 1 ? x / 2 : 1, y = y > 1 ? y / 2 : 1) ++full;
  if (levelCount == 0 || levelCount > full) levelCount = full;
  if (usage & D3DUSAGE_RENDERTARGET) levelCount = levelCount ? levelCount : 1;
  Texture* t = new Texture();
  t->device = this;
  t->format = format;
  t->usage = usage;
  t->pool = pool;
  t->width = w;
  t->height = h;
  UINT lw = w, lh = h;
  for (UINT i = 0; i < levelCount; ++i) {
    Surface* s = new Surface();
    s->container = t;
    s->device = this;
    s->usage = usage;
    s->pool = pool;
    s->lockable = !(pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC));
    if (!s->Allocate(format, lw, lh)) {
      delete s;
      t->device = nullptr;
      delete t;
      return D3DERR_OUTOFVIDEOMEMORY;
    }
    t->levels.push_back(s);
    lw = lw > 1 ? lw / 2 : 1;
    lh = lh > 1 ? lh / 2 : 1;
  }
  (void)fi;
  t->cache.resize(levelCount);
  if (pool == D3DPOOL_DEFAULT) defaultPoolResources++;
  AddRef();
  *out = t;
  return D3D_OK;
}

HRESULT WINAPI Device::CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                           IDirect3DVolumeTexture8** out) {
  // The caps report no volume textures.
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT WINAPI Device::CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture8** out) {
  // The caps report no cube textures.
  if (out) *out = nullptr;
  return D3DERR_INVALIDCALL;
}

HRESULT WINAPI Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                          IDirect3DVertexBuffer8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || length > (256u << 20) || !PoolOK(pool)) return D3DERR_INVALIDCALL;
  VertexBuffer* b = new VertexBuffer();
  b->device = this;
  b->fvf = fvf;
  b->buf.usage = usage;
  b->buf.pool = pool;
  b->buf.data.assign(length, 0);
  if (pool == D3DPOOL_DEFAULT) defaultPoolResources++;
  AddRef();
  *out = b;
  return D3D_OK;
}

HRESULT WINAPI Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                         IDirect3DIndexBuffer8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || length > (256u << 20) || !PoolOK(pool)) return D3DERR_INVALIDCALL;
  if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  IndexBuffer* b = new IndexBuffer();
  b->device = this;
  b->format = format;
  b->buf.usage = usage;
  b->buf.pool = pool;
  b->buf.data.assign(length, 0);
  if (pool == D3DPOOL_DEFAULT) defaultPoolResources++;
  AddRef();
  *out = b;
  return D3D_OK;
}

static HRESULT MakeSurface(Device* d, UINT w, UINT h, D3DFORMAT f, DWORD usage, D3DPOOL pool, bool lockable,
                           IDirect3DSurface8** out) {
  Surface* s = new Surface();
  s->device = d;
  s->usage = usage;
  s->pool = pool;
  s->lockable = lockable;
  if (!s->Allocate(f, w, h)) {
    s->device = nullptr;
    delete s;
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  if (pool == D3DPOOL_DEFAULT) d->defaultPoolResources++;
  d->AddRef();
  *out = s;
  return D3D_OK;
}

HRESULT WINAPI Device::CreateRenderTarget(UINT w, UINT h, D3DFORMAT f, D3DMULTISAMPLE_TYPE ms, BOOL lockable,
                                          IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!RenderTargetFormatOK(f) || ms != D3DMULTISAMPLE_NONE || w == 0 || h == 0 || w > 4096 || h > 4096)
    return D3DERR_INVALIDCALL;
  return MakeSurface(this, w, h, f, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, lockable != 0, out);
}

HRESULT WINAPI Device::CreateDepthStencilSurface(UINT w, UINT h, D3DFORMAT f, D3DMULTISAMPLE_TYPE ms,
                                                 IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (!DepthFormatOK(f) || ms != D3DMULTISAMPLE_NONE || w == 0 || h == 0 || w > 4096 || h > 4096)
    return D3DERR_INVALIDCALL;
  return MakeSurface(this, w, h, f, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, f == D3DFMT_D16_LOCKABLE, out);
}

HRESULT WINAPI Device::CreateImageSurface(UINT w, UINT h, D3DFORMAT f, IDirect3DSurface8** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const FormatInfo* fi = FindFormat(f);
  if (!fi || fi->kind == FK_DEPTH || fi->kind == FK_INDEX || w == 0 || h == 0 || w > 4096 || h > 4096)
    return D3DERR_INVALIDCALL;
  return MakeSurface(this, w, h, f, 0, D3DPOOL_SYSTEMMEM, true, out);
}

// Sampler texels of every level, rebuilt from the level memory when it changed.
const TextureLevelCache* Device::SamplerLevels(Texture* t, int& count) {
  UINT pal = st.palette;
  const FormatInfo* fi = FindFormat(t->format);
  bool paletted = fi && fi->kind == FK_PALETTE;
  bool paletteChanged = paletted && t->cachePalette != paletteSerial;
  const PALETTEENTRY* entries = nullptr;
  if (paletted) {
    auto it = palettes.find(pal);
    if (it != palettes.end()) entries = it->second.data();
  }
  bool stale = paletteChanged;
  for (size_t i = 0; i < t->levels.size() && !stale; ++i) stale = t->cache[i].version != t->levels[i]->version;
  // Queued drawing may still read the old texels (or render into this texture): finish it first.
  if (stale) Flush();
  for (size_t i = 0; i < t->levels.size(); ++i) {
    Surface* s = t->levels[i];
    TextureLevelCache& c = t->cache[i];
    if (c.version != s->version || paletteChanged) {
      c.width = (int)s->width;
      c.height = (int)s->height;
      c.texels.resize((size_t)s->width * s->height);
      DecodeImage(s->format, s->bits, s->pitch, (int)s->width, (int)s->height, entries, c.texels.data());
      c.version = s->version;
    }
  }
  if (paletted) t->cachePalette = paletteSerial;
  int lod = (int)t->lod;
  count = (int)t->levels.size() - lod;
  return t->cache.data() + lod;
}

}  // namespace mxd3d
