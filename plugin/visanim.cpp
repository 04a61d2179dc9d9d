// One frame: the backdrop over the last picture (motion-blur trails), time, the scene cycle, the
// flying camera with its light, the 32 band levels from the spectrum, the six animation blocks of
// the current scene, the text overlay and the present.
#include "vis.h"

#include <math.h>

static float Level(int band)
{
    return (float)visAnim.bands[band] / 255.0f;
}

// Every entity a block touches ends like this.
static void Draw(KSEntity* entity)
{
    KS_TransformEntity(entity);
    KS_RenderEntity(entity);
}

static void Position(KSEntity* entity, float r, const KSVector* d)
{
    KS_SetEntityPosition(entity, r * d->x, r * d->y, r * d->z);
}

void VisUpdateBands(VisModule* module)
{
    const unsigned char* s = module->spectrumData[0];
    for (int i = 0; i < 32; i++) {
        int peak = s[4 + 2 * i] > s[5 + 2 * i] ? s[4 + 2 * i] : s[5 + 2 * i];
        int* band = &visAnim.bands[i];
        // Up halfway per frame, down 10 per frame whatever its length.
        if (*band < peak)
            *band = (*band + peak) / 2;
        else if (*band > 10)
            *band -= 10;
        else
            *band = 0;
    }
}

void VisDrawBackdrop(float depth)
{
    int width = (int)ksGlobal.viewport.width;
    int height = (int)ksGlobal.viewport.height;
    KSGFX_SetClip(0, 0, width, height);
    KS_DrawSprite(visScene.backdrop, 0.0f, 0.0f, (float)width, (float)height, depth);
    KSGFX_SetClip(0, 0, width - 1, height - 1);
}

void VisAdvanceTime(int elapsedTicks)
{
    // A stall moves the scene by a third of a second at most.
    visAnim.frameTicks = elapsedTicks < 20 ? elapsedTicks : 20;
    visAnim.clock += (float)visAnim.frameTicks;
    if (visPlaylist.timer > 0)
        visPlaylist.timer -= visAnim.frameTicks;
    if (visSettings.CycleScenes) {
        visAnim.sceneTimer += visAnim.frameTicks;
        if (visAnim.sceneTimer > visSettings.SceneTime) {
            visAnim.currentScene = (visAnim.currentScene + 1) % VIS_SCENE_COUNT;
            visAnim.sceneTimer = 0;
        }
    }
}

KSVector VisCameraPath(int scene, float t)
{
    KSVector p;
    if (visCatalogue[scene].lowCamera) {
        p.x = 500.0f * sinf(0.003f * t);
        p.y = 100.0f * sinf(0.002f * t) + 140.0f;
        p.z = 500.0f * cosf(0.003f * t);
    } else {
        p.x = 600.0f * sinf(0.003f * t);
        p.y = 400.0f * sinf(0.007f * t) + 500.0f;
        p.z = 600.0f * cosf(0.005f * t) + 400.0f * sinf(0.01f * t);
    }
    return p;
}

// Block 1, "Flower Orbit": the ring of hoses stretches with bands 0 to 15, the centre sphere
// swells with band 2.
static void BlockRing(void)
{
    for (int i = 0; i < VIS_RING_HOSES; i++) {
        KS_SetEntityScale(visScene.ringHoses[i], 1.0f, 1.0f + 2.0f * Level(i), 1.0f);
        Draw(visScene.ringHoses[i]);
    }
    float s = 2.0f + 4.0f * Level(2);
    KS_SetEntityScale(visScene.centreSphere, s, s, s);
    Draw(visScene.centreSphere);
}

// Block 2: spheres and flowers orbit, each slot faster the louder its band; bass pushes the ring out.
static void BlockOrbits(void)
{
    for (int i = 0; i < VIS_ORBITS; i++) {
        KSEntity* flower = visScene.orbitFlowers[i];
        KSEntity* sphere = visScene.orbitSpheres[i];
        KSVector* d = &visScene.orbitDirections[i];
        float f = 2.0f - Level(1);
        KS_SetEntityScale(flower, f, f, f);
        float s = 1.0f + 1.5f * Level(1);
        KS_SetEntityScale(sphere, s, s, s);

        KSMatrix turn;
        KS_MakeRotationMatrix(&turn, 0.0f, -15.0f * Level(i), 0.0f);
        ksPoint = *d;
        KS_TransformPoint(&turn);
        *d = ksPoint;

        // Band 0 enters unscaled: loud bass pushes the ring out by up to 382.5.
        float r = visScene.orbitRadii[i] + Level(2) + 1.5f * (float)visAnim.bands[0];
        Position(sphere, r, d);
        Draw(sphere);
        KS_RotateEntity(flower, 15.0f * Level(i), 10.0f * Level(i / 2), 5.0f * Level(i / 4));
        Position(flower, r, d);
        Draw(flower);
    }
}

// Block 3, "New Age": corner flowers breathe, a row of spheres jumps forwards and backwards,
// the big outer hoses turn.
static void BlockNewAge(void)
{
    for (int k = 0; k < VIS_CORNER_FLOWERS; k++) {
        float m = Level(2 * k);
        float o = 0.5f + 4.0f * m;
        KS_SetEntityScale(visScene.cornerFlowers[k], o, 1.0f + 0.5f * m, o);
        Draw(visScene.cornerFlowers[k]);
    }
    for (int i = 0; i < VIS_ROW_SPHERES; i++) {
        KSEntity* sphere = visScene.rowSpheres[i];
        float s = 1.5f + 1.5f * Level(i);
        KS_SetEntityScale(sphere, s, s, s);
        float d = (i % 2 == 0) ? -1.0f : 1.0f;
        KS_SetEntityPosition(sphere, (float)((i - 8) * 75), 200.0f, d * (float)visAnim.bands[i] * 600.0f / 255.0f);
        Draw(sphere);
    }
    for (int k = 0; k < VIS_OUTER_HOSES; k++) {
        KS_RotateEntity(visScene.outerHoses[k], 25.0f * Level(k), 20.0f * Level(2 * k), 15.0f * Level(4 * k));
        Draw(visScene.outerHoses[k]);
    }
}

void VisStepBall(int j, KSVector* p, KSVector* v, int n, const int* bands)
{
    p->x += 4.0f * (float)n * v->x;
    p->z += 4.0f * (float)n * v->z;
    if (p->x < -300.0f)
        v->x = fabsf(v->x);
    if (p->z < -300.0f)
        v->z = fabsf(v->z);
    if (p->x > 300.0f)
        v->x = -fabsf(v->x);
    if (p->z > 300.0f)
        v->z = -fabsf(v->z);
    // Ball 0 falls slowest, ball 31 fastest; the vertical step is per frame, not per tick.
    v->y -= (float)n * (4.0f + 3.0f * (float)j / 32.0f);
    p->y += v->y;
    if (p->y < 0.0f) {
        p->y = 0.0f;
        v->y = -0.4f * v->y;
    }
    // A ball resting on the floor is kicked up by a loud band 4 to 7, at most once a frame.
    float kick = (float)(50 * n < 250 ? 50 * n : 250);
    for (int b = 4; b <= 7; b++) {
        int speed = (int)v->y;
        if (p->y < 10.0f && speed > -20 && speed < 20 && bands[b] > 64)
            v->y = kick;
    }
}

// Block 4, "Bouncy Balls".
static void BlockBalls(void)
{
    for (int j = 0; j < VIS_BALLS; j++) {
        KSVector* p = &visScene.ballPositions[j];
        VisStepBall(j, p, &visScene.ballVelocities[j], visAnim.frameTicks, visAnim.bands);
        float s = 1.0f + Level(j);
        KS_SetEntityScale(visScene.balls[j], s, s, s);
        KS_SetEntityPosition(visScene.balls[j], p->x, p->y, p->z);
        Draw(visScene.balls[j]);
    }
}

// Block 5, "Tuba": the row of tori widens with bands 0 to 15.
static void BlockTori(void)
{
    for (int i = 0; i < VIS_TORI; i++) {
        float m = Level(i);
        float t = 1.5f + 5.5f * m;
        KS_SetEntityScale(visScene.tori[i], t, 1.5f + 1.5f * m, t);
        Draw(visScene.tori[i]);
    }
}

void VisStepPopcorn(KSVector* p, KSVector* v, int n)
{
    float step = 10.0f * (float)n;
    p->x += step * v->x;
    p->y += step * v->y;
    p->z += step * v->z;
    float* position[3] = {&p->x, &p->y, &p->z};
    float* velocity[3] = {&v->x, &v->y, &v->z};
    for (int a = 0; a < 3; a++)
        if (*position[a] < -300.0f)
            *velocity[a] = fabsf(*velocity[a]);
    for (int a = 0; a < 3; a++)
        if (*position[a] > 300.0f)
            *velocity[a] = -fabsf(*velocity[a]);
}

// Block 6, "Popcorn": pieces fly in a box of 600, tumbling and swelling with the music.
static void BlockPopcorn(void)
{
    for (int k = 0; k < VIS_POPCORN; k++) {
        KSEntity* piece = visScene.popcorn[k];
        KSVector* p = &visScene.popcornPositions[k];
        VisStepPopcorn(p, &visScene.popcornVelocities[k], visAnim.frameTicks);
        KS_RotateEntity(piece, 10.0f * Level(k), 10.0f * Level(2 * k), 10.0f * Level(4 * k));
        float s = 1.0f + 5.0f * Level(k);
        KS_SetEntityScale(piece, s, s, s);
        KS_SetEntityPosition(piece, p->x, p->y, p->z);
        Draw(piece);
    }
}

static void (*const blocks[VIS_BLOCK_COUNT])(void) = {
    BlockRing, BlockOrbits, BlockNewAge, BlockBalls, BlockTori, BlockPopcorn,
};

int VisRender(VisModule* module)
{
    if (visAnim.busy)
        return 0;
    visAnim.busy = 1;
    KSCamera* camera = visScene.camera;
    float width = ksGlobal.viewport.width;
    float height = ksGlobal.viewport.height;

    KSGFX_SetClip(0, 0, (int)(width - 1.0f), (int)(height - 1.0f));
    KSGFX_SetDrawTarget(1);
    KS_BeginFrame();
    KS_UpdateCamera(camera);
    ksGlobal.device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, TRUE);

    // Only depth is cleared: the backdrop laid translucently over the last picture is what fades
    // the old frames into trails.
    KSGFX_Clear(&ksGlobal.viewport, 1);
    KS_SetDepthWrite(0);
    KS_SetTransformMode(0);
    VisDrawBackdrop(camera->nearDist + 1.0f);
    KS_FlushSorted();
    KS_SetDepthWrite(1);
    // Only the low 8 bits count: MotionBlur 256 is the same as 0. Used from the next frame on.
    KS_SetMaterialAlpha(KS_GetMaterial(visScene.backdropMaterial), (uint8_t)(visSettings.MotionBlur & 0xFF));
    KS_SetTransformMode(1);

    VisAdvanceTime(KS_ElapsedTicks());

    int scene = visAnim.currentScene;
    KSVector eye = VisCameraPath(scene, visAnim.clock);
    KS_SetCameraPosition(camera, eye.x, eye.y, eye.z);
    KS_UpdateCamera(camera);
    KS_TransformLights(&visScene.lights);
    KS_SetLightPosition(&visScene.lights, 0, eye.x, eye.y, eye.z);
    KSCamera* current = KS_CurrentCamera();
    if (current)
        current->aspect = width / height;
    KS_SetTextureFiltering(0, 0);

    VisUpdateBands(module);
    for (int b = 0; b < VIS_BLOCK_COUNT; b++)
        if (visCatalogue[scene].blocks & (1u << b))
            blocks[b]();

    VisDrawOverlay(module);

    KSGFX_FlushFrame();
    KSGFX_ShowFrame();
    visAnim.busy = 0;
    return 0;
}
