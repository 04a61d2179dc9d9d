// The render procedures as rows of data, the default procedure of every method id, and the one
// routine that applies a row: vertex colours (material, face or vertex lighting, the vertices' own),
// alpha (material alpha, or fog by transparency), and the device states unless cached.
#define KS_MODULE "D3dmethod"
#include "kestra.h"

#include <math.h>
#include <string.h>

// ---- The rows ----

#define KEEP KSStageOp{0, 0, 0}
#define OFF KSStageOp{D3DTOP_DISABLE, 0, 0}
#define SEL1(a) KSStageOp{D3DTOP_SELECTARG1, D3DTA_##a, 0}
#define SEL2(a) KSStageOp{D3DTOP_SELECTARG2, 0, D3DTA_##a}
#define OP(op, a, b) KSStageOp{D3DTOP_##op, D3DTA_##a, D3DTA_##b}
#define MOD OP(MODULATE, TEXTURE, DIFFUSE)
#define BUMP OP(BUMPENVMAP, TEXTURE, CURRENT)
#define STAGE(c, a) KSStageRow{c, a}
#define LAST STAGE(OFF, KEEP)   // colour off, alpha untouched

#define FLAT D3DSHADE_FLAT
#define GOUR D3DSHADE_GOURAUD
#define NOBLEND 0, 0
#define BL(s, d) D3DBLEND_##s, D3DBLEND_##d

#define MAT KS_COLOUR_MATERIAL
#define FACE KS_COLOUR_FACE
#define VERT KS_COLOUR_VERTEX
#define OWN KS_COLOUR_OWN
#define VOWN KS_COLOUR_VERTEX_OWN

#define NOTEX KS_NOTE_NO_TEXTURE
#define ATEST KS_NOTE_ALPHA_TEST
#define TOGGLE KS_NOTE_ALPHA_TOGGLE
#define BUMPM KS_NOTE_BUMP

// Names of the further procedures of an id.
#define SECOND(n) (1000 + (n))
#define THIRD(n) (2000 + (n))

// Pass-2 states of the two-pass procedures.
static const KSPassRow kAddOntoBase = {KEEP, SEL1(DIFFUSE), 0, BL(ONE, ONE)};           // 107, 108
static const KSPassRow kAddTexture = {SEL1(TEXTURE), SEL1(DIFFUSE), FLAT, BL(ONE, ONE)};  // 109
static const KSPassRow kModulateFlat = {KEEP, SEL1(TEXTURE), FLAT, BL(ZERO, SRCCOLOR)};   // 110
static const KSPassRow kModulateAlpha = {KEEP, MOD, FLAT, BL(ZERO, SRCCOLOR)};            // 111, 112
static const KSPassRow kFogAdd = {SEL1(TEXTURE), KEEP, FLAT, BL(ONE, ONE)};               // 124 to 126
static const KSPassRow kFogModulate = {KEEP, MOD, FLAT, BL(ZERO, SRCCOLOR)};              // 127 to 129

// One row: name, cache id, shading, stage count, stages, blend, colour kind, notes, env stages,
// pass 2.
#define ROW(name, cache, shade, blend, kind, notes, env, pass2, n, ...) \
    {name, cache, shade, n, {__VA_ARGS__}, blend, kind, notes, env, pass2}
#define P(name, shade, blend, kind, notes, env, n, ...) \
    {name, name, shade, n, {__VA_ARGS__}, blend, kind, notes, env, nullptr}

// The bump family: stage 0 base, stage 1 the bump map, stage 2 the environment map combined by op.
#define BUMP3(name, op, kind, notes) \
    P(name, GOUR, NOBLEND, kind, BUMPM | (notes), 3, 4, STAGE(MOD, OFF), STAGE(BUMP, OFF), \
      STAGE(OP(op, TEXTURE, CURRENT), OFF), LAST)

const KSMethodRow ksMethodRows[] = {
    P(1, FLAT, NOBLEND, MAT, NOTEX, 0, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(2, FLAT, NOBLEND, MAT, NOTEX, 0, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(3, FLAT, NOBLEND, FACE, NOTEX, 0, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(4, GOUR, NOBLEND, MAT, NOTEX, 0, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(5, GOUR, NOBLEND, VERT, NOTEX, 0, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(6, 0, NOBLEND, MAT, 0, 1, 2, STAGE(SEL1(TEXTURE), OFF), LAST),
    P(7, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(SEL1(TEXTURE), SEL1(TEXTURE)), LAST),
    P(12, FLAT, NOBLEND, MAT, 0, 1, 2, STAGE(MOD, OFF), LAST),
    P(13, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(MOD, SEL1(TEXTURE)), LAST),
    P(18, FLAT, NOBLEND, FACE, 0, 1, 2, STAGE(MOD, OFF), LAST),
    P(20, FLAT, BL(SRCALPHA, INVSRCALPHA), FACE, ATEST, 1, 2, STAGE(MOD, SEL1(TEXTURE)), LAST),
    P(24, GOUR, NOBLEND, MAT, 0, 1, 2, STAGE(MOD, OFF), LAST),
    P(25, GOUR, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(MOD, SEL1(TEXTURE)), LAST),
    ROW(30, 32, GOUR, NOBLEND, VERT, 0, 1, nullptr, 2, STAGE(MOD, OFF), LAST),
    P(31, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, ATEST, 1, 2, STAGE(MOD, SEL1(TEXTURE)), LAST),
    P(36, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, 0, 1, 2, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)), STAGE(OFF, OFF)),
    P(37, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(MOD, MOD), LAST),
    P(69, FLAT, BL(SRCALPHA, ONE), MAT, KS_NOTE_NO_FOG_DEPTH, 1, 2, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)), LAST),
    P(70, FLAT, BL(ZERO, SRCCOLOR), MAT, 0, 1, 2, STAGE(MOD, MOD), LAST),
    P(71, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, NOTEX, 1, 2, STAGE(SEL1(DIFFUSE), SEL2(DIFFUSE)), LAST),
    P(72, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, 0, 1, 2, STAGE(MOD, SEL2(DIFFUSE)), LAST),
    P(73, GOUR, NOBLEND, OWN, NOTEX, 1, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(74, GOUR, NOBLEND, OWN, 0, 1, 2, STAGE(MOD, OFF), LAST),
    P(75, GOUR, NOBLEND, VOWN, NOTEX, 1, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(76, GOUR, NOBLEND, VOWN, 0, 1, 2, STAGE(MOD, OFF), LAST),
    P(77, GOUR, NOBLEND, VERT, NOTEX | TOGGLE, 1, 2, STAGE(SEL1(DIFFUSE), KEEP), LAST),
    P(78, GOUR, NOBLEND, MAT, TOGGLE, 1, 2, STAGE(SEL1(TEXTURE), KEEP), LAST),
    P(79, GOUR, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(SEL1(TEXTURE), MOD), LAST),
    P(80, GOUR, NOBLEND, FACE, TOGGLE, 1, 2, STAGE(MOD, KEEP), LAST),
    P(81, GOUR, BL(SRCALPHA, INVSRCALPHA), FACE, ATEST, 1, 2, STAGE(MOD, MOD), LAST),
    P(82, GOUR, NOBLEND, VERT, TOGGLE, 1, 2, STAGE(MOD, KEEP), LAST),
    P(83, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, ATEST, 1, 2, STAGE(MOD, MOD), LAST),
    P(84, GOUR, BL(SRCALPHA, INVSRCALPHA), MAT, 0, 1, 2, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)), LAST),
    P(85, GOUR, BL(SRCALPHA, INVSRCALPHA), MAT, ATEST, 1, 2, STAGE(SEL1(TEXTURE), MOD), LAST),
    P(86, GOUR, BL(SRCALPHA, ONE), MAT, 0, 1, 2, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)), LAST),
    P(87, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, NOTEX, 1, 2, STAGE(SEL1(DIFFUSE), SEL2(DIFFUSE)), LAST),
    P(88, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, 0, 1, 2, STAGE(MOD, SEL2(DIFFUSE)), LAST),
    P(89, GOUR, NOBLEND, OWN, NOTEX | TOGGLE, 1, 2, STAGE(SEL1(DIFFUSE), KEEP), LAST),
    P(90, GOUR, NOBLEND, OWN, TOGGLE, 1, 2, STAGE(MOD, KEEP), LAST),
    P(91, GOUR, NOBLEND, VOWN, NOTEX | TOGGLE, 1, 1, STAGE(SEL1(DIFFUSE), KEEP)),
    P(92, GOUR, NOBLEND, VOWN, TOGGLE, 1, 2, STAGE(MOD, KEEP), LAST),
    P(93, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, 0, 1, 2, STAGE(MOD, SEL2(DIFFUSE)), LAST),
    P(94, GOUR, BL(SRCALPHA, INVSRCALPHA), VERT, 0, 1, 2, STAGE(MOD, SEL2(DIFFUSE)), LAST),
    P(95, FLAT, BL(SRCCOLOR, DESTCOLOR), MAT, 0, 0, 2, STAGE(MOD, SEL2(DIFFUSE)), LAST),
    BUMP3(96, ADD, VERT, 0),
    BUMP3(97, MODULATE, VERT, 0),
    BUMP3(98, MODULATE2X, VERT, 0),
    BUMP3(99, MODULATE4X, VERT, 0),
    BUMP3(100, ADD, OWN, 0),
    BUMP3(101, MODULATE, OWN, 0),
    BUMP3(102, MODULATE2X, OWN, 0),
    BUMP3(103, MODULATE4X, OWN, 0),
    P(104, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, BUMPM, 3, 4, STAGE(MOD, SEL2(DIFFUSE)), STAGE(BUMP, OFF),
      STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    P(105, FLAT, BL(SRCALPHA, ONE), MAT, BUMPM, 3, 4, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)), STAGE(BUMP, OFF),
      STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    P(106, FLAT, BL(SRCALPHA, ONE), MAT, BUMPM | KS_NOTE_BUMP_STAGE0, 2, 3, STAGE(BUMP, OFF),
      STAGE(SEL1(TEXTURE), OFF), LAST),
    P(107, GOUR, NOBLEND, VERT, 0, 2, 3, STAGE(MOD, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    ROW(SECOND(107), SECOND(107), GOUR, NOBLEND, VERT, 0, 2, &kAddOntoBase, 2, STAGE(MOD, OFF), LAST),
    P(108, GOUR, NOBLEND, OWN, 0, 2, 3, STAGE(MOD, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    ROW(SECOND(108), SECOND(108), GOUR, NOBLEND, OWN, 0, 2, &kAddOntoBase, 2, STAGE(MOD, OFF), LAST),
    P(109, GOUR, NOBLEND, VERT, 0, 2, 3, STAGE(SEL1(DIFFUSE), OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    P(SECOND(109), GOUR, NOBLEND, VERT, 0, 2, 3, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(ADD, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(109), THIRD(109), GOUR, NOBLEND, VERT, 0, 2, &kAddTexture, 2, STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(110, GOUR, NOBLEND, VERT, 0, 2, 3, STAGE(MOD, OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
    P(SECOND(110), GOUR, NOBLEND, VERT, 0, 2, 4, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), STAGE(OP(MODULATE, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(110), THIRD(110), GOUR, NOBLEND, VERT, 0, 2, &kModulateFlat, 2, STAGE(MOD, OFF), LAST),
    P(111, GOUR, NOBLEND, OWN, 0, 2, 3, STAGE(MOD, OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
    P(SECOND(111), GOUR, NOBLEND, OWN, 0, 2, 4, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), STAGE(OP(MODULATE, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(111), THIRD(111), GOUR, NOBLEND, OWN, 0, 2, &kModulateAlpha, 2, STAGE(MOD, OFF), LAST),
    P(112, GOUR, NOBLEND, MAT, 0, 2, 3, STAGE(SEL1(TEXTURE), OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF),
      LAST),
    ROW(THIRD(112), THIRD(112), FLAT, NOBLEND, MAT, 0, 2, &kModulateAlpha, 2, STAGE(SEL1(TEXTURE), OFF), LAST),
    BUMP3(113, ADD, VERT, TOGGLE),
    BUMP3(114, MODULATE, VERT, TOGGLE),
    BUMP3(115, MODULATE2X, VERT, TOGGLE),
    BUMP3(116, MODULATE4X, VERT, TOGGLE),
    BUMP3(117, ADD, OWN, TOGGLE),
    BUMP3(118, MODULATE, OWN, TOGGLE),
    BUMP3(119, MODULATE2X, OWN, TOGGLE),
    BUMP3(120, MODULATE4X, OWN, TOGGLE),
    P(121, FLAT, BL(SRCALPHA, INVSRCALPHA), MAT, BUMPM | TOGGLE, 3, 4, STAGE(MOD, SEL2(DIFFUSE)),
      STAGE(BUMP, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    P(122, FLAT, BL(SRCALPHA, ONE), MAT, BUMPM | TOGGLE, 3, 4, STAGE(SEL1(TEXTURE), SEL2(DIFFUSE)),
      STAGE(BUMP, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    P(123, FLAT, BL(SRCALPHA, ONE), MAT, BUMPM | KS_NOTE_BUMP_STAGE0 | TOGGLE, 2, 3, STAGE(BUMP, OFF),
      STAGE(SEL1(TEXTURE), OFF), LAST),
    P(124, GOUR, NOBLEND, VERT, TOGGLE, 2, 3, STAGE(MOD, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    ROW(SECOND(124), SECOND(124), GOUR, BL(ZERO, ONE), VERT, TOGGLE | KS_NOTE_FOG_SOURCE, 2, &kFogAdd, 2,
        STAGE(MOD, OFF), LAST),
    P(125, GOUR, NOBLEND, OWN, TOGGLE, 2, 3, STAGE(MOD, OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF), LAST),
    ROW(SECOND(125), SECOND(125), GOUR, NOBLEND, OWN, TOGGLE | KS_NOTE_FOG_SOURCE, 2, &kFogAdd, 2,
        STAGE(MOD, OFF), LAST),
    P(126, GOUR, NOBLEND, VERT, TOGGLE, 2, 3, STAGE(SEL1(DIFFUSE), OFF), STAGE(OP(ADD, TEXTURE, CURRENT), OFF),
      LAST),
    P(SECOND(126), GOUR, NOBLEND, VERT, TOGGLE, 2, 3, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(ADD, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(126), THIRD(126), GOUR, NOBLEND, VERT, KS_NOTE_FOG_SOURCE, 2, &kFogAdd, 2,
        STAGE(SEL1(DIFFUSE), OFF), LAST),
    P(127, GOUR, NOBLEND, VERT, TOGGLE, 2, 3, STAGE(MOD, OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
    P(SECOND(127), GOUR, NOBLEND, VERT, TOGGLE, 2, 4, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), STAGE(OP(MODULATE, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(127), THIRD(127), GOUR, NOBLEND, VERT, 0, 2, &kFogModulate, 2, STAGE(MOD, OFF), LAST),
    P(128, GOUR, NOBLEND, OWN, TOGGLE, 2, 3, STAGE(MOD, OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
    P(SECOND(128), GOUR, NOBLEND, OWN, TOGGLE, 2, 4, STAGE(SEL1(TEXTURE), OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), STAGE(OP(MODULATE, DIFFUSE, CURRENT), OFF), LAST),
    ROW(THIRD(128), THIRD(128), GOUR, NOBLEND, OWN, 0, 2, &kFogModulate, 2, STAGE(MOD, OFF), LAST),
    P(129, GOUR, NOBLEND, MAT, TOGGLE, 2, 3, STAGE(SEL1(TEXTURE), OFF), STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF),
      LAST),
    ROW(THIRD(129), THIRD(129), GOUR, NOBLEND, MAT, 0, 2, &kFogModulate, 2, STAGE(SEL1(TEXTURE), OFF), LAST),
    P(130, FLAT, NOBLEND, MAT, BUMPM, 3, 4, STAGE(SEL1(TEXTURE), OFF), STAGE(BUMP, OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
    P(131, GOUR, NOBLEND, VERT, 0, 2, 3, STAGE(OP(DOTPRODUCT3, TEXTURE, DIFFUSE), OFF),
      STAGE(OP(MODULATE, TEXTURE, CURRENT), OFF), LAST),
};
const int32_t ksMethodRowCount = (int32_t)(sizeof(ksMethodRows) / sizeof(ksMethodRows[0]));
static_assert(sizeof(ksMethodRows) / sizeof(ksMethodRows[0]) == 98, "98 render procedures");

const KSMethodRow* KS_MethodRow(int32_t name) {
    for (const KSMethodRow& row : ksMethodRows)
        if (row.name == name) return &row;
    return nullptr;
}

// ---- Default procedures of the method ids ----

// The ids that use a procedure by default; a negative id is deferred.
struct KSDefaultGroup {
    int16_t procedure;
    int16_t ids[5];
};

static const KSDefaultGroup kDefaults[] = {
    {1, {1}},   {2, {2}},   {3, {3, -68}},   {4, {4, 42}},   {5, {5, 43}},
    {6, {6, 8, 9, 44, 45}},        {7, {-7, -10, -11, -46, -47}},
    {12, {12, 14, 15, 48, 49}},    {13, {-13, -16, -17, -50, -51}},
    {18, {18, 19, 22, 52, 53}},    {20, {-20, -21, -23, -54, -55}},
    {24, {24, 26, 27, 56, 57}},    {25, {-25, -28, -29, -58, -59}},
    {30, {30, 32, 33, 60, 61}},    {31, {-31, -34, -35, -62, -63}},
    {36, {-36, -38, -39, -64, -65}}, {37, {-37, -40, -41, -66, -67}},
    {69, {-69}}, {70, {-70}}, {71, {-71}}, {72, {-72}}, {79, {-79}}, {81, {-81}}, {83, {-83}},
    {85, {-85}}, {86, {-86}}, {87, {-87}}, {88, {-88}}, {93, {-93}}, {94, {-94}}, {95, {-95}},
};

void KS_InstallDefaultMethods(void) {
    memset(ksRenderMethods, 0, sizeof(ksRenderMethods));
    for (KSRenderMethod& entry : ksRenderMethods) entry.passes = 1;
    // Every id from 69 up is its own procedure unless a group above says otherwise.
    for (int32_t id = 69; id < KS_METHOD_COUNT; id++) ksRenderMethods[id].procedure = KS_MethodRow(id);
    for (const KSDefaultGroup& group : kDefaults) {
        for (int16_t id : group.ids) {
            if (id == 0) break;
            int32_t n = id < 0 ? -id : id;
            ksRenderMethods[n].procedure = KS_MethodRow(group.procedure);
            ksRenderMethods[n].deferred = id < 0;
        }
    }
}

// ---- Colours ----

// Light values of a face: the three per-corner values as floats; the face's own is its first
// corner's. Faces without baked light carry 0.
static float KS_CornerLight(const KSFace* face, int corner) {
    float value;
    memcpy(&value, &face->cornerValues[corner], sizeof(value));
    return value == value ? value : 0.0f;
}

static float KS_ClampColour(float v) {
    return v > 255.0f ? 255.0f : (v < 1.0f ? 1.0f : v);
}

static void KS_LitColour(float light, const KSMaterial* m, float* out) {
    const float base[3] = {m->red, m->green, m->blue};
    for (int c = 0; c < 3; c++)
        out[c] = light > 0.0f ? KS_ClampColour(light * base[c] + ksLightColour[c]) : ksLightColour[c];
}

static void KS_SetColour(KSWorkVertex* w, const float* colour) {
    w->r = colour[0];
    w->g = colour[1];
    w->b = colour[2];
}

static void KS_LightVertices(void) {
    KSDrawState& d = ksDraw;
    for (int i = 0; i < 3; i++) {
        KSVertex* vertex = d.vertices[i];
        KSWorkVertex* w = d.corners[i];
        if (!vertex) continue;
        float light = KS_CornerLight(d.face, i);
        // Lit already for this material this frame: a shared vertex is lit once.
        if (light <= 0.0f && w->marker == (uint32_t)d.materialIndex) continue;
        KS_LightVertex(vertex, d.material);
        float colour[3];
        KS_LitColour(light, d.material, colour);
        KS_SetColour(w, colour);
        w->marker = light > 0.0f ? KS_WV_TRANSFORMED : (uint32_t)d.materialIndex;
    }
}

static int KS_Translucent(const KSMethodRow* row) {
    const KSStageOp& alpha = row->stages[0].alpha;
    return alpha.op == D3DTOP_SELECTARG2 && alpha.arg2 == D3DTA_DIFFUSE && !(row->notes & KS_NOTE_ALPHA_TOGGLE);
}

static void KS_ColourFace(const KSMethodRow* row) {
    KSDrawState& d = ksDraw;
    const KSMaterial* m = d.material;
    switch (row->colourKind) {
        case KS_COLOUR_MATERIAL: {
            const float colour[3] = {m->red, m->green, m->blue};
            for (KSWorkVertex* w : d.corners) KS_SetColour(w, colour);
            break;
        }
        case KS_COLOUR_FACE: {
            KS_LightFace(d.face, m, d.corners[0]);
            float colour[3];
            KS_LitColour(KS_CornerLight(d.face, 0), m, colour);
            for (KSWorkVertex* w : d.corners) KS_SetColour(w, colour);
            break;
        }
        case KS_COLOUR_VERTEX:
        case KS_COLOUR_VERTEX_OWN:
            KS_LightVertices();
            break;
        default:
            break;
    }

    float alpha = KS_Translucent(row) ? m->alpha : 255.0f;
    for (KSWorkVertex* w : d.corners) w->a = alpha;
    if (row->notes & KS_NOTE_ALPHA_TOGGLE) {
        for (KSWorkVertex* w : d.corners) {
            float f = KS_FogFactor(w->z);
            w->a = 255.0f * (1.0f - f);
            if (f > 0.0f) w->marker = KS_WV_TRANSFORMED;
        }
    }
}

// ---- Device states ----

static void KS_State(D3DRENDERSTATETYPE state, DWORD value) {
    ksGlobal.device->SetRenderState(state, value);
}

static void KS_Stage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    ksGlobal.device->SetTextureStageState(stage, type, value);
}

static DWORD KS_FloatBits(float f) {
    DWORD bits;
    memcpy(&bits, &f, sizeof(bits));
    return bits;
}

// One operation with the arguments it reads.
static void KS_StageOperation(DWORD stage, const KSStageOp& op, D3DTEXTURESTAGESTATETYPE opState,
                              D3DTEXTURESTAGESTATETYPE arg1State, D3DTEXTURESTAGESTATETYPE arg2State) {
    if (op.op == 0) return;
    KS_Stage(stage, opState, op.op);
    if (op.op == D3DTOP_DISABLE) return;
    if (op.op != D3DTOP_SELECTARG2) KS_Stage(stage, arg1State, op.arg1);
    if (op.op != D3DTOP_SELECTARG1) KS_Stage(stage, arg2State, op.arg2);
}

static void KS_StageColour(DWORD stage, const KSStageOp& op) {
    KS_StageOperation(stage, op, D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2);
}

static void KS_StageAlpha(DWORD stage, const KSStageOp& op) {
    KS_StageOperation(stage, op, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2);
}

static void KS_Blend(uint8_t source, uint8_t destination) {
    if (!ksGlobal.caps.AlphaBlend) return;
    KS_State(D3DRS_ALPHABLENDENABLE, source ? TRUE : FALSE);
    if (!source) return;
    KS_State(D3DRS_SRCBLEND, source);
    KS_State(D3DRS_DESTBLEND, destination);
}

static const float kEnvAxes[3][2][3] = {
    // u and v as 0.5 + (x, y, z) . row
    {{0.0f, 0.0f, -0.5f}, {0.0f, -0.5f, 0.0f}},
    {{0.5f, 0.0f, 0.0f}, {0.0f, 0.0f, -0.5f}},
    {{0.5f, 0.0f, 0.0f}, {0.0f, -0.5f, 0.0f}},
};

int32_t KS_EnvAxisMatrix(int32_t axis, D3DMATRIX* out) {
    if (axis < 0 || axis > 2) return 0;
    memset(out, 0, sizeof(*out));
    float* m = &out->_11;
    // Row-major, applied to the row vector (nx, ny, nz, 1): column 0 gives u, column 1 gives v.
    for (int k = 0; k < 3; k++) {
        m[k * 4 + 0] = kEnvAxes[axis][0][k];
        m[k * 4 + 1] = kEnvAxes[axis][1][k];
    }
    m[12] = 0.5f;
    m[13] = 0.5f;
    m[15] = 1.0f;
    return 1;
}

// Texture coordinates of the first stages on the buffer path: from camera-space normals through the
// envAxis matrix, or the vertices' own.
static void KS_EnvStages(const KSMethodRow* row, const KSMaterial* m) {
    for (int s = 0; s < row->envStages; s++) {
        D3DMATRIX matrix;
        if (m->envMap[s] && KS_EnvAxisMatrix(m->envAxis[s], &matrix)) {
            KS_Stage((DWORD)s, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL | (DWORD)s);
            ksGlobal.device->SetTransform((D3DTRANSFORMSTATETYPE)(D3DTS_TEXTURE0 + s), &matrix);
            KS_Stage((DWORD)s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
            KS_State(D3DRS_NORMALIZENORMALS, TRUE);
        } else {
            KS_Stage((DWORD)s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
            KS_Stage((DWORD)s, D3DTSS_TEXCOORDINDEX, (DWORD)s);
        }
    }
}

static void KS_SelectMaterialTexture(const KSMaterial* m, int stage) {
    // Stage 0 always has its texture; a further stage with texture 0 has none.
    if (stage == 0 || m->textures[stage] != 0) KSGFX_SelectTexture(m->textures[stage]);
}

// What depends on the material: its textures, the bump matrix, and on the buffer path the
// coordinate generation and the culling of its faces.
static void KS_MaterialStates(const KSMethodRow* row, int secondPass) {
    const KSDrawState& d = ksDraw;
    const KSMaterial* m = d.material;
    if (row->notes & KS_NOTE_NO_TEXTURE) {
        ksGlobal.device->SetTexture(0, nullptr);
    } else if (secondPass) {
        KSGFX_SelectTexture(m->textures[d.extraTexture ? 3 : 2]);
    } else {
        // A two-pass method draws its base texture alone on pass 1.
        int used = d.passes > 1 ? 1 : (row->envStages > 1 ? row->envStages : 1);
        for (int s = 0; s < used; s++) KS_SelectMaterialTexture(m, s);
    }
    if (row->notes & KS_NOTE_BUMP) {
        DWORD stage = (row->notes & KS_NOTE_BUMP_STAGE0) ? 0 : 1;
        KS_Stage(stage, D3DTSS_BUMPENVMAT00, KS_FloatBits(m->bumpMatrix[0]));
        KS_Stage(stage, D3DTSS_BUMPENVMAT01, KS_FloatBits(m->bumpMatrix[1]));
        KS_Stage(stage, D3DTSS_BUMPENVMAT10, KS_FloatBits(m->bumpMatrix[2]));
        KS_Stage(stage, D3DTSS_BUMPENVMAT11, KS_FloatBits(m->bumpMatrix[3]));
        KS_Stage(stage, D3DTSS_BUMPENVLSCALE, KS_FloatBits(m->bumpScale));
        KS_Stage(stage, D3DTSS_BUMPENVLOFFSET, KS_FloatBits(0.0f));
    }
    if (ksGlobal.transformMode == 1) {
        KS_EnvStages(row, m);
        KS_State(D3DRS_CULLMODE, m->doubleSided ? D3DCULL_NONE : D3DCULL_CCW);
    }
}

// What depends on the procedure (and the pass).
static void KS_ProcedureStates(const KSMethodRow* row, int secondPass) {
    for (int s = 0; s < row->stageCount; s++) {
        KS_StageColour((DWORD)s, row->stages[s].colour);
        KS_StageAlpha((DWORD)s, row->stages[s].alpha);
    }
    uint8_t shade = row->shade;
    if (secondPass) {
        const KSPassRow& p = *row->pass2;
        KS_Stage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        KS_StageColour(0, p.colour);
        KS_StageAlpha(0, p.alpha);
        if (p.shade) shade = p.shade;
        KS_Blend(p.blendSrc, p.blendDst);
    } else {
        KS_Blend(row->blendSrc, row->blendDst);
    }
    if (shade) KS_State(D3DRS_SHADEMODE, shade);
    if (row->notes & KS_NOTE_ALPHA_TEST) {
        KS_State(D3DRS_ALPHATESTENABLE, TRUE);
        KS_State(D3DRS_ALPHAREF, 1);
        KS_State(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    } else {
        KS_State(D3DRS_ALPHATESTENABLE, FALSE);
    }
    if (ksGlobal.transformMode == 1) {
        int own = row->colourKind == KS_COLOUR_OWN || row->colourKind == KS_COLOUR_VERTEX_OWN;
        KS_State(D3DRS_COLORVERTEX, own ? TRUE : FALSE);
        KS_State(D3DRS_LIGHTING, own ? FALSE : TRUE);
        if (own) KS_State(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    }
    if (row->notes & KS_NOTE_NO_FOG_DEPTH) {
        KS_State(D3DRS_FOGENABLE, FALSE);
        KS_State(D3DRS_ZWRITEENABLE, FALSE);
    }
    if (row->notes & KS_NOTE_BUMP_STAGE0) {
        KS_Stage(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION | 1);
        KS_Stage(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    }
}

// Fog by transparency: blended while any corner is fogged, opaque otherwise; on pass 2 of the fog
// two-pass procedures the source factor instead (ONE, or ZERO for a fogged face).
static void KS_FogToggle(int secondPass) {
    KSDrawState& d = ksDraw;
    int fogged = 0;
    for (const KSWorkVertex* w : d.corners) fogged |= w->a < 255.0f;
    if (d.toggle == fogged) return;
    d.toggle = fogged;
    if (secondPass) {
        if (ksGlobal.caps.AlphaBlend) KS_State(D3DRS_SRCBLEND, fogged ? D3DBLEND_ZERO : D3DBLEND_ONE);
        return;
    }
    KS_Blend(fogged ? D3DBLEND_SRCALPHA : 0, D3DBLEND_INVSRCALPHA);
    KS_StageAlpha(0, fogged ? SEL2(DIFFUSE) : OFF);
}

#define KS_PASS2_CACHE 10000

void KS_RunProcedure(const KSMethodRow* row) {
    KSDrawState& d = ksDraw;
    if (!row || !d.material) return;
    if (d.wantColours && d.face) KS_ColourFace(row);
    if (!d.wantStates || !ksGlobal.device) return;

    int secondPass = d.pass == 2 && row->pass2 != nullptr;
    int32_t id = row->cacheId + (secondPass ? KS_PASS2_CACHE : 0);
    if (ksGlobal.cachedMaterial != d.material || ksGlobal.cachedMethod != id) {
        KS_MaterialStates(row, secondPass);
        ksGlobal.cachedMaterial = d.material;
    }
    if (ksGlobal.cachedMethod != id) {
        KS_ProcedureStates(row, secondPass);
        ksGlobal.cachedMethod = id;
        d.toggle = -1;
    }
    uint8_t toggle = secondPass ? KS_NOTE_FOG_SOURCE : KS_NOTE_ALPHA_TOGGLE;
    if (row->notes & toggle) KS_FogToggle(secondPass);
}
