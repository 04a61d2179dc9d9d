// Programmable vertex shaders (vs.1.0 and vs.1.1): the declaration that feeds input registers from
// the vertex streams, the check of the function's token stream, and its compiled form, which runs
// over batches of vertices held component by component.
#ifndef MARLIX_D3D8_VSHADER_H
#define MARLIX_D3D8_VSHADER_H

#include "d3d8_internal.h"

#include <vector>

namespace mxd3d {

enum { VS_CONSTANTS = 96, VS_STREAMS = 16, VS_BATCH = 32 };

// A processed vertex: clip-space position plus the rasteriser attributes.
struct PVert {
  float clip[4];
  RVertex r;
};

// One input register filled from a stream: type is a D3DVSDT_* value.
struct VsFetch {
  uint8_t stream, reg, type;
  UINT offset;
};

// A source operand: the four swizzled components, each a batch of values.
struct VsSrc {
  const float* comp[4];
  float sign;       // -1 for a negated source
  int relative;     // c[a0.x + relative] read into `comp`'s register first; -1 for a plain register
  float* gather;    // the register `relative` reads are gathered into
};

struct VsInstr {
  int op;            // D3DSIO_* (matrix macros are expanded into dot products)
  int mask;          // destination write mask, bits x..w
  float* dst[4];     // the destination's components
  float* out[4];     // where the results go: dst itself, or a scratch register when a source aliases it
  int* addr;         // mov to a0.x: the address register
  VsSrc src[3];
  int srcCount;
};

struct VsConstLoad {
  UINT reg;
  float v[4];
};

struct VertexShader {
  std::vector<DWORD> declaration;  // as given, up to and with the end token
  std::vector<DWORD> function;     // as given, up to and with the end token; empty: fixed function
  DWORD fvf;                       // fixed function: the vertex format the declaration stands for
  std::vector<VsFetch> fetch;
  UINT streamBytes[VS_STREAMS];    // bytes each vertex needs in every stream; 0: not read
  std::vector<VsConstLoad> constants;  // loaded when the shader is set (declaration and def)
  // The compiled function and its register file: batches of VS_BATCH values per component.
  std::vector<VsInstr> code;
  float* file;
  int addr[VS_BATCH];
  std::vector<int> constSlot;      // constant register -> register of the file holding it broadcast
  float* out[13];                  // oPos, oD0, oD1, oT0..oT7, oFog, oPts
};

// Checks and compiles; null when the declaration or the function is refused.
VertexShader* VsCreate(const DWORD* declaration, const DWORD* function);
void VsDestroy(VertexShader* s);

// How the outputs become rasteriser attributes for the current texture stages and fog.
struct VsOutputs {
  int stageCount;
  int texSet[MAX_STAGES];
  DWORD ttff[MAX_STAGES];
  bool fogVertex;
  bool shaderCoords;  // four floats per set, packed, for a pixel shader
};

// Runs the shader over count vertices; vertex i of stream n is at streams[n] + i * strides[n].
void VsRun(VertexShader& s, const uint8_t* const streams[VS_STREAMS], const UINT strides[VS_STREAMS], UINT count,
           const float (*constants)[4], const VsOutputs& o, PVert* out);

}  // namespace mxd3d

#endif
