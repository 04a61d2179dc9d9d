// Direct3D 8 device and mode enumeration, mode setting and device lifetime.
#ifndef KSHRDWRE_H
#define KSHRDWRE_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

struct KSViewport;

// Colour depth of a D3DFORMAT: 8, 16, 24, 32, or 0 for formats outside the table.
int32_t KS_FormatBits(int32_t format);

// Device enumeration: reads caps, builds the device-type list and the mode list. Returns 6 (the
// Direct3D 8 driver id), or 0 when no device type was listed. No usable mode is a fatal error.
int KS_EnumerateDevices(void);
// Fills the device-type list with "HAL" and "REF".
void KS_BuildDeviceList(void);
// Appends the current adapter's modes (at least 640x400, one per size and format, at most 255).
void KS_EnumerateModes(void);
// Derives ksGlobal.caps from the caps of the current device entry.
void KS_ReadDeviceCaps(void);
// First of D32, D24X8, D16 usable as depth buffer with the adapter format: 1 and *depth, or 0.
int KS_FindDepthFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT* depth);

// Opens the device for the window (client area) or the full-screen mode width x height. Returns
// 1, or -1 when the full-screen mode is not listed and the fatal-error path returned.
int KS_SetModeD3D(int width, int height, int refresh);
void KS_SelectAdapter(int n);
void KS_SetDefaultRenderStates(void);
void KS_SetDefaultMatrices(void);
void KS_SetRenderTarget(IDirect3DSurface8* surface);
// Procedure-table implementations of KSGFX_SetDrawTarget and KSGFX_ShowFrame.
void KS_SetDrawTargetD3D(int flag);
int KS_ShowFrameD3D(void);
// Releases the device and the Direct3D objects, then the memory tracker reports and frees leaks.
void KS_ShutdownDevice(void);

void KS_MakeViewport(KSViewport* viewport, int x1, int y1, int x2, int y2, int32_t value);
void KS_ResizeViewport(KSViewport* viewport, int x1, int y1, int x2, int y2);
void KS_SetViewport(const KSViewport* viewport);
void KS_SetDepthWrite(int flag);
void KS_SetTextureFiltering(int minLinear, int magLinear);
void KS_SetTransformMode(int flag);

// Releases the engine's reference to the back buffer; the render target and the 2D drawing surface
// are cleared with it.
void KS_ReleaseBackBuffer(void);
// Re-fetches back buffer 0 of the current device into ksGlobal.backBuffer (releasing the old one)
// and makes it the render target and the 2D drawing surface. Returns 1, or 0 when the device gave
// no back buffer.
int KS_FetchBackBuffer(void);
// Resets the current device to a back buffer of width x height: the render textures are released
// before and made again after, the back buffer is fetched again, the default render states are set
// and the screen size and windowed present rectangles follow the new size. The window-resize path
// and the lost-device recovery both come through here. Returns the result of Reset; after a failure
// (a device lost at this moment) the next present's recovery tries again with the same size.
HRESULT KS_ResetDevice(int width, int height);

#endif
