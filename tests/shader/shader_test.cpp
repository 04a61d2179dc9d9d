// Shared set-up of the shader tests.
#include "shader_test.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

static void TestChooseDevice(int* adapter, int* adapterCopy, int* deviceType)
{
    ksGlobal.deviceCount = 0;
    KS_BuildDeviceList();
    *adapter = *adapterCopy = *deviceType = 0;
}

void ShaderTest::SetUp()
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");   // the device runs threads
    char pattern[] = "/tmp/marlix-shader-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory = pattern;
    MarlixSetHeadless(1);
    MarlixClockEnable(1);
    MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
    MarlixMessageBoxClear();
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = TestWindowProc;
    wc.lpszClassName = "KSShaderTest";
    RegisterClassA(&wc);
    window = CreateWindowExA(0, "KSShaderTest", "shader test", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr, nullptr,
                             nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    KS_SetWindow(window);
    ksGlobal.runWindowed = 1;
    ksGlobal.use32Bit = 1;
    verbose = 0;
    ksChooseDeviceHook = TestChooseDevice;
    KS_UseDirect3D();
    KS_InitEngine(7000);
    KS_SelectDriver();
    ASSERT_EQ(1, KSGFX_SetMode(320, 240, 60));
    static KSViewport viewport;
    KS_MakeViewport(&viewport, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
    KS_SetViewport(&viewport);
    KSGFX_SetDrawTarget(1);
    KS_SetTextureDirectory((directory + "/").c_str());
    baselineBlocks = KS_MemoryBlockCount();
    baselineObjects = MarlixD3D8LiveObjects();
    KSGFX_AllocTextures(132);
    ASSERT_EQ(1, KS_AllocMaterials(132));
    ksGlobal.vertexBufferSwitch = 1;
    camera = KS_CreateCamera();
    KS_InitCamera(camera);
    KS_SetCameraMode(camera, KS_CAM_LOOK_AT);
    KS_UpdateCamera(camera);
}

void ShaderTest::TearDown()
{
    for (KSObject* o : objects)
        KS_FreeObject(o);
    KS_DeleteCamera(camera);
    KS_FreeVertexShaders();
    KS_FreePixelShaders();
    KS_FreeMaterials();
    KSGFX_FreeTextures();
    KS_FreeLights(&ksActiveLights);
    EXPECT_EQ(baselineBlocks, KS_MemoryBlockCount()) << "engine blocks left behind";
    EXPECT_EQ(baselineObjects, MarlixD3D8LiveObjects()) << "Direct3D objects left behind";
    KS_FreeEngineBuffers();
    DestroyWindow(window);
    MarlixMessageBoxClear();
    ksShaderLightVector[0] = ksShaderLightVector[1] = ksShaderLightVector[2] = 0.0f;
    EXPECT_EQ(0, system(("rm -rf '" + directory + "'").c_str()));
}

KSObject* ShaderTest::Load(const KsoModel& model)
{
    std::string path = directory + "/model" + std::to_string(serial++) + ".kso";
    EXPECT_TRUE(KsoSaveModel(path, model));
    KSObject* o = KS_LoadObject(path.c_str(), 0);
    if (o)
        objects.push_back(o);
    return o;
}

KsoModel TriangleModel(void)
{
    KsoModel m;
    m.name = "triangle";
    KsoSegment s;
    s.name = "tri";
    const float p[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    for (int i = 0; i < 3; i++) {
        KsoVertex v;
        for (int j = 0; j < 3; j++)
            v.position[j] = p[i][j];
        v.normal[2] = 1023;
        s.vertices.push_back(v);
    }
    KsoFace f;
    f.corners[0] = 0;
    f.corners[1] = 1;
    f.corners[2] = 2;
    s.faces.push_back(f);
    m.segments.push_back(s);
    return m;
}

KsoShader Shader(const char* name, uint32_t type, const char* source)
{
    KsoShader s;
    s.name = name;
    s.type = type;
    s.source = source;
    return s;
}
