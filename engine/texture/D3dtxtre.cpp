// The texture manager: one growable table of textures (the handle is the index), size fitting to
// the device's limits, managed Direct3D textures with their mipmap levels made from 8-bit
// surfaces, pairs of colour and alpha surfaces, 32-bit buffers and DDS files, binding to texture
// stages, palettes, and render-target textures that are re-made after a device reset.
#define KS_MODULE "D3dtxtre"
#include "kestra.h"

#include <string.h>

KSTexture* ksTextures = nullptr;
int32_t ksTextureCount = 0;
KSRenderTexture ksRenderTextures[KS_RENDER_TEXTURES];
uint8_t ksPalette[768];
int32_t ksTextureFormatCode = 0;
int32_t ksTextureStage = 0;
int32_t ksMipmapSetting = 0;
char ksTextureDirectory[256] = {0};
int32_t ksTextureFrame = 0;

#define KS_TABLE_GROWTH 100

static float KS_TexelScale(void) {
    // 1/255 as the float 0x3B808081: integer texture coordinates 0..255 map onto 0..1.
    const uint32_t bits = 0x3B808081u;
    float scale;
    memcpy(&scale, &bits, sizeof(scale));
    return scale;
}

static void KS_TextureFailure(HRESULT result, int line, const char* message) {
    if (verbose) KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, line, KS_D3DErrorName(result));
    KS_FatalError(message, nullptr);
}

void KS_SetTextureFormat(int32_t code) {
    ksTextureFormatCode = code;
}

void KS_SetTextureStage(int32_t stage) {
    ksTextureStage = stage;
}

void KS_SetMipmapSetting(int32_t levels) {
    ksMipmapSetting = levels;
}

void KS_SetTextureDirectory(const char* directory) {
    ksTextureDirectory[0] = 0;
    if (directory) {
        strncpy(ksTextureDirectory, directory, sizeof(ksTextureDirectory) - 1);
        ksTextureDirectory[sizeof(ksTextureDirectory) - 1] = 0;
    }
}

void KS_CountTextureFrame(void) {
    ksTextureFrame++;
    if (ksTextureFrame == 0x7FFFFFFF) {
        ksTextureFrame = 0;
        for (int32_t i = 0; i < ksTextureCount; i++) ksTextures[i].lastUsed = 0;
    }
}

// ---- The table ----

void KS_AllocTexturesD3D(int32_t count) {
    KS_FreeTexturesD3D();
    // A run starts the engine-wide texture values afresh, as the engine state is at start-up.
    ksTextureFormatCode = 0;
    ksTextureStage = 0;
    ksTextureFrame = 0;
    if (count <= 0) return;
    ksTextures = (KSTexture*)KS_ALLOC((int64_t)count * (int64_t)sizeof(KSTexture));
    ksTextureCount = ksTextures ? count : 0;
}

void KS_ReleaseTexture(int32_t handle) {
    if (!ksTextures || handle < 0 || handle >= ksTextureCount) return;
    if (verbose) KS_Log("Releasing texture %i", handle);
    ksTextures[handle].residencyA = 0;
    ksTextures[handle].lastUsed = 0;
    ksTextures[handle].residencyB = 0;
}

void KS_FreeTexturesD3D(void) {
    for (int32_t i = 0; i < ksTextureCount; i++)
        if (ksTextures[i].texture) KS_ReleaseTexture(i);
    for (int32_t i = 0; i < ksTextureCount; i++) {
        KSTexture* entry = &ksTextures[i];
        if (entry->name) {
            KS_FREE(entry->name);
            if (entry->texture) entry->texture->Release();
        }
        KS_FREE(entry->palette);
    }
    KS_FREE(ksTextures);
    ksTextures = nullptr;
    ksTextureCount = 0;
    // The render textures' depth surfaces are no table entries; they go with the table.
    for (KSRenderTexture& record : ksRenderTextures)
        if (record.depthSurface) record.depthSurface->Release();
    memset(ksRenderTextures, 0, sizeof(ksRenderTextures));
}

// The shared first step of every add: the lowest free entry (the table grows by 100 when none is
// free) with a private copy of the name and the current stage and, when asked, format code.
static int32_t KS_NewTextureEntry(const char* name, int storeFormatCode) {
    int32_t handle = -1;
    for (int32_t i = 0; i < ksTextureCount; i++) {
        if (!ksTextures[i].name) {
            handle = i;
            break;
        }
    }
    if (handle < 0) {
        int64_t count = (int64_t)ksTextureCount + KS_TABLE_GROWTH;
        KSTexture* grown = count * (int64_t)sizeof(KSTexture) <= 0x7FFFFFF0
                               ? (KSTexture*)KS_ALLOC(count * (int64_t)sizeof(KSTexture))
                               : nullptr;
        if (!grown) return KSERR_TEXTURE_ARRAY_FULL;
        if (ksTextures) {
            memcpy(grown, ksTextures, sizeof(KSTexture) * (size_t)ksTextureCount);
            KS_FREE(ksTextures);
        }
        handle = ksTextureCount;
        ksTextures = grown;
        ksTextureCount = (int32_t)count;
    }
    if (!name) name = "";
    size_t length = strlen(name);
    char* copy = (char*)KS_ALLOC(length + 1);
    if (!copy) return KSERR_NOMEMORY;
    memcpy(copy, name, length + 1);
    KSTexture* entry = &ksTextures[handle];
    // A reused entry starts clean; only what the add stores is kept.
    memset(entry, 0, sizeof(*entry));
    entry->name = copy;
    entry->stage = (uint8_t)ksTextureStage;
    if (storeFormatCode) entry->formatCode = (uint8_t)ksTextureFormatCode;
    return handle;
}

// ---- Sizes ----

static int32_t KS_FitSide(int32_t size, int32_t maximum) {
    int32_t current = maximum;
    for (;;) {
        int32_t half = current / 2;
        if (half < size) return current;
        if (current < 18) return half;
        current = half;
    }
}

void KS_FitTextureSize(int32_t width, int32_t height, int32_t buffer, int32_t* fittedWidth,
                       int32_t* fittedHeight) {
    int32_t w = width, h = height;
    if (ksGlobal.caps.Pow2Textures || ksMipmapSetting != 1) {
        int32_t maxWidth = ksGlobal.caps.MaxTextureWidth, maxHeight = ksGlobal.caps.MaxTextureHeight;
        bool fit = true;
        if (buffer) {
            fit = maxWidth > 0 && maxHeight > 0;
        } else {
            if (maxWidth <= 0) maxWidth = 2048;
            if (maxHeight <= 0) maxHeight = 2048;
        }
        if (fit) {
            w = KS_FitSide(width, maxWidth);
            h = KS_FitSide(height, maxHeight);
        }
    }
    if (ksGlobal.caps.SquareTexture) w = h = (w > h ? w : h);
    *fittedWidth = w;
    *fittedHeight = h;
}

int32_t KS_CountMipLevels(int32_t width, int32_t height) {
    int32_t levels = ksMipmapSetting;
    if (ksMipmapSetting == -1) {
        levels = 1;
        for (int32_t w = width, h = height; w > 8 && h > 8 && levels < 5; w /= 2, h /= 2) levels++;
        if (verbose) KS_Log("Mipmaps: %i  from width %i height %i", levels, width, height);
    }
    return levels < 1 ? 1 : levels;
}

uint8_t* KS_ResizeBuffer(uint8_t* buffer, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight) {
    if (!buffer) {
        if (verbose) KS_Log("ERROR - Attempt to resize NULL Surface");
        return nullptr;
    }
    uint8_t* resized = nullptr;
    if (width > 0 && height > 0 && KS_ImageSizeOk(newWidth, newHeight))
        resized = (uint8_t*)KS_ALLOC((int64_t)newWidth * newHeight * 4);
    if (resized) {
        // 16.16 fixed-point steps: the whole part advances the source every texel, the fraction
        // carries one texel more whenever it passes 65536.
        uint32_t columnStep = (uint32_t)width * 65536u / (uint32_t)newWidth;
        uint32_t rowStep = (uint32_t)height * 65536u / (uint32_t)newHeight;
        uint32_t sourceRow = 0, rowFraction = 0;
        for (int32_t y = 0; y < newHeight; y++) {
            const uint8_t* in = buffer + (size_t)sourceRow * width * 4;
            uint8_t* out = resized + (size_t)y * newWidth * 4;
            uint32_t sourceColumn = 0, columnFraction = 0;
            for (int32_t x = 0; x < newWidth; x++) {
                memcpy(out + (size_t)x * 4, in + (size_t)sourceColumn * 4, 4);
                sourceColumn += columnStep >> 16;
                columnFraction += columnStep & 0xFFFF;
                if (columnFraction >= 65536) {
                    sourceColumn++;
                    columnFraction -= 65536;
                }
            }
            sourceRow += rowStep >> 16;
            rowFraction += rowStep & 0xFFFF;
            if (rowFraction >= 65536) {
                sourceRow++;
                rowFraction -= 65536;
            }
        }
    }
    KS_FREE(buffer);
    return resized;
}

// Rescales an 8-bit surface to the fitted size through the 2D layer's block scaler; the 2D
// drawing surface and clip rectangle are put back afterwards, since the scaled surface does not
// outlive the texture creation.
static IDirect3DSurface8* KS_FitSurface(IDirect3DSurface8* surface) {
    int32_t width = KS_SurfaceWidth(surface), height = KS_SurfaceHeight(surface);
    int32_t newWidth, newHeight;
    KS_FitTextureSize(width, height, 0, &newWidth, &newHeight);
    if (newWidth == width && newHeight == height) return surface;
    IDirect3DSurface8* scaled = KS_CreateSurface(newWidth, newHeight, D3DFMT_P8);
    if (!scaled) return surface;

    IDirect3DSurface8* oldDraw = ksGlobal.drawSurface;
    int32_t oldWidth = ksGlobal.drawWidth, oldHeight = ksGlobal.drawHeight;
    int32_t oldBytes = ksGlobal.drawBytesPerPixel;
    int16_t clip[4] = {ksGlobal.clipX1, ksGlobal.clipY1, ksGlobal.clipX2, ksGlobal.clipY2};

    KS_SetDrawSurface(scaled);
    KS_LockFrameD3D();
    KS_SetClipD3D(0, 0, newWidth - 1, newHeight - 1);
    KS_ScaleBlock(0, 0, newWidth - 1, newHeight - 1, surface, 0);
    KS_UnlockFrameD3D();
    KS_ReleaseSurface(surface);

    // Drawing went to the picture itself: it is gone now, so there is no drawing surface.
    if (oldDraw == surface) {
        KS_SetDrawSurface(nullptr);
        return scaled;
    }
    ksGlobal.drawSurface = oldDraw;
    ksGlobal.drawWidth = oldWidth;
    ksGlobal.drawHeight = oldHeight;
    ksGlobal.drawBytesPerPixel = oldBytes;
    ksGlobal.clipX1 = clip[0];
    ksGlobal.clipY1 = clip[1];
    ksGlobal.clipX2 = clip[2];
    ksGlobal.clipY2 = clip[3];
    return scaled;
}

// ---- Creation ----

IDirect3DTexture8* KS_CreateManagedTexture(int32_t width, int32_t height, int32_t levels, D3DFORMAT format) {
    IDirect3DTexture8* texture = nullptr;
    HRESULT result = ksGlobal.device ? ksGlobal.device->CreateTexture((UINT)width, (UINT)height, (UINT)levels, 0,
                                                                      format, D3DPOOL_MANAGED, &texture)
                                     : D3DERR_INVALIDCALL;
    if (FAILED(result) || !texture) KS_TextureFailure(result, __LINE__, "CreateSurface for texture failed");
    return texture;
}

uint8_t* KS_LockTextureLevel(IDirect3DTexture8* texture, UINT level, int32_t* width, int32_t* height,
                             int32_t* pitch) {
    D3DSURFACE_DESC desc;
    memset(&desc, 0, sizeof(desc));
    texture->GetLevelDesc(level, &desc);
    *width = (int32_t)desc.Width;
    *height = (int32_t)desc.Height;
    D3DLOCKED_RECT locked;
    HRESULT result = texture->LockRect(level, &locked, nullptr, 0);
    if (FAILED(result)) KS_TextureFailure(result, __LINE__, "Lock failed while loading surface.");
    *pitch = locked.Pitch;
    return (uint8_t*)locked.pBits;
}

// Palette `handle` of the device from 256 R, G, B entries of 0..63.
static void KS_UploadPalette(int32_t handle, const uint8_t* palette, int fromFloat) {
    PALETTEENTRY entries[256];
    const float scale = 1.0f / 63.0f;
    for (int i = 0; i < 256; i++) {
        uint8_t* out = &entries[i].peRed;
        for (int c = 0; c < 3; c++) {
            uint32_t value = palette[i * 3 + c];
            uint32_t expanded = fromFloat ? (uint32_t)((float)value * scale * 255.0f) : value << 2;
            out[c] = (uint8_t)(expanded > 255 ? 255 : expanded);
        }
        entries[i].peFlags = 0;
    }
    ksGlobal.device->SetCurrentTexturePalette((UINT)handle);
    HRESULT result = ksGlobal.device->SetPaletteEntries((UINT)handle, entries);
    if (FAILED(result)) KS_TextureFailure(result, __LINE__, "Create palette failed while loading surface.");
}

static int32_t KS_Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}

int32_t KS_AddTextureD3D(const char* name, IDirect3DSurface8* surface) {
    int32_t handle = KS_NewTextureEntry(name, 1);
    if (handle < 0) {
        KS_ReleaseSurface(surface);
        return handle;
    }
    if (!surface) return handle;
    surface = KS_FitSurface(surface);
    int32_t width = KS_SurfaceWidth(surface), height = KS_SurfaceHeight(surface);
    KSTexture* entry = &ksTextures[handle];
    entry->width = width;
    entry->height = height;
    entry->uScale = entry->vScale = KS_TexelScale();
    entry->palette = (uint8_t*)KS_ALLOC(768);
    if (entry->palette) memcpy(entry->palette, ksPalette, 768);

    int32_t code = ksTextureFormatCode;
    if (code >= 13 && code <= 15) {
        int32_t slot = code == 13 ? KS_SLOT_L6V5U5 : code == 14 ? KS_SLOT_X8L8V8U8 : KS_SLOT_V8U8;
        if (ksDefaultFormats[slot] != -1) {
            KS_MakeBumpTexture(code, surface, handle, ksPalette);
            KS_ReleaseSurface(surface);
            return handle;
        }
        // No such bump format on this device: a colour texture, now and for the textures after it.
        ksTextureFormatCode = 0;
    }

    D3DFORMAT format;
    int32_t bytesPerTexel;
    int32_t formatClass = KS_ChooseTextureFormat(&format, &bytesPerTexel);
    int32_t levels = KS_CountMipLevels(width, height);
    IDirect3DTexture8* texture = KS_CreateManagedTexture(width, height, levels, format);
    int32_t created = (int32_t)texture->GetLevelCount();
    for (int32_t level = 0; level < created; level++) {
        IDirect3DSurface8* source = level == 0 ? surface : KS_MipLevel8(surface, level, KS_FILTER_BOX, ksPalette);
        if (!source) continue;
        int32_t levelWidth, levelHeight, pitch;
        uint8_t* bits = KS_LockTextureLevel(texture, (UINT)level, &levelWidth, &levelHeight, &pitch);
        int sourcePitch = 0;
        const uint8_t* pixels = (const uint8_t*)KS_LockSurface(source, &sourcePitch);
        KS_Convert8(formatClass, format, pixels, sourcePitch, bits, pitch,
                    KS_Min(levelWidth, KS_SurfaceWidth(source)), KS_Min(levelHeight, KS_SurfaceHeight(source)));
        KS_UnlockSurface(source);
        texture->UnlockRect((UINT)level);
        if (level > 0) KS_ReleaseSurface(source);
        if (bytesPerTexel == 1) KS_UploadPalette(handle, ksPalette, 1);
    }
    entry = &ksTextures[handle];
    entry->texture = texture;
    KS_ReleaseSurface(surface);
    return handle;
}

int32_t KS_AddTexture2D3D(const char* name, IDirect3DSurface8* colour, IDirect3DSurface8* alpha) {
    int32_t handle = KS_NewTextureEntry(name, 0);
    if (handle < 0 || !colour) {
        KS_ReleaseSurface(colour);
        KS_ReleaseSurface(alpha);
        return handle;
    }
    colour = KS_FitSurface(colour);
    if (alpha) alpha = KS_FitSurface(alpha);
    int32_t width = KS_SurfaceWidth(colour), height = KS_SurfaceHeight(colour);
    KSTexture* entry = &ksTextures[handle];
    entry->width = width;
    entry->height = height;
    entry->uScale = entry->vScale = KS_TexelScale();
    // Without an alpha picture of the same size there is nothing to combine: the entry stays empty.
    if (!alpha || KS_SurfaceWidth(alpha) != width || KS_SurfaceHeight(alpha) != height) {
        entry->width = entry->height = 0;
        KS_ReleaseSurface(colour);
        KS_ReleaseSurface(alpha);
        return handle;
    }

    int32_t savedCode = ksTextureFormatCode;
    ksTextureFormatCode = 4;
    D3DFORMAT format;
    int32_t bytesPerTexel;
    int32_t formatClass = KS_ChooseTextureFormat(&format, &bytesPerTexel);
    ksTextureFormatCode = savedCode;
    int32_t levels = KS_CountMipLevels(width, height);
    IDirect3DTexture8* texture = KS_CreateManagedTexture(width, height, levels, format);
    int32_t created = (int32_t)texture->GetLevelCount();
    for (int32_t level = 0; level < created; level++) {
        IDirect3DSurface8* colourLevel = level == 0 ? colour : KS_MipLevel8(colour, level, KS_FILTER_BOX, ksPalette);
        IDirect3DSurface8* alphaLevel = level == 0 ? alpha : KS_MipLevel8(alpha, level, KS_FILTER_BOX, ksPalette);
        if (colourLevel && alphaLevel) {
            int32_t levelWidth, levelHeight, pitch;
            uint8_t* bits = KS_LockTextureLevel(texture, (UINT)level, &levelWidth, &levelHeight, &pitch);
            int colourPitch = 0, alphaPitch = 0;
            const uint8_t* c = (const uint8_t*)KS_LockSurface(colourLevel, &colourPitch);
            const uint8_t* a = (const uint8_t*)KS_LockSurface(alphaLevel, &alphaPitch);
            int32_t w = KS_Min(levelWidth, KS_SurfaceWidth(colourLevel));
            int32_t h = KS_Min(levelHeight, KS_SurfaceHeight(colourLevel));
            // The converter reads both pictures with one pitch.
            uint8_t* alphaCopy = nullptr;
            if (alphaPitch != colourPitch && (alphaCopy = (uint8_t*)KS_ALLOC((int64_t)colourPitch * h)) != nullptr) {
                for (int32_t y = 0; y < h; y++)
                    memcpy(alphaCopy + (size_t)y * colourPitch, a + (size_t)y * alphaPitch, (size_t)w);
                a = alphaCopy;
            }
            if (alphaPitch == colourPitch || alphaCopy)
                KS_Convert8Alpha(formatClass, format, c, a, colourPitch, bits, pitch, w, h);
            KS_FREE(alphaCopy);
            KS_UnlockSurface(alphaLevel);
            KS_UnlockSurface(colourLevel);
            texture->UnlockRect((UINT)level);
            if (bytesPerTexel == 1) KS_UploadPalette(handle, ksPalette, 1);
        }
        if (level > 0) {
            KS_ReleaseSurface(colourLevel);
            KS_ReleaseSurface(alphaLevel);
        }
    }
    ksTextures[handle].texture = texture;
    KS_ReleaseSurface(colour);
    KS_ReleaseSurface(alpha);
    return handle;
}

int32_t KS_AddTextureRGBA(const char* name, uint8_t* buffer, int32_t width, int32_t height) {
    int32_t handle = KS_NewTextureEntry(name, 1);
    if (handle < 0 || !buffer || width <= 0 || height <= 0) {
        KS_FREE(buffer);
        return handle;
    }
    int32_t newWidth, newHeight;
    KS_FitTextureSize(width, height, 1, &newWidth, &newHeight);
    if (newWidth != width || newHeight != height) {
        buffer = KS_ResizeBuffer(buffer, width, height, newWidth, newHeight);
        width = newWidth;
        height = newHeight;
        if (!buffer) return handle;
    }
    KSTexture* entry = &ksTextures[handle];
    entry->width = width;
    entry->height = height;
    entry->uScale = entry->vScale = KS_TexelScale();

    if (ksTextureFormatCode == 17) {
        KS_MakeNormalTexture(buffer, width, height, handle);
        KS_FREE(buffer);
        return handle;
    }
    D3DFORMAT format;
    int32_t bytesPerTexel;
    int32_t formatClass = KS_ChooseTextureFormat(&format, &bytesPerTexel);
    int32_t levels = KS_CountMipLevels(width, height);
    IDirect3DTexture8* texture = KS_CreateManagedTexture(width, height, levels, format);
    int32_t created = (int32_t)texture->GetLevelCount();
    for (int32_t level = 0; level < created; level++) {
        uint8_t* pixels = level == 0 ? buffer : KS_MipLevel32(buffer, width, height, level, KS_FILTER_BOX);
        if (!pixels) continue;
        int32_t levelWidth, levelHeight, pitch;
        uint8_t* bits = KS_LockTextureLevel(texture, (UINT)level, &levelWidth, &levelHeight, &pitch);
        int32_t imageWidth = width >> level, imageHeight = height >> level;
        // The converter walks the buffer by its own width: convert whole rows, fewer when the
        // level is smaller than the reduction.
        if (levelWidth >= imageWidth)
            KS_Convert32(formatClass, format, pixels, bits, pitch, imageWidth, KS_Min(levelHeight, imageHeight));
        texture->UnlockRect((UINT)level);
        if (level > 0) KS_FREE(pixels);
    }
    ksTextures[handle].texture = texture;
    KS_FREE(buffer);
    return handle;
}

int32_t KS_AddTextureDDS(const char* name, IDirect3DTexture8* texture, int32_t width, int32_t height) {
    int32_t handle = KS_NewTextureEntry(name, 1);
    if (handle < 0) {
        if (texture) texture->Release();
        return handle;
    }
    KSTexture* entry = &ksTextures[handle];
    entry->texture = texture;
    entry->width = width;
    entry->height = height;
    entry->uScale = entry->vScale = KS_TexelScale();
    return handle;
}

// ---- Binding and palettes ----

void KSGFX_SelectTexture(int32_t handle) {
    if (handle < 0 || handle >= ksTextureCount || !ksGlobal.device) return;
    KSTexture* entry = &ksTextures[handle];
    // The second pointer serves a second device; while nothing fills it the first one is bound.
    IDirect3DTexture8* texture = entry->texture;
    if (ksGlobal.currentAdapter != ksGlobal.chosenDevice && entry->texture2) texture = entry->texture2;
    if (!texture) return;

    int32_t stage = entry->stage;
    if (ksGlobal.caps.singleTexture || ksDraw.passes > 1) stage = 0;
    if (stage >= ksGlobal.caps.MaxSimultaneous) stage = ksGlobal.caps.MaxSimultaneous - 1;
    if (stage < 0) stage = 0;
    if (entry->formatCode == 11) ksGlobal.device->SetCurrentTexturePalette((UINT)handle);
    HRESULT result = ksGlobal.device->SetTexture((DWORD)stage, texture);
    if (FAILED(result)) {
        if (verbose) KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, __LINE__, KS_D3DErrorName(result));
        KS_FatalError("Can't set texture stage", "KSGFX_SelectTexture");
    }
    entry->lastUsed = ksTextureFrame;
}

void KS_SetTexturePaletteD3D(int32_t handle, int32_t flag) {
    if (!flag || handle < 0 || handle >= ksTextureCount || !ksTextures[handle].palette || !ksGlobal.device) return;
    KS_UploadPalette(handle, ksTextures[handle].palette, 0);
}

// ---- Render textures ----

int32_t KS_CreateRenderTexture(int32_t slot, int32_t width, int32_t height, const char* name) {
    if (slot < 0 || slot >= KS_RENDER_TEXTURES) return KSERR_TEXTURE_ARRAY_FULL;
    int32_t savedCode = ksTextureFormatCode;
    ksTextureFormatCode = 0;
    int32_t handle = KS_NewTextureEntry(name, 1);
    ksTextureFormatCode = savedCode;
    if (handle < 0) return handle;
    KSTexture* entry = &ksTextures[handle];
    entry->width = width;
    entry->height = height;
    entry->uScale = entry->vScale = KS_TexelScale();
    KSRenderTexture* record = &ksRenderTextures[slot];
    memset(record->name, 0, sizeof(record->name));
    if (name) strncpy(record->name, name, sizeof(record->name) - 1);

    if (!ksGlobal.device)
        KS_TextureFailure(D3DERR_INVALIDCALL, __LINE__,
                          "CreateSurface for render texture failed.  Your video card may not support this feature.");
    D3DDISPLAYMODE mode;
    memset(&mode, 0, sizeof(mode));
    ksGlobal.device->GetDisplayMode(&mode);
    UINT adapter;
    D3DDEVTYPE type;
    KS_TextureDeviceChoice(&adapter, &type);
    HRESULT result = ksGlobal.d3d ? ksGlobal.d3d->CheckDeviceFormat(adapter, type, mode.Format, D3DUSAGE_RENDERTARGET,
                                                                    D3DRTYPE_TEXTURE, mode.Format)
                                  : D3DERR_INVALIDCALL;
    if (FAILED(result) && verbose)
        KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, __LINE__, KS_D3DErrorName(result));

    IDirect3DTexture8* texture = nullptr;
    result = ksGlobal.device->CreateTexture((UINT)width, (UINT)height, 1, D3DUSAGE_RENDERTARGET, mode.Format,
                                            D3DPOOL_DEFAULT, &texture);
    if (FAILED(result) || !texture)
        KS_TextureFailure(result, __LINE__,
                          "CreateSurface for render texture failed.  Your video card may not support this feature.");
    ksTextures[handle].texture = texture;

    record->inUse = 1;
    record->texture = handle;
    record->reserved = 0;
    record->width = width;
    record->height = height;
    record->stage = ksTextureStage;
    // A slot made again keeps no second depth surface behind.
    if (record->depthSurface) record->depthSurface->Release();
    record->depthSurface = nullptr;
    result = ksGlobal.device->CreateDepthStencilSurface((UINT)width, (UINT)height, D3DFMT_D16,
                                                        D3DMULTISAMPLE_NONE, &record->depthSurface);
    if (FAILED(result) || !record->depthSurface) KS_TextureFailure(result, __LINE__, "CreateSurface for texture failed");
    return handle;
}

void KS_ReleaseRenderTextures(void) {
    for (KSRenderTexture& record : ksRenderTextures) {
        if (!record.inUse) continue;
        KS_DeleteTexture(record.name);
        if (record.depthSurface) record.depthSurface->Release();
        record.depthSurface = nullptr;
    }
    KS_ReleaseVertexShaders();
    KS_ReleasePixelShaders();
}

void KS_RestoreRenderTextures(void) {
    for (int32_t slot = 0; slot < KS_RENDER_TEXTURES; slot++) {
        KSRenderTexture* record = &ksRenderTextures[slot];
        if (!record->inUse || record->reserved != 0) continue;
        char name[32];
        memcpy(name, record->name, sizeof(name));
        ksTextureStage = record->stage;
        KS_CreateRenderTexture(slot, record->width, record->height, name);
    }
    KS_RestoreVertexShaders();
    KS_RestorePixelShaders();
}
