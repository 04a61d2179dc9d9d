// Scene set-up as a run makes it: where every group stands, the order of the random draws, the
// backdrop, the fatal boxes for missing data, and a run that gives everything back.
#include "plugin_fixture.h"

#include <marlix_platform.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

using Scene = PluginTest;

namespace {

void ExpectAt(const KSEntity* entity, float x, float y, float z, const char* what, int i)
{
    ASSERT_NE(entity, nullptr) << what << " " << i;
    EXPECT_FLOAT_EQ(entity->position.x, x) << what << " " << i;
    EXPECT_FLOAT_EQ(entity->position.y, y) << what << " " << i;
    EXPECT_FLOAT_EQ(entity->position.z, z) << what << " " << i;
}

// A unit vector made the way set-up makes one, for comparison.
KSVector Unit(float x, float y, float z)
{
    float length = sqrtf(x * x + y * y + z * z);
    return KSVector{x / length, y / length, z / length};
}

}  // namespace

TEST_F(Scene, EveryGroupStandsWhereItBelongs)
{
    ASSERT_EQ(VisInit(&visModule), 0);
    const VisScene& s = visScene;

    // Hose 0 on the z axis; hose 4 a hair off the x axis, since the angle uses 3.1415.
    ExpectAt(s.ringHoses[0], 0.0f, 0.0f, 175.0f, "ring hose", 0);
    ExpectAt(s.ringHoses[4], 175.0f * sinf(0.5f * 3.1415f), 0.0f, 175.0f * cosf(0.5f * 3.1415f), "ring hose", 4);
    EXPECT_GT(s.ringHoses[4]->position.z, 0.0f);
    EXPECT_LT(s.ringHoses[4]->position.z, 0.01f);
    ExpectAt(s.ringHoses[8], 175.0f * sinf(3.1415f), 0.0f, 175.0f * cosf(3.1415f), "ring hose", 8);

    for (int i = 0; i < VIS_TORI; i++)
        ExpectAt(s.tori[i], -560.0f + 70.0f * i, 0.0f, 0.0f, "torus", i);
    EXPECT_FLOAT_EQ(s.tori[15]->position.x, 490.0f);

    ExpectAt(s.centreSphere, 0.0f, 50.0f, 0.0f, "centre", 0);
    const float corners[4][2] = {{-200, -200}, {200, -200}, {200, 200}, {-200, 200}};
    for (int k = 0; k < 4; k++)
        ExpectAt(s.cornerFlowers[k], corners[k][0], 0.0f, corners[k][1], "corner flower", k);
    for (int i = 0; i < VIS_OUTER_HOSES; i++) {
        float a = i * 0.25f * 3.1415f;
        ExpectAt(s.outerHoses[i], 1000.0f * sinf(a), 0.0f, 1000.0f * cosf(a), "outer hose", i);
        EXPECT_FLOAT_EQ(s.outerHoses[i]->scale.y, 4.0f);
    }
    for (int i = 0; i < VIS_ORBITS; i++) {
        ExpectAt(s.orbitFlowers[i], 0.0f, 0.0f, 0.0f, "orbit flower", i);
        // Row spheres start on the orbit points; the scene moves them elsewhere.
        const KSVector& p = s.orbitSpheres[i]->position;
        ExpectAt(s.rowSpheres[i], p.x, p.y, p.z, "row sphere", i);
    }

    // The camera looks at the centre from the front; the backdrop waits at the first frame's 50.
    EXPECT_FLOAT_EQ(s.camera->position.z, 1000.0f);
    EXPECT_FLOAT_EQ(s.camera->target.y, 50.0f);
    EXPECT_FLOAT_EQ(s.camera->nearDist, 10.0f);
    const KSMaterial* backdrop = KS_GetMaterial(s.backdropMaterial);
    ASSERT_NE(backdrop, nullptr);
    EXPECT_STREQ(backdrop->name, "hud0");
    EXPECT_EQ(backdrop->method, T_TRANSLUCENT_TEXTURED);
    EXPECT_EQ(backdrop->alpha, 50.0f);
    EXPECT_EQ(backdrop->textures[0], s.backdropTexture);
    EXPECT_NE(s.font, nullptr);
    EXPECT_EQ(s.lights.count, 1);
    EXPECT_EQ(ksActiveLights.capacity, 1);
}

TEST_F(Scene, RandomDrawsComeInTheirOrderBeforeTheSeed)
{
    srand(4321);
    ASSERT_EQ(VisInit(&visModule), 0);
    srand(4321);
    const VisScene& s = visScene;
    for (int i = 0; i < VIS_ORBITS; i++) {
        float x = (float)(rand() % 1000 - 500);
        float y = (float)(rand() % 1000 - 500);
        float z = (float)(rand() % 1000 - 500);
        KSVector d = Unit(x, y, z);
        float r = (float)(rand() % 600);
        EXPECT_NEAR(s.orbitDirections[i].x, d.x, 1e-6) << i;
        EXPECT_NEAR(s.orbitDirections[i].y, d.y, 1e-6) << i;
        EXPECT_NEAR(s.orbitDirections[i].z, d.z, 1e-6) << i;
        EXPECT_EQ(s.orbitRadii[i], r) << i;
        EXPECT_NEAR(s.orbitSpheres[i]->position.x, r * d.x, 1e-3) << i;
    }
    struct Mover {
        const KSVector* positions;
        const KSVector* velocities;
        int count;
    } movers[2] = {{s.ballPositions, s.ballVelocities, VIS_BALLS}, {s.popcornPositions, s.popcornVelocities, VIS_POPCORN}};
    for (const Mover& m : movers)
        for (int j = 0; j < m.count; j++) {
            float p[3], v[3];
            for (float& c : p)
                c = (float)(rand() % 600 - 300);
            for (float& c : v)
                c = (float)(rand() % 600 - 300);
            KSVector u = Unit(v[0], v[1], v[2]);
            EXPECT_EQ(m.positions[j].x * 1e6f + m.positions[j].y * 1e3f + m.positions[j].z,
                      p[0] * 1e6f + p[1] * 1e3f + p[2]) << j;
            EXPECT_NEAR(m.velocities[j].x, u.x, 1e-6) << j;
            EXPECT_NEAR(m.velocities[j].z, u.z, 1e-6) << j;
        }
    EXPECT_FLOAT_EQ(s.balls[31]->position.y, s.ballPositions[31].y);
    EXPECT_FLOAT_EQ(s.popcorn[7]->position.z, s.popcornPositions[7].z);
}

TEST_F(Scene, TwoRunsInOneProcessGiveEveryBlockBack)
{
    for (int run = 0; run < 2; run++) {
        ASSERT_EQ(VisInit(&visModule), 0) << run;
        for (int frame = 0; frame < 3; frame++)
            EXPECT_EQ(VisRender(&visModule), 0);
        VisQuit(&visModule);
        EXPECT_EQ(running, 0);
        EXPECT_EQ(KS_MemoryBlockCount(), 0) << run;
        EXPECT_EQ(visScene.camera, nullptr);
        EXPECT_EQ(visScene.balls[0], nullptr);
    }
}

// Each missing file ends the run with its box; the child reports the box it saw.
class MissingData : public PluginTest {
protected:
    // marlixdata as a folder of its own holding the built files except `missing`.
    void Without(const std::string& missing)
    {
        std::filesystem::remove_all(dir + "/marlixdata");
        std::filesystem::path built = std::filesystem::path(MARLIX_PLUGIN_FILE).parent_path() / "marlixdata";
        std::filesystem::create_directory(dir + "/marlixdata");
        for (const auto& entry : std::filesystem::directory_iterator(built))
            if (entry.path().filename() != missing)
                std::filesystem::copy(entry.path(), std::filesystem::path(dir) / "marlixdata" / entry.path().filename());
    }
};

static void ReportBoxAtExit(void)
{
    int n = MarlixMessageBoxCount();
    if (n > 0)
        fprintf(stderr, "box <%s> <%s>\n", MarlixMessageBoxText(n - 1), MarlixMessageBoxCaption(n - 1));
}

static void RunExpectingTheEnd(void)
{
    MarlixMessageBoxClear();
    atexit(ReportBoxAtExit);
    VisInit(&visModule);
}

TEST_F(MissingData, EachMissingFileEndsTheRunWithItsBox)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* cases[][2] = {
        {"hose.kso", "box <cannot open hose file> <scene>"},
        {"sphere.kso", "box <cannot open sphere file> <scene>"},
        {"flower.kso", "box <cannot open flower file> <scene>"},
        {"torus.kso", "box <cannot open torus file> <scene>"},
        {"multi.kso", "box <cannot open multi file> <scene>"},
        {"back.jpg", "box <Can't open HUD texture> < >"},
    };
    for (const auto& c : cases) {
        Without(c[0]);
        EXPECT_EXIT(RunExpectingTheEnd(), ::testing::ExitedWithCode(1), c[1]) << c[0];
    }
}
