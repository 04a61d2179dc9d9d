// The frame update: band levels, the camera paths, the balls and popcorn, time and the scene
// cycle, and whole frames of a run (silence settling, the backdrop's opacity, the low camera after
// key 3, no allocation per frame).
#include "plugin_fixture.h"

#include <marlix_platform.h>

#include <math.h>
#include <stdlib.h>

// Allocation counters: the test program is linked with malloc, calloc and realloc wrapped, which
// catches every call from the plug-in, the engine and its memory tracker.
static int countAllocations = 0;
static long allocations = 0;
extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __real_realloc(void* pointer, size_t size);
extern "C" void* __wrap_malloc(size_t size)
{
    allocations += countAllocations;
    return __real_malloc(size);
}
extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    allocations += countAllocations;
    return __real_calloc(count, size);
}
extern "C" void* __wrap_realloc(void* pointer, size_t size)
{
    allocations += countAllocations;
    return __real_realloc(pointer, size);
}

namespace {

void SetSpectrum(int value)
{
    memset(visModule.spectrumData, value, sizeof(visModule.spectrumData));
}

TEST(Bands, RiseHalfwayAndFallByTen)
{
    visAnim = VisAnimState();
    SetSpectrum(255);
    const int rise[] = {127, 191, 223, 239, 247, 251, 253, 254, 254};
    for (int expected : rise) {
        VisUpdateBands(&visModule);
        for (int i = 0; i < 32; i++)
            ASSERT_EQ(visAnim.bands[i], expected) << i;
    }
    SetSpectrum(0);
    const int fall[] = {244, 234, 224};
    for (int expected : fall) {
        VisUpdateBands(&visModule);
        EXPECT_EQ(visAnim.bands[31], expected);
    }
    visAnim.bands[0] = 10;
    visAnim.bands[1] = 11;
    VisUpdateBands(&visModule);
    EXPECT_EQ(visAnim.bands[0], 0);
    EXPECT_EQ(visAnim.bands[1], 1);

    // Band i reads the larger of bins 4 + 2i and 5 + 2i of channel 0 only.
    visAnim = VisAnimState();
    SetSpectrum(0);
    visModule.spectrumData[0][5] = 100;   // band 0
    visModule.spectrumData[0][66] = 40;   // band 31
    visModule.spectrumData[0][3] = 255;   // below the bins read
    visModule.spectrumData[0][68] = 255;  // above them
    visModule.spectrumData[1][4] = 255;   // second channel
    VisUpdateBands(&visModule);
    EXPECT_EQ(visAnim.bands[0], 50);
    EXPECT_EQ(visAnim.bands[31], 20);
    int others = 0;
    for (int i = 1; i < 31; i++)
        others += visAnim.bands[i];
    EXPECT_EQ(others, 0);
    SetSpectrum(0);
}

TEST(CameraPath, LowCircleForBouncyBallsAndTheGeneralPathElsewhere)
{
    for (float t = 0.0f; t < 5000.0f; t += 97.0f) {
        KSVector low = VisCameraPath(2, t);
        EXPECT_NEAR(sqrtf(low.x * low.x + low.z * low.z), 500.0f, 0.01f) << t;
        EXPECT_GE(low.y, 40.0f - 1e-3f);
        EXPECT_LE(low.y, 240.0f + 1e-3f);
    }
    KSVector p = VisCameraPath(0, 0.0f);
    EXPECT_FLOAT_EQ(p.x, 0.0f);
    EXPECT_FLOAT_EQ(p.y, 500.0f);
    EXPECT_FLOAT_EQ(p.z, 600.0f);
    // t = 100: worked by hand from the path's formulas.
    p = VisCameraPath(6, 100.0f);
    EXPECT_NEAR(p.x, 600.0f * 0.29552021f, 1e-3);
    EXPECT_NEAR(p.y, 400.0f * 0.64421769f + 500.0f, 1e-3);
    EXPECT_NEAR(p.z, 600.0f * 0.87758256f + 400.0f * 0.84147098f, 1e-3);
    p = VisCameraPath(2, 100.0f);
    EXPECT_NEAR(p.y, 100.0f * 0.19866933f + 140.0f, 1e-3);
    for (int scene = 0; scene < VIS_SCENE_COUNT; scene++)
        EXPECT_EQ(visCatalogue[scene].lowCamera, scene == 2) << scene;
}

TEST(Balls, BounceSettleAndAreKickedByLoudMiddleBands)
{
    int quiet[32] = {0};
    KSVector p = {0.0f, 100.0f, 0.0f}, v = {0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 1, quiet);
    EXPECT_FLOAT_EQ(v.y, -4.0f);
    EXPECT_FLOAT_EQ(p.y, 96.0f);
    // Ball 31 falls faster: 4 + 3 * 31 / 32 per tick.
    KSVector p31 = {0.0f, 100.0f, 0.0f}, v31 = {0.0f, 0.0f, 0.0f};
    VisStepBall(31, &p31, &v31, 2, quiet);
    EXPECT_FLOAT_EQ(v31.y, -2.0f * (4.0f + 93.0f / 32.0f));

    // Falling through the floor: stopped at 0, thrown back up at 0.4 of the speed.
    p = KSVector{0.0f, 5.0f, 0.0f};
    v = KSVector{0.0f, -20.0f, 0.0f};
    VisStepBall(0, &p, &v, 1, quiet);
    EXPECT_FLOAT_EQ(p.y, 0.0f);
    EXPECT_FLOAT_EQ(v.y, 9.6f);

    // Silence: from anywhere a ball ends on the floor, bouncing no higher than a frame's gravity.
    p = KSVector{0.0f, 290.0f, 0.0f};
    v = KSVector{0.0f, 0.0f, 0.0f};
    for (int frame = 0; frame < 400; frame++)
        VisStepBall(5, &p, &v, 1, quiet);
    EXPECT_FLOAT_EQ(p.y, 0.0f);
    EXPECT_LT(fabsf(v.y), 4.5f);

    // Kicks: a band above 64 lifts a resting ball by 50 per tick, at most 250.
    int loud[32] = {0};
    loud[6] = 65;
    p = KSVector{0.0f, 0.0f, 0.0f};
    v = KSVector{0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 3, loud);
    EXPECT_FLOAT_EQ(v.y, 150.0f);
    p = KSVector{0.0f, 0.0f, 0.0f};
    v = KSVector{0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 6, loud);
    EXPECT_FLOAT_EQ(v.y, 250.0f) << "300 capped";
    loud[6] = 64;   // not above 64
    v = KSVector{0.0f, 0.0f, 0.0f};
    p = KSVector{0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 1, loud);
    EXPECT_LT(v.y, 50.0f);
    loud[4] = 200;
    loud[3] = 255;
    loud[8] = 255;
    // In the air (10 or higher after the step), or too fast, no kick; bands 3 and 8 never kick.
    p = KSVector{0.0f, 40.0f, 0.0f};
    v = KSVector{0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 1, loud);
    EXPECT_FLOAT_EQ(v.y, -4.0f);
    int middleOnly[32] = {0};
    middleOnly[3] = 255;
    middleOnly[8] = 255;
    p = KSVector{0.0f, 0.0f, 0.0f};
    v = KSVector{0.0f, 0.0f, 0.0f};
    VisStepBall(0, &p, &v, 1, middleOnly);
    EXPECT_LT(v.y, 50.0f);

    // Walls at +-300 turn the horizontal velocity inwards; the horizontal step is 4 per tick.
    p = KSVector{299.0f, 100.0f, -299.0f};
    v = KSVector{1.0f, 0.0f, -1.0f};
    VisStepBall(0, &p, &v, 1, quiet);
    EXPECT_FLOAT_EQ(p.x, 303.0f);
    EXPECT_FLOAT_EQ(v.x, -1.0f);
    EXPECT_FLOAT_EQ(v.z, 1.0f);
}

TEST(Popcorn, FliesTenPerTickAndTurnsAtTheBox)
{
    KSVector p = {295.0f, -295.0f, 0.0f}, v = {1.0f, -1.0f, 0.5f};
    VisStepPopcorn(&p, &v, 2);
    EXPECT_FLOAT_EQ(p.x, 315.0f);
    EXPECT_FLOAT_EQ(p.y, -315.0f);
    EXPECT_FLOAT_EQ(p.z, 10.0f);
    EXPECT_FLOAT_EQ(v.x, -1.0f);
    EXPECT_FLOAT_EQ(v.y, 1.0f);
    EXPECT_FLOAT_EQ(v.z, 0.5f);
}

TEST(Time, TicksCappedAndTheCycleTurnsOnlyPastSceneTime)
{
    visAnim = VisAnimState();
    visPlaylist.timer = 0;
    visSettings.CycleScenes = 1;
    visSettings.SceneTime = 1200;
    visAnim.currentScene = 7;
    VisAdvanceTime(60);
    EXPECT_EQ(visAnim.frameTicks, 20) << "a frame that took a second counts 20 ticks";
    EXPECT_FLOAT_EQ(visAnim.clock, 20.0f);
    EXPECT_EQ(visPlaylist.timer, 0) << "a hidden browser's timer stays";
    for (int i = 0; i < 59; i++)
        VisAdvanceTime(20);
    EXPECT_EQ(visAnim.sceneTimer, 1200);
    EXPECT_EQ(visAnim.currentScene, 7) << "1200 is not past SceneTime 1200";
    VisAdvanceTime(1);
    EXPECT_EQ(visAnim.currentScene, 0) << "after the eighth scene comes the first";
    EXPECT_EQ(visAnim.sceneTimer, 0);
    visSettings.CycleScenes = 0;
    for (int i = 0; i < 100; i++)
        VisAdvanceTime(20);
    EXPECT_EQ(visAnim.currentScene, 0);
    EXPECT_EQ(visAnim.sceneTimer, 0);
    visAnim = VisAnimState();
}

class Frames : public PluginTest {
protected:
    void Start(int scene)
    {
        MarlixClockEnable(1);
        char ini[200];
        snprintf(ini, sizeof(ini), "[Marlix Winamp Visualizer]\nDefaultScene=%d\nCycleScenes=0\n", scene);
        WriteIni(ini);
        ASSERT_EQ(VisInit(&visModule), 0);
        SetSpectrum(0);
    }
    // One frame, one tick long.
    void Frame()
    {
        MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY / 60);
        VisRender(&visModule);
    }
    void TearDown() override
    {
        SetSpectrum(0);
        PluginTest::TearDown();
    }
};

TEST_F(Frames, SilenceSettlesEveryGroup)
{
    Start(0);
    for (int i = 0; i < 32; i++)
        visAnim.bands[i] = 255;
    for (int frame = 0; frame < 30; frame++)
        Frame();
    for (int i = 0; i < 32; i++)
        ASSERT_EQ(visAnim.bands[i], 0) << i;
    for (int i = 0; i < VIS_RING_HOSES; i++) {
        const KSVector& s = visScene.ringHoses[i]->scale;
        EXPECT_EQ(s.x * 100 + s.y * 10 + s.z, 111.0f) << i;
    }
    for (int i = 0; i < VIS_ORBITS; i++) {
        EXPECT_FLOAT_EQ(visScene.orbitFlowers[i]->scale.x, 2.0f) << i;
        EXPECT_FLOAT_EQ(visScene.orbitSpheres[i]->scale.y, 1.0f) << i;
        // In silence the slots stand still at their own radius.
        const KSVector& p = visScene.orbitSpheres[i]->position;
        EXPECT_NEAR(sqrtf(p.x * p.x + p.y * p.y + p.z * p.z), visScene.orbitRadii[i], 0.01f) << i;
    }
    EXPECT_FLOAT_EQ(visScene.centreSphere->scale.z, 2.0f);

    SendMessageA(visWindow, WM_KEYDOWN, '3', 0);
    for (int frame = 0; frame < 300; frame++)
        Frame();
    for (int j = 0; j < VIS_BALLS; j++) {
        EXPECT_EQ(visScene.ballPositions[j].y, 0.0f) << j;
        EXPECT_LT(fabsf(visScene.ballVelocities[j].y), 7.0f) << j;
        EXPECT_FLOAT_EQ(visScene.balls[j]->scale.x, 1.0f) << j;
    }
}

TEST_F(Frames, KeyThreeFliesTheLowCircleAtOnce)
{
    Start(0);
    Frame();
    EXPECT_GT(visScene.camera->position.y, 240.0f) << "the general path flies high";
    SendMessageA(visWindow, WM_KEYDOWN, '3', 0);
    EXPECT_EQ(visAnim.currentScene, 2);
    Frame();
    const KSVector& eye = visScene.camera->position;
    EXPECT_NEAR(sqrtf(eye.x * eye.x + eye.z * eye.z), 500.0f, 0.01f);
    EXPECT_LE(eye.y, 240.0f);
    EXPECT_GE(eye.y, 40.0f);
    // The light rides with the camera.
    EXPECT_FLOAT_EQ(visScene.lights.lights[0].position.x, eye.x);
    EXPECT_FLOAT_EQ(visScene.lights.lights[0].position.y, eye.y);
    EXPECT_FLOAT_EQ(visScene.camera->aspect, ksGlobal.viewport.width / ksGlobal.viewport.height);
}

TEST_F(Frames, BackdropOpacityTakesTheLowEightBitsOfMotionBlur)
{
    Start(1);
    const KSMaterial* backdrop = KS_GetMaterial(visScene.backdropMaterial);
    const int settings[][2] = {{192, 192}, {256, 0}, {0, 0}, {256 + 40, 40}, {255, 255}};
    for (const auto& c : settings) {
        visSettings.MotionBlur = c[0];
        Frame();
        EXPECT_EQ(backdrop->alpha, (float)c[1]) << c[0];
    }
}

TEST_F(Frames, EveryScenePlaysWithoutAllocating)
{
    host.titles = {"one", "two", "three"};
    Start(0);
    visSettings.ShowCustom = 1;
    visSettings.SongTitle = 1;
    SendMessageA(visWindow, WM_KEYDOWN, VK_DOWN, 0);
    // A beat on the low bands and a slow sweep above, so every group moves.
    auto music = [](int frame) {
        for (int bin = 0; bin < 576; bin++)
            visModule.spectrumData[0][bin] = (unsigned char)(bin < 20 ? (frame % 8 < 2 ? 250 : 30)
                                                                  : (frame * 7 + bin * 13) % 256);
    };
    for (int scene = 0; scene < VIS_SCENE_COUNT; scene++) {
        visAnim.currentScene = scene;
        music(0);
        Frame();   // the first frame of a scene may settle caches
        visPlaylist.timer = 120;
        allocations = 0;
        countAllocations = 1;
        for (int frame = 1; frame < 40; frame++) {
            music(frame);
            Frame();
        }
        countAllocations = 0;
        EXPECT_EQ(allocations, 0) << visCatalogue[scene].name;
    }
    int blocks = KS_MemoryBlockCount();
    Frame();
    EXPECT_EQ(KS_MemoryBlockCount(), blocks);
}

}  // namespace
