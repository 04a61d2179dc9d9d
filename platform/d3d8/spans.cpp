// Specialised span loops for the states drawn most: a texture stage (point-sampled or bilinear,
// wrapped power-of-two texture, optionally mip-mapped) selecting or modulating by the diffuse
// colour, or untextured Gouraud or flat colour; optionally a second stage adding or modulating
// its own texture (an environment map); the specular colour; vertex fog; depth and alpha tests;
// opaque, translucent (SRCALPHA / INVSRCALPHA), additive or modulating blends. The loops are
// compiled twice, for SSE2 (4 pixels at a time) and AVX2 (8): the processor picks one at the first
// use, and narrow triangles take the SSE2 loops in any case.
#include "lanes.h"
#include "pixel.h"

#include <immintrin.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace mxd3d {

static std::atomic<bool> g_fastPaths{true};

enum FastColor { FC_TEX, FC_TEX_MOD_DIFF, FC_DIFF };
enum FastAlpha { FA_TEX, FA_DIFF, FA_TEX_MOD_DIFF, FA_ONE };

// Blending of the span loops; each gives the general pipeline's factor arithmetic exactly.
enum { BL_NONE, BL_ALPHA, BL_ADD_ALPHA, BL_ADD, BL_MOD };

static int BlendKind(const PixelState& s) {
  if (!s.blend) return BL_NONE;
  if (s.srcBlend == D3DBLEND_BOTHSRCALPHA) return BL_ALPHA;
  if (s.srcBlend == D3DBLEND_SRCALPHA && s.dstBlend == D3DBLEND_INVSRCALPHA) return BL_ALPHA;
  if (s.srcBlend == D3DBLEND_SRCALPHA && s.dstBlend == D3DBLEND_ONE) return BL_ADD_ALPHA;
  if (s.srcBlend == D3DBLEND_ONE && s.dstBlend == D3DBLEND_ONE) return BL_ADD;
  if ((s.srcBlend == D3DBLEND_ZERO && s.dstBlend == D3DBLEND_SRCCOLOR) ||
      (s.srcBlend == D3DBLEND_DESTCOLOR && s.dstBlend == D3DBLEND_ZERO))
    return BL_MOD;
  return -1;
}

struct FastSpan {
  bool ok;
  int color, alpha;
  bool bilinear;
};

// An alpha operation that selects the unbound texture: opaque.
static inline bool AlphaIsOne(const StageDesc& sd) {
  return !sd.levels && ((sd.alphaOp == D3DTOP_SELECTARG1 && sd.alphaArg[1] == D3DTA_TEXTURE) ||
                        (sd.alphaOp == D3DTOP_SELECTARG2 && sd.alphaArg[2] == D3DTA_TEXTURE));
}

// Whether an argument selects the interpolated diffuse colour (stage 0 has no previous stage, and
// an unbound texture reads as white, so MODULATE with it passes the other argument through).
static inline bool IsDiffuse(DWORD arg) { return arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT; }

static bool PassesDiffuse(int op, DWORD a1, DWORD a2) {
  if (op == D3DTOP_SELECTARG1) return IsDiffuse(a1);
  if (op == D3DTOP_SELECTARG2) return IsDiffuse(a2);
  if (op == D3DTOP_MODULATE) return (IsDiffuse(a1) && a2 == D3DTA_TEXTURE) || (IsDiffuse(a2) && a1 == D3DTA_TEXTURE);
  return false;
}

// A texture the span loops sample: wrapped, power-of-two levels, one filter, point or no mip filter.
static bool SamplerOK(const StageDesc& sd) {
  if (!sd.levels || sd.bump || sd.addressU != D3DTADDRESS_WRAP || sd.addressV != D3DTADDRESS_WRAP) return false;
  if (sd.magFilter != sd.minFilter) return false;
  if (sd.magFilter != D3DTEXF_POINT && sd.magFilter != D3DTEXF_LINEAR) return false;
  if (sd.mipFilter == D3DTEXF_LINEAR && sd.levelCount > 1) return false;
  for (int i = 0; i < sd.levelCount; ++i) {
    int lw = sd.levels[i].width, lh = sd.levels[i].height;
    if ((lw & (lw - 1)) || (lh & (lh - 1))) return false;
  }
  return true;
}

// A second stage that adds or modulates its texture into the colour, alpha passing through.
static bool SecondStageOK(const StageDesc& sd) {
  if (sd.colorOp != D3DTOP_ADD && sd.colorOp != D3DTOP_MODULATE) return false;
  bool args = (sd.colorArg[1] == D3DTA_TEXTURE && sd.colorArg[2] == D3DTA_CURRENT) ||
              (sd.colorArg[1] == D3DTA_CURRENT && sd.colorArg[2] == D3DTA_TEXTURE);
  return args && sd.alphaOp == D3DTOP_DISABLE && sd.resultArg != D3DTA_TEMP && SamplerOK(sd);
}

static FastSpan Classify(const PixelState& s) {
  FastSpan f = {false, 0, 0, false};
  if (!g_fastPaths.load(std::memory_order_relaxed)) return f;
  if (s.colorFormat != D3DFMT_X8R8G8B8 && s.colorFormat != D3DFMT_A8R8G8B8) return f;
  if (s.stageCount < 1 || s.stageCount > 2 || s.fogTable || s.stencilEnable || s.colorWriteMask != 15)
    return f;
  if (s.blend && (s.blendOp != D3DBLENDOP_ADD || BlendKind(s) < 0)) return f;
  if (s.stageCount == 2 && !SecondStageOK(s.stages[1])) return f;
  if (s.depth && s.zEnable) {
    D3DFORMAT df = s.depthFormat;
    if (df != D3DFMT_D16 && df != D3DFMT_D16_LOCKABLE && df != D3DFMT_D24X8 && df != D3DFMT_D24S8 && df != D3DFMT_D32)
      return f;
  }
  const StageDesc& sd = s.stages[0];
  if (sd.resultArg == D3DTA_TEMP) return f;
  if (!sd.levels) {
    if (!PassesDiffuse(sd.colorOp, sd.colorArg[1], sd.colorArg[2])) return f;
    if (AlphaIsOne(sd))
      f.alpha = FA_ONE;
    else if (sd.alphaOp == D3DTOP_DISABLE || PassesDiffuse(sd.alphaOp, sd.alphaArg[1], sd.alphaArg[2]))
      f.alpha = FA_DIFF;
    else
      return f;
    f.color = FC_DIFF;
    f.ok = true;
    return f;
  }
  if (!SamplerOK(sd)) return f;
  f.bilinear = sd.magFilter == D3DTEXF_LINEAR;
  DWORD a1 = sd.colorArg[1], a2 = sd.colorArg[2];
  if (sd.colorOp == D3DTOP_SELECTARG1 && a1 == D3DTA_TEXTURE)
    f.color = FC_TEX;
  else if (sd.colorOp == D3DTOP_MODULATE && a1 == D3DTA_TEXTURE && IsDiffuse(a2))
    f.color = FC_TEX_MOD_DIFF;
  else
    return f;
  DWORD b1 = sd.alphaArg[1], b2 = sd.alphaArg[2];
  if (sd.alphaOp == D3DTOP_SELECTARG1 && b1 == D3DTA_TEXTURE)
    f.alpha = FA_TEX;
  else if ((sd.alphaOp == D3DTOP_SELECTARG1 && IsDiffuse(b1)) || (sd.alphaOp == D3DTOP_SELECTARG2 && IsDiffuse(b2)) ||
           sd.alphaOp == D3DTOP_DISABLE)
    f.alpha = FA_DIFF;
  else if (sd.alphaOp == D3DTOP_MODULATE && b1 == D3DTA_TEXTURE && IsDiffuse(b2))
    f.alpha = FA_TEX_MOD_DIFF;
  else
    return f;
  f.ok = true;
  return f;
}

namespace sse2 {

static inline VU Gather(const uint32_t* base, VI i) { return VU{base[i[0]], base[i[1]], base[i[2]], base[i[3]]}; }
// The texels at i and i + 1 of every lane.
static inline void GatherPairs(const uint32_t* base, VI i, VU& first, VU& second) {
  for (int k = 0; k < W; ++k) {
    first[k] = base[i[k]];
    second[k] = base[i[k] + 1];
  }
}
static inline bool Any(VI m) { return _mm_movemask_epi8((__m128i)m) != 0; }
// a > b ? a : b and a < b ? a : b, lane by lane (b where a is not a number).
static inline VF MaxV(VF a, VF b) { return (VF)_mm_max_ps((__m128)a, (__m128)b); }
static inline VF MinV(VF a, VF b) { return (VF)_mm_min_ps((__m128)a, (__m128)b); }
// Texels at i, below end; four single loads whatever their spacing.
static inline VU GatherNear(const uint32_t* base, VI i, int) { return Gather(base, i); }

#include "span_kernel.inc"
}  // namespace sse2

MARLIX_AVX2_BEGIN
namespace avx2 {

static inline VU Gather(const uint32_t* base, VI i) {
  return (VU)_mm256_i32gather_epi32((const int*)base, (__m256i)i, 4);
}
static inline bool Any(VI m) { return _mm256_movemask_epi8((__m256i)m) != 0; }
// a > b ? a : b and a < b ? a : b, lane by lane (b where a is not a number).
static inline VF MaxV(VF a, VF b) { return (VF)_mm256_max_ps((__m256)a, (__m256)b); }
static inline VF MinV(VF a, VF b) { return (VF)_mm256_min_ps((__m256)a, (__m256)b); }
// Texels at i, below end. A texture stretched over the pixels (the backdrop) gives indices
// within eight of the first lane's where it has fewer texels than the pixels, and within sixteen
// where it has up to twice as many: one load and a shuffle, or two of each, instead of a gather.
static inline VU GatherNear(const uint32_t* base, VI i, int end) {
  const int first = i[0];
  const VI rel = i - first;
  const int beyond8 = _mm256_movemask_epi8((__m256i)((VU)rel >= 8u));
  if (beyond8 == 0 && first <= end - W) {
    __m256i run = _mm256_loadu_si256((const __m256i*)(base + first));
    return (VU)_mm256_permutevar8x32_epi32(run, (__m256i)rel);
  }
  if (_mm256_movemask_epi8((__m256i)((VU)rel >= 16u)) == 0 && first <= end - 2 * W) {
    // vpermd takes the low three bits of each index: the lanes past eight pick from the second run.
    const __m256i lo = _mm256_permutevar8x32_epi32(_mm256_loadu_si256((const __m256i*)(base + first)), (__m256i)rel);
    const __m256i hi = _mm256_permutevar8x32_epi32(_mm256_loadu_si256((const __m256i*)(base + first + W)), (__m256i)rel);
    return (VU)_mm256_blendv_epi8(lo, hi, (__m256i)(rel >= 8));
  }
  return Gather(base, i);
}
// The texels at i and i + 1 of every lane, loaded together as 64-bit pairs.
static inline void GatherPairs(const uint32_t* base, VI i, VU& first, VU& second) {
  __m256i idx = (__m256i)i;
  __m256i a = _mm256_i32gather_epi64((const long long*)base, _mm256_castsi256_si128(idx), 4);
  __m256i b = _mm256_i32gather_epi64((const long long*)base, _mm256_extracti128_si256(idx, 1), 4);
  // a, b: lanes (first, second) of pixels 0..3 and 4..7; even and odd 32-bit lanes back in order.
  __m256 af = _mm256_castsi256_ps(a), bf = _mm256_castsi256_ps(b);
  first = (VU)_mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(af, bf, 0x88)), 0xd8);
  second = (VU)_mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(af, bf, 0xdd)), 0xd8);
}

#include "span_kernel.inc"
}  // namespace avx2
MARLIX_AVX2_END

static bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// AVX2 unless the processor lacks it or the environment asks for SSE2.
static std::atomic<int> g_spanPath{0};

static int SpanPath() {
  int p = g_spanPath.load(std::memory_order_relaxed);
  if (p) return p;
  const char* env = getenv("MARLIX_D3D8_SPANS");
  p = HasAvx2() && !(env && strcmp(env, "sse2") == 0) ? MARLIX_SPANS_AVX2 : MARLIX_SPANS_SSE2;
  g_spanPath.store(p);
  return p;
}

SpanPair ChooseSpans(const PixelState& s) {
  if (s.shader) return SpanPair{};  // pixel shaders run in the general pipeline
  FastSpan f = Classify(s);
  if (!f.ok) return SpanPair{};
  // Rows of a few pixels cost a whole group each: 4 pixels at a time serve narrow triangles best.
  SpanPair narrow = sse2::Pick(f);
  if (SpanPath() != MARLIX_SPANS_AVX2) return narrow;
  SpanPair wide = avx2::Pick(f);
  wide.narrowAffine = narrow.affine;
  wide.narrowPersp = narrow.persp;
  return wide;
}

}  // namespace mxd3d

extern "C" void MarlixD3D8SetFastPaths(int enabled) { mxd3d::g_fastPaths = enabled != 0; }

extern "C" int MarlixD3D8SetSpanPath(int path) {
  mxd3d::g_spanPath.store(path == MARLIX_SPANS_AVX2 && mxd3d::HasAvx2() ? MARLIX_SPANS_AVX2 : MARLIX_SPANS_SSE2);
  return mxd3d::g_spanPath.load();
}

extern "C" int MarlixD3D8GetSpanPath(void) { return mxd3d::SpanPath(); }
