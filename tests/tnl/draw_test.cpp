// Drawing from buffers: the device's lights, world matrix, normalisation and material per segment
// and group, and which segments and groups are drawn.
#include "tnl_test.h"

#include <string.h>

namespace {

DWORD State(D3DRENDERSTATETYPE state) {
    DWORD value = 0;
    ksGlobal.device->GetRenderState(state, &value);
    return value;
}

}  // namespace

class DrawTest : public TnlTest {
protected:
    void SetUp() override {
        TnlTest::SetUp();
        a = AddMaterial("red", T_GOURAUD, 255, 0, 0);
        b = AddMaterial("shiny", T_GOURAUD, 51, 102, 204, 128);
        ksMaterials[b].specular[0] = 255;
        ksMaterials[b].specular[4] = 8;
        const std::vector<KSVector> quad = {{-40, -40, 0}, {40, -40, 0}, {40, 40, 0}, {-40, 40, 0}};
        object = MakeObject(quad, {TestFace{{0, 1, 2}, {0, 1, 1}, {0, 0, 1}, (uint16_t)a},
                                   TestFace{{0, 2, 3}, {0, 1, 0}, {0, 1, 1}, (uint16_t)b}});
        ASSERT_EQ(1, KS_BuildObjectBuffers(object));
        entity = MakeEntity(object);
        // A segment light straight ahead and a point light, through the active list as every frame.
        ASSERT_EQ(1, KS_InitLights(&ksActiveLights, 4));
        ASSERT_EQ(1, KS_InitLights(&scene, 2));
        KS_SetLightPosition(&scene, 0, 0, 0, 1000);
        KS_SetLightColour(&scene, 0, 1.0f, 0.5f, 0.25f);
        KS_SetLightStrength(&scene, 0, 1.0f / 1024);
        KS_SwitchLightOn(&scene, 0);
        KS_SetLightType(&scene, 1, KS_LIGHT_POINT);
        KS_SetLightPosition(&scene, 1, 10, 20, 30);
        KS_SetLightRange(&scene, 1, 500);
        KS_SwitchLightOn(&scene, 1);
        scene.count = 2;
        KS_TransformLights(&scene);
    }
    void TearDown() override {
        KS_FreeLights(&scene);
        TnlTest::TearDown();
    }
    // Transforms and draws the entity in a scene; returns the draw calls made.
    uint64_t Draw() {
        MarlixD3D8ResetCounters();
        ksGlobal.device->BeginScene();
        KS_TransformEntity(entity);
        KS_DrawObjectBuffers(entity);
        ksGlobal.device->EndScene();
        MarlixD3D8Counters counters;
        MarlixD3D8GetCounters(&counters);
        return counters.drawCalls;
    }
    KSLightList scene = {};
    KSObject* object = nullptr;
    KSEntity* entity = nullptr;
    int32_t a = 0, b = 0;
};

TEST_F(DrawTest, SegmentsAreDrawnWithTheEngineLightsAndTheirWorldMatrix) {
    KS_SetEntityPosition(entity, 5, 0, 0);
    ASSERT_EQ(2u, Draw()) << "one indexed draw per group";
    IDirect3DDevice8* d = ksGlobal.device;
    D3DLIGHT8 light;
    BOOL on = FALSE;
    ASSERT_EQ(D3D_OK, d->GetLight(0, &light));
    EXPECT_EQ(D3DLIGHT_DIRECTIONAL, light.Type);
    EXPECT_EQ(5.0f, light.Direction.x) << "from the light towards the segment";
    EXPECT_EQ(-1000.0f, light.Direction.z);
    EXPECT_FLOAT_EQ(1.0f, light.Diffuse.r) << "colour x strength x 1024";
    EXPECT_FLOAT_EQ(0.5f, light.Diffuse.g);
    d->GetLightEnable(0, &on);
    EXPECT_TRUE(on);
    ASSERT_EQ(D3D_OK, d->GetLight(1, &light));
    EXPECT_EQ(D3DLIGHT_POINT, light.Type);
    EXPECT_EQ(20.0f, light.Position.y);
    EXPECT_EQ(500.0f, light.Range);

    D3DMATRIX world;
    d->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(5.0f, world._41);
    EXPECT_EQ(1.0f, world._11);
    EXPECT_EQ(FALSE, State(D3DRS_NORMALIZENORMALS));
    EXPECT_EQ(TRUE, State(D3DRS_LIGHTING));
    EXPECT_EQ(FALSE, State(D3DRS_COLORVERTEX));
    EXPECT_EQ((DWORD)D3DCULL_NONE, State(D3DRS_CULLMODE)) << "culling is back off after the entity";
    // The last group's material: colour / 255, white ambient, its specular colour and power.
    D3DMATERIAL8 m;
    d->GetMaterial(&m);
    EXPECT_FLOAT_EQ(0.4f, m.Diffuse.g);
    EXPECT_FLOAT_EQ(128.0f / 255, m.Diffuse.a);
    EXPECT_EQ(1.0f, m.Ambient.b);
    EXPECT_EQ(1.0f, m.Specular.r);
    EXPECT_EQ(8.0f, m.Power);
    EXPECT_EQ(TRUE, State(D3DRS_SPECULARENABLE));

    // A scaled entity needs renormalised normals; lights gone from the active list go off.
    KS_SetEntityScale(entity, 2, 2, 2);
    KS_ClearActiveLights();
    ASSERT_EQ(2u, Draw());
    EXPECT_EQ(TRUE, State(D3DRS_NORMALIZENORMALS));
    d->GetLightEnable(0, &on);
    EXPECT_FALSE(on);
    d->GetLightEnable(1, &on);
    EXPECT_FALSE(on);
}

TEST_F(DrawTest, EachGroupSetsItsRenderMethodAndDepthWritesReturnAfterTheLightmapMethod) {
    ksMaterials[b].method = T_LIGHTMAP_ADD;   // its procedure switches depth writes off
    ASSERT_EQ(2u, Draw());
    EXPECT_EQ(TRUE, State(D3DRS_ZWRITEENABLE));
    EXPECT_EQ((DWORD)D3DBLEND_ONE, State(D3DRS_DESTBLEND)) << "the lightmap procedure's blend was set";
    EXPECT_EQ(&ksMaterials[b], ksGlobal.cachedMaterial);
}

TEST_F(DrawTest, AVertexColourMethodKeepsItsStatesFromEntityToEntity) {
    // Both groups share a procedure that draws the vertices' own colours: once cached it would
    // not set them again after the next entity switched to device lighting.
    KS_SetTransformMode(1);
    ksMaterials[a].method = ksMaterials[b].method = T_RGB_GOURAUD;
    for (int entityDrawn = 0; entityDrawn < 2; entityDrawn++) {
        ASSERT_EQ(2u, Draw());
        EXPECT_EQ(TRUE, State(D3DRS_COLORVERTEX)) << "entity " << entityDrawn;
        EXPECT_EQ(FALSE, State(D3DRS_LIGHTING));
    }
}

TEST_F(DrawTest, HiddenEntitiesInvisibleSegmentsAndMethodZeroAreNotDrawn) {
    ksMaterials[b].method = NULL_TYPE;
    EXPECT_EQ(1u, Draw());
    entity->flags |= KS_ENT_NOT_DRAWN;
    EXPECT_EQ(0u, Draw());
    entity->flags = 0;
    KS_SetEntityPosition(entity, 0, 0, 1000);  // behind the camera at z = 256
    EXPECT_EQ(0u, Draw());
    EXPECT_EQ(0u, object->segments[0].flags & KS_SEG_VISIBLE);
}

TEST_F(DrawTest, ShaderMaterialsOnDevicesBelowVertexShader1AreProcessedInSoftware) {
    KSMaterial* shiny = &ksMaterials[b];
    strcpy(shiny->vertexShaderName, "bumpy");
    ksGlobal.caps.vertexShaderVersion = 0xFFFE0101;
    ASSERT_EQ(1, KS_BuildObjectBuffers(object));
    EXPECT_EQ(0, object->bufferGroups[0].groups[1].first->software);
    ksGlobal.caps.vertexShaderVersion = 0xFFFE0000;
    ASSERT_EQ(1, KS_BuildObjectBuffers(object));
    const KSBufferList* plain = object->bufferGroups[0].groups[0].first;
    const KSBufferList* shader = object->bufferGroups[0].groups[1].first;
    EXPECT_EQ(0, plain->software);
    EXPECT_EQ(1, shader->software);
    D3DINDEXBUFFER_DESC desc;
    shader->indexBuffer->GetDesc(&desc);
    EXPECT_TRUE(desc.Usage & D3DUSAGE_SOFTWAREPROCESSING);
    plain->indexBuffer->GetDesc(&desc);
    EXPECT_FALSE(desc.Usage & D3DUSAGE_SOFTWAREPROCESSING);
    // Each buffer is drawn with its own vertex processing: the shader group comes last.
    ASSERT_EQ(2u, Draw());
    EXPECT_EQ(TRUE, State(D3DRS_SOFTWAREVERTEXPROCESSING));
    ksMaterials[b].method = NULL_TYPE;
    ASSERT_EQ(1u, Draw());
    EXPECT_EQ(FALSE, State(D3DRS_SOFTWAREVERTEXPROCESSING));
}
