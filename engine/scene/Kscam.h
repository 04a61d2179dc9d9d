// Cameras: the view of the scene. KS_UpdateCamera makes a camera current, builds its view and
// culling matrices and loads the view and projection into the Direct3D device.
#ifndef KSCAM_H
#define KSCAM_H

#include <stdint.h>

// Camera flag bits.
#define KS_CAM_LOOK_AT 0x01     // use the stored target; clear: target from angles and distance
#define KS_CAM_FIXED_VIEW 0x02  // the view is not rebuilt from position and target

// A camera key of an object file, stored and not interpreted.
struct KSCameraKey {
    int32_t frame;
    uint16_t flags;
    uint32_t values[13];
};

struct KSCamera {
    char* name;
    KSVector position;
    KSVector target;
    float roll;               // degrees about the viewing axis
    float distance;           // target distance in angle mode
    KSVector up;              // up hint
    KSVector back;            // unit vector from target to position
    KSVector angles;          // angle mode: degrees about x, y, z
    uint8_t flags;
    int32_t reserved1;
    float aspect;             // height scale of the projection
    float fov;                // radians
    float nearDist;
    float farDist;
    int32_t reserved2;
    int32_t reserved3;
    int32_t lastKeyFrame;
    int32_t keyCount;
    KSCameraKey* keys;
    KSCamera* next;           // camera list
    // Written by KS_UpdateCamera.
    KSMatrix view;            // world to camera
    KSMatrix cull;            // view . projection scale: visible volume |x| <= z, |y| <= z
    KSMatrix projScale;       // diag(1 / tan(fov / 2), aspect / tan(fov / 2), 1, 1)
};

// Screen projection of camera-space points, from the current viewport and camera:
// screen x = centreX + scaleX * rhw * x, screen y = centreY - scaleY * rhw * y, rhw = constant / z.
struct KSProjection {
    float centreX, centreY;
    float scaleX, scaleY;
    float constant;
    float left, right, top, bottom;   // clamp of projected screen positions
    float depthScale, depthOffset;    // device depth = (depthScale * z + depthOffset) * rhw
    int32_t useSecond;                // the second viewport is in use
    float centreX2, centreY2, scaleX2, scaleY2;
};

extern KSProjection ksProjection;
extern KSCamera* ksCameraList;
KSCamera* KS_CurrentCamera(void);
// Far distance of the current camera; 1 while there is none.
float KS_CurrentCameraFar(void);

KSCamera* KS_CreateCamera(void);
void KS_InitCamera(KSCamera* camera);
void KS_AddCamera(KSCamera* camera);
void KS_RemoveCamera(KSCamera* camera);
void KS_DeleteCamera(KSCamera* camera);
// Removes every camera of the list (engine shut-down).
void KS_RemoveAllCameras(void);
void KS_SetCameraPosition(KSCamera* camera, float x, float y, float z);
void KS_SetCameraTarget(KSCamera* camera, float x, float y, float z);
void KS_SetCameraMode(KSCamera* camera, uint8_t flags);
void KS_UpdateCamera(KSCamera* camera);
// Refreshes the viewport part of ksProjection from the engine's current viewport.
void KS_UpdateProjection(void);
// Puts both viewports of ksProjection back to their defaults (engine start-up): no second
// viewport, unit scales, no depth offset.
void KS_ResetProjection(void);

#endif
