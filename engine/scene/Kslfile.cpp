// Object file loader: walks the chunk tree of a KSO file that the file layer read into memory.
//
// Every read is bounded by the chunk it belongs to, every count by the bytes its chunk holds, and
// every index and link by the array it names. A file that breaks a rule is refused: the loader
// gives back what the load made (object, cameras, materials, textures) and returns null. Only a
// chunk of length 0 is the fatal "Error in file format", after the same clean-up.
#define KS_MODULE "Kslfile"
#include "kestra.h"

#include <string.h>

int32_t ksRescaleLayers = 0;

// Loader tables, reset at the start of every load: file texture number to texture handle, file
// material number to material index, the four texture byte lists, the materials read so far.
static int32_t ksoTextureMap[KSO_MAX_TEXTURES];
static int32_t ksoMaterialMap[KSO_MAX_MATERIALS];
static uint8_t ksoTextureBytes[4][KSO_MAX_TEXTURES];
static int32_t ksoMaterialCount;

enum { KSO_LOADING = 0, KSO_REFUSED, KSO_ZERO_LENGTH };

// Segment chunks that allocate may appear once per segment.
enum {
    KSO_SEEN_VERTICES = 0x01,
    KSO_SEEN_FACES = 0x02,
    KSO_SEEN_BUFFERS = 0x04,
    KSO_SEEN_DETAIL = 0x08,
    KSO_SEEN_ROTATION = 0x10,
    KSO_SEEN_POSITION = 0x20,
    KSO_SEEN_SCALE = 0x40,
    KSO_SEEN_LAYERS = 0x80
};

// A shader as the file gives it; the file's shaders join the engine's lists once the whole file
// is read, so a refused file registers none.
struct KSFileShader {
    uint16_t list;                // KSO_VERTEX_SHADERS, KSO_DECLARED_SHADERS or KSO_PIXEL_SHADERS
    char name[KS_SHADER_NAME_SIZE];
    uint32_t type;                // declaration type (vertex) or shader type (pixel)
    char* source;                 // sourceLength bytes as read plus a terminating zero
    int32_t sourceLength;
    char* formatText;             // KSO_DECLARED_SHADERS only (else null), terminated
    int32_t formatTextLength;
    char* declarationText;        // the same
    int32_t declarationTextLength;
    int32_t constantCount;
    KSShaderConstant* constants;
    KSFileShader* next;
};

struct KSLoad {
    KSFile* file;
    const char* fileName;
    int32_t flags;
    int32_t status;
    KSObject* object;
    KSFileShader* shaders;             // the file's shaders in file order (owned until registered)
    KSFileShader** shaderTail;         // where the next one is linked
    int32_t largestFrame;              // largest key frame number met, -1 = none
    int32_t hadBuffers;                // the file brought prebuilt buffers
    KSMaterial work;                   // the working material, inherited from one to the next
    int32_t camerasBefore;             // length of the camera list before the load
    int32_t addedMaterials[KSO_MAX_MATERIALS];
    int32_t addedMaterialCount;
    int32_t addedTextures[KSO_MAX_TEXTURES];
    int32_t addedTextureCount;
    KSSegment* segment;                // segment being filled, null before the first KSO_SEGMENT
    int32_t nextSegment;
    uint32_t seen;                     // KSO_SEEN_* of the current segment
};

static void KS_Refuse(KSLoad* load, const char* why)
{
    if (load->status)
        return;
    load->status = KSO_REFUSED;
    if (verbose)
        KS_Log("LoadKSO %s: %s", load->fileName, why);
}

// ---------------------------------------------------------------------------------- Reading

static uint16_t KS_LE16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static uint32_t KS_LE32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static float KS_LEFloat(const uint8_t* p)
{
    uint32_t bits = KS_LE32(p);
    float f;
    memcpy(&f, &bits, sizeof(f));
    return f;
}

static int64_t KS_Left(KSLoad* load, int32_t end) { return (int64_t)end - KS_TellFile(load->file); }

// Reads n bytes of the chunk that ends at `end`; a read past it refuses the file.
static int KS_Take(KSLoad* load, void* out, int64_t n, int32_t end)
{
    if (load->status)
        return 0;
    if (n < 0 || n > KS_Left(load, end)) {
        KS_Refuse(load, "a record runs past the end of its chunk");
        return 0;
    }
    if (n > 0 && KS_ReadFile(out, 1, (int32_t)n, load->file) != (int32_t)n) {
        KS_Refuse(load, "a short read");
        return 0;
    }
    return 1;
}

static uint8_t KS_TakeU8(KSLoad* load, int32_t end)
{
    uint8_t b = 0;
    KS_Take(load, &b, 1, end);
    return b;
}

static uint16_t KS_TakeU16(KSLoad* load, int32_t end)
{
    uint8_t b[2] = {0, 0};
    KS_Take(load, b, 2, end);
    return KS_LE16(b);
}

static uint32_t KS_TakeU32(KSLoad* load, int32_t end)
{
    uint8_t b[4] = {0, 0, 0, 0};
    KS_Take(load, b, 4, end);
    return KS_LE32(b);
}

static float KS_TakeFloat(KSLoad* load, int32_t end)
{
    uint8_t b[4] = {0, 0, 0, 0};
    KS_Take(load, b, 4, end);
    return KS_LEFloat(b);
}

static void KS_TakeFloats(KSLoad* load, float* out, int32_t count, int32_t end)
{
    for (int32_t i = 0; i < count; i++)
        out[i] = KS_TakeFloat(load, end);
}

// A name: bytes up to and including the terminator, at most KSO_NAME_LIMIT of them.
static int KS_TakeName(KSLoad* load, char* out, int32_t end)
{
    for (int i = 0; i < KSO_NAME_LIMIT; i++) {
        out[i] = (char)KS_TakeU8(load, end);
        if (load->status)
            return 0;
        if (out[i] == 0)
            return 1;
    }
    KS_Refuse(load, "a name without its terminator");
    return 0;
}

// A u32 count of records of `recordBytes` each that must fit in the rest of the chunk (after
// `trailing` further bytes of the chunk's own).
static int32_t KS_TakeCount(KSLoad* load, int64_t recordBytes, int64_t trailing, int32_t end)
{
    uint32_t n = KS_TakeU32(load, end);
    if (load->status)
        return 0;
    if ((int64_t)n * recordBytes + trailing > KS_Left(load, end)) {
        KS_Refuse(load, "a count larger than its chunk holds");
        return 0;
    }
    return (int32_t)n;
}

// A zeroed tracked array of count elements; null for count 0. Refuses the file when the size does
// not fit an allocation or memory runs out.
static void* KS_NewArray(KSLoad* load, int64_t count, size_t size)
{
    if (load->status || count <= 0)
        return nullptr;
    if (count > (int64_t)(INT32_MAX / size)) {
        KS_Refuse(load, "an array too large to allocate");
        return nullptr;
    }
    void* p = KS_ALLOC((size_t)count * size);
    if (!p)
        KS_Refuse(load, "out of memory");
    return p;
}

static char* KS_CopyName(KSLoad* load, const char* name)
{
    size_t n = strlen(name) + 1;
    char* copy = (char*)KS_NewArray(load, (int64_t)n, 1);
    if (copy)
        memcpy(copy, name, n);
    return copy;
}

// 244 bytes of bounds as 61 floats over the record.
static void KS_TakeBounds(KSLoad* load, KSBounds* bounds, int32_t end)
{
    float values[KSO_BOUNDS_BLOCK / 4];
    KS_TakeFloats(load, values, KSO_BOUNDS_BLOCK / 4, end);
    if (!load->status)
        memcpy(bounds, values, sizeof(values));
}

// ---------------------------------------------------------------------------------- Chunk walk

typedef void (*KSChunkHandler)(KSLoad* load, uint16_t id, int32_t end);

// Walks the chunks from `from` up to the parent's end (and the file's end), handing each to
// `handle` with the file positioned at its payload.
static void KS_WalkChunks(KSLoad* load, int32_t from, int64_t parentEnd, KSChunkHandler handle)
{
    int32_t fileSize = load->file->size;
    int64_t position = from;
    while (!load->status) {
        int64_t limit = parentEnd < fileSize ? parentEnd : fileSize;
        if (position + KSO_CHUNK_HEADER > limit)
            return;
        KS_SeekFile(load->file, (int32_t)position, KS_SEEK_SET);
        uint16_t id = KS_TakeU16(load, fileSize);
        uint32_t length = KS_TakeU32(load, fileSize);
        if (load->status)
            return;
        if (length == 0) {
            load->status = KSO_ZERO_LENGTH;
            return;
        }
        int64_t end = position + length;
        if (end > parentEnd)
            return;   // a chunk that claims to end beyond its parent ends the walk of this level
        if (length < KSO_CHUNK_HEADER) {
            KS_Refuse(load, "a chunk shorter than its header");
            return;
        }
        if (end > fileSize) {
            KS_Refuse(load, "a chunk runs past the end of the file");
            return;
        }
        handle(load, id, (int32_t)end);
        position = end;
    }
}

// ---------------------------------------------------------------------------------- Textures

static void KS_ReadTextureBytes(KSLoad* load, int list, int32_t end)
{
    uint16_t n = KS_TakeU16(load, end);
    if (n > KSO_MAX_TEXTURES) {
        KS_Refuse(load, "a texture byte list longer than 256");
        return;
    }
    KS_Take(load, ksoTextureBytes[list], n, end);
}

static void KS_ReadTextures(KSLoad* load, int32_t end)
{
    uint16_t n = KS_TakeU16(load, end);
    if (n > KSO_MAX_TEXTURES) {
        KS_Refuse(load, "more than 256 textures");
        return;
    }
    for (int32_t i = 0; i < n && !load->status; i++) {
        char name[KSO_NAME_LIMIT];
        if (!KS_TakeName(load, name, end))
            return;
        if (ksoTextureBytes[0][i])
            ksoTextureBytes[2][i] = 1;
        KS_SetTextureFormat(ksoTextureBytes[2][i]);
        KS_SetTextureStage(ksoTextureBytes[1][i]);
        int32_t existing = KS_FindTexture(name);
        int32_t handle = ksProcTable.LoadTexture ? KSGFX_LoadTexture(name) : KSERR_TEXTURE_NOT_FOUND;
        ksoTextureMap[i] = handle;
        if (handle >= 0 && ksTextures && handle < ksTextureCount) {
            ksTextures[handle].libraryFlags = ksoTextureBytes[0][i];
            ksTextures[handle].libraryByte = ksoTextureBytes[3][i];
            if (existing < 0)
                load->addedTextures[load->addedTextureCount++] = handle;
        } else if (handle < 0 && (ksErrorLogFlags & KS_ERRLOG_LIBRARY_TEXTURES)) {
            KS_ReportError(handle, name);
        }
    }
}

// The texture entry of `stage` of material `index` when that entry is in use, else null.
static const KSTexture* KS_StageTexture(int32_t index, int stage)
{
    const KSMaterial* m = KS_GetMaterial(index);
    if (!m || !ksTextures)
        return nullptr;
    int32_t t = m->textures[stage];
    if (t < 0 || t >= ksTextureCount || !ksTextures[t].name)
        return nullptr;
    return &ksTextures[t];
}

// Coordinates of a face corner triple: 255 times the texture's scale, or 255 without a texture.
static void KS_ScaleCoordinates(float* u, float* v, const KSTexture* texture)
{
    float su = texture ? 255.0f * texture->uScale : 255.0f;
    float sv = texture ? 255.0f * texture->vScale : 255.0f;
    for (int c = 0; c < 3; c++) {
        u[c] *= su;
        v[c] *= sv;
    }
}

// ---------------------------------------------------------------------------------- Materials

static void KS_RegisterMaterial(KSLoad* load)
{
    if (ksoMaterialCount >= KSO_MAX_MATERIALS) {
        KS_Refuse(load, "more than 512 materials");
        return;
    }
    // An empty name marks a free slot of the material table, so a nameless material cannot be kept.
    if (load->work.name[0] == 0) {
        KS_Refuse(load, "a material without a name");
        return;
    }
    int32_t index = KS_FindMaterial(load->work.name);
    if (index < 0) {
        // Translate a copy: the working record keeps the file's numbers for the next material to
        // inherit.
        KSMaterial record = load->work;
        for (int s = 0; s < 8; s++) {
            int32_t t = record.textures[s];
            if (t < 0 || t >= KSO_MAX_TEXTURES) {
                KS_Refuse(load, "a material texture beyond 256");
                return;
            }
            record.textures[s] = ksoTextureMap[t];
        }
        index = KS_AddMaterial(&record);
        if (index < 0) {
            KS_Refuse(load, "the material table cannot grow");
            return;
        }
        load->addedMaterials[load->addedMaterialCount++] = index;
    }
    ksoMaterialMap[ksoMaterialCount++] = index;
}

// Shader names are kept to 31 characters.
static void KS_CopyShaderName(char* out, const char* name)
{
    size_t n = strlen(name);
    if (n > 31)
        n = 31;
    memcpy(out, name, n);
    out[n] = 0;
}

static void KS_MaterialChunk(KSLoad* load, uint16_t id, int32_t end)
{
    KSMaterial* m = &load->work;
    char name[KSO_NAME_LIMIT];
    switch (id) {
    case KSO_MATERIAL_NAME:
        if (KS_TakeName(load, name, end)) {
            KS_SetMaterialName(m, name);
            m->doubleSided = 0;
        }
        break;
    case KSO_MATERIAL_METHOD: m->method = (int32_t)KS_TakeU32(load, end); break;
    case KSO_MATERIAL_TEXTURE: m->textures[0] = (int32_t)KS_TakeU32(load, end); break;
    case KSO_MATERIAL_TEXTURES:
        for (int s = 1; s < 8; s++)
            m->textures[s] = (int32_t)KS_TakeU32(load, end);
        break;
    case KSO_MATERIAL_OPTIONS: m->options = KS_TakeU8(load, end); break;
    case KSO_MATERIAL_OPTION_VALUE: m->optionValue = (int32_t)KS_TakeU32(load, end); break;
    case KSO_MATERIAL_ENVMAP:
        m->envMap[0] = KS_TakeU8(load, end);
        m->envAxis[0] = KS_TakeU8(load, end);
        break;
    case KSO_MATERIAL_ENVMAPS:
        for (int s = 1; s < 8; s++) {
            m->envMap[s] = KS_TakeU8(load, end);
            m->envAxis[s] = KS_TakeU8(load, end);
        }
        break;
    case KSO_MATERIAL_COLOUR: {
        float c[4];
        KS_TakeFloats(load, c, 4, end);
        m->red = c[0];
        m->green = c[1];
        m->blue = c[2];
        m->alpha = c[3];
        break;
    }
    case KSO_MATERIAL_TEXSETS: m->texSets = (uint8_t)KS_TakeU32(load, end); break;
    case KSO_MATERIAL_BUMP:
        m->bumpScale = KS_TakeFloat(load, end);
        KS_TakeFloats(load, m->bumpMatrix, 4, end);
        break;
    case KSO_MATERIAL_SPECULAR: KS_TakeFloats(load, m->specular, 5, end); break;
    case KSO_MATERIAL_DOUBLE_SIDED: m->doubleSided = KS_TakeU8(load, end); break;
    case KSO_MATERIAL_VERTEX_SHADER:
        if (KS_TakeName(load, name, end))
            KS_CopyShaderName(m->vertexShaderName, name);
        break;
    case KSO_MATERIAL_PIXEL_SHADER:
        if (KS_TakeName(load, name, end))
            KS_CopyShaderName(m->pixelShaderName, name);
        break;
    case KSO_MATERIAL_END: KS_RegisterMaterial(load); break;
    default: break;   // 0x2106, 0x2108 and unknown chunks are skipped
    }
}

// ---------------------------------------------------------------------------------- Segments

static void KS_ReadVertices(KSLoad* load, KSSegment* s, int32_t end)
{
    int32_t n = KS_TakeCount(load, KSO_VERTEX_RECORD, 0, end);
    if (load->status)
        return;
    if (!KS_AllocSegmentVertices(s, n)) {
        KS_Refuse(load, "out of memory for vertices");
        return;
    }
    for (int32_t i = 0; i < n && !load->status; i++) {
        uint8_t r[KSO_VERTEX_RECORD];
        if (!KS_Take(load, r, sizeof(r), end))
            return;
        KSVertex* v = &s->vertices[i];
        v->position = KSVector{KS_LEFloat(r), KS_LEFloat(r + 4), KS_LEFloat(r + 8)};
        v->normal = KSPackedNormal{(int16_t)KS_LE16(r + 12), (int16_t)KS_LE16(r + 14), (int16_t)KS_LE16(r + 16)};
    }
}

static void KS_ReadFaces(KSLoad* load, KSSegment* s, int32_t end)
{
    int32_t n = KS_TakeCount(load, KSO_FACE_RECORD, 0, end);
    s->faces = (KSFace*)KS_NewArray(load, n, sizeof(KSFace));
    if (load->status)
        return;
    s->faceCount = n;
    for (int32_t i = 0; i < n; i++) {
        uint8_t r[KSO_FACE_RECORD];
        if (!KS_Take(load, r, sizeof(r), end))
            return;
        KSFace* f = &s->faces[i];
        f->material = KS_LE16(r);
        f->material2 = KS_LE16(r + 2);
        for (int c = 0; c < 3; c++) {
            uint32_t vertex = KS_LE32(r + 4 + 4 * c);
            if (vertex >= (uint32_t)s->vertexCount) {
                KS_Refuse(load, "a face corner beyond the vertex count");
                return;
            }
            f->fileVertices[c] = (int32_t)vertex;
            f->corners[c] = &s->vertices[vertex];
            f->u[c] = KS_LEFloat(r + 16 + 4 * c);
            f->v[c] = KS_LEFloat(r + 28 + 4 * c);
            f->cornerValues[c] = KS_LE32(r + 40 + 4 * c);
        }
        f->normal = KSPackedNormal{(int16_t)KS_LE16(r + 52), (int16_t)KS_LE16(r + 54), (int16_t)KS_LE16(r + 56)};
        f->flags = r[58];
        f->value = KS_LE16(r + 59);
    }
    for (int32_t i = 0; i < n; i++) {
        KSFace* f = &s->faces[i];
        if (ksoMaterialCount > 0) {
            f->material = f->material < KSO_MAX_MATERIALS ? (uint16_t)ksoMaterialMap[f->material] : 0;
            f->material2 = f->material2 < KSO_MAX_MATERIALS ? (uint16_t)ksoMaterialMap[f->material2] : 0;
        }
        KS_ScaleCoordinates(f->u, f->v, KS_StageTexture(f->material, 0));
    }
}

// Extra layer k (0-based) holds coordinate set k + 1, which stage k + 1 of the face's material
// textures; that stage's texture scales it.
static void KS_ReadLayers(KSLoad* load, KSSegment* s, int32_t end)
{
    int32_t n = KS_TakeCount(load, (int64_t)s->faceCount * KSO_LAYER_RECORD, 0, end);
    if (load->status)
        return;
    if (n > KS_MAX_LAYERS) {
        KS_Refuse(load, "more than 7 extra layers");
        return;
    }
    for (int32_t k = 0; k < n; k++) {
        float* layer = (float*)KS_NewArray(load, (int64_t)s->faceCount * 6, sizeof(float));
        s->layers[k] = layer;
        if (load->status)
            return;
        KS_TakeFloats(load, layer, s->faceCount * 6, end);
        if (ksRescaleLayers)
            for (int32_t f = 0; f < s->faceCount; f++)
                KS_ScaleCoordinates(&layer[f * 6], &layer[f * 6 + 3],
                                    KS_StageTexture(s->faces[f].material, k + 1));
    }
    s->layerCount = n;
}

static void KS_ReadKeys(KSLoad* load, int32_t* count, KSKey** keys, int rotation, int32_t end)
{
    int32_t size = rotation ? KSO_ROTATION_KEY : KSO_POSITION_KEY;
    int32_t n = KS_TakeCount(load, size, 0, end);
    *keys = (KSKey*)KS_NewArray(load, n, sizeof(KSKey));
    if (load->status)
        return;
    *count = n;
    for (int32_t i = 0; i < n; i++) {
        uint8_t r[KSO_ROTATION_KEY];
        if (!KS_Take(load, r, size, end))
            return;
        KSKey* k = &(*keys)[i];
        k->frame = (int32_t)KS_LE32(r);
        k->flags = (uint8_t)KS_LE16(r + 4);
        k->tension = KS_LEFloat(r + 6);
        k->continuity = KS_LEFloat(r + 10);
        k->bias = KS_LEFloat(r + 14);
        k->parameters[0] = KS_LEFloat(r + 18);
        k->parameters[1] = KS_LEFloat(r + 22);
        int values = rotation ? 4 : 3;
        for (int j = 0; j < values; j++)
            k->value[j] = KS_LEFloat(r + 26 + 4 * j);
        memcpy(k->block, r + 26 + 4 * values, sizeof(k->block));
        if (rotation)
            k->absolute = KSQuat{KS_LEFloat(r + 106), KS_LEFloat(r + 110), KS_LEFloat(r + 114), KS_LEFloat(r + 118)};
        if (k->frame > load->largestFrame)
            load->largestFrame = k->frame;
    }
}

static void KS_ReadLinks(KSLoad* load, KSSegment* s, int32_t end)
{
    KSSegment** links[3] = {&s->firstChild, &s->nextSibling, &s->parent};
    for (int j = 0; j < 3; j++) {
        int32_t number = (int32_t)KS_TakeU32(load, end);
        if (load->status)
            return;
        if (number == -1) {
            *links[j] = nullptr;
        } else if (number < 0 || number >= load->object->segmentCount) {
            KS_Refuse(load, "a link beyond the segment count");
            return;
        } else {
            *links[j] = &load->object->segments[number];
        }
    }
}

static void KS_ReadDetail(KSLoad* load, KSSegment* s, int32_t end)
{
    int32_t n = KS_TakeCount(load, 8, 4, end);
    s->lodRemap = (int32_t*)KS_NewArray(load, n, sizeof(int32_t));
    s->lodWeights = (int32_t*)KS_NewArray(load, n, sizeof(int32_t));
    if (load->status)
        return;
    for (int32_t i = 0; i < n; i++)
        s->lodRemap[i] = (int32_t)KS_TakeU32(load, end);
    for (int32_t i = 0; i < n; i++)
        s->lodWeights[i] = (int32_t)KS_TakeU32(load, end);
    s->lodValue = (int32_t)KS_TakeU32(load, end);
    s->lodCount = n;
}

// One prebuilt buffer: counts, format, the vertex map of mapped chunks, the vertices and the
// indices, made into a vertex and an index buffer on the device.
static KSBufferList* KS_ReadBuffer(KSLoad* load, KSSegment* s, int mapped, int32_t software, int32_t offset,
                                   int32_t end)
{
    uint32_t vertices = KS_TakeU32(load, end);
    uint32_t indices = KS_TakeU32(load, end);
    uint32_t format = KS_TakeU32(load, end);
    uint32_t stride = KS_TakeU32(load, end);
    if (load->status)
        return nullptr;
    if (vertices == 0 || vertices > KS_BUFFER_VERTEX_LIMIT || stride == 0 || stride > 1024 || indices == 0 ||
        indices % 3 != 0 ||
        (int64_t)vertices * ((mapped ? 4 : 0) + (int64_t)stride) + (int64_t)indices * 2 > KS_Left(load, end)) {
        KS_Refuse(load, "a buffer that is empty or larger than its chunk holds");
        return nullptr;
    }
    KSBufferList* list = (KSBufferList*)KS_NewArray(load, 1, sizeof(KSBufferList));
    if (!list)
        return nullptr;
    list->vertexCount = (int32_t)vertices;
    list->indexCount = (int32_t)indices;
    list->format = format;
    list->stride = (int32_t)stride;
    list->software = software;
    list->indexOffset = offset;
    if (mapped) {
        list->vertexMap = (int32_t*)KS_NewArray(load, vertices, sizeof(int32_t));
        for (uint32_t i = 0; i < vertices && !load->status; i++)
            list->vertexMap[i] = (int32_t)KS_TakeU32(load, end);
    }
    uint8_t* data = (uint8_t*)KS_NewArray(load, (int64_t)vertices * stride, 1);
    list->indices = (uint16_t*)KS_NewArray(load, indices, sizeof(uint16_t));
    KS_Take(load, data, (int64_t)vertices * stride, end);
    for (uint32_t i = 0; i < indices && !load->status; i++) {
        list->indices[i] = KS_TakeU16(load, end);
        if (list->indices[i] >= vertices)
            KS_Refuse(load, "a buffer index beyond its vertices");
    }
    if (!load->status) {
        list->vertexBuffer = MakeVertexBuffer(format, (int32_t)stride, (int32_t)vertices, software);
        list->indexBuffer = MakeIndexBuffer((int32_t)indices, software);
        if (!list->vertexBuffer || !list->indexBuffer)
            KS_Refuse(load, "no device for the file's buffers");
    }
    if (!load->status) {
        memcpy(KS_LockVertexBuffer(list->vertexBuffer, list->vertexCount * list->stride), data,
               (size_t)vertices * stride);
        KS_UnlockVertexBuffer(list->vertexBuffer);
        memcpy(KS_LockIndexBuffer(list->indexBuffer, list->indexCount * 2), list->indices, (size_t)indices * 2);
        KS_UnlockIndexBuffer(list->indexBuffer);
        // The layers cover the coordinate sets of the buffer's format beyond the first.
        int32_t sets = (int32_t)((format >> 8) & 0xF);
        if (sets > 8)
            sets = 8;
        if (sets - 1 > s->layerCount)
            s->layerCount = sets - 1;
    }
    if (data)
        KS_FREE(data);
    return list;
}

// Prebuilt buffer groups of a segment (chunks 0x1050 and 0x1051).
static void KS_ReadBuffers(KSLoad* load, KSSegment* s, int mapped, int32_t end)
{
    KSObject* object = load->object;
    if (!object->bufferGroups)
        object->bufferGroups = (KSBufferGroup*)KS_NewArray(load, object->segmentCount, sizeof(KSBufferGroup));
    if (load->status)
        return;
    KSBufferGroup* group = &object->bufferGroups[s->index];
    int32_t k = KS_TakeCount(load, 8, mapped ? 4 : 0, end);
    group->collapseA = (int32_t*)KS_NewArray(load, k, sizeof(int32_t));
    group->collapseB = (int32_t*)KS_NewArray(load, k, sizeof(int32_t));
    if (load->status)
        return;
    group->collapseCount = k;
    for (int32_t i = 0; i < k; i++)
        group->collapseA[i] = (int32_t)KS_TakeU32(load, end);
    for (int32_t i = 0; i < k; i++)
        group->collapseB[i] = (int32_t)KS_TakeU32(load, end);
    if (mapped)
        group->detailSwitch = (uint8_t)KS_TakeU32(load, end);
    int32_t groups = KS_TakeCount(load, 8, 0, end);
    group->groups = (KSMaterialGroup*)KS_NewArray(load, groups, sizeof(KSMaterialGroup));
    if (load->status)
        return;
    group->groupCount = groups;
    int32_t software = 0;
    for (int32_t g = 0; g < groups && !load->status; g++) {
        uint32_t material = KS_TakeU32(load, end);
        if (!load->status && material >= KSO_MAX_MATERIALS) {
            KS_Refuse(load, "a buffer group material beyond 512");
            return;
        }
        KSMaterialGroup* entry = &group->groups[g];
        entry->material = ksoMaterialMap[material];
        // From a group whose material has a vertex shader the device cannot run, the segment's
        // remaining buffers are processed in software.
        const KSMaterial* m = KS_GetMaterial(entry->material);
        if (m && m->vertexShaderName[0] && ksGlobal.caps.vertexShaderVersion < KS_VERTEX_SHADER_1_0)
            software = 1;
        int32_t buffers = KS_TakeCount(load, 16, 0, end);
        KSBufferList** tail = &entry->first;
        for (int32_t b = 0; b < buffers && !load->status; b++) {
            KSBufferList* list = KS_ReadBuffer(load, s, mapped, software, group->totalVertices, end);
            if (!list)
                return;
            *tail = list;   // linked before any refusal below it, so it is freed with the object
            tail = &list->next;
            group->totalVertices += list->vertexCount;
            group->totalTriangles += list->indexCount / 3;
        }
    }
    load->hadBuffers = 1;
}

// Which segment chunks are handled, and which of them may appear only once per segment.
static int KS_SegmentChunkKnown(uint16_t id, uint32_t* once)
{
    *once = 0;
    switch (id) {
    case KSO_VERTICES: *once = KSO_SEEN_VERTICES; return 1;
    case KSO_FACES: *once = KSO_SEEN_FACES; return 1;
    case KSO_BUFFERS:
    case KSO_MAPPED_BUFFERS: *once = KSO_SEEN_BUFFERS; return 1;
    case KSO_DETAIL: *once = KSO_SEEN_DETAIL; return 1;
    case KSO_ROTATION_KEYS: *once = KSO_SEEN_ROTATION; return 1;
    case KSO_POSITION_KEYS: *once = KSO_SEEN_POSITION; return 1;
    case KSO_SCALE_KEYS: *once = KSO_SEEN_SCALE; return 1;
    case KSO_LAYERS: *once = KSO_SEEN_LAYERS; return 1;
    case KSO_SEGMENT_FLAGS:
    case KSO_SEGMENT_BOUNDS:
    case KSO_PIVOT:
    case KSO_BASE_MATRIX:
    case KSO_LINKS: return 1;
    default: return 0;
    }
}

static void KS_SegmentChunk(KSLoad* load, uint16_t id, int32_t end)
{
    KSObject* object = load->object;
    if (id == KSO_SEGMENT) {
        if (load->nextSegment >= object->segmentCount) {
            KS_Refuse(load, "more segments than announced");
            return;
        }
        KSSegment* s = &object->segments[load->nextSegment++];
        load->segment = s;
        load->seen = 0;
        char name[KSO_NAME_LIMIT];
        if (KS_TakeName(load, name, end))
            s->name = KS_CopyName(load, name);
        s->layerCount = 0;
        return;
    }
    uint32_t once;
    if (!KS_SegmentChunkKnown(id, &once))
        return;
    KSSegment* s = load->segment;
    if (!s) {
        KS_Refuse(load, "a segment chunk before the first segment");
        return;
    }
    if (load->seen & once) {
        KS_Refuse(load, "a repeated chunk in one segment");
        return;
    }
    load->seen |= once;
    switch (id) {
    case KSO_SEGMENT_FLAGS: s->flags = KS_TakeU32(load, end); break;
    case KSO_SEGMENT_BOUNDS: KS_TakeBounds(load, &s->bounds, end); break;
    case KSO_VERTICES: KS_ReadVertices(load, s, end); break;   // once, so always before the faces
    case KSO_FACES:
        if (!(load->seen & KSO_SEEN_VERTICES))
            KS_Refuse(load, "faces before the vertices of their segment");
        else
            KS_ReadFaces(load, s, end);
        break;
    case KSO_LAYERS:
        if (!(load->seen & KSO_SEEN_FACES))
            KS_Refuse(load, "extra layers before the faces of their segment");
        else
            KS_ReadLayers(load, s, end);
        break;
    case KSO_BUFFERS:
    case KSO_MAPPED_BUFFERS: KS_ReadBuffers(load, s, id == KSO_MAPPED_BUFFERS, end); break;
    case KSO_DETAIL: KS_ReadDetail(load, s, end); break;
    case KSO_PIVOT: {
        float p[3];
        KS_TakeFloats(load, p, 3, end);
        s->pivot = KSVector{p[0], p[1], p[2]};
        break;
    }
    case KSO_BASE_MATRIX: KS_TakeFloats(load, s->base.m, 16, end); break;
    case KSO_ROTATION_KEYS: KS_ReadKeys(load, &s->rotationKeyCount, &s->rotationKeys, 1, end); break;
    case KSO_POSITION_KEYS: KS_ReadKeys(load, &s->positionKeyCount, &s->positionKeys, 0, end); break;
    case KSO_SCALE_KEYS: KS_ReadKeys(load, &s->scaleKeyCount, &s->scaleKeys, 0, end); break;
    case KSO_LINKS: KS_ReadLinks(load, s, end); break;
    default: break;
    }
}

// Rules between chunks of one segment, checked once the segment chunk is read: every layer in use
// exists, and the level-of-detail arrays have one entry per vertex and remap to its vertices.
static void KS_CheckSegments(KSLoad* load)
{
    KSObject* object = load->object;
    for (int32_t i = 0; i < object->segmentCount && !load->status; i++) {
        KSSegment* s = &object->segments[i];
        // A layer count raised by a buffer format gets layers (of zero coordinates) for the faces
        // too, so drawing the faces never meets a missing layer.
        for (int32_t k = 0; k < s->layerCount && s->faceCount > 0; k++)
            if (!s->layers[k])
                s->layers[k] = (float*)KS_NewArray(load, (int64_t)s->faceCount * 6, sizeof(float));
        if (!s->lodRemap)
            continue;
        if (s->lodCount != s->vertexCount) {
            KS_Refuse(load, "level-of-detail arrays that do not match the vertices");
            return;
        }
        for (int32_t v = 0; v < s->lodCount; v++)
            if (s->lodRemap[v] < 0 || s->lodRemap[v] >= s->vertexCount) {
                KS_Refuse(load, "a level-of-detail link beyond the vertex count");
                return;
            }
    }
}

static void KS_ReadSegments(KSLoad* load, int32_t end)
{
    uint32_t count = KS_TakeU32(load, end);
    if (load->status)
        return;
    if (load->object->segments) {
        KS_Refuse(load, "a second segment chunk");
        return;
    }
    // Every segment is opened by a chunk of its own: a header and at least a terminator.
    if ((int64_t)count * (KSO_CHUNK_HEADER + 1) > KS_Left(load, end)) {
        KS_Refuse(load, "more segments than the chunk can hold");
        return;
    }
    if (!KS_AllocSegments(load->object, (int32_t)count)) {
        KS_Refuse(load, "out of memory for segments");
        return;
    }
    load->segment = nullptr;
    load->nextSegment = 0;
    KS_WalkChunks(load, KS_TellFile(load->file), end, KS_SegmentChunk);
    KS_CheckSegments(load);
}

// ---------------------------------------------------------------------------------- Camera

static void KS_ReadCamera(KSLoad* load, int32_t end)
{
    KSCamera* c = KS_CreateCamera();
    if (!c) {
        KS_Refuse(load, "out of memory for a camera");
        return;
    }
    KS_InitCamera(c);
    KS_TakeU32(load, end);   // the name's place; the camera has none
    float v[17];
    KS_TakeFloats(load, v, 17, end);
    c->position = KSVector{v[0], v[1], v[2]};
    c->target = KSVector{v[3], v[4], v[5]};
    c->roll = v[6];
    c->distance = v[7];
    c->up = KSVector{v[8], v[9], v[10]};
    c->back = KSVector{v[11], v[12], v[13]};
    c->angles = KSVector{v[14], v[15], v[16]};
    c->flags = KS_TakeU8(load, end);
    uint8_t w[40];
    KS_Take(load, w, sizeof(w), end);
    c->reserved1 = (int32_t)KS_LE32(w);
    c->aspect = KS_LEFloat(w + 4);
    c->fov = KS_LEFloat(w + 8);
    c->nearDist = KS_LEFloat(w + 12);
    c->farDist = KS_LEFloat(w + 16);
    c->reserved2 = (int32_t)KS_LE32(w + 20);
    c->reserved3 = (int32_t)KS_LE32(w + 24);
    c->lastKeyFrame = (int32_t)KS_LE32(w + 28);
    uint32_t keys = KS_LE32(w + 32);   // the tenth word held the keys' address
    if (!load->status && (int64_t)keys * KSO_CAMERA_KEY > KS_Left(load, end))
        KS_Refuse(load, "more camera keys than the chunk holds");
    c->keys = (KSCameraKey*)KS_NewArray(load, keys, sizeof(KSCameraKey));
    for (uint32_t i = 0; i < keys && !load->status; i++) {
        uint8_t r[KSO_CAMERA_KEY];
        if (!KS_Take(load, r, sizeof(r), end))
            break;
        c->keys[i].frame = (int32_t)KS_LE32(r);
        c->keys[i].flags = KS_LE16(r + 4);
        for (int j = 0; j < 13; j++)
            c->keys[i].values[j] = KS_LE32(r + 6 + 4 * j);
    }
    if (load->status) {
        KS_DeleteCamera(c);
        return;
    }
    c->keyCount = (int32_t)keys;
    KS_AddCamera(c);
}

// ---------------------------------------------------------------------------------- Shaders

// A u32 length and that many bytes, kept with a terminating zero.
static char* KS_TakeText(KSLoad* load, int32_t* length, int32_t end)
{
    int32_t n = KS_TakeCount(load, 1, 0, end);
    char* text = (char*)KS_NewArray(load, (int64_t)n + 1, 1);
    if (load->status)
        return text;
    KS_Take(load, text, n, end);
    *length = n;
    return text;
}

static void KS_ReadShaders(KSLoad* load, uint16_t list, int32_t end)
{
    uint16_t count = KS_TakeU16(load, end);
    for (int32_t i = 0; i < count && !load->status; i++) {
        KSFileShader* shader = (KSFileShader*)KS_NewArray(load, 1, sizeof(KSFileShader));
        if (!shader)
            return;
        // Linked at once, so a refusal below frees it with the others.
        *load->shaderTail = shader;
        load->shaderTail = &shader->next;
        shader->list = list;
        char name[KSO_NAME_LIMIT];
        if (!KS_TakeName(load, name, end))
            return;
        KS_CopyShaderName(shader->name, name);
        shader->type = KS_TakeU32(load, end);
        shader->source = KS_TakeText(load, &shader->sourceLength, end);
        if (list == KSO_DECLARED_SHADERS) {
            shader->formatText = KS_TakeText(load, &shader->formatTextLength, end);
            shader->declarationText = KS_TakeText(load, &shader->declarationTextLength, end);
        }
        int32_t n = KS_TakeCount(load, KSO_SHADER_CONSTANT, 0, end);
        shader->constants = (KSShaderConstant*)KS_NewArray(load, n, sizeof(KSShaderConstant));
        if (load->status)
            return;
        shader->constantCount = n;
        for (int32_t c = 0; c < n; c++) {
            uint8_t r[KSO_SHADER_CONSTANT];
            if (!KS_Take(load, r, sizeof(r), end))
                return;
            KSShaderConstant* k = &shader->constants[c];
            k->reg = (int32_t)KS_LE32(r);
            k->kind = (int32_t)KS_LE32(r + 4);
            for (int j = 0; j < 4; j++)
                k->values[j] = KS_LEFloat(r + 8 + 4 * j);
        }
    }
}

static void KS_FreeFileShaders(KSFileShader* shaders)
{
    while (shaders) {
        KSFileShader* next = shaders->next;
        KS_FREE(shaders->source);
        KS_FREE(shaders->formatText);
        KS_FREE(shaders->declarationText);
        KS_FREE(shaders->constants);
        KS_FREE(shaders);
        shaders = next;
    }
}

// The file's shaders join the engine's lists in file order and are created at once; a name that
// is already there (in any case) keeps its shader and the file's is dropped.
static void KS_RegisterShaders(KSLoad* load)
{
    KSFileShader* f = load->shaders;
    load->shaders = nullptr;
    while (f) {
        KSFileShader* next = f->next;
        if (f->list == KSO_PIXEL_SHADERS) {
            KSPixelShader* p = KS_FindPixelShader(f->name) ? nullptr : KS_NewPixelShader();
            if (p) {
                memcpy(p->name, f->name, sizeof(p->name));
                p->type = f->type;
                p->source = f->source;
                p->sourceLength = f->sourceLength;
                p->constantCount = f->constantCount;
                p->constants = f->constants;
                f->source = nullptr;
                f->constants = nullptr;
                KS_CompilePixelShader(p);
            }
        } else {
            KSVertexShader* v = KS_FindVertexShader(f->name) ? nullptr : KS_NewVertexShader();
            if (v) {
                memcpy(v->name, f->name, sizeof(v->name));
                v->declarationType = f->type;
                v->source = f->source;
                v->sourceLength = f->sourceLength;
                v->formatText = f->formatText;
                v->formatTextLength = f->formatTextLength;
                v->declarationText = f->declarationText;
                v->declarationTextLength = f->declarationTextLength;
                v->constantCount = f->constantCount;
                v->constants = f->constants;
                f->source = f->formatText = f->declarationText = nullptr;
                f->constants = nullptr;
                KS_CreateVertexShaderFromTexts(v);
            }
        }
        f->next = nullptr;
        KS_FreeFileShaders(f);
        f = next;
    }
}

// Every material of the file points at the shaders it names (null for a name not in the lists).
static void KS_PointMaterialsAtShaders(void)
{
    for (int32_t i = 0; i < ksoMaterialCount; i++) {
        KSMaterial* m = KS_GetMaterial(ksoMaterialMap[i]);
        if (!m)
            continue;
        m->vertexShader = KS_FindVertexShader(m->vertexShaderName);
        m->pixelShader = KS_FindPixelShader(m->pixelShaderName);
    }
}

// ---------------------------------------------------------------------------------- Top level

static void KS_TopChunk(KSLoad* load, uint16_t id, int32_t end)
{
    char name[KSO_NAME_LIMIT];
    switch (id) {
    case KSO_NAME:
        if (KS_TakeName(load, name, end)) {
            char* copy = KS_CopyName(load, name);
            if (load->object->name)
                KS_FREE(load->object->name);
            load->object->name = copy;
        }
        break;
    case KSO_SEGMENTS: KS_ReadSegments(load, end); break;
    case KSO_TEXTURE_BYTES1:
    case KSO_TEXTURE_BYTES2:
    case KSO_TEXTURE_BYTES3:
    case KSO_TEXTURE_BYTES4:
        if (!(load->flags & KSO_SKIP_TEXTURES))
            KS_ReadTextureBytes(load, id - KSO_TEXTURE_BYTES1, end);
        break;
    case KSO_TEXTURES:
        if (!(load->flags & KSO_SKIP_TEXTURES))
            KS_ReadTextures(load, end);
        break;
    case KSO_MATERIALS:
        if (!(load->flags & KSO_SKIP_MATERIALS))
            KS_WalkChunks(load, KS_TellFile(load->file), end, KS_MaterialChunk);
        break;
    case KSO_CAMERA: KS_ReadCamera(load, end); break;
    case KSO_BOUNDS: KS_TakeBounds(load, &load->object->bounds, end); break;
    case KSO_VERTEX_SHADERS:
    case KSO_DECLARED_SHADERS:
    case KSO_PIXEL_SHADERS: KS_ReadShaders(load, id, end); break;
    default: break;   // 0x0000, 0x0101 and unknown chunks are skipped
    }
}

static int32_t KS_CameraListLength(void)
{
    int32_t n = 0;
    for (KSCamera* c = ksCameraList; c; c = c->next)
        n++;
    return n;
}

// Gives back everything a refused load made.
static void KS_UndoLoad(KSLoad* load)
{
    for (int32_t i = 0; i < load->addedMaterialCount; i++) {
        KSMaterial* m = KS_GetMaterial(load->addedMaterials[i]);
        if (m)
            m->name[0] = 0;   // a free slot again
    }
    for (int32_t i = 0; i < load->addedTextureCount; i++) {
        int32_t h = load->addedTextures[i];
        if (ksTextures && h < ksTextureCount && ksTextures[h].name) {
            char name[KSO_NAME_LIMIT];
            strncpy(name, ksTextures[h].name, sizeof(name) - 1);
            name[sizeof(name) - 1] = 0;
            KS_DeleteTexture(name);
        }
    }
    while (KS_CameraListLength() > load->camerasBefore) {
        KSCamera* last = ksCameraList;
        while (last->next)
            last = last->next;
        KS_RemoveCamera(last);
    }
    KS_FreeObject(load->object);
    load->object = nullptr;
}

KSObject* KS_LoadObject(const char* name, int32_t flags)
{
    if (!name)
        return nullptr;
    KSFile* file = KS_OpenFile(name);
    if (!file)
        return nullptr;

    memset(ksoTextureMap, 0, sizeof(ksoTextureMap));
    memset(ksoMaterialMap, 0, sizeof(ksoMaterialMap));
    memset(ksoTextureBytes, 0, sizeof(ksoTextureBytes));
    memset(ksoTextureBytes[2], 255, sizeof(ksoTextureBytes[2]));
    ksoMaterialCount = 0;

    static KSLoad load;   // large (the working material and the undo lists); loads do not nest
    memset(&load, 0, sizeof(load));
    load.file = file;
    load.fileName = name;
    load.flags = flags;
    load.largestFrame = -1;
    load.work.red = load.work.green = load.work.blue = load.work.alpha = 255.0f;
    load.work.texSets = 1;

    uint16_t id = KS_TakeU16(&load, file->size);
    uint32_t length = KS_TakeU32(&load, file->size);
    if (load.status || id != KSO_MAIN) {
        KS_CloseFile(file);
        return nullptr;
    }
    load.object = KS_CreateObject();
    if (!load.object) {
        KS_CloseFile(file);
        return nullptr;
    }
    load.shaderTail = &load.shaders;
    load.camerasBefore = KS_CameraListLength();
    if (length == 0)
        load.status = KSO_ZERO_LENGTH;
    else
        KS_WalkChunks(&load, KSO_CHUNK_HEADER, (int64_t)length, KS_TopChunk);
    KS_CloseFile(file);

    if (load.status) {
        int32_t status = load.status;
        KS_FreeFileShaders(load.shaders);
        KS_UndoLoad(&load);
        KS_LogError("Error in file format", name);
        if (status == KSO_ZERO_LENGTH)
            KS_FatalError("Error in file format", "LoadKSO");
        return nullptr;
    }

    KS_RegisterShaders(&load);
    KS_PointMaterialsAtShaders();
    KSObject* object = load.object;
    object->lastFrame = load.largestFrame;
    KS_CalcBounds(object);
    // The buffer flag says what the file's or the build's buffers hold, never what the file's
    // flags chunk claimed.
    for (int32_t i = 0; i < object->segmentCount; i++) {
        KSSegment* s = &object->segments[i];
        s->flags &= ~(uint32_t)KS_SEG_BUFFERS;
        if (ksGlobal.vertexBufferSwitch && load.hadBuffers && object->bufferGroups[i].groupCount > 0)
            s->flags |= KS_SEG_BUFFERS;
    }
    if (ksGlobal.vertexBufferSwitch && !load.hadBuffers)
        KS_BuildObjectBuffers(object);
    return object;
}
