// The frame buffer in 2D: pixel format and colour packing, clip rectangle, fills, lines, clears,
// lock and unlock, bitmap-font text, and screen-aligned texture quads.
#ifndef KSGFX_H
#define KSGFX_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

struct KSViewport;

// Reads the surface's format into ksGlobal.pixelFormat (set-mode runs it on the back buffer).
void KS_ReadPixelFormat(IDirect3DSurface8* surface);
// Pixel value of an engine colour 0xRRGGBBAA in the current pixel format.
uint32_t KS_PackColour(uint32_t colour);

// Procedure-table implementations.
void* KS_LockFrameD3D(void);
void KS_UnlockFrameD3D(void);
void KS_SetClipD3D(int x1, int y1, int x2, int y2);
void KS_SetColourD3D(uint32_t colour);
uint32_t KS_MakeColourD3D(int red, int green, int blue);
// Writes one packed pixel at column x of a row of the drawing surface, in its 1, 2, 3 or 4 bytes.
void KS_WritePixel(uint8_t* row, int x, uint32_t pixel);
// Puts a rectangle given by any two opposite corners in order: (x1, y1) top left, (x2, y2) bottom right.
void KS_OrderCorners(int* x1, int* y1, int* x2, int* y2);
void KS_FillRectD3D(int x1, int y1, int x2, int y2);
void KS_DrawRectD3D(int x1, int y1, int x2, int y2);
void KS_DrawLineD3D(int x1, int y1, int x2, int y2);
void KS_DrawVLineD3D(int x, int y1, int y2);
void KS_DrawHLineD3D(int x1, int x2, int y);
void KS_DrawStringD3D(int x, int y, const char* text);
void KS_ClearScreenD3D(void);
void KS_ClearViewportD3D(KSViewport* viewport);
void KS_ClearD3D(KSViewport* viewport, int flags);
void KS_DrawTextureD3D(int x, int y, int32_t texture, int32_t value);
void KS_DrawTextureRectD3D(int x1, int y1, int x2, int y2, int32_t texture, int32_t value);

// Text colours and mode of KSGFX_DrawString: mode 0 draws set glyph bits only, 1 clear bits only
// (background colour), any other value both.
void KS_SetTextColours(uint32_t foreground, uint32_t background, int32_t mode);

// Draws one bitmap-font glyph at (x, y) into the locked frame and returns its advance (0 when the
// code has no glyph).
int KS_DrawGlyph(int x, int y, int code);

#endif
