// Textures loaded from a JPEG, a TGA and a PCX file drawn as screen quads on the software device;
// the presented frame is checked where the pictures are plain and written out as a PNG.
#include "texture_test.h"

#include <stdlib.h>
#include <string.h>

namespace {

void ExpectColour(const MarlixFrame& frame, int x, int y, int r, int g, int b) {
    uint32_t p = frame.pixels[(size_t)y * frame.width + x];
    EXPECT_NEAR(r, (int)(p >> 16 & 0xFF), 24) << x << "," << y;
    EXPECT_NEAR(g, (int)(p >> 8 & 0xFF), 24) << x << "," << y;
    EXPECT_NEAR(b, (int)(p & 0xFF), 24) << x << "," << y;
}

}  // namespace

TEST_F(TextureTest, TexturedQuadsOfAJpegATgaAndAPcx) {
    // Red to green with a blue band below; yellow and dark blue squares of 16; four stripes of
    // palette colours (white, red, green, blue) in a white frame, a red block in the white one.
    Image gradient = MakeImage(64, 64, 4), checker = MakeImage(64, 64, 4), stripes = MakeImage(64, 64, 1);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            const uint8_t g[4] = {(uint8_t)(255 - x * 4), (uint8_t)(x * 4), (uint8_t)(y >= 48 ? 255 : 0), 255};
            bool yellow = ((x / 16 + y / 16) & 1) == 0;
            const uint8_t c[4] = {(uint8_t)(yellow ? 255 : 0), (uint8_t)(yellow ? 220 : 0), (uint8_t)(yellow ? 0 : 128), 255};
            memcpy(gradient.at(x, y), g, 4);
            memcpy(checker.at(x, y), c, 4);
            bool frame = x < 2 || y < 2 || x > 61 || y > 61, block = x >= 6 && x < 10 && y >= 18 && y < 22;
            *stripes.at(x, y) = (uint8_t)(frame ? 1 : block ? 2 : 1 + x / 16);
        }
    const uint8_t colours[15] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    memcpy(stripes.palette.data(), colours, sizeof(colours));
    Write("gradient.jpg", WriteJPEG(gradient, 3));
    Write("checker.tga", WriteTGA(checker, 24, true, false));
    Write("stripes.pcx", WritePCX(stripes));
    KS_SetTextureFormat(16);  // 8 bits a channel, so the frame shows the pictures' own colours
    int32_t jpeg = KSGFX_LoadTexture("gradient.jpg"), tga = KSGFX_LoadTexture("checker.tga");
    KS_SetTextureFormat(0);
    int32_t pcx = KSGFX_LoadTexture("stripes.pcx");
    ASSERT_GE(jpeg, 0);
    ASSERT_GE(tga, 0);
    ASSERT_GE(pcx, 0);

    IDirect3DDevice8* device = ksGlobal.device;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
    ASSERT_EQ(D3D_OK, device->BeginScene());
    KSGFX_DrawTextureRect(8, 40, 103, 135, jpeg, 0);
    KSGFX_DrawTextureRect(112, 40, 207, 135, tga, 0);
    KSGFX_DrawTexture(232, 40, pcx, 0);               // at its own size, 64 x 64
    KSGFX_DrawTextureRect(8, 150, 311, 229, tga, 0);  // stretched wide
    device->EndScene();
    device->SetTexture(0, nullptr);
    KSGFX_ShowFrame();

    MarlixFrame frame;
    ASSERT_TRUE(MarlixGetFrame(window, &frame));
    ASSERT_EQ(320, frame.width);
    const char* out = getenv("MARLIX_TEXTURE_PNG");
    EXPECT_TRUE(WriteTestPng(out ? out : "texture_quads.png", frame.pixels, frame.width, frame.height, frame.width * 4));
    ExpectColour(frame, 4, 4, 0x20, 0x20, 0x20);
    ExpectColour(frame, 12, 60, 250, 5, 0);     // the gradient's red end
    ExpectColour(frame, 99, 60, 10, 245, 0);    // its green end
    ExpectColour(frame, 56, 130, 128, 128, 255);  // the band
    ExpectColour(frame, 120, 48, 255, 220, 0);  // the checker's first square
    ExpectColour(frame, 150, 48, 0, 0, 128);
    const int stripe[4][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int i = 0; i < 4; i++) ExpectColour(frame, 232 + 8 + 16 * i, 72, stripe[i][0], stripe[i][1], stripe[i][2]);
    ExpectColour(frame, 232 + 8, 40 + 20, 255, 0, 0);
    ExpectColour(frame, 40, 160, 255, 220, 0);  // stretched: 76 pixels a square
    ExpectColour(frame, 120, 160, 0, 0, 128);
}
