// Uncompressed BMP pictures of 1, 4, 8 and 24 bits into 8-bit image surfaces, bottom-up as most
// files are or top-down when the height is negative. 24-bit pictures become grey levels: the
// texel is a weighted sum of the three bytes, and the palette a grey ramp.
#define KS_MODULE "ksimg_bmp"
#include "kestra.h"

#include <string.h>

static uint32_t KS_Get32LE(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

IDirect3DSurface8* KS_LoadBMP(const char* path, uint8_t* palette) {
    uint8_t scratch[768];
    if (!palette) palette = scratch;
    memset(palette, 0, 6);
    palette[3] = palette[4] = palette[5] = 63;

    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;
    uint8_t header[54];
    if (KS_ReadFile(header, 1, 54, file) != 54 || header[0] != 'B' || header[1] != 'M' ||
        KS_Get32LE(header + 30) != 0) {
        KS_CloseFile(file);
        return nullptr;
    }
    uint32_t dataOffset = KS_Get32LE(header + 10);
    int32_t width = (int32_t)KS_Get32LE(header + 18);
    // A negative height marks rows stored top to bottom; the picture is as high as its magnitude.
    int64_t storedHeight = (int32_t)KS_Get32LE(header + 22);
    bool topDown = storedHeight < 0;
    if (topDown) storedHeight = -storedHeight;
    int32_t height = storedHeight > KS_IMAGE_MAX_SIDE ? 0 : (int32_t)storedHeight;
    // The colour table follows the information header, which newer writers make longer than 40.
    uint32_t infoSize = KS_Get32LE(header + 14);
    int32_t bitCount = (int32_t)(header[28] | (header[29] << 8));
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) {
        KS_CloseFile(file);
        return nullptr;
    }
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    if (!surface) {
        KS_CloseFile(file);
        return nullptr;
    }

    if (bitCount >= 2 && bitCount <= 8) {
        // Small pictures may list fewer colours than their bit count allows; missing ones are black.
        int32_t entries = 1 << bitCount;
        uint8_t quads[256 * 4];
        memset(quads, 0, sizeof(quads));
        if (infoSize > 40 && infoSize <= 0x7FFFFFF0u - 14) KS_SeekFile(file, (int32_t)(14 + infoSize), KS_SEEK_SET);
        KS_ReadFile(quads, 4, entries, file);
        for (int32_t i = 0; i < entries; i++) {
            palette[i * 3 + 0] = (uint8_t)(quads[i * 4 + 2] >> 2);
            palette[i * 3 + 1] = (uint8_t)(quads[i * 4 + 1] >> 2);
            palette[i * 3 + 2] = (uint8_t)(quads[i * 4 + 0] >> 2);
        }
    } else if (bitCount == 24) {
        for (int32_t i = 0; i < 256; i++) palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] = (uint8_t)(i >> 2);
    }

    int64_t rowSize;
    switch (bitCount) {
        case 1: rowSize = (width + 7) / 8; break;
        case 4: rowSize = (int64_t)((width + 7) / 8) * 4; break;
        case 8: rowSize = width; break;
        default: rowSize = (int64_t)width * 3; break;
    }
    rowSize = (rowSize + 3) & ~(int64_t)3;
    uint8_t* row = (uint8_t*)KS_ALLOC(rowSize);
    if (!row || dataOffset > 0x7FFFFFFFu) {
        KS_FREE(row);
        KS_DropImage8(surface);
        KS_CloseFile(file);
        return nullptr;
    }
    KS_SeekFile(file, (int32_t)dataOffset, KS_SEEK_SET);
    for (int32_t r = 0; r < height; r++) {
        if (KS_ReadFile(row, 1, (int32_t)rowSize, file) != rowSize) {
            KS_FREE(row);
            KS_DropImage8(surface);
            KS_CloseFile(file);
            return nullptr;
        }
        uint8_t* out = bits + (size_t)(topDown ? r : height - 1 - r) * pitch;  // files are bottom-up
        switch (bitCount) {
            case 1:
                for (int32_t x = 0; x < width; x++) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0;
                break;
            case 4:
                for (int32_t x = 0; x < width; x++) out[x] = (uint8_t)((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
                break;
            case 8:
                memcpy(out, row, (size_t)width);
                break;
            default:
                for (int32_t x = 0; x < width; x++) {
                    const uint8_t* p = row + (size_t)x * 3;
                    out[x] = (uint8_t)(30 * p[0] / 100 + 59 * p[1] / 100 + 11 * p[2] / 100);
                }
                break;
        }
    }
    KS_FREE(row);
    KS_UnlockSurface(surface);
    KS_CloseFile(file);
    return surface;
}
