// Polygon clipping in camera space (|x| <= z, |y| <= z, near <= z <= far), one plane at a time from
// the near plane down to the far plane, with the pieces drawn or queued like unclipped faces.
#define KS_MODULE "D3dclip"
#include "kestra.h"

#include <string.h>

// What a clip run draws: the passes, and for the wireframe visibility test only whether anything
// survives. Every piece carries all coordinate sets; drawing takes those of the pass.
struct KSClipJob {
    int32_t firstPass, lastPass;
    int32_t testOnly;
    int32_t visible;
};

static float KS_NearDistance(void) {
    const KSCamera* camera = KS_CurrentCamera();
    return camera ? camera->nearDist : 10.0f;
}

static float KS_FarDistance(void) {
    const KSCamera* camera = KS_CurrentCamera();
    return camera ? camera->farDist : 65535.0f;
}

// Signed distance of a vertex to a plane, positive on the inside.
static float KS_PlaneDistance(int32_t plane, const KSWorkVertex& w) {
    switch (plane) {
        case KS_CLIP_FAR: return KS_FarDistance() - w.z;
        case KS_CLIP_BOTTOM: return w.z + w.cy;
        case KS_CLIP_TOP: return w.z - w.cy;
        case KS_CLIP_LEFT: return w.z + w.cx;
        case KS_CLIP_RIGHT: return w.z - w.cx;
        default: return w.z - KS_NearDistance();
    }
}

// Clip-code bit of one plane for a vertex.
static uint16_t KS_PlaneCode(int32_t plane, const KSWorkVertex& w) {
    return KS_PlaneDistance(plane, w) < 0.0f ? (uint16_t)plane : 0;
}

void KS_ClipVertex(int32_t plane, const KSClipVertex* a, const KSClipVertex* b, KSClipVertex* out) {
    float da = KS_PlaneDistance(plane, a->w), db = KS_PlaneDistance(plane, b->w);
    float t = da - db != 0.0f ? da / (da - db) : 0.0f;
    *out = *a;
    const float weights[2] = {t, 1.0f - t};
    ksMathTable.LerpVertex(weights, &a->w, &b->w, &out->w);
    for (int k = 0; k < KS_MAX_TEXSETS - 1; k++)
        for (int c = 0; c < 2; c++) out->uv[k][c] = a->uv[k][c] + (b->uv[k][c] - a->uv[k][c]) * t;
    // A new vertex still has the planes below this one ahead of it.
    out->w.code = KS_CLIP_NEW;
    for (int32_t below = plane >> 1; below; below >>= 1) out->w.code |= KS_PlaneCode(below, out->w);
}

static void KS_Project(KSClipVertex* v) {
    if (!(v->w.code & KS_CLIP_NEW)) return;
    const KSProjection& p = ksProjection;
    KSWorkVertex& w = v->w;
    float rhw = 1.0f / w.z;
    w.rhw = rhw;
    w.w2 = rhw;
    w.sx = p.scaleX * w.cx * rhw + p.centreX;
    w.sy = p.centreY - rhw * p.scaleY * w.cy;
    w.code = 0;
}

static void KS_EmitTriangle(KSClipVertex* a, KSClipVertex* b, KSClipVertex* c, KSClipJob* job) {
    if (job->testOnly) {
        job->visible = 1;
        return;
    }
    KS_Project(a);
    KS_Project(b);
    KS_Project(c);
    KSDrawState& d = ksDraw;
    if (!d.material->doubleSided) {
        float cross = (c->w.sy - a->w.sy) * (b->w.sx - a->w.sx) - (b->w.sy - a->w.sy) * (c->w.sx - a->w.sx);
        if (cross < 0.0f) return;
    }
    const KSRenderMethod& entry = ksRenderMethods[d.material->method];
    if (entry.deferred) {
        KS_QueueTriangle(a, b, c);
        return;
    }
    for (int32_t pass = job->firstPass; pass <= job->lastPass; pass++) {
        d.pass = pass;
        d.wantStates = 1;
        d.wantColours = 0;
        KS_RunProcedure(entry.procedure);
        KS_DrawTriangle(a, b, c);
    }
}

// Clips against `plane` and the planes below it; the pieces keep the input winding.
static void KS_Clip(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c, int32_t plane,
                    KSClipJob* job) {
    if (plane == 0) {
        KSClipVertex v[3] = {*a, *b, *c};
        KS_EmitTriangle(&v[0], &v[1], &v[2], job);
        return;
    }
    int32_t next = plane >> 1;
    const KSClipVertex* in[3] = {a, b, c};
    int outside[3] = {(a->w.code & plane) != 0, (b->w.code & plane) != 0, (c->w.code & plane) != 0};
    int count = outside[0] + outside[1] + outside[2];
    if (count == 3) return;
    if (count == 0) {
        KS_Clip(a, b, c, next, job);
        return;
    }
    // Rotate so that the odd vertex (the one outside, or the one inside) comes first.
    int odd = 0;
    for (int i = 0; i < 3; i++)
        if (outside[i] == (count == 1)) odd = i;
    const KSClipVertex* p0 = in[odd];
    const KSClipVertex* p1 = in[(odd + 1) % 3];
    const KSClipVertex* p2 = in[(odd + 2) % 3];
    KSClipVertex n1, n2;
    KS_ClipVertex(plane, p0, p1, &n1);
    KS_ClipVertex(plane, p2, p0, &n2);
    if (count == 1) {
        // p0 outside: the quadrilateral n1, p1, p2, n2 as two triangles.
        KS_Clip(&n1, p1, p2, next, job);
        KS_Clip(&n1, p2, &n2, next, job);
    } else {
        // p0 inside: the triangle p0, n1, n2.
        KS_Clip(p0, &n1, &n2, next, job);
    }
}

static KSClipJob KS_Job(int32_t firstPass, int32_t lastPass) {
    return KSClipJob{firstPass, lastPass, 0, 0};
}

void KS_ClipTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c, int32_t plane) {
    KSClipJob job = KS_Job(1, ksDraw.passes);
    KS_Clip(a, b, c, plane, &job);
}

void KS_ClipTriangleMultiPass(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c,
                              int32_t plane, int32_t pass) {
    KSClipJob job = KS_Job(pass, pass);
    KS_Clip(a, b, c, plane, &job);
}

// One edge as a line: dropped when both ends are outside a plane, an outside end moved onto it.
static void KS_ClipLine(KSClipVertex a, KSClipVertex b, int32_t plane) {
    for (; plane; plane >>= 1) {
        int outA = (a.w.code & plane) != 0, outB = (b.w.code & plane) != 0;
        if (outA && outB) return;
        KSClipVertex cut;
        if (outA) {
            KS_ClipVertex(plane, &a, &b, &cut);
            a = cut;
        } else if (outB) {
            KS_ClipVertex(plane, &b, &a, &cut);
            b = cut;
        }
    }
    KS_Project(&a);
    KS_Project(&b);
    KS_DrawLine(&a, &b);
}

void KS_ClipWireframe(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c, int32_t plane) {
    KSClipJob test = KS_Job(1, 1);
    test.testOnly = 1;
    KS_Clip(a, b, c, plane, &test);
    if (!test.visible || !ksDraw.face) return;

    KSDrawState& d = ksDraw;
    d.pass = 1;
    d.wantStates = 1;
    d.wantColours = 0;
    KS_RunProcedure(ksRenderMethods[d.material->method].procedure);
    const KSClipVertex* v[3] = {a, b, c};
    static const uint8_t edges[3] = {KS_FACE_EDGE_01, KS_FACE_EDGE_12, KS_FACE_EDGE_20};
    for (int e = 0; e < 3; e++)
        if (d.face->flags & edges[e]) KS_ClipLine(*v[e], *v[(e + 1) % 3], plane);
}
