// Shared set-up of the scene tests: a running memory tracker, a viewport, a default camera and
// small hand-made objects.
#ifndef SCENE_FIXTURE_H
#define SCENE_FIXTURE_H

#include "kestra.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <vector>

inline ::testing::AssertionResult VecNear(const KSVector& v, float x, float y, float z, float tol)
{
    if (fabsf(v.x - x) <= tol && fabsf(v.y - y) <= tol && fabsf(v.z - z) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << v.x << ", " << v.y << ", " << v.z << ") is not ("
                                         << x << ", " << y << ", " << z << ") within " << tol;
}
#define EXPECT_VEC3(v, ex, ey, ez, tol) EXPECT_TRUE(VecNear((v), (ex), (ey), (ez), (tol)))

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedGlobal_ = ksGlobal;
        memset(&ksGlobal, 0, sizeof(ksGlobal));
        ksGlobal.lodFactor = 1.0f;
        // A 320 x 200 viewport at the origin.
        KSViewport& v = ksGlobal.viewport;
        v.width = 320; v.height = 200; v.x1 = 0; v.y1 = 0; v.x2 = 319; v.y2 = 199;
        v.halfWidth = 160; v.halfHeight = 100; v.centreX = 160; v.centreY = 100;
        KS_MemoryInit();
        camera_ = KS_CreateCamera();
        KS_InitCamera(camera_);
        KS_SetCameraMode(camera_, KS_CAM_LOOK_AT);
        KS_UpdateCamera(camera_);
    }
    void TearDown() override
    {
        for (KSEntity* e : entities_)
            KS_FreeEntity(e);
        for (KSObject* o : objects_)
            KS_FreeObject(o);
        KS_DeleteCamera(camera_);
        EXPECT_EQ(KS_MemoryBlockCount(), 0) << "scene records leaked";
        KS_MemoryShutdown();
        ksGlobal = savedGlobal_;
    }

    // An object of `segments` segments with the given vertices in each (same list for all).
    KSObject* MakeObject(int segments, const std::vector<KSVector>& vertices)
    {
        KSObject* o = KS_CreateObject();
        EXPECT_NE(o, nullptr);
        EXPECT_EQ(KS_AllocSegments(o, segments), 1);
        for (int s = 0; s < segments; s++) {
            EXPECT_EQ(KS_AllocSegmentVertices(&o->segments[s], (int32_t)vertices.size()), 1);
            for (size_t i = 0; i < vertices.size(); i++) {
                o->segments[s].vertices[i].position = vertices[i];
                o->segments[s].vertices[i].normal = KSPackedNormal{0, 0, 1023};
            }
        }
        KS_CalcBounds(o);
        objects_.push_back(o);
        return o;
    }
    KSEntity* MakeEntity(KSObject* o, const char* name = "scene")
    {
        KSEntity* e = KS_CreateEntity(o, name);
        EXPECT_NE(e, nullptr);
        entities_.push_back(e);
        return e;
    }
    static KSKey Key(int32_t frame, float x, float y, float z, float w = 0, uint8_t flags = 0)
    {
        KSKey k;
        memset(&k, 0, sizeof(k));
        k.frame = frame;
        k.flags = flags;
        k.value[0] = x; k.value[1] = y; k.value[2] = z; k.value[3] = w;
        return k;
    }
    static KSKey* Keys(const std::vector<KSKey>& keys)
    {
        KSKey* array = (KSKey*)KS_Alloc((int32_t)(sizeof(KSKey) * keys.size()), "test", __LINE__);
        for (size_t i = 0; i < keys.size(); i++)
            array[i] = keys[i];
        return array;
    }

    KSGlobal savedGlobal_;
    KSCamera* camera_ = nullptr;
    std::vector<KSObject*> objects_;
    std::vector<KSEntity*> entities_;
};

// 1 / tan(30 degrees): the default camera's projection scale in x.
static const float kCot30 = 1.7320508f;

#endif
