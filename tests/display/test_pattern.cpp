// The 2D test pattern: fills, outlines, lines and bitmap-font text drawn into a window through the
// engine's start-up calls, presented, checked at known pixels and written as display_pattern.png
// in the working directory.
#include "display_test.h"
#include "test_common.h"

#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

const int kWidth = 400, kHeight = 300;

struct Bar {
    int r, g, b;
};
const Bar kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

void DrawPattern() {
    KSGFX_SetColour(KSGFX_MakeColour(16, 24, 64));
    KSGFX_ClearScreen();

    // Colour bars along the top.
    for (int i = 0; i < 8; i++) {
        KSGFX_SetColour(KSGFX_MakeColour(kBars[i].r, kBars[i].g, kBars[i].b));
        KSGFX_FillRect(i * 50, 0, i * 50 + 49, 39);
    }

    // Nested outlines, the inner ones filled.
    for (int i = 0; i < 6; i++) {
        KSGFX_SetColour(KSGFX_MakeColour(255 - i * 40, 80 + i * 30, i * 45));
        KSGFX_DrawRect(10 + i * 6, 50 + i * 6, 150 - i * 6, 170 - i * 6);
    }
    KSGFX_SetColour(KSGFX_MakeColour(240, 240, 240));
    KSGFX_FillRect(60, 100, 100, 120);

    // A fan of lines from one corner of a box, in every octant.
    KSGFX_SetColour(KSGFX_MakeColour(255, 200, 0));
    KSGFX_DrawRect(170, 50, 390, 170);
    for (int i = 0; i <= 10; i++) {
        KSGFX_DrawLine(280, 110, 170 + i * 22, 50);
        KSGFX_DrawLine(280, 110, 170 + i * 22, 170);
    }
    KSGFX_DrawLine(280, 110, 170, 80);
    KSGFX_DrawLine(280, 110, 390, 140);

    // Text in the built-in font: ink only, then ink on paper.
    KS_SetTextColours(KSGFX_MakeColour(255, 255, 255), 0, 0);
    KSGFX_DrawString(10, 185, "Kestra 2D test pattern");
    KSGFX_DrawString(10, 200, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    KSGFX_DrawString(10, 210, "abcdefghijklmnopqrstuvwxyz 0123456789");
    KSGFX_DrawString(10, 220, "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    KS_SetTextColours(KSGFX_MakeColour(0, 0, 0), KSGFX_MakeColour(255, 255, 0), 2);
    KSGFX_DrawString(10, 235, " ink on paper: mode 2 ");
    KS_SetTextColours(KSGFX_MakeColour(255, 0, 0), 0, 0);
    char symbols[33];
    for (int i = 0; i < 32; i++) symbols[i] = (char)(i == 0 ? ' ' : i);
    symbols[32] = 0;
    KSGFX_DrawString(10, 250, symbols);

    // A 32-bit gradient image.
    std::vector<uint8_t> image(64 * 32 * 4);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) {
            uint8_t* p = &image[(y * 64 + x) * 4];
            p[0] = (uint8_t)(y * 8), p[1] = (uint8_t)(x * 4), p[2] = (uint8_t)(255 - x * 4), p[3] = 0;
        }
    KSGFX_PutBitmap32(320, 260, image.data(), 64, 32, 0);
}

TEST(Pattern, DrawsPresentsAndSavesTheTestPattern) {
    HWND window = MakeTestWindow(kWidth, kHeight);
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    ASSERT_EQ(kWidth, ksGlobal.screenWidth);
    DrawPattern();
    EXPECT_EQ(1, KSGFX_ShowFrame());

    MarlixFrame frame;
    ASSERT_TRUE(MarlixGetFrame(window, &frame));
    ASSERT_EQ(kWidth, frame.width);
    ASSERT_EQ(kHeight, frame.height);
    auto at = [&](int x, int y) { return frame.pixels[y * frame.width + x] & 0xFFFFFF; };
    for (int i = 0; i < 8; i++)
        EXPECT_EQ((uint32_t)(kBars[i].r << 16 | kBars[i].g << 8 | kBars[i].b), at(i * 50 + 25, 20)) << i;
    EXPECT_EQ(0x101840u, at(5, 45));       // background
    EXPECT_EQ(0xFF5000u, at(10, 100));     // outer outline
    EXPECT_EQ(0xF0F0F0u, at(80, 110));     // filled centre
    EXPECT_EQ(0xFFC800u, at(280, 110));    // the fan's centre
    EXPECT_EQ(0xFFC800u, at(170, 50));     // its first line ends on the box corner
    EXPECT_EQ(0xFFFF00u, at(10, 235));     // paper of the mode-2 text
    EXPECT_EQ(0xFF0000u, at(320, 260));    // the image's first pixel
    // Some ink of the first line of text, none above it.
    int ink = 0, above = 0;
    for (int x = 10; x < 10 + 22 * 8; x++) {
        for (int y = 185; y < 193; y++) ink += at(x, y) == 0xFFFFFF;
        above += at(x, 183) != 0x101840u;
    }
    EXPECT_GT(ink, 100);
    EXPECT_EQ(0, above);

    EXPECT_TRUE(WriteTestPng("display_pattern.png", frame.pixels, frame.width, frame.height, frame.width * 4));
    EXPECT_EQ(0, StopEngine());
}

}  // namespace
