// Textures by name: the loader chosen by extension, loading into the table, lookup and deletion.
#define KS_MODULE "KSTXTURE"
#include "kestra.h"

#include <stdio.h>
#include <string.h>

static char KS_UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

static int KS_SameNameIgnoringCase(const char* a, const char* b) {
    for (;; a++, b++) {
        char ca = KS_UpperAscii(*a), cb = KS_UpperAscii(*b);
        if (ca != cb) return 0;
        if (!ca) return 1;
    }
}

int32_t KS_TextureKind(const char* path) {
    if (!path) return KS_KIND_NONE;
    const char* name = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    const char* dot = strrchr(name, '.');
    if (!dot) return KS_KIND_NONE;
    struct KSKindRow {
        const char* extension;
        int32_t kind;
    };
    static const KSKindRow kinds[] = {
        {".PCX", KS_KIND_PCX}, {".BLK", KS_KIND_BLK}, {".PAK", KS_KIND_PAK}, {".LBM", KS_KIND_LBM},
        {".IFF", KS_KIND_LBM}, {".BMP", KS_KIND_BMP}, {".3DF", KS_KIND_3DF}, {".JPG", KS_KIND_JPG},
        {".TGA", KS_KIND_TGA}, {".DDS", KS_KIND_DDS},
    };
    for (const KSKindRow& row : kinds)
        if (KS_SameNameIgnoringCase(dot, row.extension)) return row.kind;
    return KS_KIND_NONE;
}

int32_t KS_FindTexture(const char* name) {
    if (!name || !ksTextures) return KSERR_TEXTURE_NOT_FOUND;
    for (int32_t i = 0; i < ksTextureCount; i++)
        if (ksTextures[i].name && KS_SameNameIgnoringCase(ksTextures[i].name, name)) return i;
    return KSERR_TEXTURE_NOT_FOUND;
}

int32_t KS_DeleteTexture(const char* name) {
    if (!ksTextures || ksTextureCount == 0 || !name) return KSERR_TEXTURE_NOT_FOUND;
    int32_t handle = KS_FindTexture(name);
    if (handle < 0) return KSERR_TEXTURE_NOT_FOUND;
    KSTexture* entry = &ksTextures[handle];
    KS_FREE(entry->name);
    if (entry->texture) entry->texture->Release();
    // The palette copy goes with the entry: the next add into this slot makes its own.
    KS_FREE(entry->palette);
    entry->name = nullptr;
    entry->texture = nullptr;
    entry->palette = nullptr;
    return KSERR_TEXTURE_DELETED;
}

// Texture directory + name, or null when the result does not fit.
static const char* KS_TexturePath(const char* name, char* path, size_t size) {
    int n = snprintf(path, size, "%s%s", ksTextureDirectory, name);
    return (n < 0 || (size_t)n >= size) ? nullptr : path;
}

// An 8-bit picture of kind PCX, LBM/IFF or BMP (logged to the error log as it is loaded), or null.
static IDirect3DSurface8* KS_LoadImage8(const char* path, uint8_t* palette) {
    switch (KS_TextureKind(path)) {
        case KS_KIND_PCX: KS_LogError(path, "Loading PCX"); return KS_LoadPCX(path, palette);
        case KS_KIND_LBM: KS_LogError(path, "Loading LBM"); return KS_LoadLBM(path, palette);
        case KS_KIND_BMP: KS_LogError(path, "Loading BMP"); return KS_LoadBMP(path, palette);
        default: return nullptr;
    }
}

static int32_t KS_TextureLoadFailed(const char* path) {
    if (ksGlobal.fatalTextureErrors) KS_FatalError("Cannot open texture", path);
    return KSERR_TEXTURE_NOT_FOUND;
}

int32_t KS_LoadTextureD3D(const char* name) {
    if (!name) return KSERR_TEXTURE_NOT_FOUND;
    int32_t handle = KS_FindTexture(name);
    if (handle >= 0) return handle;
    char buffer[1024];
    const char* path = KS_TexturePath(name, buffer, sizeof(buffer));
    if (!path) return KS_TextureLoadFailed(name);

    int32_t kind = KS_TextureKind(path);
    if (kind == KS_KIND_PCX || kind == KS_KIND_LBM || kind == KS_KIND_BMP) {
        uint8_t palette[768];
        memset(palette, 0, sizeof(palette));
        IDirect3DSurface8* image = KS_LoadImage8(path, palette);
        if (!image) return KS_TextureLoadFailed(path);
        if (ksGlobal.loadPaletteFlag) memcpy(ksPalette, palette, sizeof(ksPalette));
        // Through the device's add-texture procedure, as every 8-bit picture is added.
        return ksProcTable.AddTexture ? KSGFX_AddTexture(name, image) : KS_AddTextureD3D(name, image);
    }
    if (kind == KS_KIND_JPG || kind == KS_KIND_TGA) {
        int32_t width = 0, height = 0;
        uint8_t* buffer32;
        if (kind == KS_KIND_JPG) {
            KS_LogError(path, "Loading JPG");
            buffer32 = KS_LoadJPEG(path, &width, &height);
        } else {
            KS_LogError(path, "Loading TGA");
            buffer32 = KS_LoadTGA(path, &width, &height);
        }
        if (!buffer32) return KS_TextureLoadFailed(path);
        return KS_AddTextureRGBA(name, buffer32, width, height);
    }
    if (kind == KS_KIND_DDS) {
        KS_LogError(path, "Loading DDS");
        int32_t width = 0, height = 0;
        IDirect3DTexture8* texture = KS_LoadDDS(path, &width, &height);
        if (!texture) return KS_TextureLoadFailed(path);
        return KS_AddTextureDDS(name, texture, width, height);
    }
    return KS_TextureLoadFailed(path);
}

int32_t KS_LoadTexture2D3D(const char* name, const char* alphaName) {
    if (!name) return KSERR_TEXTURE_NOT_FOUND;
    int32_t handle = KS_FindTexture(name);
    if (handle >= 0) return handle;
    char colourBuffer[1024], alphaBuffer[1024];
    const char* colourPath = KS_TexturePath(name, colourBuffer, sizeof(colourBuffer));
    const char* alphaPath = alphaName ? KS_TexturePath(alphaName, alphaBuffer, sizeof(alphaBuffer)) : nullptr;
    uint8_t palette[768], alphaPalette[768];
    memset(palette, 0, sizeof(palette));
    IDirect3DSurface8* colour = colourPath ? KS_LoadImage8(colourPath, palette) : nullptr;
    IDirect3DSurface8* alpha = alphaPath ? KS_LoadImage8(alphaPath, alphaPalette) : nullptr;
    if (colour && ksGlobal.loadPaletteFlag) memcpy(ksPalette, palette, sizeof(ksPalette));
    return ksProcTable.AddTexture2 ? KSGFX_AddTexture2(name, colour, alpha) : KS_AddTexture2D3D(name, colour, alpha);
}
