// The lanes of the kernels written once and compiled for SSE2 (W = 4) and AVX2 (W = 8), the
// vertex kernel and the span loops: their vector types (float, int32, uint32, double, and uint16,
// two a lane) and what they share.
#ifndef MARLIX_D3D8_LANES_H
#define MARLIX_D3D8_LANES_H

#include "d3d8_internal.h"

#include <immintrin.h>
#include <string.h>

#define MARLIX_LANE_TYPES                                   \
  typedef float VF __attribute__((vector_size(4 * W)));    \
  typedef int32_t VI __attribute__((vector_size(4 * W)));  \
  typedef uint32_t VU __attribute__((vector_size(4 * W))); \
  typedef double VD __attribute__((vector_size(8 * W)));   \
  typedef uint16_t VH __attribute__((vector_size(4 * W)));

// What both instruction sets write alike. The loops over the W rows are unrolled so that the
// rows stay in registers.
#define MARLIX_LANE_COMMON                                                     \
  static inline VF SplatF(float v) { return VF{} + v; }                        \
  /* c[j] takes float j of the W rows of W floats at p, p + stride, ... The    \
     rows are loaded into registers: copied to c in halves, as a compiler may    \
     copy memory, they would be read back whole before those stores are done. */ \
  static inline void LoadRows(const uint8_t* p, size_t stride, VF* c) {        \
    VF r[W];                                                                   \
    _Pragma("GCC unroll 8") for (int k = 0; k < W; ++k)                        \
      memcpy(&r[k], p + k * stride, sizeof(VF));                               \
    Transpose(r);                                                              \
    _Pragma("GCC unroll 8") for (int k = 0; k < W; ++k) c[k] = r[k];           \
  }                                                                            \
  /* Row k (W floats at out + k * stride) takes lane k of c[0], ..., c[W - 1]. */ \
  static inline void StoreRows(const VF* c, float* out, size_t stride) {       \
    VF r[W];                                                                   \
    _Pragma("GCC unroll 8") for (int k = 0; k < W; ++k) r[k] = c[k];           \
    Transpose(r);                                                              \
    _Pragma("GCC unroll 8") for (int k = 0; k < W; ++k)                        \
      memcpy(out + k * stride, &r[k], sizeof(VF));                             \
  }

namespace mxd3d {

namespace sse2 {
constexpr int W = 4;
MARLIX_LANE_TYPES
// Rows become columns: r[k] lane j becomes r[j] lane k.
static inline void Transpose(VF* r) {
  __m128 a = (__m128)r[0], b = (__m128)r[1], c = (__m128)r[2], d = (__m128)r[3];
  _MM_TRANSPOSE4_PS(a, b, c, d);
  r[0] = (VF)a;
  r[1] = (VF)b;
  r[2] = (VF)c;
  r[3] = (VF)d;
}
MARLIX_LANE_COMMON
}  // namespace sse2

MARLIX_AVX2_BEGIN
namespace avx2 {
constexpr int W = 8;
MARLIX_LANE_TYPES
// Rows become columns: r[k] lane j becomes r[j] lane k.
static inline void Transpose(VF* r) {
  __m256 t[8], u[8];
#pragma GCC unroll 4
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_ps((__m256)r[k], (__m256)r[k + 1]);  // lanes 0, 1, 4, 5 of rows k, k + 1
    t[k + 1] = _mm256_unpackhi_ps((__m256)r[k], (__m256)r[k + 1]);  // lanes 2, 3, 6, 7
  }
#pragma GCC unroll 2
  for (int k = 0; k < 8; k += 4) {
    u[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);  // lanes 0 and 4 of rows k .. k + 3
    u[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xee);  // 1 and 5
    u[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);  // 2 and 6
    u[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xee);  // 3 and 7
  }
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    r[j] = (VF)_mm256_permute2f128_ps(u[j], u[j + 4], 0x20);
    r[j + 4] = (VF)_mm256_permute2f128_ps(u[j], u[j + 4], 0x31);
  }
}
MARLIX_LANE_COMMON
}  // namespace avx2
MARLIX_AVX2_END

}  // namespace mxd3d

#undef MARLIX_LANE_COMMON
#undef MARLIX_LANE_TYPES

#endif
