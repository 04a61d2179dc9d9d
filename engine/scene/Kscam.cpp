// Cameras: defaults, the camera list, and the view, culling and projection of the current camera.
#define KS_MODULE "Kscam"
#include "kestra.h"

#include <math.h>
#include <string.h>

// The first and second viewport of entity projection before any camera has been updated.
static constexpr KSProjection ksProjectionDefaults = {0, 0, 1, 1, 1.0f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1};
KSProjection ksProjection = ksProjectionDefaults;

void KS_ResetProjection(void)
{
    ksProjection = ksProjectionDefaults;
}
KSCamera* ksCameraList = nullptr;

KSCamera* KS_CurrentCamera(void)
{
    return (KSCamera*)ksGlobal.currentCamera;
}

float KS_CurrentCameraFar(void)
{
    KSCamera* camera = KS_CurrentCamera();
    return camera ? camera->farDist : 1.0f;
}

KSCamera* KS_CreateCamera(void)
{
    KSCamera* camera = (KSCamera*)KS_ALLOC(sizeof(KSCamera));
    if (camera) {
        KS_MatrixIdentity(&camera->view);
        KS_MatrixIdentity(&camera->cull);
        KS_MatrixIdentity(&camera->projScale);
    }
    return camera;
}

void KS_InitCamera(KSCamera* camera)
{
    if (!camera)
        return;
    camera->position = KSVector{0, 0, 256};
    camera->target = KSVector{0, 0, 0};
    camera->roll = 0;
    camera->distance = 500;
    camera->up = KSVector{0, 1, 0};
    camera->back = KSVector{0, 0, 1};
    camera->angles = KSVector{0, 0, 0};
    camera->flags = 0;
    camera->reserved1 = 0;
    camera->aspect = 1.6f;
    camera->fov = 1.0471976f;
    camera->nearDist = 10;
    camera->farDist = 65535;
    camera->reserved2 = 0;
}

static void KS_LowerCase(char* text)
{
    for (; text && *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

void KS_AddCamera(KSCamera* camera)
{
    if (!camera)
        return;
    KS_LowerCase(camera->name);
    KSCamera** link = &ksCameraList;
    while (*link) {
        if (*link == camera)
            return;   // already listed: appending again would make a cycle
        link = &(*link)->next;
    }
    camera->next = nullptr;
    *link = camera;
}

static void KS_FreeCameraRecord(KSCamera* camera)
{
    if (KS_CurrentCamera() == camera)
        ksGlobal.currentCamera = nullptr;
    if (camera->name)
        KS_FREE(camera->name);
    if (camera->keys)
        KS_FREE(camera->keys);
    KS_FREE(camera);
}

void KS_RemoveCamera(KSCamera* camera)
{
    if (!camera)
        return;
    for (KSCamera** link = &ksCameraList; *link; link = &(*link)->next)
        if (*link == camera) {
            *link = camera->next;
            break;
        }
    KS_FreeCameraRecord(camera);
}

void KS_DeleteCamera(KSCamera* camera)
{
    // Meant for cameras that were never listed; a listed one is unlinked first so the list never
    // keeps a freed record.
    KS_RemoveCamera(camera);
}

void KS_RemoveAllCameras(void)
{
    while (ksCameraList)
        KS_RemoveCamera(ksCameraList);
}

void KS_SetCameraPosition(KSCamera* camera, float x, float y, float z)
{
    if (camera)
        camera->position = KSVector{x, y, z};
}

void KS_SetCameraTarget(KSCamera* camera, float x, float y, float z)
{
    if (camera)
        camera->target = KSVector{x, y, z};
}

void KS_SetCameraMode(KSCamera* camera, uint8_t flags)
{
    if (camera)
        camera->flags = flags;
}

void KS_UpdateProjection(void)
{
    const KSViewport& v = ksGlobal.viewport;
    KSProjection& p = ksProjection;
    p.centreX = v.centreX;
    p.centreY = v.centreY;
    p.scaleX = v.halfWidth;
    p.scaleY = v.halfHeight;
    p.constant = 1.0f;
    // The clamp is the viewport's outer edge: a point on the right plane lands on x1 + width.
    p.left = (float)v.x1;
    p.right = (float)v.x1 + v.width;
    p.top = (float)v.y1;
    p.bottom = (float)v.y1 + v.height;
}

// The one place where camera matrices reach the Direct3D device.
static void KS_LoadCameraTransform(D3DTRANSFORMSTATETYPE state, const KSMatrix* matrix)
{
    if (!ksGlobal.device)
        return;
    D3DMATRIX d3d;
    memcpy(&d3d, matrix->m, sizeof(d3d));
    HRESULT result = ksGlobal.device->SetTransform(state, &d3d);
    if (FAILED(result) && verbose)
        KS_Log("File: %s\nLine: %d\nError: %s\n", KS_MODULE, __LINE__, KS_D3DErrorName(result));
}

void KS_UpdateCamera(KSCamera* camera)
{
    if (!camera)
        return;
    ksGlobal.currentCamera = camera;
    KS_UpdateProjection();

    if (!(camera->flags & KS_CAM_LOOK_AT)) {
        KSMatrix r;
        KS_MakeRotationMatrix(&r, camera->angles.x, camera->angles.y, camera->angles.z);
        KSVector ahead = {0, 0, -camera->distance};
        KSVector turned;
        KS_RotateVector(&turned, &ahead, &r);
        KSM_VecAdd(&camera->target, &camera->position, &turned);
    }

    KSM_VecSub(&camera->back, &camera->position, &camera->target);
    KSM_Normalize(&camera->back);

    if (!(camera->flags & KS_CAM_FIXED_VIEW)) {
        KSVector f, u, r, up;
        KSM_VecSub(&f, &camera->target, &camera->position);
        KSM_Normalize(&f);
        u = camera->up;
        if (f.x == 0.0f && f.z == 0.0f)
            u = KSVector{-f.y, 0, 0};
        KSM_VecCross(&r, &u, &f);
        KSM_Normalize(&r);
        KSM_VecCross(&up, &f, &r);
        KSM_Normalize(&up);

        KSMatrix l;
        KS_MatrixIdentity(&l);
        l.m[0] = r.x; l.m[1] = up.x; l.m[2] = f.x;
        l.m[4] = r.y; l.m[5] = up.y; l.m[6] = f.y;
        l.m[8] = r.z; l.m[9] = up.z; l.m[10] = f.z;
        KSMatrix t, roll;
        KS_MatrixTranslation(&t, -camera->position.x, -camera->position.y, -camera->position.z);
        KS_MakeRotationMatrix(&roll, 0, 0, camera->roll);
        KS_MatrixProduct(&camera->view, &t, &l);
        KS_MatrixProduct(&camera->view, &camera->view, &roll);
    }

    // A field of view without a usable tangent keeps the previous projection scale, like the
    // device projection below, instead of filling the culling matrix with infinities.
    float half = camera->fov / 2;
    float tangent = tanf(half);
    bool usableFov = fabsf(sinf(half)) >= 0.01f && tangent != 0.0f && isfinite(tangent);
    if (usableFov) {
        KS_MatrixScale(&camera->projScale, 1.0f / tangent, camera->aspect / tangent, 1.0f);
    }
    KS_MatrixProduct(&camera->cull, &camera->view, &camera->projScale);

    KS_LoadCameraTransform(D3DTS_VIEW, &camera->view);

    float depth = camera->farDist - camera->nearDist;
    if (fabsf(depth) >= 0.01f && usableFov) {
        KSMatrix projection;
        KS_MatrixZero(&projection);
        projection.m[0] = 1.0f / tangent;
        projection.m[5] = camera->aspect / tangent;
        projection.m[10] = camera->farDist / depth;
        projection.m[11] = 1.0f;
        projection.m[14] = -camera->nearDist * camera->farDist / depth;
        ksProjection.depthScale = projection.m[10];
        ksProjection.depthOffset = projection.m[14];
        KS_LoadCameraTransform(D3DTS_PROJECTION, &projection);
    }
}
