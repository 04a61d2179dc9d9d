// Shared set-up of the texture tests and the image writers.
#include "texture_test.h"

#include "engine_start.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <jpeglib.h>

static KSViewport viewport;

void TextureTest::SetUp() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the device runs threads
    ASSERT_TRUE(scratch.Make("texture"));
    directory = scratch.path;
    StartEngine(MARLIX_PROFILE_DEFAULT);
}

void TextureTest::StartEngine(int profile) {
    StopEngine();
    TestEngineOptions options("KSTextureTest", "texture test");
    options.profile = profile;
    ASSERT_TRUE(StartTestEngine(options, &window, &viewport));
    KS_SetMipmapSetting(0);
    KS_SetTextureDirectory((directory + "/").c_str());
    memset(ksPalette, 0, sizeof(ksPalette));
    baselineBlocks = KS_MemoryBlockCount();
    baselineObjects = MarlixD3D8LiveObjects();
    KSGFX_AllocTextures(132);
    running = true;
}

void TextureTest::StopEngine() {
    if (!running) return;
    running = false;
    KSGFX_FreeTextures();
    EXPECT_EQ(baselineBlocks, KS_MemoryBlockCount()) << "engine blocks left behind";
    EXPECT_EQ(baselineObjects, MarlixD3D8LiveObjects()) << "Direct3D objects left behind";
    StopTestEngine(window);
    MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
}

void TextureTest::TearDown() {
    StopEngine();
    scratch.Remove();
}

std::string TextureTest::Write(const std::string& name, const Bytes& bytes) const {
    bool written;
    std::string path = scratch.Write(name, bytes, &written);
    EXPECT_TRUE(written) << path;
    return path;
}

Image MakeImage(int width, int height, int channels) {
    Image image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.pixels.assign((size_t)width * height * channels, 0);
    return image;
}

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

static void Append(Bytes& b, const void* data, size_t n) {
    b.insert(b.end(), (const uint8_t*)data, (const uint8_t*)data + n);
}

// Every byte as a run of one, the simplest encoding every decoder must read.
Bytes WritePCX(const Image& image, int xmin, int bytesPerLine, uint8_t padding) {
    if (bytesPerLine == 0) bytesPerLine = image.width;
    Bytes out(128, 0);
    out[0] = 10;
    out[2] = 1;
    out[3] = 8;
    Put16(out, 4, (uint32_t)xmin);
    Put16(out, 8, (uint32_t)(xmin + image.width - 1));
    Put16(out, 10, (uint32_t)(image.height - 1));
    Put16(out, 66, (uint32_t)bytesPerLine);
    for (int y = 0; y < image.height; y++)
        for (int x = 0; x < bytesPerLine; x++) {
            out.push_back(0xC1);
            out.push_back(x < image.width ? image.pixels[(size_t)y * image.width + x] : padding);
        }
    out.push_back(12);
    Append(out, image.palette.data(), 768);
    return out;
}

Bytes WriteBMP(const Image& image, int bits) {
    int entries = bits <= 8 ? 1 << bits : 0;
    size_t rowSize = (((size_t)image.width * bits + 31) / 32) * 4;
    Bytes out(54, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 10, 54 + 4 * (uint32_t)entries);
    Put32(out, 14, 40);
    Put32(out, 18, (uint32_t)image.width);
    Put32(out, 22, (uint32_t)image.height);
    Put16(out, 26, 1);
    Put16(out, 28, (uint32_t)bits);
    for (int i = 0; i < entries; i++) {
        const uint8_t quad[4] = {image.palette[i * 3 + 2], image.palette[i * 3 + 1], image.palette[i * 3], 0};
        Append(out, quad, 4);
    }
    for (int y = image.height - 1; y >= 0; y--) {  // bottom-up
        Bytes row(rowSize, 0);
        for (int x = 0; x < image.width; x++) {
            const uint8_t* p = &image.pixels[((size_t)y * image.width + x) * image.channels];
            if (bits == 24) {
                row[x * 3] = p[2];
                row[x * 3 + 1] = p[1];
                row[x * 3 + 2] = p[0];
            } else if (bits == 8) {
                row[x] = p[0];
            } else if (bits == 4) {
                row[x / 2] |= (uint8_t)((x & 1) ? (p[0] & 15) : (p[0] << 4));
            } else if (p[0] & 1) {
                row[x / 8] |= (uint8_t)(0x80 >> (x & 7));
            }
        }
        Append(out, row.data(), row.size());
    }
    return out;
}

// Run-length files hold each row as raw packets (repeat packets are written by hand in tests).
Bytes WriteTGA(const Image& image, int depth, bool rle, bool topDown) {
    Bytes out(18, 0);
    out[0] = 3;  // an id field to skip
    out[2] = rle ? 10 : 2;
    Put16(out, 12, (uint32_t)image.width);
    Put16(out, 14, (uint32_t)image.height);
    out[16] = (uint8_t)depth;
    out[17] = topDown ? 0x20 : 0;
    Append(out, "id!", 3);
    for (int r = 0; r < image.height; r++) {
        int y = topDown ? r : image.height - 1 - r;
        for (int x = 0; x < image.width; x++) {
            if (rle && x % 128 == 0) out.push_back((uint8_t)((image.width - x > 128 ? 128 : image.width - x) - 1));
            const uint8_t* p = &image.pixels[((size_t)y * image.width + x) * 4];
            if (depth == 16) {
                uint32_t word = ((uint32_t)(p[0] >> 3) << 10) | ((uint32_t)(p[1] >> 3) << 5) | (p[2] >> 3);
                out.push_back((uint8_t)word);
                out.push_back((uint8_t)(word >> 8));
                continue;
            }
            const uint8_t bgra[4] = {p[2], p[1], p[0], p[3]};
            Append(out, bgra, depth == 32 ? 4 : 3);
        }
    }
    return out;
}

Bytes WriteDDS(int width, int height, int levels, const char* fourCC, uint32_t argb) {
    Bytes out(128, 0);
    memcpy(&out[0], "DDS ", 4);
    Put32(out, 4, 124);
    Put32(out, 12, (uint32_t)height);
    Put32(out, 16, (uint32_t)width);
    Put32(out, 28, (uint32_t)levels);
    Put32(out, 76, 32);
    Put32(out, 80, fourCC ? 0x4 : 0x41);
    if (fourCC) memcpy(&out[84], fourCC, 4);
    Put32(out, 88, 32);
    Put32(out, 96, 0x0000FF00);
    Put32(out, 104, 0xFF000000);
    for (int level = 0; level < (levels < 1 ? 1 : levels); level++) {
        size_t w = width >> level > 0 ? width >> level : 1, h = height >> level > 0 ? height >> level : 1;
        size_t bytes = !fourCC ? w * h * 4 : (w + 3) / 4 * ((h + 3) / 4) * (strcmp(fourCC, "DXT1") ? 16 : 8);
        for (size_t i = 0; i < bytes; i += 4) Append(out, &argb, 4);
    }
    return out;
}

Bytes WriteJPEG(const Image& image, int components) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &memory, &size);
    cinfo.image_width = (JDIMENSION)image.width;
    cinfo.image_height = (JDIMENSION)image.height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    Bytes line((size_t)image.width * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < image.width; x++)
            for (int c = 0; c < components; c++)
                line[(size_t)x * components + c] = image.pixels[((size_t)cinfo.next_scanline * image.width + x) * 4 + c];
        JSAMPROW rows[1] = {line.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(memory, memory + size);
    jpeg_destroy_compress(&cinfo);
    free(memory);
    return out;
}

Bytes SurfaceIndices(IDirect3DSurface8* surface) {
    int width = KS_SurfaceWidth(surface), height = KS_SurfaceHeight(surface), pitch = 0;
    Bytes out((size_t)width * height);
    const uint8_t* bits = (const uint8_t*)KS_LockSurface(surface, &pitch);
    for (int y = 0; y < height; y++) memcpy(&out[(size_t)y * width], bits + (size_t)y * pitch, (size_t)width);
    KS_UnlockSurface(surface);
    return out;
}

IDirect3DSurface8* SurfaceOf(const Bytes& indices, int width, int height) {
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    for (int y = 0; y < height; y++) memcpy(bits + y * pitch, &indices[(size_t)y * width], (size_t)width);
    KS_UnlockSurface(surface);
    return surface;
}

uint8_t* TrackedCopy(const Image& image) {
    uint8_t* buffer = (uint8_t*)KS_Alloc((int32_t)image.pixels.size(), "test", __LINE__);
    memcpy(buffer, image.pixels.data(), image.pixels.size());
    return buffer;
}

std::vector<uint32_t> TextureTexels(IDirect3DTexture8* texture, int level, D3DFORMAT* format) {
    D3DSURFACE_DESC desc;
    texture->GetLevelDesc((UINT)level, &desc);
    if (format) *format = desc.Format;
    int bytes = KS_FormatTexelBytes(desc.Format);
    std::vector<uint32_t> out((size_t)desc.Width * desc.Height);
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect((UINT)level, &locked, nullptr, D3DLOCK_READONLY))) return out;
    for (UINT y = 0; y < desc.Height; y++)
        for (UINT x = 0; x < desc.Width; x++)
            for (int i = 0; i < bytes; i++)
                out[(size_t)y * desc.Width + x] |= (uint32_t)((const uint8_t*)locked.pBits)[y * locked.Pitch + x * bytes + i]
                                                   << (8 * i);
    texture->UnlockRect((UINT)level);
    return out;
}

