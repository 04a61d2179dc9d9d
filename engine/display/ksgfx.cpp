// The frame buffer in 2D: pixel format and colour packing, the clip rectangle, fills and lines,
// clears, locking the drawing surface, bitmap-font text and screen-aligned texture quads.
//
// Pixel writes never leave the drawing surface: text and images stay inside both the clip
// rectangle and the surface, and lines (which are not clipped) drop the pixels that fall outside
// the surface, so a clip rectangle larger than the surface, or a line with an end outside it,
// cannot write outside the locked pixels.
#define KS_MODULE "ksgfx"
#include "kestra.h"

#include <string.h>

// ---- Pixel format ----

static int LowestBit(uint32_t mask) {
    int shift = 0;
    if (!mask) return 0;
    while (!(mask & 1)) {
        mask >>= 1;
        shift++;
    }
    return shift;
}

void KS_ReadPixelFormat(IDirect3DSurface8* surface) {
    D3DSURFACE_DESC desc;
    memset(&desc, 0, sizeof(desc));
    if (surface) surface->GetDesc(&desc);

    uint32_t red, green, blue;
    switch (desc.Format) {
    case D3DFMT_R5G6B5:
        red = 0xF800, green = 0x07E0, blue = 0x001F;
        break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        red = 0x7C00, green = 0x03E0, blue = 0x001F;
        break;
    default:
        red = 0xFF0000, green = 0xFF00, blue = 0xFF;
        break;
    }
    KSPixelFormat* p = &ksGlobal.pixelFormat;
    p->redShift = LowestBit(red);
    p->greenShift = LowestBit(green);
    p->blueShift = LowestBit(blue);
    p->redMax = (int32_t)(red >> p->redShift);
    p->greenMax = (int32_t)(green >> p->greenShift);
    p->blueMax = (int32_t)(blue >> p->blueShift);
    // No loss on a 32-bit surface; 16-bit channels drop 3 bits (5-bit) or 2 bits (6-bit).
    bool wide = KS_FormatBits(desc.Format) != 16;
    p->redLoss = wide ? 0 : (p->redMax == 31 ? 3 : 2);
    p->greenLoss = wide ? 0 : (p->greenMax == 31 ? 3 : 2);
    p->blueLoss = wide ? 0 : (p->blueMax == 31 ? 3 : 2);
    if (verbose)
        KS_Log("Pixel Format is: %i, %i red, %i green, %i blue", (int)desc.Format, (int)p->redShift,
               (int)p->greenShift, 0);
}

uint32_t KS_PackColour(uint32_t colour) {
    const KSPixelFormat* p = &ksGlobal.pixelFormat;
    uint32_t r = colour >> 24, g = (colour >> 16) & 0xFF, b = (colour >> 8) & 0xFF;
    return ((r >> p->redLoss) << p->redShift) | ((g >> p->greenLoss) << p->greenShift) |
           ((b >> p->blueLoss) << p->blueShift);
}

// Opaque ARGB of an engine colour, for Clear.
static D3DCOLOR OpaqueColour(uint32_t colour) {
    return 0xFF000000u | (colour >> 8);
}

// ---- Clip rectangle and colour ----

static int16_t ClampShort(int v) {
    if (v < -32768) return -32768;
    if (v > 32767) return 32767;
    return (int16_t)v;
}

void KS_SetClipD3D(int x1, int y1, int x2, int y2) {
    ksGlobal.clipX1 = ClampShort(x1);
    ksGlobal.clipY1 = ClampShort(y1);
    ksGlobal.clipX2 = ClampShort(x2);
    ksGlobal.clipY2 = ClampShort(y2);
}

void KS_SetColourD3D(uint32_t colour) {
    ksGlobal.drawColour = colour;
}

uint32_t KS_MakeColourD3D(int red, int green, int blue) {
    return ((uint32_t)red << 24) + ((uint32_t)green << 16) + (uint32_t)blue * 256u + 255u;
}

void KS_SetTextColours(uint32_t foreground, uint32_t background, int32_t mode) {
    ksGlobal.textColour = foreground;
    ksGlobal.textBackColour = background;
    ksGlobal.textMode = mode;
}

// The clip rectangle limited to the drawing surface: where pixel writes may go.
struct PixelBounds {
    int x1, y1, x2, y2;
};

static PixelBounds WritableBounds(void) {
    PixelBounds b;
    b.x1 = ksGlobal.clipX1 < 0 ? 0 : ksGlobal.clipX1;
    b.y1 = ksGlobal.clipY1 < 0 ? 0 : ksGlobal.clipY1;
    b.x2 = ksGlobal.clipX2 > ksGlobal.drawWidth - 1 ? ksGlobal.drawWidth - 1 : ksGlobal.clipX2;
    b.y2 = ksGlobal.clipY2 > ksGlobal.drawHeight - 1 ? ksGlobal.drawHeight - 1 : ksGlobal.clipY2;
    return b;
}

void KS_WritePixel(uint8_t* row, int x, uint32_t pixel) {
    switch (ksGlobal.drawBytesPerPixel) {
    case 4:
        ((uint32_t*)row)[x] = pixel;
        break;
    case 3:
        // Three bytes, low byte first, as a 24-bit surface stores blue, green, red.
        row[x * 3] = (uint8_t)pixel;
        row[x * 3 + 1] = (uint8_t)(pixel >> 8);
        row[x * 3 + 2] = (uint8_t)(pixel >> 16);
        break;
    case 2:
        ((uint16_t*)row)[x] = (uint16_t)pixel;
        break;
    case 1:
        row[x] = (uint8_t)pixel;
        break;
    default:
        break;
    }
}

static inline void PutPixel(int x, int y, uint32_t pixel) {
    KS_WritePixel(ksGlobal.framePointer + (ptrdiff_t)y * ksGlobal.framePitch, x, pixel);
}

// ---- Lock ----

void* KS_LockFrameD3D(void) {
    if (ksGlobal.frameLocks > 0 && ksGlobal.framePointer) {
        ksGlobal.frameLocks++;  // already locked by an enclosing operation
        return ksGlobal.framePointer;
    }
    IDirect3DSurface8* s = ksGlobal.drawSurface;
    if (!s) return nullptr;
    D3DLOCKED_RECT locked;
    HRESULT hr = s->LockRect(&locked, nullptr, 0);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError("Can't lock surface", KS_D3DErrorName(hr));
    }
    ksGlobal.framePointer = (uint8_t*)locked.pBits;
    ksGlobal.framePitch = locked.Pitch;
    ksGlobal.frameLocks = 1;
    return ksGlobal.framePointer;
}

void KS_UnlockFrameD3D(void) {
    if (ksGlobal.frameLocks <= 0) return;
    if (--ksGlobal.frameLocks > 0) return;
    if (ksGlobal.drawSurface) ksGlobal.drawSurface->UnlockRect();
    ksGlobal.framePointer = nullptr;
    ksGlobal.framePitch = 0;
}

// ---- Fills and lines ----

void KS_OrderCorners(int* x1, int* y1, int* x2, int* y2) {
    if (*x1 > *x2) {
        int t = *x1;
        *x1 = *x2;
        *x2 = t;
    }
    if (*y1 > *y2) {
        int t = *y1;
        *y1 = *y2;
        *y2 = t;
    }
}

void KS_FillRectD3D(int x1, int y1, int x2, int y2) {
    KS_OrderCorners(&x1, &y1, &x2, &y2);
    if (x1 < ksGlobal.clipX1) x1 = ksGlobal.clipX1;
    if (y1 < ksGlobal.clipY1) y1 = ksGlobal.clipY1;
    if (x2 > ksGlobal.clipX2) x2 = ksGlobal.clipX2;
    if (y2 > ksGlobal.clipY2) y2 = ksGlobal.clipY2;
    if (x1 > x2 || y1 > y2 || !ksGlobal.device) return;
    D3DRECT r = {x1, y1, x2 + 1, y2 + 1};
    HRESULT hr = ksGlobal.device->Clear(1, &r, D3DCLEAR_TARGET, OpaqueColour(ksGlobal.drawColour),
                                        0.0f, 0);
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
}

void KS_DrawHLineD3D(int x1, int x2, int y) {
    KSGFX_FillRect(x1, y, x2, y);
}

void KS_DrawVLineD3D(int x, int y1, int y2) {
    KSGFX_FillRect(x, y1, x, y2);
}

void KS_DrawRectD3D(int x1, int y1, int x2, int y2) {
    KSGFX_FillRect(x1, y1, x2, y1);  // top
    KSGFX_FillRect(x1, y2, x2, y2);  // bottom
    KSGFX_FillRect(x1, y1, x1, y2);  // left
    KSGFX_FillRect(x2, y1, x2, y2);  // right
}

void KS_DrawLineD3D(int x1, int y1, int x2, int y2) {
    if (!KSGFX_LockFrame()) return;
    uint32_t pixel = KS_PackColour(ksGlobal.drawColour);
    int dx = x2 > x1 ? x2 - x1 : x1 - x2;
    int dy = y2 > y1 ? y2 - y1 : y1 - y2;
    int sx = x2 >= x1 ? 1 : -1;
    int sy = y2 >= y1 ? 1 : -1;
    int major = dx > dy ? dx : dy;
    int minor = dx > dy ? dy : dx;
    int w = ksGlobal.drawWidth, h = ksGlobal.drawHeight;
    int x = x1, y = y1, sum = 0;
    for (int i = 0; i <= major; i++) {
        if (x >= 0 && y >= 0 && x < w && y < h) PutPixel(x, y, pixel);
        if (dx > dy) x += sx; else y += sy;
        sum += minor;
        if (major > 0 && sum >= major) {
            sum -= major;
            if (dx > dy) y += sy; else x += sx;
        }
    }
    KSGFX_UnlockFrame();
}

// ---- Bitmap-font text ----

int KS_DrawGlyph(int x, int y, int code) {
    if (code < 0 || code > 255) return 0;
    if (ksGlobal.screenBits == 32 && code >= 128) return 0;
    const KSBitmapFont* font = ksGlobal.bitmapFont ? ksGlobal.bitmapFont : KS_BuiltinBitmapFont();
    KSBitmapGlyph g;
    if (!KS_GetBitmapGlyph(font, code, &g)) return 0;
    if (!ksGlobal.framePointer) return g.width;

    int mode = ksGlobal.textMode;
    uint32_t ink = KS_PackColour(ksGlobal.textColour);
    uint32_t paper = KS_PackColour(ksGlobal.textBackColour);
    PixelBounds b = WritableBounds();
    for (int row = 0; row < g.height; row++) {
        int py = y + row;
        if (py < b.y1) continue;  // rows above the clip rectangle are skipped whole
        if (py > b.y2) break;
        const uint8_t* bits = g.rows + row * g.bytesPerRow;
        for (int col = 0; col < g.width; col++) {
            int px = x + col;
            if (px > b.x2) break;
            if (px < b.x1) continue;
            bool set = (bits[col >> 3] & (0x80 >> (col & 7))) != 0;
            if (set) {
                if (mode != 1) PutPixel(px, py, ink);
            } else if (mode != 0) {
                PutPixel(px, py, paper);
            }
        }
    }
    return g.width;
}

void KS_DrawStringD3D(int x, int y, const char* text) {
    if (!text) return;
    KSGFX_LockFrame();
    ksGlobal.textX = x;
    for (const unsigned char* c = (const unsigned char*)text; *c; c++)
        ksGlobal.textX += KS_DrawGlyph(ksGlobal.textX, y, *c);
    KSGFX_UnlockFrame();
}

// ---- Clears ----

static void ClearRect(const D3DRECT* rect, DWORD flags) {
    if (!ksGlobal.device) return;
    HRESULT hr = ksGlobal.device->Clear(1, rect, flags, OpaqueColour(ksGlobal.drawColour), 1.0f, 0);
    if (FAILED(hr)) {
        KS_LOG_D3D_FAILURE(hr);
        KS_FatalError("Clear failed", nullptr);
    }
}

void KS_ClearScreenD3D(void) {
    D3DRECT r = {0, 0, ksGlobal.screenWidth, ksGlobal.screenHeight};
    ClearRect(&r, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
}

void KS_ClearViewportD3D(KSViewport* viewport) {
    if (!viewport) return;
    D3DRECT r = {viewport->x1, viewport->y1, viewport->x2 + 1, viewport->y2 + 1};
    ClearRect(&r, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
}

void KS_ClearD3D(KSViewport* viewport, int flags) {
    if (!viewport) return;
    DWORD d3dFlags = 0;
    if (flags & 1) d3dFlags |= D3DCLEAR_ZBUFFER;
    if (flags & 2) d3dFlags |= D3DCLEAR_TARGET;
    if (flags & 4) d3dFlags |= D3DCLEAR_STENCIL;
    if (!d3dFlags) return;
    D3DRECT r = {viewport->x1, viewport->y1, viewport->x2 + 1, viewport->y2 + 1};
    ClearRect(&r, d3dFlags);
}

// ---- Screen-aligned texture quads ----

// Vertex of format 0x1C4: position with rhw, diffuse, specular, one texture coordinate pair.
struct KSQuadVertex {
    float x, y, z, rhw;
    uint32_t diffuse, specular;
    float u, v;
};

void KS_DrawTextureRectD3D(int x1, int y1, int x2, int y2, int32_t texture, int32_t value) {
    (void)value;
    IDirect3DDevice8* dev = ksGlobal.device;
    if (!dev || x2 < x1 || y2 < y1) return;
    if (x2 < ksGlobal.clipX1 || x1 > ksGlobal.clipX2 || y2 < ksGlobal.clipY1 || y1 > ksGlobal.clipY2)
        return;

    // Texture coordinates run from uvMin at (x1, y1) to uvMax at (x2 + 1, y2 + 1); a clipped edge
    // takes the coordinate of where it now lies.
    float left = (float)x1, top = (float)y1, right = (float)(x2 + 1), bottom = (float)(y2 + 1);
    float cl = left, ct = top, cr = right, cb = bottom;
    if (cl < ksGlobal.clipX1) cl = ksGlobal.clipX1;
    if (ct < ksGlobal.clipY1) ct = ksGlobal.clipY1;
    if (cr > ksGlobal.clipX2 + 1) cr = (float)(ksGlobal.clipX2 + 1);
    if (cb > ksGlobal.clipY2 + 1) cb = (float)(ksGlobal.clipY2 + 1);
    float uvMin = ksGlobal.quadUVMin, uvRange = ksGlobal.quadUVMax - ksGlobal.quadUVMin;
    float u1 = uvMin + uvRange * (cl - left) / (right - left);
    float u2 = uvMin + uvRange * (cr - left) / (right - left);
    float v1 = uvMin + uvRange * (ct - top) / (bottom - top);
    float v2 = uvMin + uvRange * (cb - top) / (bottom - top);

    float farDistance = KS_CurrentCameraFar();
    float factor = ksGlobal.quadDepthFactor;
    float z = (factor * farDistance) != 0.0f ? 1.0f / (factor * farDistance) : 1.0f;
    KSQuadVertex q[4] = {
        {cl, ct, z, factor, 0xFFFFFFFFu, 0, u1, v1},
        {cr, ct, z, factor, 0xFFFFFFFFu, 0, u2, v1},
        {cl, cb, z, factor, 0xFFFFFFFFu, 0, u1, v2},
        {cr, cb, z, factor, 0xFFFFFFFFu, 0, u2, v2},
    };

    ksGlobal.cachedMethod = -1;
    ksGlobal.cachedMaterial = nullptr;
    KSGFX_SelectTexture(texture);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    dev->SetVertexShader(0x1C4);

    KSQuadVertex first[3] = {q[0], q[1], q[2]};
    KSQuadVertex second[3] = {q[1], q[3], q[2]};
    HRESULT hr = dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, first, sizeof(KSQuadVertex));
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
    hr = dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, second, sizeof(KSQuadVertex));
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
}

void KS_DrawTextureD3D(int x, int y, int32_t texture, int32_t value) {
    if (texture < 0 || texture >= ksTextureCount || !ksTextures) return;
    const KSTexture* t = &ksTextures[texture];
    KSGFX_DrawTextureRect(x, y, x + t->width - 1, y + t->height - 1, texture, value);
}
