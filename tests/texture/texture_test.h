// Shared set-up of the texture tests: the engine started on the software device in a window
// (as the plug-in starts it, with the texture procedures installed), a scratch directory, and
// small writers for every image format the loaders read.
#ifndef TEXTURE_TEST_H
#define TEXTURE_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// The engine with a 320x240 windowed 32-bit device and a table of 132 textures. SetUp checks
// after the test that the texture table gave back every engine block and Direct3D object.
class TextureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts (again) with the given device profile.
    void StartEngine(int profile);
    void StopEngine();
    std::string Path(const std::string& name) const;
    std::string Write(const std::string& name, const Bytes& bytes) const;

    std::string directory;
    int baselineBlocks = 0;
    int baselineObjects = 0;
    bool running = false;
    HWND window = nullptr;
};

// An 8-bit image: width x height palette indices, rows top to bottom, and its palette (256 x RGB,
// 8-bit components as files store them).
struct Image8 {
    int width = 0, height = 0;
    std::vector<uint8_t> index;
    std::vector<uint8_t> palette = std::vector<uint8_t>(768, 0);
    uint8_t& at(int x, int y) { return index[(size_t)y * width + x]; }
};
Image8 MakeImage8(int width, int height);

// A 32-bit image: R, G, B, A per texel, rows top to bottom.
struct Image32 {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    uint8_t* at(int x, int y) { return &rgba[((size_t)y * width + x) * 4]; }
};
Image32 MakeImage32(int width, int height);

// PCX with run-length rows of bytesPerLine bytes (0 = the width) at (xmin, ymin).
Bytes WritePCX(const Image8& image, int xmin = 0, int ymin = 0, int bytesPerLine = 0, uint8_t padding = 0);
// BMP of 1, 4, 8 bits (indices of the image, palette of 2^bits entries) or 24 bits (from rgb).
Bytes WriteBMP8(const Image8& image, int bits);
Bytes WriteBMP24(const Image32& image);
// TGA of depth 16, 24 or 32; rle for type 10; topDown sets descriptor bit 5.
Bytes WriteTGA(const Image32& image, int depth, bool rle, bool topDown);
// IFF "ILBM" (planar, `planes` planes) or "PBM " (chunky, 8 planes), optionally ByteRun1.
Bytes WriteIFF(const Image8& image, bool ilbm, int planes, bool compress);
// DDS of `levels` levels (0 writes a mipmap count of 0 and one level); fourCC formats get their
// block bytes filled with `fill`, uncompressed ones take A8R8G8B8 texels of `argb`.
Bytes WriteDDS(int width, int height, int levels, const char* fourCC, uint32_t argb, uint8_t fill = 0x55);
// JPEG through libjpeg (quality 95); components 3 (RGB) or 1 (grey, from red).
Bytes WriteJPEG(const Image32& image, int components = 3);

void Put16LE(Bytes& b, size_t at, uint32_t v);
void Put32LE(Bytes& b, size_t at, uint32_t v);

// Pixels of an 8-bit image surface, row by row (width bytes each).
std::vector<uint8_t> SurfaceIndices(IDirect3DSurface8* surface);

// Texels of level `level` of a texture as 32-bit values (2- or 4-byte formats).
std::vector<uint32_t> TextureTexels(IDirect3DTexture8* texture, int level, int* width, int* height,
                                    D3DFORMAT* format);

// Writes X8R8G8B8 pixels as a PNG file.
bool SavePNG(const std::string& path, const uint32_t* pixels, int width, int height);

#endif
