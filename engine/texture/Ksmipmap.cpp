// Texel services of the texture manager: packing 8-bit channels into texture formats, the
// converters into locked texture levels, the mipmap filters and the nearest palette colour.
#define KS_MODULE "Ksmipmap"
#include "kestra.h"

#include <string.h>

int32_t ksMipHeightMode = 0;

// Where each 8-bit channel goes: shifted right (dropping low bits), then left into place; a right
// shift of -1 means the format has no such channel.
struct KSChannelPlacement {
    D3DFORMAT format;
    int8_t alphaRight, alphaLeft, redRight, redLeft, greenRight, greenLeft, blueRight, blueLeft;
};

static const KSChannelPlacement ksChannelTable[] = {
    {D3DFMT_R8G8B8, -1, 0, 0, 16, 0, 8, 0, 0},
    {D3DFMT_A8R8G8B8, 0, 24, 0, 16, 0, 8, 0, 0},
    {D3DFMT_R5G6B5, -1, 0, 3, 11, 2, 5, 3, 0},
    {D3DFMT_A1R5G5B5, 7, 15, 3, 10, 3, 5, 3, 0},
    {D3DFMT_A4R4G4B4, 4, 12, 4, 8, 4, 4, 4, 0},
    {D3DFMT_R3G3B2, -1, 0, 5, 5, 5, 2, 6, 0},
    {D3DFMT_A8R3G3B2, 0, 8, 5, 5, 5, 2, 6, 0},
};

// Every other format (A8, L8, A8L8, A4L4, V8U8, L6V5U5, X8L8V8U8, ...) ORs the channels unshifted.
static const KSChannelPlacement ksChannelOther = {D3DFMT_UNKNOWN, 0, 0, 0, 0, 0, 0, 0, 0};

static const KSChannelPlacement* KS_ChannelPlacement(D3DFORMAT format) {
    for (const KSChannelPlacement& row : ksChannelTable)
        if (row.format == format) return &row;
    return &ksChannelOther;
}

static uint32_t KS_Place(uint32_t value, int right, int left) {
    return right < 0 ? 0 : ((value & 0xFF) >> right) << left;
}

static uint32_t KS_PackWith(const KSChannelPlacement* p, uint32_t red, uint32_t green, uint32_t blue,
                            uint32_t alpha) {
    return KS_Place(alpha, p->alphaRight, p->alphaLeft) | KS_Place(red, p->redRight, p->redLeft) |
           KS_Place(green, p->greenRight, p->greenLeft) | KS_Place(blue, p->blueRight, p->blueLeft);
}

uint32_t KS_PackTexel(D3DFORMAT format, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    return KS_PackWith(KS_ChannelPlacement(format), red, green, blue, alpha);
}

int32_t KS_FormatTexelBytes(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R3G3B2:
        case D3DFMT_A8:
        case D3DFMT_P8:
        case D3DFMT_L8:
        case D3DFMT_A4L4: return 1;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8R3G3B2:
        case D3DFMT_A8P8:
        case D3DFMT_A8L8:
        case D3DFMT_V8U8:
        case D3DFMT_L6V5U5: return 2;
        case D3DFMT_R8G8B8: return 3;
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_X8L8V8U8:
        case D3DFMT_Q8W8V8U8:
        case D3DFMT_V16U16:
        case D3DFMT_W11V11U10: return 4;
        default: return 0;
    }
}

// Stores a packed texel in `bytes` bytes, lowest byte first.
static void KS_StoreTexel(uint8_t* p, uint32_t value, int32_t bytes) {
    for (int32_t i = 0; i < bytes; i++) p[i] = (uint8_t)(value >> (8 * i));
}

// Texel size the converters write: the format's own size. The format classes name 2-byte formats
// (classes 0 and 4) and a 4-byte one (class 16); a device that offers only other formats gets its
// first format, and its texels must not be written wider than the level is.
static int32_t KS_ConvertTexelBytes(int32_t formatClass, D3DFORMAT format) {
    int32_t bytes = KS_FormatTexelBytes(format);
    if (bytes == 0) bytes = formatClass == KS_CLASS_RGBA8 ? 4 : 2;
    return bytes;
}

// Packs width x height R, G, B, A texels into the destination rows.
static void KS_PackImage(int32_t formatClass, D3DFORMAT format, const uint8_t* rgba, uint8_t* destination,
                         int32_t destinationPitch, int32_t width, int32_t height) {
    const KSChannelPlacement* placement = KS_ChannelPlacement(format);
    int32_t bytes = KS_ConvertTexelBytes(formatClass, format);
    for (int32_t y = 0; y < height; y++) {
        uint8_t* out = destination + (size_t)y * destinationPitch;
        const uint8_t* in = rgba + (size_t)y * width * 4;
        for (int32_t x = 0; x < width; x++, in += 4, out += bytes)
            KS_StoreTexel(out, KS_PackWith(placement, in[0], in[1], in[2], in[3]), bytes);
    }
}

// The global palette in 8-bit components: value * 255 / 63.
static void KS_ExpandPalette(uint8_t* expanded) {
    for (int i = 0; i < 768; i++) {
        uint32_t value = (uint32_t)ksPalette[i] * 255u / 63u;
        expanded[i] = (uint8_t)(value > 255 ? 255 : value);
    }
}

static void KS_CopyIndices(const uint8_t* source, int32_t sourcePitch, uint8_t* destination,
                           int32_t destinationPitch, int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; y++)
        memcpy(destination + (size_t)y * destinationPitch, source + (size_t)y * sourcePitch, (size_t)width);
}

void KS_Convert8(int32_t formatClass, D3DFORMAT format, const uint8_t* source, int32_t sourcePitch,
                 uint8_t* destination, int32_t destinationPitch, int32_t width, int32_t height) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    if (formatClass == KS_CLASS_PALETTE) {
        KS_CopyIndices(source, sourcePitch, destination, destinationPitch, width, height);
        return;
    }
    uint8_t expanded[768];
    KS_ExpandPalette(expanded);
    uint8_t* image = (uint8_t*)KS_ALLOC((int64_t)width * height * 4);
    if (!image) return;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* in = source + (size_t)y * sourcePitch;
        uint8_t* out = image + (size_t)y * width * 4;
        for (int32_t x = 0; x < width; x++, out += 4) {
            const uint8_t* colour = expanded + in[x] * 3;
            out[0] = colour[0];
            out[1] = colour[1];
            out[2] = colour[2];
            out[3] = (colour[0] + colour[1] + colour[2] == 0) ? 0 : 255;  // black is transparent
        }
    }
    // Colour bleed: transparent texels around an opaque one take its colour, so that filtering
    // at the edge of a cut-out does not darken it.
    if (ksTextureFormatCode == 1 && height >= 3) {
        for (int32_t y = 1; y < height - 1; y++) {
            for (int32_t x = 1; x < width - 1; x++) {
                if (source[(size_t)y * sourcePitch + x] == 0) continue;
                const uint8_t* colour = image + ((size_t)y * width + x) * 4;
                for (int32_t ny = y - 1; ny <= y + 1; ny++) {
                    for (int32_t nx = x - 1; nx <= x + 1; nx++) {
                        if (source[(size_t)ny * sourcePitch + nx] != 0) continue;
                        uint8_t* neighbour = image + ((size_t)ny * width + nx) * 4;
                        neighbour[0] = colour[0];
                        neighbour[1] = colour[1];
                        neighbour[2] = colour[2];
                    }
                }
            }
        }
    }
    KS_PackImage(formatClass, format, image, destination, destinationPitch, width, height);
    KS_FREE(image);
}

void KS_Convert8Alpha(int32_t formatClass, D3DFORMAT format, const uint8_t* colour, const uint8_t* alpha,
                      int32_t sourcePitch, uint8_t* destination, int32_t destinationPitch,
                      int32_t width, int32_t height) {
    if (!colour || !destination || width <= 0 || height <= 0) return;
    if (formatClass == KS_CLASS_PALETTE) {
        KS_CopyIndices(colour, sourcePitch, destination, destinationPitch, width, height);
        return;
    }
    if (!alpha) return;
    uint8_t expanded[768];
    KS_ExpandPalette(expanded);
    const KSChannelPlacement* placement = KS_ChannelPlacement(format);
    int32_t bytes = KS_ConvertTexelBytes(formatClass, format);
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* in = colour + (size_t)y * sourcePitch;
        const uint8_t* a = alpha + (size_t)y * sourcePitch;
        uint8_t* out = destination + (size_t)y * destinationPitch;
        for (int32_t x = 0; x < width; x++, out += bytes) {
            const uint8_t* c = expanded + in[x] * 3;
            KS_StoreTexel(out, KS_PackWith(placement, c[0], c[1], c[2], a[x]), bytes);
        }
    }
}

void KS_Convert32(int32_t formatClass, D3DFORMAT format, const uint8_t* buffer, uint8_t* destination,
                  int32_t destinationPitch, int32_t width, int32_t height) {
    if (formatClass == KS_CLASS_PALETTE || !buffer || !destination || width <= 0 || height <= 0) return;
    KS_PackImage(formatClass, format, buffer, destination, destinationPitch, width, height);
}

int32_t KS_NearestColor(int32_t red, int32_t green, int32_t blue, const uint8_t* palette) {
    // The square root keeps the order of the squared distances, so those are compared instead;
    // the starting best of 33333 lies above every distance of byte components.
    int64_t best = 33333LL * 33333LL;
    int32_t index = 0;
    for (int32_t i = 0; i < 256; i++) {
        int64_t dr = red - palette[i * 3], dg = green - palette[i * 3 + 1], db = blue - palette[i * 3 + 2];
        int64_t distance = dr * dr + dg * dg + db * db;
        if (distance < best) {
            best = distance;
            index = i;
        }
    }
    return index;
}

IDirect3DSurface8* KS_MipLevel8(IDirect3DSurface8* image, int32_t level, int32_t filter,
                                const uint8_t* palette) {
    if (!image || level < 0 || level > 30 || !palette) return nullptr;
    int32_t width = KS_SurfaceWidth(image), height = KS_SurfaceHeight(image);
    int32_t newWidth = width >> level, newHeight = height >> level;
    if (newWidth <= 0 || newHeight <= 0) return nullptr;
    IDirect3DSurface8* reduced = KS_CreateSurface(newWidth, newHeight, D3DFMT_P8);
    if (!reduced) return nullptr;
    int sourcePitch = 0, reducedPitch = 0;
    const uint8_t* source = (const uint8_t*)KS_LockSurface(image, &sourcePitch);
    uint8_t* out = (uint8_t*)KS_LockSurface(reduced, &reducedPitch);
    int32_t n = 1 << level;
    float scale = 1.0f / (float)(n * n);
    for (int32_t y = 0; y < newHeight; y++) {
        uint8_t* row = out + (size_t)y * reducedPitch;
        for (int32_t x = 0; x < newWidth; x++) {
            const uint8_t* block = source + (size_t)y * n * sourcePitch + (size_t)x * n;
            if (filter == KS_FILTER_POINT) {
                row[x] = block[0];
                continue;
            }
            int32_t red = 0, green = 0, blue = 0;
            for (int32_t by = 0; by < n; by++) {
                const uint8_t* line = block + (size_t)by * sourcePitch;
                for (int32_t bx = 0; bx < n; bx++) {
                    const uint8_t* colour = palette + line[bx] * 3;
                    red += colour[0];
                    green += colour[1];
                    blue += colour[2];
                }
            }
            int32_t r = (int32_t)((float)red * scale), g = (int32_t)((float)green * scale);
            int32_t b = (int32_t)((float)blue * scale);
            row[x] = ksMipHeightMode ? (uint8_t)r : (uint8_t)KS_NearestColor(r, g, b, palette);
        }
    }
    KS_UnlockSurface(image);
    KS_UnlockSurface(reduced);
    return reduced;
}

uint8_t* KS_MipLevel32(const uint8_t* buffer, int32_t width, int32_t height, int32_t level, int32_t filter) {
    if (!buffer || level < 0 || level > 30) return nullptr;
    int32_t newWidth = width >> level, newHeight = height >> level;
    if (newWidth <= 0 || newHeight <= 0) return nullptr;
    uint8_t* reduced = (uint8_t*)KS_ALLOC((int64_t)newWidth * newHeight * 4);
    if (!reduced) return nullptr;
    int32_t n = 1 << level;
    float scale = 1.0f / (float)(n * n);
    for (int32_t y = 0; y < newHeight; y++) {
        for (int32_t x = 0; x < newWidth; x++) {
            const uint8_t* block = buffer + ((size_t)y * n * width + (size_t)x * n) * 4;
            uint8_t* out = reduced + ((size_t)y * newWidth + x) * 4;
            if (filter == KS_FILTER_POINT) {
                memcpy(out, block, 4);
                continue;
            }
            uint32_t red = 0, green = 0, blue = 0;
            for (int32_t by = 0; by < n; by++) {
                const uint8_t* line = block + (size_t)by * width * 4;
                for (int32_t bx = 0; bx < n; bx++) {
                    red += line[bx * 4];
                    green += line[bx * 4 + 1];
                    blue += line[bx * 4 + 2];
                }
            }
            out[0] = (uint8_t)(int32_t)((float)red * scale);
            out[1] = (uint8_t)(int32_t)((float)green * scale);
            out[2] = (uint8_t)(int32_t)((float)blue * scale);
            out[3] = block[3];
        }
    }
    return reduced;
}
