// Objects: creation and release, bounds, and the one-quad sprite objects of 2D overlays.
#define KS_MODULE "Ksobject"
#include "kestra.h"

#include <string.h>

KSObject* KS_CreateObject(void)
{
    KSObject* object = (KSObject*)KS_ALLOC(sizeof(KSObject));
    if (object)
        object->lastFrame = -1;
    return object;
}

void KS_FreeObject(KSObject* object)
{
    if (!object)
        return;
    KS_FreeObjectBuffers(object);
    if (object->segments) {
        for (int32_t i = 0; i < object->segmentCount; i++)
            KS_FreeSegment(&object->segments[i]);
        KS_FREE(object->segments);
    }
    if (object->name)
        KS_FREE(object->name);
    KS_FREE(object);
}

void KS_FinishBounds(KSBounds* b)
{
    for (int k = 0; k < 8; k++) {
        b->corners[k].x = (k == 1 || k == 2 || k == 5 || k == 6) ? b->maxX : b->minX;
        b->corners[k].y = (k == 2 || k == 3 || k == 6 || k == 7) ? b->maxY : b->minY;
        b->corners[k].z = (k >= 4) ? b->maxZ : b->minZ;
    }
    b->centre.x = b->minX + (b->maxX - b->minX) / 2;
    b->centre.y = b->minY + (b->maxY - b->minY) / 2;
    b->centre.z = b->minZ + (b->maxZ - b->minZ) / 2;
    float r = b->centre.x - b->minX;
    float candidates[5] = {b->centre.y - b->minY, b->centre.z - b->minZ, b->maxX - b->centre.x,
                           b->maxY - b->centre.y, b->maxZ - b->centre.z};
    for (float c : candidates)
        if (c > r)
            r = c;
    b->radius = r;
}

static void KS_CalcSegmentBounds(KSSegment* s)
{
    if (!s->vertices || s->vertexCount <= 0)
        return;   // a segment without vertices keeps its bounds
    KSBounds* b = &s->bounds;
    b->minX = b->maxX = s->vertices[0].position.x;
    b->minY = b->maxY = s->vertices[0].position.y;
    b->minZ = b->maxZ = s->vertices[0].position.z;
    for (int32_t i = 1; i < s->vertexCount; i++) {
        const KSVector& p = s->vertices[i].position;
        if (p.x < b->minX) b->minX = p.x;
        if (p.x > b->maxX) b->maxX = p.x;
        if (p.y < b->minY) b->minY = p.y;
        if (p.y > b->maxY) b->maxY = p.y;
        if (p.z < b->minZ) b->minZ = p.z;
        if (p.z > b->maxZ) b->maxZ = p.z;
    }
    KS_FinishBounds(b);
}

void KS_CalcBounds(KSObject* object)
{
    if (!object || !object->segments || object->segmentCount <= 0)
        return;
    for (int32_t i = 0; i < object->segmentCount; i++)
        KS_CalcSegmentBounds(&object->segments[i]);
    KSBounds* b = &object->bounds;
    const KSBounds& first = object->segments[0].bounds;
    b->minX = first.minX; b->maxX = first.maxX;
    b->minY = first.minY; b->maxY = first.maxY;
    b->minZ = first.minZ; b->maxZ = first.maxZ;
    for (int32_t i = 1; i < object->segmentCount; i++) {
        const KSBounds& s = object->segments[i].bounds;
        if (s.minX < b->minX) b->minX = s.minX;
        if (s.maxX > b->maxX) b->maxX = s.maxX;
        if (s.minY < b->minY) b->minY = s.minY;
        if (s.maxY > b->maxY) b->maxY = s.maxY;
        if (s.minZ < b->minZ) b->minZ = s.minZ;
        if (s.maxZ > b->maxZ) b->maxZ = s.maxZ;
    }
    KS_FinishBounds(b);
}

KSObject* KS_CreateSpriteObject(int32_t materialIndex)
{
    KSMaterial* material = KS_GetMaterial(materialIndex);
    if (!material)
        return nullptr;
    int32_t texture = material->textures[0];
    if (!ksTextures || texture < 0 || texture >= ksTextureCount || !ksTextures[texture].name)
        return nullptr;
    const KSTexture& tex = ksTextures[texture];
    float w = (float)tex.width, h = (float)tex.height;
    float U = 254.0f * tex.uScale, V = 254.0f * tex.vScale;
    float Z = ksGlobal.quadUVMin;   // the engine's low texture-coordinate limit

    KSObject* object = KS_CreateObject();
    if (!object)
        return nullptr;
    if (!KS_AllocSegments(object, 1)) {
        KS_FreeObject(object);
        return nullptr;
    }
    KSSegment* s = &object->segments[0];
    s->flags = KS_SEG_BILLBOARD;
    KS_MatrixZero(&s->base);        // all other fields zero
    KS_MatrixZero(&s->world);
    KS_MatrixZero(&s->parentMatrix);
    s->faces = (KSFace*)KS_ALLOC(sizeof(KSFace) * 2);
    if (!s->faces || !KS_AllocSegmentVertices(s, 5)) {
        KS_FreeObject(object);
        return nullptr;
    }
    s->faceCount = 2;

    const KSVector positions[5] = {{0, 0, 0}, {-w, -h, 0}, {w, -h, 0}, {w, h, 0}, {-w, h, 0}};
    for (int i = 0; i < 5; i++) {
        s->vertices[i].position = positions[i];
        s->vertices[i].normal = KSPackedNormal{0, 0, 1023};
    }
    static const int corners[2][3] = {{2, 1, 3}, {3, 1, 4}};
    const float us[2][3] = {{U, Z, U}, {U, Z, Z}};
    const float vs[2][3] = {{V, V, Z}, {Z, V, Z}};
    for (int f = 0; f < 2; f++) {
        KSFace* face = &s->faces[f];
        face->material = (uint16_t)materialIndex;
        face->material2 = (uint16_t)materialIndex;
        for (int c = 0; c < 3; c++) {
            face->corners[c] = &s->vertices[corners[f][c]];
            face->fileVertices[c] = corners[f][c];
            face->u[c] = us[f][c];
            face->v[c] = vs[f][c];
        }
        face->normal = KSPackedNormal{0, 0, 1023};
        face->flags = 6;
    }
    float radius = 2.0f * (w > h ? w : h);
    s->bounds.radius = radius;
    object->bounds.radius = radius;
    object->lastFrame = -1;
    return object;
}

void KS_DrawSprite(KSEntity* entity, float left, float top, float right, float bottom, float depth)
{
    if (!entity || !entity->object || !entity->object->segments || entity->object->segmentCount < 1)
        return;
    KSSegment* s = &entity->object->segments[0];
    if (!s->work || s->vertexCount < 5)
        return;
    KS_UpdateProjection();
    const KSProjection& p = ksProjection;
    const KSCamera* camera = KS_CurrentCamera();
    float farDist = camera ? camera->farDist : 65535.0f;

    s->flags |= KS_SEG_VISIBLE;
    const float xs[4] = {left, right, right, left};
    const float ys[4] = {bottom, bottom, top, top};
    for (int i = 0; i < 4; i++) {
        KSWorkVertex* w = &s->work[i + 1];
        w->sx = xs[i];
        w->sy = ys[i];
        w->z = depth;
        w->marker = KS_WV_TRANSFORMED;
        w->cx = p.scaleX != 0.0f ? (xs[i] - p.centreX) * depth / p.scaleX : 0.0f;
        w->cy = p.scaleY != 0.0f ? (p.centreY - ys[i]) * depth / p.scaleY : 0.0f;
        if (depth > 0.0f) {
            w->code = KS_ClipCode(w->cx, w->cy, depth, farDist);
            w->rhw = p.constant / depth;
            w->w2 = w->rhw;
        } else {
            w->code = KS_CLIP_NEAR;   // no reciprocal depth on or behind the eye
        }
    }
    KS_RenderEntity(entity);
}
