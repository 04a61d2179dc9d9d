// Shared set-up of the texture tests and the image writers.
#include "texture_test.h"

#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
// The stand-in <windows.h> has declared INT32 already; libjpeg looks for this marker.
#if !defined(_BASETSD_H) && !defined(_BASETSD_H_)
#define _BASETSD_H
#endif
#include <jpeglib.h>

static LRESULT CALLBACK TextureWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static void TextureChooseDevice(int* adapter, int* adapterCopy, int* deviceType) {
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = 0;
    *adapterCopy = 0;
    *deviceType = 0;
}

void TextureTest::SetUp() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char pattern[] = "/tmp/marlix-texture-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory = pattern;
    StartEngine(MARLIX_PROFILE_DEFAULT);
}

void TextureTest::StartEngine(int profile) {
    if (running) StopEngine();
    MarlixSetHeadless(1);
    MarlixClockEnable(1);
    MarlixD3D8SetProfile(profile);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = TextureWindowProc;
        wc.lpszClassName = "KSTextureTest";
        RegisterClassA(&wc);
        registered = true;
    }
    window = CreateWindowExA(0, "KSTextureTest", "texture test", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr,
                             nullptr, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    KS_SetWindow(window);
    ksGlobal.runWindowed = 1;
    ksGlobal.use32Bit = 1;
    ksGlobal.optionByte = 0;
    verbose = 0;
    ksChooseDeviceHook = TextureChooseDevice;
    ksHooks.installProcedures = KS_InstallTextureProcedures;
    KS_UseDirect3D();
    KS_InitEngine(7000);
    KS_SelectDriver();
    ASSERT_EQ(1, KSGFX_SetMode(320, 240, 60));
    static KSViewport viewport;
    KS_MakeViewport(&viewport, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
    KS_SetViewport(&viewport);
    KSGFX_SetDrawTarget(1);
    // Engine-wide texture values as a run starts them.
    KS_SetTextureFormat(0);
    KS_SetTextureStage(0);
    KS_SetMipmapSetting(0);
    KS_SetTextureDirectory(nullptr);
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
    KS_FreeEngineBuffers();
    DestroyWindow(window);
    window = nullptr;
    MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
}

void TextureTest::TearDown() {
    StopEngine();
    std::string command = "rm -rf '" + directory + "'";
    EXPECT_EQ(0, system(command.c_str()));
}

std::string TextureTest::Path(const std::string& name) const {
    return directory + "/" + name;
}

std::string TextureTest::Write(const std::string& name, const Bytes& bytes) const {
    std::string path = Path(name);
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, f);
    if (f) {
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

Image8 MakeImage8(int width, int height) {
    Image8 image;
    image.width = width;
    image.height = height;
    image.index.assign((size_t)width * height, 0);
    return image;
}

Image32 MakeImage32(int width, int height) {
    Image32 image;
    image.width = width;
    image.height = height;
    image.rgba.assign((size_t)width * height * 4, 0);
    return image;
}

void Put16LE(Bytes& b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void Put32LE(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

static void Put32BE(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (24 - 8 * i));
}

static void Append(Bytes& b, const void* data, size_t n) {
    const uint8_t* p = (const uint8_t*)data;
    b.insert(b.end(), p, p + n);
}

Bytes WritePCX(const Image8& image, int xmin, int ymin, int bytesPerLine, uint8_t padding) {
    if (bytesPerLine == 0) bytesPerLine = image.width;
    Bytes out(128, 0);
    out[0] = 10;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    Put16LE(out, 4, (uint32_t)xmin);
    Put16LE(out, 6, (uint32_t)ymin);
    Put16LE(out, 8, (uint32_t)(xmin + image.width - 1));
    Put16LE(out, 10, (uint32_t)(ymin + image.height - 1));
    out[65] = 1;
    Put16LE(out, 66, (uint32_t)bytesPerLine);
    for (int y = 0; y < image.height; y++) {
        std::vector<uint8_t> line((size_t)bytesPerLine, padding);
        for (int x = 0; x < image.width && x < bytesPerLine; x++) line[x] = image.index[(size_t)y * image.width + x];
        for (int x = 0; x < bytesPerLine;) {
            int run = 1;
            while (x + run < bytesPerLine && run < 63 && line[x + run] == line[x]) run++;
            if (run > 1 || line[x] >= 0xC0) {
                out.push_back((uint8_t)(0xC0 | run));
                out.push_back(line[x]);
            } else {
                out.push_back(line[x]);
            }
            x += run;
        }
    }
    out.push_back(12);
    Append(out, image.palette.data(), 768);
    return out;
}

static Bytes BMPHeader(int width, int height, int bits, int paletteEntries, size_t dataSize) {
    Bytes out(54, 0);
    out[0] = 'B';
    out[1] = 'M';
    uint32_t offset = 54 + 4 * (uint32_t)paletteEntries;
    Put32LE(out, 2, offset + (uint32_t)dataSize);
    Put32LE(out, 10, offset);
    Put32LE(out, 14, 40);
    Put32LE(out, 18, (uint32_t)width);
    Put32LE(out, 22, (uint32_t)height);
    Put16LE(out, 26, 1);
    Put16LE(out, 28, (uint32_t)bits);
    return out;
}

Bytes WriteBMP8(const Image8& image, int bits) {
    int entries = 1 << bits;
    size_t rowSize = (((size_t)image.width * bits + 31) / 32) * 4;
    Bytes out = BMPHeader(image.width, image.height, bits, entries, rowSize * image.height);
    for (int i = 0; i < entries; i++) {
        uint8_t quad[4] = {image.palette[i * 3 + 2], image.palette[i * 3 + 1], image.palette[i * 3], 0};
        Append(out, quad, 4);
    }
    for (int r = 0; r < image.height; r++) {
        int y = image.height - 1 - r;
        std::vector<uint8_t> row(rowSize, 0);
        for (int x = 0; x < image.width; x++) {
            uint8_t v = image.index[(size_t)y * image.width + x];
            if (bits == 8) row[x] = v;
            else if (bits == 4) row[x / 2] |= (uint8_t)((x & 1) ? (v & 15) : (v << 4));
            else if (v & 1) row[x / 8] |= (uint8_t)(0x80 >> (x & 7));
        }
        Append(out, row.data(), row.size());
    }
    return out;
}

Bytes WriteBMP24(const Image32& image) {
    size_t rowSize = ((size_t)image.width * 3 + 3) & ~(size_t)3;
    Bytes out = BMPHeader(image.width, image.height, 24, 0, rowSize * image.height);
    for (int r = 0; r < image.height; r++) {
        int y = image.height - 1 - r;
        std::vector<uint8_t> row(rowSize, 0);
        for (int x = 0; x < image.width; x++) {
            const uint8_t* p = &image.rgba[((size_t)y * image.width + x) * 4];
            row[x * 3] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
        Append(out, row.data(), row.size());
    }
    return out;
}

static void TGAPixel(Bytes& out, const uint8_t* p, int depth) {
    if (depth == 16) {
        uint32_t word = ((uint32_t)(p[0] >> 3) << 10) | ((uint32_t)(p[1] >> 3) << 5) | (p[2] >> 3);
        out.push_back((uint8_t)word);
        out.push_back((uint8_t)(word >> 8));
        return;
    }
    out.push_back(p[2]);
    out.push_back(p[1]);
    out.push_back(p[0]);
    if (depth == 32) out.push_back(p[3]);
}

Bytes WriteTGA(const Image32& image, int depth, bool rle, bool topDown) {
    Bytes out(18, 0);
    out[0] = 3;  // an id field the loader must skip
    out[2] = rle ? 10 : 2;
    Put16LE(out, 12, (uint32_t)image.width);
    Put16LE(out, 14, (uint32_t)image.height);
    out[16] = (uint8_t)depth;
    out[17] = (uint8_t)((topDown ? 0x20 : 0) | (depth == 32 ? 8 : 0));
    Append(out, "id!", 3);
    for (int r = 0; r < image.height; r++) {
        int y = topDown ? r : image.height - 1 - r;
        const uint8_t* row = &image.rgba[(size_t)y * image.width * 4];
        if (!rle) {
            for (int x = 0; x < image.width; x++) TGAPixel(out, row + x * 4, depth);
            continue;
        }
        for (int x = 0; x < image.width;) {
            int run = 1;
            while (x + run < image.width && run < 128 && memcmp(row + (x + run) * 4, row + x * 4, 4) == 0) run++;
            if (run > 1) {
                out.push_back((uint8_t)(0x80 | (run - 1)));
                TGAPixel(out, row + x * 4, depth);
                x += run;
            } else {
                int count = 1;
                while (x + count < image.width && count < 128 &&
                       memcmp(row + (x + count) * 4, row + (x + count - 1) * 4, 4) != 0)
                    count++;
                out.push_back((uint8_t)(count - 1));
                for (int i = 0; i < count; i++) TGAPixel(out, row + (x + i) * 4, depth);
                x += count;
            }
        }
    }
    return out;
}

static void ByteRun1(Bytes& out, const std::vector<uint8_t>& row) {
    size_t x = 0;
    while (x < row.size()) {
        size_t run = 1;
        while (x + run < row.size() && run < 128 && row[x + run] == row[x]) run++;
        if (run >= 2) {
            out.push_back((uint8_t)(257 - run));
            out.push_back(row[x]);
            x += run;
        } else {
            size_t count = 1;
            while (x + count < row.size() && count < 128 &&
                   !(x + count + 1 < row.size() && row[x + count] == row[x + count + 1]))
                count++;
            out.push_back((uint8_t)(count - 1));
            out.insert(out.end(), row.begin() + (long)x, row.begin() + (long)(x + count));
            x += count;
        }
    }
}

Bytes WriteIFF(const Image8& image, bool ilbm, int planes, bool compress) {
    Bytes out(12, 0);
    memcpy(&out[0], "FORM", 4);
    memcpy(&out[8], ilbm ? "ILBM" : "PBM ", 4);
    Bytes bmhd(8 + 20, 0);
    memcpy(&bmhd[0], "BMHD", 4);
    Put32BE(bmhd, 4, 20);
    bmhd[8] = (uint8_t)(image.width >> 8);
    bmhd[9] = (uint8_t)image.width;
    bmhd[10] = (uint8_t)(image.height >> 8);
    bmhd[11] = (uint8_t)image.height;
    bmhd[8 + 8] = (uint8_t)planes;
    bmhd[8 + 10] = compress ? 1 : 0;
    Append(out, bmhd.data(), bmhd.size());
    int colours = 1 << (planes > 8 ? 8 : planes);
    Bytes cmap(8, 0);
    memcpy(&cmap[0], "CMAP", 4);
    Put32BE(cmap, 4, (uint32_t)(colours * 3));
    Append(cmap, image.palette.data(), (size_t)colours * 3);
    if (cmap.size() & 1) cmap.push_back(0);
    Append(out, cmap.data(), cmap.size());
    Bytes body(8, 0);
    memcpy(&body[0], "BODY", 4);
    int planeBytes = (image.width + 7) / 8;
    for (int y = 0; y < image.height; y++) {
        std::vector<uint8_t> row;
        if (ilbm) {
            row.assign((size_t)planes * planeBytes, 0);
            for (int j = 0; j < planes; j++)
                for (int x = 0; x < image.width; x++)
                    if (image.index[(size_t)y * image.width + x] & (1 << j))
                        row[(size_t)j * planeBytes + x / 8] |= (uint8_t)(0x80 >> (x & 7));
        } else {
            row.assign(image.index.begin() + (long)y * image.width, image.index.begin() + (long)(y + 1) * image.width);
        }
        if (compress) ByteRun1(body, row);
        else Append(body, row.data(), row.size());
    }
    Put32BE(body, 4, (uint32_t)(body.size() - 8));
    if (body.size() & 1) body.push_back(0);
    Append(out, body.data(), body.size());
    Put32BE(out, 4, (uint32_t)(out.size() - 8));
    return out;
}

Bytes WriteDDS(int width, int height, int levels, const char* fourCC, uint32_t argb, uint8_t fill) {
    Bytes out(128, 0);
    memcpy(&out[0], "DDS ", 4);
    Put32LE(out, 4, 124);
    Put32LE(out, 4 + 4, 0x1007 | (levels > 1 ? 0x20000 : 0));
    Put32LE(out, 4 + 8, (uint32_t)height);
    Put32LE(out, 4 + 12, (uint32_t)width);
    Put32LE(out, 4 + 24, (uint32_t)levels);
    Put32LE(out, 4 + 72, 32);
    if (fourCC) {
        Put32LE(out, 4 + 76, 0x4);
        memcpy(&out[4 + 80], fourCC, 4);
    } else {
        Put32LE(out, 4 + 76, 0x41);
        Put32LE(out, 4 + 84, 32);
        Put32LE(out, 4 + 88, 0x00FF0000);
        Put32LE(out, 4 + 92, 0x0000FF00);
        Put32LE(out, 4 + 96, 0x000000FF);
        Put32LE(out, 4 + 100, 0xFF000000);
    }
    int count = levels < 1 ? 1 : levels;
    for (int level = 0; level < count; level++) {
        int w = width >> level, h = height >> level;
        if (w < 1) w = 1;
        if (h < 1) h = 1;
        if (fourCC) {
            size_t blockBytes = strcmp(fourCC, "DXT1") == 0 ? 8 : 16;
            size_t size = (size_t)((w + 3) / 4) * (size_t)((h + 3) / 4) * blockBytes;
            out.insert(out.end(), size, fill);
        } else {
            for (int i = 0; i < w * h; i++) {
                uint8_t texel[4] = {(uint8_t)argb, (uint8_t)(argb >> 8), (uint8_t)(argb >> 16), (uint8_t)(argb >> 24)};
                Append(out, texel, 4);
            }
        }
    }
    return out;
}

Bytes WriteJPEG(const Image32& image, int components) {
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
    std::vector<uint8_t> line((size_t)image.width * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* row = &image.rgba[(size_t)cinfo.next_scanline * image.width * 4];
        for (int x = 0; x < image.width; x++)
            for (int c = 0; c < components; c++) line[(size_t)x * components + c] = row[x * 4 + c];
        JSAMPROW rows[1] = {line.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(memory, memory + size);
    jpeg_destroy_compress(&cinfo);
    free(memory);
    return out;
}

std::vector<uint8_t> SurfaceIndices(IDirect3DSurface8* surface) {
    int width = KS_SurfaceWidth(surface), height = KS_SurfaceHeight(surface);
    std::vector<uint8_t> out((size_t)width * height);
    int pitch = 0;
    const uint8_t* bits = (const uint8_t*)KS_LockSurface(surface, &pitch);
    for (int y = 0; y < height; y++) memcpy(&out[(size_t)y * width], bits + (size_t)y * pitch, (size_t)width);
    KS_UnlockSurface(surface);
    return out;
}

std::vector<uint32_t> TextureTexels(IDirect3DTexture8* texture, int level, int* width, int* height,
                                    D3DFORMAT* format) {
    D3DSURFACE_DESC desc;
    texture->GetLevelDesc((UINT)level, &desc);
    *width = (int)desc.Width;
    *height = (int)desc.Height;
    if (format) *format = desc.Format;
    int bytes = KS_FormatTexelBytes(desc.Format);
    std::vector<uint32_t> out((size_t)desc.Width * desc.Height);
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect((UINT)level, &locked, nullptr, D3DLOCK_READONLY))) return out;
    for (UINT y = 0; y < desc.Height; y++) {
        const uint8_t* row = (const uint8_t*)locked.pBits + (size_t)y * locked.Pitch;
        for (UINT x = 0; x < desc.Width; x++) {
            uint32_t v = 0;
            for (int i = 0; i < bytes; i++) v |= (uint32_t)row[x * bytes + i] << (8 * i);
            out[(size_t)y * desc.Width + x] = v;
        }
    }
    texture->UnlockRect((UINT)level);
    return out;
}

bool SavePNG(const std::string& path, const uint32_t* pixels, int width, int height) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((size_t)width * 3);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint32_t p = pixels[(size_t)y * width + x];
            row[x * 3] = (uint8_t)(p >> 16);
            row[x * 3 + 1] = (uint8_t)(p >> 8);
            row[x * 3 + 2] = (uint8_t)p;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}
