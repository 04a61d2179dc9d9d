// Entities: placement order, rotation, key-frame posing, culling, projection and the hierarchy.
#include "scene_fixture.h"

namespace {

class EntityTest : public SceneTest {};

TEST_F(EntityTest, NewEntityTransformsByTheBaseTranslationThenThePosition)
{
    KSObject* o = MakeObject(1, {{1, 0, 0}, {0, 0, 0}});
    o->segments[0].base.m[12] = 10;   // the segment's rest position
    o->segments[0].flags |= KS_SEG_NO_CULL;
    KSEntity* e = MakeEntity(o, "Scene ONE");
    EXPECT_STREQ(e->name, "scene one");
    EXPECT_VEC3(e->scale, 1, 1, 1, 0);
    EXPECT_VEC3(e->states[0].position, 10, 0, 0, 0);
    KS_SetEntityPosition(e, 1, 2, 3);
    KS_TransformEntity(e);

    const KSSegment& s = o->segments[0];
    KSWorkVertex w;
    KSM_TransformPoint(&s.vertices[0].position, &s.world, &w);
    EXPECT_VEC3((KSVector{w.cx, w.cy, w.z}), 12, 2, 3, 1e-5f);

    // The default camera at (0, 0, 256) looks at the origin: camera x = -world x, z = 256 - world z,
    // both scaled by the projection (x by 1/tan 30, y by aspect 1.6 / tan 30).
    const KSWorkVertex& v = s.work[0];
    EXPECT_NEAR(v.cx, -12 * kCot30, 1e-3f);
    EXPECT_NEAR(v.cy, 2 * 1.6f * kCot30, 1e-3f);
    EXPECT_NEAR(v.z, 253, 1e-3f);
    EXPECT_EQ(v.marker, KS_WV_TRANSFORMED);
    EXPECT_EQ(v.code, 0);
    EXPECT_FLOAT_EQ(v.rhw, 1.0f / 253);
    EXPECT_NEAR(v.sx, 160 + 160 * (-12 * kCot30) / 253, 1e-3f);
    EXPECT_NEAR(v.sy, 100 - 100 * (2 * 1.6f * kCot30) / 253, 1e-3f);
    EXPECT_TRUE(s.flags & KS_SEG_VISIBLE);
    EXPECT_TRUE(s.flags & KS_SEG_UNCLIPPED);

    // Scale and rotation act before the translation: E = S . R . T.
    KS_SetEntityScale(e, 2, 2, 2);
    KS_RotateEntity(e, 0, 0, 90);
    KS_TransformEntity(e);
    KSM_TransformPoint(&s.vertices[0].position, &s.world, &w);
    EXPECT_VEC3((KSVector{w.cx, w.cy, w.z}), 1, 24, 3, 1e-4f);
}

TEST_F(EntityTest, RotateThenUnrotateGivesTheIdentity)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSEntity* e = MakeEntity(o);
    KS_RotateEntity(e, 0, 90, 0);
    EXPECT_EQ(e->renormalise, KS_RENORMALISE_EVERY) << "the first rotation re-orthonormalises";
    KS_RotateEntity(e, 0, -90, 0);
    EXPECT_EQ(e->renormalise, KS_RENORMALISE_EVERY - 1);
    for (int i = 0; i < 16; i++)
        EXPECT_NEAR(e->rotation.m[i], (i % 5 == 0) ? 1.0f : 0.0f, 1e-6f) << i;
    EXPECT_VEC3(e->angles, 0, 0, 0, 0);

    // The increments act about the entity's own axes: after a turn of 90 about y, a turn about
    // its x axis tips the old z axis.
    KS_RotateEntity(e, 0, 90, 0);
    KS_RotateEntity(e, 90, 0, 0);
    KSVector z = {0, 0, 1}, r;
    KS_RotateVector(&r, &z, &e->rotation);
    EXPECT_VEC3(r, 0, -1, 0, 1e-5f);

}

class AnimationTest : public SceneTest {
protected:
    KSSegment* Track(KSObject* o, std::vector<KSKey> positions)
    {
        KSSegment* s = &o->segments[0];
        s->positionKeys = Keys(positions);
        s->positionKeyCount = (int32_t)positions.size();
        o->lastFrame = positions.back().frame;
        return s;
    }
};

TEST_F(AnimationTest, LoopingAndClampedFrames)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSSegment* s = Track(o, {Key(0, 0, 0, 0, 0, KS_KEY_LINEAR), Key(100, 100, 0, 0, 0, KS_KEY_LINEAR)});
    s->pivot = KSVector{1, 0, 0};
    KSEntity* e = MakeEntity(o);
    EXPECT_VEC3(e->states[0].position, -1, 0, 0, 1e-5f);   // created at frame 0, less the pivot
    KS_AnimateEntity(e, 150);
    EXPECT_VEC3(e->states[0].position, 100 - 1, 0, 0, 1e-4f);   // without the loop flag: clamped
    s->flags |= KS_SEG_LOOP;
    KS_AnimateEntity(e, 150);
    EXPECT_VEC3(e->states[0].position, 50 - 1, 0, 0, 1e-4f);   // looping: frame 150 is frame 50
    KS_AnimateEntity(e, 25);
    EXPECT_VEC3(e->states[0].position, 25 - 1, 0, 0, 1e-4f);
}

TEST_F(AnimationTest, OneKeyTracksHoldTheirValue)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSSegment* s = Track(o, {Key(30, 4, 5, 6)});
    s->scaleKeys = Keys({Key(0, 2, 3, 4)});
    s->scaleKeyCount = 1;
    float h = sqrtf(0.5f);
    s->rotationKeys = Keys({Key(10, 0, 0, h, h)});
    s->rotationKeyCount = 1;
    KSEntity* e = MakeEntity(o);
    for (int frame : {0, 30, 31, 1000}) {
        KS_AnimateEntity(e, frame);
        EXPECT_VEC3(e->states[0].position, 4, 5, 6, 1e-5f) << frame;
        EXPECT_VEC3(e->states[0].scale, 2, 3, 4, 1e-5f) << frame;
        EXPECT_NEAR(e->states[0].rotation.m[1], -1, 1e-5f) << frame;
    }
}

TEST_F(AnimationTest, LinearAndSplineKeys)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    // Keys at 0, 10, 20 on a hill 0, 100, 0; the key at 20 is reached linearly.
    Track(o, {Key(0, 0, 0, 0), Key(10, 100, 0, 0), Key(20, 0, 0, 0, 0, KS_KEY_LINEAR)});
    KSEntity* e = MakeEntity(o);
    KS_AnimateEntity(e, 15);
    EXPECT_NEAR(e->states[0].position.x, 50, 1e-4f);
    // Into the key at 10 by the spline: halfway, D = 100 (first key) and G = 0 (the hill top) give
    // 0.5 * 0 + 0.5 * 100 + 0.125 * 100 - 0.125 * 0.
    KS_AnimateEntity(e, 5);
    EXPECT_NEAR(e->states[0].position.x, 62.5f, 1e-4f);
    KS_AnimateEntity(e, 10);
    EXPECT_NEAR(e->states[0].position.x, 100, 1e-4f);

    // Full tension flattens both tangents: the smooth step h2 = 3f^2 - 2f^3.
    KSSegment* s = &o->segments[0];
    for (int k = 0; k < 3; k++)
        s->positionKeys[k].tension = 1;
    KS_AnimateEntity(e, 5);
    EXPECT_NEAR(e->states[0].position.x, 50, 1e-4f);
    KS_AnimateEntity(e, 2);   // f = 0.2
    EXPECT_NEAR(e->states[0].position.x, 100 * (3 * 0.04f - 2 * 0.008f), 1e-3f);
}

TEST_F(AnimationTest, RotationKeysAreChainedAndSlerped)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSSegment* s = &o->segments[0];
    float h = sqrtf(0.5f);
    // Relative turns of 90 degrees about z at frames 0 (from nothing), 100 and 200.
    s->rotationKeys = Keys({Key(0, 0, 0, 0, 1), Key(100, 0, 0, h, h), Key(200, 0, 0, h, h)});
    s->rotationKeyCount = 3;
    o->lastFrame = 200;
    KSEntity* e = MakeEntity(o);
    EXPECT_NEAR(s->rotationKeys[2].absolute.z, 1, 1e-5f) << "180 degrees after two turns";
    EXPECT_NEAR(s->rotationKeys[2].absolute.w, 0, 1e-5f);
    MakeEntity(o);
    EXPECT_NEAR(s->rotationKeys[2].absolute.z, 1, 1e-5f) << "a second entity must not chain again";

    KS_AnimateEntity(e, 50);   // 45 degrees about z
    const KSMatrix& m = e->states[0].rotation;
    EXPECT_NEAR(m.m[0], h, 1e-5f);
    EXPECT_NEAR(fabsf(m.m[1]), h, 1e-5f);
    EXPECT_NEAR(m.m[10], 1, 1e-5f);
}

TEST_F(AnimationTest, BadKeyCountsAreEmptyTracks)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSSegment* s = &o->segments[0];
    s->positionKeyCount = 5;   // no key array
    s->scaleKeys = Keys({Key(0, 2, 2, 2)});
    s->scaleKeyCount = -3;
    o->lastFrame = 10;
    KSEntity* e = MakeEntity(o);
    KS_AnimateEntity(e, 7);
    EXPECT_VEC3(e->states[0].position, 0, 0, 0, 0);
    EXPECT_VEC3(e->states[0].scale, 1, 1, 1, 0);
}

class TransformTest : public SceneTest {};

TEST_F(TransformTest, HiddenEntityLeavesWorkVerticesAlone)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}, {5, 5, 5}});
    KSEntity* e = MakeEntity(o);
    memset(o->segments[0].work, 0x5A, 2 * sizeof(KSWorkVertex));
    e->flags |= KS_ENT_HIDDEN;
    KS_TransformEntity(e);
    for (size_t i = 0; i < 2 * sizeof(KSWorkVertex); i++)
        ASSERT_EQ(((uint8_t*)o->segments[0].work)[i], 0x5A) << i;
    e->flags &= ~KS_ENT_HIDDEN;
    KS_TransformEntity(e);
    EXPECT_EQ(o->segments[0].work[0].marker, KS_WV_TRANSFORMED);
}

TEST_F(TransformTest, BoxCullingAndClipCodes)
{
    // A box well beyond the far plane (the camera looks down -z from z = 256).
    KSObject* o = MakeObject(1, {{-10, -10, -70000}, {10, 10, -69990}});
    KSEntity* e = MakeEntity(o);
    KSSegment& s = o->segments[0];
    memset(s.work, 0, 2 * sizeof(KSWorkVertex));
    KS_TransformEntity(e);
    EXPECT_FALSE(s.flags & KS_SEG_VISIBLE);
    EXPECT_EQ(s.work[0].marker, 0) << "a culled segment's vertices are not transformed";
    s.flags |= KS_SEG_NO_CULL;
    KS_TransformEntity(e);
    EXPECT_TRUE(s.flags & KS_SEG_VISIBLE);
    EXPECT_EQ(s.work[0].code, KS_CLIP_FAR);
    EXPECT_FALSE(s.flags & KS_SEG_UNCLIPPED);

    // Behind the eye: near code alone, and it does not count as clipped.
    KSObject* behind = MakeObject(1, {{0, 0, 300}, {0, 0, 250}});
    behind->segments[0].flags |= KS_SEG_NO_CULL;
    KSEntity* b = MakeEntity(behind);
    KS_TransformEntity(b);
    EXPECT_EQ(behind->segments[0].work[0].code, KS_CLIP_NEAR);
    EXPECT_EQ(behind->segments[0].work[1].code, KS_CLIP_NEAR);
    EXPECT_TRUE(behind->segments[0].flags & KS_SEG_UNCLIPPED);

    // Off to the side: x beyond the right plane, clamped screen positions are not written.
    KSObject* side = MakeObject(1, {{-1000, 0, 0}, {0, 0, 0}});
    KSEntity* sd = MakeEntity(side);
    KS_TransformEntity(sd);
    EXPECT_TRUE(side->segments[0].flags & KS_SEG_VISIBLE) << "the box crosses the view";
    EXPECT_EQ(side->segments[0].work[0].code, KS_CLIP_RIGHT);
    EXPECT_EQ(side->segments[0].work[1].code, 0);
    EXPECT_NEAR(side->segments[0].work[1].sx, 160, 1e-4f);
    EXPECT_NEAR(side->segments[0].work[1].sy, 100, 1e-4f);
}

TEST_F(TransformTest, ViewNormalsFollowTheRotation)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSSegment& s = o->segments[0];
    s.flags |= KS_SEG_VIEW_NORMALS;
    s.vertices[0].normal = KSPackedNormal{1023, 0, 0};
    KSEntity* e = MakeEntity(o);
    KS_RotateEntity(e, 0, 0, 90);
    KS_TransformEntity(e);
    EXPECT_EQ(s.vertices[0].viewNormal.x, 0);
    EXPECT_EQ(s.vertices[0].viewNormal.y, 1023);
    EXPECT_EQ(s.vertices[0].viewNormal.z, 0);
}

TEST_F(TransformTest, LevelOfDetailTransformsPartButTurnsEveryNormal)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    KSSegment& s = o->segments[0];
    s.flags |= KS_SEG_VIEW_NORMALS | KS_SEG_NO_CULL;
    s.lodRemap = (int32_t*)KS_Alloc(4 * sizeof(int32_t), "test", __LINE__);
    s.lodWeights = (int32_t*)KS_Alloc(4 * sizeof(int32_t), "test", __LINE__);
    s.lodCount = 4;
    for (int i = 0; i < 4; i++)
        s.vertices[i].normal = KSPackedNormal{1023, 0, 0};
    KSEntity* e = MakeEntity(o);
    KS_RotateEntity(e, 0, 0, 90);
    memset(s.work, 0, 4 * sizeof(KSWorkVertex));
    ksGlobal.lodFactor = 0.5f;
    KS_TransformEntity(e);
    EXPECT_EQ(s.work[1].marker, KS_WV_TRANSFORMED);
    EXPECT_EQ(s.work[2].marker, 0u) << "only vertex count x detail factor vertices are transformed";
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(s.vertices[i].viewNormal.y, 1023) << i;
    ksGlobal.lodFactor = 3.0f;   // never more than the vertices there are
    KS_TransformEntity(e);
    EXPECT_EQ(s.work[3].marker, KS_WV_TRANSFORMED);
}

TEST_F(TransformTest, LongSiblingChainsDoNotExhaustTheStack)
{
    // One sibling chain through every segment of a large object: the walk is bounded, and the
    // top-level pass still reaches the segments beyond the bound, each transformed once.
    const int n = 30000;
    KSObject* o = MakeObject(n, {});
    for (int i = 0; i + 1 < n; i++)
        o->segments[i].nextSibling = &o->segments[i + 1];
    for (int i = 0; i < n; i++)
        o->segments[i].flags |= KS_SEG_NO_CULL;
    KSEntity* e = MakeEntity(o);
    KS_TransformEntity(e);
    int visible = 0;
    for (int i = 0; i < n; i++)
        visible += (o->segments[i].flags & KS_SEG_VISIBLE) ? 1 : 0;
    EXPECT_EQ(visible, n);
}

TEST_F(TransformTest, SiblingsBeforeChildrenAndLinksChecked)
{
    // 0 -> child 1; 0 -> sibling 2; 1 names 2 as its child as well. Siblings go first, so 2 is
    // placed as 0's sibling (parent world = the entity), and the later path through 1 is ignored.
    KSObject* o = MakeObject(3, {{0, 0, 0}});
    KSSegment* s = o->segments;
    s[0].firstChild = &s[1];
    s[0].nextSibling = &s[2];
    s[1].firstChild = &s[2];
    s[1].flags |= KS_SEG_CHILD_ONLY;
    s[2].flags |= KS_SEG_CHILD_ONLY;
    for (int i = 0; i < 3; i++)
        s[i].flags |= KS_SEG_NO_CULL;
    KSEntity* e = MakeEntity(o);
    KS_SetSegmentPosition(e, 0, 100, 0, 0);
    KS_SetSegmentPosition(e, 1, 10, 0, 0);
    KS_SetSegmentPosition(e, 2, 1, 0, 0);
    KS_SetSegmentPosition(e, 7, 1, 1, 1);   // no such segment: ignored
    KS_TransformEntity(e);
    EXPECT_NEAR(s[0].world.m[12], 100, 1e-5f);
    EXPECT_NEAR(s[1].world.m[12], 110, 1e-5f) << "a child inherits its parent's world";
    EXPECT_NEAR(s[2].world.m[12], 1, 1e-5f) << "reached first as a sibling";

    // A cycle of sibling links ends, and a link outside the object is not followed.
    s[2].nextSibling = &s[0];
    s[1].firstChild = (KSSegment*)((char*)&s[0] + 1);
    KS_AddSegmentPosition(e, 0, 5, 0, 0);
    KS_TransformEntity(e);
    EXPECT_NEAR(s[0].world.m[12], 105, 1e-5f);
    EXPECT_EQ(KS_SegmentLinkValid(o, &s[2]), 1);
    EXPECT_EQ(KS_SegmentLinkValid(o, s + 3), 0);
    EXPECT_EQ(KS_SegmentLinkValid(o, nullptr), 1);
}

TEST_F(TransformTest, BillboardQuadFacesTheCamera)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}, {-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}});
    KSSegment& s = o->segments[0];
    s.flags |= KS_SEG_BILLBOARD;
    KSEntity* e = MakeEntity(o);
    KS_SetEntityScale(e, 10, 10, 10);
    KS_SetEntityPosition(e, 0, 0, 56);   // 200 in front of the camera
    KS_TransformEntity(e);
    EXPECT_TRUE(s.flags & KS_SEG_VISIBLE);
    EXPECT_VEC3(s.bounds.viewCentre, 0, 0, 200, 1e-3f);
    // The corners keep their depth and spread by scale times projection scale.
    EXPECT_NEAR(s.work[3].cx, 10 * kCot30, 1e-3f);
    EXPECT_NEAR(s.work[3].cy, 10 * 1.6f * kCot30, 1e-3f);
    EXPECT_NEAR(s.work[3].z, 200, 1e-3f);
    EXPECT_NEAR(s.work[1].cx, -10 * kCot30, 1e-3f);
    EXPECT_EQ(s.work[1].code, 0);
    EXPECT_NEAR(s.work[3].sx - 160, 160 - s.work[1].sx, 1e-3f);

    // Rolled by its own angle: corner 1 (-1, -1) goes to (1, -1) after 90 degrees.
    e->states[0].billboardAngle = 90;
    KS_TransformEntity(e);
    EXPECT_NEAR(s.work[1].cx, 10 * kCot30, 1e-3f);
    EXPECT_NEAR(s.work[1].cy, -10 * 1.6f * kCot30, 1e-3f);

    // Wholly nearer than the near plane: not visible.
    KS_SetEntityPosition(e, 0, 0, 250);
    s.bounds.radius = 1;
    KS_TransformEntity(e);
    EXPECT_FALSE(s.flags & KS_SEG_VISIBLE);
}

}  // namespace
