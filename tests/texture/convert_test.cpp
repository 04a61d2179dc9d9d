// Dispatch by extension, the converters with the channel table and the colour bleed, the mipmap
// filters and the nearest palette colour.
#include "texture_test.h"

#include <string.h>

namespace {

void SetColour(int index, uint8_t r, uint8_t g, uint8_t b) {
    ksPalette[index * 3] = r;
    ksPalette[index * 3 + 1] = g;
    ksPalette[index * 3 + 2] = b;
}

std::vector<uint32_t> ToARGB(const Bytes& indices, int width, int height) {
    std::vector<uint32_t> out((size_t)width * height, 0xDEADBEEF);
    KS_Convert8(KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, indices.data(), width, (uint8_t*)out.data(), width * 4, width, height);
    return out;
}

}  // namespace

TEST(TextureKind, ExtensionInAnyCaseAfterTheLastDot) {
    const std::pair<const char*, int32_t> cases[] = {
        {"wall.Pcx", KS_KIND_PCX}, {"a.blk", KS_KIND_BLK},        {"a.PAK", KS_KIND_PAK},
        {"a.lbm", KS_KIND_LBM},    {"a.IFF", KS_KIND_LBM},        {"a.bmp", KS_KIND_BMP},
        {"a.3df", KS_KIND_3DF},    {"back.JpG", KS_KIND_JPG},     {"dir\\font.tga", KS_KIND_TGA},
        {"./x.dds", KS_KIND_DDS},  {"page.tga.bak", KS_KIND_NONE}, {"data.tga/readme", KS_KIND_NONE},
        {"a.jpeg", KS_KIND_NONE},  {"noextension", KS_KIND_NONE},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, KS_TextureKind(c.first)) << c.first;
}

TEST_F(TextureTest, PaletteExpandsAndBlackIsTransparent) {
    SetColour(1, 63, 63, 63);
    SetColour(2, 1, 1, 1);
    SetColour(3, 32, 0, 63);
    EXPECT_EQ((std::vector<uint32_t>{0xFFFFFFFF, 0xFF040404, 0x00000000, 0xFF8100FF}), ToARGB({1, 2, 0, 3}, 4, 1));
}

TEST_F(TextureTest, ColourBleedsOnlyWithCode1AndOnlyFromTheInterior) {
    SetColour(1, 63, 0, 0);
    SetColour(2, 0, 63, 0);
    SetColour(3, 0, 0, 63);
    const int w = 7;
    Bytes indices(7 * 5, 0);
    indices[2 * w + 2] = 1;  // red inside
    indices[2 * w + 4] = 3;  // blue inside, visited later: it wins the shared column 3
    indices[0 * w + 6] = 2;  // green on the border: it never spreads
    EXPECT_EQ(0u, ToARGB(indices, 7, 5)[1 * w + 1]);
    KS_SetTextureFormat(1);
    std::vector<uint32_t> out = ToARGB(indices, 7, 5);
    KS_SetTextureFormat(0);
    EXPECT_EQ(0x00FF0000u, out[1 * w + 1]);  // red colour, alpha still 0
    EXPECT_EQ(0x00FF0000u, out[3 * w + 2]);
    EXPECT_EQ(0x000000FFu, out[2 * w + 3]);
    EXPECT_EQ(0x000000FFu, out[1 * w + 5]);
    EXPECT_EQ(0xFFFF0000u, out[2 * w + 2]);
    EXPECT_EQ(0u, out[0 * w + 5]);
    EXPECT_EQ(0u, out[1 * w + 6]);
}

TEST(TexelPacking, ChannelTable) {
    const struct {
        D3DFORMAT format;
        uint32_t r, g, b, a, packed;
    } cases[] = {
        {D3DFMT_A4R4G4B4, 255, 255, 255, 255, 0xFFFF}, {D3DFMT_R5G6B5, 255, 255, 255, 255, 0xFFFF},
        {D3DFMT_A1R5G5B5, 255, 255, 255, 255, 0xFFFF}, {D3DFMT_A1R5G5B5, 255, 255, 255, 127, 0x7FFF},
        {D3DFMT_A1R5G5B5, 255, 255, 255, 128, 0xFFFF}, {D3DFMT_R5G6B5, 0, 255, 0, 0, 0x07E0},
        {D3DFMT_A4R4G4B4, 0x80, 0x40, 0x10, 0x80, 0x8841}, {D3DFMT_A8R8G8B8, 0x34, 0x56, 0x78, 0x12, 0x12345678},
        {D3DFMT_R8G8B8, 0x34, 0x56, 0x78, 0x12, 0x345678}, {D3DFMT_R3G3B2, 255, 0, 255, 0, 0xE3},
        {D3DFMT_A8R3G3B2, 0, 0, 0, 255, 0xFF00},       {D3DFMT_L8, 0x01, 0x02, 0x10, 0x00, 0x13},
    };
    for (const auto& c : cases) EXPECT_EQ(c.packed, KS_PackTexel(c.format, c.r, c.g, c.b, c.a)) << c.format;
}

TEST(TexelPacking, ConvertersWriteTexelsOfTheFormatsSize) {
    const uint8_t rgba[8] = {255, 0, 0, 255, 0, 0, 255, 0};
    const struct {
        int32_t formatClass;
        D3DFORMAT format;
        const char* bytes;
        size_t size;
    } cases[] = {
        {KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, "\x00\x00\xff\xff\xff\x00\x00\x00\xee", 9},
        {KS_CLASS_RGB, D3DFMT_R5G6B5, "\x00\xf8\x1f\x00\xee", 5},
        {KS_CLASS_PALETTE, D3DFMT_P8, "\xee", 1},       // nothing for a palettised level
        {KS_CLASS_RGB, D3DFMT_R3G3B2, "\xe0\x03\xee", 3},  // a one-byte last resort stays one byte
    };
    for (const auto& c : cases) {
        uint8_t out[16];
        memset(out, 0xEE, sizeof(out));
        KS_Convert32(c.formatClass, c.format, rgba, out, 16, 2, 1);
        EXPECT_EQ(0, memcmp(out, c.bytes, c.size)) << c.format;
    }
}

TEST_F(TextureTest, IndexCopyAndColourWithAlpha) {
    SetColour(5, 63, 0, 0);
    const uint8_t colour[6] = {5, 0, 9, 5, 0, 9};  // 2 x 2 with a pitch of 3
    const uint8_t alpha[6] = {200, 10, 9, 0, 77, 9};
    uint8_t indices[4];
    KS_Convert8(KS_CLASS_PALETTE, D3DFMT_P8, colour, 3, indices, 2, 2, 2);
    EXPECT_EQ(0, memcmp(indices, "\x05\x00\x05\x00", 4));
    uint32_t texels[4];
    KS_Convert8Alpha(KS_CLASS_RGBA8, D3DFMT_A8R8G8B8, colour, alpha, 3, (uint8_t*)texels, 8, 2, 2);
    // The alpha picture decides alone: black keeps its alpha here.
    EXPECT_EQ((std::vector<uint32_t>{0xC8FF0000, 0x0A000000, 0x00FF0000, 0x4D000000}),
              std::vector<uint32_t>(texels, texels + 4));
}

TEST_F(TextureTest, MipLevel8AveragesPaletteColours) {
    SetColour(1, 63, 0, 0);
    SetColour(2, 0, 0, 63);
    SetColour(7, 30, 0, 30);
    SetColour(9, 31, 0, 31);
    SetColour(10, 31, 0, 31);
    for (int i = 11; i < 256; i++) SetColour(i, 63, 63, 63);
    IDirect3DSurface8* image = SurfaceOf({1, 1, 2, 2, 7, 7}, 2, 3);
    const struct {
        int32_t filter, heightMode;
        uint8_t expected;
    } cases[] = {{KS_FILTER_BOX, 0, 9}, {KS_FILTER_BOX, 1, 31}, {KS_FILTER_POINT, 0, 1}};
    for (const auto& c : cases) {
        ksMipHeightMode = c.heightMode;
        IDirect3DSurface8* level = KS_MipLevel8(image, 1, c.filter, ksPalette);
        ksMipHeightMode = 0;
        ASSERT_NE(nullptr, level);
        // (31, 0, 31) is entries 9 and 10: the lower wins; in height mode the red average itself.
        EXPECT_EQ(Bytes{c.expected}, SurfaceIndices(level)) << c.filter << c.heightMode;
        KS_ReleaseSurface(level);
    }
    EXPECT_EQ(nullptr, KS_MipLevel8(image, 2, KS_FILTER_BOX, ksPalette));  // 0 x 0
    KS_ReleaseSurface(image);
}

TEST_F(TextureTest, MipLevel32AveragesBlocksAndKeepsTheCornerAlpha) {
    Image image = MakeImage(20, 12, 4);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 20; x++) {
            const uint8_t texel[4] = {(uint8_t)(x < 8 ? 100 : 200), (uint8_t)(x % 2 ? 255 : 0), (uint8_t)y,
                                      (uint8_t)(x * 10 + y)};
            memcpy(image.at(x, y), texel, 4);
        }
    uint8_t* level = KS_MipLevel32(image.pixels.data(), 20, 12, 3, KS_FILTER_BOX);
    ASSERT_NE(nullptr, level);  // 2 x 1 texels of 8 x 8 blocks
    EXPECT_EQ((Bytes{100, 127, 3, 0, 200, 127, 3, 80}), Bytes(level, level + 8));
    KS_Free(level, "test", __LINE__);
}

TEST(NearestColour, LowestIndexWinsATie) {
    uint8_t palette[768];
    memset(palette, 63, sizeof(palette));
    memset(palette + 40 * 3, 10, 3);
    memset(palette + 50 * 3, 10, 3);
    EXPECT_EQ(40, KS_NearestColor(11, 9, 10, palette));
    EXPECT_EQ(0, KS_NearestColor(63, 63, 63, palette));
}
