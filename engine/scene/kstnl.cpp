// Vertex and index buffers: creation, the build from faces, tangent space, the per-entity
// level-of-detail indices, drawing through the device's transform and lighting, and release.
#define KS_MODULE "kstnl"
#include "kestra.h"

#include <math.h>
#include <string.h>

// The method whose procedure switches depth writes off; drawing switches them back on after it.
#define KS_METHOD_LIGHTMAP_ADD 69
#define KS_METHOD_DOT3 131
#define KS_MAX_TEXTURE_SETS 8

// Lights enabled on the device by the last segment drawn, so the next one can switch off the rest.
static int32_t ksDeviceLights;

// ---- Buffer creation ----------------------------------------------------------------------------

static DWORD KS_BufferUsage(int32_t software)
{
    DWORD usage = D3DUSAGE_WRITEONLY;   // the engine never reads its buffers back
    if (software || !ksGlobal.caps.hardwareTnL)
        usage |= D3DUSAGE_SOFTWAREPROCESSING;
    return usage;
}

IDirect3DVertexBuffer8* MakeVertexBuffer(uint32_t format, int32_t stride, int32_t count, int32_t software)
{
    if (count <= 0 || count > KS_BUFFER_VERTEX_LIMIT || stride <= 0 || !ksGlobal.device)
        return nullptr;
    DWORD fvf = (format & KS_FVF_DECLARATION) ? 0 : format;
    IDirect3DVertexBuffer8* buffer = nullptr;
    HRESULT result = ksGlobal.device->CreateVertexBuffer((UINT)count * (UINT)stride, KS_BufferUsage(software),
                                                         fvf, D3DPOOL_MANAGED, &buffer);
    if (FAILED(result))
        KS_FatalError(KS_D3DErrorName(result), "MakeVertexBuffer");
    return buffer;
}

IDirect3DIndexBuffer8* MakeIndexBuffer(int32_t count, int32_t software)
{
    if (count <= 0 || count > INT32_MAX / 2 || !ksGlobal.device)
        return nullptr;
    IDirect3DIndexBuffer8* buffer = nullptr;
    HRESULT result = ksGlobal.device->CreateIndexBuffer((UINT)count * 2, KS_BufferUsage(software), D3DFMT_INDEX16,
                                                        D3DPOOL_MANAGED, &buffer);
    if (FAILED(result))
        KS_FatalError(KS_D3DErrorName(result), "MakeIndexBuffer");
    return buffer;
}

uint8_t* KS_LockVertexBuffer(IDirect3DVertexBuffer8* buffer, int32_t bytes)
{
    BYTE* data = nullptr;
    HRESULT result = buffer->Lock(0, (UINT)bytes, &data, 0);
    if (FAILED(result))
        KS_FatalError(KS_D3DErrorName(result), "LockVertexBuffer");
    return data;
}

uint16_t* KS_LockIndexBuffer(IDirect3DIndexBuffer8* buffer, int32_t bytes)
{
    BYTE* data = nullptr;
    HRESULT result = buffer->Lock(0, (UINT)bytes, &data, 0);
    if (FAILED(result))
        KS_FatalError(KS_D3DErrorName(result), "LockIndexBuffer");
    return (uint16_t*)data;
}

void KS_UnlockVertexBuffer(IDirect3DVertexBuffer8* buffer)
{
    buffer->Unlock();
}

void KS_UnlockIndexBuffer(IDirect3DIndexBuffer8* buffer)
{
    buffer->Unlock();
}

// ---- Release -------------------------------------------------------------------------------------

static void KS_FreeBufferList(KSBufferList* list)
{
    while (list) {
        KSBufferList* next = list->next;
        if (list->vertexBuffer)
            list->vertexBuffer->Release();
        if (list->indexBuffer)
            list->indexBuffer->Release();
        KS_FREE(list->indices);
        KS_FREE(list->vertexMap);
        KS_FREE(list);
        list = next;
    }
}

static void KS_FreeBufferGroup(KSBufferGroup* group)
{
    KS_FREE(group->collapseA);
    KS_FREE(group->collapseB);
    for (int32_t i = 0; i < group->groupCount; i++)
        KS_FreeBufferList(group->groups[i].first);
    KS_FREE(group->groups);
    memset(group, 0, sizeof(*group));
}

void KS_FreeObjectBuffers(KSObject* object)
{
    if (!object || !object->bufferGroups)
        return;
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KS_FreeBufferGroup(&object->bufferGroups[i]);
        if (object->segments)
            object->segments[i].flags &= ~(uint32_t)KS_SEG_BUFFERS;
    }
    KS_FREE(object->bufferGroups);
    object->bufferGroups = nullptr;
}

// ---- Tangent space -------------------------------------------------------------------------------

// Offsets in the 72-byte vertex of the tangent-space layout.
#define KS_TAN_POSITION 0
#define KS_TAN_NORMAL 12
#define KS_TAN_UV 28
#define KS_TAN_TANGENT 36
#define KS_TAN_BINORMAL 48
#define KS_TAN_CROSS 60

static float* KS_TanField(uint8_t* vertices, int32_t vertex, int32_t offset)
{
    return (float*)(vertices + (size_t)vertex * KS_TANGENT_STRIDE + offset);
}

static void KS_Normalise3(float* v)
{
    float length = sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f) {
        v[0] /= length;
        v[1] /= length;
        v[2] /= length;
    }
}

void KS_ComputeTangents(uint8_t* vertices, int32_t vertexCount, const void* indices, int32_t indexCount,
                        int32_t indices32)
{
    if (!vertices || !indices || vertexCount <= 0)
        return;
    for (int32_t v = 0; v < vertexCount; v++) {
        memset(KS_TanField(vertices, v, KS_TAN_TANGENT), 0, 12);
        memset(KS_TanField(vertices, v, KS_TAN_BINORMAL), 0, 12);
    }
    for (int32_t t = 0; t + 2 < indexCount; t += 3) {
        int32_t corner[3];
        for (int c = 0; c < 3; c++)
            corner[c] = indices32 ? (int32_t)((const uint32_t*)indices)[t + c] : ((const uint16_t*)indices)[t + c];
        if (corner[0] < 0 || corner[1] < 0 || corner[2] < 0 || corner[0] >= vertexCount ||
            corner[1] >= vertexCount || corner[2] >= vertexCount)
            continue;
        const float* p[3];
        const float* uv[3];
        for (int c = 0; c < 3; c++) {
            p[c] = KS_TanField(vertices, corner[c], KS_TAN_POSITION);
            uv[c] = KS_TanField(vertices, corner[c], KS_TAN_UV);
        }
        // Per axis, the plane through (axis, u, v) of the three corners gives d(axis)/du and
        // d(axis)/dv; a plane parallel to the axis gives nothing for it.
        for (int axis = 0; axis < 3; axis++) {
            double e1[3] = {p[1][axis] - p[0][axis], uv[1][0] - uv[0][0], uv[1][1] - uv[0][1]};
            double e2[3] = {p[2][axis] - p[0][axis], uv[2][0] - uv[0][0], uv[2][1] - uv[0][1]};
            double cx = e1[1] * e2[2] - e1[2] * e2[1];
            double cy = e1[2] * e2[0] - e1[0] * e2[2];
            double cz = e1[0] * e2[1] - e1[1] * e2[0];
            if (fabs(cx) <= 1e-12)
                continue;
            for (int c = 0; c < 3; c++) {
                KS_TanField(vertices, corner[c], KS_TAN_TANGENT)[axis] -= (float)(cy / cx);
                KS_TanField(vertices, corner[c], KS_TAN_BINORMAL)[axis] -= (float)(cz / cx);
            }
        }
    }
    for (int32_t v = 0; v < vertexCount; v++) {
        float* tangent = KS_TanField(vertices, v, KS_TAN_TANGENT);
        float* binormal = KS_TanField(vertices, v, KS_TAN_BINORMAL);
        float* cross = KS_TanField(vertices, v, KS_TAN_CROSS);
        const float* normal = KS_TanField(vertices, v, KS_TAN_NORMAL);
        KS_Normalise3(tangent);
        KS_Normalise3(binormal);
        cross[0] = tangent[1] * binormal[2] - tangent[2] * binormal[1];
        cross[1] = tangent[2] * binormal[0] - tangent[0] * binormal[2];
        cross[2] = tangent[0] * binormal[1] - tangent[1] * binormal[0];
        KS_Normalise3(cross);
        if (cross[0] * normal[0] + cross[1] * normal[1] + cross[2] * normal[2] < 0.0f) {
            for (int i = 0; i < 3; i++) {
                cross[i] = -cross[i];
                tangent[i] = -tangent[i];
            }
        }
    }
}

// ---- The build from faces ------------------------------------------------------------------------

struct KSPoolVertex {
    KSVector position;
    KSVector normal;
    uint32_t colour;
    float uv[KS_MAX_TEXTURE_SETS][2];
    int32_t vertex;                      // segment vertex number
};

// Vertices of one buffer in the making, with a hash of position and coordinates for matching,
// and the triangle indices into them.
struct KSVertexPool {
    KSPoolVertex* vertices;
    int32_t count, capacity;
    int32_t* slots;                      // pool index + 1, 0 = empty
    uint32_t slotMask;
    uint16_t* indices;
    int32_t indexCount, indexCapacity;
    int32_t sets;                        // texture-coordinate sets
};

static uint32_t KS_HashFloat(uint32_t hash, float value)
{
    if (value == 0.0f)
        value = 0.0f;                    // -0 matches +0
    uint32_t bits;
    memcpy(&bits, &value, 4);
    hash ^= bits;
    hash *= 0x9E3779B1u;
    return hash ^ (hash >> 15);
}

static uint32_t KS_HashPoolVertex(const KSPoolVertex* v, int32_t sets)
{
    uint32_t hash = 0x811C9DC5u;
    hash = KS_HashFloat(hash, v->position.x);
    hash = KS_HashFloat(hash, v->position.y);
    hash = KS_HashFloat(hash, v->position.z);
    for (int32_t s = 0; s < sets; s++) {
        hash = KS_HashFloat(hash, v->uv[s][0]);
        hash = KS_HashFloat(hash, v->uv[s][1]);
    }
    return hash;
}

// Same position and the same u and v in every set; normal and colour are not compared.
static bool KS_PoolVerticesMatch(const KSPoolVertex* a, const KSPoolVertex* b, int32_t sets)
{
    if (a->position.x != b->position.x || a->position.y != b->position.y || a->position.z != b->position.z)
        return false;
    for (int32_t s = 0; s < sets; s++)
        if (a->uv[s][0] != b->uv[s][0] || a->uv[s][1] != b->uv[s][1])
            return false;
    return true;
}

static void KS_FreePool(KSVertexPool* pool)
{
    KS_FREE(pool->vertices);
    KS_FREE(pool->slots);
    KS_FREE(pool->indices);
    memset(pool, 0, sizeof(*pool));
}

// A pool for at most `vertices` vertices and `indices` indices. 1, or 0 when memory runs out.
static int32_t KS_AllocPool(KSVertexPool* pool, int32_t vertices, int32_t indices, int32_t sets)
{
    memset(pool, 0, sizeof(*pool));
    uint32_t slots = 16;
    while (slots < (uint32_t)vertices * 2)
        slots <<= 1;
    pool->capacity = vertices;
    pool->indexCapacity = indices;
    pool->slotMask = slots - 1;
    pool->sets = sets;
    pool->vertices = (KSPoolVertex*)KS_ALLOC(sizeof(KSPoolVertex) * (size_t)vertices);
    pool->slots = (int32_t*)KS_ALLOC(sizeof(int32_t) * (size_t)slots);
    pool->indices = (uint16_t*)KS_ALLOC(sizeof(uint16_t) * (size_t)indices);
    if (!pool->vertices || !pool->slots || !pool->indices) {
        KS_FreePool(pool);
        return 0;
    }
    return 1;
}

static void KS_EmptyPool(KSVertexPool* pool)
{
    memset(pool->slots, 0, sizeof(int32_t) * ((size_t)pool->slotMask + 1));
    pool->count = 0;
    pool->indexCount = 0;
}

// Index of the pool vertex matching v, appended when there is none.
static uint16_t KS_PoolIndex(KSVertexPool* pool, const KSPoolVertex* v)
{
    uint32_t slot = KS_HashPoolVertex(v, pool->sets) & pool->slotMask;
    while (pool->slots[slot]) {
        int32_t index = pool->slots[slot] - 1;
        if (KS_PoolVerticesMatch(&pool->vertices[index], v, pool->sets))
            return (uint16_t)index;
        slot = (slot + 1) & pool->slotMask;
    }
    int32_t index = pool->count++;
    pool->vertices[index] = *v;
    pool->slots[slot] = index + 1;
    return (uint16_t)index;
}

// The diffuse colour of a corner: the material colour, scaled by the corner's light value (a
// float) when that is above 0; the material's alpha.
static uint32_t KS_CornerColour(uint32_t value, const KSMaterial* material)
{
    float light;
    memcpy(&light, &value, 4);
    float rgb[3] = {255.0f, 255.0f, 255.0f};
    float alpha = 255.0f;
    if (material) {
        rgb[0] = material->red;
        rgb[1] = material->green;
        rgb[2] = material->blue;
        alpha = material->alpha;
    }
    uint32_t channel[4];
    for (int i = 0; i < 4; i++) {
        float c = i < 3 ? rgb[i] : alpha;
        if (i < 3 && light > 0.0f)
            c *= light;
        if (!(c > 0.0f))
            c = 0.0f;                    // also NaN
        if (c > 255.0f)
            c = 255.0f;
        channel[i] = (uint32_t)(c + 0.5f);
    }
    return channel[3] << 24 | channel[0] << 16 | channel[1] << 8 | channel[2];
}

// Default layout: position, normal, diffuse and `sets` coordinate pairs.
static void KS_DefaultFormat(int32_t sets, uint32_t* format, int32_t* stride)
{
    *format = (sets >= 1 && sets <= KS_MAX_TEXTURE_SETS) ? D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | (uint32_t)sets << 8
                                                         : D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    *stride = 28 + 8 * sets;
}

// Bytes of the position of each position kind (D3DFVF_POSITION_MASK >> 1): XYZ, XYZRHW, XYZB1..5.
static const int32_t ksPositionBytes[8] = {0, 12, 16, 16, 20, 24, 28, 32};

// Writes one pool vertex in the format's order, never past the stride.
static void KS_WriteVertex(uint8_t* out, uint32_t format, int32_t stride, const KSPoolVertex* v, int32_t sets)
{
    int32_t at = 0;
    auto put = [&](const void* data, int32_t bytes) {
        if (at + bytes <= stride && data)
            memcpy(out + at, data, (size_t)bytes);
        at += bytes;
    };
    int32_t positionBytes = ksPositionBytes[(format & D3DFVF_POSITION_MASK) >> 1];
    if (positionBytes) {
        put(&v->position, 12);
        at += positionBytes - 12;
    }
    if (format & D3DFVF_NORMAL)
        put(&v->normal, 12);
    if (format & D3DFVF_PSIZE)
        at += 4;
    if (format & D3DFVF_DIFFUSE)
        put(&v->colour, 4);
    if (format & D3DFVF_SPECULAR)
        at += 4;
    int32_t formatSets = (int32_t)((format & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    int32_t count = formatSets < sets ? formatSets : sets;
    for (int32_t s = 0; s < count; s++)
        put(v->uv[s], 8);
}

// Makes one buffer list of the pool's vertices and indices and appends it to the group entry.
// Returns 1, or 0 when memory runs out.
static int32_t KS_FlushPool(KSVertexPool* pool, KSBufferGroup* group, KSMaterialGroup* entry)
{
    const KSMaterial* material = KS_GetMaterial(entry->material);
    uint32_t format;
    int32_t stride;
    const KSVertexShader* shader = material ? material->vertexShader : nullptr;
    if (!shader || (shader->formatText && !shader->formatText[0]))
        KS_DefaultFormat(pool->sets, &format, &stride);
    else if (shader->formatText)
        format = KS_ParseVertexFormat(shader->formatText, &stride);
    else if (KS_DefaultDeclaration(shader->declarationType))
        // Laid out as the built-in declaration reads it: k coordinate sets after the colour.
        KS_DefaultFormat((int32_t)(shader->declarationType & 0xF), &format, &stride);
    else
        format = KS_ParseVertexFormat(nullptr, &stride);
    if (stride <= 0 || (int64_t)pool->count * stride > INT32_MAX)
        return 0;
    int32_t software = material && material->vertexShaderName[0] &&
                       ksGlobal.caps.vertexShaderVersion < KS_VERTEX_SHADER_1_0;

    KSBufferList* list = (KSBufferList*)KS_ALLOC(sizeof(KSBufferList));
    uint8_t* staging = (uint8_t*)KS_ALLOC((size_t)pool->count * (size_t)stride);
    if (list) {
        list->indices = (uint16_t*)KS_ALLOC(sizeof(uint16_t) * (size_t)pool->indexCount);
        list->vertexMap = (int32_t*)KS_ALLOC(sizeof(int32_t) * (size_t)pool->count);
    }
    if (!list || !staging || !list->indices || !list->vertexMap) {
        KS_FREE(staging);
        KS_FreeBufferList(list);
        return 0;
    }
    list->vertexCount = pool->count;
    list->indexCount = pool->indexCount;
    list->format = format;
    list->stride = stride;
    list->software = software;
    memcpy(list->indices, pool->indices, sizeof(uint16_t) * (size_t)pool->indexCount);
    for (int32_t i = 0; i < pool->count; i++) {
        list->vertexMap[i] = pool->vertices[i].vertex;
        KS_WriteVertex(staging + (size_t)i * stride, format, stride, &pool->vertices[i], pool->sets);
    }
    if ((format & KS_FVF_DECLARATION) && material && material->method == KS_METHOD_DOT3 &&
        stride == KS_TANGENT_STRIDE)
        KS_ComputeTangents(staging, list->vertexCount, list->indices, list->indexCount, 0);

    list->vertexBuffer = MakeVertexBuffer(format, stride, list->vertexCount, software);
    list->indexBuffer = MakeIndexBuffer(list->indexCount, software);
    if (!list->vertexBuffer || !list->indexBuffer) {
        KS_FREE(staging);
        KS_FreeBufferList(list);
        return 0;
    }
    int32_t vertexBytes = list->vertexCount * stride, indexBytes = list->indexCount * 2;
    memcpy(KS_LockVertexBuffer(list->vertexBuffer, vertexBytes), staging, (size_t)vertexBytes);
    KS_UnlockVertexBuffer(list->vertexBuffer);
    memcpy(KS_LockIndexBuffer(list->indexBuffer, indexBytes), list->indices, (size_t)indexBytes);
    KS_UnlockIndexBuffer(list->indexBuffer);
    KS_FREE(staging);

    KSBufferList** tail = &entry->first;
    while (*tail)
        tail = &(*tail)->next;
    *tail = list;
    group->totalVertices += list->vertexCount;
    group->totalTriangles += list->indexCount / 3;
    return 1;
}

// Sorts the segment's faces by their first material, ascending (Shell sort, gap halving from half
// the count), and reorders the extra texture layers with them so each face keeps its coordinates.
static int32_t KS_SortFacesByMaterial(KSSegment* s)
{
    int32_t n = s->faceCount;
    if (n < 2)
        return 1;
    int32_t* order = (int32_t*)KS_ALLOC(sizeof(int32_t) * (size_t)n);
    KSFace* faces = (KSFace*)KS_ALLOC(sizeof(KSFace) * (size_t)n);
    float* layer = (float*)KS_ALLOC(sizeof(float) * 6 * (size_t)n);
    if (!order || !faces || !layer) {
        KS_FREE(order);
        KS_FREE(faces);
        KS_FREE(layer);
        return 0;
    }
    for (int32_t i = 0; i < n; i++)
        order[i] = i;
    for (int32_t gap = n / 2; gap > 0; gap /= 2) {
        for (int32_t i = gap; i < n; i++) {
            int32_t moving = order[i];
            uint16_t key = s->faces[moving].material;
            int32_t j = i;
            while (j >= gap && s->faces[order[j - gap]].material > key) {
                order[j] = order[j - gap];
                j -= gap;
            }
            order[j] = moving;
        }
    }
    for (int32_t i = 0; i < n; i++)
        faces[i] = s->faces[order[i]];
    memcpy(s->faces, faces, sizeof(KSFace) * (size_t)n);
    for (int32_t k = 0; k < s->layerCount && k < KS_MAX_LAYERS; k++) {
        if (!s->layers[k])
            continue;
        for (int32_t i = 0; i < n; i++)
            memcpy(layer + (size_t)i * 6, s->layers[k] + (size_t)order[i] * 6, sizeof(float) * 6);
        memcpy(s->layers[k], layer, sizeof(float) * 6 * (size_t)n);
    }
    KS_FREE(order);
    KS_FREE(faces);
    KS_FREE(layer);
    return 1;
}

// Segment vertex numbers of the face's corners; false when a corner is not a vertex of the segment.
static bool KS_FaceCorners(const KSSegment* s, const KSFace* face, int32_t corner[3])
{
    for (int c = 0; c < 3; c++) {
        const KSVertex* v = face->corners[c];
        if (!v || !s->vertices || v < s->vertices || v >= s->vertices + s->vertexCount)
            return false;
        corner[c] = (int32_t)(v - s->vertices);
    }
    return true;
}

static void KS_MakePoolVertex(const KSSegment* s, int32_t faceIndex, int32_t c, int32_t vertex,
                              const KSMaterial* material, int32_t sets, KSPoolVertex* out)
{
    const KSFace* face = &s->faces[faceIndex];
    const KSVertex* v = &s->vertices[vertex];
    memset(out, 0, sizeof(*out));
    out->position = v->position;
    out->normal = KSVector{v->normal.x / 1024.0f, v->normal.y / 1024.0f, v->normal.z / 1024.0f};
    out->colour = KS_CornerColour(face->cornerValues[c], material);
    out->uv[0][0] = face->u[c];
    out->uv[0][1] = face->v[c];
    for (int32_t set = 1; set < sets; set++) {
        const float* layer = s->layers[set - 1];
        if (layer) {
            out->uv[set][0] = layer[(size_t)faceIndex * 6 + c];
            out->uv[set][1] = layer[(size_t)faceIndex * 6 + 3 + c];
        }
    }
    out->vertex = vertex;
}

static int32_t KS_BuildSegmentBuffers(KSSegment* s, KSBufferGroup* group)
{
    if (s->faceCount <= 0 || !s->faces)
        return 1;
    if (s->faceCount > INT32_MAX / 6 || !KS_SortFacesByMaterial(s))
        return 0;
    int32_t runs = 1;
    for (int32_t f = 1; f < s->faceCount; f++)
        runs += s->faces[f].material != s->faces[f - 1].material;
    group->groups = (KSMaterialGroup*)KS_ALLOC(sizeof(KSMaterialGroup) * (size_t)runs);
    if (!group->groups)
        return 0;
    group->groupCount = runs;

    int32_t layers = s->layerCount < 0 ? 0 : s->layerCount > KS_MAX_LAYERS ? KS_MAX_LAYERS : s->layerCount;
    int32_t sets = layers + 1;
    int32_t poolVertices = s->faceCount * 3 < KS_MAX_BUFFER_VERTICES ? s->faceCount * 3 : KS_MAX_BUFFER_VERTICES;
    KSVertexPool pool;
    if (!KS_AllocPool(&pool, poolVertices, s->faceCount * 3, sets))
        return 0;

    int32_t ok = 1, start = 0;
    for (int32_t g = 0; g < runs && ok; g++) {
        int32_t end = start;
        while (end < s->faceCount && s->faces[end].material == s->faces[start].material)
            end++;
        KSMaterialGroup* entry = &group->groups[g];
        entry->material = s->faces[start].material;
        const KSMaterial* material = KS_GetMaterial(entry->material);
        KS_EmptyPool(&pool);
        for (int32_t f = start; f < end && ok; f++) {
            int32_t corner[3];
            if (!KS_FaceCorners(s, &s->faces[f], corner))
                continue;
            for (int c = 0; c < 3; c++) {
                KSPoolVertex v;
                KS_MakePoolVertex(s, f, c, corner[c], material, sets, &v);
                pool.indices[pool.indexCount++] = KS_PoolIndex(&pool, &v);
            }
            if (pool.count >= KS_MAX_BUFFER_VERTICES - 3) {
                ok = KS_FlushPool(&pool, group, entry);
                KS_EmptyPool(&pool);
            }
        }
        if (ok && pool.count > 0)
            ok = KS_FlushPool(&pool, group, entry);
        start = end;
    }
    KS_FreePool(&pool);
    return ok;
}

int32_t KS_BuildObjectBuffers(KSObject* object)
{
    if (!object || !ksGlobal.device || object->segmentCount <= 0 || !object->segments)
        return 0;
    KS_FreeObjectBuffers(object);
    object->bufferGroups = (KSBufferGroup*)KS_ALLOC(sizeof(KSBufferGroup) * (size_t)object->segmentCount);
    if (!object->bufferGroups)
        return 0;
    for (int32_t i = 0; i < object->segmentCount; i++) {
        if (!KS_BuildSegmentBuffers(&object->segments[i], &object->bufferGroups[i])) {
            KS_FreeObjectBuffers(object);
            return 0;
        }
        object->segments[i].flags |= KS_SEG_BUFFERS;
    }
    return 1;
}

// ---- Level of detail -----------------------------------------------------------------------------

uint16_t KS_CollapseIndex(const KSBufferGroup* group, const KSBufferList* list, uint16_t index, int32_t kept)
{
    if (kept <= 0)
        return 0;
    const int32_t* a = group->collapseA;
    const int32_t* b = group->collapseB;
    int32_t n = group->collapseCount;
    int64_t e = (int64_t)index + list->indexOffset;
    auto inMap = [&](int64_t i) { return a && i >= 0 && i < n; };
    int32_t steps = 0;
    if (group->detailSwitch) {
        while (e >= kept && inMap(e) && a[e] != e && steps < group->totalVertices) {
            e = a[e];
            steps++;
        }
    } else if (b && inMap(e) && b[e] >= kept) {
        while (inMap(e) && a[e] != e && steps < group->totalVertices) {
            e = a[e];
            steps++;
            if (!inMap(e) || b[e] < kept)
                break;
        }
    }
    int64_t local = e - list->indexOffset;
    if (local < 0 || local >= list->vertexCount)
        return index;                    // a collapse into another buffer cannot be drawn here
    return (uint16_t)local;
}

// Calls visit(group, list, k) for every buffer list of the object, k counting from 0.
template <typename Visit>
static void KS_ForEachList(KSObject* object, Visit visit)
{
    int32_t k = 0;
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KSBufferGroup* group = &object->bufferGroups[i];
        for (int32_t g = 0; g < group->groupCount; g++)
            for (KSBufferList* list = group->groups[g].first; list; list = list->next)
                visit(group, list, k++);
    }
}

void KS_SetEntityDetail(KSEntity* entity, float detail)
{
    if (!entity)
        return;
    if (!(detail >= 0.0f))
        detail = 0.0f;                   // also NaN
    if (detail > 1.0f)
        detail = 1.0f;
    entity->detailFactor = detail;
    KSEntityBuffers* own = entity->buffers;
    if (!own || !entity->object || !entity->object->bufferGroups)
        return;
    KS_ForEachList(entity->object, [&](KSBufferGroup* group, KSBufferList* list, int32_t k) {
        IDirect3DIndexBuffer8* buffer = own->indexBuffers[k];
        if (!buffer)
            return;
        int32_t kept = (int32_t)(detail * (float)group->totalVertices);
        uint16_t* out = KS_LockIndexBuffer(buffer, list->indexCount * 2);
        int32_t triangles = 0;
        // Triangles that collapse to a line or a point are left out; the rest are packed first.
        for (int32_t t = 0; t + 2 < list->indexCount; t += 3) {
            uint16_t i0 = KS_CollapseIndex(group, list, list->indices[t], kept);
            uint16_t i1 = KS_CollapseIndex(group, list, list->indices[t + 1], kept);
            uint16_t i2 = KS_CollapseIndex(group, list, list->indices[t + 2], kept);
            if (i0 == i1 || i1 == i2 || i0 == i2)
                continue;
            out[triangles * 3] = i0;
            out[triangles * 3 + 1] = i1;
            out[triangles * 3 + 2] = i2;
            triangles++;
        }
        KS_UnlockIndexBuffer(buffer);
        own->triangles[k] = triangles;
    });
}

int32_t KS_CreateEntityBuffers(KSEntity* entity)
{
    if (!entity || !entity->object || !entity->object->bufferGroups || entity->buffers)
        return 1;
    KSObject* object = entity->object;
    int32_t count = 0;
    bool collapses = false;
    KS_ForEachList(object, [&](KSBufferGroup* group, KSBufferList*, int32_t) {
        count++;
        collapses = collapses || group->collapseA;
    });
    if (!collapses)
        return 1;
    KSEntityBuffers* own = (KSEntityBuffers*)KS_ALLOC(sizeof(KSEntityBuffers));
    if (own) {
        own->indexBuffers = (IDirect3DIndexBuffer8**)KS_ALLOC(sizeof(IDirect3DIndexBuffer8*) * (size_t)count);
        own->triangles = (int32_t*)KS_ALLOC(sizeof(int32_t) * (size_t)count);
    }
    if (!own || !own->indexBuffers || !own->triangles) {
        if (own) {
            KS_FREE(own->indexBuffers);
            KS_FREE(own->triangles);
        }
        KS_FREE(own);
        return 0;
    }
    own->count = count;
    KS_ForEachList(object, [&](KSBufferGroup* group, KSBufferList* list, int32_t k) {
        if (group->collapseA && list->indices && list->indexCount > 0)
            own->indexBuffers[k] = MakeIndexBuffer(list->indexCount, list->software);
    });
    entity->buffers = own;
    KS_SetEntityDetail(entity, entity->detailFactor);
    return 1;
}

void KS_FreeEntityBuffers(KSEntity* entity)
{
    if (!entity || !entity->buffers)
        return;
    KSEntityBuffers* own = entity->buffers;
    for (int32_t k = 0; k < own->count; k++)
        if (own->indexBuffers[k])
            own->indexBuffers[k]->Release();
    KS_FREE(own->indexBuffers);
    KS_FREE(own->triangles);
    KS_FREE(own);
    entity->buffers = nullptr;
}

// ---- Drawing -------------------------------------------------------------------------------------

static D3DCOLORVALUE KS_Colour(float r, float g, float b, float a)
{
    D3DCOLORVALUE c;
    c.r = r;
    c.g = g;
    c.b = b;
    c.a = a;
    return c;
}

// The engine's lights on the device for one segment: segment lights (type 0) shine from their
// position towards the segment's origin, point and spot lights are placed in the world. Colour
// is colour x intensity x 1024, so a fixed-point strength of 1 gives the full light colour.
static void KS_SetBufferLights(const KSSegment* segment)
{
    IDirect3DDevice8* device = ksGlobal.device;
    int32_t limit = ksGlobal.caps.maxLights > 0 ? ksGlobal.caps.maxLights : 8;
    KSVector origin = {segment->world.m[12], segment->world.m[13], segment->world.m[14]};
    int32_t used = 0;
    for (int32_t i = 0; i < ksActiveLights.count && ksActiveLights.lights && used < limit; i++) {
        const KSLight& light = ksActiveLights.lights[i];
        if (!light.enabled)
            continue;
        D3DLIGHT8 d;
        memset(&d, 0, sizeof(d));
        float scale = light.intensity * 1024.0f;
        d.Diffuse = KS_Colour(light.colour[0] * scale, light.colour[1] * scale, light.colour[2] * scale, 1.0f);
        d.Specular = d.Diffuse;
        d.Position = D3DVECTOR{light.position.x, light.position.y, light.position.z};
        d.Range = light.range > 0.0f ? light.range : 0.0f;
        d.Attenuation0 = 1.0f;
        d.Attenuation1 = light.range > 0.0f ? 2.0f / light.range : 0.0f;   // half strength at half range
        if (light.type == KS_LIGHT_POINT) {
            d.Type = D3DLIGHT_POINT;
        } else if (light.type == KS_LIGHT_SPOT) {
            d.Type = D3DLIGHT_SPOT;
            d.Direction = D3DVECTOR{light.target.x - light.position.x, light.target.y - light.position.y,
                                    light.target.z - light.position.z};
            d.Falloff = 1.0f;
            float outer = light.outerAngle > 3.1415926f ? 3.1415926f : light.outerAngle > 0.0f ? light.outerAngle : 0.0f;
            float inner = light.innerAngle > outer ? outer : light.innerAngle > 0.0f ? light.innerAngle : 0.0f;
            d.Theta = inner;
            d.Phi = outer;
        } else {
            d.Type = D3DLIGHT_DIRECTIONAL;
            d.Direction = D3DVECTOR{origin.x - light.position.x, origin.y - light.position.y,
                                    origin.z - light.position.z};
        }
        if (d.Type != D3DLIGHT_POINT && d.Direction.x == 0.0f && d.Direction.y == 0.0f && d.Direction.z == 0.0f)
            continue;                    // a light standing on the segment's origin has no direction
        if (FAILED(device->SetLight((DWORD)used, &d)) || FAILED(device->LightEnable((DWORD)used, TRUE)))
            continue;
        used++;
    }
    for (int32_t i = used; i < ksDeviceLights; i++)
        device->LightEnable((DWORD)i, FALSE);
    ksDeviceLights = used;
    auto byte = [](float c) { return (DWORD)(c <= 0.0f ? 0 : c >= 255.0f ? 255 : (int)(c + 0.5f)); };
    device->SetRenderState(D3DRS_AMBIENT, 0xFF000000u | byte(ksGlobal.ambient[0]) << 16 |
                                              byte(ksGlobal.ambient[1]) << 8 | byte(ksGlobal.ambient[2]));
}

// 1 when a row of the 3 x 3 part is not of unit length within 1e-6: scaled normals then need
// the device's renormalisation.
static int32_t KS_NeedsNormalise(const KSMatrix* m)
{
    for (int row = 0; row < 3; row++) {
        const float* r = &m->m[row * 4];
        double length = sqrt((double)r[0] * r[0] + (double)r[1] * r[1] + (double)r[2] * r[2]);
        if (fabs(length - 1.0) > 1e-6)
            return 1;
    }
    return 0;
}

static void KS_SetBufferMaterial(const KSMaterial* material)
{
    D3DMATERIAL8 m;
    memset(&m, 0, sizeof(m));
    m.Diffuse = KS_Colour(material->red / 255.0f, material->green / 255.0f, material->blue / 255.0f,
                          material->alpha / 255.0f);
    m.Ambient = KS_Colour(1.0f, 1.0f, 1.0f, 1.0f);
    m.Specular = KS_Colour(material->specular[0] / 255.0f, material->specular[1] / 255.0f,
                           material->specular[2] / 255.0f, 1.0f);
    m.Power = material->specular[4];
    ksGlobal.device->SetMaterial(&m);
    ksGlobal.device->SetRenderState(D3DRS_SPECULARENABLE, m.Power != 0.0f ? TRUE : FALSE);
}

// The render method's own device states for a group (its first pass; no vertex colours, the
// device lights the buffers).
static void KS_SetupBufferMethod(KSMaterial* material, int32_t index)
{
    if (material->method < 0 || material->method >= KS_METHOD_TABLE_SIZE)
        return;
    KSDrawState& d = ksDraw;
    d.material = material;
    d.materialIndex = index;
    d.face = nullptr;
    d.pass = 1;
    d.passes = 1;
    d.extraTexture = 0;
    d.wantStates = 1;
    d.wantColours = 0;
    KS_RunProcedure(ksRenderMethods[material->method].procedure);
}

// A group's shaders (a shader with handle 0 counts as none): the pixel shader with its constants,
// else no pixel shader and the render method's own states; the vertex shader's constants. Returns
// the vertex shader to draw with, 0 for the fixed pipeline.
static DWORD KS_BindShaders(KSMaterial* material, int32_t index)
{
    IDirect3DDevice8* device = ksGlobal.device;
    const KSPixelShader* pixel =
        material->pixelShader && material->pixelShader->handle ? material->pixelShader : nullptr;
    const KSVertexShader* vertex =
        material->vertexShader && material->vertexShader->handle ? material->vertexShader : nullptr;
    ksDraw.material = material;   // the material the constant bindings read
    if (pixel) {
        device->SetPixelShader(pixel->handle);
        for (int32_t i = 0; i < pixel->constantCount; i++)
            KS_SetPixelShaderConstants(pixel, i);
    } else {
        device->SetPixelShader(0);
        KS_SetupBufferMethod(material, index);
    }
    if (!vertex)
        return 0;
    for (int32_t i = 0; i < vertex->constantCount; i++)
        KS_SetVertexShaderConstants(vertex, i);
    return vertex->handle;
}

// Draws one buffer through the vertex shader `shader`, or (0) through the fixed pipeline with the
// buffer's own format.
static void KS_DrawBufferList(const KSBufferList* list, DWORD shader, IDirect3DIndexBuffer8* own,
                              int32_t ownTriangles)
{
    IDirect3DDevice8* device = ksGlobal.device;
    // Declaration layouts are drawn only through a vertex shader.
    if (((list->format & KS_FVF_DECLARATION) && !shader) || !list->vertexBuffer || !list->indexBuffer)
        return;
    int32_t triangles = own ? ownTriangles : list->indexCount / 3;
    if (triangles <= 0)
        return;
    device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING,
                           (list->software || !ksGlobal.caps.hardwareTnL) ? TRUE : FALSE);
    device->SetVertexShader(shader ? shader : list->format);
    device->SetStreamSource(0, list->vertexBuffer, (UINT)list->stride);
    device->SetIndices(own ? own : list->indexBuffer, 0);
    HRESULT result = device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, (UINT)list->vertexCount, 0,
                                                  (UINT)triangles);
    if (FAILED(result))
        KS_LOG_D3D_FAILURE(result);
}

void KS_DrawObjectBuffers(KSEntity* entity)
{
    IDirect3DDevice8* device = ksGlobal.device;
    if (!entity || !device || (entity->flags & KS_ENT_NOT_DRAWN))
        return;
    KSObject* object = entity->object;
    if (!object || !object->bufferGroups || !object->segments)
        return;
    KSEntityBuffers* own = entity->buffers;
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    // These states belong to the render procedures too: a cached procedure must set its own again.
    ksGlobal.cachedMethod = -1;
    ksGlobal.cachedMaterial = nullptr;
    int32_t k = 0;
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KSSegment* segment = &object->segments[i];
        KSBufferGroup* group = &object->bufferGroups[i];
        bool visible = (segment->flags & KS_SEG_VISIBLE) != 0;
        if (visible) {
            KS_SetBufferLights(segment);
            device->SetTransform(D3DTS_WORLD, (const D3DMATRIX*)segment->world.m);
            device->SetRenderState(D3DRS_NORMALIZENORMALS, KS_NeedsNormalise(&segment->world) ? TRUE : FALSE);
        }
        for (int32_t g = 0; g < group->groupCount; g++) {
            KSMaterial* material = visible ? KS_GetMaterial(group->groups[g].material) : nullptr;
            if (material)
                KS_SetBufferMaterial(material);
            bool drawn = material && material->method != NULL_TYPE;
            DWORD vertexShader = drawn ? KS_BindShaders(material, group->groups[g].material) : 0;
            for (KSBufferList* list = group->groups[g].first; list; list = list->next, k++)
                if (drawn)
                    KS_DrawBufferList(list, vertexShader, own ? own->indexBuffers[k] : nullptr,
                                      own ? own->triangles[k] : 0);
            if (drawn && material->method == KS_METHOD_LIGHTMAP_ADD) {
                device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
                if (ksFog.enabled && (ksGlobal.caps.FogTable || ksGlobal.caps.FogVertex))
                    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
            }
        }
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // The pipeline draws after this with its own formats and no pixel shader.
    device->SetPixelShader(0);
    ksGlobal.cachedFormat = 0;
    // The device holds a reference to what is bound: unbind, so freeing an object frees its buffers.
    device->SetStreamSource(0, nullptr, 0);
    device->SetIndices(nullptr, 0);
}

void KS_PrepareVertexBuffers(void)
{
    IDirect3DDevice8* device = ksGlobal.device;
    ksDeviceLights = 0;                  // a new or reset device has no lights enabled
    if (!device)
        return;
    // Lit buffer vertices take their colours from the material set for each group.
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL);
}
