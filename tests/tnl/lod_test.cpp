// Level-of-detail index buffers of entities, and the tangent space of bump-mapped buffers.
#include "tnl_test.h"

#include <math.h>
#include <string.h>

namespace {

const std::vector<KSVector> kQuad = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

int32_t* Map(std::initializer_list<int32_t> values) {
    int32_t* map = (int32_t*)KS_Alloc((int32_t)(sizeof(int32_t) * values.size()), "test", __LINE__);
    int i = 0;
    for (int32_t v : values) map[i++] = v;
    return map;
}

}  // namespace

class LodTest : public TnlTest {
protected:
    // A quad of triangles (0, 1, 2) and (0, 2, 3) whose vertex 3 collapses into 2, 2 into 1 and 1
    // into 0 (map A); map B gives the vertex count below which each vertex is gone.
    KSBufferGroup* MakeQuad(uint8_t detailSwitch) {
        int32_t m = AddMaterial("lod", T_GOURAUD, 255, 255, 255);
        TestFace a = {{0, 1, 2}, {0, 1, 1}, {0, 0, 1}, (uint16_t)m}, b = {{0, 2, 3}, {0, 1, 0}, {0, 1, 1}, (uint16_t)m};
        object = MakeObject(kQuad, {a, b});
        EXPECT_EQ(1, KS_BuildObjectBuffers(object));
        KSBufferGroup* group = &object->bufferGroups[0];
        group->collapseA = Map({0, 0, 1, 2});
        group->collapseB = Map({0, 1, 3, 3});
        group->collapseCount = 4;
        group->detailSwitch = detailSwitch;
        return group;
    }
    std::vector<uint16_t> Drawn(KSEntity* e) {
        std::vector<uint16_t> all = IndexData(e->buffers->indexBuffers[0], 6);
        return std::vector<uint16_t>(all.begin(), all.begin() + 3 * e->buffers->triangles[0]);
    }
    KSObject* object = nullptr;
};

TEST_F(LodTest, EntityIndicesFollowTheCollapseMapsForTheDetailFactor) {
    int objectsBefore = MarlixD3D8LiveObjects();
    MakeQuad(1);
    KSEntity* e = MakeEntity(object);
    ASSERT_NE(nullptr, e->buffers);
    ASSERT_EQ(1, e->buffers->count);
    EXPECT_EQ(objectsBefore + 3, MarlixD3D8LiveObjects()) << "the object's two buffers and the entity's one";
    EXPECT_EQ((std::vector<uint16_t>{0, 1, 2, 0, 2, 3}), Drawn(e)) << "full detail keeps every vertex";

    // Three of four vertices kept: vertex 3 moves to 2, so the second triangle collapses.
    KS_SetEntityDetail(e, 0.75f);
    EXPECT_EQ(0.75f, e->detailFactor);
    EXPECT_EQ((std::vector<uint16_t>{0, 1, 2}), Drawn(e));
    KS_SetEntityDetail(e, 0.0f);
    EXPECT_TRUE(Drawn(e).empty());
    KS_SetEntityDetail(e, 7.0f);
    EXPECT_EQ(1.0f, e->detailFactor);
    EXPECT_EQ(6u, Drawn(e).size());
    // The object's own indices are never touched.
    const uint16_t original[6] = {0, 1, 2, 0, 2, 3};
    EXPECT_EQ(0, memcmp(original, object->bufferGroups[0].groups[0].first->indices, sizeof(original)));

    entities.clear();
    KS_FreeEntity(e);
    EXPECT_EQ(objectsBefore + 2, MarlixD3D8LiveObjects());
}

TEST_F(LodTest, TheDetailSwitchChoosesHowCollapsedIndicesAreFollowed) {
    KSBufferGroup* group = MakeQuad(1);
    const KSBufferList* list = group->groups[0].first;
    // Switch set: follow map A only while the vertex is not kept.
    EXPECT_EQ(2, KS_CollapseIndex(group, list, 3, 3));
    EXPECT_EQ(0, KS_CollapseIndex(group, list, 3, 1));
    EXPECT_EQ(1, KS_CollapseIndex(group, list, 1, 3));
    // Switch clear: follow map A while map B says the vertex is gone at this count.
    group->detailSwitch = 0;
    EXPECT_EQ(1, KS_CollapseIndex(group, list, 3, 3));
    EXPECT_EQ(3, KS_CollapseIndex(group, list, 3, 4));
    EXPECT_EQ(0, KS_CollapseIndex(group, list, 2, 0)) << "nothing kept";

    // Bad maps end: a cycle stops after total-vertices steps, a target outside the buffer keeps
    // the vertex, and an index offset moves the lookup into the segment's numbering.
    group->detailSwitch = 1;
    group->collapseA[2] = 3;
    group->collapseA[3] = 2;
    uint16_t cycled = KS_CollapseIndex(group, list, 3, 1);
    EXPECT_TRUE(cycled == 2 || cycled == 3);
    group->collapseA[3] = 1000;
    EXPECT_EQ(3, KS_CollapseIndex(group, list, 3, 2));
    group->collapseA[3] = -5;
    EXPECT_EQ(3, KS_CollapseIndex(group, list, 3, 2));
    KSBufferList shifted = *list;
    shifted.indexOffset = 1;
    group->collapseA[3] = 1;
    EXPECT_EQ(0, KS_CollapseIndex(group, &shifted, 2, 2)) << "segment vertex 3 collapses to 1, local 0";
}

TEST(Tangents, TangentSpaceOfAQuadFollowsItsCoordinates) {
    // Four 72-byte vertices of a quad in the z = 0 plane with u along x and v along y, the last
    // one with a normal facing away.
    float v[4][18];
    memset(v, 0, sizeof(v));
    const float corners[4][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
    for (int i = 0; i < 4; i++) {
        v[i][0] = corners[i][0];
        v[i][1] = corners[i][1];
        v[i][5] = i == 3 ? -1.0f : 1.0f;
        v[i][7] = corners[i][0] / 2;  // u
        v[i][8] = corners[i][1] / 2;  // v
        v[i][9] = 99.0f;              // stale tangent
    }
    const uint16_t indices[9] = {0, 1, 2, 0, 2, 3, 0, 1, 7};  // the last triangle names no vertex
    KS_ComputeTangents((uint8_t*)v, 4, indices, 9, 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(1.0f, v[i][9], 1e-6f) << i;   // tangent = +x
        EXPECT_NEAR(0.0f, v[i][10], 1e-6f);
        EXPECT_NEAR(1.0f, v[i][13], 1e-6f);       // binormal = +y
        EXPECT_NEAR(1.0f, v[i][17], 1e-6f);       // their cross product = +z, like the normal
    }
    EXPECT_NEAR(-1.0f, v[3][9], 1e-6f) << "turned with the normal";
    EXPECT_NEAR(1.0f, v[3][13], 1e-6f);
    EXPECT_NEAR(-1.0f, v[3][17], 1e-6f);

    const uint32_t wide[3] = {0, 1, 2};
    KS_ComputeTangents((uint8_t*)v, 4, wide, 3, 1);
    EXPECT_NEAR(1.0f, v[1][9], 1e-6f);
}
