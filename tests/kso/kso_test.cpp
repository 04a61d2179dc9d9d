// Shared set-up of the object file tests.
#include "kso_test.h"

#include "engine_start.h"

#include <stdio.h>
#include <stdlib.h>

EngineState CaptureEngineState()
{
    EngineState s;
    s.blocks = KS_MemoryBlockCount();
    for (int32_t i = 0; i < ksMaterialCount; i++)
        if (ksMaterials[i].name[0])
            s.materials.push_back(ksMaterials[i].name);
    for (int32_t i = 0; i < ksTextureCount; i++)
        if (ksTextures[i].name)
            s.textures.push_back(ksTextures[i].name);
    for (KSCamera* c = ksCameraList; c; c = c->next)
        s.cameras++;
    return s;
}

void KsoTest::SetUp()
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");   // the device runs threads
    char pattern[] = "/tmp/marlix-kso-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory = pattern;
    ksRescaleLayers = 0;
    ASSERT_TRUE(StartTestEngine(TestEngineOptions("KSObjectTest", "object test"), &window, nullptr));
    KS_SetMipmapSetting(1);
    KS_SetTextureDirectory((directory + "/").c_str());
    baselineBlocks = KS_MemoryBlockCount();
    baselineObjects = MarlixD3D8LiveObjects();
    KS_AllocMaterials(132);
    KSGFX_AllocTextures(132);
}

void KsoTest::TearDown()
{
    for (KSObject* o : objects)
        KS_FreeObject(o);
    KS_RemoveAllCameras();
    KS_FreeVertexShaders();
    KS_FreePixelShaders();
    MarlixMessageBoxClear();
    KSGFX_FreeTextures();
    KS_FreeMaterials();
    EXPECT_EQ(baselineBlocks, KS_MemoryBlockCount()) << "engine blocks left behind";
    EXPECT_EQ(baselineObjects, MarlixD3D8LiveObjects()) << "Direct3D objects left behind";
    StopTestEngine(window);
    ksRescaleLayers = 0;
    EXPECT_EQ(0, system(("rm -rf '" + directory + "'").c_str()));
}

std::string KsoTest::Save(const std::string& name, const Bytes& bytes)
{
    std::string path = directory + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, f);
    if (f) {
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

KSObject* KsoTest::LoadBytes(const Bytes& bytes, int32_t flags)
{
    std::string path = Save("model" + std::to_string(serial++) + ".kso", bytes);
    KSObject* o = KS_LoadObject(path.c_str(), flags);
    if (o)
        objects.push_back(o);
    return o;
}

void KsoTest::WriteTexture(const std::string& name, int width, int height, uint32_t argb)
{
    Bytes b(18, 0);
    b[2] = 2;   // uncompressed true colour
    b[12] = (uint8_t)width;
    b[13] = (uint8_t)(width >> 8);
    b[14] = (uint8_t)height;
    b[15] = (uint8_t)(height >> 8);
    b[16] = 32;
    b[17] = 0x28;   // top-down, 8 alpha bits
    for (int i = 0; i < width * height; i++)
        for (int c = 0; c < 4; c++)
            b.push_back((uint8_t)(argb >> (8 * c)));   // B, G, R, A
    Save(name, b);
}

KsoModel TriangleModel(uint16_t material)
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
    f.material = f.material2 = material;
    f.corners[0] = 0;
    f.corners[1] = 1;
    f.corners[2] = 2;
    f.u[1] = 1;
    f.v[2] = 1;
    f.normal[2] = 1023;
    s.faces.push_back(f);
    m.segments.push_back(s);
    return m;
}
