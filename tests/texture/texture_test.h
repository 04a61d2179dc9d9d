// Shared set-up of the texture tests: the engine started on the software device in a window as
// the plug-in starts it, a scratch directory, and small writers for the image formats.
#ifndef TEXTURE_TEST_H
#define TEXTURE_TEST_H

#include <gtest/gtest.h>
#include "test_common.h"
#include <kestra.h>
#include <marlix_platform.h>

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A 320x240 windowed 32-bit device and a table of 132 textures. After each test the table must
// have given back every engine block and Direct3D object it took.
class TextureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void StartEngine(int profile);  // starts again on another device profile
    void StopEngine();
    std::string Path(const std::string& name) const { return directory + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const;

    ScratchFolder scratch;
    std::string directory;
    int baselineBlocks = 0, baselineObjects = 0;
    bool running = false;
    HWND window = nullptr;
};

// width x height texels of `channels` bytes each, rows top to bottom; `palette` is 256 x R, G, B
// in 8-bit components as files store them.
struct Image {
    int width = 0, height = 0, channels = 1;
    Bytes pixels, palette = Bytes(768, 0);
    uint8_t* at(int x, int y) { return &pixels[((size_t)y * width + x) * channels]; }
};
Image MakeImage(int width, int height, int channels);

Bytes WritePCX(const Image& indices, int xmin = 0, int bytesPerLine = 0, uint8_t padding = 0);
Bytes WriteBMP(const Image& image, int bits);               // 1, 4, 8 from indices; 24 from RGBA
Bytes WriteTGA(const Image& rgba, int depth, bool rle, bool topDown);
Bytes WriteDDS(int width, int height, int levels, const char* fourCC, uint32_t argb);
Bytes WriteJPEG(const Image& rgba, int components);
void Put16(Bytes& b, size_t at, uint32_t v);
void Put32(Bytes& b, size_t at, uint32_t v);

// Indices of an 8-bit image surface, and a surface made from indices (palette left alone).
Bytes SurfaceIndices(IDirect3DSurface8* surface);
IDirect3DSurface8* SurfaceOf(const Bytes& indices, int width, int height);
// A KS_ALLOC copy of a 32-bit picture, for the calls that take the buffer over.
uint8_t* TrackedCopy(const Image& rgba);
// Texels of a texture level as 32-bit values (formats of 1 to 4 bytes).
std::vector<uint32_t> TextureTexels(IDirect3DTexture8* texture, int level, D3DFORMAT* format = nullptr);


#endif
