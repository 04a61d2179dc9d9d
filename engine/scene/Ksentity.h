// Entities: placed instances of objects with their own position, scale, orientation and per-segment
// pose, posed from key tracks, and transformed and projected every frame with the current camera.
#ifndef KSENTITY_H
#define KSENTITY_H

#include <stdint.h>

struct KSObject;
struct KSSegment;
struct KSEntityBuffers;

// Entity flag bits.
#define KS_ENT_HIDDEN 0x04      // not transformed
#define KS_ENT_NOT_DRAWN 0x10   // not drawn

#define KS_RENORMALISE_EVERY 2000

struct KSSegmentState {
    KSVector position;
    KSVector scale;
    float billboardAngle;   // degrees, billboard segments
    KSMatrix rotation;
};

struct KSEntity {
    char* name;               // lower-cased copy
    KSVector position;
    KSVector scale;
    KSVector angles;          // sum of the KS_RotateEntity increments (bookkeeping only)
    KSMatrix rotation;        // orientation
    int32_t renormalise;      // rotations left until the next re-orthonormalisation
    uint8_t flags;
    KSObject* object;         // not owned
    KSSegmentState* states;   // one per segment
    int32_t* segmentWords;    // one per segment, zeroed
    float detailFactor;       // level of detail of this entity's buffers
    KSEntityBuffers* buffers; // own index buffers (level-of-detail objects), or null
};

// New entity of the object (null object or out of memory: null). Animated objects get their
// absolute rotation keys and the pose of frame 0.
KSEntity* KS_CreateEntity(KSObject* object, const char* name);
void KS_FreeEntity(KSEntity* entity);
KSEntity* KS_SetEntityPosition(KSEntity* entity, float x, float y, float z);
// Turns the entity about its own axes: rotation = Rz . Rx . Ry . rotation (degrees).
void KS_RotateEntity(KSEntity* entity, float ax, float ay, float az);
KSEntity* KS_ScaleEntity(KSEntity* entity, float sx, float sy, float sz);
KSEntity* KS_SetEntityScale(KSEntity* entity, float sx, float sy, float sz);
// Poses every segment from its key tracks at the frame. Key counts come from files: a track whose
// count is not positive or whose key array is missing counts as empty; keys out of frame order
// give a meaningless pose but are never read outside their track.
void KS_AnimateEntity(KSEntity* entity, int32_t frame);
// Per-frame transform with the current camera: segment world matrices, box culling, work vertices.
// Nothing happens without a current camera. Hierarchy links are checked first: a link that does
// not point at a segment of the same object is not followed, and each segment is transformed at
// most once per call, so cyclic links end the walk. A billboard segment with fewer than five
// vertices is treated as not visible.
void KS_TransformEntity(KSEntity* entity);
// Segment state setters; a segment number outside the object is ignored.
void KS_SetSegmentPosition(KSEntity* entity, int32_t segment, float x, float y, float z);
void KS_AddSegmentPosition(KSEntity* entity, int32_t segment, float dx, float dy, float dz);
void KS_SetSegmentScale(KSEntity* entity, int32_t segment, float sx, float sy, float sz);

// Key search of a track at time t: keys lo and hi around t (lo = hi for one key).
void KS_FindKeys(const KSKey* keys, int32_t count, float t, int32_t* lo, int32_t* hi);
// Position or scale track value at t (linear or tension-continuity-bias interpolation).
void KS_TrackValue(const KSKey* keys, int32_t count, float t, KSVector* out);

#endif
