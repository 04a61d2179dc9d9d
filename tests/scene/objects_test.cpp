// Objects and segments: bounds, release, and the sprite objects of 2D overlays.
#include "scene_fixture.h"

namespace {

class ObjectTest : public SceneTest {};

TEST_F(ObjectTest, OneSegmentObjectHasTheSegmentsBounds)
{
    KSObject* o = MakeObject(1, {{-1, 2, 3}, {4, -5, 6}, {0, 0, -7}});
    const KSBounds& s = o->segments[0].bounds;
    EXPECT_EQ(s.minX, -1); EXPECT_EQ(s.maxX, 4);
    EXPECT_EQ(s.minY, -5); EXPECT_EQ(s.maxY, 2);
    EXPECT_EQ(s.minZ, -7); EXPECT_EQ(s.maxZ, 6);
    EXPECT_VEC3(s.centre, 1.5f, -1.5f, -0.5f, 1e-6f);
    EXPECT_FLOAT_EQ(s.radius, 6.5f);   // the z half-extent is the largest
    // Corner k: x max for 1, 2, 5, 6; y max for 2, 3, 6, 7; z max for k >= 4.
    EXPECT_VEC3(s.corners[0], -1, -5, -7, 0);
    EXPECT_VEC3(s.corners[1], 4, -5, -7, 0);
    EXPECT_VEC3(s.corners[2], 4, 2, -7, 0);
    EXPECT_VEC3(s.corners[3], -1, 2, -7, 0);
    EXPECT_VEC3(s.corners[4], -1, -5, 6, 0);
    EXPECT_VEC3(s.corners[6], 4, 2, 6, 0);
    EXPECT_EQ(memcmp(&o->bounds.minX, &s.minX, 6 * sizeof(float) + sizeof(s.corners) + sizeof(s.centre)), 0);
    EXPECT_EQ(o->bounds.radius, s.radius);
}

TEST_F(ObjectTest, FlatSegmentAndUnionOfSegments)
{
    KSObject* o = MakeObject(2, {{5, 0, 0}, {5, 3, 1}, {5, -1, 2}});
    const KSBounds& s = o->segments[0].bounds;
    EXPECT_EQ(s.minX, 5);
    EXPECT_EQ(s.maxX, 5);
    EXPECT_EQ(s.centre.x, 5);
    // Move the second segment's vertices and recompute: the object box is the union.
    for (int i = 0; i < 3; i++)
        o->segments[1].vertices[i].position.x = -10.0f - (float)i;
    KS_CalcBounds(o);
    EXPECT_EQ(o->bounds.minX, -12);
    EXPECT_EQ(o->bounds.maxX, 5);
    EXPECT_EQ(o->bounds.maxY, 3);
    EXPECT_EQ(o->bounds.centre.x, -3.5f);
    EXPECT_EQ(o->bounds.radius, 8.5f);
}

TEST_F(ObjectTest, FreeReleasesEveryOwnedArray)
{
    KS_FreeObject(nullptr);
    KSObject* o = KS_CreateObject();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->lastFrame, -1);
    ASSERT_EQ(KS_AllocSegments(o, 2), 1);
    EXPECT_EQ(o->segments[1].index, 1);
    KSSegment* s = &o->segments[0];
    ASSERT_EQ(KS_AllocSegmentVertices(s, 3), 1);
    EXPECT_EQ(s->vertices[2].work, &s->work[2]);
    s->name = (char*)KS_Alloc(8, "test", 1);
    s->faces = (KSFace*)KS_Alloc(sizeof(KSFace), "test", 2);
    s->layers[6] = (float*)KS_Alloc(24, "test", 4);
    s->attached = (KSAttached*)KS_Alloc(sizeof(KSAttached), "test", 5);
    s->scaleKeys = (KSKey*)KS_Alloc(sizeof(KSKey), "test", 8);
    s->lodWeights = (int32_t*)KS_Alloc(12, "test", 10);
    o->name = (char*)KS_Alloc(4, "test", 11);
    EXPECT_EQ(KS_AllocSegments(o, 3), 0) << "a second segment array must be refused";
    KS_FreeObject(o);
    EXPECT_EQ(KS_MemoryBlockCount(), 1) << "only the fixture's camera may remain";
    EXPECT_EQ(KS_AllocSegments(nullptr, 1), 0);
}

// A texture table of one 64 x 32 entry, as the texture manager would hold it.
class SpriteTest : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        savedTextures_ = ksTextures;
        savedTextureCount_ = ksTextureCount;
        memset(texture_, 0, sizeof(texture_));
        texture_[1].name = name_;
        texture_[1].width = 64;
        texture_[1].height = 32;
        texture_[1].uScale = 1.0f / 255;
        texture_[1].vScale = 1.0f / 255;
        ksTextures = texture_;
        ksTextureCount = 2;
        ASSERT_EQ(KS_AllocMaterials(4), 1);
        KSMaterial m;
        memset(&m, 0, sizeof(m));
        KS_SetMaterialName(&m, "hud0");
        KS_SetMaterialMethod(&m, T_TRANSLUCENT_TEXTURED);
        KS_SetMaterialTexture(&m, 1);
        material_ = KS_AddMaterial(&m);
        ksGlobal.quadUVMin = 0.01f;
    }
    void TearDown() override
    {
        KS_FreeMaterials();
        ksTextures = savedTextures_;
        ksTextureCount = savedTextureCount_;
        KS_ResetProcedures();
        SceneTest::TearDown();
    }
    KSTexture texture_[2];
    char name_[8] = "back";
    KSTexture* savedTextures_ = nullptr;
    int32_t savedTextureCount_ = 0;
    int32_t material_ = -1;
};

TEST_F(SpriteTest, SpriteObjectForA64By32Texture)
{
    KSObject* o = KS_CreateSpriteObject(material_);
    ASSERT_NE(o, nullptr);
    objects_.push_back(o);
    ASSERT_EQ(o->segmentCount, 1);
    const KSSegment& s = o->segments[0];
    EXPECT_EQ(s.flags, (uint32_t)KS_SEG_BILLBOARD);
    ASSERT_EQ(s.vertexCount, 5);
    ASSERT_EQ(s.faceCount, 2);
    EXPECT_VEC3(s.vertices[0].position, 0, 0, 0, 0);
    EXPECT_VEC3(s.vertices[1].position, -64, -32, 0, 0);
    EXPECT_VEC3(s.vertices[2].position, 64, -32, 0, 0);
    EXPECT_VEC3(s.vertices[3].position, 64, 32, 0, 0);
    EXPECT_VEC3(s.vertices[4].position, -64, 32, 0, 0);
    EXPECT_EQ(s.bounds.radius, 128);
    EXPECT_EQ(o->lastFrame, -1);
    EXPECT_EQ(s.faces[0].corners[0], &s.vertices[2]);
    EXPECT_EQ(s.faces[0].corners[1], &s.vertices[1]);
    EXPECT_EQ(s.faces[0].corners[2], &s.vertices[3]);
    EXPECT_EQ(s.faces[1].corners[2], &s.vertices[4]);
    EXPECT_FLOAT_EQ(s.faces[0].u[0], 254.0f / 255);
    EXPECT_FLOAT_EQ(s.faces[1].v[2], 0.01f);   // the engine's low coordinate limit
    EXPECT_EQ(s.faces[1].material2, material_);

    // No sprite for a material that does not exist or a texture that is not loaded.
    EXPECT_EQ(KS_CreateSpriteObject(99), nullptr);
    EXPECT_EQ(KS_CreateSpriteObject(-1), nullptr);
    ksMaterials[material_].textures[0] = 0;   // entry 0 is free
    EXPECT_EQ(KS_CreateSpriteObject(material_), nullptr);
    ksMaterials[material_].textures[0] = -7;  // a failed load
    EXPECT_EQ(KS_CreateSpriteObject(material_), nullptr);
}

TEST_F(SpriteTest, OverlayMaterialMakesMaterialSpriteAndEntity)
{
    KSOverlay entries[2];
    memset(entries, 0, sizeof(entries));
    entries[0].texture = 1;
    entries[1].texture = 0;   // not a loaded texture
    KSOverlaySet set;
    memset(&set, 0, sizeof(set));
    strcpy(set.name, "title");
    set.count = 2;
    set.entries = entries;
    KSEntity* e = KS_MakeOverlayMaterial(&set, 0);
    ASSERT_NE(e, nullptr);
    entities_.push_back(e);
    objects_.push_back(entries[0].object);
    EXPECT_EQ(entries[0].entity, e);
    EXPECT_EQ(e->object, entries[0].object);
    EXPECT_STREQ(e->name, "overlay");
    const KSMaterial* m = KS_GetMaterial(entries[0].material);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "titlemat0");
    EXPECT_EQ(KS_FindMaterial("TITLEMAT0"), entries[0].material);
    EXPECT_EQ(m->method, T_XFLAT_TEXTURED);
    EXPECT_EQ(m->textures[0], 1);
    EXPECT_EQ(m->red, 0);
    EXPECT_EQ(m->alpha, 255);
    EXPECT_EQ(entries[0].object->segments[0].faces[0].material, entries[0].material);

    // A failing entry leaves no material behind; a bad index does nothing.
    EXPECT_EQ(KS_MakeOverlayMaterial(&set, 1), nullptr);
    EXPECT_EQ(KS_FindMaterial("titlemat1"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(KS_MakeOverlayMaterial(&set, 2), nullptr);
    EXPECT_EQ(KS_MakeOverlayMaterial(&set, -1), nullptr);
}

// Stands in for the polygon slot of the procedure table: which faces were handed to it.
void* drawnFaces = nullptr;
int32_t drawnCount = 0;
void RecordDraw(void* faces, void*, void*, int32_t count) { drawnFaces = faces; drawnCount = count; }

TEST_F(SpriteTest, DrawSpritePlacesTheQuadOnTheScreenRectangle)
{
    KSObject* o = KS_CreateSpriteObject(material_);
    ASSERT_NE(o, nullptr);
    objects_.push_back(o);
    KSEntity* e = MakeEntity(o, "overlay");
    ksProcTable.RenderPolygons = RecordDraw;
    drawnFaces = nullptr;
    KS_DrawSprite(e, 0, 0, 320, 200, 11.0f);
    EXPECT_EQ(drawnFaces, (void*)o->segments[0].faces);
    EXPECT_EQ(drawnCount, 2);
    const KSSegment& s = o->segments[0];
    EXPECT_TRUE(s.flags & KS_SEG_VISIBLE);
    const KSWorkVertex* w = s.work;
    // (left, bottom), (right, bottom), (right, top), (left, top).
    EXPECT_EQ(w[1].sx, 0); EXPECT_EQ(w[1].sy, 200);
    EXPECT_EQ(w[2].sx, 320); EXPECT_EQ(w[2].sy, 200);
    EXPECT_EQ(w[3].sx, 320); EXPECT_EQ(w[3].sy, 0);
    EXPECT_EQ(w[4].sx, 0); EXPECT_EQ(w[4].sy, 0);
    for (int i = 1; i <= 4; i++) {
        EXPECT_EQ(w[i].z, 11.0f);
        EXPECT_EQ(w[i].marker, KS_WV_TRANSFORMED);
        EXPECT_FLOAT_EQ(w[i].rhw, 1.0f / 11);
        EXPECT_EQ(w[i].code, 0) << i;
    }
    // The inverse projection puts the rectangle's edges on the side planes |x| = |y| = z.
    EXPECT_FLOAT_EQ(w[1].cx, -11);
    EXPECT_FLOAT_EQ(w[1].cy, -11);
    EXPECT_FLOAT_EQ(w[3].cx, 11);
    EXPECT_FLOAT_EQ(w[3].cy, 11);

    // Beyond the camera's far plane the quad is marked for clipping.
    KS_DrawSprite(e, 80, 50, 240, 150, 70000.0f);
    EXPECT_EQ(w[1].code & KS_CLIP_FAR, KS_CLIP_FAR);
    EXPECT_FLOAT_EQ(w[1].cx, -35000);
}

}  // namespace
