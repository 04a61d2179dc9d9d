// Vertex and index buffers: segments drawn by the device's own transform and lighting.
//
// An object with buffers has one KSBufferGroup per segment (object->bufferGroups). A group holds
// one entry per material of the segment, each the head of a list of buffers (a material whose
// vertices do not fit one 65535-vertex buffer gets several). The buffers are either read from an
// object file or built here from the segment's faces (KS_BuildObjectBuffers). Entities of objects
// whose groups carry collapse maps get index buffers of their own, rewritten for their level of
// detail.
#ifndef KSTNL_H
#define KSTNL_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

struct KSObject;
struct KSEntity;

// A vertex buffer holds at most this many vertices (indices are 16-bit); larger requests make none.
#define KS_BUFFER_VERTEX_LIMIT 65535
// Size of the vertex pool of the build from faces; a pool is flushed into a buffer before a face
// could take it past this.
#define KS_MAX_BUFFER_VERTICES 65535
// Format bit of vertices laid out for a vertex-shader declaration: such buffers are created with
// FVF 0 and drawn only through their shader.
#define KS_FVF_DECLARATION 0x01

// One vertex and index buffer pair of a material group.
struct KSBufferList {
    int32_t vertexCount;
    int32_t indexCount;                  // three per triangle
    IDirect3DVertexBuffer8* vertexBuffer;
    IDirect3DIndexBuffer8* indexBuffer;  // 16-bit indices
    uint16_t* indices;                   // owned copy of the index buffer's contents
    uint32_t format;                     // D3DFVF bits, KS_FVF_DECLARATION for shader layouts
    int32_t stride;                      // bytes per vertex
    KSBufferList* next;
    int32_t indexOffset;                 // added to every index by the level-of-detail update
    int32_t software;                    // 1 = created for software vertex processing
    int32_t* vertexMap;                  // owned: per buffer vertex, its segment vertex number
};

struct KSMaterialGroup {
    int32_t material;                    // engine material index
    KSBufferList* first;
};

// The buffers of one segment.
struct KSBufferGroup {
    int32_t groupCount;
    KSMaterialGroup* groups;             // owned, ascending material order when built from faces
    int32_t* collapseA;                  // owned level-of-detail vertex maps, or null
    int32_t* collapseB;
    int32_t collapseCount;               // entries in each map
    int32_t totalVertices;               // sum of the buffers' vertex counts
    int32_t totalTriangles;              // sum of the index counts / 3
    uint8_t detailSwitch;                // non-zero: collapsed indices are followed repeatedly
};

// An entity's own index buffers: one entry per buffer list of its object, segments, groups and
// lists in order; null where the list's group has no collapse maps (its own indices are drawn).
struct KSEntityBuffers {
    int32_t count;
    IDirect3DIndexBuffer8** indexBuffers;
    int32_t* triangles;                  // triangles to draw after the last update
};

// Buffer creation on the current device, pool D3DPOOL_MANAGED. Usage: software processing when the
// device has no hardware transform and lighting or software is 1; write-only always. A Direct3D
// failure is fatal ("MakeVertexBuffer" / "MakeIndexBuffer"). MakeVertexBuffer returns null for a
// count above KS_BUFFER_VERTEX_LIMIT (or not positive); MakeIndexBuffer for a count that is not
// positive or whose bytes do not fit.
IDirect3DVertexBuffer8* MakeVertexBuffer(uint32_t format, int32_t stride, int32_t count, int32_t software);
IDirect3DIndexBuffer8* MakeIndexBuffer(int32_t count, int32_t software);
// Locks the whole buffer, or its first `bytes` bytes; a failed lock is fatal. Unlock after.
uint8_t* KS_LockVertexBuffer(IDirect3DVertexBuffer8* buffer, int32_t bytes);
uint16_t* KS_LockIndexBuffer(IDirect3DIndexBuffer8* buffer, int32_t bytes);
void KS_UnlockVertexBuffer(IDirect3DVertexBuffer8* buffer);
void KS_UnlockIndexBuffer(IDirect3DIndexBuffer8* buffer);

// Builds a buffer group for every segment from its faces (each segment's faces, with their extra
// texture layers, are sorted by material in place) and marks the segments KS_SEG_BUFFERS. Any
// buffers the object had are released first. Returns 1, or 0 without a device or when memory runs
// out (the object is then left without buffers).
int32_t KS_BuildObjectBuffers(KSObject* object);
// Releases every buffer, array and group of the object and clears KS_SEG_BUFFERS. Null is ignored.
void KS_FreeObjectBuffers(KSObject* object);

// Tangent space of 72-byte vertices (position, normal, colour, u, v, tangent, binormal, and the
// normal made from the two): accumulated per triangle from the coordinate gradients, then
// normalised per vertex. Indices are 16-bit, or 32-bit when indices32 is 1; triangles naming a
// vertex outside the buffer are skipped.
#define KS_TANGENT_STRIDE 72
void KS_ComputeTangents(uint8_t* vertices, int32_t vertexCount, const void* indices, int32_t indexCount,
                        int32_t indices32);

// The entity's own index buffers when its object's groups carry collapse maps, filled for the
// entity's detail factor. Returns 1 (also when none are needed), or 0 when memory runs out.
int32_t KS_CreateEntityBuffers(KSEntity* entity);
void KS_FreeEntityBuffers(KSEntity* entity);
// Stores the detail factor (clamped to 0..1) and rewrites the entity's index buffers for it.
void KS_SetEntityDetail(KSEntity* entity, float detail);
// The level-of-detail index of one buffer index: the index plus the list's offset, collapsed
// through the group's maps while its vertex is not kept, back in the list's own numbering. An
// index that collapses outside the list keeps its own vertex.
uint16_t KS_CollapseIndex(const KSBufferGroup* group, const KSBufferList* list, uint16_t index, int32_t kept);

// Draws the entity's visible segments from their buffers with the device's lights and transform.
void KS_DrawObjectBuffers(KSEntity* entity);
// Readies the buffer path on a new or reset device (end of the default render states).
void KS_PrepareVertexBuffers(void);

#endif
