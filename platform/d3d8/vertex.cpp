// Fixed-function vertex processing: vertex fetch from flexible vertex formats, transforms,
// lighting, texture-coordinate generation and texture transforms, vertex fog, primitive assembly,
// clipping against the view volume, viewport mapping, culling; the results go to the rasteriser.
#include "device.h"
#include "lanes.h"
#include "vshader.h"

#include <immintrin.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

#include <algorithm>

namespace mxd3d {

static float F(DWORD v) {
  float f;
  memcpy(&f, &v, 4);
  return f;
}

struct FvfLayout {
  bool rhw;
  int normal, psize, diffuse, specular;  // byte offsets, -1 when absent
  int texCount;
  int tex[8], texDim[8];
  UINT size;
};

static bool ParseFvf(DWORD fvf, FvfLayout& L) {
  memset(&L, 0, sizeof(L));
  L.normal = L.psize = L.diffuse = L.specular = -1;
  int off;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: off = 12; break;
    case D3DFVF_XYZRHW: off = 16; L.rhw = true; break;
    case D3DFVF_XYZB1: off = 16; break;
    case D3DFVF_XYZB2: off = 20; break;
    case D3DFVF_XYZB3: off = 24; break;
    case D3DFVF_XYZB4: off = 28; break;
    case D3DFVF_XYZB5: off = 32; break;
    default: return false;
  }
  if (fvf & D3DFVF_NORMAL) {
    if (L.rhw) return false;
    L.normal = off;
    off += 12;
  }
  if (fvf & D3DFVF_PSIZE) {
    L.psize = off;
    off += 4;
  }
  if (fvf & D3DFVF_DIFFUSE) {
    L.diffuse = off;
    off += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    L.specular = off;
    off += 4;
  }
  L.texCount = (int)((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (L.texCount > 8) return false;
  for (int i = 0; i < L.texCount; ++i) {
    static const int kDims[4] = {2, 3, 4, 1};
    L.texDim[i] = kDims[(fvf >> (16 + 2 * i)) & 3];
    L.tex[i] = off;
    off += 4 * L.texDim[i];
  }
  L.size = (UINT)off;
  return true;
}

struct Mat {
  float m[4][4];
};

static Mat Mul(const D3DMATRIX& a, const D3DMATRIX& b) {
  Mat r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

static Mat Mul(const Mat& a, const D3DMATRIX& b) {
  D3DMATRIX t;
  memcpy(t.m, a.m, sizeof(t.m));
  return Mul(t, b);
}

// Inverse transpose of the upper 3x3, for normals.
static void NormalMatrix(const Mat& m, float n[3][3]) {
  float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
  float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
  float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
  float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
  float det = a * A + b * B + c * C;
  float inv = det != 0.0f ? 1.0f / det : 0.0f;
  // Row vectors: n' = n * (M^-1)^T, so n[r][c] = cofactor(r, c) / det.
  n[0][0] = A * inv;
  n[0][1] = B * inv;
  n[0][2] = C * inv;
  n[1][0] = -(b * i - c * h) * inv;
  n[1][1] = (a * i - c * g) * inv;
  n[1][2] = -(a * h - b * g) * inv;
  n[2][0] = (b * f - c * e) * inv;
  n[2][1] = -(a * f - c * d) * inv;
  n[2][2] = (a * e - b * d) * inv;
}

static inline void ColorOf(DWORD c, float out[4]) {
  const float k = 1.0f / 255.0f;
  out[0] = (float)((c >> 16) & 255) * k;
  out[1] = (float)((c >> 8) & 255) * k;
  out[2] = (float)(c & 255) * k;
  out[3] = (float)(c >> 24) * k;
}


struct EyeLight {
  int type;
  float pos[3], dir[3];  // dir: towards the light, normalised (directional)
  float diffuse[4], specular[4], ambient[4];
  float range, falloff, att0, att1, att2, cosTheta, cosPhi;
};

// Per-draw set-up of vertex processing, derived from the state once.
struct VSetup {
  FvfLayout L;
  Mat wv, wvp;
  float nm[3][3];
  bool lighting, normalize, localViewer, specularOn, colorVertex;
  int srcDiffuse, srcSpecular, srcAmbient, srcEmissive;
  float globalAmbient[4];
  D3DMATERIAL8 mat;
  std::vector<EyeLight> lights;
  bool needEye;
  bool fogVertex;
  int fogMode;
  bool rangeFog;
  float fogStart, fogEnd, fogDensity;
  int stageCount;    // texture coordinates made: per stage, or the pixel shader's coordinate sets
  bool shaderCoords; // four floats per set for a pixel shader (RVertex)
  int attrStages;    // groups of three texture floats the clipper interpolates
  int texSet[MAX_STAGES], texGen[MAX_STAGES];
  DWORD ttff[MAX_STAGES];
  D3DMATRIX texMat[MAX_STAGES];
  D3DVIEWPORT8 vp;
};

// shaderSets: the coordinate sets a bound pixel shader reads (0: the texture stages decide).
static void SetupVertex(Device& d, VSetup& s, int shaderSets) {
  const State& st = d.st;
  s.wv = Mul(st.world, st.view);
  s.wvp = Mul(s.wv, st.proj);
  NormalMatrix(s.wv, s.nm);
  s.lighting = st.rs[D3DRS_LIGHTING] != 0 && !s.L.rhw;
  s.normalize = st.rs[D3DRS_NORMALIZENORMALS] != 0;
  s.localViewer = st.rs[D3DRS_LOCALVIEWER] != 0;
  s.specularOn = st.rs[D3DRS_SPECULARENABLE] != 0;
  s.colorVertex = st.rs[D3DRS_COLORVERTEX] != 0;
  s.srcDiffuse = (int)st.rs[D3DRS_DIFFUSEMATERIALSOURCE];
  s.srcSpecular = (int)st.rs[D3DRS_SPECULARMATERIALSOURCE];
  s.srcAmbient = (int)st.rs[D3DRS_AMBIENTMATERIALSOURCE];
  s.srcEmissive = (int)st.rs[D3DRS_EMISSIVEMATERIALSOURCE];
  ColorOf(st.rs[D3DRS_AMBIENT], s.globalAmbient);
  s.mat = st.material;
  s.lights.clear();
  if (s.lighting) {
    const D3DMATRIX& v = st.view;
    for (auto& kv : st.lights) {
      if (!kv.second.enabled) continue;
      const D3DLIGHT8& l = kv.second.light;
      EyeLight e;
      memset(&e, 0, sizeof(e));
      e.type = l.Type;
      float px = l.Position.x, py = l.Position.y, pz = l.Position.z;
      e.pos[0] = px * v._11 + py * v._21 + pz * v._31 + v._41;
      e.pos[1] = px * v._12 + py * v._22 + pz * v._32 + v._42;
      e.pos[2] = px * v._13 + py * v._23 + pz * v._33 + v._43;
      float dx = l.Direction.x, dy = l.Direction.y, dz = l.Direction.z;
      float ex = dx * v._11 + dy * v._21 + dz * v._31;
      float ey = dx * v._12 + dy * v._22 + dz * v._32;
      float ez = dx * v._13 + dy * v._23 + dz * v._33;
      float len = sqrtf(ex * ex + ey * ey + ez * ez);
      if (len > 0) len = 1.0f / len;
      // Stored pointing from the surface towards the light.
      e.dir[0] = -ex * len;
      e.dir[1] = -ey * len;
      e.dir[2] = -ez * len;
      memcpy(e.diffuse, &l.Diffuse, 16);
      memcpy(e.specular, &l.Specular, 16);
      memcpy(e.ambient, &l.Ambient, 16);
      e.range = l.Range;
      e.falloff = l.Falloff;
      e.att0 = l.Attenuation0;
      e.att1 = l.Attenuation1;
      e.att2 = l.Attenuation2;
      e.cosTheta = cosf(l.Theta * 0.5f);
      e.cosPhi = cosf(l.Phi * 0.5f);
      s.lights.push_back(e);
    }
  }
  s.fogVertex = st.rs[D3DRS_FOGENABLE] && st.rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE;
  s.fogMode = (int)st.rs[D3DRS_FOGVERTEXMODE];
  s.rangeFog = st.rs[D3DRS_RANGEFOGENABLE] != 0;
  s.fogStart = F(st.rs[D3DRS_FOGSTART]);
  s.fogEnd = F(st.rs[D3DRS_FOGEND]);
  s.fogDensity = F(st.rs[D3DRS_FOGDENSITY]);
  s.stageCount = 0;
  s.shaderCoords = shaderSets > 0;
  bool texgen = false;
  for (int i = 0; i < (shaderSets ? shaderSets : MAX_STAGES); ++i) {
    if (!shaderSets && st.tss[i][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    s.stageCount = i + 1;
    DWORD tci = st.tss[i][D3DTSS_TEXCOORDINDEX];
    s.texSet[i] = (int)(tci & 0xffff);
    s.texGen[i] = (int)(tci >> 16);
    s.ttff[i] = st.tss[i][D3DTSS_TEXTURETRANSFORMFLAGS];
    s.texMat[i] = st.tex[i];
    if (s.texGen[i] && !s.L.rhw) texgen = true;
  }
  s.attrStages = shaderSets ? (4 * shaderSets + 2) / 3 : s.stageCount;
  s.needEye = s.lighting || texgen || (s.fogVertex && s.fogMode != D3DFOG_NONE && !s.L.rhw);
  s.vp = st.viewport;
}

// The kernel, compiled for SSE2 (4 vertices at a time) and AVX2 (8), on the span loops' choice.
namespace sse2 {
static inline VF Sqrt(VF v) { return (VF)_mm_sqrt_ps((__m128)v); }
static inline VI Fetch(const uint8_t* p, size_t stride) {
  int32_t w[W];
  for (int k = 0; k < W; ++k) memcpy(&w[k], p + k * stride, 4);
  return VI{w[0], w[1], w[2], w[3]};
}
#include "vertex_kernel.inc"
}  // namespace sse2

MARLIX_AVX2_BEGIN
namespace avx2 {
static inline VF Sqrt(VF v) { return (VF)_mm256_sqrt_ps((__m256)v); }
static inline VI Fetch(const uint8_t* p, size_t stride) {
  const __m256i at = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32((int)stride));
  return (VI)_mm256_i32gather_epi32((const int*)p, at, 1);
}

#include "vertex_kernel.inc"
}  // namespace avx2
MARLIX_AVX2_END

static inline bool WideVertices() { return MarlixD3D8GetSpanPath() == MARLIX_SPANS_AVX2; }

// Transforms, lights and projects vertices; codes: their clip codes.
static void RunVertices(const VSetup& s, const uint8_t* base, UINT count, UINT stride, PVert* out, int* codes) {
  if (WideVertices())
    avx2::Vertices(s, base, count, stride, out, codes);
  else
    sse2::Vertices(s, base, count, stride, out, codes);
}

// Projects the vertices a vertex shader made; codes: their clip codes.
static void ScreenVertices(const D3DVIEWPORT8& vp, PVert* p, UINT count, int* codes) {
  if (WideVertices())
    avx2::Screen(vp, p, count, codes);
  else
    sse2::Screen(vp, p, count, codes);
}

// ---- clipping -------------------------------------------------------------------------------
static inline float PlaneDist(const float c[4], int plane) {
  switch (plane) {
    case 0: return c[0] + c[3];
    case 1: return c[3] - c[0];
    case 2: return c[1] + c[3];
    case 3: return c[3] - c[1];
    case 4: return c[2];
    default: return c[3] - c[2];
  }
}

static void Lerp(const PVert& a, const PVert& b, float t, PVert& o, int stages) {
  for (int i = 0; i < 4; ++i) o.clip[i] = a.clip[i] + (b.clip[i] - a.clip[i]) * t;
  for (int i = 0; i < 4; ++i) {
    o.r.diffuse[i] = a.r.diffuse[i] + (b.r.diffuse[i] - a.r.diffuse[i]) * t;
    o.r.specular[i] = a.r.specular[i] + (b.r.specular[i] - a.r.specular[i]) * t;
  }
  for (int s = 0; s < stages; ++s)
    for (int i = 0; i < 3; ++i) o.r.tex[s][i] = a.r.tex[s][i] + (b.r.tex[s][i] - a.r.tex[s][i]) * t;
}

// Clips a convex polygon against the planes in mask; returns the vertex count left.
static int ClipPolygon(PVert* poly, int n, PVert* scratch, int mask, int stages) {
  PVert* in = poly;
  PVert* out = scratch;
  for (int plane = 0; plane < 6 && n > 0; ++plane) {
    if (!(mask & (1 << plane))) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const PVert& a = in[i];
      const PVert& b = in[(i + 1) % n];
      float da = PlaneDist(a.clip, plane), db = PlaneDist(b.clip, plane);
      if (da >= 0.0f) out[m++] = a;
      if ((da >= 0.0f) != (db >= 0.0f)) {
        float t = da / (da - db);
        Lerp(a, b, t, out[m++], stages);
      }
    }
    n = m;
    PVert* tmp = in;
    in = out;
    out = tmp;
  }
  if (in != poly)
    for (int i = 0; i < n; ++i) poly[i] = in[i];
  return n;
}

static void Project(PVert& p, const D3DVIEWPORT8& vp) {
  float rhw = 1.0f / p.clip[3];
  p.r.rhw = rhw;
  p.r.x = (float)vp.X + (1.0f + p.clip[0] * rhw) * (float)vp.Width * 0.5f;
  p.r.y = (float)vp.Y + (1.0f - p.clip[1] * rhw) * (float)vp.Height * 0.5f;
  p.r.z = vp.MinZ + p.clip[2] * rhw * (vp.MaxZ - vp.MinZ);
}

// ---- primitive assembly and submission ------------------------------------------------------
struct VertexScratch {
  VSetup setup, processSetup;
  uint64_t setupSerial = 0;  // the device's state serial when setup was made
  bool setupOk = false;      // whether the vertex format was valid then
  std::vector<PVert> verts;
  std::vector<int> codes;
  std::vector<uint32_t> mapped, tris, lines, points;
};

VertexScratch* NewVertexScratch() { return new VertexScratch(); }
void DeleteVertexScratch(VertexScratch* v) { delete v; }

static inline float Area2(const float* a, const float* b, const float* c) {
  return (b[RV_X] - a[RV_X]) * (c[RV_Y] - a[RV_Y]) - (c[RV_X] - a[RV_X]) * (b[RV_Y] - a[RV_Y]);
}

static_assert(sizeof(PVert) == 40 * sizeof(float) && offsetof(PVert, r) == 4 * sizeof(float),
              "the vertex kernel writes a vertex as forty floats: clip position, then RVertex");
static_assert(offsetof(RVertex, diffuse) == 4 * RV_DIFF && offsetof(RVertex, specular) == 4 * RV_SPEC &&
                  offsetof(RVertex, tex) == 4 * RV_TEX,
              "the stored vertex is the leading floats of RVertex");
static_assert(4 * PS_COORD_SETS <= 3 * MAX_STAGES, "a pixel shader's coordinates fit the stored vertex");

// The vertex format that drives fixed-function processing: the current one, or the one a
// shader's declaration stands for; a programmable shader takes untransformed positions.
static DWORD ProcessingFvf(DWORD current, const VertexShader* shader) {
  if (!shader) return current;
  return shader->function.empty() ? shader->fvf : D3DFVF_XYZ;
}

// Where each stream the vertices come from starts (need: bytes of each vertex in it, 0 for
// unused streams). first < 0: stream 0 only, from user memory. vertexCount is cut to what every
// stream holds; false when a stream is missing, locked or too narrow.
static bool StreamBases(const State& st, const UINT need[VS_STREAMS], const uint8_t* vertices, UINT stride,
                        int64_t first, UINT& vertexCount, const uint8_t* base[VS_STREAMS], UINT strides[VS_STREAMS]) {
  for (int n = 0; n < VS_STREAMS; ++n) {
    if (!need[n]) continue;
    if (first < 0) {
      if (n != 0 || stride < need[0]) return false;
      base[0] = vertices;
      strides[0] = stride;
      continue;
    }
    VertexBuffer* vb = st.stream[n];
    UINT sd = st.streamStride[n];
    if (!vb || vb->buf.locked || sd < need[n]) return false;
    size_t bytes = vb->buf.data.size(), start = (size_t)first * sd;
    if (start + need[n] > bytes) return false;
    size_t avail = (bytes - start - need[n]) / sd + 1;
    if (vertexCount > avail) vertexCount = (UINT)avail;
    base[n] = vb->buf.data.data() + start;
    strides[n] = sd;
  }
  return true;
}

static VsOutputs ShaderOutputs(const VSetup& s) {
  VsOutputs o;
  o.stageCount = s.stageCount;
  for (int i = 0; i < MAX_STAGES; ++i) {
    o.texSet[i] = i < s.stageCount ? s.texSet[i] : 0;
    o.ttff[i] = i < s.stageCount ? s.ttff[i] : 0;
  }
  o.fogVertex = s.fogVertex;
  o.shaderCoords = s.shaderCoords;
  return o;
}

HRESULT Device::DrawVertices(D3DPRIMITIVETYPE type, UINT primCount, const uint8_t* vertices, UINT vertexCount,
                             UINT stride, const void* indices, bool index32, UINT indexCount, int indexBias,
                             int64_t firstVertex) {
  if (primCount == 0) return D3D_OK;
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
  if (!renderTarget) return D3DERR_INVALIDCALL;
  VertexShader* shader = FindVertexShader(st.vertexShader);
  if ((st.vertexShader & 1) && !shader) return D3DERR_INVALIDCALL;
  if (!vs) vs = NewVertexScratch();
  VertexScratch& b = *vs;
  VSetup& s = b.setup;
  // The vertex set-up is kept from draw to draw until a state changes.
  if (b.setupSerial != stateSerial) {
    const PixelProgram* pixelShader = BoundPixelShader();
    b.setupOk = ParseFvf(ProcessingFvf(st.vertexShader, shader), s.L);
    if (b.setupOk) SetupVertex(*this, s, pixelShader ? PixelShaderCoordSets(*pixelShader) : 0);
    b.setupSerial = stateSerial;
  }
  if (!b.setupOk) return D3DERR_INVALIDCALL;
  const uint8_t* streams[VS_STREAMS] = {};
  UINT strides[VS_STREAMS] = {};
  if (shader) {
    if (!StreamBases(st, shader->streamBytes, vertices, stride, firstVertex, vertexCount, streams, strides))
      return D3DERR_INVALIDCALL;
    vertices = streams[0];
    stride = strides[0];
    if (shader->function.empty()) shader = nullptr;  // fixed function on stream 0
  } else if (stride < s.L.size) {
    return D3DERR_INVALIDCALL;
  }
  // In 64 bits: a 32-bit product wraps for huge counts, and the assembly loops below would then
  // index far past the vertices and indices they were given.
  uint64_t needed;
  switch (type) {
    case D3DPT_POINTLIST: needed = primCount; break;
    case D3DPT_LINELIST: needed = (uint64_t)primCount * 2; break;
    case D3DPT_LINESTRIP: needed = (uint64_t)primCount + 1; break;
    case D3DPT_TRIANGLELIST: needed = (uint64_t)primCount * 3; break;
    default: needed = (uint64_t)primCount + 2; break;
  }
  if (indices ? needed > indexCount : needed > vertexCount) return D3DERR_INVALIDCALL;
  if (IsLost()) return D3D_OK;
  g_counters.drawCalls++;
  g_counters.primitives += primCount;
  // The pixel state first: building it may finish queued drawing, which empties the store.
  const PixelState& ps = CurrentPixelState();
  VertexStore& out = RasterVertexStore(raster);
  const size_t words = (size_t)StoredWords(ps);
  // The work arrays only grow: they are not filled anew for every draw.
  if (b.verts.size() < vertexCount) {
    b.verts.resize(vertexCount);
    b.codes.resize(vertexCount);
  }
  if (shader) {
    VsRun(*shader, streams, strides, vertexCount, st.vsConst, ShaderOutputs(s), b.verts.data());
    ScreenVertices(s.vp, b.verts.data(), vertexCount, b.codes.data());
  } else {
    RunVertices(s, vertices, vertexCount, stride, b.verts.data(), b.codes.data());
    if (s.lighting) g_counters.verticesLit += vertexCount;
  }
  g_counters.verticesIn += vertexCount;
  // Every vertex inside the view volume goes to the store, numbered from first on in the order of
  // the vertices; pieces of clipped triangles follow. Primitives name stored vertices by number.
  const size_t first = out.size();
  const int* codes = b.codes.data();
  const PVert* pv = b.verts.data();
  std::vector<uint32_t>& number = b.mapped;
  if (number.size() < vertexCount) number.resize(vertexCount);
  uint32_t stored = 0;
  for (UINT i = 0; i < vertexCount; ++i) stored += codes[i] == 0;
  // Copied in whole groups of four floats (the vertex has room for them): the last group may
  // reach past the vertex, into the next one (written after it) or into room the store gives up
  // afterwards.
  const size_t groups = (words + 3) / 4;
  out.resize(first + (size_t)stored * words + (4 * groups - words));
  {
    float* dst = out.data() + first;
    uint32_t k = 0;
    for (UINT i = 0; i < vertexCount; ++i) {
      if (codes[i]) {
        number[i] = 0xffffffffu;
        continue;
      }
      const float* src = &pv[i].r.x;
      float* d = dst + (size_t)k * words;
      for (size_t g = 0; g < groups; ++g) memcpy(d + 4 * g, src + 4 * g, 16);
      number[i] = k++;
    }
  }
  out.resize(first + (size_t)stored * words);
  auto emit = [&](const RVertex& v) {
    uint32_t n = (uint32_t)((out.size() - first) / words);
    const float* f = &v.x;
    out.insert(out.end(), f, f + words);
    return n;
  };
  b.lines.clear();
  b.points.clear();
  DWORD cull = st.rs[D3DRS_CULLMODE];
  int fill = (int)st.rs[D3DRS_FILLMODE];
  bool flat = st.rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  int stages = s.attrStages;
  // Triangles go to b.tris in order (tri numbers of it used), culled as they come: back faces by
  // the cull mode, and those without area or with a position that is not a number. b.tris only
  // grows, so it is not filled anew for every draw.
  const bool keepPositive = cull != D3DCULL_CW, keepNegative = cull != D3DCULL_CCW;
  auto keeps = [&](const float* p, const float* q, const float* r) {
    float area = Area2(p, q, r);
    // Clockwise on screen (y down) has positive area; neither a number nor zero passes either
    // comparison.
    return ((area > 0.0f) & keepPositive) | ((area < 0.0f) & keepNegative);
  };
  std::vector<uint32_t>& tv = b.tris;
  size_t tri = 0;
  if (type >= D3DPT_TRIANGLELIST && tv.size() < 3 * (size_t)primCount) tv.resize(3 * (size_t)primCount);
  auto clipped = [&](uint32_t a, uint32_t bb, uint32_t c, int ca, int cb, int cc) {
    PVert poly[16], scratch[16];
    poly[0] = b.verts[a];
    poly[1] = b.verts[bb];
    poly[2] = b.verts[c];
    int n = ClipPolygon(poly, 3, scratch, ca | cb | cc, stages);
    if (n < 3) return;
    for (int i = 0; i < n; ++i) {
      Project(poly[i], s.vp);
      if (flat) {
        // The face keeps the colours of its first vertex whichever piece survives.
        memcpy(poly[i].r.diffuse, b.verts[a].r.diffuse, 16);
        memcpy(poly[i].r.specular, b.verts[a].r.specular, 12);
      }
    }
    // Room for these and one triangle for every primitive still to come.
    if (tv.size() < 3 * (tri + (size_t)n + primCount)) tv.resize(2 * tv.size() + 3 * ((size_t)n + primCount));
    uint32_t v0 = emit(poly[0].r);
    uint32_t prev = emit(poly[1].r);
    for (int i = 2; i < n; ++i) {
      uint32_t cur = emit(poly[i].r);
      if (keeps(&poly[0].r.x, &poly[i - 1].r.x, &poly[i].r.x)) {
        tv[3 * tri] = v0;
        tv[3 * tri + 1] = prev;
        tv[3 * tri + 2] = cur;
        ++tri;
      }
      prev = cur;
    }
  };
  const uint32_t* num = number.data();
  auto triangle = [&](uint32_t a, uint32_t bb, uint32_t c) __attribute__((always_inline)) {
    uint32_t na = num[a], nb = num[bb], nc = num[c];
    // Numbers of stored vertices are below 2^31: all three are stored, inside the view volume.
    // Written whether kept or not (there is room for one triangle a primitive), then counted.
    if (!((na | nb | nc) & 0x80000000u)) {
      uint32_t* t = tv.data() + 3 * tri;
      t[0] = na;
      t[1] = nb;
      t[2] = nc;
      tri += keeps(&pv[a].r.x, &pv[bb].r.x, &pv[c].r.x);
      return;
    }
    int ca = codes[a], cb = codes[bb], cc = codes[c];
    if (ca & cb & cc) return;
    if (((ca | cb | cc) & 64)) return;
    clipped(a, bb, c, ca, cb, cc);
  };
  auto line = [&](uint32_t a, uint32_t c) {
    int ca = codes[a], cc = codes[c];
    if ((ca & cc) || ((ca | cc) & 64)) return;
    if ((ca | cc) == 0) {
      b.lines.push_back(number[a]);
      b.lines.push_back(number[c]);
      return;
    }
    PVert pa = b.verts[a], pc = b.verts[c];
    float t0 = 0.0f, t1 = 1.0f;
    for (int plane = 0; plane < 6; ++plane) {
      float da = PlaneDist(pa.clip, plane), dc = PlaneDist(pc.clip, plane);
      if (da < 0 && dc < 0) return;
      if (da < 0) t0 = fmaxf(t0, da / (da - dc));
      if (dc < 0) t1 = fminf(t1, da / (da - dc));
    }
    if (t0 >= t1) return;
    PVert qa, qc;
    Lerp(pa, pc, t0, qa, stages);
    Lerp(pa, pc, t1, qc, stages);
    Project(qa, s.vp);
    Project(qc, s.vp);
    b.lines.push_back(emit(qa.r));
    b.lines.push_back(emit(qc.r));
  };

  // Primitive assembly, once for each kind of index: idx(n, v) gives the vertex of index n, false
  // when it is not one of the vertices given.
  auto assemble = [&](auto idx) {
    uint32_t v0, v1, v2;
    switch (type) {
      case D3DPT_POINTLIST:
        for (UINT i = 0; i < primCount; ++i)
          if (idx(i, v0) && codes[v0] == 0) b.points.push_back(number[v0]);
        break;
      case D3DPT_LINELIST:
        for (UINT i = 0; i < primCount; ++i)
          if (idx(2 * i, v0) && idx(2 * i + 1, v1)) line(v0, v1);
        break;
      case D3DPT_LINESTRIP:
        for (UINT i = 0; i < primCount; ++i)
          if (idx(i, v0) && idx(i + 1, v1)) line(v0, v1);
        break;
      case D3DPT_TRIANGLELIST:
        for (UINT i = 0; i < primCount; ++i)
          if (idx(3 * i, v0) && idx(3 * i + 1, v1) && idx(3 * i + 2, v2)) triangle(v0, v1, v2);
        break;
      case D3DPT_TRIANGLESTRIP:
        for (UINT i = 0; i < primCount; ++i) {
          if (!(idx(i, v0) && idx(i + 1, v1) && idx(i + 2, v2))) continue;
          // Odd triangles are reversed so every triangle keeps the strip's winding.
          if (i & 1)
            triangle(v0, v2, v1);
          else
            triangle(v0, v1, v2);
        }
        break;
      case D3DPT_TRIANGLEFAN:
        if (!idx(0, v0)) break;
        for (UINT i = 0; i < primCount; ++i)
          if (idx(i + 1, v1) && idx(i + 2, v2)) triangle(v1, v2, v0);
        break;
      default: break;
    }
  };
  // In 64 bits, then unsigned: a negative vertex number fails the one comparison too.
  const uint64_t limit = vertexCount;
  if (!indices) {
    assemble([&](UINT n, uint32_t& v) {
      v = n;
      return (uint64_t)n < limit;
    });
  } else if (index32) {
    const uint32_t* ix = (const uint32_t*)indices;
    assemble([&](UINT n, uint32_t& v) {
      int64_t w = (int64_t)ix[n] + indexBias;
      v = (uint32_t)w;
      return (uint64_t)w < limit;
    });
  } else {
    const uint16_t* ix = (const uint16_t*)indices;
    assemble([&](UINT n, uint32_t& v) {
      int64_t w = (int64_t)ix[n] + indexBias;
      v = (uint32_t)w;
      return (uint64_t)w < limit;
    });
  }
  if (tri) {
    const uint32_t* t = tv.data();
    if (fill == D3DFILL_WIREFRAME) {
      for (size_t i = 0; i < tri; ++i) {
        uint32_t e[6] = {t[3 * i], t[3 * i + 1], t[3 * i + 1], t[3 * i + 2], t[3 * i + 2], t[3 * i]};
        b.lines.insert(b.lines.end(), e, e + 6);
      }
    } else if (fill == D3DFILL_POINT) {
      b.points.insert(b.points.end(), t, t + 3 * tri);
    } else {
      RasterSubmitTriangles(raster, ps, pixelSerial, first, t, (int)tri);
      g_counters.trianglesDrawn += tri;
    }
  }
  // Lines and points name their vertices by offset in the store.
  for (uint32_t& v : b.lines) v = (uint32_t)(first + v * words);
  for (uint32_t& v : b.points) v = (uint32_t)(first + v * words);
  if (!b.lines.empty()) RasterSubmitStored(raster, ps, pixelSerial, b.lines.data(), (int)b.lines.size() / 2, 1);
  if (!b.points.empty()) RasterSubmitStored(raster, ps, pixelSerial, b.points.data(), (int)b.points.size(), 2);
  ++renderTarget->version;
  if (!RasterQueued()) Flush();
  return D3D_OK;
}

const PixelState& Device::CurrentPixelState() {
  bool fresh = pixelSerial == stateSerial;
  for (int i = 0; fresh && i < pixel.stageCount; ++i) {
    Texture* t = static_cast<Texture*>(st.textures[i]);
    if (!t) continue;
    for (size_t l = 0; l < t->levels.size() && fresh; ++l) fresh = t->cache[l].version == t->levels[l]->version;
  }
  if (!fresh) {
    BuildPixelState(pixel);
    // A new serial even when only texels changed: the queue tells states apart by it.
    pixelSerial = ++stateSerial;
  }
  return pixel;
}

void Device::BuildPixelState(PixelState& ps) {
  memset(&ps, 0, sizeof(ps));
  const DWORD* rs = st.rs;
  Surface* rt = renderTarget;
  ps.color = rt->bits;
  ps.colorPitch = rt->pitch;
  ps.colorFormat = rt->format;
  int x0 = (int)st.viewport.X, y0 = (int)st.viewport.Y;
  ps.clipX0 = x0;
  ps.clipY0 = y0;
  ps.clipX1 = x0 + (int)st.viewport.Width;
  ps.clipY1 = y0 + (int)st.viewport.Height;
  if (ps.clipX1 > (int)rt->width) ps.clipX1 = (int)rt->width;
  if (ps.clipY1 > (int)rt->height) ps.clipY1 = (int)rt->height;
  Surface* ds = depthStencil;
  if (ds) {
    ps.depth = ds->bits;
    ps.depthPitch = ds->pitch;
    ps.depthFormat = ds->format;
    if (ps.clipX1 > (int)ds->width) ps.clipX1 = (int)ds->width;
    if (ps.clipY1 > (int)ds->height) ps.clipY1 = (int)ds->height;
    ps.zEnable = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    ps.zWrite = ps.zEnable && rs[D3DRS_ZWRITEENABLE] != 0;
    ps.zFunc = (int)rs[D3DRS_ZFUNC];
    const FormatInfo* fi = FindFormat(ds->format);
    ps.stencilEnable = rs[D3DRS_STENCILENABLE] && fi->stencilBits;
    ps.stencilFunc = (int)rs[D3DRS_STENCILFUNC];
    ps.stencilFail = (int)rs[D3DRS_STENCILFAIL];
    ps.stencilZFail = (int)rs[D3DRS_STENCILZFAIL];
    ps.stencilPass = (int)rs[D3DRS_STENCILPASS];
    ps.stencilRef = rs[D3DRS_STENCILREF];
    ps.stencilMask = rs[D3DRS_STENCILMASK];
    ps.stencilWriteMask = rs[D3DRS_STENCILWRITEMASK];
  }
  ps.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
  ps.alphaFunc = (int)rs[D3DRS_ALPHAFUNC];
  ps.alphaRef = (int)(rs[D3DRS_ALPHAREF] & 255);
  ps.blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
  ps.srcBlend = (int)rs[D3DRS_SRCBLEND];
  ps.dstBlend = (int)rs[D3DRS_DESTBLEND];
  ps.blendOp = (int)rs[D3DRS_BLENDOP];
  ps.colorWriteMask = rs[D3DRS_COLORWRITEENABLE] & 15;
  ps.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  ps.specular = rs[D3DRS_SPECULARENABLE] != 0;
  ps.fog = rs[D3DRS_FOGENABLE] != 0;
  ps.fogTable = ps.fog ? (int)rs[D3DRS_FOGTABLEMODE] : 0;
  ps.fogUseW = st.proj._34 != 0.0f;
  ps.fogColor = rs[D3DRS_FOGCOLOR];
  ps.fogStart = F(rs[D3DRS_FOGSTART]);
  ps.fogEnd = F(rs[D3DRS_FOGEND]);
  ps.fogDensity = F(rs[D3DRS_FOGDENSITY]);
  ps.tfactor = rs[D3DRS_TEXTUREFACTOR];
  ps.fillMode = (int)rs[D3DRS_FILLMODE];
  ps.lastPixel = rs[D3DRS_LASTPIXEL] != 0;
  ps.pointSize = F(rs[D3DRS_POINTSIZE]);
  ps.stageCount = 0;
  // A pixel shader samples the stages it names whatever their operations.
  const PixelProgram* shader = BoundPixelShader();
  for (int i = 0; i < (shader ? PixelShaderStages(*shader) : MAX_STAGES); ++i) {
    const DWORD* t = st.tss[i];
    if (!shader && t[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    StageDesc& sd = ps.stages[i];
    sd.colorOp = (int)t[D3DTSS_COLOROP];
    sd.alphaOp = (int)t[D3DTSS_ALPHAOP];
    sd.colorArg[0] = t[D3DTSS_COLORARG0];
    sd.colorArg[1] = t[D3DTSS_COLORARG1];
    sd.colorArg[2] = t[D3DTSS_COLORARG2];
    sd.alphaArg[0] = t[D3DTSS_ALPHAARG0];
    sd.alphaArg[1] = t[D3DTSS_ALPHAARG1];
    sd.alphaArg[2] = t[D3DTSS_ALPHAARG2];
    sd.resultArg = t[D3DTSS_RESULTARG];
    sd.levels = nullptr;
    sd.levelCount = 0;
    Texture* tex = static_cast<Texture*>(st.textures[i]);
    if (tex && !tex->levels.empty()) {
      sd.levels = SamplerLevels(tex, sd.levelCount);
      const FormatInfo* fi = FindFormat(tex->format);
      if (fi->kind == FK_BUMP)
        sd.bump = (tex->format == D3DFMT_L6V5U5 || tex->format == D3DFMT_X8L8V8U8) ? 2 : 1;
      ps.usesTexture = 1;
    }
    sd.addressU = (int)t[D3DTSS_ADDRESSU];
    sd.addressV = (int)t[D3DTSS_ADDRESSV];
    sd.border = t[D3DTSS_BORDERCOLOR];
    sd.magFilter = (int)t[D3DTSS_MAGFILTER];
    sd.minFilter = (int)t[D3DTSS_MINFILTER];
    sd.mipFilter = (int)t[D3DTSS_MIPFILTER];
    sd.lodBias = F(t[D3DTSS_MIPMAPLODBIAS]);
    sd.maxMipLevel = (int)t[D3DTSS_MAXMIPLEVEL];
    sd.bumpMat[0] = F(t[D3DTSS_BUMPENVMAT00]);
    sd.bumpMat[1] = F(t[D3DTSS_BUMPENVMAT01]);
    sd.bumpMat[2] = F(t[D3DTSS_BUMPENVMAT10]);
    sd.bumpMat[3] = F(t[D3DTSS_BUMPENVMAT11]);
    sd.bumpLScale = F(t[D3DTSS_BUMPENVLSCALE]);
    sd.bumpLOffset = F(t[D3DTSS_BUMPENVLOFFSET]);
    ps.stageCount = i + 1;
  }
  ps.texStages = ps.usesTexture ? ps.stageCount : 0;
  if (shader) {
    ps.shader = shader;
    ps.shaderFirst = PixelShaderDecidesCoverage(*shader);
    ps.texStages = (4 * PixelShaderCoordSets(*shader) + 2) / 3;
    bool project = PixelShaderHonoursProjection(*shader);
    for (int i = 0; i < MAX_STAGES; ++i) {
      DWORD flags = st.tss[i][D3DTSS_TEXTURETRANSFORMFLAGS];
      int count = TexTransformCount(flags);
      ps.shaderProject[i] = project && i < ps.stageCount && (flags & D3DTTFF_PROJECTED) && count >= 2 ? count - 1 : -1;
    }
    PixelShaderConstants(*shader, st.pixelConst, ps.shaderConst);
  }
}

// ---- draw entry points ----------------------------------------------------------------------
static UINT VerticesUsed(D3DPRIMITIVETYPE type, UINT count) {
  switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return count * 2;
    case D3DPT_LINESTRIP: return count + 1;
    case D3DPT_TRIANGLELIST: return count * 3;
    default: return count + 2;
  }
}

HRESULT WINAPI Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) {
  UINT used = VerticesUsed(type, count);
  // A vertex shader finds its streams itself.
  if (st.vertexShader & 1) return DrawVertices(type, count, nullptr, used, 0, nullptr, false, 0, 0, start);
  VertexBuffer* vb = st.stream[0];
  UINT stride = st.streamStride[0];
  if (!vb || stride == 0 || vb->buf.locked) return D3DERR_INVALIDCALL;
  size_t bytes = vb->buf.data.size();
  size_t first = (size_t)start * stride;
  if (first >= bytes) return D3DERR_INVALIDCALL;
  UINT avail = (UINT)((bytes - first) / stride);
  if (avail == 0 || used > avail) return D3DERR_INVALIDCALL;
  return DrawVertices(type, count, vb->buf.data.data() + first, used, stride, nullptr, false, 0, 0, start);
}

HRESULT WINAPI Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT startIndex,
                                            UINT primCount) {
  IndexBuffer* ib = st.indices;
  if (!ib || ib->buf.locked || numVertices == 0) return D3DERR_INVALIDCALL;
  size_t isize = ib->format == D3DFMT_INDEX32 ? 4 : 2;
  size_t icount = ib->buf.data.size() / isize;
  if (startIndex >= icount) return D3DERR_INVALIDCALL;
  const uint8_t* indices = ib->buf.data.data() + startIndex * isize;
  UINT indexCount = (UINT)(icount - startIndex);
  int64_t firstVertex = (int64_t)st.baseVertex + minIndex;
  if (st.vertexShader & 1)
    return DrawVertices(type, primCount, nullptr, numVertices, 0, indices, isize == 4, indexCount, -(int)minIndex,
                        firstVertex);
  VertexBuffer* vb = st.stream[0];
  UINT stride = st.streamStride[0];
  if (!vb || stride == 0 || vb->buf.locked) return D3DERR_INVALIDCALL;
  size_t first = (size_t)firstVertex * stride;
  size_t bytes = vb->buf.data.size();
  if (first >= bytes) return D3DERR_INVALIDCALL;
  UINT avail = (UINT)((bytes - first) / stride);
  if (numVertices > avail) numVertices = avail;
  return DrawVertices(type, primCount, vb->buf.data.data() + first, numVertices, stride, indices, isize == 4,
                      indexCount, -(int)minIndex, firstVertex);
}

// Drawing from user memory resets stream 0, as the runtime does.
static void DropStream0(State& st) {
  if (st.stream[0]) st.stream[0]->Release();
  st.stream[0] = nullptr;
  st.streamStride[0] = 0;
}

HRESULT WINAPI Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride) {
  if (!data || stride == 0) return D3DERR_INVALIDCALL;
  DropStream0(st);
  return DrawVertices(type, count, (const uint8_t*)data, VerticesUsed(type, count), stride, nullptr, false, 0, 0, -1);
}

HRESULT WINAPI Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT count,
                                              const void* indexData, D3DFORMAT indexFormat, const void* data,
                                              UINT stride) {
  if (!data || !indexData || stride == 0 || numVertices == 0) return D3DERR_INVALIDCALL;
  if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  DropStream0(st);
  if (st.indices) st.indices->Release();
  st.indices = nullptr;
  return DrawVertices(type, count, (const uint8_t*)data + (size_t)minIndex * stride, numVertices, stride, indexData,
                      indexFormat == D3DFMT_INDEX32, VerticesUsed(type, count), -(int)minIndex, -1);
}

HRESULT WINAPI Device::ProcessVertices(UINT srcStart, UINT destIndex, UINT count, IDirect3DVertexBuffer8* destI,
                                       DWORD) {
  VertexBuffer* dst = static_cast<VertexBuffer*>(destI);
  if (!dst || count == 0) return D3DERR_INVALIDCALL;
  FvfLayout out;
  if (!ParseFvf(dst->fvf, out) || !out.rhw) return D3DERR_INVALIDCALL;
  // Widened before adding: a destination index near 2^32 must not wrap to a range that fits.
  if (((size_t)destIndex + count) * out.size > dst->buf.data.size()) return D3DERR_INVALIDCALL;
  VertexShader* shader = FindVertexShader(st.vertexShader);
  if ((st.vertexShader & 1) && !shader) return D3DERR_INVALIDCALL;
  if (!vs) vs = NewVertexScratch();
  VSetup& s = vs->processSetup;
  if (!ParseFvf(ProcessingFvf(st.vertexShader, shader), s.L) || s.L.rhw) return D3DERR_INVALIDCALL;
  // Each vertex is read whole from every stream it uses.
  UINT need[VS_STREAMS] = {s.L.size};
  if (shader) memcpy(need, shader->streamBytes, sizeof(need));
  const uint8_t* streams[VS_STREAMS] = {};
  UINT strides[VS_STREAMS] = {};
  UINT avail = count;
  if (!StreamBases(st, need, nullptr, 0, srcStart, avail, streams, strides) || avail < count)
    return D3DERR_INVALIDCALL;
  SetupVertex(*this, s, 0);
  std::vector<PVert>& pv = vs->verts;  // the draws' work array, free between calls
  pv.resize(count);
  vs->codes.resize(count);
  if (shader && !shader->function.empty()) {
    VsRun(*shader, streams, strides, count, st.vsConst, ShaderOutputs(s), pv.data());
    ScreenVertices(s.vp, pv.data(), count, vs->codes.data());
  } else {
    RunVertices(s, streams[0], count, strides[0], pv.data(), vs->codes.data());
  }
  for (UINT i = 0; i < count; ++i) {
    uint8_t* o = dst->buf.data.data() + ((size_t)destIndex + i) * out.size;
    const RVertex& r = pv[i].r;
    float p[4] = {r.x, r.y, r.z, r.rhw};
    memcpy(o, p, 16);
    auto pack = [](const float* c) {
      auto b = [](float v) { return (DWORD)(Clamp01(v) * 255.0f + 0.5f); };
      return (b(c[3]) << 24) | (b(c[0]) << 16) | (b(c[1]) << 8) | b(c[2]);
    };
    if (out.diffuse >= 0) {
      DWORD c = pack(r.diffuse);
      memcpy(o + out.diffuse, &c, 4);
    }
    if (out.specular >= 0) {
      DWORD c = pack(r.specular);
      memcpy(o + out.specular, &c, 4);
    }
    for (int t = 0; t < out.texCount && t < s.stageCount; ++t) {
      float q = r.tex[t][2] != 0.0f ? r.tex[t][2] : 1.0f;
      float tc[4] = {r.tex[t][0] / q, r.tex[t][1] / q, 0, 1};
      memcpy(o + out.tex[t], tc, 4 * out.texDim[t]);
    }
  }
  return D3D_OK;
}

}  // namespace mxd3d
