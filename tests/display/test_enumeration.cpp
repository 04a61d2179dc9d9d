// Device and mode enumeration: which adapter modes make the list, in what order, its limit, and
// the capability flags that steer mode setting.
#include "display_test.h"
#include "test_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <tuple>

namespace {

int ListedModes() {
    int n = 0;
    while (n < KS_MAX_MODES && ksGlobal.modes[n].index != -1) n++;
    return n;
}

class Enumeration : public ::testing::Test {
protected:
    void SetUp() override {
        testAdapter = 0;
        MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
    }
    void TearDown() override {
        StopEngine();
        MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
        testAdapter = 0;
    }
    // The engine up to driver selection, with the test's modes on the adapter.
    void EnumerateWith(FakeModes* modes, bool windowed = true, bool use32Bit = true) {
        InitEngine(windowed, use32Bit, false);
        InstallModeFilter(modes);
        KS_SelectDriver();
    }
};

TEST_F(Enumeration, ListKeepsOnePerSizeAndFormatInAreaOrder) {
    FakeModes fake{{Mode(1024, 768, D3DFMT_X8R8G8B8), Mode(800, 600, D3DFMT_X8R8G8B8, 60),
                    Mode(800, 600, D3DFMT_X8R8G8B8, 85), Mode(640, 350, D3DFMT_X8R8G8B8),
                    Mode(320, 240, D3DFMT_R5G6B5), Mode(800, 600, D3DFMT_R5G6B5),
                    Mode(640, 480, D3DFMT_X8R8G8B8), Mode(640, 400, D3DFMT_UYVY),
                    Mode(639, 480, D3DFMT_X8R8G8B8), Mode(1024, 399, D3DFMT_X8R8G8B8)}};
    EnumerateWith(&fake);
    EXPECT_EQ(KS_DRIVER_D3D8, ksGlobal.driverId);
    ASSERT_EQ(5, ListedModes());

    // Smallest area first; the two 800x600 records have equal areas and may come either way.
    const KSVideoMode* m = ksGlobal.modes;
    EXPECT_EQ(std::make_tuple(7, 640, 400, 0, (int)D3DFMT_UYVY),
              std::make_tuple(m[0].index, m[0].width, m[0].height, m[0].bits, m[0].format));
    EXPECT_EQ(std::make_tuple(6, 640, 480, 32), std::make_tuple(m[1].index, m[1].width, m[1].height, m[1].bits));
    std::set<std::tuple<int, int, int>> middle = {{m[2].index, m[2].bits, m[2].format},
                                                  {m[3].index, m[3].bits, m[3].format}};
    std::set<std::tuple<int, int, int>> expected = {{1, 32, (int)D3DFMT_X8R8G8B8}, {5, 16, (int)D3DFMT_R5G6B5}};
    EXPECT_EQ(expected, middle);
    EXPECT_EQ(800, m[2].width);
    EXPECT_EQ(800, m[3].width);
    EXPECT_EQ(std::make_tuple(0, 1024, 768), std::make_tuple(m[4].index, m[4].width, m[4].height));
}

TEST_F(Enumeration, StoresAtMost255ModesButLogsEveryOne) {
    FakeModes fake;
    for (UINT i = 0; i < 300; i++) fake.modes.push_back(Mode(640 + i, 480, D3DFMT_X8R8G8B8));

    ScratchFolder scratch;  // for ks.log
    ASSERT_TRUE(scratch.Make("display"));
    ASSERT_TRUE(scratch.Enter());
    InitEngine(true, true, false);
    InstallModeFilter(&fake);
    verbose = 1;
    KS_SelectDriver();
    verbose = 0;

    EXPECT_EQ(255, ListedModes());
    EXPECT_EQ(-1, ksGlobal.modes[255].index);
    for (int i = 0; i < 255; i++) {
        EXPECT_EQ(i, ksGlobal.modes[i].index);
        EXPECT_EQ(640 + i, ksGlobal.modes[i].width);
    }
    std::ifstream log("ks.log");
    std::string line;
    int added = 0;
    while (std::getline(log, line))
        if (line.find("Add Mode Width: ") != std::string::npos) added++;
    EXPECT_EQ(300, added);
}

TEST_F(Enumeration, NoUsableModeIsFatal) {
    UseThreadsafeDeathTests();
    FakeModes fake{{Mode(640, 350, D3DFMT_X8R8G8B8), Mode(320, 240, D3DFMT_X8R8G8B8), Mode(320, 240, D3DFMT_R5G6B5)}};
    EXPECT_EXIT(EnumerateWith(&fake), ::testing::ExitedWithCode(1),
                "No video modes found!  Try a different bit depth or device.");
}

TEST_F(Enumeration, ModeOfUnknownDepthIsNeverChosen) {
    UseThreadsafeDeathTests();
    FakeModes fake{{Mode(640, 480, D3DFMT_UYVY)}};
    EXPECT_EXIT(
        {
            EnumerateWith(&fake, false, true);
            KSGFX_SetMode(640, 480, 60);
        },
        ::testing::ExitedWithCode(1), "Could not find the video mode you requested.");
}

TEST_F(Enumeration, NoHardwareTransformGivesEightLightsAndSoftwareProcessing) {
    MarlixD3D8SetProfile(MARLIX_PROFILE_NO_TNL);
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    EXPECT_EQ(0, ksGlobal.caps.hardwareTnL);
    EXPECT_EQ(8, ksGlobal.caps.maxLights);
    D3DDEVICE_CREATION_PARAMETERS params;
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetCreationParameters(&params));
    EXPECT_EQ((DWORD)D3DCREATE_SOFTWARE_VERTEXPROCESSING, params.BehaviorFlags);
    DWORD software = 0;
    ksGlobal.device->GetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, &software);
    EXPECT_EQ(1u, software);

    // Whatever the caps say; and single texturing, once seen, stays.
    ksGlobal.devices[0].caps.MaxActiveLights = 3;
    ksGlobal.devices[0].caps.MaxSimultaneousTextures = 1;
    KS_ReadDeviceCaps();
    EXPECT_EQ(8, ksGlobal.caps.maxLights);
    ksGlobal.devices[0].caps.MaxSimultaneousTextures = 4;
    KS_ReadDeviceCaps();
    EXPECT_EQ(1, ksGlobal.caps.singleTexture);
}

TEST_F(Enumeration, WindowlessCardCannotRunWindowed) {
    UseThreadsafeDeathTests();
    MarlixD3D8SetProfile(MARLIX_PROFILE_NO_WINDOWED);
    EXPECT_EXIT(
        {
            KSViewport vp;
            StartEngine(true, true, 0, 0, &vp);
        },
        ::testing::ExitedWithCode(1), "This video card does not support rendering to a window");
}

TEST_F(Enumeration, SecondAdapterIsUsedThroughout) {
    MarlixD3D8SetProfile(MARLIX_PROFILE_TWO_ADAPTERS);
    testAdapter = 1;
    KSViewport vp;
    StartEngine(true, true, 0, 0, &vp);
    EXPECT_EQ(2, ksGlobal.adapterCount);
    EXPECT_EQ(1, ksGlobal.currentAdapter);
    EXPECT_NE(nullptr, ksGlobal.adapters[1].device);
    EXPECT_EQ(ksGlobal.adapters[1].device, ksGlobal.device);
    D3DDEVICE_CREATION_PARAMETERS params;
    ASSERT_EQ(D3D_OK, ksGlobal.device->GetCreationParameters(&params));
    EXPECT_EQ(1u, params.AdapterOrdinal);
    EXPECT_EQ(D3DDEVTYPE_HAL, params.DeviceType);
    // The windowed back buffer has the second adapter's desktop format.
    EXPECT_EQ(ksGlobal.adapters[1].desktopMode.Format, ksGlobal.backBufferFormat);
}

TEST_F(Enumeration, AdapterNumberBeyondTheAdaptersIsTheLastOne) {
    MarlixD3D8SetProfile(MARLIX_PROFILE_TWO_ADAPTERS);
    testAdapter = 7;
    InitEngine(true, true);
    EXPECT_EQ(1, ksGlobal.primaryAdapter);
    EXPECT_EQ(1, ksGlobal.currentAdapter);
    EXPECT_EQ(16, ListedModes());
}

}  // namespace
