// Cameras: defaults, view building in both modes, projection guards and the camera list.
#include "scene_fixture.h"

namespace {

class CameraTest : public SceneTest {
protected:
    static KSVector View(const KSCamera* c, KSVector p)
    {
        KSWorkVertex w;
        KSM_TransformPoint(&p, &c->view, &w);
        return KSVector{w.cx, w.cy, w.z};
    }
};

TEST_F(CameraTest, DefaultCameraLooksFrom256TowardsTheOrigin)
{
    KSCamera* c = KS_CreateCamera();
    KS_InitCamera(c);
    EXPECT_VEC3(c->position, 0, 0, 256, 0);
    EXPECT_VEC3(c->target, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(c->fov, 1.0471976f);
    EXPECT_EQ(c->nearDist, 10);
    EXPECT_EQ(c->farDist, 65535);
    c->flags = KS_CAM_LOOK_AT;
    KS_UpdateCamera(c);
    EXPECT_EQ(KS_CurrentCamera(), c);
    EXPECT_VEC3(c->back, 0, 0, 1, 1e-6f);
    EXPECT_VEC3(View(c, (KSVector{0, 0, 0})), 0, 0, 256, 1e-4f);
    EXPECT_VEC3(View(c, (KSVector{0, 10, 0})), 0, 10, 256, 1e-4f);   // up stays up
    EXPECT_NEAR(c->projScale.m[0], kCot30, 1e-5f);
    EXPECT_NEAR(c->projScale.m[5], 1.6f * kCot30, 1e-5f);
    // The depth values of the device projection: far / (far - near) and -near * far / (far - near).
    EXPECT_NEAR(ksProjection.depthScale, 65535.0f / 65525.0f, 1e-6f);
    EXPECT_NEAR(ksProjection.depthOffset, -10.0f * 65535.0f / 65525.0f, 1e-4f);
    KS_DeleteCamera(c);
    EXPECT_EQ(KS_CurrentCamera(), nullptr) << "a freed camera must not stay current";
}

TEST_F(CameraTest, StraightDownUsesTheXAxisAsUpHint)
{
    KS_SetCameraPosition(camera_, 0, 100, 0);
    KS_SetCameraTarget(camera_, 0, 0, 0);
    KS_UpdateCamera(camera_);
    for (float e : camera_->view.m)
        EXPECT_FALSE(isnan(e));
    EXPECT_VEC3(View(camera_, (KSVector{0, 0, 0})), 0, 0, 100, 1e-4f);
    EXPECT_VEC3(View(camera_, (KSVector{10, 0, 0})), 0, 10, 100, 1e-4f);   // world x is screen up
    EXPECT_VEC3(View(camera_, (KSVector{0, 0, 10})), -10, 0, 100, 1e-4f);
}

TEST_F(CameraTest, AngleModeAndRoll)
{
    KS_SetCameraMode(camera_, 0);
    camera_->position = KSVector{0, 0, 0};
    camera_->angles = KSVector{0, 90, 0};
    KS_UpdateCamera(camera_);
    EXPECT_VEC3(camera_->target, -500, 0, 0, 1e-3f);
    EXPECT_VEC3(camera_->back, 1, 0, 0, 1e-5f);
    EXPECT_VEC3(View(camera_, (KSVector{-50, 0, 0})), 0, 0, 50, 1e-4f);

    // Rolled by 90 degrees: what was up on the screen goes to the left (Rz rows (c, s), (-s, c)
    // applied to the view point (0, 10, 256) gives (-10, 0, 256)); rolled back, to the right.
    KS_SetCameraMode(camera_, KS_CAM_LOOK_AT);
    camera_->position = KSVector{0, 0, 256};
    camera_->target = KSVector{0, 0, 0};
    camera_->roll = 90;
    KS_UpdateCamera(camera_);
    EXPECT_VEC3(View(camera_, (KSVector{0, 10, 0})), -10, 0, 256, 1e-3f);
    camera_->roll = -90;
    KS_UpdateCamera(camera_);
    EXPECT_VEC3(View(camera_, (KSVector{0, 10, 0})), 10, 0, 256, 1e-3f);

}

TEST_F(CameraTest, DegenerateRangesKeepThePreviousProjection)
{
    float scale = ksProjection.depthScale, offset = ksProjection.depthOffset;
    camera_->nearDist = camera_->farDist = 100;
    KS_UpdateCamera(camera_);
    EXPECT_EQ(ksProjection.depthScale, scale);
    EXPECT_EQ(ksProjection.depthOffset, offset);

    KSMatrix projection = camera_->projScale;
    camera_->nearDist = 10;
    camera_->fov = 0;   // no tangent: the culling matrix keeps the last usable scale
    KS_UpdateCamera(camera_);
    EXPECT_EQ(memcmp(&projection, &camera_->projScale, sizeof(projection)), 0);
    for (float e : camera_->cull.m)
        EXPECT_TRUE(isfinite(e));
    EXPECT_EQ(ksProjection.depthScale, scale);
}

TEST_F(CameraTest, ViewAndProjectionReachTheDevice)
{
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = 32;
    pp.BackBufferHeight = 32;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice8* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
              D3D_OK);
    ksGlobal.device = device;

    camera_->position = KSVector{10, 20, 30};
    camera_->nearDist = 2;
    camera_->farDist = 102;
    KS_UpdateCamera(camera_);
    D3DMATRIX view, projection;
    ASSERT_EQ(device->GetTransform(D3DTS_VIEW, &view), D3D_OK);
    EXPECT_EQ(memcmp(&view, camera_->view.m, sizeof(view)), 0);
    ASSERT_EQ(device->GetTransform(D3DTS_PROJECTION, &projection), D3D_OK);
    EXPECT_NEAR(projection._11, kCot30, 1e-5f);
    EXPECT_NEAR(projection._22, 1.6f * kCot30, 1e-5f);
    EXPECT_NEAR(projection._33, 102.0f / 100, 1e-6f);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_NEAR(projection._43, -2.0f * 102 / 100, 1e-5f);
    EXPECT_EQ(projection._44, 0.0f);
    EXPECT_EQ(projection._12, 0.0f);

    // Equal near and far: the device keeps the projection it had.
    camera_->nearDist = camera_->farDist = 50;
    camera_->position = KSVector{0, 0, 99};
    KS_UpdateCamera(camera_);
    D3DMATRIX kept;
    ASSERT_EQ(device->GetTransform(D3DTS_PROJECTION, &kept), D3D_OK);
    EXPECT_EQ(memcmp(&kept, &projection, sizeof(kept)), 0);
    ASSERT_EQ(device->GetTransform(D3DTS_VIEW, &view), D3D_OK);
    EXPECT_EQ(view._43, 99.0f) << "the new view is loaded: the eye 99 in front of the origin";

    ksGlobal.device = nullptr;
    device->Release();
    d3d->Release();
}

TEST_F(CameraTest, CameraListAddAndRemove)
{
    KSCamera* a = KS_CreateCamera();
    KSCamera* b = KS_CreateCamera();
    a->name = (char*)KS_Alloc(8, "test", 1);
    strcpy(a->name, "MainCam");
    KS_AddCamera(a);
    KS_AddCamera(b);
    KS_AddCamera(a);   // already listed: no cycle
    EXPECT_STREQ(a->name, "maincam");
    EXPECT_EQ(ksCameraList, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, nullptr);
    KS_RemoveCamera(a);
    EXPECT_EQ(ksCameraList, b);
    KS_RemoveAllCameras();
    EXPECT_EQ(ksCameraList, nullptr);
}

}  // namespace
