// Whole pictures through the engine path, written as render_*.png into the build folder and checked
// at pixels whose values follow from the scene: a lit sphere, a translucent textured cube, a
// wireframe, an object cut by the near plane, a fogged row and a two-pass bump method.
#include "render_fixture.h"

namespace {

uint32_t Checker(int x, int y) {
    return ((x / 8 + y / 8) % 2) ? 0xFFF0C020u : 0xFF2040D0u;
}

uint32_t Glow(int, int) {
    return 0xFF303870u;
}


class Pictures : public RenderTest {};

TEST_F(Pictures, LitSphere) {
    StartEngine(MARLIX_PROFILE_DEFAULT, 160, 120);
    KSEntity* sphere = MakeEntity(MakeObject(SphereMesh(80, 16, 24), AddMaterial(T_GOURAUD, 255, 160, 60)));
    BeginFrame(0x000000);
    Draw(sphere);
    EndFrame();
    SavePicture("render_lit_sphere.png");

    // The light is up and to the left: the upper left of the sphere is brighter than the lower
    // right, which has ambient light only (40 of 255 times the material colour, at least 1).
    uint32_t lit = Pixel(60, 40), dark = Pixel(105, 85);
    EXPECT_GT(Red(lit), Red(dark) + 60);
    EXPECT_GT(Red(lit), Green(lit));
    EXPECT_GT(Green(lit), Blue(lit));
    EXPECT_EQ(0u, Pixel(2, 2)) << "background";
    EXPECT_EQ(0u, Pixel(157, 117)) << "background";
}

TEST_F(Pictures, TranslucentTexturedCube) {
    StartEngine(MARLIX_PROFILE_DEFAULT, 160, 120);
    int32_t checker = AddTexture("checker", 32, 32, Checker);
    KSEntity* sphere = MakeEntity(MakeObject(SphereMesh(90, 16, 24), AddMaterial(T_GOURAUD, 80, 220, 80)));
    KS_SetEntityPosition(sphere, 0, 0, 250);
    KSEntity* cube = MakeEntity(MakeObject(CubeMesh(45), AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 150,
                                                                     checker)));
    KS_RotateEntity(cube, 30, 40, 0);
    BeginFrame(0x101010);
    Draw(cube);     // queued: drawn at the flush, after the sphere behind it
    Draw(sphere);
    EndFrame();
    SavePicture("render_translucent_cube.png");

    // The cube's centre shows texture and sphere mixed 150 : 105: green from the sphere shows
    // through both checker colours, and neither pure texel colour appears.
    uint32_t centre = Pixel(80, 60);
    EXPECT_NE(0xF0C020u, centre);
    EXPECT_NE(0x2040D0u, centre);
    EXPECT_GT(Green(centre), 0x40 * 150 / 255);
    EXPECT_EQ(0x101010u, Pixel(2, 2));
}

TEST_F(Pictures, Wireframe) {
    StartEngine(MARLIX_PROFILE_DEFAULT, 160, 120);
    KSEntity* sphere = MakeEntity(MakeObject(SphereMesh(80, 10, 14), AddMaterial(T_WIREFRAME, 255, 255, 0)));
    KS_RotateEntity(sphere, 20, 0, 0);
    BeginFrame(0x000020);
    Draw(sphere);
    EndFrame();
    SavePicture("render_wireframe.png");

    // Lines only: drawn pixels are the material's yellow, and far fewer than a filled disc of
    // radius 64 pixels.
    int drawn = CountDrawn(0x000020);
    EXPECT_GT(drawn, 400);
    EXPECT_LT(drawn, 6000);
    int yellow = 0;
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 160; x++) yellow += Pixel(x, y) == 0xFFFF00u;
    EXPECT_EQ(drawn, yellow);
}

TEST_F(Pictures, FloorCutByTheNearPlane) {
    StartEngine(MARLIX_PROFILE_DEFAULT, 160, 120);
    int32_t checker = AddTexture("checker", 32, 32, Checker);
    // A floor from behind the camera (z = -600) to far ahead, below the eye.
    KSEntity* floor = MakeEntity(MakeObject(QuadMesh(-200, -600, 200, 600), AddMaterial(T_TEXTURED, 255, 255, 255,
                                                                                         255, checker)));
    KS_RotateEntity(floor, 90, 0, 0);
    KS_SetEntityPosition(floor, 0, -60, 0);
    MarlixD3D8ResetCounters();
    BeginFrame(0x000000);
    Draw(floor);
    EndFrame();
    SavePicture("render_near_clip.png");

    MarlixD3D8Counters counters;
    MarlixD3D8GetCounters(&counters);
    EXPECT_GT(counters.drawCalls, 2u) << "the clipped faces are drawn in pieces";
    // The floor fills the bottom rows up to the screen edges with texels (filtered between the two
    // checker colours: red and blue never both low); the top half is sky.
    for (int x = 0; x < 160; x += 10) {
        uint32_t p = Pixel(x, 118);
        EXPECT_GT(Red(p) + Blue(p), 0xC0) << x;
    }
    EXPECT_EQ(0u, Pixel(80, 10));
}

TEST_F(Pictures, FoggedRow) {
    StartEngine(MARLIX_PROFILE_DEFAULT, 200, 100);
    int32_t checker = AddTexture("checker", 32, 32, Checker);
    int32_t material = AddMaterial(T_FOG_GOURAUD_TEXTURED, 255, 255, 255, 255, checker);
    KSObject* cube = MakeObject(CubeMesh(30), material);
    KSEntity* row[5];
    for (int i = 0; i < 5; i++) {
        row[i] = MakeEntity(cube);
        KS_RotateEntity(row[i], 20, 30, 0);
        KS_SetEntityPosition(row[i], -160.0f + 130.0f * i, 0, 100.0f + 250.0f * i);
    }
    KS_SetFogColour(0x405060FFu);
    KS_SetFogRange(400, 1300);
    KS_SetFog(1);
    BeginFrame(0x405060);
    for (KSEntity* e : row) Draw(e);
    EndFrame();
    SavePicture("render_fogged_row.png");
    KS_SetFog(0);

    // Around each cube's centre the largest difference from the fog colour shrinks from cube to
    // cube; the last one, beyond the fog end, is gone.
    int previous = -1;
    for (int i = 0; i < 5; i++) {
        KSWorkVertex w;
        KSVector centre = row[i]->position;
        KSM_TransformPoint(&centre, &camera_->cull, &w);
        int cx = (int)(ksProjection.centreX + ksProjection.scaleX * w.cx / w.z);
        int cy = (int)(ksProjection.centreY - ksProjection.scaleY * w.cy / w.z);
        int largest = 0;
        for (int y = cy - 3; y <= cy + 3; y++) {
            for (int x = cx - 3; x <= cx + 3; x++) {
                uint32_t p = Pixel(x, y);
                int d = abs(Red(p) - 0x40) + abs(Green(p) - 0x50) + abs(Blue(p) - 0x60);
                largest = d > largest ? d : largest;
            }
        }
        if (previous >= 0) {
            EXPECT_LT(largest, previous) << i;
        }
        previous = largest;
    }
    EXPECT_EQ(0, previous);
}

TEST_F(Pictures, TwoPassBumpOnOneTexture) {
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE, 160, 120);
    ASSERT_EQ(2, ksRenderMethods[T_GOURTEX_BUMP_ADD].passes);
    ASSERT_EQ(1, ksRenderMethods[T_GOURTEX_BUMP_ADD].extraTexture);
    int32_t checker = AddTexture("checker", 32, 32, Checker);
    int32_t glow = AddTexture("glow", 8, 8, Glow, 3);
    int32_t bumped = AddMaterial(T_GOURTEX_BUMP_ADD, 255, 255, 255, 255, checker);
    KS_GetMaterial(bumped)->textures[3] = glow;
    int32_t plain = AddMaterial(T_GOURAUD_TEXTURED8, 255, 255, 255, 255, checker);
    KSEntity* base = MakeEntity(MakeObject(SphereMesh(80, 12, 18), plain));
    KSEntity* sphere = MakeEntity(MakeObject(SphereMesh(80, 12, 18), bumped));
    BeginFrame(0x000000);
    Draw(base);
    EndFrame();
    std::vector<uint32_t> first(frame_.pixels, frame_.pixels + frame_.width * frame_.height);
    BeginFrame(0x000000);
    Draw(sphere);
    EndFrame();
    SavePicture("render_bump_two_pass.png");

    // The second pass adds the glow texture, modulated by the lit colour, onto the same lit base.
    int brighter = 0;
    for (int i = 0; i < frame_.width * frame_.height; i++) {
        uint32_t a = first[i] & 0xFFFFFF, b = frame_.pixels[i] & 0xFFFFFF;
        ASSERT_GE(Blue(b), Blue(a)) << i;
        ASSERT_LE(Blue(b), Blue(a) + 0x70) << i;
        brighter += Blue(b) > Blue(a) + 8;
    }
    EXPECT_GT(brighter, 3000);
}

}  // namespace
