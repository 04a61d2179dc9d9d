// Buffers built from faces: matching of pooled vertices, groups per material, vertex layout,
// the flush at the vertex limit, and release of every Direct3D object.
#include "tnl_test.h"

#include <string.h>

namespace {

// A unit quad in the z = 0 plane as two faces over vertices 0..3, coordinates 0..1.
const std::vector<KSVector> kQuad = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
TestFace QuadFace(int a, int b, int c, uint16_t material) {
    TestFace f = {{a, b, c}, {0, 0, 0}, {0, 0, 0}, material};
    for (int i = 0; i < 3; i++) {
        f.u[i] = kQuad[f.corners[i]].x;
        f.v[i] = kQuad[f.corners[i]].y;
    }
    return f;
}

int32_t ListCount(const KSMaterialGroup& group) {
    int32_t n = 0;
    for (const KSBufferList* l = group.first; l; l = l->next) n++;
    return n;
}

}  // namespace

TEST_F(TnlTest, CornersArePooledByPositionAndCoordinates) {
    int32_t m = AddMaterial("plain", T_GOURAUD, 200, 100, 50);
    // Shared edge 0-2 with the same coordinates: four buffer vertices for six corners.
    KSObject* same = MakeObject(kQuad, {QuadFace(0, 1, 2, (uint16_t)m), QuadFace(0, 2, 3, (uint16_t)m)});
    ASSERT_EQ(1, KS_BuildObjectBuffers(same));
    const KSBufferList* list = same->bufferGroups[0].groups[0].first;
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(4, list->vertexCount);
    EXPECT_EQ(6, list->indexCount);
    EXPECT_EQ(nullptr, list->next);
    const uint16_t expected[6] = {0, 1, 2, 0, 2, 3};
    EXPECT_EQ(0, memcmp(expected, list->indices, sizeof(expected)));
    EXPECT_EQ(std::vector<uint16_t>(expected, expected + 6), IndexData(list->indexBuffer, 6));

    // The second face gives corner 0 other coordinates: that position becomes two vertices, both
    // mapped back to segment vertex 0; normals and colours play no part in the match.
    TestFace moved = QuadFace(0, 2, 3, (uint16_t)m);
    moved.u[0] = 0.5f;
    KSObject* split = MakeObject(kQuad, {QuadFace(0, 1, 2, (uint16_t)m), moved},
                                 {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}});
    split->segments[0].faces[1].cornerValues[1] = 0x3F000000;  // 0.5: another colour for vertex 2
    ASSERT_EQ(1, KS_BuildObjectBuffers(split));
    list = split->bufferGroups[0].groups[0].first;
    EXPECT_EQ(5, list->vertexCount);
    EXPECT_EQ(0, list->vertexMap[0]);
    EXPECT_EQ(0, list->vertexMap[3]);
    EXPECT_EQ(5, split->bufferGroups[0].totalVertices);
    EXPECT_EQ(2, split->bufferGroups[0].totalTriangles);
}

TEST_F(TnlTest, FacesOfThreeMaterialsMakeThreeGroupsInAscendingOrder) {
    int32_t a = AddMaterial("a", T_GOURAUD, 255, 0, 0), b = AddMaterial("b", T_GOURAUD, 0, 255, 0),
            c = AddMaterial("c", T_GOURAUD, 0, 0, 255);
    std::vector<KSVector> positions;
    std::vector<TestFace> faces;
    const int32_t order[5] = {c, a, b, a, c};
    for (int f = 0; f < 5; f++) {
        for (int i = 0; i < 3; i++) positions.push_back(KSVector{(float)f, (float)i, 0});
        faces.push_back(TestFace{{3 * f, 3 * f + 1, 3 * f + 2}, {0, 1, 0}, {0, 0, 1}, (uint16_t)order[f]});
    }
    KSObject* o = MakeObject(positions, faces);
    // One extra layer whose first u tells the faces apart: it must move with its face.
    KSSegment* s = &o->segments[0];
    s->layerCount = 1;
    s->layers[0] = (float*)KS_Alloc(sizeof(float) * 6 * 5, "test", __LINE__);
    for (int f = 0; f < 5; f++) s->layers[0][f * 6] = 10.0f + f;
    ASSERT_EQ(1, KS_BuildObjectBuffers(o));

    const KSBufferGroup& group = o->bufferGroups[0];
    ASSERT_EQ(3, group.groupCount);
    EXPECT_EQ(a, group.groups[0].material);
    EXPECT_EQ(b, group.groups[1].material);
    EXPECT_EQ(c, group.groups[2].material);
    const int32_t faceCounts[3] = {2, 1, 2};
    for (int g = 0; g < 3; g++) {
        ASSERT_EQ(1, ListCount(group.groups[g]));
        EXPECT_EQ(3 * faceCounts[g], group.groups[g].first->indexCount);
    }
    for (int f = 0; f < 5; f++) {
        EXPECT_EQ(f < 2 ? a : f < 3 ? b : c, s->faces[f].material);
        int original = (int)s->faces[f].corners[0]->position.x;  // its number in the input
        EXPECT_EQ(10.0f + original, s->layers[0][f * 6]) << "layer of sorted face " << f;
    }
    EXPECT_EQ((uint32_t)KS_SEG_BUFFERS, s->flags & KS_SEG_BUFFERS);
}

TEST_F(TnlTest, VerticesAreLaidOutInTheDefaultFormat) {
    int32_t m = AddMaterial("lit", T_GOURAUD, 255, 128, 0, 64);
    KSObject* plain = MakeObject(kQuad, {QuadFace(0, 1, 2, (uint16_t)m)}, {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}});
    plain->segments[0].faces[0].cornerValues[2] = 0x3F000000;  // light value 0.5 on corner 2
    ASSERT_EQ(1, KS_BuildObjectBuffers(plain));
    const KSBufferList* list = plain->bufferGroups[0].groups[0].first;
    EXPECT_EQ(0x152u, list->format);
    EXPECT_EQ(36, list->stride);
    D3DVERTEXBUFFER_DESC desc;
    ASSERT_EQ(D3D_OK, list->vertexBuffer->GetDesc(&desc));
    EXPECT_EQ(0x152u, desc.FVF);
    EXPECT_EQ(3u * 36, desc.Size);
    EXPECT_EQ((DWORD)D3DPOOL_MANAGED, (DWORD)desc.Pool);
    EXPECT_TRUE(desc.Usage & D3DUSAGE_WRITEONLY);
    std::vector<float> v = VertexData(list);
    // Vertex 1: position, normal (1023 / 1024), diffuse, u, v.
    const float* v1 = &v[9];
    EXPECT_EQ(1.0f, v1[0]);
    EXPECT_EQ(0.0f, v1[1]);
    EXPECT_FLOAT_EQ(1023.0f / 1024, v1[4]);
    uint32_t colour;
    memcpy(&colour, &v1[6], 4);
    EXPECT_EQ(0x40FF8000u, colour);
    EXPECT_EQ(1.0f, v1[7]);
    EXPECT_EQ(0.0f, v1[8]);
    memcpy(&colour, &v[18 + 6], 4);
    EXPECT_EQ(0x40804000u, colour) << "corner light value 0.5 halves the material colour";

    // Two extra layers: three coordinate sets, set k read from layer k.
    KSObject* layered = MakeObject(kQuad, {QuadFace(0, 1, 2, (uint16_t)m)});
    KSSegment* s = &layered->segments[0];
    s->layerCount = 2;
    for (int k = 0; k < 2; k++) {
        s->layers[k] = (float*)KS_Alloc(sizeof(float) * 6, "test", __LINE__);
        for (int c = 0; c < 3; c++) {
            s->layers[k][c] = 100.0f * (k + 1) + c;      // u
            s->layers[k][3 + c] = -100.0f * (k + 1) - c; // v
        }
    }
    ASSERT_EQ(1, KS_BuildObjectBuffers(layered));
    list = layered->bufferGroups[0].groups[0].first;
    EXPECT_EQ(0x352u, list->format);
    EXPECT_EQ(52, list->stride);
    v = VertexData(list);
    const float* v2 = &v[2 * 13];
    EXPECT_EQ(1.0f, v2[7]);      // set 0 from the face
    EXPECT_EQ(1.0f, v2[8]);
    EXPECT_EQ(102.0f, v2[9]);    // set 1 from layer 1
    EXPECT_EQ(-102.0f, v2[10]);
    EXPECT_EQ(202.0f, v2[11]);   // set 2 from layer 2
    EXPECT_EQ(-202.0f, v2[12]);
}

TEST_F(TnlTest, APoolNearTheVertexLimitIsFlushedIntoANewBuffer) {
    int32_t m = AddMaterial("many", T_GOURAUD, 255, 255, 255);
    // 21846 faces of their own three vertices: 65538 vertices, more than one buffer holds.
    const int faces = 21846;
    std::vector<KSVector> positions;
    std::vector<TestFace> list;
    for (int f = 0; f < faces; f++) {
        for (int i = 0; i < 3; i++) positions.push_back(KSVector{(float)f, (float)i, 0});
        list.push_back(TestFace{{3 * f, 3 * f + 1, 3 * f + 2}, {0, 1, 0}, {0, 0, 1}, (uint16_t)m});
    }
    KSObject* o = MakeObject(positions, list);
    ASSERT_EQ(1, KS_BuildObjectBuffers(o));
    const KSBufferList* first = o->bufferGroups[0].groups[0].first;
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, first->next);
    EXPECT_EQ(nullptr, first->next->next);
    EXPECT_EQ(65532, first->vertexCount);  // flushed once the pool reached 65535 - 3
    EXPECT_EQ(6, first->next->vertexCount);
    EXPECT_EQ(65538, o->bufferGroups[0].totalVertices);
    EXPECT_EQ(faces, o->bufferGroups[0].totalTriangles);
    EXPECT_EQ(65531, first->vertexMap[65531]);
    EXPECT_EQ(65532, first->next->vertexMap[0]);
    for (const KSBufferList* l = first; l; l = l->next)
        for (int32_t i = 0; i < l->indexCount; i++) ASSERT_LT(l->indices[i], l->vertexCount);

    EXPECT_EQ(nullptr, MakeVertexBuffer(0x152, 36, 65536, 0)) << "no buffer beyond the limit";
    IDirect3DVertexBuffer8* largest = MakeVertexBuffer(0x152, 36, 65535, 0);
    EXPECT_NE(nullptr, largest);
    if (largest) largest->Release();
}

TEST_F(TnlTest, FreeingAnObjectReleasesEveryBuffer) {
    int objectsBefore = MarlixD3D8LiveObjects(), blocksBefore = KS_MemoryBlockCount();
    int32_t a = AddMaterial("a", T_GOURAUD, 255, 0, 0), b = AddMaterial("b", T_GOURAUD, 0, 255, 0);
    KSObject* o = MakeObject(kQuad, {QuadFace(0, 1, 2, (uint16_t)a), QuadFace(0, 2, 3, (uint16_t)b)});
    blocksBefore = KS_MemoryBlockCount();
    ASSERT_EQ(1, KS_BuildObjectBuffers(o));
    EXPECT_EQ(objectsBefore + 4, MarlixD3D8LiveObjects());  // a vertex and an index buffer a group
    ASSERT_EQ(1, KS_BuildObjectBuffers(o));                  // building again replaces the buffers
    EXPECT_EQ(objectsBefore + 4, MarlixD3D8LiveObjects());
    KS_FreeObjectBuffers(o);
    EXPECT_EQ(nullptr, o->bufferGroups);
    EXPECT_EQ(0u, o->segments[0].flags & KS_SEG_BUFFERS);
    EXPECT_EQ(objectsBefore, MarlixD3D8LiveObjects());
    EXPECT_EQ(blocksBefore, KS_MemoryBlockCount());
    ASSERT_EQ(1, KS_BuildObjectBuffers(o));
    objects.clear();
    KS_FreeObject(o);
    EXPECT_EQ(objectsBefore, MarlixD3D8LiveObjects());
}
