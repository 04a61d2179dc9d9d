// Scene set-up: the five models, every entity of all eight scenes with its starting place, the
// camera, the full-screen backdrop and the font; and their release at the end of a run.
#include "vis.h"

#define KS_MODULE "visscene"

#include <filesystem>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

VisScene visScene;

static KSObject* LoadModel(const char* file, const char* failure)
{
    KSObject* object = KS_LoadObject(file, 0);
    if (!object)
        KS_FatalError(failure, "scene");
    return object;
}

static KSEntity* Create(KSObject* object)
{
    return KS_CreateEntity(object, "scene");
}

// One draw of `rand` reduced to 0 .. range - 1.
static int Draw(int range)
{
    return rand() % range;
}

// Three draws of -300 .. 299, x first.
static KSVector RandomInBox(void)
{
    KSVector v;
    v.x = (float)(Draw(600) - 300);
    v.y = (float)(Draw(600) - 300);
    v.z = (float)(Draw(600) - 300);
    return v;
}

void VisSetupScene(void)
{
    VisScene* s = &visScene;
    std::error_code ignored;
    std::filesystem::current_path("marlixdata", ignored);
    KS_SetTransformMode(1);

    s->hoseObject = LoadModel("hose.kso", "cannot open hose file");
    s->sphereObject = LoadModel("sphere.kso", "cannot open sphere file");
    s->flowerObject = LoadModel("flower.kso", "cannot open flower file");
    s->torusObject = LoadModel("torus.kso", "cannot open torus file");
    s->popcornObject = LoadModel("multi.kso", "cannot open multi file");

    // The angles use 3.1415, not a closer pi: hose 4 stands a hair off the x axis.
    for (int i = 0; i < VIS_RING_HOSES; i++) {
        float a = (float)i * 0.125f * 3.1415f;
        s->ringHoses[i] = Create(s->hoseObject);
        KS_SetEntityPosition(s->ringHoses[i], 175.0f * sinf(a), 0.0f, 175.0f * cosf(a));
    }

    for (int i = 0; i < VIS_ORBITS; i++) {
        s->orbitSpheres[i] = Create(s->sphereObject);
        KSVector* d = &s->orbitDirections[i];
        d->x = (float)(Draw(1000) - 500);
        d->y = (float)(Draw(1000) - 500);
        d->z = (float)(Draw(1000) - 500);
        KSM_Normalize(d);
        s->orbitRadii[i] = (float)Draw(600);
        float r = s->orbitRadii[i];
        KS_SetEntityPosition(s->orbitSpheres[i], r * d->x, r * d->y, r * d->z);
    }

    s->centreSphere = Create(s->sphereObject);
    KS_SetEntityPosition(s->centreSphere, 0.0f, 50.0f, 0.0f);

    for (int i = 0; i < VIS_ORBITS; i++) {
        s->orbitFlowers[i] = Create(s->flowerObject);
        KS_SetEntityPosition(s->orbitFlowers[i], 0.0f, 0.0f, 0.0f);
    }

    static const float corners[VIS_CORNER_FLOWERS][2] = {{-200, -200}, {200, -200}, {200, 200}, {-200, 200}};
    for (int k = 0; k < VIS_CORNER_FLOWERS; k++)
        s->cornerFlowers[k] = Create(s->flowerObject);
    for (int k = 0; k < VIS_CORNER_FLOWERS; k++)
        KS_SetEntityPosition(s->cornerFlowers[k], corners[k][0], 0.0f, corners[k][1]);

    for (int i = 0; i < VIS_ROW_SPHERES; i++) {
        s->rowSpheres[i] = Create(s->sphereObject);
        float r = s->orbitRadii[i];
        const KSVector* d = &s->orbitDirections[i];
        KS_SetEntityPosition(s->rowSpheres[i], r * d->x, r * d->y, r * d->z);
    }

    for (int i = 0; i < VIS_OUTER_HOSES; i++) {
        float a = (float)i * 0.25f * 3.1415f;
        s->outerHoses[i] = Create(s->hoseObject);
        KS_SetEntityPosition(s->outerHoses[i], 1000.0f * sinf(a), 0.0f, 1000.0f * cosf(a));
        KS_ScaleEntity(s->outerHoses[i], 4.0f, 4.0f, 4.0f);
    }

    for (int j = 0; j < VIS_BALLS; j++) {
        s->balls[j] = Create(s->sphereObject);
        s->ballPositions[j] = RandomInBox();
        s->ballVelocities[j] = RandomInBox();
        KSM_Normalize(&s->ballVelocities[j]);
        const KSVector* p = &s->ballPositions[j];
        KS_SetEntityPosition(s->balls[j], p->x, p->y, p->z);
    }

    for (int i = 0; i < VIS_TORI; i++) {
        s->tori[i] = Create(s->torusObject);
        KS_SetEntityPosition(s->tori[i], -560.0f + 70.0f * (float)i, 0.0f, 0.0f);
        KS_RotateEntity(s->tori[i], 90.0f, 0.0f, 90.0f);
    }

    for (int k = 0; k < VIS_POPCORN; k++) {
        s->popcorn[k] = Create(s->popcornObject);
        s->popcornPositions[k] = RandomInBox();
        s->popcornVelocities[k] = RandomInBox();
        KSM_Normalize(&s->popcornVelocities[k]);
        const KSVector* p = &s->popcornPositions[k];
        KS_SetEntityPosition(s->popcorn[k], p->x, p->y, p->z);
    }

    s->camera = KS_CreateCamera();
    KS_InitCamera(s->camera);
    KS_SetCameraPosition(s->camera, 0.0f, 0.0f, 1000.0f);
    KS_SetCameraTarget(s->camera, 0.0f, 50.0f, 0.0f);
    KS_SetCameraMode(s->camera, 1);
    KS_UpdateCamera(s->camera);

    KS_SetTransformMode(0);
    VisSetupBackdrop();
    KS_SetTransformMode(1);

    // A font that does not load leaves the text overlay blank; the run goes on.
    s->font = KS_LoadFont("cartoon.pft");

    // Seeded only now: every placement above comes from the generator's state before set-up.
    srand((unsigned)clock());
    KSGFX_ClearScreen();
    std::filesystem::current_path("..", ignored);
}

void VisSetupBackdrop(void)
{
    VisScene* s = &visScene;
    KS_SetTextureFormat(0);
    KS_SetTextureStage(0);

    KSMaterial record;
    memset(&record, 0, sizeof(record));
    KS_SetMaterialName(&record, "overlay sprite1");
    KS_SetMaterialMethod(&record, T_TRANSLUCENT_TEXTURED);
    KS_SetMaterialColour(&record, 255.0f, 255.0f, 255.0f);
    // The frame update replaces this with the motion-blur setting from the second frame on.
    KS_SetMaterialAlpha(&record, 50);

    int32_t texture = KSGFX_LoadTexture("back.jpg");
    if (texture < 0)
        KS_FatalError("Can't open HUD texture", " ");
    if (!ksTextures[texture].texture)
        KS_FatalError("Can't open HUD texture", "back.jpg");
    s->backdropTexture = texture;

    char name[KS_MATERIAL_NAME_SIZE];
    snprintf(name, sizeof(name), "hud%i", 0);
    KS_SetMaterialName(&record, name);
    KS_SetMaterialTexture(&record, texture);
    s->backdropMaterial = KS_AddMaterial(&record);

    s->backdropObject = KS_CreateSpriteObject(s->backdropMaterial);
    if (!s->backdropObject)
        KS_FatalError("Can't open HUD texture", " ");
    s->backdrop = KS_CreateEntity(s->backdropObject, "overlay");
}

template <size_t N>
static void FreeGroup(KSEntity* (&group)[N])
{
    for (size_t i = 0; i < N; i++) {
        KS_FreeEntity(group[i]);
        group[i] = NULL;
    }
}

static void FreeObject(KSObject** object)
{
    if (*object)
        KS_FreeObject(*object);
    *object = NULL;
}

void VisFreeScene(void)
{
    VisScene* s = &visScene;
    KS_FreeEntity(s->backdrop);
    s->backdrop = NULL;
    FreeObject(&s->backdropObject);

    FreeGroup(s->orbitFlowers);
    FreeGroup(s->ringHoses);
    FreeGroup(s->orbitSpheres);
    KS_FreeEntity(s->centreSphere);
    s->centreSphere = NULL;
    FreeGroup(s->cornerFlowers);
    FreeGroup(s->rowSpheres);
    FreeGroup(s->outerHoses);
    FreeGroup(s->balls);
    FreeGroup(s->tori);
    FreeGroup(s->popcorn);

    FreeObject(&s->hoseObject);
    FreeObject(&s->flowerObject);
    FreeObject(&s->sphereObject);
    FreeObject(&s->popcornObject);
    FreeObject(&s->torusObject);

    KS_FreeFont(s->font);
    s->font = NULL;
    if (s->camera)
        KS_DeleteCamera(s->camera);
    s->camera = NULL;
    KS_FreeLights(&s->lights);
    KS_FreeLights(&ksActiveLights);
}
