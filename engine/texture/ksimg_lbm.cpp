// 8-bit palettised pictures: PCX and IFF (ILBM and PBM), and the image surfaces they decode into.
#define KS_MODULE "ksimg_lbm"
#include "kestra.h"

#include <string.h>

int32_t KS_ImageSizeOk(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= KS_IMAGE_MAX_SIDE && height <= KS_IMAGE_MAX_SIDE &&
           width * height <= KS_IMAGE_MAX_TEXELS;
}

IDirect3DSurface8* KS_CreateImage8(int32_t width, int32_t height, uint8_t** bits, int32_t* pitch) {
    *bits = nullptr;
    *pitch = 0;
    if (!KS_ImageSizeOk(width, height)) return nullptr;
    IDirect3DSurface8* surface = KS_CreateSurface(width, height, D3DFMT_P8);
    if (!surface) return nullptr;
    int lockedPitch = 0;
    uint8_t* locked = (uint8_t*)KS_LockSurface(surface, &lockedPitch);
    if (!locked || lockedPitch < width) {
        if (locked) KS_UnlockSurface(surface);
        KS_ReleaseSurface(surface);
        return nullptr;
    }
    // Texels a file leaves unset read as index 0, whatever the surface held.
    for (int32_t y = 0; y < height; y++) memset(locked + (size_t)y * lockedPitch, 0, (size_t)width);
    *bits = locked;
    *pitch = lockedPitch;
    return surface;
}

void KS_DropImage8(IDirect3DSurface8* surface) {
    if (!surface) return;
    KS_UnlockSurface(surface);
    KS_ReleaseSurface(surface);
}

static uint32_t KS_Get16LE(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
}

static uint32_t KS_Get16BE(const uint8_t* p) {
    return ((uint32_t)p[0] << 8) | (uint32_t)p[1];
}

static uint32_t KS_Get32BE(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

// ---- PCX ----

IDirect3DSurface8* KS_LoadPCX(const char* path, uint8_t* palette) {
    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;
    uint8_t header[128];
    if (KS_ReadFile(header, 1, 128, file) != 128 || header[0] != 10 || header[3] != 8) {
        KS_CloseFile(file);
        return nullptr;
    }
    int32_t xmin = (int32_t)KS_Get16LE(header + 4), ymin = (int32_t)KS_Get16LE(header + 6);
    int32_t xmax = (int32_t)KS_Get16LE(header + 8), ymax = (int32_t)KS_Get16LE(header + 10);
    int32_t bytesPerLine = (int32_t)KS_Get16LE(header + 66);
    int32_t width = xmax - xmin + 1, height = ymax - ymin + 1;

    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    if (!surface) {
        KS_CloseFile(file);
        return nullptr;
    }
    // Past the end of the file every byte reads as 0, so the rest of the image stays index 0.
    for (int32_t y = 0; y < height && !KS_EndOfFile(file); y++) {
        uint8_t* row = bits + (size_t)y * pitch;
        int32_t x = 0;
        // A run never continues into the next row; what passes the image width is dropped.
        while (x < bytesPerLine) {
            int32_t d = KS_ReadByte(file);
            int32_t count = 1;
            if ((d & 0xC0) == 0xC0) {
                count = d & 0x3F;
                d = KS_ReadByte(file);
            }
            for (int32_t i = 0; i < count; i++, x++)
                if (x < width) row[x] = (uint8_t)d;
        }
    }
    if (palette) {
        KS_ReadByte(file);  // the palette marker, whatever its value
        uint8_t colours[768];
        memset(colours, 0, sizeof(colours));
        KS_ReadFile(colours, 1, 768, file);
        for (int i = 0; i < 768; i++) palette[i] = (uint8_t)(colours[i] >> 2);
    }
    KS_UnlockSurface(surface);
    KS_CloseFile(file);
    return surface;
}

// ---- IFF (ILBM, PBM) ----

// Reads one encoded row of `length` bytes into `row`: ByteRun1 when compressed (the row must come
// out at exactly `length` bytes), else raw bytes (a short read fails). Returns 1 on success.
static int KS_ReadIFFRow(KSFile* file, int32_t compression, uint8_t* row, int32_t length) {
    if (!compression) return KS_ReadFile(row, 1, length, file) == length;
    int32_t produced = 0;
    while (produced < length) {
        int32_t n = KS_ReadByte(file);
        if (n < 128) {
            if (produced + n + 1 > length) return 0;
            for (int32_t i = 0; i <= n; i++) row[produced++] = (uint8_t)KS_ReadByte(file);
        } else if (n > 128) {
            int32_t count = 257 - n;
            if (produced + count > length) return 0;
            uint8_t value = (uint8_t)KS_ReadByte(file);
            memset(row + produced, value, (size_t)count);
            produced += count;
        }
    }
    return 1;
}

static int32_t KS_IFFPlaneBytes(int32_t width) {
    return (width + 15) / 16 * 2;
}

IDirect3DSurface8* KS_DecodeIFF(KSFile* file, KSIFFHeader* header, uint8_t* palette) {
    KSIFFHeader local;
    if (!header) header = &local;
    memset(header, 0, sizeof(*header));
    uint8_t group[12];
    if (KS_ReadFile(group, 1, 12, file) != 12) return nullptr;
    if (memcmp(group, "FORM", 4) != 0 && memcmp(group, "LIST", 4) != 0 && memcmp(group, "CAT ", 4) != 0)
        return nullptr;
    memcpy(header->formType, group + 8, 4);
    header->formType[4] = 0;
    bool ilbm = memcmp(header->formType, "ILBM", 4) == 0;
    // Stored rows as the IFF standard lays them out: every plane row of an ILBM is padded to a
    // 16-bit word, and a mask plane (masking 1) follows the colour planes of each row; a PBM row
    // holds one byte per texel, padded to an even length.
    int32_t masking = 0;

    for (;;) {
        uint8_t chunk[8];
        if (KS_ReadFile(chunk, 1, 8, file) != 8) return nullptr;
        int64_t length = KS_Get32BE(chunk + 4);
        length += length & 1;  // chunks are padded to an even length
        int64_t next = (int64_t)KS_TellFile(file) + length;
        if (memcmp(chunk, "BMHD", 4) == 0) {
            uint8_t bmhd[20];
            if (KS_ReadFile(bmhd, 1, 20, file) != 20) return nullptr;
            header->width = (int32_t)KS_Get16BE(bmhd);
            header->height = (int32_t)KS_Get16BE(bmhd + 2);
            header->planes = bmhd[8];
            masking = bmhd[9];
            header->compression = bmhd[10];
            int32_t storedPlanes = header->planes + (masking == 1 ? 1 : 0);
            header->bytesPerRow = ilbm ? storedPlanes * KS_IFFPlaneBytes(header->width) : (header->width + 1) & ~1;
            if (length > 20) KS_SeekFile(file, (int32_t)(next > 0x7FFFFFFF ? 0x7FFFFFFF : next), KS_SEEK_SET);
        } else if (memcmp(chunk, "CMAP", 4) == 0) {
            int32_t wanted = length < 768 ? (int32_t)length : 768;
            if (palette) {
                // Entries the map does not define stay black rather than keep an older picture's.
                memset(palette, 0, 768);
                if (KS_ReadFile(palette, 1, wanted, file) != wanted) return nullptr;
                for (int i = 0; i < 768; i++) palette[i] = (uint8_t)(palette[i] >> 2);
            }
            KS_SeekFile(file, (int32_t)(next > 0x7FFFFFFF ? 0x7FFFFFFF : next), KS_SEEK_SET);
        } else if (memcmp(chunk, "BODY", 4) == 0) {
            break;
        } else {
            KS_SeekFile(file, (int32_t)(next > 0x7FFFFFFF ? 0x7FFFFFFF : next), KS_SEEK_SET);
        }
        if (KS_EndOfFile(file)) return nullptr;
    }

    int32_t width = header->width, height = header->height, planes = header->planes;
    int32_t planeBytes = KS_IFFPlaneBytes(width);
    // Planar rows hold the planes one after another; PBM rows with 8 or more planes hold indices.
    bool planar = ilbm || planes < 8;
    int64_t rowBytes = header->bytesPerRow;
    int64_t planarBytes = (int64_t)planes * planeBytes;
    int64_t bufferBytes = rowBytes > planarBytes ? rowBytes : planarBytes;
    if (!KS_ImageSizeOk(width, height) || rowBytes <= 0 || bufferBytes > 0x7FFFFFF0) return nullptr;
    if (!planar && rowBytes < width) return nullptr;

    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    if (!surface) return nullptr;
    uint8_t* row = (uint8_t*)KS_ALLOC(bufferBytes);
    if (!row) {
        KS_DropImage8(surface);
        return nullptr;
    }
    for (int32_t y = 0; y < height; y++) {
        // Compressed data past the end of the file decodes to index 0, which the rows already hold.
        if (header->compression && KS_EndOfFile(file)) break;
        // A PBM row shorter than its planes leaves the missing plane bytes clear.
        memset(row, 0, (size_t)bufferBytes);
        if (!KS_ReadIFFRow(file, header->compression, row, (int32_t)rowBytes)) {
            KS_FREE(row);
            KS_DropImage8(surface);
            return nullptr;
        }
        uint8_t* out = bits + (size_t)y * pitch;
        if (planar) {
            for (int32_t x = 0; x < width; x++) {
                uint32_t index = 0;
                uint8_t mask = (uint8_t)(0x80 >> (x & 7));
                for (int32_t j = 0; j < planes; j++)
                    if (row[(size_t)j * planeBytes + (x >> 3)] & mask) index += 1u << (j & 31);
                out[x] = (uint8_t)index;
            }
        } else {
            memcpy(out, row, (size_t)width);
        }
    }
    KS_FREE(row);
    KS_UnlockSurface(surface);
    return surface;
}

IDirect3DSurface8* KS_LoadLBM(const char* path, uint8_t* palette) {
    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;
    KSIFFHeader header;
    IDirect3DSurface8* surface = KS_DecodeIFF(file, &header, palette);
    KS_CloseFile(file);
    return surface;
}
