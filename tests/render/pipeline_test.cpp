// The render pipeline on the software device: the state cache, alpha test and fog procedures,
// lighting a shared vertex once, validation on the device profiles, the deferred order, clipping,
// trivial rejection and welding.
#include "render_fixture.h"

#include <string.h>

namespace {

uint32_t White(int, int) {
    return 0xFFFFFFFFu;
}
uint32_t Clear(int, int) {   // colour-keyed: white with alpha 0
    return 0x00FFFFFFu;
}
uint32_t Red50(int, int) {
    return 0x80FF0000u;
}
uint32_t Blue50(int, int) {
    return 0x800000FFu;
}

class Pipeline : public RenderTest {
protected:
    DWORD State(D3DRENDERSTATETYPE state) {
        DWORD value = 0;
        ksGlobal.device->GetRenderState(state, &value);
        return value;
    }
    IDirect3DBaseTexture8* Bound(DWORD stage) {
        IDirect3DBaseTexture8* texture = nullptr;
        ksGlobal.device->GetTexture(stage, &texture);
        if (texture) texture->Release();
        return texture;
    }
    static uint64_t DrawCalls() {
        MarlixD3D8Counters counters;
        MarlixD3D8GetCounters(&counters);
        return counters.drawCalls;
    }
    // Draws faces first .. first + count - 1 of the entity's segment 0, transformed this frame.
    void DrawFaces(KSEntity* e, int first, int count) {
        memset(&ksSegmentInputs, 0, sizeof(ksSegmentInputs));
        KSSegment* s = &e->object->segments[0];
        KSGFX_RenderPolygons(s->faces + first, s->vertices, nullptr, count);
    }
    // A quad of the material at camera depth 300 + z, covering the screen centre.
    KSEntity* Quad(int32_t material, float z, float half = 40) {
        KSEntity* e = MakeEntity(MakeObject(QuadMesh(-half, -half, half, half), material));
        KS_SetEntityPosition(e, 0, 0, z);
        return e;
    }
};

// ---- State cache ----

TEST_F(Pipeline, FacesOfOneProcedureAndMaterialSetTheStatesOnce) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    int32_t t1 = AddTexture("one", 8, 8, White), t2 = AddTexture("two", 8, 8, White);
    int32_t a = AddMaterial(T_GOURAUD_TEXTURED8, 255, 255, 255, 255, t1);
    int32_t b = AddMaterial(T_GOURAUD_TEXTURED8, 255, 255, 255, 255, t2);
    int32_t flat = AddMaterial(T_FLAT);
    KSEntity* e = Quad(a, 0);
    KSFace* faces = e->object->segments[0].faces;
    BeginFrame();
    KS_TransformEntity(e);

    DrawFaces(e, 0, 1);
    EXPECT_EQ((DWORD)D3DSHADE_GOURAUD, State(D3DRS_SHADEMODE));
    EXPECT_EQ(ksTextures[t1].texture, Bound(0));
    // Whatever changes the device behind the cache's back stays while the cache holds.
    ksGlobal.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    ksGlobal.device->SetTexture(0, nullptr);
    DrawFaces(e, 1, 1);
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, State(D3DRS_SHADEMODE));
    EXPECT_EQ(nullptr, Bound(0));

    // Another material of the same procedure binds its textures and keeps the procedure's states.
    faces[1].material = (uint16_t)b;
    DrawFaces(e, 1, 1);
    EXPECT_EQ(ksTextures[t2].texture, Bound(0));
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, State(D3DRS_SHADEMODE));

    // Another procedure sets everything; coming back sets the first one's states again.
    faces[1].material = (uint16_t)flat;
    DrawFaces(e, 1, 1);
    EXPECT_EQ(nullptr, Bound(0));
    ksGlobal.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_PHONG);
    DrawFaces(e, 0, 1);
    EXPECT_EQ((DWORD)D3DSHADE_GOURAUD, State(D3DRS_SHADEMODE));

    // A new frame forgets the cache.
    ksGlobal.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_PHONG);
    KSGFX_FlushFrame();
    BeginFrame();
    DrawFaces(e, 0, 1);
    EXPECT_EQ((DWORD)D3DSHADE_GOURAUD, State(D3DRS_SHADEMODE));
    EndFrame();
}

// ---- Alpha test ----

TEST_F(Pipeline, ColourKeyedTexelsAreNotDrawnByAlphaTestProcedures) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    int32_t keyed = AddTexture("keyed", 8, 8, Clear);
    int32_t back = AddMaterial(T_CGOURAUD, 255, 0, 0);
    // Every procedure that tests alpha, by a method id that uses it.
    const int32_t tested[] = {T_LXTEXTURED, T_LXCFLAT_TEXTURED, T_XFLAT_TEXTURED, T_LXCGOURAUD_TEXTURED,
                              T_LXGOURAUD_TEXTURED, T_LXTRANSLUCENT_TEXTURED, T_FOG_XTEXTURED,
                              T_FOG_XFLAT_TEXTURED, T_FOG_XGOURAUD_TEXTURED, T_FOG_XTRANSLUCENT_TEXTURED};
    for (int32_t method : tested) {
        KSEntity* nearQuad = Quad(AddMaterial(method, 255, 255, 255, 255, keyed), 0);
        KSEntity* farQuad = Quad(back, 200);
        BeginFrame(0x000000);
        Draw(nearQuad);
        KS_FlushSorted();   // the near face is drawn first: a written depth would hide the far one
        Draw(farQuad);
        EndFrame();
        EXPECT_EQ(0xFF0000u, Pixel(80, 60)) << KS_MethodName(method);
    }
    // Blending alone draws the invisible texels and their depth: the far face is hidden.
    KSEntity* nearQuad = Quad(AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 0, keyed), 0);
    KSEntity* farQuad = Quad(back, 200);
    BeginFrame(0x000000);
    Draw(nearQuad);
    KS_FlushSorted();
    Draw(farQuad);
    EndFrame();
    EXPECT_EQ(0x000000u, Pixel(80, 60));
}

// ---- Fog by transparency ----

TEST_F(Pipeline, FogProceduresAreOpaqueBeforeTheFogStartAndBlendedBeyond) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    int32_t white = AddTexture("white", 8, 8, White);
    KS_SetFogColour(0x000000FFu);
    KS_SetFogRange(450, 700);
    KS_SetFog(1);
    const int32_t toggles[] = {T_FOG_GOURAUD, T_FOG_TEXTURED, T_FOG_FLAT_TEXTURED, T_FOG_GOURAUD_TEXTURED,
                               T_FOG_RGB_GOURAUD, T_FOG_RGB_TEXTURED, T_FOG_RGB_GOURAUD_DYN, T_FOG_RGB_TEXTURED_DYN};
    for (int32_t method : toggles) {
        int32_t material = AddMaterial(method, 255, 255, 255, 255, white);
        // Depth 300: every corner before the fog start.
        KSEntity* nearQuad = Quad(material, 0);
        BeginFrame(0x000000);
        Draw(nearQuad);
        EXPECT_EQ(0u, State(D3DRS_ALPHABLENDENABLE)) << KS_MethodName(method);
        EndFrame();
        uint32_t opaque = Pixel(80, 60);
        // Depth 600: the corners are fogged part way, and the face is blended with what is behind.
        KSEntity* farQuad = Quad(material, 300, 80);
        BeginFrame(0x000000);
        Draw(farQuad);
        EXPECT_EQ(1u, State(D3DRS_ALPHABLENDENABLE)) << KS_MethodName(method);
        EndFrame();
        uint32_t fogged = Pixel(80, 60);
        // The vertex-colour methods draw the vertices' own colours, which nothing set here.
        if (Red(opaque) == 0) continue;
        EXPECT_GT(Red(fogged), 0) << KS_MethodName(method);
        EXPECT_LT(Red(fogged), Red(opaque)) << KS_MethodName(method);
    }
    KS_SetFog(0);
}

// ---- Lighting ----

TEST_F(Pipeline, AVertexSharedByFacesOfOneMaterialIsLitOnce) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    KSEntity* e = Quad(AddMaterial(T_GOURAUD, 200, 200, 200), 0);
    KSSegment* s = &e->object->segments[0];
    KSWorkVertex* shared = s->vertices[0].work;   // in both faces
    KSWorkVertex* own = s->vertices[3].work;      // in the second face only
    ASSERT_EQ(&s->vertices[0], s->faces[1].corners[0]);
    BeginFrame();
    KS_TransformEntity(e);
    KS_SetAmbient(10, 10, 10);
    DrawFaces(e, 0, 1);
    float first = shared->r;
    KS_SetAmbient(120, 120, 120);
    DrawFaces(e, 1, 1);
    EXPECT_EQ(first, shared->r) << "lit again";
    EXPECT_GT(own->r, first + 100) << "the unshared vertex sees the new ambient light";

    // A corner with a light value of its own is lit for every face.
    float half = 0.5f;
    memcpy(&s->faces[1].cornerValues[0], &half, sizeof(half));
    DrawFaces(e, 1, 1);
    EXPECT_GT(shared->r, first + 100);
    EndFrame();
}

// ---- Validation ----

// The last candidate of each validated id on devices other than the three-stage one.
struct LastCandidate {
    int32_t id;
    int32_t procedure;
};
const LastCandidate kLast[] = {
    {107, 1107}, {108, 1108}, {109, 2109}, {110, 2110}, {111, 2111}, {112, 2112}, {124, 1124},
    {125, 1125}, {126, 2126}, {127, 2127}, {128, 2128}, {129, 2129}, {96, 1107}, {97, 2110},
    {98, 2110},  {99, 2110},  {100, 1108}, {101, 2111}, {102, 2111}, {103, 2111}, {130, 2112},
    {113, 1124}, {114, 2127}, {115, 2127}, {116, 2127}, {117, 1125}, {118, 2128}, {119, 2128},
    {120, 2128},
};

TEST_F(Pipeline, OnOneTextureEveryValidatedIdEndsOnTwoPassesOrItsLastCandidate) {
    StartEngine(MARLIX_PROFILE_SINGLE_TEXTURE);
    ASSERT_EQ(1, ksGlobal.caps.singleTexture);
    for (const LastCandidate& c : kLast) {
        const KSRenderMethod& m = ksRenderMethods[c.id];
        EXPECT_TRUE(m.passes == 2 || m.procedure == KS_MethodRow(c.procedure)) << c.id;
        int bump = (c.id >= 96 && c.id <= 103) || (c.id >= 113 && c.id <= 120) || c.id == 130;
        EXPECT_EQ(bump, m.extraTexture) << c.id;
    }
    // Ids outside the lists keep their default procedure and one pass.
    EXPECT_EQ(KS_MethodRow(30), ksRenderMethods[T_GOURAUD_TEXTURED8].procedure);
    EXPECT_EQ(1, ksRenderMethods[T_GOURAUD_TEXTURED8].passes);
    EXPECT_EQ(1, ksRenderMethods[T_TRANSLUCENT_TEXTURED].deferred);
}

TEST_F(Pipeline, ThreeStagesAndTwoTexturesTakeTheirOwnList) {
    StartEngine(MARLIX_PROFILE_THREE_STAGES);
    // Set without validation.
    for (int32_t id : {107, 108, 109, 110, 111, 124, 125, 126, 127, 128})
        EXPECT_EQ(KS_MethodRow(1000 + id), ksRenderMethods[id].procedure) << id;
    // Validated: the bump methods fail on the test textures and take the device's own candidates.
    EXPECT_EQ(KS_MethodRow(36), ksRenderMethods[104].procedure);
    EXPECT_EQ(KS_MethodRow(69), ksRenderMethods[105].procedure);
    EXPECT_EQ(0, ksRenderMethods[104].extraTexture);
    EXPECT_EQ(KS_MethodRow(1107), ksRenderMethods[96].procedure);
    EXPECT_EQ(1, ksRenderMethods[96].extraTexture);
    // The default device validates 107 as it is, and its bump id 96 on 107's procedure.
    StartEngine(MARLIX_PROFILE_DEFAULT);
    EXPECT_EQ(KS_MethodRow(107), ksRenderMethods[107].procedure);
    EXPECT_EQ(KS_MethodRow(107), ksRenderMethods[96].procedure);
    EXPECT_EQ(KS_MethodRow(104), ksRenderMethods[104].procedure) << "not validated here";
}

// ---- Deferred faces ----

TEST_F(Pipeline, DeferredFacesWaitForTheFlushAndAreDrawnFarFirst) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    KSEntity* nearQuad = Quad(AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 128, AddTexture("r", 8, 8, Red50)), 0);
    KSEntity* farQuad = Quad(AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 128, AddTexture("b", 8, 8, Blue50)), 100);
    BeginFrame(0x000000);
    MarlixD3D8ResetCounters();
    Draw(nearQuad);   // queued first
    Draw(farQuad);
    EXPECT_EQ(4, KS_DeferredCount());
    EXPECT_EQ(0u, DrawCalls());
    EndFrame();
    EXPECT_EQ(0, KS_DeferredCount());
    // Blue at half over black, then red at half over that: (128, 0, 64). Near first would give
    // (64, 0, 128).
    uint32_t p = Pixel(80, 60);
    EXPECT_NEAR(128, Red(p), 2);
    EXPECT_EQ(0, Green(p));
    EXPECT_NEAR(64, Blue(p), 2);
}

TEST_F(Pipeline, AFullDeferredListGrowsWithItsSortArrays) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    int32_t glass = AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 128, AddTexture("r", 8, 8, Red50));
    KS_GetMaterial(glass)->doubleSided = 1;
    KSEntity* e = MakeEntity(MakeObject(SphereMesh(80, 62, 60), glass));   // 7320 faces
    int32_t faces = e->object->segments[0].faceCount;
    ASSERT_GT(faces, ksGlobal.polygonCapacity);
    BeginFrame(0x000000);
    Draw(e);
    EXPECT_EQ(faces, KS_DeferredCount());
    EXPECT_GE(ksGlobal.polygonCapacity, faces);
    EXPECT_EQ(0, ksGlobal.polygonCapacity % 100);
    EndFrame();
    // Front and back of the sphere at half each over black: more red than one layer gives.
    EXPECT_GT(Red(Pixel(80, 60)), 0x90);
}

// ---- Clipping and rejection ----

TEST_F(Pipeline, OneVertexBehindTheNearPlaneGivesTwoTriangles) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    Mesh m;
    m.positions = {{-50, -50, 0}, {50, -50, 0}, {0, 0, -295}};   // the last at depth 5
    m.normals.assign(3, KSVector{0, 0, -1});
    m.faces.push_back(MeshFace{{0, 2, 1}, {0, 0, 0}, {0, 0, 0}});
    int32_t opaque = AddMaterial(T_GOURAUD, 255, 255, 255);
    KS_GetMaterial(opaque)->doubleSided = 1;
    KSEntity* e = MakeEntity(MakeObject(m, opaque));
    BeginFrame();
    KS_TransformEntity(e);
    ASSERT_EQ(KS_CLIP_NEAR, e->object->segments[0].vertices[2].work->code);
    MarlixD3D8ResetCounters();
    KS_RenderEntity(e);
    EXPECT_EQ(2u, DrawCalls());

    // A deferred face is queued as two pieces, each with its own key.
    int32_t translucent = AddMaterial(T_TRANSLUCENT_TEXTURED, 255, 255, 255, 128);
    KS_GetMaterial(translucent)->doubleSided = 1;
    e->object->segments[0].faces[0].material = (uint16_t)translucent;
    KS_RenderEntity(e);
    ASSERT_EQ(2, KS_DeferredCount());
    EXPECT_NE(ksGlobal.sortKeys[0], ksGlobal.sortKeys[1]);

    // One corner beyond the left and the top plane: clipped twice, up to four triangles.
    Mesh corner;
    corner.positions = {{-400, 1000, 0}, {0, 0, 0}, {-20, -30, 0}};
    corner.normals.assign(3, KSVector{0, 0, -1});
    corner.faces.push_back(MeshFace{{0, 1, 2}, {0, 0, 0}, {0, 0, 0}});
    KSEntity* straddle = MakeEntity(MakeObject(corner, opaque));
    KS_TransformEntity(straddle);
    ASSERT_EQ(KS_CLIP_LEFT | KS_CLIP_TOP, straddle->object->segments[0].vertices[0].work->code);
    MarlixD3D8ResetCounters();
    KS_RenderEntity(straddle);
    EXPECT_GE(DrawCalls(), 3u);
    EXPECT_LE(DrawCalls(), 4u);

    // All three corners beyond the same side plane: nothing.
    KS_SetEntityPosition(e, -2000, 0, 0);
    KS_TransformEntity(e);
    e->object->segments[0].flags |= KS_SEG_VISIBLE;
    e->object->segments[0].faces[0].material = (uint16_t)opaque;
    MarlixD3D8ResetCounters();
    KS_RenderEntity(e);
    EXPECT_EQ(0u, DrawCalls());
    EndFrame();
}

TEST_F(Pipeline, ClipVertexMeetsThePlaneAndRetestsThePlanesBelow) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    KS_UpdateCamera(camera_);
    KSClipVertex a, b, out;
    memset(&a, 0, sizeof(a));
    memset(&b, 0, sizeof(b));
    a.w.z = 5;    // before the near plane at 10
    a.w.cx = 40;  // and right of x = z
    a.w.u = 0;
    a.uv[0][0] = 1;
    b.w.z = 25;
    b.w.cx = 0;
    b.w.u = 1;
    b.uv[0][0] = 3;
    KS_ClipVertex(KS_CLIP_NEAR, &a, &b, &out);
    EXPECT_FLOAT_EQ(10.0f, out.w.z);
    EXPECT_FLOAT_EQ(30.0f, out.w.cx);
    EXPECT_FLOAT_EQ(0.25f, out.w.u);
    EXPECT_FLOAT_EQ(1.5f, out.uv[0][0]);
    EXPECT_EQ(KS_CLIP_NEW | KS_CLIP_RIGHT, out.w.code);
}

TEST_F(Pipeline, FacesOffOneEdgeAreRejectedBeforeTheirMaterialIsRead) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    KSEntity* e = Quad(AddMaterial(T_TRANSLUCENT_TEXTURED), 0);
    KSFace* faces = e->object->segments[0].faces;
    BeginFrame();
    KS_TransformEntity(e);
    for (int i = 0; i < 4; i++) e->object->segments[0].vertices[i].work->code = KS_CLIP_LEFT;
    // Not even a material index outside the table is looked at.
    faces[1].material = 60000;
    MarlixD3D8ResetCounters();
    DrawFaces(e, 0, 2);
    EXPECT_EQ(0, KS_DeferredCount());
    // On screen, the bad index is skipped and the good face queued.
    KS_TransformEntity(e);
    DrawFaces(e, 0, 2);
    EXPECT_EQ(1, KS_DeferredCount()) << "face 0 queued, face 1 skipped";
    EndFrame();
}

TEST_F(Pipeline, BackFacesMethodZeroAndDoubleSidedMaterials) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    int32_t material = AddMaterial(T_FLAT, 255, 255, 255);
    KSEntity* e = Quad(material, 0);
    KS_RotateEntity(e, 0, 180, 0);   // turned away from the camera
    BeginFrame();
    MarlixD3D8ResetCounters();
    Draw(e);
    EXPECT_EQ(0u, DrawCalls());
    KS_GetMaterial(material)->doubleSided = 1;
    Draw(e);
    EXPECT_EQ(2u, DrawCalls());
    KS_GetMaterial(material)->method = NULL_TYPE;
    Draw(e);
    EXPECT_EQ(2u, DrawCalls());
    EndFrame();
}

TEST_F(Pipeline, FacesWhoseWeldedCornersCollapseAreSkipped) {
    StartEngine(MARLIX_PROFILE_DEFAULT);
    KSEntity* e = Quad(AddMaterial(T_FLAT, 255, 255, 255), 0);
    KSSegment* s = &e->object->segments[0];
    // Vertex 3 welds into vertex 2 once fewer than 4 vertices are kept.
    int32_t remap[4] = {0, 1, 2, 2}, weights[4] = {0, 1, 2, 3};
    s->lodRemap = remap;
    s->lodWeights = weights;
    s->lodCount = 4;
    BeginFrame();
    KS_TransformEntity(e);
    MarlixD3D8ResetCounters();
    KS_RenderEntity(e);
    EXPECT_EQ(2u, DrawCalls()) << "all vertices kept";
    ksGlobal.lodFactor = 0.75f;
    MarlixD3D8ResetCounters();
    KS_RenderEntity(e);
    EXPECT_EQ(1u, DrawCalls()) << "the face on vertices 0, 2, 3 collapsed";
    // A chain that leaves the arrays welds nothing.
    remap[3] = 99;
    MarlixD3D8ResetCounters();
    KS_RenderEntity(e);
    EXPECT_EQ(2u, DrawCalls());
    ksGlobal.lodFactor = 1.0f;
    s->lodRemap = nullptr;
    s->lodWeights = nullptr;
    EndFrame();
}

}  // namespace
