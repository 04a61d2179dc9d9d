// KSO writer: chunk stream and whole models.
#include "kso_writer.h"

#include <stdio.h>
#include <string.h>

void KsoBegin(KsoStream& s, uint16_t id)
{
    s.open.push_back(s.bytes.size());
    KsoU16(s, id);
    KsoU32(s, 0);
}

void KsoEnd(KsoStream& s)
{
    if (s.open.empty())
        return;
    size_t start = s.open.back();
    s.open.pop_back();
    uint32_t length = (uint32_t)(s.bytes.size() - start);
    for (int i = 0; i < 4; i++)
        s.bytes[start + 2 + i] = (uint8_t)(length >> (8 * i));
}

void KsoU8(KsoStream& s, uint8_t v) { s.bytes.push_back(v); }

void KsoU16(KsoStream& s, uint16_t v)
{
    s.bytes.push_back((uint8_t)v);
    s.bytes.push_back((uint8_t)(v >> 8));
}

void KsoU32(KsoStream& s, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        s.bytes.push_back((uint8_t)(v >> (8 * i)));
}

void KsoFloat(KsoStream& s, float v)
{
    uint32_t bits;
    memcpy(&bits, &v, sizeof(bits));
    KsoU32(s, bits);
}

void KsoFloats(KsoStream& s, const float* v, size_t count)
{
    for (size_t i = 0; i < count; i++)
        KsoFloat(s, v[i]);
}

void KsoString(KsoStream& s, const std::string& text)
{
    KsoRaw(s, text.c_str(), text.size() + 1);
}

void KsoRaw(KsoStream& s, const void* data, size_t size)
{
    const uint8_t* p = (const uint8_t*)data;
    s.bytes.insert(s.bytes.end(), p, p + size);
}

static void KsoU32Chunk(KsoStream& s, uint16_t id, uint32_t v)
{
    KsoBegin(s, id);
    KsoU32(s, v);
    KsoEnd(s);
}

static void KsoStringChunk(KsoStream& s, uint16_t id, const std::string& text)
{
    KsoBegin(s, id);
    KsoString(s, text);
    KsoEnd(s);
}

static void KsoWriteKeys(KsoStream& s, uint16_t id, const std::vector<KsoKey>& keys, bool rotation)
{
    if (keys.empty())
        return;
    KsoBegin(s, id);
    KsoU32(s, (uint32_t)keys.size());
    for (const KsoKey& k : keys) {
        KsoU32(s, k.frame);
        KsoU16(s, k.flags);
        KsoFloat(s, k.tension);
        KsoFloat(s, k.continuity);
        KsoFloat(s, k.bias);
        KsoFloats(s, k.parameters, 2);
        KsoFloats(s, k.value, rotation ? 4 : 3);
        KsoRaw(s, k.block, sizeof(k.block));
        if (rotation)
            KsoFloats(s, k.absolute, 4);
    }
    KsoEnd(s);
}

static void KsoWriteBuffers(KsoStream& s, const KsoBuffers& b)
{
    KsoBegin(s, b.mapped ? KSO_MAPPED_BUFFERS : KSO_BUFFERS);
    KsoU32(s, (uint32_t)b.collapseA.size());
    for (uint32_t v : b.collapseA)
        KsoU32(s, v);
    for (uint32_t v : b.collapseB)
        KsoU32(s, v);
    if (b.mapped)
        KsoU32(s, b.detailSwitch);
    KsoU32(s, (uint32_t)b.groups.size());
    for (const KsoBufferGroup& g : b.groups) {
        KsoU32(s, g.material);
        KsoU32(s, (uint32_t)g.buffers.size());
        for (const KsoBuffer& buffer : g.buffers) {
            KsoU32(s, buffer.vertexCount);
            KsoU32(s, (uint32_t)buffer.indices.size());
            KsoU32(s, buffer.format);
            KsoU32(s, buffer.stride);
            if (b.mapped)
                for (uint32_t v : buffer.vertexMap)
                    KsoU32(s, v);
            KsoRaw(s, buffer.vertices.data(), buffer.vertices.size());
            for (uint16_t i : buffer.indices)
                KsoU16(s, i);
        }
    }
    KsoEnd(s);
}

static void KsoWriteSegment(KsoStream& s, const KsoSegment& seg)
{
    KsoStringChunk(s, KSO_SEGMENT, seg.name);
    if (seg.flags)
        KsoU32Chunk(s, KSO_SEGMENT_FLAGS, *seg.flags);
    if (seg.bounds) {
        KsoBegin(s, KSO_SEGMENT_BOUNDS);
        KsoFloats(s, seg.bounds->data(), seg.bounds->size());
        KsoEnd(s);
    }
    if (!seg.vertices.empty()) {
        KsoBegin(s, KSO_VERTICES);
        KsoU32(s, (uint32_t)seg.vertices.size());
        for (const KsoVertex& v : seg.vertices) {
            KsoFloats(s, v.position, 3);
            for (int i = 0; i < 3; i++)
                KsoU16(s, (uint16_t)v.normal[i]);
        }
        KsoEnd(s);
    }
    if (!seg.faces.empty()) {
        KsoBegin(s, KSO_FACES);
        KsoU32(s, (uint32_t)seg.faces.size());
        for (const KsoFace& f : seg.faces) {
            KsoU16(s, f.material);
            KsoU16(s, f.material2);
            for (int i = 0; i < 3; i++)
                KsoU32(s, f.corners[i]);
            KsoFloats(s, f.u, 3);
            KsoFloats(s, f.v, 3);
            for (int i = 0; i < 3; i++)
                KsoU32(s, f.cornerValues[i]);
            for (int i = 0; i < 3; i++)
                KsoU16(s, (uint16_t)f.normal[i]);
            KsoU8(s, f.flags);
            KsoU16(s, f.value);
        }
        KsoEnd(s);
    }
    if (!seg.layers.empty()) {
        KsoBegin(s, KSO_LAYERS);
        KsoU32(s, (uint32_t)seg.layers.size());
        for (const std::vector<float>& layer : seg.layers)
            KsoFloats(s, layer.data(), layer.size());
        KsoEnd(s);
    }
    if (seg.buffers)
        KsoWriteBuffers(s, *seg.buffers);
    if (seg.detail) {
        KsoBegin(s, KSO_DETAIL);
        KsoU32(s, (uint32_t)seg.detail->remap.size());
        for (uint32_t v : seg.detail->remap)
            KsoU32(s, v);
        for (uint32_t v : seg.detail->weights)
            KsoU32(s, v);
        KsoU32(s, seg.detail->value);
        KsoEnd(s);
    }
    if (seg.pivot) {
        KsoBegin(s, KSO_PIVOT);
        KsoFloats(s, seg.pivot->data(), 3);
        KsoEnd(s);
    }
    if (seg.base) {
        KsoBegin(s, KSO_BASE_MATRIX);
        KsoFloats(s, seg.base->data(), 16);
        KsoEnd(s);
    }
    KsoWriteKeys(s, KSO_ROTATION_KEYS, seg.rotationKeys, true);
    KsoWriteKeys(s, KSO_POSITION_KEYS, seg.positionKeys, false);
    KsoWriteKeys(s, KSO_SCALE_KEYS, seg.scaleKeys, false);
    if (seg.links) {
        KsoBegin(s, KSO_LINKS);
        for (int32_t link : *seg.links)
            KsoU32(s, (uint32_t)link);
        KsoEnd(s);
    }
}

static void KsoWriteMaterial(KsoStream& s, const KsoMaterial& m)
{
    uint32_t p = m.parts;
    if (p & KSO_PART_NAME)
        KsoStringChunk(s, KSO_MATERIAL_NAME, m.name);
    if (p & KSO_PART_METHOD)
        KsoU32Chunk(s, KSO_MATERIAL_METHOD, m.method);
    if (p & KSO_PART_TEXTURE)
        KsoU32Chunk(s, KSO_MATERIAL_TEXTURE, m.textures[0]);
    if (p & KSO_PART_TEXTURES) {
        KsoBegin(s, KSO_MATERIAL_TEXTURES);
        for (int i = 1; i < 8; i++)
            KsoU32(s, m.textures[i]);
        KsoEnd(s);
    }
    if (p & KSO_PART_OPTIONS) {
        KsoBegin(s, KSO_MATERIAL_OPTIONS);
        KsoU8(s, m.options);
        KsoEnd(s);
    }
    if (p & KSO_PART_OPTION_VALUE)
        KsoU32Chunk(s, KSO_MATERIAL_OPTION_VALUE, m.optionValue);
    if (p & KSO_PART_ENVMAP) {
        KsoBegin(s, KSO_MATERIAL_ENVMAP);
        KsoU8(s, m.envMap[0]);
        KsoU8(s, m.envAxis[0]);
        KsoEnd(s);
    }
    if (p & KSO_PART_ENVMAPS) {
        KsoBegin(s, KSO_MATERIAL_ENVMAPS);
        for (int i = 1; i < 8; i++) {
            KsoU8(s, m.envMap[i]);
            KsoU8(s, m.envAxis[i]);
        }
        KsoEnd(s);
    }
    if (p & KSO_PART_COLOUR) {
        KsoBegin(s, KSO_MATERIAL_COLOUR);
        KsoFloats(s, m.colour, 4);
        KsoEnd(s);
    }
    if (p & KSO_PART_TEXSETS)
        KsoU32Chunk(s, KSO_MATERIAL_TEXSETS, m.texSets);
    if (p & KSO_PART_BUMP) {
        KsoBegin(s, KSO_MATERIAL_BUMP);
        KsoFloat(s, m.bumpScale);
        KsoFloats(s, m.bumpMatrix, 4);
        KsoEnd(s);
    }
    if (p & KSO_PART_SPECULAR) {
        KsoBegin(s, KSO_MATERIAL_SPECULAR);
        KsoFloats(s, m.specular, 5);
        KsoEnd(s);
    }
    if (p & KSO_PART_DOUBLE_SIDED) {
        KsoBegin(s, KSO_MATERIAL_DOUBLE_SIDED);
        KsoU8(s, m.doubleSided);
        KsoEnd(s);
    }
    if (p & KSO_PART_VERTEX_SHADER)
        KsoStringChunk(s, KSO_MATERIAL_VERTEX_SHADER, m.vertexShader);
    if (p & KSO_PART_PIXEL_SHADER)
        KsoStringChunk(s, KSO_MATERIAL_PIXEL_SHADER, m.pixelShader);
    KsoBegin(s, KSO_MATERIAL_END);
    KsoEnd(s);
}

static void KsoWriteCamera(KsoStream& s, const KsoCamera& c)
{
    KsoBegin(s, KSO_CAMERA);
    KsoU32(s, 0);   // the name's place
    KsoFloats(s, c.position, 3);
    KsoFloats(s, c.target, 3);
    KsoFloat(s, c.roll);
    KsoFloat(s, c.distance);
    KsoFloats(s, c.up, 3);
    KsoFloats(s, c.back, 3);
    KsoFloats(s, c.angles, 3);
    KsoU8(s, c.flags);
    KsoU32(s, (uint32_t)c.reserved1);
    KsoFloat(s, c.aspect);
    KsoFloat(s, c.fov);
    KsoFloat(s, c.nearDist);
    KsoFloat(s, c.farDist);
    KsoU32(s, (uint32_t)c.reserved2);
    KsoU32(s, (uint32_t)c.reserved3);
    KsoU32(s, (uint32_t)c.lastKeyFrame);
    KsoU32(s, (uint32_t)c.keys.size());
    KsoU32(s, 0);   // the keys' place
    for (const KsoCameraKey& k : c.keys) {
        KsoU32(s, k.frame);
        KsoU16(s, k.flags);
        for (uint32_t v : k.values)
            KsoU32(s, v);
    }
    KsoEnd(s);
}

static void KsoWriteText(KsoStream& s, const std::string& text)
{
    KsoU32(s, (uint32_t)text.size());
    KsoRaw(s, text.data(), text.size());
}

static void KsoWriteShaders(KsoStream& s, uint16_t id, const std::vector<KsoShader>& shaders)
{
    if (shaders.empty())
        return;
    KsoBegin(s, id);
    KsoU16(s, (uint16_t)shaders.size());
    for (const KsoShader& sh : shaders) {
        KsoString(s, sh.name);
        KsoU32(s, sh.type);
        KsoU32(s, (uint32_t)sh.source.size() + 1);
        KsoString(s, sh.source);
        if (id == KSO_DECLARED_SHADERS) {
            KsoWriteText(s, sh.formatText);
            KsoWriteText(s, sh.declarationText);
        }
        KsoU32(s, (uint32_t)sh.constants.size());
        for (const KsoShaderConstant& c : sh.constants) {
            KsoU32(s, (uint32_t)c.reg);
            KsoU32(s, (uint32_t)c.kind);
            KsoFloats(s, c.values, 4);
        }
    }
    KsoEnd(s);
}

std::vector<uint8_t> KsoWriteModel(const KsoModel& model)
{
    KsoStream s;
    KsoBegin(s, KSO_MAIN);
    if (model.unused0)
        KsoU32Chunk(s, KSO_UNUSED0, *model.unused0);
    KsoStringChunk(s, KSO_NAME, model.name);
    if (model.unused1)
        KsoU32Chunk(s, KSO_UNUSED1, *model.unused1);
    for (int list = 0; list < 4; list++) {
        const std::vector<uint8_t>& bytes = model.textureBytes[list];
        if (bytes.empty())
            continue;
        KsoBegin(s, (uint16_t)(KSO_TEXTURE_BYTES1 + list));
        KsoU16(s, (uint16_t)bytes.size());
        KsoRaw(s, bytes.data(), bytes.size());
        KsoEnd(s);
    }
    if (!model.textures.empty()) {
        KsoBegin(s, KSO_TEXTURES);
        KsoU16(s, (uint16_t)model.textures.size());
        for (const std::string& name : model.textures)
            KsoString(s, name);
        KsoEnd(s);
    }
    if (!model.materials.empty()) {
        KsoBegin(s, KSO_MATERIALS);
        for (const KsoMaterial& m : model.materials)
            KsoWriteMaterial(s, m);
        KsoEnd(s);
    }
    KsoBegin(s, KSO_SEGMENTS);
    KsoU32(s, (uint32_t)model.segments.size());
    for (const KsoSegment& seg : model.segments)
        KsoWriteSegment(s, seg);
    KsoEnd(s);
    for (const KsoCamera& c : model.cameras)
        KsoWriteCamera(s, c);
    if (model.bounds) {
        KsoBegin(s, KSO_BOUNDS);
        KsoFloats(s, model.bounds->data(), model.bounds->size());
        KsoEnd(s);
    }
    KsoWriteShaders(s, KSO_VERTEX_SHADERS, model.vertexShaders);
    KsoWriteShaders(s, KSO_DECLARED_SHADERS, model.declaredShaders);
    KsoWriteShaders(s, KSO_PIXEL_SHADERS, model.pixelShaders);
    KsoEnd(s);
    return s.bytes;
}

bool KsoSaveModel(const std::string& path, const KsoModel& model)
{
    std::vector<uint8_t> bytes = KsoWriteModel(model);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}
