// The device's texture formats, the format choice with its fall-backs, and the bump and normal
// maps computed from height images.
#include "texture_test.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

int RecordOf(D3DFORMAT format) {
    for (int i = 0; i < ksTextureFormatCount; i++)
        if (ksTextureFormats[i].format == (int32_t)format) return i;
    return -1;
}

D3DFORMAT Choose(int32_t code, int32_t* formatClass = nullptr) {
    D3DFORMAT format;
    int32_t bytes;
    KS_SetTextureFormat(code);
    int32_t chosen = KS_ChooseTextureFormat(&format, &bytes);
    if (formatClass) *formatClass = chosen;
    KS_SetTextureFormat(0);
    return format;
}

// The progress log written while `body` runs with logging on, in `directory`.
template <typename F>
std::string Logged(const std::string& directory, F body) {
    char previous[4096];
    EXPECT_NE(nullptr, getcwd(previous, sizeof(previous)));
    EXPECT_EQ(0, chdir(directory.c_str()));
    verbose = 1;
    body();
    verbose = 0;
    std::string text;
    if (FILE* f = fopen("ks.log", "r")) {
        char line[512];
        while (fgets(line, sizeof(line), f)) text += line;
        fclose(f);
        remove("ks.log");
    }
    EXPECT_EQ(0, chdir(previous));
    return text;
}

// An 8-bit picture whose palette reds are the heights (indices 0..63 are their own height).
IDirect3DSurface8* Heights(const Bytes& heights) {
    for (int i = 0; i < 256; i++) {
        ksPalette[i * 3] = (uint8_t)(i & 63);
        ksPalette[i * 3 + 1] = 7;
    }
    return SurfaceOf(heights, 8, 8);
}

}  // namespace

TEST_F(TextureTest, DefaultDeviceFillsTheSlots) {
    ASSERT_GT(ksTextureFormatCount, 0);
    EXPECT_EQ(0, RecordOf(D3DFMT_R5G6B5));  // candidates are asked in their fixed order
    EXPECT_EQ(RecordOf(D3DFMT_R5G6B5), ksDefaultFormats[KS_SLOT_RGB565]);
    EXPECT_EQ(RecordOf(D3DFMT_A1R5G5B5), ksDefaultFormats[KS_SLOT_RGB555]);
    EXPECT_EQ(RecordOf(D3DFMT_A4R4G4B4), ksDefaultFormats[KS_SLOT_RGBA4444]);
    EXPECT_EQ(RecordOf(D3DFMT_A8R8G8B8), ksDefaultFormats[KS_SLOT_RGBA8888]);
    EXPECT_EQ(RecordOf(D3DFMT_V8U8), ksDefaultFormats[KS_SLOT_V8U8]);
    EXPECT_EQ(RecordOf(D3DFMT_L6V5U5), ksDefaultFormats[KS_SLOT_L6V5U5]);
    EXPECT_EQ(-1, ksDefaultFormats[KS_SLOT_X8L8V8U8]);  // never filled by the search
    // A8P8 comes later and is palettised too, but its texels are two bytes: P8 keeps the slot.
    ASSERT_GT(RecordOf(D3DFMT_A8P8), RecordOf(D3DFMT_P8));
    EXPECT_EQ(RecordOf(D3DFMT_P8), ksDefaultFormats[KS_SLOT_P8]);

    int32_t formatClass;
    EXPECT_EQ(D3DFMT_R5G6B5, Choose(7));
    EXPECT_EQ(D3DFMT_A4R4G4B4, Choose(10));
    EXPECT_EQ(D3DFMT_A8R8G8B8, Choose(16));
    EXPECT_EQ(D3DFMT_P8, Choose(12));
    EXPECT_EQ(D3DFMT_V8U8, Choose(14, &formatClass));  // X8L8V8U8 is never found
    EXPECT_EQ(KS_CLASS_BUMP_V8U8, formatClass);
}

TEST_F(TextureTest, FormatsAreAskedOfTheDevicesOwnAdapterAndType) {
    // An adapter the system does not have accepts nothing: the check must name the current one.
    int32_t adapter = ksGlobal.currentAdapter;
    ksGlobal.currentAdapter = 9;
    KS_EnumTextureFormats();
    EXPECT_EQ(0, ksTextureFormatCount);
    ksGlobal.currentAdapter = adapter;
    KS_EnumTextureFormats();
    EXPECT_GT(ksTextureFormatCount, 0);
}

TEST_F(TextureTest, WithoutR5G6B5ClassZeroUsesA1R5G5B5) {
    StartEngine(MARLIX_PROFILE_NO_R5G6B5);
    EXPECT_EQ(-1, RecordOf(D3DFMT_R5G6B5));
    int32_t formatClass;
    EXPECT_EQ(D3DFMT_A1R5G5B5, Choose(0, &formatClass));
    EXPECT_EQ(KS_CLASS_RGB, formatClass);
    // A texture made on this device: white opaque, black transparent.
    memset(ksPalette + 3, 63, 3);
    int32_t handle = KS_AddTextureD3D("flat", SurfaceOf(Bytes{1, 0, 0, 0, 0, 0, 0, 0}, 8, 1));
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &format);
    EXPECT_EQ(D3DFMT_A1R5G5B5, format);
    EXPECT_EQ(0xFFFFu, texels[0]);
    EXPECT_EQ(0x0000u, texels[1]);
}

TEST_F(TextureTest, ChoiceLogsAndFallsBack) {
    std::string log = Logged(directory, [] { EXPECT_EQ(D3DFMT_R5G6B5, Choose(8)); });
    for (const char* line : {"Determine texture format.. current format is 8\n", "  Modified format is -1\n",
                             "  Unknown texture format.. assuming RGB565\n", "  Format Chosen: 0\n"})
        EXPECT_NE(std::string::npos, log.find(line)) << line << log;

    // None of the class's formats: the palettised one, and without that record 0.
    int32_t saved[KS_SLOT_COUNT];
    memcpy(saved, ksDefaultFormats, sizeof(saved));
    for (int32_t& slot : ksDefaultFormats) slot = -1;
    ksDefaultFormats[KS_SLOT_P8] = 5;
    int32_t formatClass;
    EXPECT_EQ((D3DFORMAT)ksTextureFormats[5].format, Choose(4, &formatClass));
    EXPECT_EQ(KS_CLASS_PALETTE, formatClass);
    ksDefaultFormats[KS_SLOT_P8] = -1;
    log = Logged(directory, [&] { EXPECT_EQ((D3DFORMAT)ksTextureFormats[0].format, Choose(4, &formatClass)); });
    EXPECT_EQ(KS_CLASS_RGB, formatClass);
    EXPECT_NE(std::string::npos, log.find("  Still unknown texture format.. assuming 8 bit\n")) << log;
    EXPECT_NE(std::string::npos, log.find("  Still unknown texture format.. assuming first format\n"));
    memcpy(ksDefaultFormats, saved, sizeof(saved));
}

TEST_F(TextureTest, BumpCodeWithoutItsFormatMakesAColourTextureAndResetsTheCode) {
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE);
    ASSERT_EQ(-1, ksDefaultFormats[KS_SLOT_L6V5U5]);
    KS_SetTextureFormat(13);
    int32_t handle = KS_AddTextureD3D("bump", Heights(Bytes(64, 3)));
    D3DFORMAT format;
    TextureTexels(ksTextures[handle].texture, 0, &format);
    EXPECT_EQ(D3DFMT_R5G6B5, format);
    EXPECT_EQ(0, ksTextureFormatCode);  // and so for the textures after it
}

TEST_F(TextureTest, BumpMapsOfFlatAndDippedHeights) {
    KS_SetTextureFormat(15);
    D3DFORMAT format;
    int32_t handle = KS_AddTextureD3D("flat", Heights(Bytes(64, 20)));
    for (uint32_t t : TextureTexels(ksTextures[handle].texture, 0, &format)) ASSERT_EQ(0u, t);
    EXPECT_EQ(D3DFMT_V8U8, format);

    // Row 0 is 10 5 20 25 ... 45, the rest 40: a dip at x = 1, slopes elsewhere.
    Bytes heights(64, 40);
    for (int x = 0; x < 8; x++) heights[x] = (uint8_t)(x == 0 ? 10 : x == 1 ? 5 : 5 * x + 10);
    handle = KS_AddTextureD3D("dip", Heights(heights));
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0);
    auto du = [&](int x, int y) { return (int8_t)(texels[y * 8 + x] & 0xFF); };
    auto dv = [&](int x, int y) { return (int8_t)(texels[y * 8 + x] >> 8); };
    EXPECT_EQ(10 - 5, du(1, 0));   // lower than both neighbours: L - c
    EXPECT_EQ(5 - 25, du(2, 0));   // otherwise L - R
    EXPECT_EQ(10 - 5, du(0, 0));   // the first column is its own left neighbour
    EXPECT_EQ(40 - 45, du(7, 0));  // the last column its own right one
    EXPECT_EQ(5 - 40, dv(1, 0));   // the first row its own upper one
    EXPECT_EQ(5 - 40, dv(1, 1));
    EXPECT_EQ(0, dv(1, 7));

    KS_SetTextureFormat(13);  // the same slopes as L6V5U5: 5-bit fields and luminance 32
    handle = KS_AddTextureD3D("l6", Heights(heights));
    texels = TextureTexels(ksTextures[handle].texture, 0, &format);
    EXPECT_EQ(D3DFMT_L6V5U5, format);
    EXPECT_EQ(0x8000u | 29u << 5 | 29u, texels[2]);  // du = dv = -20; -20 >> 3 = -3, & 31 = 29
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, NormalMapsOfAFlatImageAndOfAStep) {
    KS_SetTextureFormat(17);
    Image image = MakeImage(8, 8, 4);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) image.at(x, y)[0] = 255;
    int32_t handle = KS_AddTextureRGBA("flat", TrackedCopy(image), 8, 8);
    D3DFORMAT format;
    for (uint32_t t : TextureTexels(ksTextures[handle].texture, 0, &format)) ASSERT_EQ(0xFF8080FFu, t);
    EXPECT_EQ(D3DFMT_A8R8G8B8, format);
    // The right half low: the edge slopes in x, except in the first row.
    for (int y = 0; y < 8; y++)
        for (int x = 4; x < 8; x++) image.at(x, y)[0] = 0;
    handle = KS_AddTextureRGBA("step", TrackedCopy(image), 8, 8);
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0);
    EXPECT_EQ(0xFF8080FFu, texels[3]);
    EXPECT_EQ(0xFFD980D9u, texels[8 + 3]);  // (1, 0, 1) / sqrt 2: 127 * 0.707 + 128 = 217
    EXPECT_EQ(0x008080FFu, texels[8 + 4]);
    KS_SetTextureFormat(0);
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, HeightMapsNeedAnImage) {
    EXPECT_EXIT(KS_MakeBumpTexture(KS_CLASS_BUMP_V8U8, nullptr, 0, ksPalette), ::testing::ExitedWithCode(1),
                "Bump map image not loaded");
    EXPECT_EXIT(KS_MakeNormalTexture(nullptr, 8, 8, 0), ::testing::ExitedWithCode(1), "Bump map image not loaded");
}
