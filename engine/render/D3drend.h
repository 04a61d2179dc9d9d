// The render pipeline: validation of the render-method table, frames, the walk over a segment's
// faces (welding, trivial rejection, back faces, one or two passes), the deferred translucent
// faces drawn far first at the end of the frame, fog, and drawing an entity.
//
// Every face is one DrawPrimitiveUP of one triangle of pre-transformed vertices (format 0x1C4);
// the render procedures (D3dmethod.h) set the device states in between and skip them while the
// same procedure and material are cached.
#ifndef D3DREND_H
#define D3DREND_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

struct KSEntity;
struct KSFace;
struct KSVertex;
struct KSMaterial;
struct KSMethodRow;

// The projected vertex sent to the device: format 0x1C4 (XYZRHW | DIFFUSE | SPECULAR | TEX1) of 32
// bytes; the multi-texture build adds one u, v pair per further coordinate set.
#define KS_FVF_PROJECTED 0x1C4
#define KS_MAX_TEXSETS 8
#define KS_VERTEX_WORDS (6 + 2 * KS_MAX_TEXSETS)

// A projected vertex as the clipper and the deferred list carry it: the work vertex (its u, v are
// coordinate set 0) and the further coordinate sets 1..7.
struct KSClipVertex {
    KSWorkVertex w;
    float uv[KS_MAX_TEXSETS - 1][2];
};

// What the render procedures work on, set by the pipeline before each call.
struct KSDrawState {
    KSMaterial* material;
    int32_t materialIndex;
    const KSFace* face;         // null for deferred and validation calls
    KSVertex* vertices[3];      // the face's (welded) vertices, for vertex lighting
    KSWorkVertex* corners[3];   // the projected vertices being drawn
    int32_t pass;               // 1 or 2
    int32_t passes;             // pass count of the method being drawn
    int32_t extraTexture;       // pass 2 takes stage 3's texture instead of stage 2's
    int32_t wantStates;         // set the device states
    int32_t wantColours;        // compute the three vertices' colours
    int32_t toggle;             // cached choice of the fog alpha toggle: -1 none, 0 opaque, 1 blended
};
extern KSDrawState ksDraw;

// Inputs of KSGFX_RenderPolygons for the segment being drawn (KS_RenderEntity fills them).
struct KSSegmentInputs {
    int32_t extraSets;          // extra texture-coordinate sets, 0..7
    const float* layers[7];     // per face: u of corners 0..2, v of corners 0..2
    const int32_t* remap;       // welding: remap chain and weights, weldCount entries each
    const int32_t* weights;
    int32_t weldCount;
    int32_t vertexCount;        // vertices of the segment
    int32_t weldMode;           // non-zero: follow the chain by index, else by weight
};
extern KSSegmentInputs ksSegmentInputs;

// Fog: the setters below keep it here; the fog procedures and the vertex build read it.
struct KSFogState {
    int32_t enabled;
    float start, end, scale;    // scale = 1 / (end - start)
    uint8_t red, green, blue;
};
extern KSFogState ksFog;

// Builds and validates the render-method table for the device (once per run).
void KS_ValidateMethods(void);
// Starts a frame: empties the deferred list and the active lights, forgets the cached states,
// begins the scene and counts the frame.
void KS_BeginFrame(void);
// Procedure-table implementations of KSGFX_RenderPolygons and KSGFX_FlushFrame.
void KS_RenderPolygonsD3D(void* faces, void* vertices, void* unused, int32_t count);
void KS_FlushFrameD3D(void);
// Draws the deferred faces without ending the scene, and empties the list.
void KS_FlushSorted(void);
// The deferred list: capacity entries (engine start-up), freed at device shut-down.
void KS_AllocDeferredList(int32_t capacity);
void KS_FreeDeferredList(void);
int32_t KS_DeferredCount(void);

void KS_SetFogColour(uint32_t colour);   // 0xRRGGBBAA
void KS_SetFog(int32_t flag);
void KS_SetFogRange(float start, float end);
// Fog factor of a camera depth: 0 before the fog start, rising to 1 at the fog end; 0 while fog is
// off.
float KS_FogFactor(float depth);

// Sets the device states of the material's render procedure (pass 1) without drawing: the method
// set-up of a material group drawn from vertex buffers.
void KS_SetMethodStates(KSMaterial* material, int32_t materialIndex);

// Draws a transformed entity: through the engine's per-face path, or, when vertex-buffer mode is on
// and its object has buffers, through the buffers.
void KS_RenderEntity(KSEntity* entity);

// The pipeline's drawing steps that the clipper shares: the projected vertex of a clip vertex
// (coordinate sets firstSet .. firstSet + sets - 1; returns the words written), drawing one triangle
// or line for the current pass, and queueing one triangle on the deferred list.
int32_t KS_BuildVertex(const KSClipVertex* v, int32_t sets, int32_t firstSet, uint32_t* out);
void KS_DrawTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c);
void KS_DrawLine(const KSClipVertex* a, const KSClipVertex* b);
void KS_QueueTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c);

#endif
