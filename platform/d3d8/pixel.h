// What the rasteriser and its specialised span loops share: the interpolated attributes, depth
// quantisation and tests, the byte conversions of the pixel pipeline, and the span interface.
#ifndef MARLIX_D3D8_PIXEL_H
#define MARLIX_D3D8_PIXEL_H

#include "d3d8_internal.h"

#include <math.h>

namespace mxd3d {

// Attributes interpolated over a triangle, in this order.
enum { AT_Z, AT_RHW, AT_DIFF, AT_SPEC = AT_DIFF + 4, AT_TEX = AT_SPEC + 4 };
static inline int AttrCount(const PixelState& s) { return AT_TEX + 3 * s.texStages; }

static inline uint32_t DepthMax(D3DFORMAT f) {
  switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE: return 0xffffu;
    case D3DFMT_D15S1: return 0x7fffu;
    case D3DFMT_D32: return 0xffffffffu;
    default: return 0xffffffu;
  }
}

static inline uint32_t QuantizeDepth(float z, uint32_t maxv) {
  if (!(z > 0.0f)) return 0;
  if (z >= 1.0f) return maxv;
  return (uint32_t)((double)z * maxv + 0.5);
}

static inline int DepthBytes(D3DFORMAT f) {
  return (f == D3DFMT_D16 || f == D3DFMT_D16_LOCKABLE || f == D3DFMT_D15S1) ? 2 : 4;
}

static inline bool Compare(int func, uint32_t a, uint32_t b) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return a < b;
    case D3DCMP_EQUAL: return a == b;
    case D3DCMP_LESSEQUAL: return a <= b;
    case D3DCMP_GREATER: return a > b;
    case D3DCMP_NOTEQUAL: return a != b;
    case D3DCMP_GREATEREQUAL: return a >= b;
    default: return true;
  }
}

static inline int ToByte(float f) {
  if (!(f > 0.0f)) return 0;
  if (f >= 1.0f) return 255;
  return (int)(f * 255.0f + 0.5f);
}

static inline int FloorInt(float f) {
  if (!(f > -1e9f)) return -1000000000;
  if (!(f < 1e9f)) return 1000000000;
  int i = (int)f;
  return (f < (float)i) ? i - 1 : i;
}

// log2 of a pixel's texel footprint on the top level of stage sd: pu, pv and pq are the planes
// (value, d/dx, d/dy) of u, v and their divisor, u and v the divided coordinates, iq one over the
// divisor. The general pipeline, the span loops and the pixel shaders all pick levels by it.
static inline float FootprintLog2(const StageDesc& sd, const float* pu, const float* pv, const float* pq, float u,
                                  float v, float iq) {
  float dudx = (pu[1] - u * pq[1]) * iq, dudy = (pu[2] - u * pq[2]) * iq;
  float dvdx = (pv[1] - v * pq[1]) * iq, dvdy = (pv[2] - v * pq[2]) * iq;
  float w = (float)sd.levels[0].width, h = (float)sd.levels[0].height;
  float lx = (dudx * w) * (dudx * w) + (dvdx * h) * (dvdx * h);
  float ly = (dudy * w) * (dudy * w) + (dvdy * h) * (dvdy * h);
  float m = lx > ly ? lx : ly;
  return m > 0.0f ? 0.5f * log2f(m) : -100.0f;
}

// Attribute k at offset (ox, oy) from a triangle's reference point, from its plane (value at the
// reference, d/dx, d/dy).
static inline float AttrAt(const float* planes, int k, float ox, float oy) {
  return planes[3 * k] + planes[3 * k + 1] * ox + planes[3 * k + 2] * oy;
}

// The mip level of a footprint (lod: log2 of texels per pixel on the top level) with a point or no
// mip filter.
// A lod past the last level (even infinite or not a number, which the conversion to int would
// turn negative) takes the last level.
static inline int PickLevel(const StageDesc& sd, float lod) {
  int level = sd.maxMipLevel < sd.levelCount ? sd.maxMipLevel : sd.levelCount - 1;
  lod += sd.lodBias;
  if (!(lod <= 0.0f || sd.mipFilter == D3DTEXF_NONE || sd.levelCount == 1)) {
    const float steps = floorf(lod + 0.5f);
    level = steps < (float)(sd.levelCount - 1 - level) ? level + (int)steps : sd.levelCount - 1;
  }
  return level;
}

// Samples a stage's texture at (u, v) with its sampler states; lod as the texture stages use it.
uint32_t SampleStage(const StageDesc& sd, float u, float v, float lod);

// A span loop draws rows of one triangle: rows holds count triples (y, first x, last x), planes
// the attribute planes around the reference point (refX, refY). It gives exactly the pixels of
// the general pipeline.
typedef void (*SpanFn)(const PixelState& s, const float* planes, float refX, float refY, const int* rows, int count);

struct SpanPair {
  SpanFn affine, persp;  // for texture coordinates with constant or varying Q
  // The same loops over fewer pixels at a time, for narrow triangles (the same as above when the
  // processor has one width only).
  SpanFn narrowAffine, narrowPersp;
};

// Triangles at most this many pixels wide take the narrow loops.
enum { kNarrowSpan = 8 };

// The span loops for a pixel state; both null when the general pipeline must draw it.
SpanPair ChooseSpans(const PixelState& s);

}  // namespace mxd3d

#endif
