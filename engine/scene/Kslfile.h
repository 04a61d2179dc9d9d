// Object files (.kso): KS_LoadObject reads one model into a KSObject, registering the file's
// textures with the texture manager and its materials with the material table on the way.
//
// A file is a tree of chunks, each a u16 id and a u32 length counted from the chunk's first byte
// (so it covers the 6-byte header and every sub-chunk), little-endian throughout. The whole file
// is one KSO_MAIN chunk. Readers seek to a chunk's start plus its length after handling it and skip
// ids they do not know.
#ifndef KSLFILE_H
#define KSLFILE_H

#include <stdint.h>

struct KSObject;

// Chunk ids.
enum {
    KSO_MAIN = 0x0303,
    // Top level.
    KSO_UNUSED0 = 0x0000,           // u32, not used
    KSO_NAME = 0x0100,              // string: the object's name
    KSO_UNUSED1 = 0x0101,           // u32, not used
    KSO_SEGMENTS = 0x1000,          // u32 segment count, then segment sub-chunks
    KSO_TEXTURES = 0x2010,          // u16 n, n names
    KSO_TEXTURE_BYTES1 = 0x2011,    // u16 n, n bytes: library flags (non-zero forces format code 1)
    KSO_TEXTURE_BYTES2 = 0x2012,    // texture stage
    KSO_TEXTURE_BYTES3 = 0x2013,    // texture format code (255 when absent)
    KSO_TEXTURE_BYTES4 = 0x2014,    // library byte
    KSO_MATERIALS = 0x2100,         // material sub-chunks
    KSO_CAMERA = 0x3000,
    KSO_BOUNDS = 0x3010,            // 244 bytes, replaced by the computed bounds
    KSO_VERTEX_SHADERS = 0x3100,    // shaders with built-in declarations
    KSO_DECLARED_SHADERS = 0x3101,  // shaders with a format text and a declaration text
    KSO_PIXEL_SHADERS = 0x3200,
    // Inside KSO_SEGMENTS.
    KSO_SEGMENT = 0x1010,           // string: starts the next segment
    KSO_SEGMENT_FLAGS = 0x1020,
    KSO_SEGMENT_BOUNDS = 0x1022,
    KSO_VERTICES = 0x1030,          // u32 n, n 18-byte records
    KSO_FACES = 0x1040,             // u32 n, n 61-byte records
    KSO_BUFFERS = 0x1050,           // prebuilt vertex and index buffers
    KSO_MAPPED_BUFFERS = 0x1051,    // the same with a vertex map per buffer
    KSO_DETAIL = 0x1060,            // level-of-detail arrays
    KSO_PIVOT = 0x1F00,
    KSO_BASE_MATRIX = 0x1F10,
    KSO_ROTATION_KEYS = 0x1F20,     // u32 n, n 122-byte keys
    KSO_POSITION_KEYS = 0x1F30,     // u32 n, n 102-byte keys
    KSO_SCALE_KEYS = 0x1F40,
    KSO_LINKS = 0x1F50,             // first child, next sibling, parent; -1 for none
    KSO_LAYERS = 0x4000,            // u32 n (at most 7), n blocks of 24 bytes per face
    // Inside KSO_MATERIALS: each sets a field of the working material; KSO_MATERIAL_END registers it.
    KSO_MATERIAL_NAME = 0x2101,
    KSO_MATERIAL_METHOD = 0x2102,
    KSO_MATERIAL_TEXTURE = 0x2103,
    KSO_MATERIAL_OPTIONS = 0x2104,
    KSO_MATERIAL_OPTION_VALUE = 0x2105,
    KSO_MATERIAL_UNUSED1 = 0x2106,
    KSO_MATERIAL_ENVMAP = 0x2107,
    KSO_MATERIAL_UNUSED2 = 0x2108,
    KSO_MATERIAL_COLOUR = 0x2109,
    KSO_MATERIAL_TEXSETS = 0x2110,
    KSO_MATERIAL_TEXTURES = 0x2111, // stages 1..7
    KSO_MATERIAL_ENVMAPS = 0x2112,  // stages 1..7
    KSO_MATERIAL_BUMP = 0x2113,
    KSO_MATERIAL_SPECULAR = 0x2114,
    KSO_MATERIAL_DOUBLE_SIDED = 0x2115,
    KSO_MATERIAL_VERTEX_SHADER = 0x2116,
    KSO_MATERIAL_PIXEL_SHADER = 0x2117,
    KSO_MATERIAL_END = 0x2199
};

// Record sizes in the file.
#define KSO_CHUNK_HEADER 6
#define KSO_NAME_LIMIT 80          // bytes of a name with its terminator
#define KSO_VERTEX_RECORD 18
#define KSO_FACE_RECORD 61
#define KSO_LAYER_RECORD 24
#define KSO_ROTATION_KEY 122
#define KSO_POSITION_KEY 102
#define KSO_CAMERA_KEY 58
#define KSO_BOUNDS_BLOCK 244
#define KSO_SHADER_CONSTANT 24

// Sizes of the loader's maps: a file lists at most this many textures and materials.
#define KSO_MAX_TEXTURES 256
#define KSO_MAX_MATERIALS 512

// Load flags.
#define KSO_SKIP_MATERIALS 0x01
#define KSO_SKIP_TEXTURES 0x04

// Rescale extra texture layers by their stage's texture like the faces' own coordinates. 0 when
// the program is loaded; the engine start-up leaves it alone, so a caller that sets it affects
// every later load.
extern int32_t ksRescaleLayers;

// Reads the object file `name` through the file layer (so from the open library, if any). Null
// when the file cannot be opened, does not start with KSO_MAIN, or is refused as malformed; a
// refused file leaves no object, camera, material, texture or shader of its own behind. The file's
// shaders join the engine's shader lists (a name already there keeps the shader it names) and are
// created at once; the file's materials then point at the shaders they name. A chunk of length
// 0 is the fatal error "Error in file format" (caption "LoadKSO").
KSObject* KS_LoadObject(const char* name, int32_t flags);

#endif
