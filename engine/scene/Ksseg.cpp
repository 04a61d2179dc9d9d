// Segments: their arrays, their bounds and their per-frame transform and projection.
#define KS_MODULE "Ksseg"
#include "kestra.h"

#include <math.h>
#include <string.h>

int32_t KS_SegmentLinkValid(const KSObject* object, const KSSegment* link)
{
    if (!link)
        return 1;
    if (!object || !object->segments || object->segmentCount <= 0)
        return 0;
    // Compare addresses as integers: a stray pointer is not part of the array's object.
    uintptr_t first = (uintptr_t)object->segments;
    uintptr_t at = (uintptr_t)link;
    if (at < first)
        return 0;
    uintptr_t offset = at - first;
    return offset % sizeof(KSSegment) == 0 && offset / sizeof(KSSegment) < (uintptr_t)object->segmentCount;
}

void KS_FreeSegment(KSSegment* segment)
{
    if (!segment)
        return;
    if (segment->name)
        KS_FREE(segment->name);
    if (segment->faces)
        KS_FREE(segment->faces);
    if (segment->vertices)
        KS_FREE(segment->vertices);
    if (segment->work)
        KS_FREE(segment->work);
    for (int i = 0; i < KS_MAX_LAYERS; i++)
        if (segment->layers[i])
            KS_FREE(segment->layers[i]);
    if (segment->attached)
        KS_FREE(segment->attached);
    if (segment->rotationKeys)
        KS_FREE(segment->rotationKeys);
    if (segment->positionKeys)
        KS_FREE(segment->positionKeys);
    if (segment->scaleKeys)
        KS_FREE(segment->scaleKeys);
    if (segment->lodRemap)
        KS_FREE(segment->lodRemap);
    if (segment->lodWeights)
        KS_FREE(segment->lodWeights);
    memset(segment, 0, sizeof(*segment));
}

int32_t KS_AllocSegments(KSObject* object, int32_t count)
{
    if (!object || object->segments || count < 0)
        return 0;
    if (count == 0)
        return 1;
    if ((size_t)count > (size_t)INT32_MAX / sizeof(KSSegment))
        return 0;
    KSSegment* segments = (KSSegment*)KS_ALLOC(sizeof(KSSegment) * (size_t)count);
    if (!segments)
        return 0;
    for (int32_t i = 0; i < count; i++) {
        segments[i].index = i;
        KS_MatrixIdentity(&segments[i].base);
        KS_MatrixIdentity(&segments[i].world);
        KS_MatrixIdentity(&segments[i].parentMatrix);
    }
    object->segments = segments;
    object->segmentCount = count;
    return 1;
}

int32_t KS_AllocSegmentVertices(KSSegment* segment, int32_t count)
{
    if (!segment || count < 0)
        return 0;
    if (segment->vertices)
        KS_FREE(segment->vertices);
    if (segment->work)
        KS_FREE(segment->work);
    segment->vertices = nullptr;
    segment->work = nullptr;
    segment->vertexCount = 0;
    if (count == 0)
        return 1;
    if ((size_t)count > (size_t)INT32_MAX / sizeof(KSWorkVertex) ||
        (size_t)count > (size_t)INT32_MAX / sizeof(KSVertex))
        return 0;
    KSVertex* vertices = (KSVertex*)KS_ALLOC(sizeof(KSVertex) * (size_t)count);
    KSWorkVertex* work = (KSWorkVertex*)KS_ALLOC(sizeof(KSWorkVertex) * (size_t)count);
    if (!vertices || !work) {
        if (vertices)
            KS_FREE(vertices);
        if (work)
            KS_FREE(work);
        return 0;
    }
    for (int32_t i = 0; i < count; i++)
        vertices[i].work = &work[i];
    segment->vertices = vertices;
    segment->work = work;
    segment->vertexCount = count;
    return 1;
}

uint16_t KS_ClipCode(float x, float y, float z, float farDist)
{
    uint16_t code = 0;
    if (z > farDist)
        code |= KS_CLIP_FAR;
    if (y < -z)
        code |= KS_CLIP_BOTTOM;
    if (y > z)
        code |= KS_CLIP_TOP;
    if (x < -z)
        code |= KS_CLIP_LEFT;
    if (x > z)
        code |= KS_CLIP_RIGHT;
    return code;
}

static float KS_Clamp(float value, float low, float high)
{
    return value < low ? low : (value > high ? high : value);
}

void KS_ProjectWorkVertex(KSWorkVertex* w, float nearDist, float farDist, int second)
{
    w->marker = KS_WV_TRANSFORMED;
    // A point on or behind the eye has no reciprocal depth, whatever the near distance says.
    if (w->z < nearDist || w->z <= 0.0f) {
        w->code = KS_CLIP_NEAR;
        return;
    }
    const KSProjection& p = ksProjection;
    w->code = KS_ClipCode(w->cx, w->cy, w->z, farDist);
    float rhw = p.constant / w->z;
    w->rhw = rhw;
    w->w2 = rhw;
    if (w->code == 0) {
        w->sx = KS_Clamp(p.scaleX * rhw * w->cx + p.centreX, p.left, p.right);
        w->sy = KS_Clamp(p.centreY - rhw * w->cy * p.scaleY, p.top, p.bottom);
        if (second) {
            w->sx2 = p.scaleX2 * rhw * w->cx + p.centreX2;
            w->sy2 = p.centreY2 - rhw * w->cy * p.scaleY2;
        }
    }
}

// The segment's attached records follow it: their view positions are re-made from K every frame.
static void KS_TransformAttached(KSSegment* s, const KSMatrix* k)
{
    if (!s->attached || s->attachedCount <= 0)
        return;
    for (int32_t i = 0; i < s->attachedCount; i++) {
        KSWorkVertex w;
        KSM_TransformPoint(&s->attached[i].position, k, &w);
        s->attached[i].viewPosition = KSVector{w.cx, w.cy, w.z};
    }
}

static void KS_TransformLink(KSEntity* e, KSSegment* link, const KSMatrix* p, const KSMatrix* q,
                             const KSCamera* camera, uint8_t* visited)
{
    if (link && KS_SegmentLinkValid(e->object, link))
        KS_TransformSegment(e, link, p, q, camera, visited);
}

static void KS_TransformBillboard(KSEntity* e, KSSegment* s, KSSegmentState* st, const KSMatrix* p,
                                  const KSMatrix* q, const KSCamera* camera, uint8_t* visited)
{
    const float nearDist = camera->nearDist, farDist = camera->farDist;

    // W = st.rotation . T(st.position) . P: no pivot, no scale.
    KSMatrix t, w, rq;
    KS_MatrixTranslation(&t, st->position.x, st->position.y, st->position.z);
    KS_MatrixProduct(&w, &st->rotation, &t);
    KS_MatrixProduct(&w, &w, p);
    KS_MatrixProduct(&rq, &st->rotation, q);
    KS_TransformLink(e, s->firstChild, &w, &rq, camera, visited);

    KSMatrix k;
    KS_MatrixProduct(&k, &w, &camera->cull);
    s->world = w;
    KS_TransformAttached(s, &k);

    // A billboard needs its centre and four corners.
    if (!s->vertices || !s->work || s->vertexCount < 5) {
        s->flags &= ~(uint32_t)KS_SEG_VISIBLE;
        return;
    }
    KSWorkVertex centre;
    KSM_TransformPoint(&s->vertices[0].position, &k, &centre);
    s->bounds.viewCentre = KSVector{centre.cx, centre.cy, centre.z};
    float radius = s->bounds.radius;
    if (!(s->flags & KS_SEG_NO_CULL) && (centre.z + radius <= nearDist || centre.z - radius >= farDist)) {
        s->flags &= ~(uint32_t)KS_SEG_VISIBLE;
        return;
    }
    s->flags |= KS_SEG_VISIBLE;

    float theta = (float)((camera->roll + st->billboardAngle) * KS_DEG2RAD);
    float c = cosf(theta), sn = sinf(theta);
    float ex = e->scale.x * camera->projScale.m[0];
    float ey = e->scale.y * camera->projScale.m[5];
    // Rows (c, s) and (-s, c), the first column scaled by x, the second by y.
    float m00 = c * ex, m01 = sn * ey, m10 = -sn * ex, m11 = c * ey;
    for (int i = 1; i <= 4; i++) {
        const KSVector& v = s->vertices[i].position;
        KSWorkVertex* wv = &s->work[i];
        wv->cx = centre.cx + v.x * m00 + v.y * m10;
        wv->cy = centre.cy + v.x * m01 + v.y * m11;
        wv->z = centre.z;
        KS_ProjectWorkVertex(wv, nearDist, farDist, 0);
    }
}

// Sibling and child links from a file can chain every segment into one line; the walk recurses
// along them, so its depth is bounded to keep the stack small (the visualization thread of the
// host may have as little as 1 MB).
#define KS_MAX_LINK_DEPTH 512
static int32_t ksLinkDepth = 0;

static void KS_TransformSegmentAt(KSEntity* e, KSSegment* s, const KSMatrix* p, const KSMatrix* q,
                                  const KSCamera* camera, uint8_t* visited);

void KS_TransformSegment(KSEntity* e, KSSegment* s, const KSMatrix* p, const KSMatrix* q,
                         const KSCamera* camera, uint8_t* visited)
{
    KSObject* object = e->object;
    int32_t index = (int32_t)(s - object->segments);
    if (visited[index])
        return;
    // Beyond the bound the segment is left for a later path (the top-level pass reaches it
    // again unless it is child-only).
    if (ksLinkDepth >= KS_MAX_LINK_DEPTH) {
        s->flags &= ~(uint32_t)KS_SEG_VISIBLE;
        return;
    }
    visited[index] = 1;
    ksLinkDepth++;
    KS_TransformSegmentAt(e, s, p, q, camera, visited);
    ksLinkDepth--;
}

static void KS_TransformSegmentAt(KSEntity* e, KSSegment* s, const KSMatrix* p, const KSMatrix* q,
                                  const KSCamera* camera, uint8_t* visited)
{
    KSSegmentState* st = &e->states[s - e->object->segments];

    s->parentMatrix = *q;
    KS_TransformLink(e, s->nextSibling, p, q, camera, visited);

    if (s->flags & KS_SEG_BILLBOARD) {
        KS_TransformBillboard(e, s, st, p, q, camera, visited);
        return;
    }

    const float nearDist = camera->nearDist, farDist = camera->farDist;

    // local = T(-pivot) . S(scale) . rotation . T(pivot) . T(position); W = local . P.
    KSMatrix local, m, w, rq;
    KS_MatrixTranslation(&local, -s->pivot.x, -s->pivot.y, -s->pivot.z);
    KS_MatrixScale(&m, st->scale.x, st->scale.y, st->scale.z);
    KS_MatrixProduct(&local, &local, &m);
    KS_MatrixProduct(&local, &local, &st->rotation);
    KS_MatrixTranslation(&m, s->pivot.x + st->position.x, s->pivot.y + st->position.y,
                         s->pivot.z + st->position.z);
    KS_MatrixProduct(&local, &local, &m);
    KS_MatrixProduct(&w, &local, p);
    KS_MatrixProduct(&rq, &st->rotation, q);
    KS_TransformLink(e, s->firstChild, &w, &rq, camera, visited);

    KSMatrix k;
    KS_MatrixProduct(&k, &w, &camera->cull);
    s->world = w;
    KS_TransformAttached(s, &k);

    // Box culling on the eight corners.
    uint16_t common = 0xFFFF;
    for (int i = 0; i < 8; i++) {
        KSWorkVertex corner;
        KSM_TransformPoint(&s->bounds.corners[i], &k, &corner);
        s->bounds.viewCorners[i] = KSVector{corner.cx, corner.cy, corner.z};
        uint16_t code = (corner.z >= nearDist) ? KS_ClipCode(corner.cx, corner.cy, corner.z, farDist)
                                               : (uint16_t)KS_CLIP_NEAR;
        common &= code;
    }
    if (!(s->flags & KS_SEG_NO_CULL) && common != 0) {
        s->flags &= ~(uint32_t)KS_SEG_VISIBLE;
        return;
    }
    s->flags |= KS_SEG_VISIBLE;
    if ((s->flags & KS_SEG_BUFFERS) && ksGlobal.vertexBufferSwitch)
        return;   // the device transforms the buffers

    if (!s->vertices || !s->work || s->vertexCount <= 0) {
        s->flags |= KS_SEG_UNCLIPPED;
        return;
    }
    int32_t count = s->vertexCount;
    if (s->lodRemap && s->lodWeights) {
        float factor = KS_Clamp(ksGlobal.lodFactor, 0.0f, 1.0f);
        count = (int32_t)((float)s->vertexCount * factor);
        if (count > s->vertexCount)
            count = s->vertexCount;
    }
    const int second = ksProjection.useSecond;
    int unclipped = 1;
    for (int32_t i = 0; i < count; i++) {
        KSWorkVertex* wv = &s->work[i];
        KSM_TransformPoint(&s->vertices[i].position, &k, wv);
        KS_ProjectWorkVertex(wv, nearDist, farDist, second);
        if (wv->code != 0 && wv->code != KS_CLIP_NEAR)
            unclipped = 0;
    }
    if (unclipped)
        s->flags |= KS_SEG_UNCLIPPED;
    else
        s->flags &= ~(uint32_t)KS_SEG_UNCLIPPED;

    // Every vertex gets its view normal, also those beyond the level-of-detail count.
    if (s->flags & KS_SEG_VIEW_NORMALS) {
        for (int32_t i = 0; i < s->vertexCount; i++) {
            KSVertex* v = &s->vertices[i];
            KSVector n = {(float)v->normal.x, (float)v->normal.y, (float)v->normal.z};
            KSVector r;
            KS_RotateVector(&r, &n, &rq);
            v->viewNormal.x = (int16_t)lrintf(KS_Clamp(r.x, -32768.0f, 32767.0f));
            v->viewNormal.y = (int16_t)lrintf(KS_Clamp(r.y, -32768.0f, 32767.0f));
            v->viewNormal.z = (int16_t)lrintf(KS_Clamp(r.z, -32768.0f, 32767.0f));
        }
    }
}
