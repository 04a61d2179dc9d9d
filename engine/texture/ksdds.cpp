// DDS files straight into managed Direct3D textures: DXT1 to DXT5 and the uncompressed A8R8G8B8,
// A1R5G5B5, A4R4G4B4, R8G8B8 and R5G6B5 layouts, with every mipmap level the file holds.
#define KS_MODULE "ksdds"
#include "kestra.h"

#include <string.h>

static uint32_t KS_Get32LE(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static D3DFORMAT KS_DDSFormat(const uint8_t* desc) {
    uint32_t flags = KS_Get32LE(desc + 76), fourCC = KS_Get32LE(desc + 80);
    uint32_t bitCount = KS_Get32LE(desc + 84), greenMask = KS_Get32LE(desc + 92);
    uint32_t alphaMask = KS_Get32LE(desc + 100);
    static const D3DFORMAT compressed[] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
    for (D3DFORMAT format : compressed)
        if (fourCC == (uint32_t)format) return format;
    if (flags == 0x41) {
        if (bitCount == 32 && alphaMask == 0xFF000000u) return D3DFMT_A8R8G8B8;
        if (bitCount == 16 && alphaMask == 0x8000u) return D3DFMT_A1R5G5B5;
        if (bitCount == 16 && alphaMask == 0xF000u) return D3DFMT_A4R4G4B4;
    } else if (flags == 0x40) {
        if (bitCount == 24) return D3DFMT_R8G8B8;
        if (bitCount == 16 && greenMask == 0x07E0u) return D3DFMT_R5G6B5;
    }
    return D3DFMT_UNKNOWN;
}

static bool KS_IsDXT(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ||
           format == D3DFMT_DXT4 || format == D3DFMT_DXT5;
}

// Reads one level from the file into the texture; 0 when the file is short or the level is not in
// a format the file layout describes.
static int KS_ReadDDSLevel(KSFile* file, IDirect3DTexture8* texture, UINT level) {
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(texture->GetSurfaceLevel(level, &surface)) || !surface) return 0;
    D3DSURFACE_DESC desc;
    if (FAILED(surface->GetDesc(&desc))) {
        surface->Release();
        return 0;
    }
    int64_t rowBytes = 0;
    switch (desc.Format) {
        case D3DFMT_R8G8B8: rowBytes = (int64_t)desc.Width * 3; break;
        case D3DFMT_A8R8G8B8: rowBytes = (int64_t)desc.Width * 4; break;
        case D3DFMT_R5G6B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4: rowBytes = (int64_t)desc.Width * 2; break;
        default:
            if (!KS_IsDXT(desc.Format)) {
                surface->Release();
                return 0;
            }
            break;
    }
    D3DLOCKED_RECT locked;
    if (FAILED(surface->LockRect(&locked, nullptr, 0))) {
        surface->Release();
        return 0;
    }
    int ok = 1;
    uint8_t* bits = (uint8_t*)locked.pBits;
    if (KS_IsDXT(desc.Format)) {
        ok = desc.Size <= 0x7FFFFFFFu && KS_ReadFile(bits, 1, (int32_t)desc.Size, file) == (int32_t)desc.Size;
    } else {
        for (UINT y = 0; ok && y < desc.Height; y++)
            ok = KS_ReadFile(bits + (size_t)y * locked.Pitch, 1, (int32_t)rowBytes, file) == rowBytes;
    }
    surface->UnlockRect();
    surface->Release();
    return ok;
}

IDirect3DTexture8* KS_LoadDDS(const char* path, int32_t* width, int32_t* height) {
    int32_t dummyWidth, dummyHeight;
    if (!width) width = &dummyWidth;
    if (!height) height = &dummyHeight;
    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;
    uint8_t magic[4], desc[124];
    if (KS_ReadFile(magic, 1, 4, file) != 4 || KS_Get32LE(magic) != 0x20534444u ||
        KS_ReadFile(desc, 1, 124, file) != 124 || KS_Get32LE(desc) != 124) {
        KS_CloseFile(file);
        return nullptr;
    }
    uint32_t h = KS_Get32LE(desc + 8), w = KS_Get32LE(desc + 12);
    uint32_t levels = KS_Get32LE(desc + 24);
    if (levels == 0) levels = 1;
    D3DFORMAT format = KS_DDSFormat(desc);
    // A size no texture of this device can have, or more levels than the full chain, is a damaged
    // file rather than a reason to stop the program.
    uint32_t chain = 1;
    for (uint32_t side = (w > h ? w : h); side > 1; side >>= 1) chain++;
    bool tooLarge = (ksGlobal.caps.MaxTextureWidth > 0 && w > (uint32_t)ksGlobal.caps.MaxTextureWidth) ||
                    (ksGlobal.caps.MaxTextureHeight > 0 && h > (uint32_t)ksGlobal.caps.MaxTextureHeight);
    if (format == D3DFMT_UNKNOWN || !KS_ImageSizeOk(w, h) || tooLarge || levels > chain || !ksGlobal.device) {
        KS_CloseFile(file);
        return nullptr;
    }

    IDirect3DTexture8* texture = nullptr;
    HRESULT result = ksGlobal.device->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &texture);
    if (FAILED(result) || !texture) {
        if (verbose) KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, __LINE__, KS_D3DErrorName(result));
        KS_FatalError("CreateSurface for texture failed", nullptr);
    }
    UINT created = texture->GetLevelCount();
    for (UINT level = 0; level < created; level++) {
        if (!KS_ReadDDSLevel(file, texture, level)) {
            texture->Release();
            KS_CloseFile(file);
            return nullptr;
        }
    }
    D3DSURFACE_DESC top;
    if (SUCCEEDED(texture->GetLevelDesc(0, &top))) {
        *width = (int32_t)top.Width;
        *height = (int32_t)top.Height;
    } else {
        *width = (int32_t)w;
        *height = (int32_t)h;
    }
    KS_CloseFile(file);
    return texture;
}
