// The device record: presentation, current render and stage states, transforms, lights, bound
// resources and the rasteriser queue.
#ifndef MARLIX_D3D8_DEVICE_H
#define MARLIX_D3D8_DEVICE_H

#include "d3d8_internal.h"
#include "pshader.h"

#include <map>
#include <memory>
#include <vector>

namespace mxd3d {

bool ModeExists(UINT w, UINT h, D3DFORMAT f);
int TakeEnvironmentLoss();
void AdapterDesktopMode(UINT adapter, D3DDISPLAYMODE* m);

enum { MAX_RS = 256, MAX_TSS = 32, MAX_LIGHTS = 4096 };

struct VertexScratch;
struct VertexShader;
VertexScratch* NewVertexScratch();
void DeleteVertexScratch(VertexScratch* v);

struct LightSlot {
  D3DLIGHT8 light;
  bool enabled;
};

// The settable state, kept in one record so state blocks can copy it whole.
struct State {
  DWORD rs[MAX_RS];
  DWORD tss[MAX_STAGES][MAX_TSS];
  D3DMATRIX world, view, proj, tex[MAX_STAGES];
  D3DVIEWPORT8 viewport;
  D3DMATERIAL8 material;
  std::map<DWORD, LightSlot> lights;
  float clipPlanes[6][4];
  IDirect3DBaseTexture8* textures[MAX_STAGES];
  VertexBuffer* stream[16];
  UINT streamStride[16];
  IndexBuffer* indices;
  UINT baseVertex;
  DWORD vertexShader;
  float vsConst[96][4];
  DWORD pixelShader;
  float pixelConst[PS_CONSTANTS][4];
  UINT palette;
};

// Which parts of the state a block holds.
struct StateMask {
  bool rs[MAX_RS];
  bool tss[MAX_STAGES][MAX_TSS];
  bool textures[MAX_STAGES];
  bool world, view, proj, tex[MAX_STAGES];
  bool stream[16];
  bool vsConst[96];
  bool viewport, material, lights, clipPlanes, indices, vertexShader, pixelShader, palette;
  bool pixelConst[PS_CONSTANTS];
};

struct StateBlock {
  State state;
  StateMask mask;
};

struct Device final : public IDirect3DDevice8 {
  std::atomic<int> refs{1};
  IDirect3D8* d3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  D3DPRESENT_PARAMETERS present{};
  bool softwareOnly = false;
  Surface* backBuffer = nullptr;
  Surface* frontBuffer = nullptr;  // full screen flip: the shown buffer
  Surface* autoDepth = nullptr;
  Surface* renderTarget = nullptr;
  Surface* depthStencil = nullptr;
  bool inScene = false;
  // loss
  int lostEpochSeen = 0;
  int lostPollsLeft = 0;
  int lostState = 0;  // 0 operational, 1 lost, 2 lost and may be reset
  int lossAfterPresents = -1;
  // resources in the default pool that block Reset
  int defaultPoolResources = 0;
  State st;
  bool recording = false;
  State recordBase;  // the state before recording began, restored at its end
  StateMask recordMask;
  std::vector<StateBlock*> stateBlocks;
  std::map<UINT, std::vector<PALETTEENTRY>> palettes;
  uint32_t paletteSerial = 1;  // changes with the palette contents or the current palette
  Raster* raster = nullptr;
  D3DGAMMARAMP gamma;
  D3DCLIPSTATUS8 clipStatus{};
  std::vector<uint32_t> presentScratch;
  VertexScratch* vs = nullptr;  // vertex processing work arrays
  std::vector<VertexShader*> vshaders;  // by handle >> 1; null once deleted
  // Changes with every state setter: the vertex set-up and the pixel state of the last draw are
  // kept while it stays the same.
  uint64_t stateSerial = 1;
  PixelState pixel;
  uint64_t pixelSerial = 0;
  // Pixel shaders by handle. A deleted one waits in `retired` until the queue that may still
  // run it has been drawn.
  std::map<DWORD, std::shared_ptr<PixelProgram>> pixelShaders;
  DWORD nextPixelShader = 1;
  std::vector<std::shared_ptr<PixelProgram>> retiredShaders;

  Device();
  ~Device();
  HRESULT SetupPresentation(D3DPRESENT_PARAMETERS* pp);
  void ReleasePresentation();
  void ResetState();
  void FillFreshDepth();
  void CheckLoss();
  bool IsLost() {
    CheckLoss();
    return lostState != 0;
  }
  void Flush();
  // Draw entry of vertex processing (vertex.cpp). vertices and stride: stream 0 from firstVertex
  // on; a programmable shader reads its streams from firstVertex on, or (firstVertex < 0) only
  // stream 0 from user memory at vertices.
  HRESULT DrawVertices(D3DPRIMITIVETYPE type, UINT primCount, const uint8_t* vertices, UINT vertexCount,
                       UINT stride, const void* indices, bool index32, UINT indexCount, int indexBias,
                       int64_t firstVertex);
  VertexShader* FindVertexShader(DWORD handle);  // null for vertex formats and deleted shaders
  void BuildPixelState(PixelState& ps);
  // The bound pixel shader, null for the texture stages.
  const PixelProgram* BoundPixelShader() const;
  // The pixel state for a draw: the kept one unless a state or a bound texture's contents changed.
  const PixelState& CurrentPixelState();
  const TextureLevelCache* SamplerLevels(Texture* t, int& count);
  HRESULT Validate(DWORD* passes);

  HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI TestCooperativeLevel() override;
  UINT WINAPI GetAvailableTextureMem() override;
  HRESULT WINAPI ResourceManagerDiscardBytes(DWORD Bytes) override;
  HRESULT WINAPI GetDirect3D(IDirect3D8** ppD3D8) override;
  HRESULT WINAPI GetDeviceCaps(D3DCAPS8* pCaps) override;
  HRESULT WINAPI GetDisplayMode(D3DDISPLAYMODE* pMode) override;
  HRESULT WINAPI GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) override;
  HRESULT WINAPI SetCursorProperties(UINT XHotSpot, UINT YHotSpot, IDirect3DSurface8* pCursorBitmap) override;
  void WINAPI SetCursorPosition(UINT XScreenSpace, UINT YScreenSpace, DWORD Flags) override;
  BOOL WINAPI ShowCursor(BOOL bShow) override;
  HRESULT WINAPI CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain8**) override;
  HRESULT WINAPI Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override;
  HRESULT WINAPI Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                         const RGNDATA* dirty_region) override;
  HRESULT WINAPI GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8** ppBackBuffer) override;
  HRESULT WINAPI GetRasterStatus(D3DRASTER_STATUS* pRasterStatus) override;
  void WINAPI SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) override;
  void WINAPI GetGammaRamp(D3DGAMMARAMP* pRamp) override;
  HRESULT WINAPI CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                               IDirect3DTexture8** ppTexture) override;
  HRESULT WINAPI CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                     IDirect3DVolumeTexture8**) override;
  HRESULT WINAPI CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture8**) override;
  HRESULT WINAPI CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                    IDirect3DVertexBuffer8** ppVertexBuffer) override;
  HRESULT WINAPI CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                   IDirect3DIndexBuffer8** ppIndexBuffer) override;
  HRESULT WINAPI CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                                    BOOL Lockable, IDirect3DSurface8** ppSurface) override;
  HRESULT WINAPI CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                           D3DMULTISAMPLE_TYPE MultiSample, IDirect3DSurface8** ppSurface) override;
  HRESULT WINAPI CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format, IDirect3DSurface8** ppSurface) override;
  HRESULT WINAPI CopyRects(IDirect3DSurface8* src_surface, const RECT* src_rects, UINT rect_count,
                           IDirect3DSurface8* dst_surface, const POINT* dst_points) override;
  HRESULT WINAPI UpdateTexture(IDirect3DBaseTexture8* pSourceTexture,
                               IDirect3DBaseTexture8* pDestinationTexture) override;
  HRESULT WINAPI GetFrontBuffer(IDirect3DSurface8* pDestSurface) override;
  HRESULT WINAPI SetRenderTarget(IDirect3DSurface8* pRenderTarget, IDirect3DSurface8* pNewZStencil) override;
  HRESULT WINAPI GetRenderTarget(IDirect3DSurface8** ppRenderTarget) override;
  HRESULT WINAPI GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface) override;
  HRESULT WINAPI BeginScene() override;
  HRESULT WINAPI EndScene() override;
  HRESULT WINAPI Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                       DWORD stencil) override;
  HRESULT WINAPI SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT WINAPI GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
  HRESULT WINAPI MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT WINAPI SetViewport(const D3DVIEWPORT8* viewport) override;
  HRESULT WINAPI GetViewport(D3DVIEWPORT8* pViewport) override;
  HRESULT WINAPI SetMaterial(const D3DMATERIAL8* material) override;
  HRESULT WINAPI GetMaterial(D3DMATERIAL8* pMaterial) override;
  HRESULT WINAPI SetLight(DWORD index, const D3DLIGHT8* light) override;
  HRESULT WINAPI GetLight(DWORD Index, D3DLIGHT8* pLight) override;
  HRESULT WINAPI LightEnable(DWORD Index, BOOL Enable) override;
  HRESULT WINAPI GetLightEnable(DWORD Index, BOOL* pEnable) override;
  HRESULT WINAPI SetClipPlane(DWORD index, const float* plane) override;
  HRESULT WINAPI GetClipPlane(DWORD Index, float* pPlane) override;
  HRESULT WINAPI SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
  HRESULT WINAPI GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
  HRESULT WINAPI BeginStateBlock() override;
  HRESULT WINAPI EndStateBlock(DWORD* pToken) override;
  HRESULT WINAPI ApplyStateBlock(DWORD Token) override;
  HRESULT WINAPI CaptureStateBlock(DWORD Token) override;
  HRESULT WINAPI DeleteStateBlock(DWORD Token) override;
  HRESULT WINAPI CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken) override;
  HRESULT WINAPI SetClipStatus(const D3DCLIPSTATUS8* clip_status) override;
  HRESULT WINAPI GetClipStatus(D3DCLIPSTATUS8* pClipStatus) override;
  HRESULT WINAPI GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture) override;
  HRESULT WINAPI SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture) override;
  HRESULT WINAPI GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
  HRESULT WINAPI SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
  HRESULT WINAPI ValidateDevice(DWORD* pNumPasses) override;
  HRESULT WINAPI GetInfo(DWORD DevInfoID, void* pDevInfoStruct, DWORD DevInfoStructSize) override;
  HRESULT WINAPI SetPaletteEntries(UINT palette_idx, const PALETTEENTRY* entries) override;
  HRESULT WINAPI GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY* pEntries) override;
  HRESULT WINAPI SetCurrentTexturePalette(UINT PaletteNumber) override;
  HRESULT WINAPI GetCurrentTexturePalette(UINT* PaletteNumber) override;
  HRESULT WINAPI DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
  HRESULT WINAPI DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT minIndex, UINT NumVertices,
                                      UINT startIndex, UINT primCount) override;
  HRESULT WINAPI DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void* data,
                                 UINT stride) override;
  HRESULT WINAPI DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx, UINT vertex_count,
                                        UINT primitive_count, const void* index_data, D3DFORMAT index_format,
                                        const void* data, UINT stride) override;
  HRESULT WINAPI ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount,
                                 IDirect3DVertexBuffer8* pDestBuffer, DWORD Flags) override;
  HRESULT WINAPI CreateVertexShader(const DWORD* declaration, const DWORD* byte_code, DWORD* shader,
                                    DWORD usage) override;
  HRESULT WINAPI SetVertexShader(DWORD Handle) override;
  HRESULT WINAPI GetVertexShader(DWORD* pHandle) override;
  HRESULT WINAPI DeleteVertexShader(DWORD Handle) override;
  HRESULT WINAPI SetVertexShaderConstant(DWORD reg_idx, const void* data, DWORD count) override;
  HRESULT WINAPI GetVertexShaderConstant(DWORD Register, void* pConstantData, DWORD ConstantCount) override;
  HRESULT WINAPI GetVertexShaderDeclaration(DWORD Handle, void* pData, DWORD* pSizeOfData) override;
  HRESULT WINAPI GetVertexShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) override;
  HRESULT WINAPI SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData, UINT Stride) override;
  HRESULT WINAPI GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData, UINT* pStride) override;
  HRESULT WINAPI SetIndices(IDirect3DIndexBuffer8* pIndexData, UINT BaseVertexIndex) override;
  HRESULT WINAPI GetIndices(IDirect3DIndexBuffer8** ppIndexData, UINT* pBaseVertexIndex) override;
  HRESULT WINAPI CreatePixelShader(const DWORD* byte_code, DWORD* shader) override;
  HRESULT WINAPI SetPixelShader(DWORD Handle) override;
  HRESULT WINAPI GetPixelShader(DWORD* pHandle) override;
  HRESULT WINAPI DeletePixelShader(DWORD Handle) override;
  HRESULT WINAPI SetPixelShaderConstant(DWORD reg_idx, const void* data, DWORD count) override;
  HRESULT WINAPI GetPixelShaderConstant(DWORD Register, void* pConstantData, DWORD ConstantCount) override;
  HRESULT WINAPI GetPixelShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) override;
  HRESULT WINAPI DrawRectPatch(UINT handle, const float* segment_count, const D3DRECTPATCH_INFO* patch_info) override;
  HRESULT WINAPI DrawTriPatch(UINT handle, const float* segment_count, const D3DTRIPATCH_INFO* patch_info) override;
  HRESULT WINAPI DeletePatch(UINT Handle) override;
};

}  // namespace mxd3d

#endif
