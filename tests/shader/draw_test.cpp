// Shaders on the device: the constant bindings in their registers (read back from the device),
// the refused declaration's box, the shaded test model drawn through the buffers with its
// shaders, and the shaders made again after a device reset.
#include "shader_test.h"
#include "models.h"

#include <host.h>

#include <stdlib.h>
#include <string.h>

namespace {

typedef std::array<float, 4> Reg;

Reg VertexConstant(int reg)
{
    Reg r = {-99, -99, -99, -99};
    EXPECT_EQ(D3D_OK, ksGlobal.device->GetVertexShaderConstant((DWORD)reg, r.data(), 1));
    return r;
}

Reg PixelConstant(int reg)
{
    Reg r = {-99, -99, -99, -99};
    EXPECT_EQ(D3D_OK, ksGlobal.device->GetPixelShaderConstant((DWORD)reg, r.data(), 1));
    return r;
}

void SetMatrix(D3DTRANSFORMSTATETYPE which, std::array<float, 16> m)
{
    ASSERT_EQ(D3D_OK, ksGlobal.device->SetTransform(which, (const D3DMATRIX*)m.data()));
}

KSShaderConstant Binding(int32_t reg, int32_t kind, Reg values = {0, 0, 0, 0})
{
    KSShaderConstant k;
    k.reg = reg;
    k.kind = kind;
    memcpy(k.values, values.data(), sizeof(k.values));
    return k;
}

// A presented frame, copied (the next present reuses the device's frame).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

uint32_t Pixel(const Picture& frame, int x, int y)
{
    return frame.pixels[(size_t)y * frame.width + x] & 0xFFFFFF;
}

int Channel(uint32_t p, int shift)
{
    return (int)(p >> shift & 0xFF);
}

}  // namespace

// Every binding kind lands in its registers. World = scale (2, 3, 4) then move (1, 2, 3), view =
// move (10, 20, 30), projection = identity with m34 = 1 and m44 = 0; so world . view has the
// rows (2,0,0,0) (0,3,0,0) (0,0,4,0) (11,22,33,1) and world . view . projection the rows
// (2,0,0,0) (0,3,0,0) (0,0,4,4) (11,22,33,33). "Transposed" registers hold the columns.
TEST_F(ShaderTest, ConstantBindingsLoadTheirRegisters)
{
    SetMatrix(D3DTS_WORLD, {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1});
    SetMatrix(D3DTS_VIEW, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1});
    SetMatrix(D3DTS_PROJECTION, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0});
    ASSERT_EQ(1, KS_InitLights(&ksActiveLights, 4));
    ksActiveLights.count = 2;
    ksActiveLights.lights[0].direction = KSVector{0, -1, 0};
    ksActiveLights.lights[0].position = KSVector{5, 6, 7};
    ksActiveLights.lights[1].colour[0] = 0.25f;
    ksActiveLights.lights[1].colour[1] = 0.5f;
    ksActiveLights.lights[1].colour[2] = 0.75f;
    ksShaderLightVector[0] = 0.5f;
    ksShaderLightVector[1] = -1.0f;
    ksShaderLightVector[2] = 2.0f;
    ksFog.start = 10;
    ksFog.end = 110;
    ksFog.scale = 0.01f;
    KSMaterial material;
    memset(&material, 0, sizeof(material));
    KS_SetMaterialColour(&material, 51, 102, 255);
    ksDraw.material = &material;

    KSVertexShader* shader = KS_NewVertexShader();
    ASSERT_NE(nullptr, shader);
    std::vector<KSShaderConstant> bindings = {
        Binding(0, 26),  Binding(4, 27),  Binding(8, 28),  Binding(12, 29), Binding(16, 30), Binding(20, 31),
        Binding(24, 38), Binding(28, 32), Binding(32, 33), Binding(36, 36), Binding(40, 37),
        Binding(50, 25, {9, 9, 9, 7}),  Binding(50, 1),   // the direction of light 0 keeps the earlier w
        Binding(51, 25, {8, 8, 8, 6}),  Binding(51, 10),  // the colour of light 1
        Binding(52, 25, {1, 1, 1, 1}),  Binding(52, 17),  // the position of light 0
        Binding(53, 25, {4, 3, 2, 1}),  Binding(53, 3),   // light 2 is not in the active list
        Binding(54, 25, {5, 5, 5, 5}),  Binding(54, 34), Binding(54, 0), Binding(54, 39),
        Binding(93, 26), Binding(-1, 25, {6, 6, 6, 6}), Binding(96, 25, {6, 6, 6, 6}),
    };
    shader->constants = (KSShaderConstant*)KS_Alloc((int32_t)(sizeof(KSShaderConstant) * bindings.size()), "test",
                                                    __LINE__);
    memcpy(shader->constants, bindings.data(), sizeof(KSShaderConstant) * bindings.size());
    shader->constantCount = (int32_t)bindings.size();
    for (int r = 0; r < 96; r++) {
        float zero[4] = {0, 0, 0, 0};
        ksGlobal.device->SetVertexShaderConstant((DWORD)r, zero, 1);
    }
    for (int32_t i = 0; i < shader->constantCount; i++)
        KS_SetVertexShaderConstants(shader, i);
    KS_SetVertexShaderConstants(shader, shader->constantCount);   // no such binding
    KS_SetVertexShaderConstants(shader, -1);

    const Reg expected[][4] = {
        {{2, 0, 0, 11}, {0, 3, 0, 22}, {0, 0, 4, 33}, {0, 0, 4, 33}},   // 26
        {{2, 0, 0, 1}, {0, 3, 0, 2}, {0, 0, 4, 3}, {0, 0, 0, 1}},       // 27
        {{1, 0, 0, 10}, {0, 1, 0, 20}, {0, 0, 1, 30}, {0, 0, 0, 1}},    // 28
        {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 1, 0}},       // 29
        {{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {1, 2, 3, 1}},       // 30
        {{2, 0, 0, 11}, {0, 3, 0, 22}, {0, 0, 4, 33}, {0, 0, 0, 1}},    // 31
        {{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {11, 22, 33, 1}},    // 38
        {{0, 0, 256, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},     // 32: one register
        {{0.5f, -1, 2, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},   // 33
        {{0.2f, 0.4f, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}, // 36
        {{10, 110, 0.01f, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},// 37
    };
    for (int b = 0; b < 11; b++)
        for (int r = 0; r < 4; r++) {
            Reg got = VertexConstant(4 * b + r);
            for (int c = 0; c < 4; c++)
                EXPECT_FLOAT_EQ(expected[b][r][c], got[c]) << "binding " << b << " register " << r << " " << c;
        }
    EXPECT_EQ((Reg{0, -1, 0, 7}), VertexConstant(50));
    EXPECT_EQ((Reg{0.25f, 0.5f, 0.75f, 6}), VertexConstant(51));
    EXPECT_EQ((Reg{5, 6, 7, 1}), VertexConstant(52));
    EXPECT_EQ((Reg{4, 3, 2, 1}), VertexConstant(53));
    EXPECT_EQ((Reg{5, 5, 5, 5}), VertexConstant(54));
    for (int r = 93; r < 96; r++)
        EXPECT_EQ((Reg{0, 0, 0, 0}), VertexConstant(r)) << r;

    // Pixel shaders: kind 1 loads its values, other kinds nothing.
    KSPixelShader* pixel = KS_NewPixelShader();
    ASSERT_NE(nullptr, pixel);
    pixel->constants = (KSShaderConstant*)KS_Alloc((int32_t)sizeof(KSShaderConstant) * 2, "test", __LINE__);
    pixel->constants[0] = Binding(3, 1, {0.5f, 0.25f, 1, 0.75f});
    pixel->constants[1] = Binding(4, 2, {1, 1, 1, 1});
    pixel->constantCount = 2;
    float zero[4] = {0, 0, 0, 0};
    ksGlobal.device->SetPixelShaderConstant(4, zero, 1);
    KS_SetPixelShaderConstants(pixel, 0);
    KS_SetPixelShaderConstants(pixel, 1);
    EXPECT_EQ((Reg{0.5f, 0.25f, 1, 0.75f}), PixelConstant(3));
    EXPECT_EQ((Reg{0, 0, 0, 0}), PixelConstant(4));
    ksDraw.material = nullptr;
}

// A declaration the device refuses leaves the shader uncreated with the "Invalid Shader!" box,
// captioned with the result's name.
TEST_F(ShaderTest, ARefusedDeclarationShowsInvalidShader)
{
    KsoModel m = TriangleModel();
    KsoShader s = Shader("far register", 1, "vs.1.1\nmov oPos, v0\n");
    s.declarationText = "STREAM 0\nREG 99 FLOAT3\nEND";
    m.declaredShaders = {s};
    ASSERT_NE(nullptr, Load(m));
    ASSERT_EQ(1, MarlixMessageBoxCount());
    EXPECT_STREQ("Invalid Shader!", MarlixMessageBoxText(0));
    EXPECT_STREQ("D3DERR_INVALIDCALL", MarlixMessageBoxCaption(0));
    EXPECT_EQ((UINT)(MB_SETFOREGROUND | MB_SYSTEMMODAL), MarlixMessageBoxStyle(0));
    EXPECT_EQ(0u, KS_FindVertexShader("far register")->handle);
}

class ShadedModelTest : public ShaderTest {
protected:
    // The shaded test model from the model builders, loaded and placed tilted towards the camera,
    // lit along +z (towards the camera).
    void SetUp() override
    {
        ShaderTest::SetUp();
        ModelFile file = BuildShaderModel();
        object = Load(file.model);
        ASSERT_NE(nullptr, object);
        entity = KS_CreateEntity(object, "shaded");
        ASSERT_NE(nullptr, entity);
        KS_RotateEntity(entity, 60, 0, 0);
        camera->aspect = 320.0f / 240.0f;   // as a run sets it from the viewport: round balls
        ksShaderLightVector[2] = 1.0f;
    }
    void TearDown() override
    {
        KS_FreeEntity(entity);
        ShaderTest::TearDown();
    }
    Picture Draw()
    {
        KS_UpdateCamera(camera);   // as every frame does: a reset device has the default view again
        KS_SetTransformMode(1);
        ksGlobal.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
        KS_BeginFrame();
        KS_TransformEntity(entity);
        KS_RenderEntity(entity);
        KSGFX_FlushFrame();
        KSGFX_ShowFrame();
        MarlixFrame frame;
        Picture picture;
        EXPECT_TRUE(MarlixGetFrame(window, &frame));
        if (frame.pixels) {
            picture.width = frame.width;
            picture.height = frame.height;
            picture.pixels.assign(frame.pixels, frame.pixels + (size_t)frame.width * frame.height);
        }
        return picture;
    }
    KSObject* object = nullptr;
    KSEntity* entity = nullptr;
};

// The ball's vertex shader lights it with the light vector and its material colour (90, 200,
// 255) plus 0.15 ambient, the pixel shader halves green: facing the light, (0.353 + 0.15,
// 0.784 + 0.15, 1.0 + 0.15 clamped to 1) x (1, 0.5, 1) = (128, 119, 255). The ring's shader gives
// its colour (255, 200, 40) times |n . l| with no tint.
TEST_F(ShadedModelTest, TheShadedModelDrawsThroughItsShaders)
{
    EXPECT_EQ(0, MarlixMessageBoxCount()) << (MarlixMessageBoxCount() ? MarlixMessageBoxText(0) : "");
    for (KSVertexShader* s = ksVertexShaders; s; s = s->next)
        EXPECT_NE(0u, s->handle) << s->name;
    ASSERT_NE(nullptr, ksPixelShaders);
    EXPECT_NE(0u, ksPixelShaders->handle);
    Picture frame = Draw();
    ASSERT_EQ(320, frame.width);
    const char* out = getenv("MARLIX_SHADER_PNG");
    EXPECT_TRUE(HostWritePng(out ? out : "shader_model.png", frame.pixels.data(), frame.width, frame.height,
                             frame.width * 4));
    EXPECT_EQ(0x203040u, Pixel(frame, 4, 4)) << "background";
    // What the buffers bound is not left to the pipeline's later draws: it sets its own format
    // again and draws without a pixel shader.
    EXPECT_EQ(0u, ksGlobal.cachedFormat);
    DWORD pixelShader = 1;
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetPixelShader(&pixelShader));
    EXPECT_EQ(0u, pixelShader);
    uint32_t centre = Pixel(frame, 160, 120);
    EXPECT_NEAR(128, Channel(centre, 16), 6);
    EXPECT_NEAR(119, Channel(centre, 8), 6);
    EXPECT_NEAR(255, Channel(centre, 0), 3);
    // Ring pixels: yellow, no blue to speak of, brighter where the ring faces the light.
    int ring = 0;
    for (int y = 0; y < frame.height; y++)
        for (int x = 0; x < frame.width; x++) {
            uint32_t p = Pixel(frame, x, y);
            if (Channel(p, 16) > 120 && Channel(p, 8) > Channel(p, 16) / 2 && Channel(p, 0) < 70)
                ring++;
        }
    EXPECT_GT(ring, 1000);
}

// A reset, asked for or after a lost device, deletes the shaders and makes them again from their
// texts: the materials keep their records, the handles are live again and the picture is the same.
TEST_F(ShadedModelTest, ShadersSurviveADeviceReset)
{
    Picture before = Draw();
    const KSMaterial* ball = KS_GetMaterial(KS_FindMaterial("shaded ball"));
    ASSERT_NE(nullptr, ball);
    const KSVertexShader* vertex = ball->vertexShader;
    const KSPixelShader* pixel = ball->pixelShader;
    ASSERT_NE(nullptr, vertex);
    ASSERT_NE(nullptr, pixel);
    ASSERT_EQ(D3D_OK, KS_ResetDevice(320, 240));
    EXPECT_EQ(vertex, ball->vertexShader);
    EXPECT_EQ(pixel, ball->pixelShader);
    EXPECT_NE(0u, vertex->handle);
    EXPECT_NE(0u, pixel->handle);
    EXPECT_EQ(0, vertex->released);
    Picture after = Draw();
    ASSERT_EQ(before.width, after.width);
    ASSERT_EQ(before.height, after.height);
    int differ = 0;
    for (size_t i = 0; i < before.pixels.size(); i++)
        differ += (before.pixels[i] & 0xFFFFFF) != (after.pixels[i] & 0xFFFFFF);
    EXPECT_EQ(0, differ);

    // A lost device is reset by the present that finds it lost, with the same release and restore.
    MarlixD3D8LoseDevice(1);
    KSGFX_ShowFrame();
    EXPECT_EQ(D3D_OK, ksGlobal.device->TestCooperativeLevel());
    EXPECT_NE(0u, vertex->handle);
    EXPECT_NE(0u, pixel->handle);
    Picture recovered = Draw();
    ASSERT_EQ(before.pixels.size(), recovered.pixels.size());
    differ = 0;
    for (size_t i = 0; i < before.pixels.size(); i++)
        differ += (before.pixels[i] & 0xFFFFFF) != (recovered.pixels[i] & 0xFFFFFF);
    EXPECT_EQ(0, differ);
    EXPECT_EQ(0, MarlixMessageBoxCount());
}
