// Pixel shaders ps.1.0 to ps.1.4: the token stream is checked and compiled once into decoded
// operations over four-float registers, which the pixel pipeline runs per pixel in place of the
// texture stages.
#ifndef MARLIX_D3D8_PSHADER_H
#define MARLIX_D3D8_PSHADER_H

#include "d3d8_internal.h"

#include <memory>
#include <vector>

namespace mxd3d {

// The largest magnitude a shader register holds (the caps' MaxPixelShaderValue).
const float kPixelShaderRange = 8.0f;
enum { PS_CONSTANTS = 8, PS_COORD_SETS = 6 };

struct PixelProgram;

// Checks and compiles a token stream; null when it is not a valid ps.1.0 to ps.1.4 shader.
std::shared_ptr<PixelProgram> CompilePixelShader(const DWORD* tokens);
// The token stream as given, from the version token to the end token.
const std::vector<DWORD>& PixelShaderTokens(const PixelProgram& p);
// Texture stages the shader samples or whose coordinates it reads (t0.. of the highest used + 1).
int PixelShaderStages(const PixelProgram& p);
// Coordinate sets the shader reads (tN registers as coordinates).
int PixelShaderCoordSets(const PixelProgram& p);
// ps.1.0 to ps.1.3: D3DTTFF_PROJECTED applies to texture loads (ps.1.4 ignores it).
bool PixelShaderHonoursProjection(const PixelProgram& p);
// Whether the shader may discard the pixel or replace its depth: it then runs before the depth test.
bool PixelShaderDecidesCoverage(const PixelProgram& p);
// The constants the shader reads: the device's, limited to -1..1, with those of its def
// instructions in their place.
void PixelShaderConstants(const PixelProgram& p, const float device[PS_CONSTANTS][4], float out[PS_CONSTANTS][4]);

struct ShaderOut {
  float color[4];  // r0, saturated
  float depth;     // replaced depth, 0..1, when depthSet
  bool depthSet;
};

// Runs the pixel shader of s for one pixel. a: the interpolated attributes (texture coordinates
// in sets of four, see RVertex), g: their planes for texture derivatives (null for lines and
// points). False when the shader discards the pixel.
bool RunPixelShader(const PixelState& s, const float* a, const float* g, ShaderOut& out);

}  // namespace mxd3d

#endif
