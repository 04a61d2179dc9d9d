// Internal records of the software Direct3D 8 device: formats, resources, device state, and the
// interfaces between the device front end, vertex processing and the rasteriser.
#ifndef MARLIX_D3D8_INTERNAL_H
#define MARLIX_D3D8_INTERNAL_H

#include <d3d8.h>
#include <marlix_d3d8.h>

#include <stdint.h>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

// The kernels written once for SSE2 and AVX2 compile their AVX2 copy between these two: clang
// takes the target through an attribute on every function of the block, GCC through a pragma.
#if defined(__clang__)
#define MARLIX_AVX2_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define MARLIX_AVX2_END _Pragma("clang attribute pop")
#else
#define MARLIX_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define MARLIX_AVX2_END _Pragma("GCC pop_options")
#endif

namespace mxd3d {

// An allocator whose resize leaves the new elements unset, for a buffer written as soon as it grows.
template <class T>
struct UnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    typedef UnsetAllocator<U> other;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U>&) {}
  template <class U>
  void construct(U* p) noexcept {
    ::new ((void*)p) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new ((void*)p) U(std::forward<A>(a)...);
  }
};

// The queue's store of packed vertices (StoredWords floats each).
typedef std::vector<float, UnsetAllocator<float>> VertexStore;

// A colour or fog value held to 0..1; not-a-number (from a shader's arithmetic) counts as 0.
static inline float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The coordinate count of a texture transform's flags (D3DTTFF_COUNTn); a count above four means
// the last of the four components a coordinate has.
static inline int TexTransformCount(DWORD flags) {
  int count = (int)(flags & 0xff);
  return count < 4 ? count : 4;
}

// ---- formats (formats.cpp) ------------------------------------------------------------------
enum FormatKind { FK_NONE, FK_COLOR, FK_PALETTE, FK_BUMP, FK_DXT, FK_DEPTH, FK_INDEX, FK_OTHER };

struct FormatInfo {
  D3DFORMAT format;
  uint8_t kind;
  uint8_t bytesPerPixel;  // 0 for block formats
  uint8_t blockBytes;     // bytes per 4x4 block (DXT), else 0
  uint8_t hasAlpha;
  uint8_t depthBits, stencilBits;
};

const FormatInfo* FindFormat(D3DFORMAT format);
// Bytes in one row of pixels (one row of 4x4 blocks for DXT) and number of such rows.
uint32_t FormatPitch(D3DFORMAT format, uint32_t width);
uint32_t FormatRows(D3DFORMAT format, uint32_t height);
// Reads one pixel of a plain colour, luminance or palette format as A8R8G8B8 (palette may be null).
uint32_t ReadArgb(D3DFORMAT format, const uint8_t* p, const PALETTEENTRY* palette);
// Writes A8R8G8B8 into one pixel of a plain colour or luminance format (truncating channels).
void WriteArgb(D3DFORMAT format, uint8_t* p, uint32_t argb);
// Decodes one 4x4 block of DXT1..DXT5 into 16 A8R8G8B8 texels (row-major).
void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]);
// Reads a bump texel as signed du, dv (-128..127 scale) and luminance 0..255, packed for the
// sampler as (L << 16) | ((dv & 0xff) << 8) | (du & 0xff).
uint32_t ReadBump(D3DFORMAT format, const uint8_t* p);
// Decodes a whole image (any colour, palette, bump or DXT format) into 32-bit sampler texels.
void DecodeImage(D3DFORMAT format, const uint8_t* src, int pitch, int width, int height,
                 const PALETTEENTRY* palette, uint32_t* out);

// ---- objects --------------------------------------------------------------------------------
struct Device;
struct Direct3D;
struct Texture;

void CountObject(int delta);

struct Surface final : public IDirect3DSurface8 {
  std::atomic<int> refs{1};
  Device* device = nullptr;
  Texture* container = nullptr;  // level of this texture: references go to the texture
  D3DFORMAT format = D3DFMT_UNKNOWN;
  DWORD usage = 0;
  D3DPOOL pool = D3DPOOL_DEFAULT;
  UINT width = 0, height = 0;
  int pitch = 0;
  uint8_t* bits = nullptr;
  size_t bytes = 0;
  bool lockable = true;
  bool locked = false;
  bool implicit = false;  // back buffer or automatic depth buffer
  bool detached = false;  // an implicit surface the device replaced (Reset) while it was held
  uint32_t version = 1;   // changes whenever its pixels may have changed

  Surface();
  ~Surface();
  bool Allocate(D3DFORMAT f, UINT w, UINT h);

  HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) override;
  HRESULT WINAPI SetPrivateData(REFGUID, const void*, DWORD, DWORD) override;
  HRESULT WINAPI GetPrivateData(REFGUID, void*, DWORD*) override;
  HRESULT WINAPI FreePrivateData(REFGUID) override;
  HRESULT WINAPI GetContainer(REFIID riid, void** ppContainer) override;
  HRESULT WINAPI GetDesc(D3DSURFACE_DESC* pDesc) override;
  HRESULT WINAPI LockRect(D3DLOCKED_RECT* locked_rect, const RECT* rect, DWORD flags) override;
  HRESULT WINAPI UnlockRect() override;
};

struct TextureLevelCache {
  std::vector<uint32_t> texels;
  int width = 0, height = 0;
  uint32_t version = 0;
};

struct Texture final : public IDirect3DTexture8 {
  std::atomic<int> refs{1};
  Device* device = nullptr;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  DWORD usage = 0;
  D3DPOOL pool = D3DPOOL_MANAGED;
  UINT width = 0, height = 0;
  DWORD lod = 0, priority = 0;
  std::vector<Surface*> levels;
  // Sampler copies of every level in 32-bit texels, rebuilt when a level or the palette changes.
  std::vector<TextureLevelCache> cache;
  uint32_t cachePalette = 0xffffffffu;

  Texture();
  ~Texture();

  HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) override;
  HRESULT WINAPI SetPrivateData(REFGUID, const void*, DWORD, DWORD) override;
  HRESULT WINAPI GetPrivateData(REFGUID, void*, DWORD*) override;
  HRESULT WINAPI FreePrivateData(REFGUID) override;
  DWORD WINAPI SetPriority(DWORD PriorityNew) override;
  DWORD WINAPI GetPriority() override;
  void WINAPI PreLoad() override;
  D3DRESOURCETYPE WINAPI GetType() override;
  DWORD WINAPI SetLOD(DWORD LODNew) override;
  DWORD WINAPI GetLOD() override;
  DWORD WINAPI GetLevelCount() override;
  HRESULT WINAPI GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
  HRESULT WINAPI GetSurfaceLevel(UINT Level, IDirect3DSurface8** ppSurfaceLevel) override;
  HRESULT WINAPI LockRect(UINT level, D3DLOCKED_RECT* locked_rect, const RECT* rect, DWORD flags) override;
  HRESULT WINAPI UnlockRect(UINT Level) override;
  HRESULT WINAPI AddDirtyRect(const RECT* dirty_rect) override;
};

struct Buffer {
  std::vector<uint8_t> data;
  DWORD usage = 0;
  D3DPOOL pool = D3DPOOL_DEFAULT;
  bool locked = false;
};

struct VertexBuffer final : public IDirect3DVertexBuffer8 {
  std::atomic<int> refs{1};
  Device* device = nullptr;
  Buffer buf;
  DWORD fvf = 0;

  VertexBuffer();
  ~VertexBuffer();
  HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) override;
  HRESULT WINAPI SetPrivateData(REFGUID, const void*, DWORD, DWORD) override;
  HRESULT WINAPI GetPrivateData(REFGUID, void*, DWORD*) override;
  HRESULT WINAPI FreePrivateData(REFGUID) override;
  DWORD WINAPI SetPriority(DWORD PriorityNew) override;
  DWORD WINAPI GetPriority() override;
  void WINAPI PreLoad() override;
  D3DRESOURCETYPE WINAPI GetType() override;
  HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) override;
  HRESULT WINAPI Unlock() override;
  HRESULT WINAPI GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;
};

struct IndexBuffer final : public IDirect3DIndexBuffer8 {
  std::atomic<int> refs{1};
  Device* device = nullptr;
  Buffer buf;
  D3DFORMAT format = D3DFMT_INDEX16;

  IndexBuffer();
  ~IndexBuffer();
  HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) override;
  HRESULT WINAPI SetPrivateData(REFGUID, const void*, DWORD, DWORD) override;
  HRESULT WINAPI GetPrivateData(REFGUID, void*, DWORD*) override;
  HRESULT WINAPI FreePrivateData(REFGUID) override;
  DWORD WINAPI SetPriority(DWORD PriorityNew) override;
  DWORD WINAPI GetPriority() override;
  void WINAPI PreLoad() override;
  D3DRESOURCETYPE WINAPI GetType() override;
  HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) override;
  HRESULT WINAPI Unlock() override;
  HRESULT WINAPI GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;
};

// ---- profiles and caps (direct3d.cpp) -------------------------------------------------------
int CurrentProfile();
void FillCaps(int profile, UINT adapter, D3DCAPS8* caps);
UINT AdapterCount(int profile);
// Whether a format may be used as a texture / render target / depth buffer under the profile.
bool TextureFormatOK(int profile, D3DFORMAT f);
bool RenderTargetFormatOK(D3DFORMAT f);
bool DepthFormatOK(D3DFORMAT f);
bool DisplayFormatOK(D3DFORMAT f);
extern std::atomic<int> g_lostEpoch;  // bumped by MarlixD3D8LoseDevice
extern std::atomic<int> g_lostPolls;

struct Counters {
  std::atomic<uint64_t> drawCalls{0}, primitives{0}, verticesLit{0}, verticesIn{0}, trianglesDrawn{0},
      pixelsShaded{0}, clears{0}, presents{0}, resets{0};
};
extern Counters g_counters;

// ---- rasteriser interface (raster.cpp) ------------------------------------------------------
enum { MAX_STAGES = 8 };

// One texture stage as the pixel pipeline sees it.
struct StageDesc {
  int colorOp, alphaOp;
  DWORD colorArg[3], alphaArg[3];  // [0] is ARG0, [1] ARG1, [2] ARG2
  DWORD resultArg;
  // sampler
  const TextureLevelCache* levels;  // null: no texture bound
  int levelCount;
  int bump;  // texture holds du/dv (1) and luminance (2)
  int addressU, addressV;
  uint32_t border;
  int magFilter, minFilter, mipFilter;
  float lodBias;
  int maxMipLevel;
  float bumpMat[4];
  float bumpLScale, bumpLOffset;
};

struct PixelProgram;  // a compiled pixel shader (pshader.h)

// Everything the pixel pipeline needs for one batch of primitives; immutable once queued.
struct PixelState {
  // targets
  uint8_t* color;
  int colorPitch;
  D3DFORMAT colorFormat;
  uint8_t* depth;
  int depthPitch;
  D3DFORMAT depthFormat;
  int clipX0, clipY0, clipX1, clipY1;  // scissor: the viewport, half open
  // depth and stencil
  int zEnable, zWrite, zFunc;
  int stencilEnable, stencilFunc, stencilFail, stencilZFail, stencilPass;
  uint32_t stencilRef, stencilMask, stencilWriteMask;
  // alpha test and blend
  int alphaTest, alphaFunc, alphaRef;
  int blend, srcBlend, dstBlend, blendOp;
  uint32_t colorWriteMask;
  // colour
  int flat;
  int specular;
  int fog, fogTable;  // fogTable: D3DFOG_* for per-pixel fog, 0 for vertex fog
  int fogUseW;
  uint32_t fogColor;
  float fogStart, fogEnd, fogDensity;
  uint32_t tfactor;
  int stageCount;
  int texStages;  // stages whose texture coordinates are interpolated (0 when nothing samples);
                  // with a pixel shader, groups of three of its coordinate floats
  int usesTexture;
  StageDesc stages[MAX_STAGES];
  // Pixel shader, in place of the stage combiner and the specular add (null: the stages). The
  // device keeps the program alive until the queue holding this state has been drawn.
  const PixelProgram* shader;
  int shaderFirst;                  // it may discard the pixel or set its depth: run before the depth test
  int shaderProject[MAX_STAGES];    // coordinate component dividing texture loads (projected), or -1
  float shaderConst[8][4];          // c0..c7 as the shader reads them (clamped, def values applied)
  int fillMode;
  int lastPixel;
  float pointSize;
};

// A vertex after vertex processing, in screen space: x, y in pixels (centres on integers),
// z in 0..1, rhw = 1/w, colours 0..1 (specular alpha is the fog factor), and per texture stage
// the coordinates s, t, q (the sampler uses s/q, t/q). With a pixel shader the tex floats hold
// the shader's coordinate sets instead, four floats each (x, y, z, w; set n at floats 4n..4n+3).
struct RVertex {
  float x, y, z, rhw;
  float diffuse[4];
  float specular[4];
  float tex[MAX_STAGES][3];
};

// The queue keeps screen-space vertices packed: the leading floats of RVertex up to the texture
// coordinates the pixel state interpolates (StoredWords), named by the offset of their first float.
enum { RV_X, RV_Y, RV_Z, RV_RHW, RV_DIFF, RV_SPEC = RV_DIFF + 4, RV_TEX = RV_SPEC + 4 };
static inline int StoredWords(const PixelState& s) { return RV_TEX + 3 * s.texStages; }

struct Raster;
Raster* RasterCreate();
void RasterDestroy(Raster* r);
// The vertex store of the queue: vertex processing appends packed screen-space vertices here and
// then queues primitives by their offsets in it (valid until the next flush).
VertexStore& RasterVertexStore(Raster* r);
// Queues triangles of the vertices stored from offset first on, which tris names by number (three
// a triangle; vertex n starts at first + n * StoredWords). Culling is done by the caller. serial
// names the state: draws with the same nonzero serial share one copy of it in the queue.
void RasterSubmitTriangles(Raster* r, const PixelState& state, uint64_t serial, size_t first, const uint32_t* tris,
                           int count);
// Queues lines (prim 1, two offsets in the store each) or points (prim 2, one offset each).
void RasterSubmitStored(Raster* r, const PixelState& state, uint64_t serial, const uint32_t* indices, int count,
                        int prim);
// Queues a clear of rectangles (half open, already clipped to the target).
void RasterClear(Raster* r, const PixelState& state, const RECT* rects, int count, DWORD flags, uint32_t color,
                 float z, DWORD stencil);
// Finishes every queued command; the targets hold the results afterwards.
void RasterFlush(Raster* r);
void RasterSetThreads(Raster* r, int threads);
// False when every draw and clear must be finished before its call returns.
bool RasterQueued();

}  // namespace mxd3d

#endif
