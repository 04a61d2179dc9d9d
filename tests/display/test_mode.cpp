// Mode setting and device lifetime: full-screen mode matching, windowed client area, default
// states and matrices, viewports, presentation through a lost device, and a clean shutdown.
#include "display_test.h"

#include <string.h>

namespace {

class ModeSetting : public ::testing::Test {
protected:
    void SetUp() override {
        testAdapter = 0;
        MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
    }
    void TearDown() override { StopEngine(); }
};

TEST_F(ModeSetting, FullScreenMatchesSizeAndDepth) {
    // The 16-bit record of the same size comes first: the depth decides, not the position.
    FakeModes fake{{Mode(800, 600, D3DFMT_R5G6B5, 75), Mode(800, 600, D3DFMT_X8R8G8B8), Mode(1024, 768, D3DFMT_X8R8G8B8)}};
    InitEngine(false, true, false);
    InstallModeFilter(&fake);
    KS_SelectDriver();
    KSViewport vp;
    SetModeAndViewport(800, 600, &vp);
    EXPECT_EQ(32, ksGlobal.screenBits);
    EXPECT_EQ(D3DFMT_X8R8G8B8, ksGlobal.backBufferFormat);
    EXPECT_FALSE(ksGlobal.adapters[0].presentParams.Windowed);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, ksGlobal.backBuffer->GetDesc(&desc));
    EXPECT_EQ(800u, desc.Width);
    EXPECT_EQ(600u, desc.Height);
    EXPECT_EQ(D3DFMT_X8R8G8B8, desc.Format);
}

TEST_F(ModeSetting, SixteenBitModeIsFoundOnlyAmongSixteenBitModes) {
    InitEngine(false, false);
    KSViewport vp;
    SetModeAndViewport(640, 480, &vp);
    EXPECT_EQ(16, ksGlobal.screenBits);
    EXPECT_EQ(D3DFMT_R5G6B5, ksGlobal.backBufferFormat);
}

TEST_F(ModeSetting, ThirtyTwoBitModesDoNotServeSixteenBits) {
    UseThreadsafeDeathTests();
    FakeModes fake{{Mode(800, 600, D3DFMT_X8R8G8B8), Mode(800, 600, D3DFMT_X8R8G8B8, 85)}};
    EXPECT_EXIT(
        {
            InitEngine(false, false, false);
            InstallModeFilter(&fake);
            KS_SelectDriver();
            KSGFX_SetMode(800, 600, 60);
        },
        ::testing::ExitedWithCode(1), "Could not find the video mode you requested.");
}

TEST_F(ModeSetting, WindowedUsesTheClientAreaNotTheArguments) {
    HWND window = MakeTestWindow(300, 200, WS_OVERLAPPEDWINDOW);
    InitEngine(true, false);
    KSViewport vp;
    SetModeAndViewport(1024, 768, &vp);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(300, client.right);
    EXPECT_EQ(client.right, ksGlobal.screenWidth);
    EXPECT_EQ(client.bottom, ksGlobal.screenHeight);
    EXPECT_EQ(0, memcmp(&client, &ksGlobal.clientRect[0], sizeof(RECT)));
    EXPECT_EQ(0, memcmp(&client, &ksGlobal.clientRect[1], sizeof(RECT)));
    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, ksGlobal.backBuffer->GetDesc(&desc));
    EXPECT_EQ(300u, desc.Width);
    EXPECT_EQ(200u, desc.Height);
    // The back buffer takes the desktop's format; the 2D layer packs for it.
    EXPECT_EQ(ksGlobal.adapters[0].desktopMode.Format, desc.Format);
    EXPECT_EQ(KS_FormatBits(desc.Format), ksGlobal.screenBits);
    EXPECT_EQ(299, vp.x2);
    EXPECT_EQ(199, vp.y2);
    EXPECT_EQ(8, vp.value);
}

TEST_F(ModeSetting, DefaultStatesAndMatrices) {
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    IDirect3DDevice8* dev = ksGlobal.device;
    DWORD zfunc = 0, dither = 0;
    dev->GetRenderState(D3DRS_ZFUNC, &zfunc);
    dev->GetRenderState(D3DRS_DITHERENABLE, &dither);
    EXPECT_EQ((DWORD)D3DCMP_LESSEQUAL, zfunc);
    EXPECT_EQ(1u, dither);

    // What the projection does to points of the view: depth 0 at the near plane (10) and almost
    // 1 far away; a 60-degree horizontal field, 1.6 times as steep vertically.
    D3DMATRIX p;
    ASSERT_EQ(D3D_OK, dev->GetTransform(D3DTS_PROJECTION, &p));
    auto Project = [&p](float x, float y, float z, float out[3]) {
        float w = x * p._14 + y * p._24 + z * p._34 + p._44;
        out[0] = (x * p._11 + y * p._21 + z * p._31 + p._41) / w;
        out[1] = (x * p._12 + y * p._22 + z * p._32 + p._42) / w;
        out[2] = (x * p._13 + y * p._23 + z * p._33 + p._43) / w;
    };
    float front[3], distant[3], edge[3];
    Project(0, 0, 10, front);
    Project(0, 0, 1e6f, distant);
    const float tan30 = 0.57735027f;
    Project(40 * tan30, 40 * tan30 / 1.6f, 40, edge);
    EXPECT_NEAR(0.0f, front[2], 1e-6f);
    EXPECT_NEAR(1.0f, distant[2], 1e-4f);
    EXPECT_LT(distant[2], 1.0001f);
    EXPECT_NEAR(1.0f, edge[0], 1e-4f);
    EXPECT_NEAR(1.0f, edge[1], 1e-4f);
}

TEST_F(ModeSetting, ViewportRecordsAndDeviceViewport) {
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    KSViewport v;
    KS_MakeViewport(&v, 10, 20, 109, 69, 5);
    EXPECT_EQ(100.0f, v.width);
    EXPECT_EQ(50.0f, v.height);
    EXPECT_EQ(60.0f, v.centreX);
    EXPECT_EQ(45.0f, v.centreY);
    EXPECT_EQ(10, ksGlobal.clipX1);
    EXPECT_EQ(69, ksGlobal.clipY2);
    KSGFX_SetDrawTarget(1);  // the back buffer again: clip over the whole surface
    EXPECT_EQ(0, ksGlobal.clipX1);
    EXPECT_EQ(ksGlobal.screenHeight - 1, ksGlobal.clipY2);
    KS_MakeViewport(&v, 10, 20, 109, 69, 5);

    KS_ResizeViewport(&v, 0, 0, 63, 31);
    EXPECT_EQ(5, v.value);
    EXPECT_EQ(64.0f, ksGlobal.viewport.width);
    D3DVIEWPORT8 d;
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetViewport(&d));
    EXPECT_EQ(0u, d.X);
    EXPECT_EQ(64u, d.Width);
    EXPECT_EQ(32u, d.Height);
    EXPECT_EQ(1.0f, d.MaxZ);
}

TEST_F(ModeSetting, LostDeviceComesBackWithinShowFrame) {
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    MarlixD3D8Counters before, after;
    MarlixD3D8GetCounters(&before);
    int64_t start = MarlixClockRead();
    ksGlobal.device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);

    MarlixD3D8LoseDevice(2);
    int parity = KSGFX_ShowFrame();
    EXPECT_EQ(1, parity);
    MarlixD3D8GetCounters(&after);
    EXPECT_EQ(before.resets + 1, after.resets);
    // Two lost polls and the not-reset one, a second apart.
    EXPECT_GE(MarlixClockRead() - start, 3 * MARLIX_CLOCK_FREQUENCY);
    EXPECT_EQ(D3D_OK, ksGlobal.device->TestCooperativeLevel());

    // The new back buffer is current, and the default states are back.
    ASSERT_NE(nullptr, ksGlobal.backBuffer);
    EXPECT_EQ(ksGlobal.backBuffer, ksGlobal.renderTarget);
    EXPECT_EQ(ksGlobal.backBuffer, ksGlobal.drawSurface);
    DWORD v;
    ksGlobal.device->GetRenderState(D3DRS_ZFUNC, &v);
    EXPECT_EQ((DWORD)D3DCMP_LESSEQUAL, v);
    KSGFX_SetColour(KSGFX_MakeColour(0, 255, 0));
    KSGFX_FillRect(0, 0, 3, 3);
    ASSERT_NE(nullptr, KSGFX_LockFrame());
    EXPECT_EQ(0x00FF00u, FramePixel(1, 1) & 0xFFFFFF);
    KSGFX_UnlockFrame();

    EXPECT_EQ(0, KSGFX_ShowFrame());
    MarlixD3D8Counters later;
    MarlixD3D8GetCounters(&later);
    EXPECT_EQ(after.resets, later.resets);
}

TEST_F(ModeSetting, ShutdownLeavesNothingBehind) {
    KSViewport vp;
    StartEngine(false, true, 640, 480, &vp);
    KSGFX_ShowFrame();
    EXPECT_EQ(0, StopEngine());
    EXPECT_EQ(0, MarlixD3D8LiveObjects());
    EXPECT_EQ(nullptr, ksGlobal.device);
    EXPECT_EQ(nullptr, ksGlobal.d3d);
    EXPECT_EQ(nullptr, ksGlobal.backBuffer);
}

TEST_F(ModeSetting, TwoRunsInOneProcess) {
    for (int run = 0; run < 2; run++) {
        KSViewport vp;
        StartEngine(true, true, 0, 0, &vp);
        if (run == 0) SetModeAndViewport(0, 0, &vp);  // a second mode setting replaces the device
        KSGFX_ClearScreen();
        KSGFX_ShowFrame();
        EXPECT_EQ(0, StopEngine()) << run;
        EXPECT_EQ(0, MarlixD3D8LiveObjects()) << run;
    }
}

}  // namespace
