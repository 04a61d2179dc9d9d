// The render pipeline: the render-method table and its validation, frames, the face walk of a
// segment, the projected-vertex build, the deferred list drawn far first, fog, and entity drawing.
#define KS_MODULE "D3drend"
#include "kestra.h"

#include <math.h>
#include <string.h>

KSDrawState ksDraw;
KSSegmentInputs ksSegmentInputs;
KSFogState ksFog;

// ---- Deferred list ----

struct KSDeferredEntry {
    KSClipVertex v[3];
    int32_t material;
};

static KSDeferredEntry* deferred = nullptr;
static int32_t deferredCount = 0;
static int32_t deferredCapacity = 0;

void KS_AllocDeferredList(int32_t capacity) {
    KS_FreeDeferredList();
    if (capacity <= 0) return;
    deferred = (KSDeferredEntry*)KS_ALLOC((int64_t)capacity * (int64_t)sizeof(KSDeferredEntry));
    deferredCapacity = deferred ? capacity : 0;
}

void KS_FreeDeferredList(void) {
    if (deferred) KS_FREE(deferred);
    deferred = nullptr;
    deferredCount = 0;
    deferredCapacity = 0;
}

int32_t KS_DeferredCount(void) {
    return deferredCount;
}

// One array grown from `count` to `grown` entries of `size` bytes; 0 (array kept) when memory runs
// out.
static int KS_GrowArray(void** array, int32_t count, int32_t grown, size_t size) {
    void* bigger = KS_ALLOC((int64_t)grown * (int64_t)size);
    if (!bigger) return 0;
    if (*array) {
        memcpy(bigger, *array, (size_t)count * size);
        KS_FREE(*array);
    }
    *array = bigger;
    return 1;
}

// The list and the five sort arrays beside it grow together, by 100 entries.
static int KS_GrowDeferredList(void) {
    int32_t grown = deferredCapacity + 100;
    int32_t sortCount = ksGlobal.polygonCapacity < deferredCapacity ? ksGlobal.polygonCapacity : deferredCapacity;
    if (!KS_GrowArray((void**)&deferred, deferredCount, grown, sizeof(KSDeferredEntry))) return 0;
    deferredCapacity = grown;
    if (ksGlobal.polygonCapacity >= grown) return 1;
    if (!KS_GrowArray((void**)&ksGlobal.sortKeys, sortCount, grown, sizeof(int32_t)) ||
        !KS_GrowArray((void**)&ksGlobal.sortOrder, 0, grown, sizeof(int32_t)) ||
        !KS_GrowArray((void**)&ksGlobal.sortWork1, 0, grown, sizeof(int32_t)) ||
        !KS_GrowArray((void**)&ksGlobal.sortWork2, 0, grown, sizeof(int32_t)) ||
        !KS_GrowArray((void**)&ksGlobal.polygonTexSets, sortCount, grown, 1))
        return 0;
    ksGlobal.polygonCapacity = grown;
    return 1;
}

// 1/3 as the float 0x3EAAAA3B.
static float KS_OneThird(void) {
    const uint32_t bits = 0x3EAAAA3Bu;
    float third;
    memcpy(&third, &bits, sizeof(third));
    return third;
}

void KS_QueueTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c) {
    if (deferredCount >= deferredCapacity || deferredCount >= ksGlobal.polygonCapacity) {
        if (!KS_GrowDeferredList()) {
            if (verbose) KS_Log("Deferred polygon list full: face dropped");
            return;
        }
    }
    KSDeferredEntry* e = &deferred[deferredCount];
    e->v[0] = *a;
    e->v[1] = *b;
    e->v[2] = *c;
    e->material = ksDraw.materialIndex;
    ksGlobal.polygonTexSets[deferredCount] = ksDraw.material->texSets;
    ksGlobal.sortKeys[deferredCount] = (int32_t)lrintf((a->w.z + b->w.z + c->w.z) * KS_OneThird());
    deferredCount++;
}

// ---- Fog ----

float KS_FogFactor(float depth) {
    if (!ksFog.enabled) return 0.0f;
    if (depth > ksFog.end) return 1.0f;
    if (depth > ksFog.start) {
        float f = (depth - ksFog.start) * ksFog.scale;
        return f > 1.0f ? 1.0f : f;
    }
    return 0.0f;
}

static int KS_DeviceFog(void) {
    return ksGlobal.caps.FogTable == 1 || ksGlobal.caps.FogVertex == 1;
}

void KS_SetFogColour(uint32_t colour) {
    ksFog.red = (uint8_t)(colour >> 24);
    ksFog.green = (uint8_t)(colour >> 16);
    ksFog.blue = (uint8_t)(colour >> 8);
    if (KS_DeviceFog() && ksGlobal.device)
        ksGlobal.device->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000u | ((uint32_t)ksFog.red << 16) |
                                                            ((uint32_t)ksFog.green << 8) | ksFog.blue);
}

void KS_SetFog(int32_t flag) {
    ksFog.enabled = flag;
    if (KS_DeviceFog() && ksGlobal.device) ksGlobal.device->SetRenderState(D3DRS_FOGENABLE, flag ? TRUE : FALSE);
}

static DWORD KS_Bits(float f) {
    DWORD bits;
    memcpy(&bits, &f, sizeof(bits));
    return bits;
}

void KS_SetFogRange(float start, float end) {
    ksFog.start = start;
    ksFog.end = end;
    // An empty range fogs everything beyond its start at once.
    ksFog.scale = end != start ? 1.0f / (end - start) : 1e30f;
    IDirect3DDevice8* dev = ksGlobal.device;
    if (ksGlobal.caps.FogVertex == 1 && dev) {
        dev->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
        dev->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        dev->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
        dev->SetRenderState(D3DRS_FOGSTART, KS_Bits(start));
        dev->SetRenderState(D3DRS_FOGEND, KS_Bits(end));
    }
}

// ---- Vertices and drawing ----

static void KS_UseFormat(DWORD format) {
    if (ksGlobal.cachedFormat == format) return;
    ksGlobal.cachedFormat = format;
    ksGlobal.device->SetVertexShader(format);
}

static uint32_t KS_Channel(float value) {
    long v = lrintf(value);
    return (uint32_t)(v < 0 ? 0 : (v > 255 ? 255 : v));
}

int32_t KS_BuildVertex(const KSClipVertex* v, int32_t sets, int32_t firstSet, uint32_t* out) {
    const KSWorkVertex& w = v->w;
    const KSProjection& p = ksProjection;
    float f[4] = {w.sx, w.sy, (p.depthScale * w.z + p.depthOffset) * w.rhw, w.rhw};
    memcpy(out, f, sizeof(f));
    out[4] = KS_Channel(w.a) << 24 | KS_Channel(w.r) << 16 | KS_Channel(w.g) << 8 | KS_Channel(w.b);
    out[5] = 0;
    if (ksFog.enabled && ksGlobal.caps.FogVertex == 1) {
        float fog = KS_FogFactor(w.z);
        out[5] = (uint32_t)(255.0f * (1.0f - fog)) << 24 | (uint32_t)ksFog.red << 16 |
                 (uint32_t)ksFog.green << 8 | ksFog.blue;
    }
    int32_t n = 6;
    for (int32_t s = firstSet; s < firstSet + sets; s++) {
        const float* uv = s == 0 ? &w.u : v->uv[s - 1];
        memcpy(&out[n], uv, 2 * sizeof(float));
        n += 2;
    }
    return n;
}

void KS_DrawTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c) {
    const KSDrawState& d = ksDraw;
    int32_t texSets = d.material->texSets;
    int32_t sets = 1, first = 0;
    if (texSets >= 2) {
        // Two passes draw one coordinate set each; one pass draws them all.
        if (d.passes == 2) {
            first = d.pass - 1 < texSets ? d.pass - 1 : texSets - 1;
        } else {
            sets = texSets > KS_MAX_TEXSETS ? KS_MAX_TEXSETS : texSets;
        }
    }
    uint32_t words[3 * KS_VERTEX_WORDS];
    int32_t stride = KS_BuildVertex(a, sets, first, words);
    KS_BuildVertex(b, sets, first, words + stride);
    KS_BuildVertex(c, sets, first, words + 2 * stride);
    KS_UseFormat((KS_FVF_PROJECTED & ~D3DFVF_TEXCOUNT_MASK) | ((DWORD)sets << D3DFVF_TEXCOUNT_SHIFT));
    HRESULT hr = ksGlobal.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, words, (UINT)stride * 4);
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
}

void KS_DrawLine(const KSClipVertex* a, const KSClipVertex* b) {
    uint32_t words[2 * KS_VERTEX_WORDS];
    int32_t stride = KS_BuildVertex(a, 1, 0, words);
    KS_BuildVertex(b, 1, 0, words + stride);
    KS_UseFormat(KS_FVF_PROJECTED);
    HRESULT hr = ksGlobal.device->DrawPrimitiveUP(D3DPT_LINELIST, 1, words, (UINT)stride * 4);
    if (FAILED(hr)) KS_LOG_D3D_FAILURE(hr);
}

// ---- Frames ----

static void KS_ForgetCaches(void) {
    ksGlobal.cachedMethod = -1;
    ksGlobal.cachedMaterial = nullptr;
    ksGlobal.cachedFormat = 0;
}

void KS_BeginFrame(void) {
    deferredCount = 0;
    KS_ClearActiveLights();
    KS_ForgetCaches();
    if (ksGlobal.driverId == KS_DRIVER_D3D8 && ksGlobal.device) {
        HRESULT hr = ksGlobal.device->BeginScene();
        if (FAILED(hr) && verbose)
            KS_Log("%i File: %s\nLine: %d\nError: %s\n", (int)hr, KS_MODULE, __LINE__, KS_D3DErrorName(hr));
    }
    KS_CountTextureFrame();
}

// ---- The face walk ----

// Follows a vertex's welding chain at the current level of detail; -1 when an index leaves the
// arrays.
static int32_t KS_Weld(int32_t i, int32_t threshold) {
    const KSSegmentInputs& in = ksSegmentInputs;
    for (int32_t step = 0; step < in.vertexCount; step++) {
        if (i < 0 || i >= in.weldCount) return -1;
        int32_t measure = in.weldMode ? i : in.weights[i];
        if (measure < threshold || in.remap[i] == i) break;
        i = in.remap[i];
    }
    return i >= 0 && i < in.vertexCount ? i : -1;
}

static void KS_LoadClipVertex(KSClipVertex* out, const KSWorkVertex* w, int32_t face, int32_t corner) {
    out->w = *w;
    const KSSegmentInputs& in = ksSegmentInputs;
    for (int32_t k = 0; k < in.extraSets; k++) {
        out->uv[k][0] = in.layers[k][face * 6 + corner];
        out->uv[k][1] = in.layers[k][face * 6 + 3 + corner];
    }
}

static const uint8_t kEdgeBits[3] = {KS_FACE_EDGE_01, KS_FACE_EDGE_12, KS_FACE_EDGE_20};

static void KS_DrawEdges(const KSClipVertex* v, uint8_t flags) {
    for (int e = 0; e < 3; e++)
        if (flags & kEdgeBits[e]) KS_DrawLine(&v[e], &v[(e + 1) % 3]);
}

static void KS_ClipFace(const KSClipVertex* v, int32_t method, int32_t texSets, const KSRenderMethod& entry) {
    int32_t passes = entry.passes;
    if (method == T_WIREFRAME) {
        KS_ClipWireframe(&v[0], &v[1], &v[2], KS_CLIP_NEAR);
    } else if (texSets < 2 || entry.deferred) {
        // A deferred face is queued once, its pieces carrying every coordinate set.
        KS_ClipTriangle(&v[0], &v[1], &v[2], KS_CLIP_NEAR);
    } else {
        for (int32_t pass = 1; pass <= passes; pass++) KS_ClipTriangleMultiPass(&v[0], &v[1], &v[2], KS_CLIP_NEAR, pass);
    }
}

static void KS_RenderFace(const KSFace* face, int32_t index, KSVertex* vertices) {
    const KSSegmentInputs& in = ksSegmentInputs;
    KSDrawState& d = ksDraw;

    // 1. Level-of-detail welding.
    KSVertex* v[3] = {face->corners[0], face->corners[1], face->corners[2]};
    int32_t threshold = (int32_t)((float)in.vertexCount * ksGlobal.lodFactor);
    if (in.remap && vertices && (in.weldMode || in.weights) && threshold > 0) {
        int32_t welded[3];
        for (int c = 0; c < 3; c++) welded[c] = KS_Weld(face->fileVertices[c], threshold);
        if (welded[0] >= 0 && welded[1] >= 0 && welded[2] >= 0) {
            if (welded[0] == welded[1] || welded[1] == welded[2] || welded[0] == welded[2]) return;
            for (int c = 0; c < 3; c++) v[c] = &vertices[welded[c]];
        }
    }
    if (!v[0] || !v[1] || !v[2] || !v[0]->work || !v[1]->work || !v[2]->work) return;
    KSWorkVertex* w[3] = {v[0]->work, v[1]->work, v[2]->work};

    // 2. Trivial rejection: every corner outside one plane.
    if (w[0]->code & w[1]->code & w[2]->code) return;
    int clipped = (w[0]->code | w[1]->code | w[2]->code) != 0;

    // 3. Material and back faces.
    KSMaterial* material = KS_GetMaterial(face->material);
    if (!material) return;
    int32_t method = material->method;
    if (method <= 0 || method >= KS_METHOD_TABLE_SIZE || !ksRenderMethods[method].procedure) return;
    if (!clipped && !material->doubleSided) {
        float c = (w[2]->sy - w[0]->sy) * (w[1]->sx - w[0]->sx) - (w[1]->sy - w[0]->sy) * (w[2]->sx - w[0]->sx);
        if (c < 0.0f) return;
    }

    // 4. Texture-coordinate sets.
    int32_t texSets = method >= 96 ? 1 + in.extraSets : 1;
    material->texSets = (uint8_t)texSets;
    const KSRenderMethod& entry = ksRenderMethods[method];

    for (int c = 0; c < 3; c++) {
        w[c]->u = face->u[c];
        w[c]->v = face->v[c];
    }
    d.material = material;
    d.materialIndex = face->material;
    d.face = face;
    for (int c = 0; c < 3; c++) {
        d.vertices[c] = v[c];
        d.corners[c] = w[c];
    }
    d.passes = entry.passes;
    d.extraTexture = entry.extraTexture;
    d.pass = 1;

    KSClipVertex cv[3];
    if (clipped || entry.deferred) {
        // Colours first, on the face's own corners; the clipper and the deferred list take copies.
        d.wantStates = 0;
        d.wantColours = 1;
        KS_RunProcedure(entry.procedure);
        for (int c = 0; c < 3; c++) KS_LoadClipVertex(&cv[c], w[c], index, c);
        if (clipped)
            KS_ClipFace(cv, method, texSets, entry);
        else
            KS_QueueTriangle(&cv[0], &cv[1], &cv[2]);
        return;
    }

    // 6. Drawn at once, in one or two passes.
    for (int32_t pass = 1; pass <= entry.passes; pass++) {
        d.pass = pass;
        d.wantStates = 1;
        d.wantColours = pass == 1;
        KS_RunProcedure(entry.procedure);
        if (pass == 1)
            for (int c = 0; c < 3; c++) KS_LoadClipVertex(&cv[c], w[c], index, c);
        if (method == T_WIREFRAME)
            KS_DrawEdges(cv, face->flags);
        else
            KS_DrawTriangle(&cv[0], &cv[1], &cv[2]);
    }
}

void KS_RenderPolygonsD3D(void* faces, void* vertices, void* unused, int32_t count) {
    (void)unused;
    if (!faces || !ksGlobal.device) return;
    const KSFace* list = (const KSFace*)faces;
    for (int32_t i = 0; i < count; i++) KS_RenderFace(&list[i], i, (KSVertex*)vertices);
}

// ---- The deferred pass ----

static void KS_DrawDeferred(void) {
    if (deferredCount <= 0 || !ksGlobal.device) {
        deferredCount = 0;
        return;
    }
    KS_UseFormat(KS_FVF_PROJECTED);
    if (KS_CurrentCameraFar() >= 65536.0f)
        KS_SortKeys32(deferredCount);
    else
        KS_SortKeys16(deferredCount);

    KSDrawState& d = ksDraw;
    for (int32_t k = 0; k < deferredCount; k++) {
        int32_t i = ksGlobal.sortOrder[k];
        KSDeferredEntry* e = &deferred[i];
        KSMaterial* material = KS_GetMaterial(e->material);
        if (!material) continue;
        const KSRenderMethod& entry = ksRenderMethods[material->method];
        material->texSets = ksGlobal.polygonTexSets[i];
        d.material = material;
        d.materialIndex = e->material;
        d.face = nullptr;
        for (int c = 0; c < 3; c++) {
            d.vertices[c] = nullptr;
            d.corners[c] = &e->v[c].w;
        }
        d.passes = entry.passes;
        d.extraTexture = entry.extraTexture;
        d.wantStates = 1;
        d.wantColours = 0;
        for (int32_t pass = 1; pass <= entry.passes; pass++) {
            d.pass = pass;
            KS_RunProcedure(entry.procedure);
            KS_DrawTriangle(&e->v[0], &e->v[1], &e->v[2]);
        }
        if (ksGlobal.cachedMethod == T_LIGHTMAP_ADD) {
            ksGlobal.device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
            if (ksFog.enabled && KS_DeviceFog()) ksGlobal.device->SetRenderState(D3DRS_FOGENABLE, TRUE);
            // The next lightmap face must switch them off again.
            ksGlobal.cachedMethod = -1;
        }
    }
    deferredCount = 0;
}

// Deferred faces are drawn without culling; returns whether culling was on.
static int KS_CullingOff(void) {
    int culling = ksGlobal.transformMode == 1;
    if (culling) KS_SetTransformMode(0);
    KS_ForgetCaches();
    return culling;
}

static void KS_CullingBack(int culling) {
    KS_ForgetCaches();
    if (culling) KS_SetTransformMode(1);
}

void KS_FlushSorted(void) {
    int culling = KS_CullingOff();
    KS_DrawDeferred();
    KS_CullingBack(culling);
}

void KS_FlushFrameD3D(void) {
    int culling = KS_CullingOff();
    KS_DrawDeferred();
    if (ksGlobal.device) {
        HRESULT hr = ksGlobal.device->EndScene();
        if (FAILED(hr) && verbose)
            KS_Log("%x File: %s\nLine: %d\nError: %s\n", (unsigned)hr, KS_MODULE, __LINE__, KS_D3DErrorName(hr));
    }
    KS_CullingBack(culling);
}

// ---- Entities ----

void KS_RenderEntity(KSEntity* entity) {
    if (!entity || !entity->object || (entity->flags & KS_ENT_NOT_DRAWN)) return;
    KSObject* object = entity->object;
    if (!object->segments) return;
    if (ksGlobal.vertexBufferSwitch && object->bufferGroups) {
        KS_DrawObjectBuffers(entity);
        return;
    }
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KSSegment* s = &object->segments[i];
        if (!(s->flags & KS_SEG_VISIBLE) || !s->faces || s->faceCount <= 0) continue;
        // Type-0 lights take their direction from the segment's own origin.
        KSVector offset = {s->world.m[12] - entity->position.x, s->world.m[13] - entity->position.y,
                           s->world.m[14] - entity->position.z};
        KS_LightSegment(entity, s, &offset);

        KSSegmentInputs& in = ksSegmentInputs;
        in.extraSets = s->layerCount < 0 ? 0 : (s->layerCount > KS_MAX_LAYERS ? KS_MAX_LAYERS : s->layerCount);
        for (int k = 0; k < KS_MAX_LAYERS; k++) in.layers[k] = s->layers[k];
        for (int k = 0; k < in.extraSets; k++)
            if (!in.layers[k]) in.extraSets = k;
        in.remap = s->lodRemap;
        in.weights = s->lodWeights;
        in.weldCount = s->lodRemap ? s->lodCount : 0;
        in.vertexCount = s->vertexCount;
        in.weldMode = s->lodValue;
        KSGFX_RenderPolygons(s->faces, s->vertices, nullptr, s->faceCount);
    }
}

// States of a material's procedure with no face: unfogged corners stand in for the face's.
static KSWorkVertex unfoggedCorners[3];

static void KS_StatesOnly(KSMaterial* material, int32_t materialIndex, const KSRenderMethod& entry) {
    KSDrawState& d = ksDraw;
    d.material = material;
    d.materialIndex = materialIndex;
    d.face = nullptr;
    for (int c = 0; c < 3; c++) {
        unfoggedCorners[c].a = 255.0f;
        d.vertices[c] = nullptr;
        d.corners[c] = &unfoggedCorners[c];
    }
    d.pass = 1;
    d.passes = entry.passes;
    d.extraTexture = entry.extraTexture;
    d.wantStates = 1;
    d.wantColours = 0;
    KS_RunProcedure(entry.procedure);
}

void KS_SetMethodStates(KSMaterial* material, int32_t materialIndex) {
    if (!material || material->method <= 0 || material->method >= KS_METHOD_TABLE_SIZE) return;
    KS_StatesOnly(material, materialIndex, ksRenderMethods[material->method]);
}

// ---- Validation ----

static const char* KS_ResultText(HRESULT result) {
    switch (result) {
        case D3D_OK: return "D3D_OK";
        case D3DERR_UNSUPPORTEDCOLOROPERATION: return "Unsupported color op";
        case D3DERR_UNSUPPORTEDCOLORARG: return "Unsupported color arg";
        case D3DERR_UNSUPPORTEDALPHAOPERATION: return "Unsupported alpha op";
        case D3DERR_UNSUPPORTEDALPHAARG: return "Unsupported alpha arg";
        case D3DERR_TOOMANYOPERATIONS: return "Too many texture ops";
        case D3DERR_WRONGTEXTUREFORMAT: return "Incompatible texture formats";
        case D3DERR_CONFLICTINGRENDERSTATE: return "Conflicting render state";
        default: return "Unknown Error Code";
    }
}

// One validated id: up to three candidate procedures (names of ksMethodRows; 0 = none) with their
// pass counts and extra-texture flag.
struct KSCandidates {
    int16_t ids[3];
    int16_t procedures[3];
    uint8_t passes[3];
    uint8_t extra;
};

static const KSCandidates kStandardList[] = {
    {{107}, {107, 1107, 1107}, {1, 2, 2}, 0},
    {{108}, {108, 1108, 1108}, {1, 2, 2}, 0},
    {{109}, {109, 1109, 2109}, {1, 1, 2}, 0},
    {{110}, {110, 1110, 2110}, {1, 1, 2}, 0},
    {{111}, {111, 1111, 2111}, {1, 1, 2}, 0},
    {{112}, {112, 112, 2112}, {1, 1, 2}, 0},
    {{124}, {124, 1124, 1124}, {1, 2, 2}, 0},
    {{125}, {125, 1125, 1125}, {1, 2, 2}, 0},
    {{126}, {126, 1126, 2126}, {1, 1, 2}, 0},
    {{127}, {127, 1127, 2127}, {1, 1, 2}, 0},
    {{128}, {128, 1128, 2128}, {1, 1, 2}, 0},
    {{129}, {129, 129, 2129}, {1, 1, 2}, 0},
    {{96}, {107, 1107, 1107}, {1, 2, 2}, 1},
    {{97, 98, 99}, {110, 1110, 2110}, {1, 1, 2}, 1},
    {{100}, {108, 1108, 1108}, {1, 2, 2}, 1},
    {{101, 102, 103}, {111, 1111, 2111}, {1, 1, 2}, 1},
    {{130}, {112, 112, 2112}, {1, 1, 2}, 1},
    {{113}, {124, 1124, 1124}, {1, 2, 2}, 1},
    {{114, 115, 116}, {127, 1127, 2127}, {1, 1, 2}, 1},
    {{117}, {125, 1125, 1125}, {1, 2, 2}, 1},
    {{118, 119, 120}, {128, 1128, 2128}, {1, 1, 2}, 1},
};

// Devices of exactly three blend stages and two textures.
static const KSCandidates kThreeStageList[] = {
    {{112}, {112, 112, 2112}, {1, 1, 2}, 0},
    {{129}, {129, 129, 2129}, {1, 1, 2}, 0},
    {{96}, {1107, 1107, 1107}, {1, 2, 2}, 1},
    {{97, 98, 99}, {1110, 1110, 2110}, {1, 1, 2}, 1},
    {{100}, {1108, 1108, 1108}, {1, 2, 2}, 1},
    {{101, 102, 103}, {1111, 1111, 2111}, {1, 1, 2}, 1},
    {{130}, {112, 112, 2112}, {1, 1, 2}, 1},
    {{104}, {36, 36, 36}, {1, 1, 1}, 0},
    {{105}, {69, 69, 69}, {1, 1, 1}, 0},
    {{113}, {1124, 1124, 1124}, {1, 2, 2}, 1},
    {{114, 115, 116}, {1127, 1127, 2127}, {1, 1, 2}, 1},
    {{117}, {1125, 1125, 1125}, {1, 2, 2}, 1},
    {{118, 119, 120}, {1128, 1128, 2128}, {1, 1, 2}, 1},
};

static KSMaterial validationMaterial;

// Sets the id's current procedure on the device and asks whether it draws in one pass.
static int KS_TryProcedure(int32_t id) {
    const KSRenderMethod& entry = ksRenderMethods[id];
    if (!entry.procedure) KS_FatalError("Rendering Method function not set", " ");
    ksGlobal.cachedMaterial = nullptr;
    KS_StatesOnly(&validationMaterial, -1, entry);
    ksGlobal.cachedMethod = -1;
    DWORD passes = 0;
    HRESULT result = ksGlobal.device->ValidateDevice(&passes);
    if (verbose) KS_Log("res = %s, passes = %i", KS_ResultText(result), (int)passes);
    // A single-texture device must draw these methods in two passes.
    return SUCCEEDED(result) && (!ksGlobal.caps.singleTexture || entry.passes == 2);
}

static void KS_Install(int32_t id, const KSCandidates& list, int k) {
    KSRenderMethod& entry = ksRenderMethods[id];
    entry.procedure = KS_MethodRow(list.procedures[k]);
    entry.passes = list.passes[k];
    entry.extraTexture = list.extra;
    if (!entry.procedure) KS_FatalError("Rendering Method function not set", " ");
}

static void KS_ValidateId(int32_t id, const KSCandidates& list) {
    KSRenderMethod& entry = ksRenderMethods[id];
    entry.passes = 1;
    entry.extraTexture = 0;
    if (KS_TryProcedure(id)) return;
    for (int k = 0; k < 3; k++) {
        KS_Install(id, list, k);
        // The last candidate stays without a test.
        if (k == 2 || KS_TryProcedure(id)) return;
    }
}

// Four 8x8 test textures "valid1" .. "valid4"; the first three on stages 0 to 2.
static void KS_MakeValidationTextures(int32_t* handles) {
    int32_t savedStage = ksTextureStage;
    static const int32_t stages[4] = {0, 1, 2, 1};
    for (int i = 0; i < 4; i++) {
        char name[8] = "valid1";
        name[5] = (char)('1' + i);
        uint8_t* bits;
        int32_t pitch;
        IDirect3DSurface8* surface = KS_CreateImage8(8, 8, &bits, &pitch);
        if (surface) {
            for (int y = 0; y < 8; y++) memset(bits + y * pitch, 1 + i, 8);
            KS_UnlockSurface(surface);
        }
        ksTextureStage = stages[i];
        handles[i] = KSGFX_AddTexture(name, surface);
    }
    ksTextureStage = savedStage;
}

void KS_ValidateMethods(void) {
    if (ksGlobal.methodsValidated || !ksGlobal.device) return;
    ksGlobal.methodsValidated = 1;
    KS_InstallDefaultMethods();

    memset(&validationMaterial, 0, sizeof(validationMaterial));
    validationMaterial.texSets = 2;
    int ownTable = ksTextures == nullptr;
    if (ownTable) KSGFX_AllocTextures(5);
    int32_t handles[4];
    KS_MakeValidationTextures(handles);
    for (int s = 0; s < 3; s++) validationMaterial.textures[s] = handles[s];

    const KSDeviceCaps& caps = ksGlobal.caps;
    int threeStages = caps.MaxBlendStages == 3 && caps.MaxSimultaneous == 2;
    const KSCandidates* list = threeStages ? kThreeStageList : kStandardList;
    int32_t count = threeStages ? (int32_t)(sizeof(kThreeStageList) / sizeof(kThreeStageList[0]))
                                : (int32_t)(sizeof(kStandardList) / sizeof(kStandardList[0]));
    if (threeStages) {
        static const int16_t seconds[] = {107, 108, 109, 110, 111, 124, 125, 126, 127, 128};
        for (int16_t id : seconds) ksRenderMethods[id].procedure = KS_MethodRow(1000 + id);
    }
    for (int32_t g = 0; g < count; g++) {
        for (int16_t id : list[g].ids) {
            if (id == 0) break;
            KS_ValidateId(id, list[g]);
            if (id == 129) validationMaterial.textures[1] = handles[3];
        }
    }

    // The device lets go of the test textures before they are released.
    for (DWORD stage = 0; stage < 8; stage++) ksGlobal.device->SetTexture(stage, nullptr);
    for (int i = 0; i < 4; i++) {
        char name[8] = "valid1";
        name[5] = (char)('1' + i);
        KS_DeleteTexture(name);
    }
    if (ownTable) KSGFX_FreeTextures();
    KS_ForgetCaches();
}
