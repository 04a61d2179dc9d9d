// Dispatch by extension, the texel converters with the channel table and the colour bleed, the
// mipmap filters and the nearest palette colour.
#include "texture_test.h"

#include <string.h>

namespace {

void SetPaletteEntry(int index, uint8_t r, uint8_t g, uint8_t b) {
    ksPalette[index * 3] = r;
    ksPalette[index * 3 + 1] = g;
    ksPalette[index * 3 + 2] = b;
}

// Converts 8-bit indices into A8R8G8B8 texels.
std::vector<uint32_t> Convert8ToARGB(const std::vector<uint8_t>& indices, int width, int height) {
    std::vector<uint32_t> out((size_t)width * height, 0xDEADBEEF);
    KS_Convert8(KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, indices.data(), width, (uint8_t*)out.data(), width * 4, width,
                height);
    return out;
}

IDirect3DSurface8* SurfaceOf(const std::vector<uint8_t>& indices, int width, int height) {
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    for (int y = 0; y < height; y++) memcpy(bits + y * pitch, &indices[(size_t)y * width], (size_t)width);
    KS_UnlockSurface(surface);
    return surface;
}

}  // namespace

TEST(TextureKind, ExtensionInAnyCaseAfterTheLastDot) {
    EXPECT_EQ(KS_KIND_PCX, KS_TextureKind("wall.Pcx"));
    EXPECT_EQ(KS_KIND_BLK, KS_TextureKind("a.blk"));
    EXPECT_EQ(KS_KIND_PAK, KS_TextureKind("a.PAK"));
    EXPECT_EQ(KS_KIND_LBM, KS_TextureKind("a.lbm"));
    EXPECT_EQ(KS_KIND_LBM, KS_TextureKind("a.IFF"));
    EXPECT_EQ(KS_KIND_BMP, KS_TextureKind("a.bmp"));
    EXPECT_EQ(KS_KIND_3DF, KS_TextureKind("a.3df"));
    EXPECT_EQ(KS_KIND_JPG, KS_TextureKind("back.JpG"));
    EXPECT_EQ(KS_KIND_TGA, KS_TextureKind("dir\\font.tga"));
    EXPECT_EQ(KS_KIND_DDS, KS_TextureKind("./x.dds"));
    EXPECT_EQ(KS_KIND_NONE, KS_TextureKind("page.tga.bak"));
    EXPECT_EQ(KS_KIND_NONE, KS_TextureKind("data.tga/readme"));
    EXPECT_EQ(KS_KIND_NONE, KS_TextureKind("noextension"));
    EXPECT_EQ(KS_KIND_NONE, KS_TextureKind("a.jpeg"));
    EXPECT_EQ(KS_KIND_NONE, KS_TextureKind(nullptr));
}

TEST_F(TextureTest, PaletteExpandsAndBlackIsTransparent) {
    SetPaletteEntry(1, 63, 63, 63);
    SetPaletteEntry(2, 1, 1, 1);
    SetPaletteEntry(3, 32, 0, 63);
    std::vector<uint32_t> out = Convert8ToARGB({1, 2, 0, 3}, 4, 1);
    EXPECT_EQ(0xFFFFFFFFu, out[0]);
    EXPECT_EQ(0xFF040404u, out[1]);  // 1 * 255 / 63 = 4, and opaque
    EXPECT_EQ(0x00000000u, out[2]);
    EXPECT_EQ(0xFF8100FFu, out[3]);  // 32 * 255 / 63 = 129
}

TEST_F(TextureTest, ColourBleedsOnlyWithCode1AndOnlyFromTheInterior) {
    SetPaletteEntry(1, 63, 0, 0);
    SetPaletteEntry(2, 0, 63, 0);
    SetPaletteEntry(3, 0, 0, 63);
    const int w = 7, h = 5;
    std::vector<uint8_t> indices((size_t)w * h, 0);
    indices[2 * w + 2] = 1;  // red inside
    indices[2 * w + 4] = 3;  // blue inside, visited later: wins the shared column 3
    indices[0 * w + 6] = 2;  // green on the border: never spreads
    KS_SetTextureFormat(0);
    std::vector<uint32_t> plain = Convert8ToARGB(indices, w, h);
    EXPECT_EQ(0u, plain[1 * w + 1]);
    KS_SetTextureFormat(1);
    std::vector<uint32_t> bled = Convert8ToARGB(indices, w, h);
    EXPECT_EQ(0x00FF0000u, bled[1 * w + 1]);  // red colour, alpha stays 0
    EXPECT_EQ(0x00FF0000u, bled[3 * w + 2]);
    EXPECT_EQ(0x000000FFu, bled[2 * w + 3]);
    EXPECT_EQ(0x000000FFu, bled[1 * w + 5]);
    EXPECT_EQ(0xFFFF0000u, bled[2 * w + 2]);
    EXPECT_EQ(0u, bled[0 * w + 5]);  // beside the border texel
    EXPECT_EQ(0u, bled[1 * w + 6]);
    EXPECT_EQ(0u, bled[4 * w + 0]);
    KS_SetTextureFormat(0);
}

TEST(TexelPacking, ChannelTable) {
    EXPECT_EQ(0xFFFFu, KS_PackTexel(D3DFMT_A4R4G4B4, 255, 255, 255, 255));
    EXPECT_EQ(0xFFFFu, KS_PackTexel(D3DFMT_R5G6B5, 255, 255, 255, 255));
    EXPECT_EQ(0xFFFFu, KS_PackTexel(D3DFMT_A1R5G5B5, 255, 255, 255, 255));
    EXPECT_EQ(0x7FFFu, KS_PackTexel(D3DFMT_A1R5G5B5, 255, 255, 255, 127));
    EXPECT_EQ(0xFFFFu, KS_PackTexel(D3DFMT_A1R5G5B5, 255, 255, 255, 128));
    EXPECT_EQ(0xF800u, KS_PackTexel(D3DFMT_R5G6B5, 255, 0, 0, 0));
    EXPECT_EQ(0x07E0u, KS_PackTexel(D3DFMT_R5G6B5, 0, 255, 0, 0));
    EXPECT_EQ(0x001Fu, KS_PackTexel(D3DFMT_R5G6B5, 0, 0, 255, 255));
    EXPECT_EQ(0x12345678u, KS_PackTexel(D3DFMT_A8R8G8B8, 0x34, 0x56, 0x78, 0x12));
    EXPECT_EQ(0x345678u, KS_PackTexel(D3DFMT_R8G8B8, 0x34, 0x56, 0x78, 0x12));
    EXPECT_EQ(0xE0u, KS_PackTexel(D3DFMT_R3G3B2, 255, 0, 0, 255));
    EXPECT_EQ(0x03u, KS_PackTexel(D3DFMT_R3G3B2, 0, 0, 255, 0));
    EXPECT_EQ(0xFF00u, KS_PackTexel(D3DFMT_A8R3G3B2, 0, 0, 0, 255));
    EXPECT_EQ(0x8841u, KS_PackTexel(D3DFMT_A4R4G4B4, 0x80, 0x40, 0x10, 0x80));
    // The other formats OR the channels unshifted.
    EXPECT_EQ(0x13u, KS_PackTexel(D3DFMT_L8, 0x01, 0x02, 0x10, 0x00));
}

TEST(TexelPacking, ConvertersWriteTexelsOfTheFormatsSize) {
    const uint8_t rgba[8] = {255, 0, 0, 255, 0, 0, 255, 0};
    uint8_t out[16];
    memset(out, 0xEE, sizeof(out));
    KS_Convert32(KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, rgba, out, 8, 2, 1);
    EXPECT_EQ(0, memcmp(out, "\x00\x00\xff\xff\xff\x00\x00\x00\xee", 9));
    memset(out, 0xEE, sizeof(out));
    KS_Convert32(KS_CLASS_RGB, D3DFMT_R5G6B5, rgba, out, 4, 2, 1);
    EXPECT_EQ(0, memcmp(out, "\x00\xf8\x1f\x00\xee", 5));
    memset(out, 0xEE, sizeof(out));
    KS_Convert32(KS_CLASS_PALETTE, D3DFMT_P8, rgba, out, 4, 2, 1);
    EXPECT_EQ(0xEE, out[0]);  // nothing for a palettised level
    // A one-byte format reached through the last fall-back is not written two bytes wide.
    memset(out, 0xEE, sizeof(out));
    KS_Convert32(KS_CLASS_RGB, D3DFMT_R3G3B2, rgba, out, 2, 2, 1);
    EXPECT_EQ(0, memcmp(out, "\xe0\x03\xee", 3));
}

TEST_F(TextureTest, PalettisedAndAlphaConversions) {
    SetPaletteEntry(0, 0, 0, 0);
    SetPaletteEntry(5, 63, 0, 0);
    const uint8_t colour[6] = {5, 0, 5, 5, 0, 0};  // 2 x 2 with a pitch of 3
    const uint8_t alpha[6] = {200, 10, 0, 0, 77, 0};
    uint8_t indices[4];
    KS_Convert8(KS_CLASS_PALETTE, D3DFMT_P8, colour, 3, indices, 2, 2, 2);
    EXPECT_EQ(0, memcmp(indices, "\x05\x00\x05\x00", 4));
    uint32_t texels[4];
    KS_Convert8Alpha(KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, colour, alpha, 3, (uint8_t*)texels, 8, 2, 2);
    EXPECT_EQ(0xC8FF0000u, texels[0]);
    EXPECT_EQ(0x0A000000u, texels[1]);  // black keeps its alpha: no transparency rule here
    EXPECT_EQ(0x00FF0000u, texels[2]);
    EXPECT_EQ(0x4D000000u, texels[3]);
}

TEST_F(TextureTest, BoxFilterAveragesPaletteColours) {
    SetPaletteEntry(1, 63, 0, 0);
    SetPaletteEntry(2, 0, 0, 63);
    SetPaletteEntry(7, 30, 0, 30);
    SetPaletteEntry(9, 31, 0, 31);
    SetPaletteEntry(10, 31, 0, 31);
    for (int i = 11; i < 256; i++) SetPaletteEntry(i, 63, 63, 63);
    IDirect3DSurface8* image = SurfaceOf({1, 1, 2, 2, 7, 7}, 2, 3);
    IDirect3DSurface8* level = KS_MipLevel8(image, 1, KS_FILTER_BOX, ksPalette);
    ASSERT_NE(nullptr, level);
    EXPECT_EQ(1, KS_SurfaceWidth(level));
    EXPECT_EQ(1, KS_SurfaceHeight(level));
    EXPECT_EQ(std::vector<uint8_t>{9}, SurfaceIndices(level));  // (31, 0, 31); the lower of two equals
    KS_ReleaseSurface(level);
    ksMipHeightMode = 1;
    level = KS_MipLevel8(image, 1, KS_FILTER_BOX, ksPalette);
    ksMipHeightMode = 0;
    EXPECT_EQ(std::vector<uint8_t>{31}, SurfaceIndices(level));
    KS_ReleaseSurface(level);
    level = KS_MipLevel8(image, 1, KS_FILTER_POINT, ksPalette);
    EXPECT_EQ(std::vector<uint8_t>{1}, SurfaceIndices(level));
    KS_ReleaseSurface(level);
    EXPECT_EQ(nullptr, KS_MipLevel8(image, 2, KS_FILTER_BOX, ksPalette));  // 0 x 0
    KS_ReleaseSurface(image);
}

TEST_F(TextureTest, MipLevel32AveragesBlocksAndKeepsTheCornerAlpha) {
    Image32 image = MakeImage32(20, 12);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 20; x++) {
            uint8_t* p = image.at(x, y);
            p[0] = (uint8_t)(x < 8 ? 100 : 200);
            p[1] = (uint8_t)(x % 2 ? 255 : 0);
            p[2] = (uint8_t)y;
            p[3] = (uint8_t)(x * 10 + y);
        }
    uint8_t* level = KS_MipLevel32(image.rgba.data(), 20, 12, 3, KS_FILTER_BOX);
    ASSERT_NE(nullptr, level);
    const uint8_t expected[8] = {100, 127, 3, 0, 200, 127, 3, 80};
    EXPECT_EQ(0, memcmp(level, expected, 8));
    KS_Free(level, "test", __LINE__);
    EXPECT_EQ(nullptr, KS_MipLevel32(image.rgba.data(), 20, 12, 5, KS_FILTER_BOX));
}

TEST(NearestColour, LowestIndexWinsATie) {
    uint8_t palette[768];
    memset(palette, 63, sizeof(palette));
    palette[40 * 3] = 10;
    palette[40 * 3 + 1] = 10;
    palette[40 * 3 + 2] = 10;
    palette[50 * 3] = 10;
    palette[50 * 3 + 1] = 10;
    palette[50 * 3 + 2] = 10;
    EXPECT_EQ(40, KS_NearestColor(11, 9, 10, palette));
    EXPECT_EQ(0, KS_NearestColor(63, 63, 63, palette));
    palette[60 * 3] = 0;
    EXPECT_EQ(60, KS_NearestColor(0, 63, 63, palette));
}
