// Lights: light lists, the active light list that the software lighting reads, and the lighting
// colour of faces and vertices.
#ifndef KSLIGHT_H
#define KSLIGHT_H

#include <stdint.h>

struct KSEntity;
struct KSSegment;
struct KSFace;
struct KSVertex;
struct KSMaterial;

// Light types.
#define KS_LIGHT_SEGMENT 0   // direction taken once per segment, no falloff
#define KS_LIGHT_POINT 1     // point light with range
#define KS_LIGHT_SPOT 2

struct KSLight {
    int32_t type;
    KSVector position;
    KSVector viewPosition;       // camera space, written every frame
    float intensity;
    float range;
    float falloff;               // intensity * 1024 / range
    int32_t segmentDirection[3]; // type 0: unit direction * 1024 in segment orientation
    float segmentDistance;
    int32_t enabled;
    float colour[3];             // red, green, blue multipliers
    float reserved;
    KSVector direction;          // camera-space unit direction (spot: position to target)
    float innerAngle, outerAngle;// spot cone, full angles in radians
    KSVector target;             // spot target
    float further[3];            // stored, not read
};

struct KSLightList {
    int32_t count;      // lights in use
    int32_t capacity;
    KSLight* lights;
};

// The lights of this frame, filled by KS_TransformLights and emptied at frame start. Its capacity
// is what the application gives it with KS_InitLights.
extern KSLightList ksActiveLights;
// Fixed-point lighting: intensities stored as i / 1024 (0 when the program is loaded).
extern int32_t ksFixedPointLights;
// Set by the current render method: back-facing vertices get no segment light.
extern int32_t ksOneSidedLighting;
// Result of KS_LightFace / KS_LightVertex, 1..255 per channel.
extern float ksLightColour[3];

// capacity lights with their defaults, count 0. Returns 1, or 0 (list empty) for a bad capacity
// or when memory runs out.
int32_t KS_InitLights(KSLightList* list, int32_t capacity);
void KS_FreeLights(KSLightList* list);
void KS_SetAmbient(float r, float g, float b);
// Setters of light `index` (below the list's capacity; other indices are ignored).
void KS_SetLightType(KSLightList* list, int32_t index, int32_t type);
void KS_SetLightPosition(KSLightList* list, int32_t index, float x, float y, float z);
void KS_SetLightColour(KSLightList* list, int32_t index, float r, float g, float b);
void KS_SetLightStrength(KSLightList* list, int32_t index, float intensity);
void KS_SetLightRange(KSLightList* list, int32_t index, float range);
void KS_SetLightTarget(KSLightList* list, int32_t index, float x, float y, float z);
void KS_SetLightCone(KSLightList* list, int32_t index, float innerAngle, float outerAngle);
void KS_SwitchLightOn(KSLightList* list, int32_t index);
// Moves the list's lights into camera space and appends its enabled ones to the active list.
void KS_TransformLights(KSLightList* list);
// Empties the active light list (frame start).
void KS_ClearActiveLights(void);
// Segment-orientation directions of the active type-0 lights for one segment of an entity.
void KS_LightSegment(KSEntity* entity, KSSegment* segment, const KSVector* offset);
// Lighting colour of a face (at the work vertex the pipeline hands in) and of a vertex, with the
// material's colour; the result is left in ksLightColour.
void KS_LightFace(const KSFace* face, const KSMaterial* material, const KSWorkVertex* at);
void KS_LightVertex(const KSVertex* vertex, const KSMaterial* material);

#endif
