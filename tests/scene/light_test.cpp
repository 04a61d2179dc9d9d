// Lights: strengths, the active list, segment directions and the lighting colour.
#include "scene_fixture.h"

namespace {

class LightTest : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        memset(&list_, 0, sizeof(list_));
        memset(&material_, 0, sizeof(material_));
        material_.red = material_.green = material_.blue = 0.1f;
        KS_SetAmbient(0, 0, 0);
        ASSERT_EQ(KS_InitLights(&ksActiveLights, 4), 1);
    }
    void TearDown() override
    {
        KS_FreeLights(&list_);
        KS_FreeLights(&ksActiveLights);
        ksFixedPointLights = 0;
        ksOneSidedLighting = 0;
        SceneTest::TearDown();
    }
    // One active light, set up directly in camera space.
    KSLight& Active(int32_t type)
    {
        KSLight& l = ksActiveLights.lights[0];
        l.type = type;
        l.enabled = 1;
        ksActiveLights.count = 1;
        return l;
    }
    KSLightList list_;
    KSMaterial material_;
};

TEST_F(LightTest, StrengthInBothNumberModes)
{
    ASSERT_EQ(KS_InitLights(&list_, 2), 1);
    EXPECT_EQ(list_.count, 0);
    EXPECT_EQ(list_.capacity, 2);
    const KSLight& l = list_.lights[1];
    KS_SetLightStrength(&list_, 1, 3);
    EXPECT_EQ(l.intensity, 3);
    EXPECT_EQ(l.falloff, 3072);
    KS_SetLightStrength(&list_, 9, 3);   // no such light: ignored
    KS_SetLightType(&list_, -1, 2);

    ksFixedPointLights = 1;
    ASSERT_EQ(KS_InitLights(&list_, 1), 1);
    EXPECT_EQ(list_.lights[0].intensity, 0.0009765625f);
    KS_SetLightRange(&list_, 0, 4);
    KS_SetLightStrength(&list_, 0, 2);
    EXPECT_EQ(list_.lights[0].intensity, 2.0f / 1024);
    EXPECT_EQ(list_.lights[0].falloff, 0.5f);
    EXPECT_EQ(KS_InitLights(&list_, 0), 0);
    EXPECT_EQ(list_.lights, nullptr);
}

TEST_F(LightTest, ActiveListTakesEnabledLightsUntilFull)
{
    ASSERT_EQ(KS_InitLights(&list_, 7), 1);
    list_.count = 7;
    for (int i = 0; i < 7; i++) {
        KS_SetLightPosition(&list_, i, (float)i, 0, 0);
        if (i != 1)
            KS_SwitchLightOn(&list_, i);   // six enabled
    }
    KS_TransformLights(&list_);
    ASSERT_EQ(ksActiveLights.count, 4);
    EXPECT_EQ(ksActiveLights.lights[0].position.x, 0);
    EXPECT_EQ(ksActiveLights.lights[1].position.x, 2) << "the disabled light is skipped";
    EXPECT_EQ(ksActiveLights.lights[3].position.x, 4);
    KS_TransformLights(&list_);
    EXPECT_EQ(ksActiveLights.count, 4);
    KS_ClearActiveLights();
    EXPECT_EQ(ksActiveLights.count, 0);

    // A count beyond the list's lights reads only the lights that exist.
    list_.count = 50;
    KS_TransformLights(&list_);
    EXPECT_EQ(ksActiveLights.count, 4);
}

TEST_F(LightTest, TransformLightsMovesPositionsAndSpotDirectionsIntoCameraSpace)
{
    ASSERT_EQ(KS_InitLights(&list_, 1), 1);
    list_.count = 1;
    KS_SetLightType(&list_, 0, KS_LIGHT_SPOT);
    KS_SetLightPosition(&list_, 0, 0, 0, 0);
    KS_SetLightTarget(&list_, 0, 0, 0, -100);
    KS_TransformLights(&list_);
    EXPECT_VEC3(list_.lights[0].viewPosition, 0, 0, 256, 1e-3f);
    EXPECT_VEC3(list_.lights[0].direction, 0, 0, 1, 1e-5f);
    EXPECT_EQ(ksActiveLights.count, 0) << "not switched on";
}

TEST_F(LightTest, AmbientOnlyAndClamping)
{
    KSVertex v;
    memset(&v, 0, sizeof(v));
    KS_LightVertex(&v, &material_);
    EXPECT_VEC3((KSVector{ksLightColour[0], ksLightColour[1], ksLightColour[2]}), 1, 1, 1, 0);
    KS_SetAmbient(300, 50, 0.5f);
    KSFace f;
    memset(&f, 0, sizeof(f));
    KS_LightFace(&f, &material_, nullptr);
    EXPECT_VEC3((KSVector{ksLightColour[0], ksLightColour[1], ksLightColour[2]}), 255, 50, 1, 0);
}

TEST_F(LightTest, SpotLightInsideAtTheEdgeAndOutsideItsCone)
{
    KSLight& l = Active(KS_LIGHT_SPOT);
    l.viewPosition = KSVector{0, 0, 0};
    l.direction = KSVector{0, 0, 1};
    l.intensity = 1;
    l.range = 100;
    l.falloff = 0.01f;
    l.innerAngle = (float)(20 * KS_DEG2RAD);
    l.outerAngle = (float)(60 * KS_DEG2RAD);
    KSWorkVertex w;
    memset(&w, 0, sizeof(w));
    KSVertex v;
    memset(&v, 0, sizeof(v));
    v.work = &w;
    auto at = [&](float degrees, float dist) {
        w.cx = dist * sinf((float)(degrees * KS_DEG2RAD));
        w.z = dist * cosf((float)(degrees * KS_DEG2RAD));
        KS_LightVertex(&v, &material_);
        return ksLightColour[0];
    };
    // On the axis at 50: (100 - 50) * 0.01 * 1024 = 512, times the material's 0.1.
    EXPECT_NEAR(at(0, 50), 51.2f, 1e-3f);
    EXPECT_NEAR(at(9, 50), 51.2f, 1e-3f) << "inside the inner cone: full strength";
    // 20 degrees off the axis lies between the half angles 10 and 30: the fraction of the way.
    float t = cosf((float)(20 * KS_DEG2RAD)), ci = cosf((float)(10 * KS_DEG2RAD)),
          co = cosf((float)(30 * KS_DEG2RAD));
    EXPECT_NEAR(at(20, 50), 51.2f * (t - co) / (ci - co), 1e-3f);
    EXPECT_NEAR(at(40, 50), 1, 0) << "outside the cone";
    EXPECT_NEAR(at(0, 150), 1, 0) << "beyond the range";
}

TEST_F(LightTest, PointLightsOnVerticesAndFaces)
{
    KSLight& l = Active(KS_LIGHT_POINT);
    l.viewPosition = KSVector{0, 0, 0};
    l.range = 100;
    l.falloff = 0.02f;
    l.colour[1] = 0.5f;
    KSWorkVertex w;
    memset(&w, 0, sizeof(w));
    w.z = 30;
    KSVertex v;
    memset(&v, 0, sizeof(v));
    v.work = &w;
    material_.red = material_.green = 1;
    KS_LightVertex(&v, &material_);
    EXPECT_NEAR(ksLightColour[0], 70 * 0.02f, 1e-4f);   // ambient 0 plus (range - d) * falloff
    EXPECT_NEAR(ksLightColour[1], 1, 1e-6f) << "0.7 clamps up to 1";
    material_.red = 100;
    KS_LightVertex(&v, &material_);
    EXPECT_NEAR(ksLightColour[0], 140, 1e-3f);
    w.cx = 99;   // inside every axis range, but farther than the range in all
    w.cy = 99;
    KS_LightVertex(&v, &material_);
    EXPECT_EQ(ksLightColour[0], 1);

    KSFace f;
    memset(&f, 0, sizeof(f));
    w.cx = 0;
    w.cy = 40;
    w.z = 30;   // 50 away
    KS_LightFace(&f, &material_, &w);
    EXPECT_NEAR(ksLightColour[0], 100, 1e-3f);
}

TEST_F(LightTest, SegmentLightsAndTwoSidedFaces)
{
    KSObject* o = MakeObject(1, {{0, 0, 0}});
    KSEntity* e = MakeEntity(o);
    KSSegment* s = &o->segments[0];
    KSLight& l = Active(KS_LIGHT_SEGMENT);
    l.position = KSVector{100, 0, 0};
    l.intensity = 1.0f / 1024;
    KS_MakeRotationMatrix(&s->world, 0, 0, 90);   // the segment's x axis points along world y
    KS_LightSegment(e, s, nullptr);
    EXPECT_EQ(l.segmentDirection[0], 0);
    EXPECT_EQ(l.segmentDirection[1], -1024);
    EXPECT_EQ(l.segmentDirection[2], 0);
    EXPECT_FLOAT_EQ(l.segmentDistance, 100);
    KSVector offset = {100, 0, 0};   // the light at the segment itself: direction kept
    KS_LightSegment(e, s, &offset);
    EXPECT_EQ(l.segmentDirection[1], -1024);

    material_.red = 100;
    KSFace f;
    memset(&f, 0, sizeof(f));
    f.normal = KSPackedNormal{0, 1023, 0};   // facing away from the light
    KS_LightFace(&f, &material_, nullptr);
    EXPECT_EQ(ksLightColour[0], 1);
    f.flags = KS_FACE_TWO_SIDED;
    KS_LightFace(&f, &material_, nullptr);
    EXPECT_NEAR(ksLightColour[0], 1023.0f / 1024 * 100, 1e-3f);
    f.normal = KSPackedNormal{0, -1023, 0};
    f.flags = 0;
    KS_LightFace(&f, &material_, nullptr);
    EXPECT_NEAR(ksLightColour[0], 1023.0f / 1024 * 100, 1e-3f);

    // Vertices facing away are lit from behind unless the render method asks for one side.
    KSVertex v;
    memset(&v, 0, sizeof(v));
    v.normal = KSPackedNormal{0, 1023, 0};
    KS_LightVertex(&v, &material_);
    EXPECT_NEAR(ksLightColour[0], 1023.0f / 1024 * 100, 1e-3f);
    ksOneSidedLighting = 1;
    KS_LightVertex(&v, &material_);
    EXPECT_EQ(ksLightColour[0], 1);

    // The highlight of a vertex that faces the viewer.
    v.viewNormal = KSPackedNormal{0, 0, 1023};
    material_.specular[0] = 50;
    material_.specular[4] = 2;
    KS_LightVertex(&v, &material_);
    float s2 = (1023.0f / 1024) * (1023.0f / 1024);
    EXPECT_NEAR(ksLightColour[0], 50 * s2, 1e-3f);
    v.viewNormal = KSPackedNormal{0, 0, -1023};
    KS_LightVertex(&v, &material_);
    EXPECT_EQ(ksLightColour[0], 1) << "no highlight facing away, also for an even power";
}

}  // namespace
