// Direct3D 8 for the Linux build: the COM interfaces of the software device, with the same method
// order, argument lists and results as the platform's own header, so engine code compiles
// unchanged against either. Error codes, creation flags and the entry point are here too.
#ifndef MARLIX_D3D8_H
#define MARLIX_D3D8_H

#ifndef DIRECT3D_VERSION
#define DIRECT3D_VERSION 0x0800
#endif

#include <stdlib.h>
#include <windows.h>
#if defined(__has_include)
#if __has_include(<objbase.h>)
#include <objbase.h>
#endif
#endif
#include "d3d8types.h"
#include "d3d8caps.h"

// IUnknown, GUID and DEFINE_GUID come from the Win32 headers.

// ---- behaviour flags of CreateDevice --------------------------------------------------------
#define D3DCREATE_FPU_PRESERVE 0x00000002L
#define D3DCREATE_MULTITHREADED 0x00000004L
#define D3DCREATE_PUREDEVICE 0x00000010L
#define D3DCREATE_SOFTWARE_VERTEXPROCESSING 0x00000020L
#define D3DCREATE_HARDWARE_VERTEXPROCESSING 0x00000040L
#define D3DCREATE_MIXED_VERTEXPROCESSING 0x00000080L

#define D3DSPD_IUNKNOWN 0x00000001L

// ---- versions and results -------------------------------------------------------------------
#define D3D_SDK_VERSION 120
#define D3DADAPTER_DEFAULT 0
#define D3DENUM_NO_WHQL_LEVEL 2

#define _FACD3D 0x876
#define MAKE_D3DHRESULT(code) MAKE_HRESULT(1, _FACD3D, code)

#define D3D_OK S_OK
#define D3DERR_WRONGTEXTUREFORMAT MAKE_D3DHRESULT(2072)
#define D3DERR_UNSUPPORTEDCOLOROPERATION MAKE_D3DHRESULT(2073)
#define D3DERR_UNSUPPORTEDCOLORARG MAKE_D3DHRESULT(2074)
#define D3DERR_UNSUPPORTEDALPHAOPERATION MAKE_D3DHRESULT(2075)
#define D3DERR_UNSUPPORTEDALPHAARG MAKE_D3DHRESULT(2076)
#define D3DERR_TOOMANYOPERATIONS MAKE_D3DHRESULT(2077)
#define D3DERR_CONFLICTINGTEXTUREFILTER MAKE_D3DHRESULT(2078)
#define D3DERR_UNSUPPORTEDFACTORVALUE MAKE_D3DHRESULT(2079)
#define D3DERR_CONFLICTINGRENDERSTATE MAKE_D3DHRESULT(2081)
#define D3DERR_UNSUPPORTEDTEXTUREFILTER MAKE_D3DHRESULT(2082)
#define D3DERR_CONFLICTINGTEXTUREPALETTE MAKE_D3DHRESULT(2086)
#define D3DERR_DRIVERINTERNALERROR MAKE_D3DHRESULT(2087)
#define D3DERR_NOTFOUND MAKE_D3DHRESULT(2150)
#define D3DERR_MOREDATA MAKE_D3DHRESULT(2151)
#define D3DERR_DEVICELOST MAKE_D3DHRESULT(2152)
#define D3DERR_DEVICENOTRESET MAKE_D3DHRESULT(2153)
#define D3DERR_NOTAVAILABLE MAKE_D3DHRESULT(2154)
#define D3DERR_OUTOFVIDEOMEMORY MAKE_D3DHRESULT(380)
#define D3DERR_INVALIDDEVICE MAKE_D3DHRESULT(2155)
#define D3DERR_INVALIDCALL MAKE_D3DHRESULT(2156)
#define D3DERR_DRIVERINVALIDCALL MAKE_D3DHRESULT(2157)

// ---- interface identifiers ----------------------------------------------------------------
DEFINE_GUID(IID_IDirect3D8, 0x1DD9E8DA, 0x1C77, 0x4D40, 0xB0, 0xCF, 0x98, 0xFE, 0xFD, 0xFF, 0x95, 0x12);
DEFINE_GUID(IID_IDirect3DDevice8, 0x7385E5DF, 0x8FE8, 0x41D5, 0x86, 0xB6, 0xD7, 0xB4, 0x85, 0x47, 0xB6, 0xCF);
DEFINE_GUID(IID_IDirect3DResource8, 0x1B36BB7B, 0x09B7, 0x410A, 0xB4, 0x45, 0x7D, 0x14, 0x30, 0xD7, 0xB3, 0x3F);
DEFINE_GUID(IID_IDirect3DVertexBuffer8, 0x8AEEEAC7, 0x05F9, 0x44D4, 0xB5, 0x91, 0x00, 0x0B, 0x0D, 0xF1, 0xCB, 0x95);
DEFINE_GUID(IID_IDirect3DVolume8, 0xBD7349F5, 0x14F1, 0x42E4, 0x9C, 0x79, 0x97, 0x23, 0x80, 0xDB, 0x40, 0xC0);
DEFINE_GUID(IID_IDirect3DSwapChain8, 0x928C088B, 0x76B9, 0x4C6B, 0xA5, 0x36, 0xA5, 0x90, 0x85, 0x38, 0x76, 0xCD);
DEFINE_GUID(IID_IDirect3DSurface8, 0xB96EEBCA, 0xB326, 0x4EA5, 0x88, 0x2F, 0x2F, 0xF5, 0xBA, 0xE0, 0x21, 0xDD);
DEFINE_GUID(IID_IDirect3DIndexBuffer8, 0x0E689C9A, 0x053D, 0x44A0, 0x9D, 0x92, 0xDB, 0x0E, 0x3D, 0x75, 0x0F, 0x86);
DEFINE_GUID(IID_IDirect3DBaseTexture8, 0xB4211CFA, 0x51B9, 0x4A9F, 0xAB, 0x78, 0xDB, 0x99, 0xB2, 0xBB, 0x67, 0x8E);
DEFINE_GUID(IID_IDirect3DTexture8, 0xE4CDD575, 0x2866, 0x4F01, 0xB1, 0x2E, 0x7E, 0xEC, 0xE1, 0xEC, 0x93, 0x58);
DEFINE_GUID(IID_IDirect3DCubeTexture8, 0x3EE5B968, 0x2ACA, 0x4C34, 0x8B, 0xB5, 0x7E, 0x0C, 0x3D, 0x19, 0xB7, 0x50);
DEFINE_GUID(IID_IDirect3DVolumeTexture8, 0x4B8AAAFA, 0x140F, 0x42BA, 0x91, 0x31, 0x59, 0x7E, 0xAF, 0xAA, 0x2E, 0xAD);

struct IDirect3D8;
struct IDirect3DDevice8;
struct IDirect3DResource8;
struct IDirect3DVertexBuffer8;
struct IDirect3DVolume8;
struct IDirect3DSwapChain8;
struct IDirect3DSurface8;
struct IDirect3DIndexBuffer8;
struct IDirect3DBaseTexture8;
struct IDirect3DTexture8;
struct IDirect3DCubeTexture8;
struct IDirect3DVolumeTexture8;

typedef struct IDirect3D8* LPDIRECT3D8;
typedef struct IDirect3DDevice8* LPDIRECT3DDEVICE8;
typedef struct IDirect3DResource8 *LPDIRECT3DRESOURCE8, *PDIRECT3DRESOURCE8;
typedef struct IDirect3DVertexBuffer8 *LPDIRECT3DVERTEXBUFFER8, *PDIRECT3DVERTEXBUFFER8;
typedef struct IDirect3DVolume8 *LPDIRECT3DVOLUME8, *PDIRECT3DVOLUME8;
typedef struct IDirect3DSwapChain8 *LPDIRECT3DSWAPCHAIN8, *PDIRECT3DSWAPCHAIN8;
typedef struct IDirect3DSurface8 *LPDIRECT3DSURFACE8, *PDIRECT3DSURFACE8;
typedef struct IDirect3DIndexBuffer8 *LPDIRECT3DINDEXBUFFER8, *PDIRECT3DINDEXBUFFER8;
typedef struct IDirect3DBaseTexture8 *LPDIRECT3DBASETEXTURE8, *PDIRECT3DBASETEXTURE8;
typedef struct IDirect3DTexture8 *LPDIRECT3DTEXTURE8, *PDIRECT3DTEXTURE8;
typedef struct IDirect3DCubeTexture8 *LPDIRECT3DCUBETEXTURE8, *PDIRECT3DCUBETEXTURE8;
typedef struct IDirect3DVolumeTexture8 *LPDIRECT3DVOLUMETEXTURE8, *PDIRECT3DVOLUMETEXTURE8;

// ---- IDirect3D8 -----------------------------------------------------------------------------
struct IDirect3D8 : public IUnknown {
  virtual HRESULT WINAPI RegisterSoftwareDevice(void* pInitializeFunction) = 0;
  virtual UINT WINAPI GetAdapterCount() = 0;
  virtual HRESULT WINAPI GetAdapterIdentifier(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER8* pIdentifier) = 0;
  virtual UINT WINAPI GetAdapterModeCount(UINT Adapter) = 0;
  virtual HRESULT WINAPI EnumAdapterModes(UINT Adapter, UINT Mode, D3DDISPLAYMODE* pMode) = 0;
  virtual HRESULT WINAPI GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) = 0;
  virtual HRESULT WINAPI CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                         D3DFORMAT BackBufferFormat, BOOL Windowed) = 0;
  virtual HRESULT WINAPI CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                           DWORD Usage, D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) = 0;
  virtual HRESULT WINAPI CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                                    BOOL Windowed, D3DMULTISAMPLE_TYPE MultiSampleType) = 0;
  virtual HRESULT WINAPI CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                                D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) = 0;
  virtual HRESULT WINAPI GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) = 0;
  virtual HMONITOR WINAPI GetAdapterMonitor(UINT Adapter) = 0;
  virtual HRESULT WINAPI CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                      D3DPRESENT_PARAMETERS* pPresentationParameters,
                                      IDirect3DDevice8** ppReturnedDeviceInterface) = 0;
};

// ---- volumes, swap chains, surfaces ---------------------------------------------------------
struct IDirect3DVolume8 : public IUnknown {
  virtual HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) = 0;
  virtual HRESULT WINAPI SetPrivateData(REFGUID refguid, const void* data, DWORD data_size, DWORD flags) = 0;
  virtual HRESULT WINAPI GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI FreePrivateData(REFGUID refguid) = 0;
  virtual HRESULT WINAPI GetContainer(REFIID riid, void** ppContainer) = 0;
  virtual HRESULT WINAPI GetDesc(D3DVOLUME_DESC* pDesc) = 0;
  virtual HRESULT WINAPI LockBox(D3DLOCKED_BOX* locked_box, const D3DBOX* box, DWORD flags) = 0;
  virtual HRESULT WINAPI UnlockBox() = 0;
};

struct IDirect3DSwapChain8 : public IUnknown {
  virtual HRESULT WINAPI Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                                 const RGNDATA* dirty_region) = 0;
  virtual HRESULT WINAPI GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8** ppBackBuffer) = 0;
};

struct IDirect3DSurface8 : public IUnknown {
  virtual HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) = 0;
  virtual HRESULT WINAPI SetPrivateData(REFGUID refguid, const void* data, DWORD data_size, DWORD flags) = 0;
  virtual HRESULT WINAPI GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI FreePrivateData(REFGUID refguid) = 0;
  virtual HRESULT WINAPI GetContainer(REFIID riid, void** ppContainer) = 0;
  virtual HRESULT WINAPI GetDesc(D3DSURFACE_DESC* pDesc) = 0;
  virtual HRESULT WINAPI LockRect(D3DLOCKED_RECT* locked_rect, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT WINAPI UnlockRect() = 0;
};

// ---- resources ------------------------------------------------------------------------------
struct IDirect3DResource8 : public IUnknown {
  virtual HRESULT WINAPI GetDevice(IDirect3DDevice8** ppDevice) = 0;
  virtual HRESULT WINAPI SetPrivateData(REFGUID refguid, const void* data, DWORD data_size, DWORD flags) = 0;
  virtual HRESULT WINAPI GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI FreePrivateData(REFGUID refguid) = 0;
  virtual DWORD WINAPI SetPriority(DWORD PriorityNew) = 0;
  virtual DWORD WINAPI GetPriority() = 0;
  virtual void WINAPI PreLoad() = 0;
  virtual D3DRESOURCETYPE WINAPI GetType() = 0;
};

struct IDirect3DVertexBuffer8 : public IDirect3DResource8 {
  virtual HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) = 0;
  virtual HRESULT WINAPI Unlock() = 0;
  virtual HRESULT WINAPI GetDesc(D3DVERTEXBUFFER_DESC* pDesc) = 0;
};

struct IDirect3DIndexBuffer8 : public IDirect3DResource8 {
  virtual HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) = 0;
  virtual HRESULT WINAPI Unlock() = 0;
  virtual HRESULT WINAPI GetDesc(D3DINDEXBUFFER_DESC* pDesc) = 0;
};

struct IDirect3DBaseTexture8 : public IDirect3DResource8 {
  virtual DWORD WINAPI SetLOD(DWORD LODNew) = 0;
  virtual DWORD WINAPI GetLOD() = 0;
  virtual DWORD WINAPI GetLevelCount() = 0;
};

struct IDirect3DCubeTexture8 : public IDirect3DBaseTexture8 {
  virtual HRESULT WINAPI GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
  virtual HRESULT WINAPI GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level,
                                           IDirect3DSurface8** ppCubeMapSurface) = 0;
  virtual HRESULT WINAPI LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked_rect, const RECT* rect,
                                  DWORD flags) = 0;
  virtual HRESULT WINAPI UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) = 0;
  virtual HRESULT WINAPI AddDirtyRect(D3DCUBEMAP_FACES face, const RECT* dirty_rect) = 0;
};

struct IDirect3DTexture8 : public IDirect3DBaseTexture8 {
  virtual HRESULT WINAPI GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
  virtual HRESULT WINAPI GetSurfaceLevel(UINT Level, IDirect3DSurface8** ppSurfaceLevel) = 0;
  virtual HRESULT WINAPI LockRect(UINT level, D3DLOCKED_RECT* locked_rect, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT WINAPI UnlockRect(UINT Level) = 0;
  virtual HRESULT WINAPI AddDirtyRect(const RECT* dirty_rect) = 0;
};

struct IDirect3DVolumeTexture8 : public IDirect3DBaseTexture8 {
  virtual HRESULT WINAPI GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc) = 0;
  virtual HRESULT WINAPI GetVolumeLevel(UINT Level, IDirect3DVolume8** ppVolumeLevel) = 0;
  virtual HRESULT WINAPI LockBox(UINT level, D3DLOCKED_BOX* locked_box, const D3DBOX* box, DWORD flags) = 0;
  virtual HRESULT WINAPI UnlockBox(UINT Level) = 0;
  virtual HRESULT WINAPI AddDirtyBox(const D3DBOX* dirty_box) = 0;
};

// ---- IDirect3DDevice8 -----------------------------------------------------------------------
struct IDirect3DDevice8 : public IUnknown {
  virtual HRESULT WINAPI TestCooperativeLevel() = 0;
  virtual UINT WINAPI GetAvailableTextureMem() = 0;
  virtual HRESULT WINAPI ResourceManagerDiscardBytes(DWORD Bytes) = 0;
  virtual HRESULT WINAPI GetDirect3D(IDirect3D8** ppD3D8) = 0;
  virtual HRESULT WINAPI GetDeviceCaps(D3DCAPS8* pCaps) = 0;
  virtual HRESULT WINAPI GetDisplayMode(D3DDISPLAYMODE* pMode) = 0;
  virtual HRESULT WINAPI GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) = 0;
  virtual HRESULT WINAPI SetCursorProperties(UINT XHotSpot, UINT YHotSpot, IDirect3DSurface8* pCursorBitmap) = 0;
  virtual void WINAPI SetCursorPosition(UINT XScreenSpace, UINT YScreenSpace, DWORD Flags) = 0;
  virtual BOOL WINAPI ShowCursor(BOOL bShow) = 0;
  virtual HRESULT WINAPI CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* pPresentationParameters,
                                                   IDirect3DSwapChain8** pSwapChain) = 0;
  virtual HRESULT WINAPI Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) = 0;
  virtual HRESULT WINAPI Present(const RECT* src_rect, const RECT* dst_rect, HWND dst_window_override,
                                 const RGNDATA* dirty_region) = 0;
  virtual HRESULT WINAPI GetBackBuffer(UINT BackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface8** ppBackBuffer) = 0;
  virtual HRESULT WINAPI GetRasterStatus(D3DRASTER_STATUS* pRasterStatus) = 0;
  virtual void WINAPI SetGammaRamp(DWORD flags, const D3DGAMMARAMP* ramp) = 0;
  virtual void WINAPI GetGammaRamp(D3DGAMMARAMP* pRamp) = 0;
  virtual HRESULT WINAPI CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                       D3DPOOL Pool, IDirect3DTexture8** ppTexture) = 0;
  virtual HRESULT WINAPI CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                             D3DFORMAT Format, D3DPOOL Pool,
                                             IDirect3DVolumeTexture8** ppVolumeTexture) = 0;
  virtual HRESULT WINAPI CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                           IDirect3DCubeTexture8** ppCubeTexture) = 0;
  virtual HRESULT WINAPI CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                            IDirect3DVertexBuffer8** ppVertexBuffer) = 0;
  virtual HRESULT WINAPI CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                           IDirect3DIndexBuffer8** ppIndexBuffer) = 0;
  virtual HRESULT WINAPI CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format,
                                            D3DMULTISAMPLE_TYPE MultiSample, BOOL Lockable,
                                            IDirect3DSurface8** ppSurface) = 0;
  virtual HRESULT WINAPI CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                                   D3DMULTISAMPLE_TYPE MultiSample, IDirect3DSurface8** ppSurface) = 0;
  virtual HRESULT WINAPI CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                            IDirect3DSurface8** ppSurface) = 0;
  virtual HRESULT WINAPI CopyRects(IDirect3DSurface8* src_surface, const RECT* src_rects, UINT rect_count,
                                   IDirect3DSurface8* dst_surface, const POINT* dst_points) = 0;
  virtual HRESULT WINAPI UpdateTexture(IDirect3DBaseTexture8* pSourceTexture,
                                       IDirect3DBaseTexture8* pDestinationTexture) = 0;
  virtual HRESULT WINAPI GetFrontBuffer(IDirect3DSurface8* pDestSurface) = 0;
  virtual HRESULT WINAPI SetRenderTarget(IDirect3DSurface8* pRenderTarget, IDirect3DSurface8* pNewZStencil) = 0;
  virtual HRESULT WINAPI GetRenderTarget(IDirect3DSurface8** ppRenderTarget) = 0;
  virtual HRESULT WINAPI GetDepthStencilSurface(IDirect3DSurface8** ppZStencilSurface) = 0;
  virtual HRESULT WINAPI BeginScene() = 0;
  virtual HRESULT WINAPI EndScene() = 0;
  virtual HRESULT WINAPI Clear(DWORD rect_count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                               DWORD stencil) = 0;
  virtual HRESULT WINAPI SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT WINAPI GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) = 0;
  virtual HRESULT WINAPI MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT WINAPI SetViewport(const D3DVIEWPORT8* viewport) = 0;
  virtual HRESULT WINAPI GetViewport(D3DVIEWPORT8* pViewport) = 0;
  virtual HRESULT WINAPI SetMaterial(const D3DMATERIAL8* material) = 0;
  virtual HRESULT WINAPI GetMaterial(D3DMATERIAL8* pMaterial) = 0;
  virtual HRESULT WINAPI SetLight(DWORD index, const D3DLIGHT8* light) = 0;
  virtual HRESULT WINAPI GetLight(DWORD Index, D3DLIGHT8* pLight) = 0;
  virtual HRESULT WINAPI LightEnable(DWORD Index, BOOL Enable) = 0;
  virtual HRESULT WINAPI GetLightEnable(DWORD Index, BOOL* pEnable) = 0;
  virtual HRESULT WINAPI SetClipPlane(DWORD index, const float* plane) = 0;
  virtual HRESULT WINAPI GetClipPlane(DWORD Index, float* pPlane) = 0;
  virtual HRESULT WINAPI SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) = 0;
  virtual HRESULT WINAPI GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) = 0;
  virtual HRESULT WINAPI BeginStateBlock() = 0;
  virtual HRESULT WINAPI EndStateBlock(DWORD* pToken) = 0;
  virtual HRESULT WINAPI ApplyStateBlock(DWORD Token) = 0;
  virtual HRESULT WINAPI CaptureStateBlock(DWORD Token) = 0;
  virtual HRESULT WINAPI DeleteStateBlock(DWORD Token) = 0;
  virtual HRESULT WINAPI CreateStateBlock(D3DSTATEBLOCKTYPE Type, DWORD* pToken) = 0;
  virtual HRESULT WINAPI SetClipStatus(const D3DCLIPSTATUS8* clip_status) = 0;
  virtual HRESULT WINAPI GetClipStatus(D3DCLIPSTATUS8* pClipStatus) = 0;
  virtual HRESULT WINAPI GetTexture(DWORD Stage, IDirect3DBaseTexture8** ppTexture) = 0;
  virtual HRESULT WINAPI SetTexture(DWORD Stage, IDirect3DBaseTexture8* pTexture) = 0;
  virtual HRESULT WINAPI GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) = 0;
  virtual HRESULT WINAPI SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) = 0;
  virtual HRESULT WINAPI ValidateDevice(DWORD* pNumPasses) = 0;
  virtual HRESULT WINAPI GetInfo(DWORD DevInfoID, void* pDevInfoStruct, DWORD DevInfoStructSize) = 0;
  virtual HRESULT WINAPI SetPaletteEntries(UINT palette_idx, const PALETTEENTRY* entries) = 0;
  virtual HRESULT WINAPI GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY* pEntries) = 0;
  virtual HRESULT WINAPI SetCurrentTexturePalette(UINT PaletteNumber) = 0;
  virtual HRESULT WINAPI GetCurrentTexturePalette(UINT* PaletteNumber) = 0;
  virtual HRESULT WINAPI DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) = 0;
  virtual HRESULT WINAPI DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT minIndex, UINT NumVertices,
                                              UINT startIndex, UINT primCount) = 0;
  virtual HRESULT WINAPI DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void* data,
                                         UINT stride) = 0;
  virtual HRESULT WINAPI DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx,
                                                UINT vertex_count, UINT primitive_count, const void* index_data,
                                                D3DFORMAT index_format, const void* data, UINT stride) = 0;
  virtual HRESULT WINAPI ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount,
                                         IDirect3DVertexBuffer8* pDestBuffer, DWORD Flags) = 0;
  virtual HRESULT WINAPI CreateVertexShader(const DWORD* declaration, const DWORD* byte_code, DWORD* shader,
                                            DWORD usage) = 0;
  virtual HRESULT WINAPI SetVertexShader(DWORD Handle) = 0;
  virtual HRESULT WINAPI GetVertexShader(DWORD* pHandle) = 0;
  virtual HRESULT WINAPI DeleteVertexShader(DWORD Handle) = 0;
  virtual HRESULT WINAPI SetVertexShaderConstant(DWORD reg_idx, const void* data, DWORD count) = 0;
  virtual HRESULT WINAPI GetVertexShaderConstant(DWORD Register, void* pConstantData, DWORD ConstantCount) = 0;
  virtual HRESULT WINAPI GetVertexShaderDeclaration(DWORD Handle, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI GetVertexShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData, UINT Stride) = 0;
  virtual HRESULT WINAPI GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8** ppStreamData, UINT* pStride) = 0;
  virtual HRESULT WINAPI SetIndices(IDirect3DIndexBuffer8* pIndexData, UINT BaseVertexIndex) = 0;
  virtual HRESULT WINAPI GetIndices(IDirect3DIndexBuffer8** ppIndexData, UINT* pBaseVertexIndex) = 0;
  virtual HRESULT WINAPI CreatePixelShader(const DWORD* byte_code, DWORD* shader) = 0;
  virtual HRESULT WINAPI SetPixelShader(DWORD Handle) = 0;
  virtual HRESULT WINAPI GetPixelShader(DWORD* pHandle) = 0;
  virtual HRESULT WINAPI DeletePixelShader(DWORD Handle) = 0;
  virtual HRESULT WINAPI SetPixelShaderConstant(DWORD reg_idx, const void* data, DWORD count) = 0;
  virtual HRESULT WINAPI GetPixelShaderConstant(DWORD Register, void* pConstantData, DWORD ConstantCount) = 0;
  virtual HRESULT WINAPI GetPixelShaderFunction(DWORD Handle, void* pData, DWORD* pSizeOfData) = 0;
  virtual HRESULT WINAPI DrawRectPatch(UINT handle, const float* segment_count,
                                       const D3DRECTPATCH_INFO* patch_info) = 0;
  virtual HRESULT WINAPI DrawTriPatch(UINT handle, const float* segment_count, const D3DTRIPATCH_INFO* patch_info) = 0;
  virtual HRESULT WINAPI DeletePatch(UINT Handle) = 0;
};

// The entry point: the device library exports it (and a presence probe finds it by name).
extern "C" IDirect3D8* WINAPI Direct3DCreate8(UINT SDKVersion);

#endif
