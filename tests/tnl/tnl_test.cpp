// Shared set-up of the buffer tests.
#include "tnl_test.h"

#include "engine_start.h"

#include <stdio.h>
#include <string.h>

static KSViewport viewport;

void TnlTest::SetUp() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the device runs threads
    TestEngineOptions options("KSTnlTest", "buffer test");
    options.profile = MARLIX_PROFILE_DEFAULT;
    ASSERT_TRUE(StartTestEngine(options, &window, &viewport));
    baselineBlocks = KS_MemoryBlockCount();
    baselineObjects = MarlixD3D8LiveObjects();
    KSGFX_AllocTextures(132);
    ASSERT_EQ(1, KS_AllocMaterials(132));
    ksGlobal.vertexBufferSwitch = 1;
    camera = KS_CreateCamera();
    KS_InitCamera(camera);
    KS_SetCameraMode(camera, KS_CAM_LOOK_AT);
    KS_UpdateCamera(camera);
}

void TnlTest::TearDown() {
    for (KSEntity* e : entities) KS_FreeEntity(e);
    for (KSObject* o : objects) KS_FreeObject(o);
    KS_DeleteCamera(camera);
    KS_FreeMaterials();
    KSGFX_FreeTextures();
    KS_FreeLights(&ksActiveLights);
    EXPECT_EQ(baselineBlocks, KS_MemoryBlockCount()) << "engine blocks left behind";
    EXPECT_EQ(baselineObjects, MarlixD3D8LiveObjects()) << "Direct3D objects left behind";
    StopTestEngine(window);
}

int32_t TnlTest::AddMaterial(const char* name, int32_t method, float r, float g, float b, float alpha,
                             int32_t texture) {
    KSMaterial m;
    memset(&m, 0, sizeof(m));
    KS_SetMaterialName(&m, name);
    KS_SetMaterialMethod(&m, method);
    KS_SetMaterialColour(&m, r, g, b);
    m.alpha = alpha;
    KS_SetMaterialTexture(&m, texture);
    m.texSets = 1;
    return KS_AddMaterial(&m);
}

KSObject* TnlTest::MakeObject(const std::vector<KSVector>& positions, const std::vector<TestFace>& faces,
                              const std::vector<KSVector>& normals) {
    KSObject* o = KS_CreateObject();
    EXPECT_NE(nullptr, o);
    objects.push_back(o);
    EXPECT_EQ(1, KS_AllocSegments(o, 1));
    KSSegment* s = &o->segments[0];
    KS_MatrixIdentity(&s->base);
    EXPECT_EQ(1, KS_AllocSegmentVertices(s, (int32_t)positions.size()));
    for (size_t i = 0; i < positions.size(); i++) {
        s->vertices[i].position = positions[i];
        KSVector n = i < normals.size() ? normals[i] : KSVector{0, 0, 1};
        s->vertices[i].normal = KSPackedNormal{(int16_t)(n.x * 1023), (int16_t)(n.y * 1023), (int16_t)(n.z * 1023)};
    }
    s->faces = (KSFace*)KS_Alloc((int32_t)(sizeof(KSFace) * faces.size()), "test", __LINE__);
    s->faceCount = (int32_t)faces.size();
    for (size_t f = 0; f < faces.size(); f++) {
        KSFace& face = s->faces[f];
        face.material = face.material2 = faces[f].material;
        for (int c = 0; c < 3; c++) {
            face.corners[c] = &s->vertices[faces[f].corners[c]];
            face.fileVertices[c] = faces[f].corners[c];
            face.u[c] = faces[f].u[c];
            face.v[c] = faces[f].v[c];
        }
        face.normal = KSPackedNormal{0, 0, 1023};
    }
    KS_CalcBounds(o);
    return o;
}

KSEntity* TnlTest::MakeEntity(KSObject* object) {
    KSEntity* e = KS_CreateEntity(object, "tnl");
    EXPECT_NE(nullptr, e);
    entities.push_back(e);
    return e;
}

std::vector<float> TnlTest::VertexData(const KSBufferList* list) {
    std::vector<float> data((size_t)list->vertexCount * list->stride / 4);
    BYTE* p = nullptr;
    EXPECT_EQ(D3D_OK, list->vertexBuffer->Lock(0, 0, &p, D3DLOCK_READONLY));
    memcpy(data.data(), p, data.size() * 4);
    list->vertexBuffer->Unlock();
    return data;
}

std::vector<uint16_t> TnlTest::IndexData(IDirect3DIndexBuffer8* buffer, int32_t count) {
    std::vector<uint16_t> data((size_t)count);
    BYTE* p = nullptr;
    EXPECT_EQ(D3D_OK, buffer->Lock(0, 0, &p, D3DLOCK_READONLY));
    memcpy(data.data(), p, data.size() * 2);
    buffer->Unlock();
    return data;
}
