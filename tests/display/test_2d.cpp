// The frame buffer in 2D: colour packing, fills with their ordering and clipping, lines, text,
// blocks and images, and the pixel utilities.
#include "display_test.h"

#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const uint32_t kBlack = 0x000000FF;

class Frame2D : public ::testing::Test {
protected:
    KSViewport vp;
    void SetUp() override {
        testAdapter = 0;
        MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
    }
    void TearDown() override { StopEngine(); }
    void Start32() { StartEngine(true, true, 0, 0, &vp); }  // 320 x 240 window, 32-bit desktop
    void Clear(uint32_t colour) {
        KSGFX_SetClip(0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1);
        KSGFX_SetColour(colour);
        KSGFX_ClearScreen();
    }
    // Which pixels of the region differ from `background`, row by row as '#' and '.'.
    std::string Map(int x1, int y1, int x2, int y2, uint32_t background) {
        std::string s;
        KSGFX_LockFrame();
        uint32_t bg = KS_PackColour(background);
        for (int y = y1; y <= y2; y++) {
            for (int x = x1; x <= x2; x++) s += FramePixel(x, y) == bg ? '.' : '#';
            s += '\n';
        }
        KSGFX_UnlockFrame();
        return s;
    }
    uint32_t Pixel(int x, int y) {
        KSGFX_LockFrame();
        uint32_t p = FramePixel(x, y);
        KSGFX_UnlockFrame();
        return p;
    }
};

TEST(Colour, MakeColourPacksRedGreenBlueAndOpaqueAlpha) {
    EXPECT_EQ(0xFF0000FFu, KS_MakeColourD3D(255, 0, 0));
    EXPECT_EQ(0x00FF00FFu, KS_MakeColourD3D(0, 255, 0));
    EXPECT_EQ(0x0000FFFFu, KS_MakeColourD3D(0, 0, 255));
    EXPECT_EQ(0x102030FFu, KS_MakeColourD3D(0x10, 0x20, 0x30));
}

TEST_F(Frame2D, FillRectOrdersItsCorners) {
    Start32();
    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 255));
    KSGFX_FillRect(10, 10, 5, 5);
    std::string reversed = Map(0, 0, 15, 15, kBlack);
    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 255));
    KSGFX_FillRect(5, 5, 10, 10);
    EXPECT_EQ(reversed, Map(0, 0, 15, 15, kBlack));
    EXPECT_EQ(0xFFFFFFu, Pixel(5, 5) & 0xFFFFFF);
    EXPECT_EQ(0xFFFFFFu, Pixel(10, 10) & 0xFFFFFF);
    EXPECT_EQ(0u, Pixel(11, 10) & 0xFFFFFF);
    EXPECT_EQ(0u, Pixel(4, 5) & 0xFFFFFF);
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 255));
    KSGFX_FillRect(10, 5, 5, 10);  // one pair reversed only
    EXPECT_EQ(reversed, Map(0, 0, 15, 15, kBlack));
}

TEST_F(Frame2D, FillRectKeepsInsideTheClipRectangle) {
    Start32();
    Clear(kBlack);
    KSGFX_SetClip(4, 2, 7, 5);
    KSGFX_SetColour(KSGFX_MakeColour(0, 0, 255));
    KSGFX_FillRect(-100, -100, 100, 100);
    KSGFX_FillRect(20, 20, 30, 30);  // wholly outside: nothing
    KSGFX_FillRect(8, 0, 9, 9);      // just right of it: nothing
    KSGFX_SetClip(0, 0, 319, 239);
    EXPECT_EQ("..........\n"
              "..........\n"
              "....####..\n"
              "....####..\n"
              "....####..\n"
              "....####..\n"
              "..........\n",
              Map(0, 0, 9, 6, kBlack));
    EXPECT_EQ("...\n", Map(19, 25, 21, 25, kBlack));
}

TEST_F(Frame2D, OutlinesAndLines) {
    Start32();
    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 0));
    KSGFX_DrawRect(1, 1, 6, 4);
    KSGFX_DrawHLine(8, 11, 1);
    KSGFX_DrawVLine(13, 4, 1);
    EXPECT_EQ("..............\n"
              ".######.####.#\n"
              ".#....#......#\n"
              ".#....#......#\n"
              ".######......#\n"
              "..............\n",
              Map(0, 0, 13, 5, kBlack));

    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(255, 255, 0));
    KSGFX_DrawLine(0, 0, 7, 3);
    KSGFX_DrawLine(9, 4, 9, 4);  // one pixel
    KSGFX_DrawLine(3, 5, 0, 8);  // right to left, 45 degrees
    // The minor axis steps when the accumulated minor delta reaches the major count: 3/7 steps
    // after the third, fifth and seventh pixel.
    EXPECT_EQ("###.......\n"
              "...##.....\n"
              ".....##...\n"
              ".......#..\n"
              ".........#\n"
              "...#......\n"
              "..#.......\n"
              ".#........\n"
              "#.........\n",
              Map(0, 0, 9, 8, kBlack));
}

TEST_F(Frame2D, LineLeavingTheSurfaceDrawsOnlyItsInside) {
    Start32();
    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(255, 0, 255));
    KSGFX_DrawLine(-5, 2, 4, 2);
    KSGFX_DrawLine(315, 100, 5000, 100);
    EXPECT_EQ("#####.\n", Map(0, 2, 5, 2, kBlack));
    EXPECT_EQ(".#####\n", Map(314, 100, 319, 100, kBlack));
}

TEST_F(Frame2D, PureRedOnASixteenBitScreen) {
    InitEngine(false, false);
    SetModeAndViewport(640, 480, &vp);
    ASSERT_EQ(D3DFMT_R5G6B5, ksGlobal.backBufferFormat);
    EXPECT_EQ(11, ksGlobal.pixelFormat.redShift);
    EXPECT_EQ(3, ksGlobal.pixelFormat.redLoss);
    EXPECT_EQ(2, ksGlobal.pixelFormat.greenLoss);
    KSGFX_SetColour(KSGFX_MakeColour(255, 0, 0));
    KSGFX_FillRect(0, 0, 9, 9);
    KSGFX_DrawLine(0, 20, 9, 20);
    KSGFX_SetColour(KSGFX_MakeColour(0, 255, 0));
    KSGFX_FillRect(20, 0, 29, 9);
    ASSERT_NE(nullptr, KSGFX_LockFrame());
    EXPECT_EQ(2, ksGlobal.drawBytesPerPixel);
    EXPECT_EQ(0xF800u, FramePixel(5, 5));
    EXPECT_EQ(0xF800u, FramePixel(5, 20));
    EXPECT_EQ(0x07E0u, FramePixel(25, 5));
    KSGFX_UnlockFrame();

    IDirect3DSurface8* s = KS_CreateSurface(4, 4, D3DFMT_X1R5G5B5);
    ASSERT_NE(nullptr, s);
    KS_ReadPixelFormat(s);
    EXPECT_EQ(0x7C00u, KS_PackColour(KSGFX_MakeColour(255, 0, 0)));
    EXPECT_EQ(0x03E0u, KS_PackColour(KSGFX_MakeColour(0, 255, 0)));
    KS_ReleaseSurface(s);
}

// A 24-bit drawing surface takes three bytes a pixel, blue first, and nothing beside them.
TEST_F(Frame2D, TwentyFourBitSurfacesGetEveryPixelDrawn) {
    Start32();
    IDirect3DSurface8* s = KS_CreateSurface(6, 2, D3DFMT_R8G8B8);
    ASSERT_NE(nullptr, s);
    int pitch;
    uint8_t* bits = (uint8_t*)KS_LockSurface(s, &pitch);
    for (int y = 0; y < 2; y++) memset(bits + y * pitch, 0xAA, 18);
    KS_UnlockSurface(s);
    KS_SetDrawSurface(s);
    KS_ReadPixelFormat(s);
    EXPECT_EQ(3, ksGlobal.drawBytesPerPixel);
    KSGFX_SetColour(KSGFX_MakeColour(0x10, 0x20, 0x30));
    KSGFX_LockFrame();
    KSGFX_DrawLine(1, 0, 4, 0);
    std::vector<uint8_t> row0(ksGlobal.framePointer, ksGlobal.framePointer + 18);
    std::vector<uint8_t> row1(ksGlobal.framePointer + pitch, ksGlobal.framePointer + pitch + 18);
    KSGFX_UnlockFrame();
    const std::vector<uint8_t> drawn = {0xAA, 0xAA, 0xAA, 0x30, 0x20, 0x10, 0x30, 0x20, 0x10,
                                        0x30, 0x20, 0x10, 0x30, 0x20, 0x10, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(drawn, row0);
    EXPECT_EQ(std::vector<uint8_t>(18, 0xAA), row1);
    KS_SetDrawSurface(ksGlobal.backBuffer);
    KS_ReadPixelFormat(ksGlobal.backBuffer);
    KS_ReleaseSurface(s);
}

// The built-in glyph of a code as '#' (ink) and '.' rows.
std::string GlyphMap(int code) {
    KSBitmapGlyph g;
    EXPECT_TRUE(KS_GetBitmapGlyph(KS_BuiltinBitmapFont(), code, &g));
    std::string s;
    for (int y = 0; y < g.height; y++) {
        for (int x = 0; x < g.width; x++) s += (g.rows[y] & (0x80 >> x)) ? '#' : '.';
        s += '\n';
    }
    return s;
}

TEST_F(Frame2D, TextModesDrawInkPaperOrBoth) {
    Start32();
    uint32_t blue = KSGFX_MakeColour(0, 0, 255), white = KSGFX_MakeColour(255, 255, 255),
             green = KSGFX_MakeColour(0, 255, 0);
    std::string a = GlyphMap('A');
    ASSERT_NE(std::string::npos, a.find('#'));

    // Mode 0: ink only, the background shows between the glyph's pixels.
    Clear(blue);
    KS_SetTextColours(white, green, 0);
    KSGFX_DrawString(10, 10, "A");
    EXPECT_EQ(a, Map(10, 10, 17, 17, blue));
    KSGFX_LockFrame();
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(a[y * 9 + x] == '#' ? KS_PackColour(white) : KS_PackColour(blue), FramePixel(10 + x, 10 + y));
    KSGFX_UnlockFrame();

    // Mode 1: paper only.
    Clear(blue);
    KS_SetTextColours(white, green, 1);
    KSGFX_DrawString(10, 10, "A");
    std::string inverse = a;
    for (char& c : inverse)
        if (c != '\n') c = c == '#' ? '.' : '#';
    EXPECT_EQ(inverse, Map(10, 10, 17, 17, blue));

    // Any other mode: both.
    Clear(blue);
    KS_SetTextColours(white, green, 2);
    KSGFX_DrawString(10, 10, "A");
    EXPECT_EQ(std::string(8, '#') + "\n", Map(10, 10, 17, 10, blue));
}

TEST_F(Frame2D, TextAdvancesByGlyphWidthAndClips) {
    Start32();
    uint32_t white = KSGFX_MakeColour(255, 255, 255);
    Clear(kBlack);
    KS_SetTextColours(white, kBlack, 0);
    KSGFX_DrawString(20, 30, "AB");
    EXPECT_EQ(36, ksGlobal.textX);
    EXPECT_EQ(GlyphMap('B'), Map(28, 30, 35, 37, kBlack));

    // 32-bit screens draw codes 0..127 only; others draw nothing and do not advance.
    Clear(kBlack);
    KSGFX_DrawString(20, 30, "\x80\xC1" "B");
    EXPECT_EQ(28, ksGlobal.textX);
    EXPECT_EQ(GlyphMap('B'), Map(20, 30, 27, 37, kBlack));

    // Clipped at the left and the top: the visible part keeps its place.
    Clear(kBlack);
    std::string a = GlyphMap('A');
    KSGFX_SetClip(23, 33, 319, 239);
    KSGFX_DrawString(20, 30, "A");
    KSGFX_SetClip(0, 0, 319, 239);
    std::string expected;
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) expected += (y >= 3 && x >= 3) ? a[y * 9 + x] : '.';
        expected += '\n';
    }
    EXPECT_EQ(expected, Map(20, 30, 27, 37, kBlack));

    // At the edge of the surface nothing is written outside it.
    KSGFX_DrawString(316, 236, "AAA");
    EXPECT_EQ(340, ksGlobal.textX);
}

TEST_F(Frame2D, TextOfALoadedFont) {
    Start32();
    // Two glyphs: code 0 is 10 x 2 (two bytes a row), code 1 is 3 x 1.
    std::vector<uint8_t> f(KS_BITMAPFONT_MAGIC, KS_BITMAPFONT_MAGIC + KS_BITMAPFONT_MAGIC_SIZE);
    f.push_back(0);
    f.push_back(0);
    uint16_t g0 = (uint16_t)f.size();
    uint8_t r0[] = {10, 0, 2, 0, 0xC0, 0x40, 0x80, 0xC0};
    f.insert(f.end(), r0, r0 + sizeof(r0));
    uint16_t g1 = (uint16_t)f.size();
    uint8_t r1[] = {3, 0, 1, 0, 0xA0};
    f.insert(f.end(), r1, r1 + sizeof(r1));
    uint16_t table = (uint16_t)f.size();
    f[15] = (uint8_t)table;
    f[16] = (uint8_t)(table >> 8);
    f.push_back((uint8_t)g0);
    f.push_back((uint8_t)(g0 >> 8));
    f.push_back((uint8_t)g1);
    f.push_back((uint8_t)(g1 >> 8));
    KSBitmapFont* font = KS_MakeBitmapFont(f.data(), (int32_t)f.size());
    ASSERT_NE(nullptr, font);
    EXPECT_EQ(2, font->glyphCount);

    Clear(kBlack);
    KS_SetBitmapFont(font);
    KS_SetTextColours(KSGFX_MakeColour(255, 255, 255), kBlack, 0);
    KSGFX_DrawString(0, 0, "\x01\x01\x02");  // code 2 has no glyph
    EXPECT_EQ(6, ksGlobal.textX);
    EXPECT_EQ("#.##.#\n", Map(0, 0, 5, 0, kBlack));
    // Code 0 ends the string, so draw it with the glyph routine.
    Clear(kBlack);
    KSGFX_LockFrame();
    EXPECT_EQ(10, KS_DrawGlyph(0, 0, 0));
    KSGFX_UnlockFrame();
    EXPECT_EQ("##.......#\n"
              "#.......##\n",
              Map(0, 0, 9, 1, kBlack));
    KS_FreeBitmapFont(font);
    EXPECT_EQ(nullptr, ksGlobal.bitmapFont);
}

TEST(BitmapFont, BuiltInLayout) {
    const KSBitmapFont* f = KS_BuiltinBitmapFont();
    EXPECT_EQ(1809, f->size);
    EXPECT_EQ(0, memcmp(f->data, "ZUK Font File  ", 15));
    EXPECT_EQ(1553, f->data[15] | (f->data[16] << 8));
    EXPECT_EQ(128, f->glyphCount);
    int entry65 = f->data[1553 + 130] | (f->data[1553 + 131] << 8);
    EXPECT_EQ(797, entry65);
    KSBitmapGlyph g;
    for (int c = 0; c < 128; c++) {
        ASSERT_TRUE(KS_GetBitmapGlyph(f, c, &g)) << c;
        EXPECT_EQ(8, g.width);
        EXPECT_EQ(8, g.height);
    }
    EXPECT_FALSE(KS_GetBitmapGlyph(f, 128, &g));
    EXPECT_FALSE(KS_GetBitmapGlyph(f, -1, &g));
    EXPECT_EQ(std::string(64, '.'), [] {
        std::string s = GlyphMap(' ');
        s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
        return s;
    }());
}

TEST(BitmapFont, RejectsDamagedFiles) {
    const KSBitmapFont* good = KS_BuiltinBitmapFont();
    std::vector<uint8_t> f(good->data, good->data + good->size);
    EXPECT_EQ(nullptr, KS_MakeBitmapFont(f.data(), 16));
    std::vector<uint8_t> bad = f;
    bad[0] = 'X';
    EXPECT_EQ(nullptr, KS_MakeBitmapFont(bad.data(), (int32_t)bad.size()));
    bad = f;
    bad[15] = 0xFF;
    bad[16] = 0xFF;  // table beyond the end
    EXPECT_EQ(nullptr, KS_MakeBitmapFont(bad.data(), (int32_t)bad.size()));

    KS_MemoryInit();
    bad = f;
    bad[17] = 65;  // glyph 0 wider than 64
    int last = 1553 + 2 * 127;
    bad[last] = 0xF0;  // glyph 127's record beyond the end
    bad[last + 1] = 0x06;
    KSBitmapFont* font = KS_MakeBitmapFont(bad.data(), (int32_t)bad.size());
    ASSERT_NE(nullptr, font);
    KSBitmapGlyph g;
    EXPECT_FALSE(KS_GetBitmapGlyph(font, 0, &g));
    EXPECT_FALSE(KS_GetBitmapGlyph(font, 127, &g));
    EXPECT_TRUE(KS_GetBitmapGlyph(font, 65, &g));
    // A table cut short: codes past the end have no glyph.
    KSBitmapFont* cut = KS_MakeBitmapFont(f.data(), 1553 + 20);
    ASSERT_NE(nullptr, cut);
    EXPECT_EQ(10, cut->glyphCount);
    EXPECT_FALSE(KS_GetBitmapGlyph(cut, 10, &g));
    KS_FreeBitmapFont(cut);
    KS_FreeBitmapFont(font);
    EXPECT_EQ(0, KS_MemoryBlockCount());
    KS_MemoryShutdown();
}

TEST_F(Frame2D, BlocksCopyScreenRectangles) {
    Start32();
    Clear(kBlack);
    KSGFX_SetColour(KSGFX_MakeColour(200, 100, 50));
    KSGFX_FillRect(2, 2, 5, 3);
    IDirect3DSurface8* out = nullptr;
    IDirect3DSurface8* block = KSGFX_GetBlock(7, 5, 0, 0, &out);  // corners in any order
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(block, out);
    EXPECT_EQ(8, KS_SurfaceWidth(block));
    EXPECT_EQ(6, KS_SurfaceHeight(block));
    KSGFX_PutBlock(100, 50, block);
    EXPECT_EQ(Map(0, 0, 7, 5, kBlack), Map(100, 50, 107, 55, kBlack));
    EXPECT_EQ(Pixel(3, 3), Pixel(103, 53));
    // Partly off the screen: the visible part lands.
    KSGFX_PutBlock(316, 236, block);
    EXPECT_EQ(Pixel(3, 3), Pixel(319, 239));
    KS_ReleaseSurface(block);
    EXPECT_EQ(0, KS_SurfaceWidth(nullptr));
    EXPECT_EQ(nullptr, KS_CreateSurface(0, 4, D3DFMT_X8R8G8B8));
    EXPECT_EQ(nullptr, KS_CreateSurface(4, -1, D3DFMT_X8R8G8B8));
}

TEST_F(Frame2D, PalettisedImagesGoThroughThePalette) {
    Start32();
    Clear(kBlack);
    IDirect3DSurface8* image = KS_CreateSurface(3, 2, D3DFMT_P8);
    ASSERT_NE(nullptr, image);
    int pitch = 0;
    uint8_t* p = (uint8_t*)KS_LockSurface(image, &pitch);
    ASSERT_NE(nullptr, p);
    uint8_t idx[2][3] = {{0, 1, 2}, {2, 0, 1}};
    for (int y = 0; y < 2; y++) memcpy(p + y * pitch, idx[y], 3);
    KS_UnlockSurface(image);
    uint8_t palette[768] = {0};
    palette[0] = 63;  // index 0 is red, but transparent
    palette[3 + 1] = 63;  // 1: green (6-bit values, times 4)
    palette[6 + 2] = 32;  // 2: blue 128

    KSGFX_PutBitmap8(10, 10, image, palette, 1);
    EXPECT_EQ(0u, Pixel(10, 10) & 0xFFFFFF);
    EXPECT_EQ(0x00FC00u, Pixel(11, 10) & 0xFFFFFF);
    EXPECT_EQ(0x000080u, Pixel(12, 10) & 0xFFFFFF);
    EXPECT_EQ(0u, Pixel(11, 11) & 0xFFFFFF);
    KSGFX_PutBitmap8(10, 20, image, palette, 0);
    EXPECT_EQ(0xFC0000u, Pixel(10, 20) & 0xFFFFFF);
    // Clipped to the clip rectangle.
    KSGFX_SetClip(0, 0, 30, 30);
    KSGFX_PutBitmap8(29, 30, image, palette, 0);
    KSGFX_SetClip(0, 0, 319, 239);
    EXPECT_EQ(0xFC0000u, Pixel(29, 30) & 0xFFFFFF);
    EXPECT_EQ(0x00FC00u, Pixel(30, 30) & 0xFFFFFF);
    EXPECT_EQ(0u, Pixel(31, 30) & 0xFFFFFF);
    EXPECT_EQ(0u, Pixel(29, 31) & 0xFFFFFF);
    KS_ReleaseSurface(image);
}

TEST_F(Frame2D, ThirtyTwoBitImagesSkipBlackWhenTransparent) {
    Start32();
    Clear(KSGFX_MakeColour(9, 9, 9));
    // Blue, green, red, unused per pixel.
    uint8_t pixels[2 * 2 * 4] = {0, 0, 255, 7, 0, 0, 0, 0, 10, 20, 30, 0, 255, 255, 255, 0};
    KSGFX_PutBitmap32(5, 5, pixels, 2, 2, 1);
    EXPECT_EQ(0xFF0000u, Pixel(5, 5) & 0xFFFFFF);
    EXPECT_EQ(0x090909u, Pixel(6, 5) & 0xFFFFFF);
    EXPECT_EQ(0x1E140Au, Pixel(5, 6) & 0xFFFFFF);
    KSGFX_PutBitmap32(5, 5, pixels, 2, 2, 0);
    EXPECT_EQ(0u, Pixel(6, 5) & 0xFFFFFF);
}

TEST_F(Frame2D, ScaleBlockStretchesIntoAnEightBitSurface) {
    Start32();
    IDirect3DSurface8* src = KS_CreateSurface(2, 2, D3DFMT_P8);
    IDirect3DSurface8* dst = KS_CreateSurface(4, 4, D3DFMT_P8);
    ASSERT_TRUE(src && dst);
    int pitch;
    uint8_t* s = (uint8_t*)KS_LockSurface(src, &pitch);
    s[0] = 1, s[1] = 2, s[pitch] = 0, s[pitch + 1] = 4;
    KS_UnlockSurface(src);
    uint8_t* d = (uint8_t*)KS_LockSurface(dst, &pitch);
    for (int y = 0; y < 4; y++) memset(d + y * pitch, 9, 4);
    KS_UnlockSurface(dst);

    KS_SetDrawSurface(dst);
    KSGFX_LockFrame();
    KS_ScaleBlock(0, 0, 3, 3, src, 1);
    std::string got;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) got += (char)('0' + FramePixel(x, y) % 256);
    KSGFX_UnlockFrame();
    EXPECT_EQ("1122" "1122" "9944" "9944", got);  // source 0 is transparent
    KS_SetDrawSurface(ksGlobal.backBuffer);
    KS_ReleaseSurface(src);
    KS_ReleaseSurface(dst);
}

TEST_F(Frame2D, TextureQuadsMapTheTextureOverTheRectangle) {
    Start32();
    KSGFX_AllocTextures(4);
    // 8 x 8: red on the left half, blue on the right.
    uint8_t* rgba = (uint8_t*)KS_Alloc(8 * 8 * 4, "test", 0);
    for (int i = 0; i < 64; i++) {
        bool left = (i % 8) < 4;
        rgba[i * 4] = left ? 255 : 0, rgba[i * 4 + 1] = 0, rgba[i * 4 + 2] = left ? 0 : 255, rgba[i * 4 + 3] = 255;
    }
    KS_SetTextureStage(0);
    int32_t texture = KS_AddTextureRGBA("halves", rgba, 8, 8);
    ASSERT_GE(texture, 0);
    KS_SetTextureFiltering(0, 0);
    Clear(kBlack);

    IDirect3DDevice8* dev = ksGlobal.device;
    dev->BeginScene();
    KSGFX_DrawTextureRect(20, 20, 51, 51, texture, 0);
    KSGFX_SetClip(0, 0, 35, 239);  // right half clipped away
    KSGFX_DrawTextureRect(20, 60, 51, 91, texture, 0);
    KSGFX_SetClip(36, 0, 319, 239);  // left half clipped away: the rest keeps its coordinates
    KSGFX_DrawTextureRect(20, 100, 51, 131, texture, 0);
    KSGFX_SetClip(200, 200, 319, 239);  // wholly outside: nothing
    KSGFX_DrawTextureRect(20, 140, 51, 171, texture, 0);
    KSGFX_SetClip(0, 0, 319, 239);
    KSGFX_DrawTexture(100, 20, texture, 0);  // at the texture's own size
    dev->EndScene();

    const uint32_t red = 0xFF0000, blue = 0x0000FF;
    EXPECT_EQ(red, Pixel(24, 35));
    EXPECT_EQ(blue, Pixel(47, 35));
    EXPECT_EQ(0u, Pixel(19, 35));
    EXPECT_EQ(0u, Pixel(52, 35));
    EXPECT_EQ(0u, Pixel(30, 52));
    EXPECT_EQ(red, Pixel(24, 75));
    EXPECT_EQ(0u, Pixel(40, 75));
    EXPECT_EQ(0u, Pixel(30, 115));
    EXPECT_EQ(blue, Pixel(40, 115));
    EXPECT_EQ(blue, Pixel(47, 115));
    EXPECT_EQ(0u, Pixel(30, 155));
    EXPECT_EQ(red, Pixel(101, 24));
    EXPECT_EQ(blue, Pixel(106, 24));
    EXPECT_EQ(0u, Pixel(108, 24));
    EXPECT_EQ(-1, ksGlobal.cachedMethod);
    KSGFX_FreeTextures();
}

TEST(PixelUtilities, ResizeSamplesNearestWithFixedPointSteps) {
    KS_MemoryInit();
    uint32_t row4[4] = {10, 11, 12, 13};
    uint32_t* out = KS_ResizePixels(3, 1, row4, 4, 1);
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(10u, out[0]);
    EXPECT_EQ(11u, out[1]);
    EXPECT_EQ(12u, out[2]);
    KS_Free(out, "test", 0);

    uint32_t sq[4] = {1, 2, 3, 4};
    out = KS_ResizePixels(4, 4, sq, 2, 2);
    ASSERT_NE(nullptr, out);
    uint32_t expected[16] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
    EXPECT_EQ(0, memcmp(expected, out, sizeof(expected)));
    KS_Free(out, "test", 0);

    uint32_t row3[3] = {5, 6, 7};
    out = KS_ResizePixels(2, 1, row3, 3, 1);  // step 1.5: pixels 0 and 1
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(5u, out[0]);
    EXPECT_EQ(6u, out[1]);
    KS_Free(out, "test", 0);

    EXPECT_EQ(nullptr, KS_ResizePixels(2, 2, nullptr, 2, 2));
    EXPECT_EQ(nullptr, KS_ResizePixels(0, 2, sq, 2, 2));
    EXPECT_EQ(0, KS_MemoryBlockCount());
    KS_MemoryShutdown();
}

TEST(PixelUtilities, NearestPaletteEntryFirstOneWins) {
    KS_InitMath();
    uint8_t palette[768];
    memset(palette, 255, sizeof(palette));
    palette[3 * 7 + 0] = 100, palette[3 * 7 + 1] = 0, palette[3 * 7 + 2] = 0;
    palette[3 * 9 + 0] = 100, palette[3 * 9 + 1] = 0, palette[3 * 9 + 2] = 0;
    palette[3 * 200 + 0] = 0, palette[3 * 200 + 1] = 0, palette[3 * 200 + 2] = 10;
    EXPECT_EQ(7, KS_NearestPaletteIndex(90, 0, 0, palette));
    EXPECT_EQ(200, KS_NearestPaletteIndex(0, 0, 0, palette));
    EXPECT_EQ(0, KS_NearestPaletteIndex(250, 250, 250, palette));
}

}  // namespace
