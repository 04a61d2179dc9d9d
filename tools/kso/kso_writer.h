// KSO writer: the inverse of the engine's object loader, for the model builders and the tests.
//
// Two levels: a chunk stream (open a chunk, write its payload, close it and its length is filled
// in) for files of any shape, and KsoWriteModel, which writes a whole model described by the
// records below in the order the loader wants (texture byte lists before the texture list,
// materials before the segments whose faces name them).
#ifndef KSO_WRITER_H
#define KSO_WRITER_H

#include "Kslfile.h"

#include <array>
#include <optional>
#include <stdint.h>
#include <string>
#include <vector>

// A chunk tree under construction.
struct KsoStream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> open;   // starts of the chunks not closed yet
};

void KsoBegin(KsoStream& s, uint16_t id);
// Closes the innermost open chunk: its length becomes the bytes from its header to here.
void KsoEnd(KsoStream& s);
void KsoU8(KsoStream& s, uint8_t v);
void KsoU16(KsoStream& s, uint16_t v);
void KsoU32(KsoStream& s, uint32_t v);
void KsoFloat(KsoStream& s, float v);
void KsoFloats(KsoStream& s, const float* v, size_t count);
void KsoString(KsoStream& s, const std::string& text);   // with its terminator
void KsoRaw(KsoStream& s, const void* data, size_t size);

struct KsoVertex {
    float position[3] = {0, 0, 0};
    int16_t normal[3] = {0, 0, 0};   // 1023 = 1.0
};

struct KsoFace {
    uint16_t material = 0;           // file material numbers
    uint16_t material2 = 0;
    uint32_t corners[3] = {0, 0, 0};
    float u[3] = {0, 0, 0};
    float v[3] = {0, 0, 0};
    uint32_t cornerValues[3] = {0, 0, 0};
    int16_t normal[3] = {0, 0, 0};
    uint8_t flags = 0;
    uint16_t value = 0;
};

// A rotation key uses all four values and the absolute quaternion; position and scale keys the
// first three values.
struct KsoKey {
    uint32_t frame = 0;
    uint16_t flags = 0;
    float tension = 0, continuity = 0, bias = 0;
    float parameters[2] = {0, 0};
    float value[4] = {0, 0, 0, 0};
    uint8_t block[64] = {};
    float absolute[4] = {0, 0, 0, 0};
};

struct KsoBuffer {
    uint32_t vertexCount = 0;
    uint32_t format = 0;                  // D3DFVF bits
    uint32_t stride = 0;
    std::vector<uint32_t> vertexMap;      // written for mapped buffer chunks: vertexCount entries
    std::vector<uint8_t> vertices;        // vertexCount x stride bytes
    std::vector<uint16_t> indices;
};

struct KsoBufferGroup {
    uint32_t material = 0;                // file material number
    std::vector<KsoBuffer> buffers;
};

struct KsoBuffers {
    bool mapped = false;                  // KSO_MAPPED_BUFFERS instead of KSO_BUFFERS
    std::vector<uint32_t> collapseA, collapseB;   // the same length
    uint32_t detailSwitch = 0;            // mapped only
    std::vector<KsoBufferGroup> groups;
};

struct KsoDetail {
    std::vector<uint32_t> remap, weights; // one each per vertex
    uint32_t value = 0;
};

struct KsoSegment {
    std::string name;
    std::optional<uint32_t> flags;
    std::optional<std::array<float, 61>> bounds;
    std::vector<KsoVertex> vertices;      // the vertex and face chunks are written when non-empty
    std::vector<KsoFace> faces;
    std::vector<std::vector<float>> layers;   // per extra layer: u0 u1 u2 v0 v1 v2 per face
    std::optional<KsoBuffers> buffers;
    std::optional<KsoDetail> detail;
    std::optional<std::array<float, 3>> pivot;
    std::optional<std::array<float, 16>> base;
    std::vector<KsoKey> rotationKeys, positionKeys, scaleKeys;   // written when non-empty
    std::optional<std::array<int32_t, 3>> links;                 // first child, next sibling, parent
};

// Sub-chunks of a material; a material writes those in `parts` and inherits the rest from the
// material before it.
enum : uint32_t {
    KSO_PART_NAME = 1u << 0,
    KSO_PART_METHOD = 1u << 1,
    KSO_PART_TEXTURE = 1u << 2,
    KSO_PART_TEXTURES = 1u << 3,
    KSO_PART_OPTIONS = 1u << 4,
    KSO_PART_OPTION_VALUE = 1u << 5,
    KSO_PART_ENVMAP = 1u << 6,
    KSO_PART_ENVMAPS = 1u << 7,
    KSO_PART_COLOUR = 1u << 8,
    KSO_PART_TEXSETS = 1u << 9,
    KSO_PART_BUMP = 1u << 10,
    KSO_PART_SPECULAR = 1u << 11,
    KSO_PART_DOUBLE_SIDED = 1u << 12,
    KSO_PART_VERTEX_SHADER = 1u << 13,
    KSO_PART_PIXEL_SHADER = 1u << 14,
    KSO_PART_ALL = (1u << 15) - 1
};

struct KsoMaterial {
    std::string name;
    uint32_t method = 0;
    uint32_t textures[8] = {};            // file texture numbers
    uint8_t options = 0;
    uint32_t optionValue = 0;
    uint8_t envMap[8] = {};
    uint8_t envAxis[8] = {};
    float colour[4] = {255, 255, 255, 255};   // red, green, blue, alpha
    uint32_t texSets = 1;
    float bumpScale = 0;
    float bumpMatrix[4] = {0, 0, 0, 0};
    float specular[5] = {0, 0, 0, 0, 0};  // red, green, blue, a fourth value, power
    uint8_t doubleSided = 0;
    std::string vertexShader, pixelShader;
    uint32_t parts = KSO_PART_ALL;
};

struct KsoCameraKey {
    uint32_t frame = 0;
    uint16_t flags = 0;
    uint32_t values[13] = {};
};

struct KsoCamera {
    float position[3] = {0, 0, 256};
    float target[3] = {0, 0, 0};
    float roll = 0, distance = 500;
    float up[3] = {0, 1, 0};
    float back[3] = {0, 0, 1};
    float angles[3] = {0, 0, 0};
    uint8_t flags = 0;
    int32_t reserved1 = 0;
    float aspect = 1.6f, fov = 1.0471976f, nearDist = 10, farDist = 65535;
    int32_t reserved2 = 0, reserved3 = 0, lastKeyFrame = 0;
    std::vector<KsoCameraKey> keys;
};

struct KsoShaderConstant {
    int32_t reg = 0, kind = 0;
    float values[4] = {0, 0, 0, 0};
};

// The source is written with its terminator (counted in its length); the two texts of declared
// shaders without.
struct KsoShader {
    std::string name;
    uint32_t type = 0;
    std::string source;
    std::string formatText, declarationText;   // KSO_DECLARED_SHADERS only
    std::vector<KsoShaderConstant> constants;
};

struct KsoModel {
    std::string name;
    std::optional<uint32_t> unused0, unused1;  // the two u32 chunks readers skip
    std::vector<uint8_t> textureBytes[4];      // byte lists 1..4, written when non-empty
    std::vector<std::string> textures;         // written when non-empty
    std::vector<KsoMaterial> materials;        // written when non-empty
    std::vector<KsoSegment> segments;
    std::vector<KsoCamera> cameras;
    std::optional<std::array<float, 61>> bounds;
    std::vector<KsoShader> vertexShaders, declaredShaders, pixelShaders;   // written when non-empty
};

std::vector<uint8_t> KsoWriteModel(const KsoModel& model);
// Writes the model to a file; false when it cannot be written.
bool KsoSaveModel(const std::string& path, const KsoModel& model);

#endif
