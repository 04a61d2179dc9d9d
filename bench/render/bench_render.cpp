// Frames per second of a frame of 7000 lit, Gouraud, textured faces (a quarter of them translucent,
// drawn after the others far first) at 288 x 256 and at 1600 x 1200, by the two paths an entity
// can take: the engine's own (transform, lighting and clipping here, one DrawPrimitiveUP per
// face) and the vertex buffers (the device's transform and lighting). Seven entities of one sphere
// object of 1000 faces. Prints figures; never fails on a time.
#include <kestra.h>
#include <marlix_platform.h>

#include "engine_start.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <chrono>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int32_t AddMaterial(const char* name, int32_t method, float alpha, int32_t texture) {
    KSMaterial m;
    memset(&m, 0, sizeof(m));
    KS_SetMaterialName(&m, name);
    KS_SetMaterialMethod(&m, method);
    KS_SetMaterialColour(&m, 240, 200, 160);
    m.alpha = alpha;
    KS_SetMaterialTexture(&m, texture);
    return KS_AddMaterial(&m);
}

// A sphere of 20 stacks and 25 slices (1000 faces): the lowest quarter of the stacks in the
// translucent material.
KSObject* MakeSphere(float r, uint16_t opaque, uint16_t translucent) {
    const int stacks = 20, slices = 25;
    KSObject* o = KS_CreateObject();
    KS_AllocSegments(o, 1);
    KSSegment* s = &o->segments[0];
    KS_MatrixIdentity(&s->base);
    KS_AllocSegmentVertices(s, (stacks + 1) * (slices + 1));
    for (int i = 0; i <= stacks; i++)
        for (int j = 0; j <= slices; j++) {
            float theta = 3.14159265f * i / stacks, phi = 6.28318531f * j / slices;
            float n[3] = {sinf(theta) * cosf(phi), cosf(theta), sinf(theta) * sinf(phi)};
            KSVertex* v = &s->vertices[i * (slices + 1) + j];
            v->position = KSVector{n[0] * r, n[1] * r, n[2] * r};
            v->normal = KSPackedNormal{(int16_t)(n[0] * 1023), (int16_t)(n[1] * 1023), (int16_t)(n[2] * 1023)};
        }
    s->faceCount = stacks * slices * 2;
    s->faces = (KSFace*)KS_Alloc((int32_t)sizeof(KSFace) * s->faceCount, "bench", __LINE__);
    int f = 0;
    for (int i = 0; i < stacks; i++)
        for (int j = 0; j < slices; j++) {
            const int quad[2][3][2] = {{{i, j}, {i, j + 1}, {i + 1, j + 1}}, {{i, j}, {i + 1, j + 1}, {i + 1, j}}};
            for (int t = 0; t < 2; t++, f++) {
                KSFace* face = &s->faces[f];
                face->material = face->material2 = i >= stacks * 3 / 4 ? translucent : opaque;
                for (int c = 0; c < 3; c++) {
                    int vi = quad[t][c][0], vj = quad[t][c][1];
                    face->corners[c] = &s->vertices[vi * (slices + 1) + vj];
                    face->u[c] = 4.0f * vj / slices;
                    face->v[c] = 2.0f * vi / stacks;
                }
            }
        }
    KS_CalcBounds(o);
    return o;
}

// Starts the engine in a width x height window, draws the frame for about two seconds and
// returns the frames per second.
double Run(int width, int height, bool buffers) {
    TestEngineOptions options("KSRenderBench", "render");
    options.width = width;
    options.height = height;
    options.virtualClock = false;   // frames per second of real time
    options.quiet = false;
    HWND window;
    KSViewport viewport;
    StartTestEngine(options, &window, &viewport);
    KSGFX_AllocTextures(132);
    KS_AllocMaterials(132);
    ksGlobal.vertexBufferSwitch = buffers ? 1 : 0;

    uint8_t* texels = (uint8_t*)KS_Alloc(64 * 64 * 4, "bench", __LINE__);
    for (int i = 0; i < 64 * 64; i++) {
        bool on = ((i % 64 / 8) ^ (i / 64 / 8)) & 1;
        texels[i * 4] = on ? 250 : 40;
        texels[i * 4 + 1] = on ? 200 : 90;
        texels[i * 4 + 2] = on ? 60 : 200;
        texels[i * 4 + 3] = 255;
    }
    int32_t texture = KS_AddTextureRGBA("bench", texels, 64, 64);
    int32_t opaque = AddMaterial("gouraud", T_GOURAUD_TEXTURED8, 255, texture);
    int32_t translucent = AddMaterial("glass", T_TRANSLUCENT_TEXTURED, 128, texture);
    KSObject* sphere = MakeSphere(40, (uint16_t)opaque, (uint16_t)translucent);
    if (buffers) KS_BuildObjectBuffers(sphere);
    KSEntity* entities[7];
    for (int i = 0; i < 7; i++) {
        entities[i] = KS_CreateEntity(sphere, "ball");
        KS_SetEntityPosition(entities[i], -150.0f + 50.0f * i, (i & 1) ? 30.0f : -30.0f, -20.0f * i);
    }
    KSCamera* camera = KS_CreateCamera();
    KS_InitCamera(camera);
    KS_SetCameraMode(camera, KS_CAM_LOOK_AT);
    KS_UpdateCamera(camera);
    KSLightList lights = {};
    KS_InitLights(&ksActiveLights, 1);
    KS_InitLights(&lights, 1);
    KS_SetLightPosition(&lights, 0, 300, 300, 600);
    KS_SetLightStrength(&lights, 0, 1.0f / 1024);
    KS_SwitchLightOn(&lights, 0);
    lights.count = 1;

    // The buffer path draws with the culling of the device; the engine path culls faces itself.
    KS_SetTransformMode(buffers ? 1 : 0);
    KSGFX_SetColour(KSGFX_MakeColour(32, 48, 64));
    int frames = 0;
    double start = 0;
    for (;;) {
        if (frames == 5) start = Now();   // a few frames to warm up
        KS_BeginFrame();
        KS_TransformLights(&lights);
        KSGFX_ClearViewport(&viewport);
        for (KSEntity* e : entities) {
            KS_RotateEntity(e, 0, 1, 0);
            KS_TransformEntity(e);
            KS_RenderEntity(e);
        }
        KSGFX_FlushFrame();
        KSGFX_ShowFrame();
        frames++;
        if (frames > 5 && Now() - start > 2.0) break;
    }
    double fps = (frames - 5) / (Now() - start);

    for (KSEntity* e : entities) KS_FreeEntity(e);
    KS_FreeObject(sphere);
    KS_DeleteCamera(camera);
    KS_FreeLights(&lights);
    KS_FreeLights(&ksActiveLights);
    KS_FreeMaterials();
    KSGFX_FreeTextures();
    StopTestEngine(window);
    return fps;
}

}  // namespace

int main() {
    MarlixSetHeadless(1);
    printf("cores: %ld\n", sysconf(_SC_NPROCESSORS_ONLN));
    const int sizes[2][2] = {{288, 256}, {1600, 1200}};
    for (const auto& size : sizes) {
        double engine = Run(size[0], size[1], false);
        double buffers = Run(size[0], size[1], true);
        printf("7000 lit Gouraud textured faces (a quarter translucent), %dx%d: engine path %.1f frames/s, "
               "vertex buffers %.1f frames/s\n",
               size[0], size[1], engine, buffers);
    }
    return 0;
}
