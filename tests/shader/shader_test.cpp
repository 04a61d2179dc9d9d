// Shared set-up of the shader tests.
#include "shader_test.h"

#include "engine_start.h"

#include <stdio.h>
#include <stdlib.h>

static KSViewport viewport;

void ShaderTest::SetUp()
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");   // the device runs threads
    char pattern[] = "/tmp/marlix-shader-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory = pattern;
    MarlixMessageBoxClear();
    TestEngineOptions options("KSShaderTest", "shader test");
    options.profile = MARLIX_PROFILE_DEFAULT;
    ASSERT_TRUE(StartTestEngine(options, &window, &viewport));
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
    StopTestEngine(window);
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
