// The render procedures: what each render method sets on the device and how it colours the three
// vertices of a face. A procedure is one row of data (texture stages, shading, blend, alpha test,
// colour kind, extra states, the states of a second pass); KS_RunProcedure applies a row and skips
// the device states while the same row (and pass) and material are cached.
#ifndef D3DMETHOD_H
#define D3DMETHOD_H

#include <d3d8.h>
#include <stdint.h>

// One texture-stage operation: a D3DTOP_ (0 = leave the stage's operation as it is) and its
// D3DTA_ arguments.
struct KSStageOp {
    uint8_t op, arg1, arg2;
};

struct KSStageRow {
    KSStageOp colour;
    KSStageOp alpha;
};

// What a procedure computes when vertex colours are wanted.
enum {
    KS_COLOUR_MATERIAL = 0,   // no lighting: the material's colour
    KS_COLOUR_FACE,           // one lit colour per face
    KS_COLOUR_VERTEX,         // lit per vertex, a shared vertex once per material
    KS_COLOUR_OWN,            // the vertices' own colours
    KS_COLOUR_VERTEX_OWN      // lit per vertex here; the vertices' own colours on the buffer path
};

// Notes of a row.
#define KS_NOTE_NO_TEXTURE 0x01     // stage 0 has no texture
#define KS_NOTE_ALPHA_TEST 0x02     // texels of alpha 0 are not drawn
#define KS_NOTE_ALPHA_TOGGLE 0x04   // fog by transparency
#define KS_NOTE_BUMP 0x08           // bump-environment matrix on the bump stage
#define KS_NOTE_BUMP_STAGE0 0x10    // the bump stage is 0 (else 1), stage 1 from camera positions
#define KS_NOTE_NO_FOG_DEPTH 0x20   // fog and depth writes off until the deferred pass ends
#define KS_NOTE_FOG_SOURCE 0x40     // pass 2: source factor ONE, or ZERO for a fogged face

// States of pass 2 of a two-pass procedure: stage 1 off, the pass texture on stage 0, these
// changes to stage 0 and shading, and the blend onto pass 1.
struct KSPassRow {
    KSStageOp colour;   // op 0: stage 0 colour kept
    KSStageOp alpha;
    uint8_t shade;      // 0: kept
    uint8_t blendSrc, blendDst;
};

struct KSMethodRow {
    int16_t name;           // the lowest method id using it, + 1000 for n-second, + 2000 for n-third
    int16_t cacheId;        // the method id it stores in the cache
    uint8_t shade;          // D3DSHADE_FLAT, D3DSHADE_GOURAUD, 0 = not set
    uint8_t stageCount;
    KSStageRow stages[4];
    uint8_t blendSrc, blendDst;   // 0: blending off
    uint8_t colourKind;
    uint8_t notes;
    uint8_t envStages;      // stages whose coordinates may come from camera-space normals
    const KSPassRow* pass2; // null: a one-pass procedure
};

// The 98 procedures, and the row of a procedure by name (e.g. 107, 1107 = 107-second); null when
// there is none.
extern const KSMethodRow ksMethodRows[];
extern const int32_t ksMethodRowCount;
const KSMethodRow* KS_MethodRow(int32_t name);

// The default procedure and deferred flag of every method id 1..131 (ksRenderMethods).
void KS_InstallDefaultMethods(void);

// Applies a row for the face in ksDraw: colours when wanted, then the device states when wanted and
// not cached.
void KS_RunProcedure(const KSMethodRow* row);

// The envAxis matrix of axis 0..2 (camera-space normal to u, v); 0 for other values.
int32_t KS_EnvAxisMatrix(int32_t axis, D3DMATRIX* out);

#endif
