// The device's texture formats, the format choice with its fall-backs and log lines, and the bump
// and normal maps computed from height images.
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

// Runs `body` with the progress log on, in `directory`, and returns what it logged.
template <typename F>
std::string Logged(const std::string& directory, F body) {
    char previous[4096];
    EXPECT_NE(nullptr, getcwd(previous, sizeof(previous)));
    EXPECT_EQ(0, chdir(directory.c_str()));
    remove("ks.log");
    verbose = 1;
    body();
    verbose = 0;
    std::string text;
    FILE* f = fopen("ks.log", "r");
    if (f) {
        char line[512];
        while (fgets(line, sizeof(line), f)) text += line;
        fclose(f);
    }
    EXPECT_EQ(0, chdir(previous));
    return text;
}

// An 8-bit surface whose palette red values are the heights.
IDirect3DSurface8* HeightImage(int width, int height, const std::vector<uint8_t>& heights) {
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* surface = KS_CreateImage8(width, height, &bits, &pitch);
    for (int y = 0; y < height; y++) memcpy(bits + y * pitch, &heights[(size_t)y * width], (size_t)width);
    KS_UnlockSurface(surface);
    for (int i = 0; i < 256; i++) {
        ksPalette[i * 3] = (uint8_t)(i & 63);
        ksPalette[i * 3 + 1] = 7;
        ksPalette[i * 3 + 2] = 9;
    }
    return surface;
}

}  // namespace

TEST_F(TextureTest, DefaultDeviceFillsTheSlotsInCandidateOrder) {
    ASSERT_GT(ksTextureFormatCount, 0);
    EXPECT_EQ(D3DFMT_R5G6B5, ksTextureFormats[0].format);
    for (int i = 1; i < ksTextureFormatCount; i++) EXPECT_NE(D3DFMT_UNKNOWN, ksTextureFormats[i].format);
    EXPECT_EQ(RecordOf(D3DFMT_R5G6B5), ksDefaultFormats[KS_SLOT_RGB565]);
    EXPECT_EQ(RecordOf(D3DFMT_A1R5G5B5), ksDefaultFormats[KS_SLOT_RGB555]);
    EXPECT_EQ(RecordOf(D3DFMT_A4R4G4B4), ksDefaultFormats[KS_SLOT_RGBA4444]);
    EXPECT_EQ(RecordOf(D3DFMT_A8R8G8B8), ksDefaultFormats[KS_SLOT_RGBA8888]);
    EXPECT_EQ(RecordOf(D3DFMT_V8U8), ksDefaultFormats[KS_SLOT_V8U8]);
    EXPECT_EQ(RecordOf(D3DFMT_L6V5U5), ksDefaultFormats[KS_SLOT_L6V5U5]);
    EXPECT_EQ(-1, ksDefaultFormats[KS_SLOT_X8L8V8U8]);  // never filled by the search
    int p8 = RecordOf(D3DFMT_P8);
    ASSERT_GE(p8, 0);
    ASSERT_GT(RecordOf(D3DFMT_A8P8), p8);
    // A8P8 comes later and is palettised too, but its texels are two bytes: P8 keeps the slot.
    EXPECT_EQ(p8, ksDefaultFormats[KS_SLOT_P8]);
    EXPECT_EQ(8, ksTextureFormats[p8].indexBits);
    EXPECT_EQ(1, ksTextureFormats[p8].palettized);
    const KSTextureFormat& rgb = ksTextureFormats[ksDefaultFormats[KS_SLOT_RGB565]];
    EXPECT_EQ(5, rgb.redBits);
    EXPECT_EQ(6, rgb.greenBits);
    EXPECT_EQ(5, rgb.blueBits);
    EXPECT_EQ(0, rgb.alphaBits);

    D3DFORMAT format;
    int32_t bytes;
    KS_SetTextureFormat(0);
    EXPECT_EQ(KS_CLASS_RGB, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ(D3DFMT_R5G6B5, format);
    EXPECT_EQ(2, bytes);
    KS_SetTextureFormat(16);
    EXPECT_EQ(KS_CLASS_RGBA8, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ(D3DFMT_A8R8G8B8, format);
    EXPECT_EQ(4, bytes);
    KS_SetTextureFormat(14);  // X8L8V8U8 is never found: its class falls back to V8U8
    EXPECT_EQ(KS_CLASS_BUMP_V8U8, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ(D3DFMT_V8U8, format);
    KS_SetTextureFormat(12);
    EXPECT_EQ(KS_CLASS_PALETTE, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ(1, bytes);
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, WithoutR5G6B5ClassZeroUsesA1R5G5B5) {
    StartEngine(MARLIX_PROFILE_NO_R5G6B5);
    EXPECT_EQ(-1, RecordOf(D3DFMT_R5G6B5));
    EXPECT_EQ(RecordOf(D3DFMT_A1R5G5B5), ksDefaultFormats[KS_SLOT_RGB565]);
    D3DFORMAT format;
    int32_t bytes;
    EXPECT_EQ(KS_CLASS_RGB, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ(D3DFMT_A1R5G5B5, format);
    EXPECT_EQ(2, bytes);
    // A texture made on this device gets that format, with black transparent.
    ksPalette[3] = ksPalette[4] = ksPalette[5] = 63;
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* image = KS_CreateImage8(8, 8, &bits, &pitch);
    bits[0] = 1;
    KS_UnlockSurface(image);
    int32_t handle = KS_AddTextureD3D("flat", image);
    ASSERT_GE(handle, 0);
    int w, h;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_A1R5G5B5, format);
    EXPECT_EQ(0xFFFFu, texels[0]);
    EXPECT_EQ(0x0000u, texels[1]);
}

TEST_F(TextureTest, ChoiceLogsAndFallsBack) {
    D3DFORMAT format;
    int32_t bytes;
    KS_SetTextureFormat(8);
    std::string log = Logged(directory, [&] { EXPECT_EQ(KS_CLASS_RGB, KS_ChooseTextureFormat(&format, &bytes)); });
    EXPECT_NE(std::string::npos, log.find("Determine texture format.. current format is 8\n")) << log;
    EXPECT_NE(std::string::npos, log.find("  Modified format is -1\n"));
    EXPECT_NE(std::string::npos, log.find("  Unknown texture format.. assuming RGB565\n"));
    EXPECT_NE(std::string::npos, log.find("  Format Chosen: 0\n"));
    EXPECT_EQ(D3DFMT_R5G6B5, format);

    // A device with none of the class's formats: first the palettised one, then record 0.
    int32_t saved[KS_SLOT_COUNT];
    memcpy(saved, ksDefaultFormats, sizeof(saved));
    for (int32_t& slot : ksDefaultFormats) slot = -1;
    ksDefaultFormats[KS_SLOT_P8] = 5;
    KS_SetTextureFormat(4);
    EXPECT_EQ(KS_CLASS_PALETTE, KS_ChooseTextureFormat(&format, &bytes));
    EXPECT_EQ((D3DFORMAT)ksTextureFormats[5].format, format);
    ksDefaultFormats[KS_SLOT_P8] = -1;
    log = Logged(directory, [&] { EXPECT_EQ(KS_CLASS_RGB, KS_ChooseTextureFormat(&format, &bytes)); });
    EXPECT_NE(std::string::npos, log.find("  Still unknown texture format.. assuming 8 bit\n")) << log;
    EXPECT_NE(std::string::npos, log.find("  Still unknown texture format.. assuming first format\n"));
    EXPECT_EQ((D3DFORMAT)ksTextureFormats[0].format, format);
    memcpy(ksDefaultFormats, saved, sizeof(saved));
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, EnumerationLogsEachRecordAndTheSlots) {
    std::string log = Logged(directory, [] { KS_EnumTextureFormats(); });
    EXPECT_NE(std::string::npos, log.find(" EnumTextureFormat 0\n")) << log;
    EXPECT_NE(std::string::npos, log.find("  Red BPP: 5\n"));  // lines carry a time stamp and a blank
    EXPECT_NE(std::string::npos, log.find("Finding the default texture formats\n"));
    EXPECT_NE(std::string::npos, log.find(" Found RGB565 at 0\n"));
    EXPECT_NE(std::string::npos, log.find(" Found P8 at "));
}

TEST_F(TextureTest, BumpCodeWithoutItsFormatMakesAColourTextureAndResetsTheCode) {
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE);
    EXPECT_EQ(-1, ksDefaultFormats[KS_SLOT_L6V5U5]);
    KS_SetTextureFormat(13);
    IDirect3DSurface8* image = HeightImage(8, 8, std::vector<uint8_t>(64, 3));
    int32_t handle = KS_AddTextureD3D("bump", image);
    ASSERT_GE(handle, 0);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, ksTextures[handle].texture->GetLevelDesc(0, &desc));
    EXPECT_EQ(D3DFMT_R5G6B5, desc.Format);
    EXPECT_EQ(0, ksTextureFormatCode);  // and so for the textures after it
}

TEST_F(TextureTest, V8U8BumpMapOfFlatAndDippedHeights) {
    KS_SetTextureFormat(15);
    IDirect3DSurface8* flat = HeightImage(8, 8, std::vector<uint8_t>(64, 20));
    int32_t handle = KS_AddTextureD3D("flat", flat);
    ASSERT_GE(handle, 0);
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_V8U8, format);
    for (uint32_t t : texels) ASSERT_EQ(0u, t);

    // Row 0 is 10 5 20 25 30 ... 45, the rest 40: a dip at x = 1, slopes elsewhere.
    std::vector<uint8_t> heights(64, 40);
    for (int x = 0; x < 8; x++) heights[x] = (uint8_t)(x == 0 ? 10 : x == 1 ? 5 : 5 * x + 10);
    handle = KS_AddTextureD3D("dip", HeightImage(8, 8, heights));
    texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    auto du = [&](int x, int y) { return (int8_t)(texels[y * 8 + x] & 0xFF); };
    auto dv = [&](int x, int y) { return (int8_t)(texels[y * 8 + x] >> 8); };
    EXPECT_EQ(10 - 5, du(1, 0));   // lower than both neighbours: L - c
    EXPECT_EQ(5 - 25, du(2, 0));   // otherwise L - R
    EXPECT_EQ(10 - 5, du(0, 0));   // the first column uses itself for L
    EXPECT_EQ(40 - 45, du(7, 0));  // and the last column itself for R
    EXPECT_EQ(5 - 40, dv(1, 0));   // the first row uses itself for U
    EXPECT_EQ(5 - 40, dv(1, 1));
    EXPECT_EQ(0, dv(1, 7));        // the last row itself for D
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, L6V5U5PacksShiftedSlopesAndMidLuminance) {
    KS_SetTextureFormat(13);
    std::vector<uint8_t> heights(64, 0);
    for (int i = 0; i < 64; i++) heights[i] = (uint8_t)((i % 8) * 5);  // rising by 5: du = -10
    int32_t handle = KS_AddTextureD3D("l6", HeightImage(8, 8, heights));
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_L6V5U5, format);
    EXPECT_EQ(0x8000u | 30u, texels[3]);  // (-10 >> 3) & 31 = 30; dv 0; luminance 32
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, NormalMapOfFlatImageAndOfAStep) {
    KS_SetTextureFormat(17);
    Image32 flat = MakeImage32(8, 8);
    for (int i = 0; i < 64; i++) flat.rgba[i * 4] = 255;
    uint8_t* buffer = (uint8_t*)KS_Alloc(256, "test", __LINE__);
    memcpy(buffer, flat.rgba.data(), 256);
    int32_t handle = KS_AddTextureRGBA("nflat", buffer, 8, 8);
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_A8R8G8B8, format);
    for (uint32_t t : texels) ASSERT_EQ(0xFF8080FFu, t);

    // Left half high, right half low: the edge slopes in x, except in the first row.
    Image32 step = MakeImage32(8, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 4; x++) step.at(x, y)[0] = 255;
    buffer = (uint8_t*)KS_Alloc(256, "test", __LINE__);
    memcpy(buffer, step.rgba.data(), 256);
    handle = KS_AddTextureRGBA("nstep", buffer, 8, 8);
    texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(0xFF8080FFu, texels[3]);          // first row: no right-hand slope
    EXPECT_EQ(0xFFD980D9u, texels[1 * 8 + 3]);  // (1, 0, 1) / sqrt 2: 127 * 0.707 + 128 = 217
    EXPECT_EQ(0x008080FFu, texels[1 * 8 + 4]);
    KS_SetTextureFormat(0);
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, HeightMapsNeedAnImage) {
    EXPECT_EXIT(KS_MakeBumpTexture(KS_CLASS_BUMP_V8U8, nullptr, 0, ksPalette), ::testing::ExitedWithCode(1),
                "Bump map image not loaded");
    EXPECT_EXIT(KS_MakeNormalTexture(nullptr, 8, 8, 0), ::testing::ExitedWithCode(1), "Bump map image not loaded");
}
