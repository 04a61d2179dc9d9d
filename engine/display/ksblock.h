// Surfaces and pixel blocks: creation, lock, copies, palettised and 32-bit images, scaling, and the
// pixel utilities of the texture and image code.
#ifndef KSBLOCK_H
#define KSBLOCK_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

// An image surface (system memory) of the given size and format; null after logging for a size
// of 0 or less, or when the device refuses.
IDirect3DSurface8* KS_CreateSurface(int width, int height, D3DFORMAT format);
int KS_SurfaceWidth(IDirect3DSurface8* surface);
int KS_SurfaceHeight(IDirect3DSurface8* surface);
void KS_ReleaseSurface(IDirect3DSurface8* surface);
// Locks the whole surface; returns the pixels and writes the pitch. A failure is fatal.
void* KS_LockSurface(IDirect3DSurface8* surface, int* pitch);
void KS_UnlockSurface(IDirect3DSurface8* surface);
// Makes the surface the 2D drawing surface and the clip rectangle the whole surface.
void KS_SetDrawSurface(IDirect3DSurface8* surface);
// Copies the inclusive source rectangle (clamped to the source) to (dx, dy) of the destination.
void KS_CopySurface(int x1, int y1, int x2, int y2, IDirect3DSurface8* source, int dx, int dy,
                    IDirect3DSurface8* destination);
// Stretches an 8-bit surface over the rectangle of the locked 8-bit drawing surface.
void KS_ScaleBlock(int x1, int y1, int x2, int y2, IDirect3DSurface8* source, int transparent);

// Procedure-table implementations.
IDirect3DSurface8* KS_GetBlockD3D(int x1, int y1, int x2, int y2, IDirect3DSurface8** out);
void KS_PutBlockD3D(int x, int y, IDirect3DSurface8* surface);
void KS_PutBitmap8D3D(int x, int y, IDirect3DSurface8* surface, const uint8_t* palette,
                      int transparent);
void KS_PutBitmap32D3D(int x, int y, const uint8_t* pixels, int width, int height,
                       int transparent);

// New KS_ALLOC'd array of newWidth x newHeight 32-bit pixels, nearest-neighbour sampled; null for
// a null source (logged) or a size of 0 or less.
uint32_t* KS_ResizePixels(int newWidth, int newHeight, const uint32_t* pixels, int width,
                          int height);
// Index of the palette entry (256 x R, G, B bytes) nearest to the colour.
int KS_NearestPaletteIndex(int red, int green, int blue, const uint8_t* palette);

#endif
