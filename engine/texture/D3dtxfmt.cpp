// Texture formats of the device: which of a fixed list of formats it takes as textures, the
// default slots, the mapping of the engine-wide texture format code to a format, and the two
// textures computed from height images (du/dv bump maps and normal maps).
#define KS_MODULE "D3dtxfmt"
#include "kestra.h"

#include <math.h>
#include <string.h>

KSTextureFormat ksTextureFormats[KS_TEXTURE_FORMAT_CANDIDATES];
int32_t ksTextureFormatCount = 0;
int32_t ksDefaultFormats[KS_SLOT_COUNT] = {-1, -1, -1, -1, -1, -1, -1, -1};

// Asked of the device in this order; the two unknown entries never pass.
static const D3DFORMAT ksFormatCandidates[KS_TEXTURE_FORMAT_CANDIDATES] = {
    D3DFMT_R5G6B5, D3DFMT_A1R5G5B5, D3DFMT_R3G3B2, D3DFMT_A8R3G3B2, D3DFMT_A4R4G4B4, D3DFMT_UNKNOWN,
    D3DFMT_UNKNOWN, D3DFMT_L8, D3DFMT_A8, D3DFMT_A4L4, D3DFMT_A8L8, D3DFMT_P8, D3DFMT_A8P8,
    D3DFMT_L6V5U5, D3DFMT_X8L8V8U8, D3DFMT_V8U8, D3DFMT_A8R8G8B8,
};

// Red, green, blue and alpha bits of the colour formats; every other format has none.
static void KS_FormatBitCounts(D3DFORMAT format, KSTextureFormat* record) {
    struct KSBits {
        D3DFORMAT format;
        int32_t red, green, blue, alpha;
    };
    static const KSBits bits[] = {
        {D3DFMT_R8G8B8, 8, 8, 8, 0},   {D3DFMT_A8R8G8B8, 8, 8, 8, 8}, {D3DFMT_R5G6B5, 5, 6, 5, 0},
        {D3DFMT_A1R5G5B5, 5, 5, 5, 1}, {D3DFMT_A4R4G4B4, 4, 4, 4, 4}, {D3DFMT_R3G3B2, 3, 3, 2, 0},
        {D3DFMT_A8R3G3B2, 3, 3, 2, 8},
    };
    for (const KSBits& row : bits) {
        if (row.format != format) continue;
        record->redBits = row.red;
        record->greenBits = row.green;
        record->blueBits = row.blue;
        record->alphaBits = row.alpha;
        return;
    }
}

// The format the device's textures are checked against: the back buffer's (the desktop format in
// a window, the mode's format full screen).
static D3DFORMAT KS_AdapterFormat(void) {
    if (ksGlobal.backBufferFormat != D3DFMT_UNKNOWN) return ksGlobal.backBufferFormat;
    D3DDISPLAYMODE mode;
    if (ksGlobal.device && SUCCEEDED(ksGlobal.device->GetDisplayMode(&mode))) return mode.Format;
    return D3DFMT_X8R8G8B8;
}

void KS_TextureDeviceChoice(UINT* adapter, D3DDEVTYPE* type) {
    // The device was made on the current adapter with the chosen device-type entry's type.
    int32_t entry = ksGlobal.chosenDevice;
    if (entry < 0 || entry >= ksGlobal.deviceCount || entry >= KS_MAX_DEVICES) entry = 0;
    D3DDEVTYPE chosen = (D3DDEVTYPE)ksGlobal.devices[entry].type;
    *adapter = (UINT)(ksGlobal.currentAdapter < 0 ? 0 : ksGlobal.currentAdapter);
    *type = chosen == 0 ? D3DDEVTYPE_HAL : chosen;
}

void KS_EnumTextureFormats(void) {
    ksTextureFormatCount = 0;
    IDirect3D8* d3d = ksGlobal.d3d;
    D3DFORMAT adapterFormat = KS_AdapterFormat();
    UINT adapter;
    D3DDEVTYPE type;
    KS_TextureDeviceChoice(&adapter, &type);
    for (D3DFORMAT candidate : ksFormatCandidates) {
        if (candidate == D3DFMT_UNKNOWN || !d3d) continue;
        if (FAILED(d3d->CheckDeviceFormat(adapter, type, adapterFormat, 0, D3DRTYPE_TEXTURE, candidate)))
            continue;
        KSTextureFormat* record = &ksTextureFormats[ksTextureFormatCount];
        memset(record, 0, sizeof(*record));
        record->format = candidate;
        if (candidate == D3DFMT_P8 || candidate == D3DFMT_A8P8) {
            record->palettized = 1;
            record->indexBits = 8;
        } else {
            KS_FormatBitCounts(candidate, record);
        }
        if (verbose) {
            KS_Log("EnumTextureFormat %i", ksTextureFormatCount);
            KS_Log(" Palette: %i", record->palettized);
            KS_Log(" Index BPP: %i", record->indexBits);
            KS_Log(" Red BPP: %i", record->redBits);
            KS_Log(" Green BPP: %i", record->greenBits);
            KS_Log(" Blue BPP: %i", record->blueBits);
        }
        ksTextureFormatCount++;
    }

    for (int32_t& slot : ksDefaultFormats) slot = -1;
    if (verbose) KS_Log("Finding the default texture formats");
    for (int32_t i = 0; i < ksTextureFormatCount; i++) {
        const KSTextureFormat* f = &ksTextureFormats[i];
        if (verbose) KS_Log(" Looking at %i", i);
        if (f->palettized && f->indexBits == 8) {
            // The slot serves one-byte index textures; A8P8 has a second byte per texel that the
            // index copy would not fill, so it does not take the slot from P8.
            if (f->format == D3DFMT_P8) {
                ksDefaultFormats[KS_SLOT_P8] = i;
                if (verbose) KS_Log(" Found P8 at %i", i);
            }
            continue;
        }
        if (f->format == D3DFMT_L6V5U5) ksDefaultFormats[KS_SLOT_L6V5U5] = i;
        if (f->format == D3DFMT_V8U8) ksDefaultFormats[KS_SLOT_V8U8] = i;
        if (f->redBits == 8 && f->greenBits == 8 && f->blueBits == 8 && f->alphaBits == 8) {
            ksDefaultFormats[KS_SLOT_RGBA8888] = i;
            if (verbose) KS_Log(" Found RGBA8888 at %i", i);
        }
        if (f->redBits == 5 && f->greenBits == 6 && f->blueBits == 5) {
            ksDefaultFormats[KS_SLOT_RGB565] = i;
            if (verbose) KS_Log(" Found RGB565 at %i", i);
        }
        if (f->redBits == 5 && f->greenBits == 5 && f->blueBits == 5) {
            ksDefaultFormats[KS_SLOT_RGB555] = i;
            if (verbose) KS_Log(" Found RGB555 at %i", i);
        }
        if (f->redBits == 4 && f->greenBits == 4 && f->blueBits == 4) {
            ksDefaultFormats[KS_SLOT_RGBA4444] = i;
            if (verbose) KS_Log(" Found RGBA4444 at %i", i);
        }
    }
    if (ksDefaultFormats[KS_SLOT_RGB565] == -1) ksDefaultFormats[KS_SLOT_RGB565] = ksDefaultFormats[KS_SLOT_RGB555];
}

static int32_t KS_ClassOfCode(int32_t code) {
    switch (code) {
        case 0: case 2: case 5: case 7: return KS_CLASS_RGB;
        case 1: case 3: case 4: case 6: case 9: case 10: return KS_CLASS_RGBA4;
        case 11: case 12: return KS_CLASS_PALETTE;
        case 13: return KS_CLASS_BUMP_L6V5U5;
        case 14: return KS_CLASS_BUMP_X8L8V8U8;
        case 15: return KS_CLASS_BUMP_V8U8;
        case 16: return KS_CLASS_RGBA8;
        default: return KS_CLASS_UNKNOWN;
    }
}

static int32_t KS_SlotOfClass(int32_t formatClass) {
    switch (formatClass) {
        case KS_CLASS_RGBA4: return KS_SLOT_RGBA4444;
        case KS_CLASS_PALETTE: return KS_SLOT_P8;
        case KS_CLASS_BUMP_L6V5U5: return KS_SLOT_L6V5U5;
        case KS_CLASS_BUMP_X8L8V8U8: return KS_SLOT_X8L8V8U8;
        case KS_CLASS_BUMP_V8U8: return KS_SLOT_V8U8;
        case KS_CLASS_RGBA8: return KS_SLOT_RGBA8888;
        default: return KS_SLOT_RGB565;
    }
}

int32_t KS_ChooseTextureFormat(D3DFORMAT* format, int32_t* bytesPerTexel) {
    if (verbose) KS_Log("Determine texture format.. current format is %i", ksTextureFormatCode);
    int32_t formatClass = KS_ClassOfCode(ksTextureFormatCode);
    if (verbose) KS_Log("  Modified format is %i", formatClass);

    if (formatClass == KS_CLASS_PALETTE && ksDefaultFormats[KS_SLOT_P8] == -1) formatClass = KS_CLASS_RGB;
    if (formatClass == KS_CLASS_RGBA8 && ksDefaultFormats[KS_SLOT_RGBA8888] == -1) formatClass = KS_CLASS_RGB;
    if (formatClass == KS_CLASS_BUMP_X8L8V8U8 && ksDefaultFormats[KS_SLOT_X8L8V8U8] == -1)
        formatClass = KS_CLASS_BUMP_V8U8;
    if (formatClass == KS_CLASS_BUMP_L6V5U5 && ksDefaultFormats[KS_SLOT_L6V5U5] == -1)
        formatClass = KS_CLASS_BUMP_V8U8;
    if (formatClass == KS_CLASS_UNKNOWN) {
        if (verbose) KS_Log("  Unknown texture format.. assuming RGB565");
        formatClass = KS_CLASS_RGB;
    }

    int32_t record = ksDefaultFormats[KS_SlotOfClass(formatClass)];
    if (record == -1) {
        if (verbose) KS_Log("  Still unknown texture format.. assuming 8 bit");
        record = ksDefaultFormats[KS_SLOT_P8];
        formatClass = KS_CLASS_PALETTE;
        if (record == -1) {
            if (verbose) KS_Log("  Still unknown texture format.. assuming first format");
            record = 0;
            formatClass = KS_CLASS_RGB;
        }
    }
    if (verbose) KS_Log("  Format Chosen: %i", record);
    // A device that accepts no texture format at all leaves nothing to choose: creating a texture
    // with the unknown format then fails with the creation error.
    D3DFORMAT chosen = record < ksTextureFormatCount ? (D3DFORMAT)ksTextureFormats[record].format : D3DFMT_UNKNOWN;
    if (format) *format = chosen;
    if (bytesPerTexel) *bytesPerTexel = KS_FormatTexelBytes(chosen);
    return formatClass;
}

IDirect3DTexture8* KS_MakeBumpTexture(int32_t formatClass, IDirect3DSurface8* image, int32_t handle,
                                      const uint8_t* palette) {
    if (!image) KS_FatalError("Bump map image not loaded", "InitBump");
    if (!palette) palette = ksPalette;
    D3DFORMAT format = formatClass == KS_CLASS_BUMP_L6V5U5    ? D3DFMT_L6V5U5
                       : formatClass == KS_CLASS_BUMP_X8L8V8U8 ? D3DFMT_X8L8V8U8
                                                               : D3DFMT_V8U8;
    int32_t width = KS_SurfaceWidth(image), height = KS_SurfaceHeight(image);
    int32_t levels = KS_CountMipLevels(width, height);
    IDirect3DTexture8* texture = KS_CreateManagedTexture(width, height, levels, format);
    int32_t created = (int32_t)texture->GetLevelCount();

    for (int32_t level = 0; level < created; level++) {
        // Heights: the average palette red of each block.
        ksMipHeightMode = 1;
        IDirect3DSurface8* heights = KS_MipLevel8(image, level, KS_FILTER_BOX, palette);
        ksMipHeightMode = 0;
        if (!heights) continue;
        int32_t levelWidth, levelHeight, pitch = 0;
        uint8_t* bits = KS_LockTextureLevel(texture, (UINT)level, &levelWidth, &levelHeight, &pitch);
        int32_t w = KS_SurfaceWidth(heights), h = KS_SurfaceHeight(heights);
        if (levelWidth < w) w = levelWidth;
        if (levelHeight < h) h = levelHeight;
        int heightPitch = 0;
        const uint8_t* map = (const uint8_t*)KS_LockSurface(heights, &heightPitch);
        for (int32_t y = 0; y < h; y++) {
            const uint8_t* row = map + (size_t)y * heightPitch;
            const uint8_t* up = y > 0 ? row - heightPitch : row;
            const uint8_t* down = y < h - 1 ? row + heightPitch : row;
            uint8_t* out = bits + (size_t)y * pitch;
            for (int32_t x = 0; x < w; x++) {
                int32_t c = row[x];
                int32_t left = x > 0 ? row[x - 1] : c, right = x < w - 1 ? row[x + 1] : c;
                // A dip between two higher neighbours slopes from the left side only.
                int32_t du = (c < left && c < right) ? left - c : left - right;
                int32_t dv = up[x] - down[x];
                if (format == D3DFMT_V8U8) {
                    out[x * 2] = (uint8_t)du;
                    out[x * 2 + 1] = (uint8_t)dv;
                } else if (format == D3DFMT_L6V5U5) {
                    uint32_t word = ((uint32_t)(du >> 3) & 31u) | (((uint32_t)(dv >> 3) & 31u) << 5) | (32u << 10);
                    out[x * 2] = (uint8_t)word;
                    out[x * 2 + 1] = (uint8_t)(word >> 8);
                } else {
                    out[x * 4] = (uint8_t)du;
                    out[x * 4 + 1] = (uint8_t)dv;
                    out[x * 4 + 2] = 255;
                    out[x * 4 + 3] = 0;
                }
            }
        }
        texture->UnlockRect((UINT)level);
        KS_UnlockSurface(heights);
        KS_ReleaseSurface(heights);
    }
    if (ksTextures && handle >= 0 && handle < ksTextureCount) ksTextures[handle].texture = texture;
    return texture;
}

IDirect3DTexture8* KS_MakeNormalTexture(const uint8_t* buffer, int32_t width, int32_t height, int32_t handle) {
    if (!buffer) KS_FatalError("Bump map image not loaded", "InitBump");
    int32_t levels = KS_CountMipLevels(width, height);
    IDirect3DTexture8* texture = KS_CreateManagedTexture(width, height, levels, D3DFMT_A8R8G8B8);
    int32_t created = (int32_t)texture->GetLevelCount();

    for (int32_t level = 0; level < created; level++) {
        const uint8_t* image = buffer;
        uint8_t* reduced = nullptr;
        if (level > 0) {
            reduced = KS_MipLevel32(buffer, width, height, level, KS_FILTER_BOX);
            if (!reduced) continue;
            image = reduced;
        }
        int32_t imageWidth = width >> level, imageHeight = height >> level;
        int32_t levelWidth, levelHeight, pitch = 0;
        uint8_t* bits = KS_LockTextureLevel(texture, (UINT)level, &levelWidth, &levelHeight, &pitch);
        int32_t w = imageWidth < levelWidth ? imageWidth : levelWidth;
        int32_t h = imageHeight < levelHeight ? imageHeight : levelHeight;
        for (int32_t y = 0; y < h; y++) {
            const uint8_t* row = image + (size_t)y * imageWidth * 4;
            const uint8_t* next = y < h - 1 ? row + (size_t)imageWidth * 4 : row;
            uint8_t* out = bits + (size_t)y * pitch;
            for (int32_t x = 0; x < w; x++) {
                float heightHere = (float)row[x * 4] / 255.0f;
                // The first row, like the last column, has no right-hand slope.
                float heightRight = (y == 0 || x == w - 1) ? heightHere : (float)row[(x + 1) * 4] / 255.0f;
                float heightDown = (float)next[x * 4] / 255.0f;
                float nx = heightHere - heightRight, ny = heightHere - heightDown, nz = 1.0f;
                float length = sqrtf(nx * nx + ny * ny + nz * nz);
                nx /= length;
                ny /= length;
                nz /= length;
                out[x * 4 + 3] = (uint8_t)(int32_t)(255.0f * heightHere);
                out[x * 4 + 2] = (uint8_t)(int32_t)(127.0f * nx + 128.0f);
                out[x * 4 + 1] = (uint8_t)(int32_t)(127.0f * ny + 128.0f);
                out[x * 4 + 0] = (uint8_t)(int32_t)(127.0f * nz + 128.0f);
            }
        }
        texture->UnlockRect((UINT)level);
        KS_FREE(reduced);
    }
    if (ksTextures && handle >= 0 && handle < ksTextureCount) ksTextures[handle].texture = texture;
    return texture;
}
