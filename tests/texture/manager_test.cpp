// The texture manager: the table and its growth, lookup and deletion, size fitting and mipmap
// counts, the creation paths, binding to stages, palettes and render textures.
#include "texture_test.h"

#include <stdio.h>
#include <string.h>

namespace {

// An entry made without a Direct3D texture, for the table mechanics.
int32_t AddEmpty(const char* name, int32_t width = 1) {
    return KS_AddTextureDDS(name, nullptr, width, 1);
}

uint8_t* TrackedCopy(const Image32& image) {
    uint8_t* buffer = (uint8_t*)KS_Alloc((int32_t)image.rgba.size(), "test", __LINE__);
    memcpy(buffer, image.rgba.data(), image.rgba.size());
    return buffer;
}

Image8 Checker(int width, int height) {
    Image8 image = MakeImage8(width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) image.at(x, y) = (uint8_t)(((x / 4 + y / 4) & 1) ? 1 : 2);
    image.palette[3] = 252;  // 1: red (63, 0, 0) after the loader's shift
    image.palette[8] = 252;  // 2: blue
    return image;
}

IDirect3DBaseTexture8* BoundOn(int stage) {
    IDirect3DBaseTexture8* texture = nullptr;
    ksGlobal.device->GetTexture((DWORD)stage, &texture);
    if (texture) texture->Release();
    return texture;
}

}  // namespace

TEST_F(TextureTest, TableGrowsByAHundredKeepingItsEntries) {
    KSGFX_AllocTextures(3);
    EXPECT_EQ(3, ksTextureCount);
    EXPECT_EQ(0, AddEmpty("a", 10));
    EXPECT_EQ(1, AddEmpty("b", 11));
    EXPECT_EQ(2, AddEmpty("c", 12));
    EXPECT_EQ(3, AddEmpty("d", 13));  // full: the first new entry
    EXPECT_EQ(103, ksTextureCount);
    EXPECT_STREQ("a", ksTextures[0].name);
    EXPECT_EQ(12, ksTextures[2].width);
    EXPECT_EQ(nullptr, ksTextures[4].name);
    EXPECT_EQ(4, AddEmpty("e"));
    // An add with no table at all starts one.
    KSGFX_FreeTextures();
    EXPECT_EQ(0, ksTextureCount);
    EXPECT_EQ(0, AddEmpty("first"));
    EXPECT_EQ(100, ksTextureCount);
}

TEST_F(TextureTest, LookupIgnoresCaseAndDeletedHandlesAreReusedLowestFirst) {
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("none"));
    int32_t a = AddEmpty("Wall.PCX"), b = AddEmpty("floor.tga"), c = AddEmpty("sky.jpg");
    EXPECT_EQ(a, KS_FindTexture("wall.pcx"));
    EXPECT_EQ(c, KS_FindTexture("SKY.JPG"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("sky.jp"));
    EXPECT_EQ(KSERR_TEXTURE_DELETED, KS_DeleteTexture("FLOOR.TGA"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_DeleteTexture("floor.tga"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_DeleteTexture(nullptr));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("floor.tga"));
    EXPECT_EQ(KSERR_TEXTURE_DELETED, KS_DeleteTexture("wall.pcx"));
    EXPECT_EQ(a, AddEmpty("new1"));
    EXPECT_EQ(b, AddEmpty("new2"));
    EXPECT_EQ(c + 1, AddEmpty("new3"));
}

TEST_F(TextureTest, SizeFitting) {
    int32_t w, h;
    KSDeviceCaps saved = ksGlobal.caps;
    ksGlobal.caps.Pow2Textures = 0;
    KS_SetMipmapSetting(1);
    KS_FitTextureSize(100, 60, 0, &w, &h);
    EXPECT_EQ(100, w);
    EXPECT_EQ(60, h);
    ksGlobal.caps.Pow2Textures = 1;
    ksGlobal.caps.MaxTextureWidth = ksGlobal.caps.MaxTextureHeight = 2048;
    KS_FitTextureSize(100, 60, 0, &w, &h);
    EXPECT_EQ(128, w);
    EXPECT_EQ(64, h);
    KS_FitTextureSize(3000, 10, 0, &w, &h);
    EXPECT_EQ(2048, w);
    EXPECT_EQ(16, h);
    KS_FitTextureSize(3, 128, 1, &w, &h);
    EXPECT_EQ(8, w);  // never below 8
    EXPECT_EQ(128, h);
    ksGlobal.caps.SquareTexture = 1;
    KS_FitTextureSize(100, 60, 0, &w, &h);
    EXPECT_EQ(128, w);
    EXPECT_EQ(128, h);
    ksGlobal.caps.SquareTexture = 0;
    // Without a maximum, surfaces fit against 2048 and buffers keep their size.
    ksGlobal.caps.MaxTextureWidth = 0;
    KS_FitTextureSize(3000, 10, 0, &w, &h);
    EXPECT_EQ(2048, w);
    KS_FitTextureSize(3000, 10, 1, &w, &h);
    EXPECT_EQ(3000, w);
    EXPECT_EQ(10, h);
    // Any mipmap setting but 1 fits even without the power-of-two requirement.
    ksGlobal.caps = saved;
    ksGlobal.caps.Pow2Textures = 0;
    KS_SetMipmapSetting(-1);
    KS_FitTextureSize(100, 60, 0, &w, &h);
    EXPECT_EQ(128, w);
    ksGlobal.caps = saved;
    KS_SetMipmapSetting(0);
}

TEST_F(TextureTest, MipmapCounts) {
    KS_SetMipmapSetting(-1);
    EXPECT_EQ(5, KS_CountMipLevels(256, 256));
    EXPECT_EQ(5, KS_CountMipLevels(2048, 2048));
    EXPECT_EQ(2, KS_CountMipLevels(16, 16));
    EXPECT_EQ(1, KS_CountMipLevels(8, 8));
    EXPECT_EQ(1, KS_CountMipLevels(256, 8));
    KS_SetMipmapSetting(3);
    EXPECT_EQ(3, KS_CountMipLevels(64, 64));
    KS_SetMipmapSetting(0);
    EXPECT_EQ(1, KS_CountMipLevels(64, 64));

    // The created texture carries that many levels, each a reduction of the image.
    KS_SetMipmapSetting(-1);
    Image32 image = MakeImage32(64, 64);
    for (int i = 0; i < 64 * 64; i++) {
        image.rgba[i * 4] = (uint8_t)((i % 64) < 32 ? 255 : 0);
        image.rgba[i * 4 + 3] = 255;
    }
    KS_SetTextureFormat(16);
    int32_t handle = KS_AddTextureRGBA("levels", TrackedCopy(image), 64, 64);
    ASSERT_GE(handle, 0);
    IDirect3DTexture8* texture = ksTextures[handle].texture;
    EXPECT_EQ(4u, texture->GetLevelCount());
    int w, h;
    std::vector<uint32_t> level3 = TextureTexels(texture, 3, &w, &h, nullptr);
    EXPECT_EQ(8, w);
    EXPECT_EQ(0xFFFF0000u, level3[0]);
    EXPECT_EQ(0xFF000000u, level3[7]);
    KS_SetTextureFormat(0);
    KS_SetMipmapSetting(0);
}

TEST_F(TextureTest, BuffersAndSurfacesAreResampledToTheFittedSize) {
    Image32 image = MakeImage32(100, 60);
    for (int y = 0; y < 60; y++)
        for (int x = 0; x < 100; x++) image.at(x, y)[0] = (uint8_t)(x < 50 ? 255 : 0);
    KS_SetTextureFormat(16);
    int32_t handle = KS_AddTextureRGBA("rgba", TrackedCopy(image), 100, 60);
    EXPECT_EQ(128, ksTextures[handle].width);
    EXPECT_EQ(64, ksTextures[handle].height);
    float scale = ksTextures[handle].uScale;
    uint32_t bits;
    memcpy(&bits, &scale, 4);
    EXPECT_EQ(0x3B808081u, bits);
    int w, h;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, nullptr);
    EXPECT_EQ(128, w);
    EXPECT_EQ(0x00FF0000u, texels[63] & 0x00FF0000u);  // 63 * 100 / 128 = 49: still left half
    EXPECT_EQ(0u, texels[65] & 0x00FF0000u);           // 65 * 100 / 128 = 50: right half
    KS_SetTextureFormat(0);

    // An 8-bit surface goes through the block scaler; the 2D drawing surface is left as it was.
    IDirect3DSurface8* drawSurface = ksGlobal.drawSurface;
    int16_t clipX2 = ksGlobal.clipX2, clipY2 = ksGlobal.clipY2;
    Image8 picture = Checker(100, 60);
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadPCX(Write("c.pcx", WritePCX(picture)).c_str(), palette);
    memcpy(ksPalette, palette, 768);
    handle = KS_AddTextureD3D("surface", surface);
    EXPECT_EQ(128, ksTextures[handle].width);
    EXPECT_EQ(64, ksTextures[handle].height);
    EXPECT_EQ(drawSurface, ksGlobal.drawSurface);
    EXPECT_EQ(clipX2, ksGlobal.clipX2);
    EXPECT_EQ(clipY2, ksGlobal.clipY2);
    texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, nullptr);
    EXPECT_EQ(0x001Fu, texels[0]);             // (0, 0) is blue in R5G6B5
    EXPECT_EQ(0xF800u, texels[6 * 128 + 0]);   // row 6 maps to row 5: red
}

TEST_F(TextureTest, LoadingByNameUsesTheDirectoryAndReadsAFileOnce) {
    Image32 image = MakeImage32(8, 8);
    for (size_t i = 0; i < image.rgba.size(); i++) image.rgba[i] = 200;
    std::string path = Write("once.tga", WriteTGA(image, 24, false, false));
    KS_SetTextureDirectory((directory + "/").c_str());
    int32_t handle = KSGFX_LoadTexture("once.tga");
    ASSERT_GE(handle, 0);
    EXPECT_NE(nullptr, ksTextures[handle].texture);
    EXPECT_EQ(nullptr, ksTextures[handle].palette);
    remove(path.c_str());
    EXPECT_EQ(handle, KSGFX_LoadTexture("ONCE.TGA"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KSGFX_LoadTexture("missing.tga"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KSGFX_LoadTexture("notes.txt"));
    Write("block.blk", Bytes(16, 0));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KSGFX_LoadTexture("block.blk"));
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("missing.tga"));  // no entry for a failure
    KS_SetTextureDirectory(nullptr);
}

TEST_F(TextureTest, EveryLoaderKindMakesATexture) {
    Image8 picture = Checker(16, 16);
    Image32 colour = MakeImage32(16, 16);
    for (size_t i = 0; i < colour.rgba.size(); i++) colour.rgba[i] = (uint8_t)(i * 3);
    Write("p.pcx", WritePCX(picture));
    Write("l.lbm", WriteIFF(picture, true, 2, true));
    Write("b.bmp", WriteBMP8(picture, 8));
    Write("t.tga", WriteTGA(colour, 32, true, false));
    Write("j.jpg", WriteJPEG(colour));
    Write("d.dds", WriteDDS(16, 16, 2, "DXT3", 0));
    KS_SetTextureDirectory((directory + "/").c_str());
    strcpy(ksErrorLogPath, Path("errors.log").c_str());
    for (const char* name : {"p.pcx", "l.lbm", "b.bmp", "t.tga", "j.jpg", "d.dds"}) {
        memset(ksPalette, 0, sizeof(ksPalette));
        int32_t handle = KSGFX_LoadTexture(name);
        ASSERT_GE(handle, 0) << name;
        EXPECT_NE(nullptr, ksTextures[handle].texture) << name;
        EXPECT_EQ(16, ksTextures[handle].width) << name;
        if (name[0] == 'p' || name[0] == 'l' || name[0] == 'b') {
            EXPECT_EQ(63, ksPalette[3]) << name;  // the picture's palette became the global one
            ASSERT_NE(nullptr, ksTextures[handle].palette);
            EXPECT_EQ(63, ksTextures[handle].palette[3]);
        }
    }
    ksErrorLogPath[0] = 0;
    FILE* f = fopen(Path("errors.log").c_str(), "r");
    ASSERT_NE(nullptr, f);
    char line[512];
    ASSERT_NE(nullptr, fgets(line, sizeof(line), f));
    EXPECT_EQ(directory + "/p.pcx (Loading PCX)\n", line);
    int lines = 1;
    while (fgets(line, sizeof(line), f)) lines++;
    fclose(f);
    EXPECT_EQ(6, lines);
    KS_SetTextureDirectory(nullptr);
}

TEST_F(TextureTest, ColourAndAlphaPairMakesOneTexture) {
    Image8 picture = Checker(8, 8);
    Image8 alpha = MakeImage8(8, 8);
    for (int x = 0; x < 8; x++) alpha.at(x, 0) = (uint8_t)(x * 30);
    Write("c.pcx", WritePCX(picture));
    Write("a.bmp", WriteBMP8(alpha, 8));
    KS_SetTextureDirectory((directory + "/").c_str());
    KS_SetTextureFormat(0);
    KS_SetTextureStage(2);
    int32_t handle = KSGFX_LoadTexture2("c.pcx", "a.bmp");
    ASSERT_GE(handle, 0);
    const KSTexture& entry = ksTextures[handle];
    EXPECT_EQ(nullptr, entry.palette);
    EXPECT_EQ(0, entry.formatCode);
    EXPECT_EQ(2, entry.stage);
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(entry.texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_A4R4G4B4, format);
    EXPECT_EQ(0x000Fu, texels[0]);  // blue, alpha 0
    EXPECT_EQ(0xDF00u, texels[7]);  // red, alpha 210 >> 4
    EXPECT_EQ(0, ksTextureFormatCode);  // the forced class is not left behind
    // A missing alpha picture leaves an empty entry.
    int32_t empty = KSGFX_LoadTexture2("c2.pcx", "none.bmp");
    ASSERT_GE(empty, 0);
    EXPECT_EQ(nullptr, ksTextures[empty].texture);
    KS_SetTextureStage(0);
    KS_SetTextureDirectory(nullptr);
}

TEST_F(TextureTest, PalettisedTexturesUploadTheirPalette) {
    for (int i = 0; i < 256; i++) {
        ksPalette[i * 3] = (uint8_t)(i & 63);
        ksPalette[i * 3 + 1] = 63;
        ksPalette[i * 3 + 2] = 0;
    }
    KS_SetTextureFormat(11);
    uint8_t* bits;
    int32_t pitch;
    IDirect3DSurface8* image = KS_CreateImage8(8, 8, &bits, &pitch);
    bits[1] = 33;
    KS_UnlockSurface(image);
    int32_t handle = KS_AddTextureD3D("pal", image);
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(ksTextures[handle].texture, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_P8, format);
    EXPECT_EQ(33u, texels[1]);
    PALETTEENTRY entries[256];
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetPaletteEntries((UINT)handle, entries));
    EXPECT_EQ(133, entries[33].peRed);  // 33 / 63 * 255, truncated
    EXPECT_EQ(255, entries[33].peGreen);
    // The entry's own palette, times four.
    KSGFX_SetTexturePalette(handle, 0);
    KSGFX_SetTexturePalette(handle, 1);
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetPaletteEntries((UINT)handle, entries));
    EXPECT_EQ(132, entries[33].peRed);
    EXPECT_EQ(252, entries[33].peGreen);
    KSGFX_SelectTexture(handle);
    UINT current = 9999;
    ksGlobal.device->GetCurrentTexturePalette(&current);
    EXPECT_EQ((UINT)handle, current);
    ksGlobal.device->SetTexture(0, nullptr);
    KS_SetTextureFormat(0);
}

TEST_F(TextureTest, BindingClampsTheStageToTheDevice) {
    StartEngine(MARLIX_PROFILE_THREE_STAGES);
    EXPECT_EQ(2, ksGlobal.caps.MaxSimultaneous);
    KS_SetTextureStage(3);
    Image32 image = MakeImage32(8, 8);
    int32_t handle = KS_AddTextureRGBA("stage3", TrackedCopy(image), 8, 8);
    EXPECT_EQ(3, ksTextures[handle].stage);
    ksTextureFrame = 41;
    KSGFX_SelectTexture(handle);
    EXPECT_EQ(ksTextures[handle].texture, BoundOn(1));
    EXPECT_EQ(41, ksTextures[handle].lastUsed);
    ksGlobal.device->SetTexture(1, nullptr);
    // A method with several passes binds on stage 0.
    ksTextureMethodPasses = [] { return (int32_t)2; };
    KSGFX_SelectTexture(handle);
    ksTextureMethodPasses = nullptr;
    EXPECT_EQ(ksTextures[handle].texture, BoundOn(0));
    EXPECT_EQ(nullptr, BoundOn(1));
    ksGlobal.device->SetTexture(0, nullptr);
    KSGFX_SelectTexture(-1);  // nothing
    KSGFX_SelectTexture(ksTextureCount + 5);
    KS_SetTextureStage(0);
}

TEST_F(TextureTest, SingleTextureDevicesBindOnStageZero) {
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE);
    KS_SetTextureStage(1);
    int32_t handle = KS_AddTextureRGBA("one", TrackedCopy(MakeImage32(8, 8)), 8, 8);
    KSGFX_SelectTexture(handle);
    EXPECT_EQ(ksTextures[handle].texture, BoundOn(0));
    ksGlobal.device->SetTexture(0, nullptr);
    KS_SetTextureStage(0);
}

TEST_F(TextureTest, FrameCounterWrapsAndForgetsLastUse) {
    int32_t handle = AddEmpty("x");
    ksTextures[handle].lastUsed = 5;
    ksTextureFrame = 0x7FFFFFFE;
    KS_CountTextureFrame();
    EXPECT_EQ(0, ksTextureFrame);
    EXPECT_EQ(0, ksTextures[handle].lastUsed);
    KS_CountTextureFrame();
    EXPECT_EQ(1, ksTextureFrame);
    ksTextures[handle].residencyA = ksTextures[handle].residencyB = 3;
    KS_ReleaseTexture(handle);
    EXPECT_EQ(0, ksTextures[handle].residencyA);
    EXPECT_EQ(0, ksTextures[handle].residencyB);
}

TEST_F(TextureTest, RenderTexturesAreReleasedAndRestoredAroundAReset) {
    KS_SetTextureStage(1);
    int32_t handle = KS_CreateRenderTexture(3, 64, 32, "mirror");
    KS_SetTextureStage(0);
    ASSERT_GE(handle, 0);
    const KSRenderTexture& record = ksRenderTextures[3];
    EXPECT_EQ(1, record.inUse);
    EXPECT_EQ(handle, record.texture);
    EXPECT_EQ(1, record.stage);
    EXPECT_STREQ("mirror", record.name);
    ASSERT_NE(nullptr, record.depthSurface);
    D3DSURFACE_DESC desc;
    record.depthSurface->GetDesc(&desc);
    EXPECT_EQ(D3DFMT_D16, desc.Format);
    ksTextures[handle].texture->GetLevelDesc(0, &desc);
    EXPECT_EQ((DWORD)D3DUSAGE_RENDERTARGET, desc.Usage);
    EXPECT_EQ(D3DPOOL_DEFAULT, desc.Pool);
    EXPECT_EQ(64u, desc.Width);

    int released = 0, restored = 0;
    static int* releasedCount;
    static int* restoredCount;
    releasedCount = &released;
    restoredCount = &restored;
    ksReleaseShadersHook = [] { (*releasedCount)++; };
    ksRestoreShadersHook = [] { (*restoredCount)++; };
    ksHooks.releaseManagedTextures();
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, KS_FindTexture("mirror"));
    EXPECT_EQ(nullptr, record.depthSurface);
    EXPECT_EQ(1, released);
    ksHooks.restoreManagedTextures();
    EXPECT_EQ(1, restored);
    ksReleaseShadersHook = ksRestoreShadersHook = nullptr;
    int32_t again = KS_FindTexture("MIRROR");
    EXPECT_EQ(handle, again);  // the lowest free entry: the same handle
    EXPECT_NE(nullptr, ksTextures[again].texture);
    EXPECT_EQ(1, ksTextures[again].stage);
    EXPECT_NE(nullptr, record.depthSurface);

    // Release before the engine goes, as a reset would: the depth surfaces are not table entries.
    KS_ReleaseRenderTextures();
    memset(ksRenderTextures, 0, sizeof(ksRenderTextures));
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, MissingTextureIsFatalWhenAsked) {
    ksGlobal.fatalTextureErrors = 1;
    std::string path = Path("gone.pcx");
    KS_SetTextureDirectory((directory + "/").c_str());
    EXPECT_EXIT(KSGFX_LoadTexture("gone.pcx"), ::testing::ExitedWithCode(1), "Cannot open texture");
    ksGlobal.fatalTextureErrors = 0;
    KS_SetTextureDirectory(nullptr);
}
