// Lights: light lists, the active list of the frame, and software lighting of faces and vertices.
#define KS_MODULE "Kslight"
#include "kestra.h"

#include <math.h>
#include <string.h>

KSLightList ksActiveLights = {0, 0, nullptr};
int32_t ksFixedPointLights = 0;
int32_t ksOneSidedLighting = 0;
float ksLightColour[3] = {1, 1, 1};

static void KS_DefaultLight(KSLight* light)
{
    memset(light, 0, sizeof(*light));
    light->type = KS_LIGHT_SEGMENT;
    light->intensity = ksFixedPointLights ? 0.0009765625f : 1.0f;
    light->range = 1.0f;
    light->falloff = 1024.0f;
    light->colour[0] = light->colour[1] = light->colour[2] = 1.0f;
    light->further[0] = 1.0f;
    light->further[1] = 0.0027f;
    light->further[2] = 0.0f;
}

int32_t KS_InitLights(KSLightList* list, int32_t capacity)
{
    if (!list)
        return 0;
    KS_FreeLights(list);
    if (capacity <= 0 || (size_t)capacity > (size_t)INT32_MAX / sizeof(KSLight))
        return 0;
    KSLight* lights = (KSLight*)KS_ALLOC(sizeof(KSLight) * (size_t)capacity);
    if (!lights)
        return 0;
    for (int32_t i = 0; i < capacity; i++)
        KS_DefaultLight(&lights[i]);
    list->lights = lights;
    list->capacity = capacity;
    list->count = 0;
    return 1;
}

void KS_FreeLights(KSLightList* list)
{
    if (!list)
        return;
    if (list->lights)
        KS_FREE(list->lights);
    list->lights = nullptr;
    list->count = 0;
    list->capacity = 0;
}

void KS_SetAmbient(float r, float g, float b)
{
    ksGlobal.ambient[0] = r;
    ksGlobal.ambient[1] = g;
    ksGlobal.ambient[2] = b;
}

static KSLight* KS_LightAt(KSLightList* list, int32_t index)
{
    if (!list || !list->lights || index < 0 || index >= list->capacity)
        return nullptr;
    return &list->lights[index];
}

void KS_SetLightType(KSLightList* list, int32_t index, int32_t type)
{
    if (KSLight* light = KS_LightAt(list, index))
        light->type = type;
}

void KS_SetLightPosition(KSLightList* list, int32_t index, float x, float y, float z)
{
    if (KSLight* light = KS_LightAt(list, index)) {
        light->position = KSVector{x, y, z};
        light->viewPosition = light->position;
    }
}

void KS_SetLightColour(KSLightList* list, int32_t index, float r, float g, float b)
{
    if (KSLight* light = KS_LightAt(list, index)) {
        light->colour[0] = r;
        light->colour[1] = g;
        light->colour[2] = b;
    }
}

// falloff from the intensity as given and the range; a range of 0 or less gives no falloff
// instead of a division by zero.
static void KS_StoreStrength(KSLight* light, float intensity)
{
    if (ksFixedPointLights) {
        light->intensity = intensity / 1024.0f;
        light->falloff = light->range > 0.0f ? intensity / light->range : 0.0f;
    } else {
        light->intensity = intensity;
        light->falloff = light->range > 0.0f ? intensity * 1024.0f / light->range : 0.0f;
    }
}

void KS_SetLightStrength(KSLightList* list, int32_t index, float intensity)
{
    if (KSLight* light = KS_LightAt(list, index))
        KS_StoreStrength(light, intensity);
}

void KS_SetLightRange(KSLightList* list, int32_t index, float range)
{
    if (KSLight* light = KS_LightAt(list, index)) {
        float given = ksFixedPointLights ? light->intensity * 1024.0f : light->intensity;
        light->range = range;
        KS_StoreStrength(light, given);
    }
}

void KS_SetLightTarget(KSLightList* list, int32_t index, float x, float y, float z)
{
    if (KSLight* light = KS_LightAt(list, index))
        light->target = KSVector{x, y, z};
}

void KS_SetLightCone(KSLightList* list, int32_t index, float innerAngle, float outerAngle)
{
    if (KSLight* light = KS_LightAt(list, index)) {
        light->innerAngle = innerAngle;
        light->outerAngle = outerAngle;
    }
}

void KS_SwitchLightOn(KSLightList* list, int32_t index)
{
    if (KSLight* light = KS_LightAt(list, index))
        light->enabled = 1;
}

void KS_ClearActiveLights(void)
{
    ksActiveLights.count = 0;
}

static KSVector KS_ViewPoint(const KSVector& p, const KSCamera* camera)
{
    if (!camera)
        return p;
    KSWorkVertex w;
    KSM_TransformPoint(&p, &camera->cull, &w);
    return KSVector{w.cx, w.cy, w.z};
}

void KS_TransformLights(KSLightList* list)
{
    if (!list || !list->lights)
        return;
    const KSCamera* camera = KS_CurrentCamera();
    // The count is caller-set: never read past the lights that exist.
    int32_t count = list->count < list->capacity ? list->count : list->capacity;
    for (int32_t i = 0; i < count; i++) {
        KSLight* light = &list->lights[i];
        light->viewPosition = KS_ViewPoint(light->position, camera);
        if (light->type == KS_LIGHT_SPOT) {
            KSVector target = KS_ViewPoint(light->target, camera);
            KSM_VecSub(&light->direction, &target, &light->viewPosition);
            KSM_Normalize(&light->direction);
        }
    }
    if (!ksActiveLights.lights)
        return;
    for (int32_t i = 0; i < count && ksActiveLights.count < ksActiveLights.capacity; i++)
        if (list->lights[i].enabled)
            ksActiveLights.lights[ksActiveLights.count++] = list->lights[i];
}

void KS_LightSegment(KSEntity* entity, KSSegment* segment, const KSVector* offset)
{
    if (!entity || !segment || !ksActiveLights.lights)
        return;
    KSVector base = entity->position;
    if (offset)
        KSM_VecAdd(&base, &base, offset);
    const float* w = segment->world.m;
    for (int32_t i = 0; i < ksActiveLights.count; i++) {
        KSLight* light = &ksActiveLights.lights[i];
        if (!light->enabled || light->type != KS_LIGHT_SEGMENT)
            continue;
        KSVector d;
        KSM_VecSub(&d, &light->position, &base);
        // Into the segment's own orientation: the transpose of the world matrix's 3x3 part, so
        // that the direction meets the segment's model-space normals.
        KSVector r = {d.x * w[0] + d.y * w[1] + d.z * w[2], d.x * w[4] + d.y * w[5] + d.z * w[6],
                      d.x * w[8] + d.y * w[9] + d.z * w[10]};
        float squared = r.x * r.x + r.y * r.y + r.z * r.z;
        if (squared > 0.0f) {
            float length = KSM_Sqrt(squared);
            light->segmentDistance = length;
            light->segmentDirection[0] = (int32_t)lrintf(r.x * 1024.0f / length);
            light->segmentDirection[1] = (int32_t)lrintf(r.y * 1024.0f / length);
            light->segmentDirection[2] = (int32_t)lrintf(r.z * 1024.0f / length);
        }
    }
}

// k = (normal . segment direction) >> 10, the integer product of the two fixed-point vectors.
static int32_t KS_SegmentTerm(const KSPackedNormal& n, const KSLight& light)
{
    int32_t dot = n.x * light.segmentDirection[0] + n.y * light.segmentDirection[1] +
                  n.z * light.segmentDirection[2];
    return dot >= 0 ? (dot >> 10) : -((-dot + 1023) >> 10);   // a floor shift for negatives too
}

static void KS_AddLight(float* colour, float amount, const KSMaterial* m, const KSLight& light)
{
    colour[0] += amount * m->red * light.colour[0];
    colour[1] += amount * m->green * light.colour[1];
    colour[2] += amount * m->blue * light.colour[2];
}

static void KS_FinishColour(const float* colour)
{
    for (int c = 0; c < 3; c++) {
        float v = colour[c];
        ksLightColour[c] = v > 255.0f ? 255.0f : (v < 1.0f || !(v == v) ? 1.0f : v);
    }
}

void KS_LightFace(const KSFace* face, const KSMaterial* material, const KSWorkVertex* at)
{
    float colour[3] = {ksGlobal.ambient[0], ksGlobal.ambient[1], ksGlobal.ambient[2]};
    if (face && material && ksActiveLights.lights) {
        for (int32_t i = 0; i < ksActiveLights.count; i++) {
            const KSLight& light = ksActiveLights.lights[i];
            if (!light.enabled)
                continue;
            if (light.type == KS_LIGHT_SEGMENT) {
                int32_t k = KS_SegmentTerm(face->normal, light);
                if (k < 0)
                    k = (face->flags & KS_FACE_TWO_SIDED) ? -k : 0;
                KS_AddLight(colour, (float)k * light.intensity, material, light);
            } else if (at) {
                float d = KSM_Distance3D(light.viewPosition.x, light.viewPosition.y, light.viewPosition.z,
                                         at->cx, at->cy, at->z);
                if (d < light.range) {
                    float amount = (light.range - d) * light.falloff;
                    KS_AddLight(colour, amount > 0.0f ? amount : 0.0f, material, light);
                }
            }
        }
    }
    KS_FinishColour(colour);
}

void KS_LightVertex(const KSVertex* vertex, const KSMaterial* material)
{
    float colour[3] = {ksGlobal.ambient[0], ksGlobal.ambient[1], ksGlobal.ambient[2]};
    if (vertex && material && ksActiveLights.lights) {
        KSVector at = {0, 0, 0};
        if (vertex->work)
            at = KSVector{vertex->work->cx, vertex->work->cy, vertex->work->z};
        float power = material->specular[4];
        for (int32_t i = 0; i < ksActiveLights.count; i++) {
            const KSLight& light = ksActiveLights.lights[i];
            if (!light.enabled)
                continue;
            if (light.type == KS_LIGHT_SEGMENT) {
                int32_t k = KS_SegmentTerm(vertex->normal, light);
                if (k < 0)
                    k = ksOneSidedLighting ? 0 : -k;
                KS_AddLight(colour, (float)k * light.intensity, material, light);
                if (power != 0.0f) {
                    KSVector h = {-light.direction.x, -light.direction.y, 1.0f - light.direction.z};
                    KSM_Normalize(&h);
                    float base = ((float)vertex->viewNormal.x * h.x + (float)vertex->viewNormal.y * h.y +
                                  (float)vertex->viewNormal.z * h.z) / 1024.0f;
                    // Facing away gives no highlight, also for even powers.
                    float s = base > 0.0f ? powf(base, power) : 0.0f;
                    colour[0] += material->specular[0] * s;
                    colour[1] += material->specular[1] * s;
                    colour[2] += material->specular[2] * s;
                }
            } else if (light.type == KS_LIGHT_POINT) {
                float dx = light.viewPosition.x - at.x, dy = light.viewPosition.y - at.y,
                      dz = light.viewPosition.z - at.z;
                float r = light.range;
                if (dx > -r && dx < r && dy > -r && dy < r && dz > -r && dz < r) {
                    float d = KSM_Sqrt(dx * dx + dy * dy + dz * dz);
                    if (d < r) {
                        float amount = (r - d) * light.falloff;
                        KS_AddLight(colour, amount > 0.0f ? amount : 0.0f, material, light);
                    }
                }
            } else if (light.type == KS_LIGHT_SPOT) {
                KSVector l;
                KSM_VecSub(&l, &light.viewPosition, &at);
                float dist = KSM_VecLength(&l);
                KSM_Normalize(&l);
                float a = (light.range - dist) * light.falloff;
                if (a <= 0.0f || dist >= light.range)
                    a = 0.0f;
                float t = -KSM_VecDot(&l, &light.direction);
                float co = cosf(light.outerAngle / 2), ci = cosf(light.innerAngle / 2);
                float b;
                if (t > ci) {
                    b = a * light.intensity * 1024.0f;
                } else if (t > co) {
                    float f = (t - co) / (ci - co);
                    f = f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
                    b = f * a * light.intensity * 1024.0f;
                } else {
                    continue;
                }
                KS_AddLight(colour, b, material, light);
            }
        }
    }
    KS_FinishColour(colour);
}
