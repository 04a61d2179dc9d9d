// Entities: creation, placement, key-frame posing and the per-frame transform.
#define KS_MODULE "Ksentity"
#include "kestra.h"

#include <math.h>
#include <string.h>

static char* KS_LowerCopy(const char* text)
{
    size_t length = strlen(text);
    if (length > (size_t)INT32_MAX - 1)
        return nullptr;
    char* copy = (char*)KS_ALLOC((int32_t)length + 1);
    if (!copy)
        return nullptr;
    for (size_t i = 0; i < length; i++) {
        char c = text[i];
        copy[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
    return copy;
}

// Key counts come from files: a track whose count is not positive or whose keys are missing is
// treated as empty.
static int32_t KS_TrackCount(const KSKey* keys, int32_t count)
{
    return (keys && count > 0) ? count : 0;
}

KSEntity* KS_CreateEntity(KSObject* object, const char* name)
{
    if (!object || object->segmentCount < 0 || (object->segmentCount > 0 && !object->segments))
        return nullptr;
    KSEntity* e = (KSEntity*)KS_ALLOC(sizeof(KSEntity));
    if (!e)
        return nullptr;
    KS_MatrixIdentity(&e->rotation);
    e->object = object;
    e->detailFactor = ksGlobal.lodFactor;
    if (name && !(e->name = KS_LowerCopy(name))) {
        KS_FreeEntity(e);
        return nullptr;
    }

    int32_t n = object->segmentCount;
    if (n > 0) {
        if ((size_t)n > (size_t)INT32_MAX / sizeof(KSSegmentState)) {
            KS_FreeEntity(e);
            return nullptr;
        }
        e->states = (KSSegmentState*)KS_ALLOC(sizeof(KSSegmentState) * (size_t)n);
        e->segmentWords = (int32_t*)KS_ALLOC(sizeof(int32_t) * (size_t)n);
        if (!e->states || !e->segmentWords) {
            KS_FreeEntity(e);
            return nullptr;
        }
        for (int32_t i = 0; i < n; i++) {
            KSSegmentState* st = &e->states[i];
            const KSMatrix& base = object->segments[i].base;
            KS_MatrixIdentity(&st->rotation);
            st->position.x += base.m[12];
            st->position.y += base.m[13];
            st->position.z += base.m[14];
            st->scale = KSVector{1, 1, 1};
        }
    }
    e->scale = KSVector{1, 1, 1};

    if (object->lastFrame >= 0) {
        // Absolute rotations from the relative ones: the same result however often this runs.
        for (int32_t i = 0; i < n; i++) {
            KSSegment* s = &object->segments[i];
            int32_t count = KS_TrackCount(s->rotationKeys, s->rotationKeyCount);
            if (count == 0)
                continue;
            KSKey* keys = s->rotationKeys;
            keys[0].absolute = KSQuat{keys[0].value[0], keys[0].value[1], keys[0].value[2], keys[0].value[3]};
            for (int32_t k = 1; k < count; k++) {
                KSQuat relative = {keys[k].value[0], keys[k].value[1], keys[k].value[2], keys[k].value[3]};
                KSM_QuatMultiply(&keys[k].absolute, &keys[k - 1].absolute, &relative);
            }
        }
        KS_AnimateEntity(e, 0);
    }

    if (!KS_CreateEntityBuffers(e)) {
        KS_FreeEntity(e);
        return nullptr;
    }
    return e;
}

void KS_FreeEntity(KSEntity* entity)
{
    if (!entity)
        return;
    KS_FreeEntityBuffers(entity);
    if (entity->segmentWords)
        KS_FREE(entity->segmentWords);
    if (entity->states)
        KS_FREE(entity->states);
    if (entity->name)
        KS_FREE(entity->name);
    memset(entity, 0, sizeof(*entity));
    KS_FREE(entity);
}

KSEntity* KS_SetEntityPosition(KSEntity* entity, float x, float y, float z)
{
    if (entity)
        entity->position = KSVector{x, y, z};
    return entity;
}

void KS_RotateEntity(KSEntity* entity, float ax, float ay, float az)
{
    if (!entity)
        return;
    entity->angles.x += ax;
    entity->angles.y += ay;
    entity->angles.z += az;
    KSMatrix rx, ry, rz, turn;
    KS_MakeRotationMatrix(&rx, ax, 0, 0);
    KS_MakeRotationMatrix(&ry, 0, ay, 0);
    KS_MakeRotationMatrix(&rz, 0, 0, az);
    KS_MatrixProduct(&turn, &rz, &rx);
    KS_MatrixProduct(&turn, &turn, &ry);
    KS_MatrixProduct(&entity->rotation, &turn, &entity->rotation);
    int32_t before = entity->renormalise;
    entity->renormalise = before - 1;
    if (before <= 1) {
        KS_MatrixOrthonormalize(&entity->rotation);
        entity->renormalise = KS_RENORMALISE_EVERY;
    }
}

KSEntity* KS_ScaleEntity(KSEntity* entity, float sx, float sy, float sz)
{
    if (entity) {
        entity->scale.x *= sx;
        entity->scale.y *= sy;
        entity->scale.z *= sz;
    }
    return entity;
}

KSEntity* KS_SetEntityScale(KSEntity* entity, float sx, float sy, float sz)
{
    if (entity)
        entity->scale = KSVector{sx, sy, sz};
    return entity;
}

static KSSegmentState* KS_StateOf(KSEntity* entity, int32_t segment)
{
    if (!entity || !entity->states || !entity->object || segment < 0 ||
        segment >= entity->object->segmentCount)
        return nullptr;
    return &entity->states[segment];
}

void KS_SetSegmentPosition(KSEntity* entity, int32_t segment, float x, float y, float z)
{
    if (KSSegmentState* st = KS_StateOf(entity, segment))
        st->position = KSVector{x, y, z};
}

void KS_AddSegmentPosition(KSEntity* entity, int32_t segment, float dx, float dy, float dz)
{
    if (KSSegmentState* st = KS_StateOf(entity, segment)) {
        st->position.x += dx;
        st->position.y += dy;
        st->position.z += dz;
    }
}

void KS_SetSegmentScale(KSEntity* entity, int32_t segment, float sx, float sy, float sz)
{
    if (KSSegmentState* st = KS_StateOf(entity, segment))
        st->scale = KSVector{sx, sy, sz};
}

// ---- key tracks ------------------------------------------------------------------------------

void KS_FindKeys(const KSKey* keys, int32_t count, float t, int32_t* lo, int32_t* hi)
{
    int32_t l = 0, h = count;
    while (h - l > 1) {
        int32_t mid = (l + h) / 2;
        if (t >= (float)keys[mid].frame) {
            l = mid;
            if ((float)keys[mid].frame == t)
                h = mid;
        } else {
            h = mid;
        }
    }
    h = l + 1;
    if (h > count - 1)
        h = count - 1;
    if (h < 0)
        h = 0;
    *lo = l;
    *hi = h;
}

static float KS_KeyFraction(const KSKey* keys, int32_t lo, int32_t hi, float t)
{
    float span = (float)keys[hi].frame - (float)keys[lo].frame;
    return span == 0.0f ? 0.0f : (t - (float)keys[lo].frame) / span;
}

// The Hermite weights of the last fraction, forgotten at the start of every KS_AnimateEntity.
static struct {
    int valid;
    float f;
    float h1, h2, h3, h4;
} ksHermite;

void KS_TrackValue(const KSKey* keys, int32_t count, float t, KSVector* out)
{
    count = KS_TrackCount(keys, count);
    if (count == 0)
        return;
    if (count == 1) {
        *out = KSVector{keys[0].value[0], keys[0].value[1], keys[0].value[2]};
        return;
    }
    int32_t lo, hi;
    KS_FindKeys(keys, count, t, &lo, &hi);
    float f = KS_KeyFraction(keys, lo, hi, t);
    const float* vl = keys[lo].value;
    const float* vh = keys[hi].value;
    float result[3];
    if (keys[hi].flags & KS_KEY_LINEAR) {
        for (int a = 0; a < 3; a++)
            result[a] = vl[a] + f * (vh[a] - vl[a]);
        *out = KSVector{result[0], result[1], result[2]};
        return;
    }

    if (!ksHermite.valid || ksHermite.f != f) {
        float f2 = f * f, f3 = f2 * f;
        ksHermite.h2 = 3 * f2 - 2 * f3;
        ksHermite.h1 = 1 - ksHermite.h2;
        ksHermite.h3 = f - 2 * f2 + f3;
        ksHermite.h4 = f3 - f2;
        ksHermite.f = f;
        ksHermite.valid = 1;
    }

    const KSKey& kl = keys[lo];
    const KSKey& kh = keys[hi];
    float a = (1 - kl.tension) * (1 - kl.continuity) * (1 - kl.bias);
    float b = (1 - kl.tension) * (1 + kl.continuity) * (1 + kl.bias);
    float e = (1 - kh.tension) * (1 + kh.continuity) * (1 - kh.bias);
    float g = (1 - kh.tension) * (1 - kh.continuity) * (1 + kh.bias);
    float spanLoHi = (float)kh.frame - (float)kl.frame;
    for (int axis = 0; axis < 3; axis++) {
        float d, gg;
        if (lo > 0) {
            float before = (float)kh.frame - (float)keys[lo - 1].frame;
            float ratio = before != 0.0f ? spanLoHi / before : 0.0f;
            d = (b * (vl[axis] - keys[lo - 1].value[axis]) + a * (vh[axis] - vl[axis])) * ratio;
        } else {
            d = (vh[axis] - vl[axis]) * (a + b) * 0.5f;
        }
        if (hi >= count - 1) {
            gg = (vh[axis] - vl[axis]) * (e + g) * 0.5f;
        } else {
            float after = (float)keys[hi + 1].frame - (float)kl.frame;
            float ratio = after != 0.0f ? spanLoHi / after : 0.0f;
            gg = (e * (keys[hi + 1].value[axis] - vh[axis]) + g * (vh[axis] - vl[axis])) * ratio;
        }
        result[axis] = ksHermite.h1 * vl[axis] + ksHermite.h2 * vh[axis] + ksHermite.h3 * d + ksHermite.h4 * gg;
    }
    *out = KSVector{result[0], result[1], result[2]};
}

static int32_t KS_LastFrame(const KSKey* keys, int32_t count)
{
    count = KS_TrackCount(keys, count);
    return count ? keys[count - 1].frame : 0;
}

void KS_AnimateEntity(KSEntity* entity, int32_t frame)
{
    if (!entity || !entity->object || !entity->states)
        return;
    ksHermite.valid = 0;
    KSObject* object = entity->object;
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KSSegment* s = &object->segments[i];
        KSSegmentState* st = &entity->states[i];
        int32_t rotations = KS_TrackCount(s->rotationKeys, s->rotationKeyCount);
        int32_t positions = KS_TrackCount(s->positionKeys, s->positionKeyCount);
        int32_t scales = KS_TrackCount(s->scaleKeys, s->scaleKeyCount);

        int32_t last = KS_LastFrame(s->rotationKeys, rotations);
        int32_t p = KS_LastFrame(s->positionKeys, positions);
        int32_t q = KS_LastFrame(s->scaleKeys, scales);
        if (p > last) last = p;
        if (q > last) last = q;
        int32_t t;
        if (last >= frame || last <= 0)
            t = frame;
        else
            t = (s->flags & KS_SEG_LOOP) ? frame % last : last;
        float ft = (float)t;

        if (rotations > 0) {
            int32_t lo, hi;
            KS_FindKeys(s->rotationKeys, rotations, ft, &lo, &hi);
            float f = KS_KeyFraction(s->rotationKeys, lo, hi, ft);
            KSQuat q;
            KS_QuatSlerp(&q, &s->rotationKeys[lo].absolute, &s->rotationKeys[hi].absolute, f, 0);
            KS_QuatToMatrix(&q, &st->rotation);
        }
        if (positions > 0) {
            KSVector v = {0, 0, 0};
            KS_TrackValue(s->positionKeys, positions, ft, &v);
            KSM_VecSub(&st->position, &v, &s->pivot);
        }
        if (scales > 0) {
            KSVector v = {1, 1, 1};
            KS_TrackValue(s->scaleKeys, scales, ft, &v);
            st->scale = v;
        }
    }
}

// ---- per-frame transform -----------------------------------------------------------------------

void KS_TransformEntity(KSEntity* entity)
{
    if (!entity || (entity->flags & KS_ENT_HIDDEN))
        return;
    KSObject* object = entity->object;
    const KSCamera* camera = KS_CurrentCamera();
    if (!object || !camera || !object->segments || object->segmentCount <= 0 || !entity->states)
        return;
    KS_UpdateProjection();

    // E = S(scale) . rotation . T(position).
    KSMatrix e, m;
    KS_MatrixScale(&e, entity->scale.x, entity->scale.y, entity->scale.z);
    KS_MatrixProduct(&e, &e, &entity->rotation);
    KS_MatrixTranslation(&m, entity->position.x, entity->position.y, entity->position.z);
    KS_MatrixProduct(&e, &e, &m);

    uint8_t stackMarks[256];
    uint8_t* visited = stackMarks;
    int32_t n = object->segmentCount;
    if (n > (int32_t)sizeof(stackMarks)) {
        visited = (uint8_t*)KS_ALLOC(n);
        if (!visited)
            return;
    } else {
        memset(stackMarks, 0, sizeof(stackMarks));
    }
    for (int32_t i = 0; i < n; i++) {
        KSSegment* s = &object->segments[i];
        if (!(s->flags & KS_SEG_CHILD_ONLY))
            KS_TransformSegment(entity, s, &e, &entity->rotation, camera, visited);
    }
    if (visited != stackMarks)
        KS_FREE(visited);
}
