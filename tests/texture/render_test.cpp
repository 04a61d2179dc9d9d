// Textures loaded from a JPEG, a TGA and a PCX file drawn as screen quads on the software device;
// the presented frame is checked where the pictures are plain and written out as a PNG.
#include "texture_test.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Red to green from left to right, a blue band in the lower quarter.
Image32 GradientPicture() {
    Image32 image = MakeImage32(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            uint8_t* p = image.at(x, y);
            p[0] = (uint8_t)(255 - x * 4);
            p[1] = (uint8_t)(x * 4);
            p[2] = (uint8_t)(y >= 48 ? 255 : 0);
            p[3] = 255;
        }
    return image;
}

// Yellow and dark blue squares of 16 texels.
Image32 CheckerPicture() {
    Image32 image = MakeImage32(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            bool yellow = ((x / 16 + y / 16) & 1) == 0;
            uint8_t* p = image.at(x, y);
            p[0] = yellow ? 255 : 0;
            p[1] = yellow ? 220 : 0;
            p[2] = yellow ? 0 : 128;
            p[3] = 255;
        }
    return image;
}

// Four vertical stripes of palette colours: white, red, green, blue; a white frame.
Image8 StripePicture() {
    Image8 image = MakeImage8(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            image.at(x, y) = (uint8_t)((x < 2 || y < 2 || x > 61 || y > 61) ? 1 : 1 + x / 16);
    const uint8_t colours[5][3] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int i = 0; i < 5; i++) memcpy(&image.palette[i * 3], colours[i], 3);
    for (int y = 18; y < 22; y++)
        for (int x = 6; x < 10; x++) image.at(x, y) = 2;  // a red block in the white stripe
    return image;
}

uint32_t Pixel(const MarlixFrame& frame, int x, int y) {
    return frame.pixels[(size_t)y * frame.width + x] & 0xFFFFFF;
}

void ExpectColour(const MarlixFrame& frame, int x, int y, int r, int g, int b) {
    uint32_t p = Pixel(frame, x, y);
    EXPECT_NEAR(r, (int)(p >> 16 & 0xFF), 24) << x << "," << y;
    EXPECT_NEAR(g, (int)(p >> 8 & 0xFF), 24) << x << "," << y;
    EXPECT_NEAR(b, (int)(p & 0xFF), 24) << x << "," << y;
}

}  // namespace

TEST_F(TextureTest, TexturedQuadsOfAJpegATgaAndAPcx) {
    Write("gradient.jpg", WriteJPEG(GradientPicture()));
    Write("checker.tga", WriteTGA(CheckerPicture(), 24, true, false));
    Write("stripes.pcx", WritePCX(StripePicture()));
    KS_SetTextureDirectory((directory + "/").c_str());
    KS_SetTextureFormat(16);  // 8 bits per channel, so the frame shows the pictures' own colours
    int32_t jpeg = KSGFX_LoadTexture("gradient.jpg");
    int32_t tga = KSGFX_LoadTexture("checker.tga");
    KS_SetTextureFormat(0);
    int32_t pcx = KSGFX_LoadTexture("stripes.pcx");
    KS_SetTextureDirectory(nullptr);
    ASSERT_GE(jpeg, 0);
    ASSERT_GE(tga, 0);
    ASSERT_GE(pcx, 0);

    IDirect3DDevice8* device = ksGlobal.device;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
    ASSERT_EQ(D3D_OK, device->BeginScene());
    KSGFX_DrawTextureRect(8, 40, 103, 135, jpeg, 0);
    KSGFX_DrawTextureRect(112, 40, 207, 135, tga, 0);
    KSGFX_DrawTexture(232, 40, pcx, 0);  // at its own size, 64 x 64
    KSGFX_DrawTextureRect(8, 150, 311, 229, tga, 0);  // stretched wide
    device->EndScene();
    device->SetTexture(0, nullptr);
    KSGFX_ShowFrame();

    MarlixFrame frame;
    ASSERT_TRUE(MarlixGetFrame(window, &frame));
    ASSERT_EQ(320, frame.width);
    ASSERT_EQ(240, frame.height);
    const char* out = getenv("MARLIX_TEXTURE_PNG");
    EXPECT_TRUE(SavePNG(out ? out : "texture_quads.png", frame.pixels, frame.width, frame.height));

    ExpectColour(frame, 4, 4, 0x20, 0x20, 0x20);  // background
    // The gradient: red at the left, green at the right, the blue band below.
    ExpectColour(frame, 12, 60, 250, 5, 0);
    ExpectColour(frame, 99, 60, 10, 245, 0);
    ExpectColour(frame, 56, 130, 128, 128, 255);
    // The checker: yellow in the top-left square, blue beside it.
    ExpectColour(frame, 120, 48, 255, 220, 0);
    ExpectColour(frame, 150, 48, 0, 0, 128);
    // The stripes through the 16-bit texture: white, red, green, blue, with the red block.
    ExpectColour(frame, 232 + 8, 40 + 32, 255, 255, 255);
    ExpectColour(frame, 232 + 24, 40 + 32, 255, 0, 0);
    ExpectColour(frame, 232 + 40, 40 + 32, 0, 255, 0);
    ExpectColour(frame, 232 + 56, 40 + 32, 0, 0, 255);
    ExpectColour(frame, 232 + 8, 40 + 20, 255, 0, 0);
    // The stretched checker: four squares across 304 pixels, so the second starts near x = 84.
    ExpectColour(frame, 40, 160, 255, 220, 0);
    ExpectColour(frame, 120, 160, 0, 0, 128);
}
