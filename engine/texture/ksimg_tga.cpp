// TGA pictures without a colour map into 32-bit R, G, B, A buffers: uncompressed 15/16, 24 and 32
// bits, and run-length 24 and 32 bits.
#define KS_MODULE "ksimg_tga"
#include "kestra.h"

#include <string.h>

// Reads one pixel of the given depth (24: B, G, R; 32: B, G, R, A; 15/16: one 5-5-5 word) into
// R, G, B, A. Bytes past the end of the file read as 0.
static void KS_ReadTGAPixel(KSFile* file, int32_t depth, uint8_t* rgba) {
    if (depth == 15 || depth == 16) {
        uint32_t lo = (uint32_t)KS_ReadByte(file), hi = (uint32_t)KS_ReadByte(file);
        uint32_t word = lo | (hi << 8);
        rgba[0] = (uint8_t)(((word >> 10) & 31) << 3);
        rgba[1] = (uint8_t)(((word >> 5) & 31) << 3);
        rgba[2] = (uint8_t)((word & 31) << 3);
        rgba[3] = 255;
        return;
    }
    uint8_t b = (uint8_t)KS_ReadByte(file), g = (uint8_t)KS_ReadByte(file), r = (uint8_t)KS_ReadByte(file);
    rgba[0] = r;
    rgba[1] = g;
    rgba[2] = b;
    rgba[3] = depth == 32 ? (uint8_t)KS_ReadByte(file) : 255;
}

uint8_t* KS_LoadTGA(const char* path, int32_t* width, int32_t* height) {
    int32_t dummyWidth, dummyHeight;
    if (!width) width = &dummyWidth;
    if (!height) height = &dummyHeight;
    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;
    uint8_t header[18];
    if (KS_ReadFile(header, 1, 18, file) != 18) {
        KS_CloseFile(file);
        return nullptr;
    }
    int32_t idLength = header[0], colourMapType = header[1], imageType = header[2];
    int32_t w = header[12] | (header[13] << 8), h = header[14] | (header[15] << 8);
    int32_t depth = header[16], descriptor = header[17];
    *width = w;
    *height = h;
    KS_SeekFile(file, idLength, KS_SEEK_CUR);

    bool rle = imageType == 10;
    bool depthOk = rle ? (depth == 24 || depth == 32) : (depth == 15 || depth == 16 || depth == 24 || depth == 32);
    if (colourMapType != 0 || !depthOk || !KS_ImageSizeOk(w, h)) {
        KS_CloseFile(file);
        return nullptr;
    }
    uint8_t* buffer = (uint8_t*)KS_ALLOC((int64_t)w * h * 4);
    if (!buffer) {
        KS_CloseFile(file);
        return nullptr;
    }
    bool topDown = (descriptor & 0x20) != 0;
    bool rightToLeft = (descriptor & 0x10) != 0 && !rle;
    // Past the end of the file every byte reads as 0: black, opaque unless the alpha is stored.
    const uint8_t endPixel[4] = {0, 0, 0, (uint8_t)(depth == 32 ? 0 : 255)};
    for (int32_t fileRow = 0; fileRow < h; fileRow++) {
        uint8_t* row = buffer + (size_t)(topDown ? fileRow : h - 1 - fileRow) * w * 4;
        if (KS_EndOfFile(file)) {
            for (int32_t x = 0; x < w; x++) memcpy(row + (size_t)x * 4, endPixel, 4);
        } else if (rle) {
            int32_t x = 0;
            while (x < w) {
                int32_t packet = KS_ReadByte(file);
                int32_t count = (packet & 0x7F) + 1;
                uint8_t rgba[4];
                if (packet & 0x80) {
                    KS_ReadTGAPixel(file, depth, rgba);
                    for (int32_t i = 0; i < count && x < w; i++, x++) memcpy(row + (size_t)x * 4, rgba, 4);
                } else {
                    // A packet ends at the row end: pixels beyond it are read and dropped.
                    for (int32_t i = 0; i < count; i++, x++) {
                        KS_ReadTGAPixel(file, depth, rgba);
                        if (x < w) memcpy(row + (size_t)x * 4, rgba, 4);
                    }
                }
            }
        } else {
            for (int32_t i = 0; i < w; i++) {
                int32_t x = rightToLeft ? w - 1 - i : i;
                KS_ReadTGAPixel(file, depth, row + (size_t)x * 4);
            }
        }
    }
    KS_CloseFile(file);
    return buffer;
}
