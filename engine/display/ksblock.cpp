// Surfaces and pixel blocks: image surfaces, locks, rectangle copies, palettised and 32-bit images
// drawn into the frame, stretching of 8-bit blocks, and the resampling and palette-matching
// utilities of the texture and image code.
#define KS_MODULE "ksblock"
#include "kestra.h"

#include <string.h>

// ---- Surfaces ----

IDirect3DSurface8* KS_CreateSurface(int width, int height, D3DFORMAT format) {
    if (verbose) KS_Log("Allocate Surface: w %i  h %i", width, height);
    if (width <= 0 || height <= 0 || !ksGlobal.device) return nullptr;
    IDirect3DSurface8* surface = nullptr;
    HRESULT hr = ksGlobal.device->CreateImageSurface((UINT)width, (UINT)height, format, &surface);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        return nullptr;
    }
    return surface;
}

static int SurfaceDesc(IDirect3DSurface8* surface, D3DSURFACE_DESC* desc) {
    memset(desc, 0, sizeof(*desc));
    return surface && SUCCEEDED(surface->GetDesc(desc));
}

int KS_SurfaceWidth(IDirect3DSurface8* surface) {
    D3DSURFACE_DESC desc;
    return SurfaceDesc(surface, &desc) ? (int)desc.Width : 0;
}

int KS_SurfaceHeight(IDirect3DSurface8* surface) {
    D3DSURFACE_DESC desc;
    return SurfaceDesc(surface, &desc) ? (int)desc.Height : 0;
}

void KS_ReleaseSurface(IDirect3DSurface8* surface) {
    if (!surface) return;
    if (ksGlobal.drawSurface == surface) KS_SetDrawSurface(nullptr);
    surface->Release();
}

void* KS_LockSurface(IDirect3DSurface8* surface, int* pitch) {
    if (!surface) return nullptr;
    D3DLOCKED_RECT locked;
    HRESULT hr = surface->LockRect(&locked, nullptr, 0);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError("Can't lock surface", KS_D3DErrorName(hr));
    }
    if (pitch) *pitch = locked.Pitch;
    return locked.pBits;
}

void KS_UnlockSurface(IDirect3DSurface8* surface) {
    if (surface) surface->UnlockRect();
}

static int BytesPerPixel(D3DFORMAT format) {
    int bits = KS_FormatBits(format);
    return bits == 24 ? 3 : bits / 8;
}

void KS_SetDrawSurface(IDirect3DSurface8* surface) {
    // A frame still locked on another surface is unlocked first: the lock belongs to it.
    if (ksGlobal.frameLocks > 0 && ksGlobal.drawSurface != surface) {
        if (ksGlobal.drawSurface) ksGlobal.drawSurface->UnlockRect();
        ksGlobal.frameLocks = 0;
        ksGlobal.framePointer = nullptr;
        ksGlobal.framePitch = 0;
    }
    D3DSURFACE_DESC desc;
    SurfaceDesc(surface, &desc);
    ksGlobal.drawSurface = surface;
    ksGlobal.drawWidth = (int32_t)desc.Width;
    ksGlobal.drawHeight = (int32_t)desc.Height;
    ksGlobal.drawBytesPerPixel = surface ? BytesPerPixel(desc.Format) : 0;
    KS_SetClipD3D(0, 0, ksGlobal.drawWidth - 1, ksGlobal.drawHeight - 1);
}

void KS_CopySurface(int x1, int y1, int x2, int y2, IDirect3DSurface8* source, int dx, int dy,
                    IDirect3DSurface8* destination) {
    if (!source || !destination || !ksGlobal.device) return;
    int sw = KS_SurfaceWidth(source), sh = KS_SurfaceHeight(source);
    int dw = KS_SurfaceWidth(destination), dh = KS_SurfaceHeight(destination);
    KS_OrderCorners(&x1, &y1, &x2, &y2);
    if (x1 < 0) x1 = 0;
    if (y1 < 0) y1 = 0;
    if (x2 > sw - 1) x2 = sw - 1;
    if (y2 > sh - 1) y2 = sh - 1;
    // Keep the copy inside the destination as well; the part that would fall outside is dropped.
    if (dx < 0) {
        x1 -= dx;
        dx = 0;
    }
    if (dy < 0) {
        y1 -= dy;
        dy = 0;
    }
    if (dx + (x2 - x1) > dw - 1) x2 = x1 + (dw - 1 - dx);
    if (dy + (y2 - y1) > dh - 1) y2 = y1 + (dh - 1 - dy);
    if (x1 > x2 || y1 > y2) return;

    RECT r = {x1, y1, x2 + 1, y2 + 1};
    POINT p = {dx, dy};
    HRESULT hr = ksGlobal.device->CopyRects(source, &r, 1, destination, &p);
    if (FAILED(hr) && verbose) {
        KS_Log("Source (%d,%d,%d,%d)     Dest (%d,%d)", x1, y1, x2 + 1, y2 + 1, dx, dy);
        KS_LOG_D3D_FAILURE(hr);
    }
}

// ---- Blocks ----

IDirect3DSurface8* KS_GetBlockD3D(int x1, int y1, int x2, int y2, IDirect3DSurface8** out) {
    KS_OrderCorners(&x1, &y1, &x2, &y2);
    IDirect3DSurface8* block = KS_CreateSurface(x2 - x1 + 1, y2 - y1 + 1, ksGlobal.backBufferFormat);
    if (block) KS_CopySurface(x1, y1, x2, y2, ksGlobal.drawSurface, 0, 0, block);
    if (out) *out = block;
    return block;
}

void KS_PutBlockD3D(int x, int y, IDirect3DSurface8* surface) {
    if (!surface) return;
    KS_CopySurface(0, 0, KS_SurfaceWidth(surface) - 1, KS_SurfaceHeight(surface) - 1, surface, x, y,
                   ksGlobal.drawSurface);
}

// The destination rectangle of an image of w x h at (x, y), cut to the clip rectangle and the
// drawing surface. Returns 0 when nothing is left; sx, sy are the first source pixel.
struct BlitArea {
    int x1, y1, x2, y2, sx, sy;
};

static int ClipBlit(int x, int y, int w, int h, BlitArea* a) {
    int cx1 = ksGlobal.clipX1 < 0 ? 0 : ksGlobal.clipX1;
    int cy1 = ksGlobal.clipY1 < 0 ? 0 : ksGlobal.clipY1;
    int cx2 = ksGlobal.clipX2 > ksGlobal.drawWidth - 1 ? ksGlobal.drawWidth - 1 : ksGlobal.clipX2;
    int cy2 = ksGlobal.clipY2 > ksGlobal.drawHeight - 1 ? ksGlobal.drawHeight - 1 : ksGlobal.clipY2;
    a->x1 = x < cx1 ? cx1 : x;
    a->y1 = y < cy1 ? cy1 : y;
    a->x2 = x + w - 1 > cx2 ? cx2 : x + w - 1;
    a->y2 = y + h - 1 > cy2 ? cy2 : y + h - 1;
    a->sx = a->x1 - x;
    a->sy = a->y1 - y;
    return a->x1 <= a->x2 && a->y1 <= a->y2;
}

void KS_PutBitmap8D3D(int x, int y, IDirect3DSurface8* surface, const uint8_t* palette,
                      int transparent) {
    if (!surface || !palette) return;
    uint32_t packed[256];
    for (int i = 0; i < 256; i++) {
        uint32_t r = (uint32_t)(palette[i * 3] * 4) & 0xFF, g = (uint32_t)(palette[i * 3 + 1] * 4) & 0xFF,
                 b = (uint32_t)(palette[i * 3 + 2] * 4) & 0xFF;
        packed[i] = KS_PackColour((r << 24) | (g << 16) | (b << 8) | 0xFF);
    }
    if (transparent == 1) packed[0] = 0;

    int w = KS_SurfaceWidth(surface), h = KS_SurfaceHeight(surface);
    BlitArea a;
    if (!ClipBlit(x, y, w, h, &a)) return;
    bool ownLock = ksGlobal.framePointer == nullptr;
    if (ownLock && !KSGFX_LockFrame()) return;
    int pitch = 0;
    const uint8_t* src = (const uint8_t*)KS_LockSurface(surface, &pitch);
    if (src) {
        for (int row = a.y1; row <= a.y2; row++) {
            const uint8_t* s = src + (ptrdiff_t)(a.sy + row - a.y1) * pitch + a.sx;
            uint8_t* d = ksGlobal.framePointer + (ptrdiff_t)row * ksGlobal.framePitch;
            for (int col = a.x1; col <= a.x2; col++) {
                uint32_t p = packed[*s++];
                if (transparent && p == 0) continue;
                KS_WritePixel(d, col, p);
            }
        }
        KS_UnlockSurface(surface);
    }
    if (ownLock) KSGFX_UnlockFrame();
}

void KS_PutBitmap32D3D(int x, int y, const uint8_t* pixels, int width, int height, int transparent) {
    if (!pixels || width <= 0 || height <= 0) return;
    BlitArea a;
    if (!ClipBlit(x, y, width, height, &a)) return;
    bool ownLock = ksGlobal.framePointer == nullptr;
    if (ownLock && !KSGFX_LockFrame()) return;
    bool wide = ksGlobal.drawBytesPerPixel == 4;
    for (int row = a.y1; row <= a.y2; row++) {
        const uint8_t* s = pixels + ((ptrdiff_t)(a.sy + row - a.y1) * width + a.sx) * 4;
        uint8_t* d = ksGlobal.framePointer + (ptrdiff_t)row * ksGlobal.framePitch;
        for (int col = a.x1; col <= a.x2; col++, s += 4) {
            uint32_t b = s[0], g = s[1], r = s[2];
            if (wide) {
                if (transparent && r + g + b == 0) continue;
                // X8R8G8B8 in memory: blue, green, red, unused.
                uint8_t* p = d + col * 4;
                p[0] = (uint8_t)b;
                p[1] = (uint8_t)g;
                p[2] = (uint8_t)r;
            } else {
                uint32_t p = KS_PackColour((r << 24) | (g << 16) | (b << 8) | 0xFF);
                if (transparent && p == 0) continue;
                KS_WritePixel(d, col, p);
            }
        }
    }
    if (ownLock) KSGFX_UnlockFrame();
}

void KS_ScaleBlock(int x1, int y1, int x2, int y2, IDirect3DSurface8* source, int transparent) {
    if (!source) {
        if (verbose) KS_Log("ERROR - Attempt to resize NULL Surface");
        return;
    }
    if (x1 > x2 || y1 > y2 || ksGlobal.drawBytesPerPixel != 1) return;
    int sw = KS_SurfaceWidth(source), sh = KS_SurfaceHeight(source);
    if (sw <= 0 || sh <= 0) return;
    int dw = x2 - x1 + 1, dh = y2 - y1 + 1;
    uint32_t xStep = (uint32_t)(((uint64_t)sw << 16) / (uint64_t)dw);
    uint32_t yStep = (uint32_t)(((uint64_t)sh << 16) / (uint64_t)dh);

    BlitArea a;
    if (!ClipBlit(x1, y1, dw, dh, &a)) return;
    bool ownLock = ksGlobal.framePointer == nullptr;
    if (ownLock && !KSGFX_LockFrame()) return;
    int pitch = 0;
    const uint8_t* src = (const uint8_t*)KS_LockSurface(source, &pitch);
    if (src) {
        for (int row = a.y1; row <= a.y2; row++) {
            int sy = (int)(((uint64_t)(row - y1) * yStep) >> 16);
            if (sy >= sh) sy = sh - 1;
            const uint8_t* s = src + (ptrdiff_t)sy * pitch;
            uint8_t* d = ksGlobal.framePointer + (ptrdiff_t)row * ksGlobal.framePitch;
            for (int col = a.x1; col <= a.x2; col++) {
                int sx = (int)(((uint64_t)(col - x1) * xStep) >> 16);
                if (sx >= sw) sx = sw - 1;
                uint8_t v = s[sx];
                if (transparent && v == 0) continue;
                d[col] = v;
            }
        }
        KS_UnlockSurface(source);
    }
    if (ownLock) KSGFX_UnlockFrame();
}

// ---- Pixel utilities ----

uint32_t* KS_ResizePixels(int newWidth, int newHeight, const uint32_t* pixels, int width,
                          int height) {
    if (!pixels) {
        if (verbose) KS_Log("ERROR - Attempt to resize NULL Surface");
        return nullptr;
    }
    if (newWidth <= 0 || newHeight <= 0 || width <= 0 || height <= 0) return nullptr;
    int64_t bytes = (int64_t)newWidth * newHeight * 4;
    if (bytes > INT32_MAX) return nullptr;
    uint32_t* out = (uint32_t*)KS_ALLOC(bytes);
    if (!out) return nullptr;

    uint32_t xStep = (uint32_t)(((uint64_t)width << 16) / (uint64_t)newWidth);
    uint32_t yStep = (uint32_t)(((uint64_t)height << 16) / (uint64_t)newHeight);
    uint32_t xWhole = xStep >> 16, xFrac = xStep & 0xFFFF;
    uint32_t yWhole = yStep >> 16, yFrac = yStep & 0xFFFF;

    uint32_t sy = 0, yAcc = 0;
    uint32_t* d = out;
    for (int row = 0; row < newHeight; row++) {
        const uint32_t* s = pixels + (size_t)(sy < (uint32_t)height ? sy : height - 1) * width;
        uint32_t sx = 0, xAcc = 0;
        for (int col = 0; col < newWidth; col++) {
            *d++ = s[sx < (uint32_t)width ? sx : width - 1];
            sx += xWhole;
            xAcc += xFrac;
            if (xAcc >= 65536) {
                sx++;
                xAcc -= 65536;
            }
        }
        sy += yWhole;
        yAcc += yFrac;
        if (yAcc >= 65536) {
            sy++;
            yAcc -= 65536;
        }
    }
    return out;
}

int KS_NearestPaletteIndex(int red, int green, int blue, const uint8_t* palette) {
    if (!palette) return 0;
    int best = 0;
    float bestDistance = 33333.0f;
    for (int i = 0; i < 256; i++) {
        float dr = (float)(red - palette[i * 3]);
        float dg = (float)(green - palette[i * 3 + 1]);
        float db = (float)(blue - palette[i * 3 + 2]);
        float distance = KSM_Sqrt(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}
