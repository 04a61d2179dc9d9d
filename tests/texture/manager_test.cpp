// The texture manager: the table, lookup and deletion, size fitting and mipmap counts, the
// creation paths, binding to stages, palettes and render textures.
#include "texture_test.h"

#include <stdio.h>
#include <string.h>

namespace {

int32_t AddEmpty(const char* name, int32_t width = 1) {
    return KS_AddTextureDDS(name, nullptr, width, 1);
}

IDirect3DBaseTexture8* BoundOn(int stage) {
    IDirect3DBaseTexture8* texture = nullptr;
    ksGlobal.device->GetTexture((DWORD)stage, &texture);
    if (texture) texture->Release();
    ksGlobal.device->SetTexture((DWORD)stage, nullptr);
    return texture;
}

// 4 x 4 squares of index 2 (blue) and 1 (red), the palette as a file stores it.
Image Checker(int width, int height) {
    Image image = MakeImage(width, height, 1);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) *image.at(x, y) = ((x / 4 + y / 4) & 1) ? 1 : 2;
    image.palette[3] = 252;
    image.palette[8] = 252;
    return image;
}

}  // namespace

TEST_F(TextureTest, TableGrowsByAHundredAndReusesTheLowestFreeHandle) {
    KS_SetTextureFormat(4);  // left from an earlier run: a new table starts afresh
    KSGFX_AllocTextures(3);
    EXPECT_EQ(0, ksTextureFormatCode);
    EXPECT_EQ(0, AddEmpty("Wall.PCX", 10));
    EXPECT_EQ(1, AddEmpty("floor.tga", 11));
    EXPECT_EQ(2, AddEmpty("sky.jpg", 12));
    EXPECT_EQ(3, AddEmpty("d"));  // full: the first of 100 new entries
    EXPECT_EQ(103, ksTextureCount);
    EXPECT_STREQ("Wall.PCX", ksTextures[0].name);
    EXPECT_EQ(12, ksTextures[2].width);

    EXPECT_EQ(0, KS_FindTexture("wall.pcx"));
    EXPECT_EQ(2, KS_FindTexture("SKY.JPG"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("sky.jp"));
    EXPECT_EQ(KSERR_TEXTURE_DELETED, KS_DeleteTexture("FLOOR.TGA"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_DeleteTexture("floor.tga"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_DeleteTexture(nullptr));
    EXPECT_EQ(KSERR_TEXTURE_DELETED, KS_DeleteTexture("wall.pcx"));
    EXPECT_EQ(0, AddEmpty("new1"));
    EXPECT_EQ(1, AddEmpty("new2"));
    EXPECT_EQ(4, AddEmpty("new3"));
}

TEST_F(TextureTest, SizeFittingAndMipmapCounts) {
    KSDeviceCaps saved = ksGlobal.caps;
    struct Case {
        uint8_t pow2, square;
        int32_t maximum, mipmaps, buffer, width, height, fittedWidth, fittedHeight;
    };
    const Case cases[] = {
        {0, 0, 2048, 1, 0, 100, 60, 100, 60},  {1, 0, 2048, 1, 0, 100, 60, 128, 64},
        {1, 1, 2048, 1, 0, 100, 60, 128, 128}, {1, 0, 2048, 1, 0, 3000, 10, 2048, 16},
        {1, 0, 2048, 1, 1, 3, 128, 8, 128},    {0, 0, 2048, -1, 0, 100, 60, 128, 64},
        {1, 0, 0, 1, 0, 3000, 10, 2048, 16},   {1, 0, 0, 1, 1, 3000, 10, 3000, 10},
    };
    for (const Case& c : cases) {
        ksGlobal.caps.Pow2Textures = c.pow2;
        ksGlobal.caps.SquareTexture = c.square;
        ksGlobal.caps.MaxTextureWidth = ksGlobal.caps.MaxTextureHeight = c.maximum;
        KS_SetMipmapSetting(c.mipmaps);
        int32_t w, h;
        KS_FitTextureSize(c.width, c.height, c.buffer, &w, &h);
        EXPECT_EQ(c.fittedWidth, w) << c.width << "x" << c.height;
        EXPECT_EQ(c.fittedHeight, h) << c.width << "x" << c.height;
    }
    ksGlobal.caps = saved;
    KS_SetMipmapSetting(-1);
    EXPECT_EQ(5, KS_CountMipLevels(256, 256));
    EXPECT_EQ(5, KS_CountMipLevels(2048, 2048));
    EXPECT_EQ(2, KS_CountMipLevels(16, 16));
    EXPECT_EQ(1, KS_CountMipLevels(8, 8));
    EXPECT_EQ(1, KS_CountMipLevels(256, 8));
    KS_SetMipmapSetting(0);
    EXPECT_EQ(1, KS_CountMipLevels(64, 64));
}

TEST_F(TextureTest, BuffersAndSurfacesAreResampledAndReduced) {
    Image image = MakeImage(100, 60, 4);
    for (int y = 0; y < 60; y++)
        for (int x = 0; x < 100; x++) image.at(x, y)[0] = (uint8_t)(x < 50 ? 255 : 0);
    KS_SetMipmapSetting(-1);
    KS_SetTextureFormat(16);
    int32_t handle = KS_AddTextureRGBA("rgba", TrackedCopy(image), 100, 60);
    KS_SetTextureFormat(0);
    EXPECT_EQ(128, ksTextures[handle].width);
    EXPECT_EQ(64, ksTextures[handle].height);
    uint32_t scale;
    memcpy(&scale, &ksTextures[handle].uScale, 4);
    EXPECT_EQ(0x3B808081u, scale);
    IDirect3DTexture8* texture = ksTextures[handle].texture;
    ASSERT_EQ(4u, texture->GetLevelCount());
    std::vector<uint32_t> top = TextureTexels(texture, 0), level3 = TextureTexels(texture, 3);
    EXPECT_EQ(0x00FF0000u, top[63] & 0x00FF0000u);  // 63 * 100 / 128 = 49: still the left half
    EXPECT_EQ(0u, top[65] & 0x00FF0000u);           // 65 * 100 / 128 = 50: the right half
    EXPECT_EQ(0x00FF0000u, level3[7] & 0x00FF0000u);  // 8 x 8 blocks of the fitted picture
    EXPECT_EQ(0u, level3[8] & 0x00FF0000u);
    KS_SetMipmapSetting(0);

    // An 8-bit surface goes through the block scaler; the 2D drawing state is left as it was.
    IDirect3DSurface8* drawSurface = ksGlobal.drawSurface;
    int16_t clipX2 = ksGlobal.clipX2;
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadPCX(Write("c.pcx", WritePCX(Checker(100, 60))).c_str(), palette);
    memcpy(ksPalette, palette, 768);
    handle = KS_AddTextureD3D("surface", surface);
    EXPECT_EQ(128, ksTextures[handle].width);
    EXPECT_EQ(drawSurface, ksGlobal.drawSurface);
    EXPECT_EQ(clipX2, ksGlobal.clipX2);
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0);
    EXPECT_EQ(0x001Fu, texels[0]);            // blue in R5G6B5
    EXPECT_EQ(0xF800u, texels[6 * 128 + 0]);  // row 6 samples row 5: red
}

TEST_F(TextureTest, LoadingByNameUsesTheDirectoryAndReadsAFileOnce) {
    Image image = MakeImage(8, 8, 4);
    std::string path = Write("once.tga", WriteTGA(image, 24, false, false));
    int32_t handle = KSGFX_LoadTexture("once.tga");
    ASSERT_GE(handle, 0);
    EXPECT_NE(nullptr, ksTextures[handle].texture);
    remove(path.c_str());
    EXPECT_EQ(handle, KSGFX_LoadTexture("ONCE.TGA"));
    Write("block.blk", Bytes(16, 0));
    for (const char* name : {"missing.tga", "notes.txt", "block.blk"}) {
        EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KSGFX_LoadTexture(name));
        EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture(name));  // no entry for a failure
    }
}

TEST_F(TextureTest, EveryLoaderKindMakesATextureAndIsLogged) {
    Image picture = Checker(16, 16), colour = MakeImage(16, 16, 4);
    Write("p.pcx", WritePCX(picture));
    // An ILBM of the same checker, written by netpbm (tests/data/iff).
    FILE* lbm = fopen(MARLIX_TEST_DATA "/iff/checker16.lbm", "rb");
    ASSERT_NE(nullptr, lbm);
    Bytes ilbm(256);
    ilbm.resize(fread(ilbm.data(), 1, ilbm.size(), lbm));
    fclose(lbm);
    Write("l.lbm", ilbm);
    Write("b.bmp", WriteBMP(picture, 8));
    Write("t.tga", WriteTGA(colour, 32, true, false));
    Write("j.jpg", WriteJPEG(colour, 3));
    Write("d.dds", WriteDDS(16, 16, 2, "DXT3", 0));
    strcpy(ksErrorLogPath, Path("errors.log").c_str());
    for (const char* name : {"p.pcx", "l.lbm", "b.bmp", "t.tga", "j.jpg", "d.dds"}) {
        memset(ksPalette, 0, sizeof(ksPalette));
        int32_t handle = KSGFX_LoadTexture(name);
        ASSERT_GE(handle, 0) << name;
        EXPECT_NE(nullptr, ksTextures[handle].texture) << name;
        EXPECT_EQ(16, ksTextures[handle].width) << name;
        bool indexed = strchr("plb", name[0]) != nullptr;
        EXPECT_EQ(indexed ? 63 : 0, ksPalette[3]) << name;  // the picture's palette became global
        EXPECT_EQ(indexed, ksTextures[handle].palette != nullptr) << name;
    }
    ksErrorLogPath[0] = 0;
    FILE* f = fopen(Path("errors.log").c_str(), "r");
    ASSERT_NE(nullptr, f);
    char line[512];
    std::string lines;
    while (fgets(line, sizeof(line), f)) lines += line;
    fclose(f);
    EXPECT_EQ(0u, lines.find(Path("p.pcx") + " (Loading PCX)\n" + Path("l.lbm") + " (Loading LBM)\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find(Path("d.dds") + " (Loading DDS)\n"));
}

TEST_F(TextureTest, ColourAndAlphaPicturesMakeOneTexture) {
    Image alpha = MakeImage(8, 8, 1);
    for (int x = 0; x < 8; x++) *alpha.at(x, 0) = (uint8_t)(x * 30);
    Write("c.pcx", WritePCX(Checker(8, 8)));
    Write("a.bmp", WriteBMP(alpha, 8));
    KS_SetTextureStage(2);
    KS_SetTextureFormat(16);
    int32_t handle = KSGFX_LoadTexture2("c.pcx", "a.bmp");
    KS_SetTextureStage(0);
    const KSTexture& entry = ksTextures[handle];
    EXPECT_EQ(nullptr, entry.palette);
    EXPECT_EQ(0, entry.formatCode);  // not stored for this path
    EXPECT_EQ(2, entry.stage);
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(entry.texture, 0, &format);
    EXPECT_EQ(D3DFMT_A4R4G4B4, format);  // forced, whatever the code
    EXPECT_EQ(0x000Fu, texels[0]);       // blue, alpha 0
    EXPECT_EQ(0xDF00u, texels[7]);       // red, alpha 210 >> 4
    EXPECT_EQ(16, ksTextureFormatCode);
    KS_SetTextureFormat(0);
    EXPECT_EQ(nullptr, ksTextures[KSGFX_LoadTexture2("c2.pcx", "none.bmp")].texture);  // an empty entry
}

TEST_F(TextureTest, PalettisedTexturesUploadTheirPalettes) {
    for (int i = 0; i < 256; i++) {
        ksPalette[i * 3] = (uint8_t)(i & 63);
        ksPalette[i * 3 + 1] = 63;
    }
    AddEmpty("first");  // so that the palette number, the handle, is not 0
    KS_SetTextureFormat(11);
    int32_t handle = KS_AddTextureD3D("pal", SurfaceOf(Bytes{0, 33, 0, 0, 0, 0, 0, 0}, 8, 1));
    KS_SetTextureFormat(0);
    D3DFORMAT format;
    EXPECT_EQ(33u, TextureTexels(ksTextures[handle].texture, 0, &format)[1]);
    EXPECT_EQ(D3DFMT_P8, format);
    PALETTEENTRY entries[256];
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetPaletteEntries((UINT)handle, entries));
    EXPECT_EQ(133, entries[33].peRed);  // 33 / 63 * 255, rounded down
    EXPECT_EQ(255, entries[33].peGreen);
    KSGFX_SetTexturePalette(handle, 1);  // the entry's own copy, times four
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetPaletteEntries((UINT)handle, entries));
    EXPECT_EQ(132, entries[33].peRed);
    ksGlobal.device->SetCurrentTexturePalette(0);
    KSGFX_SelectTexture(handle);
    UINT current = 0;
    ksGlobal.device->GetCurrentTexturePalette(&current);
    EXPECT_EQ((UINT)handle, current);
    BoundOn(0);
}

TEST_F(TextureTest, BindingClampsTheStageToTheDevice) {
    StartEngine(MARLIX_PROFILE_THREE_STAGES);
    ASSERT_EQ(2, ksGlobal.caps.MaxSimultaneous);
    KS_SetTextureStage(3);
    int32_t handle = KS_AddTextureRGBA("stage3", TrackedCopy(MakeImage(8, 8, 4)), 8, 8);
    KS_SetTextureStage(0);
    IDirect3DTexture8* texture = ksTextures[handle].texture;
    ksTextureFrame = 41;
    KSGFX_SelectTexture(handle);
    EXPECT_EQ(texture, BoundOn(1));
    EXPECT_EQ(41, ksTextures[handle].lastUsed);
    ksDraw.passes = 2;  // a method drawn in several passes binds on stage 0
    KSGFX_SelectTexture(handle);
    ksDraw.passes = 1;
    EXPECT_EQ(texture, BoundOn(0));
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE);
    KS_SetTextureStage(1);
    handle = KS_AddTextureRGBA("one", TrackedCopy(MakeImage(8, 8, 4)), 8, 8);
    KS_SetTextureStage(0);
    KSGFX_SelectTexture(handle);
    EXPECT_EQ(ksTextures[handle].texture, BoundOn(0));
}

TEST_F(TextureTest, RenderTexturesAreReleasedAndRestoredAroundAReset) {
    KS_SetTextureStage(1);
    int32_t handle = KS_CreateRenderTexture(3, 64, 32, "mirror");
    KS_SetTextureStage(0);
    const KSRenderTexture& record = ksRenderTextures[3];
    EXPECT_EQ(1, record.inUse);
    EXPECT_EQ(handle, record.texture);
    EXPECT_EQ(1, record.stage);
    ASSERT_NE(nullptr, record.depthSurface);
    D3DSURFACE_DESC desc;
    ksTextures[handle].texture->GetLevelDesc(0, &desc);
    EXPECT_EQ((DWORD)D3DUSAGE_RENDERTARGET, desc.Usage);
    EXPECT_EQ(D3DPOOL_DEFAULT, desc.Pool);

    KS_ReleaseRenderTextures();
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("mirror"));
    EXPECT_EQ(nullptr, record.depthSurface);
    KS_RestoreRenderTextures();
    EXPECT_EQ(handle, KS_FindTexture("MIRROR"));  // the lowest free entry again
    EXPECT_NE(nullptr, ksTextures[handle].texture);
    EXPECT_EQ(1, ksTextures[handle].stage);
    EXPECT_NE(nullptr, record.depthSurface);
    // Freeing the table takes the depth surfaces too (the fixture counts Direct3D objects).
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, MissingTextureIsFatalWhenAsked) {
    ksGlobal.fatalTextureErrors = 1;
    EXPECT_EXIT(KSGFX_LoadTexture("gone.pcx"), ::testing::ExitedWithCode(1), "Cannot open texture");
    ksGlobal.fatalTextureErrors = 0;
}
