// Objects and segments: the shared, read-only geometry that entities place in the scene.
//
// A KSObject is an array of KSSegments. Each segment owns its vertices, faces, work vertices,
// extra texture layers, attached records, key tracks and level-of-detail arrays; all of them are
// KS_ALLOC'd and freed with the object. Hierarchy links point into the same object's segment array.
//
// Work vertices, world and parent matrices, view normals and visibility flags are rewritten every
// time an entity of the object is transformed: transform and draw one entity before the next
// entity of the same object is transformed.
#ifndef KSOBJECT_H
#define KSOBJECT_H

#include <stdint.h>

struct KSBufferGroup;
struct KSEntity;

// Box of a segment or object (the 244-byte bounds block of the object file).
struct KSBounds {
    float minX, maxX, minY, maxY, minZ, maxZ;
    // Corner k: x = max for k in 1, 2, 5, 6; y = max for k in 2, 3, 6, 7; z = max for k >= 4.
    KSVector corners[8];
    KSVector centre;
    KSVector viewCorners[8];   // camera space, written by the per-frame transform
    KSVector viewCentre;       // billboards: camera-space centre
    float radius;              // largest distance from the centre to a face of the box
};
static_assert(sizeof(KSBounds) == 244, "the bounds block is 244 bytes");

struct KSVertex {
    KSVector position;
    KSPackedNormal normal;       // 1023 = 1.0
    KSWorkVertex* work;          // this vertex's entry in the segment's work vertices
    KSPackedNormal viewNormal;   // normal rotated into camera orientation (segment flag 0x20)
};

// Face flag bits.
#define KS_FACE_TWO_SIDED 0x04
#define KS_FACE_EDGE_01 0x08
#define KS_FACE_EDGE_12 0x10
#define KS_FACE_EDGE_20 0x40

struct KSFace {
    uint16_t material;           // engine material index
    uint16_t material2;
    KSVertex* corners[3];        // into the segment's vertices
    float u[3];
    float v[3];
    uint32_t cornerValues[3];    // further per-corner values, stored as read
    KSPackedNormal normal;
    uint8_t flags;
    uint16_t value;              // stored as read
    int32_t fileVertices[3];     // the file's vertex numbers of the corners
};

// Key flag bit: interpolate linearly into this key.
#define KS_KEY_LINEAR 0x80

// One key of a rotation, position or scale track. Position and scale keys use value[0..2];
// rotation keys hold the quaternion relative to the previous key in value and the absolute
// rotation (made by KS_CreateEntity) in absolute.
struct KSKey {
    int32_t frame;
    uint8_t flags;
    float tension, continuity, bias;
    float parameters[2];   // stored as read
    float value[4];
    uint8_t block[64];     // stored as read
    KSQuat absolute;
};

// A record carried with a segment: its position is re-transformed with the segment every frame
// into viewPosition; the rest is stored as read.
struct KSAttached {
    KSVector position;
    KSVector viewPosition;
    uint8_t data[96];
};
static_assert(sizeof(KSAttached) == 120, "attached records are 120 bytes");

// Segment flag bits.
#define KS_SEG_CHILD_ONLY 0x02      // reached only through its parent's links
#define KS_SEG_VIEW_NORMALS 0x20    // rotate vertex normals into view normals every frame
#define KS_SEG_VISIBLE 0x40         // visible this frame
#define KS_SEG_NO_CULL 0x80         // never culled by its box
#define KS_SEG_BILLBOARD 0x100      // vertex 0 centre, vertices 1..4 a camera-facing quad
#define KS_SEG_LOOP 0x200           // key-frame animation loops
#define KS_SEG_UNCLIPPED 0x400      // no transformed vertex needed clipping
#define KS_SEG_BUFFERS 0x800        // drawn from vertex buffers

#define KS_MAX_LAYERS 7

struct KSSegment {
    char* name;
    int32_t index;                 // number in its object, 0-based
    int32_t faceCount;
    int32_t vertexCount;
    KSFace* faces;
    KSVertex* vertices;
    KSWorkVertex* work;            // one per vertex
    float* layers[KS_MAX_LAYERS];  // per face: u of corners 0..2, v of corners 0..2
    int32_t layerCount;
    KSSegment* firstChild;
    KSSegment* nextSibling;
    KSSegment* parent;
    KSBounds bounds;
    int32_t attachedCount;
    KSAttached* attached;
    KSMatrix world;                // parent world x local, written every frame
    KSMatrix parentMatrix;         // rotation handed down by the parent, written every frame
    uint32_t flags;
    KSVector pivot;
    KSMatrix base;                 // rest transform; its translation row is the initial position
    int32_t rotationKeyCount;
    KSKey* rotationKeys;
    int32_t positionKeyCount;
    KSKey* positionKeys;
    int32_t scaleKeyCount;
    KSKey* scaleKeys;
    int32_t* lodRemap;             // level-of-detail arrays (welding remap and weights)
    int32_t* lodWeights;
    int32_t lodValue;
    int32_t lodCount;              // entries in each of the two arrays
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// With 32-bit pointers the records have the engine's documented sizes.
static_assert(sizeof(KSVertex) == 32 && sizeof(KSFace) == 76 && sizeof(KSKey) == 124,
              "vertex, face and key records keep their sizes");
#endif

struct KSObject {
    char* name;
    KSSegment* segments;
    int32_t segmentCount;
    KSBounds bounds;
    KSBufferGroup* bufferGroups;   // one per segment when vertex buffers exist
    int32_t lastFrame;             // largest key frame of all tracks; -1 = not animated
};

// A zeroed object (last frame -1), or null.
KSObject* KS_CreateObject(void);
// Frees the object's buffers and every segment's arrays, the segments, the name and the object.
void KS_FreeObject(KSObject* object);
// A zeroed segment array of count entries numbered 0..count-1 for the object (which must have
// none yet). Returns 1, or 0 when count is negative or memory runs out.
int32_t KS_AllocSegments(KSObject* object, int32_t count);
// Frees what a segment owns and zeroes it (the record itself belongs to its object's array).
void KS_FreeSegment(KSSegment* segment);
// Vertex and work-vertex arrays of count entries, each vertex linked to its work vertex; any old
// arrays are freed. Returns 1, or 0 (arrays left empty) on a bad count or when memory runs out.
int32_t KS_AllocSegmentVertices(KSSegment* segment, int32_t count);
// Recomputes every segment's bounds from its vertices and the object's from the segments.
void KS_CalcBounds(KSObject* object);
// Fills a box's corners, centre and radius from its six limits.
void KS_FinishBounds(KSBounds* bounds);
// One-segment billboard object of two faces for 2D overlays, sized by the stage-0 texture of
// material m. Null when m is not a material of the table or its texture is not in use.
KSObject* KS_CreateSpriteObject(int32_t material);
// Places the sprite entity's quad on the screen rectangle at the given camera depth and draws it.
void KS_DrawSprite(KSEntity* entity, float left, float top, float right, float bottom, float depth);
// 1 when the link is null or points at a segment of the object's own array.
int32_t KS_SegmentLinkValid(const KSObject* object, const KSSegment* link);

struct KSCamera;

// Clip code of a camera-space point (KS_CLIP_* bits) against the side planes and the far distance.
uint16_t KS_ClipCode(float x, float y, float z, float farDist);
// Marks a work vertex transformed and gives it its clip code, reciprocal depth and (when inside)
// its screen position clamped to the viewport; nearer than nearDist (or not in front of the eye)
// gives code KS_CLIP_NEAR alone. second: also the unclamped second-viewport position.
void KS_ProjectWorkVertex(KSWorkVertex* work, float nearDist, float farDist, int second);
// Per-frame transform of one segment of an entity with parent world P and handed-down rotation Q,
// next siblings first, then the segment, then its children. visited has one byte per segment of
// the object: each segment is transformed at most once per entity transform (the first path that
// reaches it wins), so cyclic or repeated links end the walk instead of looping.
void KS_TransformSegment(KSEntity* entity, KSSegment* segment, const KSMatrix* parentWorld,
                         const KSMatrix* rotation, const KSCamera* camera, uint8_t* visited);

#endif
