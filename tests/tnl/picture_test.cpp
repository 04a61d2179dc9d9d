// A lit sphere and a textured translucent cube made in memory and drawn from vertex buffers by
// the device's transform and lighting; the frame is checked where the picture is plain and
// written out as a PNG.
#include "tnl_test.h"

#include <host.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A sphere of radius r: stacks x slices quads, normals pointing out, coordinates around it.
void MakeSphere(float r, int stacks, int slices, uint16_t material, std::vector<KSVector>* positions,
                std::vector<KSVector>* normals, std::vector<TestFace>* faces) {
    for (int i = 0; i <= stacks; i++)
        for (int j = 0; j <= slices; j++) {
            float theta = 3.14159265f * i / stacks, phi = 6.28318531f * j / slices;
            KSVector n = {sinf(theta) * cosf(phi), cosf(theta), sinf(theta) * sinf(phi)};
            normals->push_back(n);
            positions->push_back(KSVector{n.x * r, n.y * r, n.z * r});
        }
    auto at = [&](int i, int j) { return i * (slices + 1) + j; };
    for (int i = 0; i < stacks; i++)
        for (int j = 0; j < slices; j++) {
            float u0 = (float)j / slices, u1 = (float)(j + 1) / slices, v0 = (float)i / stacks,
                  v1 = (float)(i + 1) / stacks;
            faces->push_back(TestFace{{at(i, j), at(i, j + 1), at(i + 1, j + 1)}, {u0, u1, u1}, {v0, v0, v1}, material});
            faces->push_back(TestFace{{at(i, j), at(i + 1, j + 1), at(i + 1, j)}, {u0, u1, u0}, {v0, v1, v1}, material});
        }
}

// A cube of half-size h: four corners a face, each face's own normal and full coordinates. The
// buffers pool corners by position and coordinates alone, so each face's coordinates are moved by
// whole textures (the texture wraps) to keep its corners, and their normals, its own.
void MakeCube(float h, uint16_t material, std::vector<KSVector>* positions, std::vector<KSVector>* normals,
              std::vector<TestFace>* faces) {
    const KSVector axes[6][3] = {{{1, 0, 0}, {0, 0, 1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
                                 {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
                                 {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}}, {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}};
    for (int f = 0; f < 6; f++) {
        const KSVector &n = axes[f][0], &s = axes[f][1], &t = axes[f][2];
        int base = (int)positions->size();
        const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (int c = 0; c < 4; c++) {
            float a = corner[c][0], b = corner[c][1];
            positions->push_back(KSVector{h * (n.x + a * s.x + b * t.x), h * (n.y + a * s.y + b * t.y),
                                          h * (n.z + a * s.z + b * t.z)});
            normals->push_back(n);
        }
        float o = 2.0f * f;
        faces->push_back(TestFace{{base, base + 2, base + 1}, {o, o + 1, o + 1}, {1, 0, 1}, material});
        faces->push_back(TestFace{{base, base + 3, base + 2}, {o, o, o + 1}, {1, 0, 0}, material});
    }
}

uint32_t Pixel(const MarlixFrame& frame, int x, int y) {
    return frame.pixels[(size_t)y * frame.width + x] & 0xFFFFFF;
}

int Channel(uint32_t p, int shift) {
    return (int)(p >> shift & 0xFF);
}

}  // namespace

TEST_F(TnlTest, ALitSphereAndATranslucentTexturedCubeFromVertexBuffers) {
    // A 64 x 64 checker of yellow and blue squares of 16.
    uint8_t* texels = (uint8_t*)KS_Alloc(64 * 64 * 4, "test", __LINE__);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            bool yellow = ((x / 16 + y / 16) & 1) == 0;
            uint8_t* t = texels + (y * 64 + x) * 4;
            t[0] = yellow ? 255 : 30;
            t[1] = yellow ? 220 : 60;
            t[2] = yellow ? 0 : 255;
            t[3] = 255;
        }
    int32_t checker = KS_AddTextureRGBA("checker", texels, 64, 64);
    ASSERT_GE(checker, 0);
    int32_t red = AddMaterial("sphere", T_GOURAUD, 230, 80, 40);
    int32_t glass = AddMaterial("glass", T_TRANSLUCENT_TEXTURED, 255, 255, 255, 140, checker);

    std::vector<KSVector> positions, normals;
    std::vector<TestFace> faces;
    MakeSphere(55, 16, 24, (uint16_t)red, &positions, &normals, &faces);
    KSObject* sphere = MakeObject(positions, faces, normals);
    positions.clear();
    normals.clear();
    faces.clear();
    MakeCube(30, (uint16_t)glass, &positions, &normals, &faces);
    KSObject* cube = MakeObject(positions, faces, normals);
    ASSERT_EQ(1, KS_BuildObjectBuffers(sphere));
    ASSERT_EQ(1, KS_BuildObjectBuffers(cube));
    KSEntity* ball = MakeEntity(sphere);
    KSEntity* box = MakeEntity(cube);
    KS_SetEntityPosition(ball, 30, 0, 0);   // the camera looks down -z: +x is on the left
    KS_SetEntityPosition(box, -40, 0, 40);  // nearer, over the sphere's right side
    KS_RotateEntity(box, 25, 35, 0);

    // One segment light up and to the left-front, a little ambient.
    KSLightList scene = {};
    ASSERT_EQ(1, KS_InitLights(&ksActiveLights, 2));
    ASSERT_EQ(1, KS_InitLights(&scene, 1));
    KS_SetLightPosition(&scene, 0, 400, 300, 500);
    KS_SetLightStrength(&scene, 0, 1.0f / 1024);
    KS_SwitchLightOn(&scene, 0);
    scene.count = 1;
    KS_SetAmbient(25, 25, 25);

    // One frame as the application draws it, the entities through the render pipeline.
    KS_SetTransformMode(1);
    ksGlobal.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
    KS_BeginFrame();
    KS_TransformLights(&scene);
    for (KSEntity* e : {ball, box}) {
        KS_TransformEntity(e);
        KS_RenderEntity(e);
    }
    KSGFX_FlushFrame();
    ksGlobal.device->SetTexture(0, nullptr);
    KSGFX_ShowFrame();
    KS_FreeLights(&scene);

    MarlixFrame frame;
    ASSERT_TRUE(MarlixGetFrame(window, &frame));
    const char* out = getenv("MARLIX_TNL_PNG");
    EXPECT_TRUE(HostWritePng(out ? out : "tnl_sphere_cube.png", frame.pixels, frame.width, frame.height, frame.width * 4));

    EXPECT_EQ(0x203040u, Pixel(frame, 4, 4)) << "background";
    // The sphere: lit on its upper left, in the ambient light alone on its lower right.
    uint32_t lit = Pixel(frame, 85, 80), dark = Pixel(frame, 120, 180);
    EXPECT_GT(Channel(lit, 16), 150);
    EXPECT_GT(Channel(lit, 16), Channel(lit, 0) * 2) << "the material is red";
    EXPECT_LT(Channel(dark, 16), Channel(lit, 16) / 2);
    // The cube over the background: a yellow texel (255, 220, 0) at alpha 140 over (32, 48, 64)
    // gives (154, 142, 29).
    uint32_t alone = Pixel(frame, 230, 120);
    EXPECT_NEAR(154, Channel(alone, 16), 4);
    EXPECT_NEAR(142, Channel(alone, 8), 4);
    EXPECT_NEAR(29, Channel(alone, 0), 4);
    // A blue texel (30, 60, 255) over the sphere: the red behind it shows through, where over the
    // background it would be (31, 55, 169).
    uint32_t over = Pixel(frame, 160, 120);
    EXPECT_GT(Channel(over, 16), 31 + 15);
    EXPECT_LT(Channel(over, 0), 169 - 6);
    EXPECT_GT(Channel(over, 0), Channel(over, 16)) << "still a blue texel";
}
