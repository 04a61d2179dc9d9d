// Vector, matrix and quaternion math and the table of hot math routines.
//
// Conventions: matrices are 16 floats, row-major (element = row * 4 + column), applied to row
// vectors (p' = p . M) with the translation in the fourth row (elements 12, 13, 14). A product
// A . B applies A first, then B. Angles handed to KS_ operations are degrees; the table's
// trigonometric routines take radians.
//
// The hot routines are reached only through the math table that KS_InitMath fills once at start-up
// from the processor's features. The KSM_ names below are calls through the table's slots:
//     KSM_Normalize(&v);   float d = KSM_VecDot(&a, &b);
#ifndef KSMATH_H
#define KSMATH_H

#include <stddef.h>
#include <stdint.h>

#define KS_DEG2RAD 0.017453292519943295
#define KS_PI 3.14159265358979323846

struct KSVector {
    float x, y, z;
};

struct KSQuat {
    float x, y, z, w;
};

struct KSMatrix {
    float m[16];
};

// Packed normal: 1023 stands for 1.0.
struct KSPackedNormal {
    int16_t x, y, z;
};

// Marker value of a work vertex transformed this frame and not yet lit for a material.
#define KS_WV_TRANSFORMED 0xFBFF

// Per-vertex result of the per-frame transform (60 bytes): camera-space position (already scaled
// by the projection so the visible volume is |x| <= z, |y| <= z), screen position, colour and clip
// code. The clipper interpolates cx, cy, z, the three colours after z, then a, u, v and w2.
// The second-viewport screen position shares its storage with the texture coordinates: the
// pipeline writes a corner's u, v when it draws the corner, so a second position is only good
// between the transform and the drawing of the segment.
struct KSWorkVertex {
    float sx, sy;        // screen position
    float z;             // camera z (depth)
    float r, g, b;       // lit colour, 0..255
    uint32_t marker;     // KS_WV_TRANSFORMED, or the material index the vertex was lit for
    uint16_t code;       // clip code (KS_CLIP_*)
    uint16_t spare;
    float a;             // alpha, 0..255
    float rhw;           // projection constant / z
    union {
        float u;         // texture coordinates of the corner being drawn
        float sx2;       // or the screen position in the second viewport
    };
    union {
        float v;
        float sy2;
    };
    float w2;            // copy of the reciprocal depth
    float cx, cy;        // camera x and y
};
static_assert(sizeof(KSWorkVertex) == 60 && offsetof(KSWorkVertex, r) == 12 &&
                  offsetof(KSWorkVertex, marker) == 24 && offsetof(KSWorkVertex, code) == 28 &&
                  offsetof(KSWorkVertex, a) == 32 && offsetof(KSWorkVertex, rhw) == 36 &&
                  offsetof(KSWorkVertex, u) == 40 && offsetof(KSWorkVertex, sx2) == 40 &&
                  offsetof(KSWorkVertex, w2) == 48 && offsetof(KSWorkVertex, cx) == 52,
              "a work vertex is 60 bytes in this order");

// Clip code bits.
#define KS_CLIP_FAR 0x01
#define KS_CLIP_BOTTOM 0x02   // y < -z
#define KS_CLIP_TOP 0x04      // y > z
#define KS_CLIP_LEFT 0x08     // x < -z
#define KS_CLIP_RIGHT 0x10    // x > z
#define KS_CLIP_NEAR 0x20     // nearer than the near plane; no other bit computed
#define KS_CLIP_NEW 0x80      // made by clipping, still to be projected

// The math table: 25 routine slots in this order; every set fills every slot.
struct KSMathTable {
    float (*Distance2D)(float x1, float y1, float x2, float y2);
    float (*Distance3D)(float x1, float y1, float z1, float x2, float y2, float z2);
    void (*Normalize)(KSVector* v);                       // length 0 gives (0, 0, 0)
    float (*Atan)(float y);
    float (*Acos)(float x);
    float (*Asin)(float x);
    float (*Sqrt)(float x);
    float (*Fabs)(float x);
    float (*Ceil)(float x);
    float (*Floor)(float x);
    float (*Sin)(float x);
    float (*Cos)(float x);
    float (*Tan)(float x);
    void (*SinCos)(float angle, float* out);              // out[0] = cos, out[1] = sin
    // out = B . A: applies B first, then A. out must not be A or B.
    void (*MatrixMultiply)(const KSMatrix* a, const KSMatrix* b, KSMatrix* out);
    void (*QuatMultiply)(KSQuat* out, const KSQuat* q1, const KSQuat* q2);  // q1 (x) q2
    // Camera x, y, z of the work vertex = point . M, translation included.
    void (*TransformPoint)(const KSVector* point, const KSMatrix* m, KSWorkVertex* out);
    void (*VecAdd)(KSVector* out, const KSVector* a, const KSVector* b);
    void (*VecSub)(KSVector* out, const KSVector* a, const KSVector* b);
    void (*VecMul)(KSVector* out, const KSVector* a, const KSVector* b);
    void (*VecScale)(KSVector* out, const KSVector* a, float s);
    float (*VecLength)(const KSVector* a);
    float (*VecDot)(const KSVector* a, const KSVector* b);
    void (*VecCross)(KSVector* out, const KSVector* a, const KSVector* b);
    // out = a * weights[1] + b * weights[0] for cx, cy, z, r, g, b, a, u, v, w2.
    void (*LerpVertex)(const float* weights, const KSWorkVertex* a, const KSWorkVertex* b,
                       KSWorkVertex* out);
};

extern KSMathTable ksMathTable;

#define KSM_Distance2D (*ksMathTable.Distance2D)
#define KSM_Distance3D (*ksMathTable.Distance3D)
#define KSM_Normalize (*ksMathTable.Normalize)
#define KSM_Atan (*ksMathTable.Atan)
#define KSM_Acos (*ksMathTable.Acos)
#define KSM_Asin (*ksMathTable.Asin)
#define KSM_Sqrt (*ksMathTable.Sqrt)
#define KSM_Fabs (*ksMathTable.Fabs)
#define KSM_Ceil (*ksMathTable.Ceil)
#define KSM_Floor (*ksMathTable.Floor)
#define KSM_Sin (*ksMathTable.Sin)
#define KSM_Cos (*ksMathTable.Cos)
#define KSM_Tan (*ksMathTable.Tan)
#define KSM_SinCos (*ksMathTable.SinCos)
#define KSM_MatrixMultiply (*ksMathTable.MatrixMultiply)
#define KSM_QuatMultiply (*ksMathTable.QuatMultiply)
#define KSM_TransformPoint (*ksMathTable.TransformPoint)
#define KSM_VecAdd (*ksMathTable.VecAdd)
#define KSM_VecSub (*ksMathTable.VecSub)
#define KSM_VecMul (*ksMathTable.VecMul)
#define KSM_VecScale (*ksMathTable.VecScale)
#define KSM_VecLength (*ksMathTable.VecLength)
#define KSM_VecDot (*ksMathTable.VecDot)
#define KSM_VecCross (*ksMathTable.VecCross)
#define KSM_LerpVertex (*ksMathTable.LerpVertex)

// Processor feature word of KS_DetectCPU.
#define KS_CPU_BASE 0x0001       // always set
#define KS_CPU_CPUID 0x0002      // standard leaf 1 read
#define KS_CPU_EXTENDED 0x0004   // extended leaves present
#define KS_CPU_TSC 0x0010
#define KS_CPU_MMX 0x0020
#define KS_CPU_CMOV 0x0040
#define KS_CPU_3DNOW 0x0080
#define KS_CPU_3DNOW_EXT 0x0100
#define KS_CPU_MMX_EXT 0x0200
#define KS_CPU_K6_3 0x0800
#define KS_CPU_MTRR 0x1000
#define KS_CPU_SSE 0x0600

// The engine's shared point: KS_TransformPoint transforms it in place.
extern KSVector ksPoint;

uint32_t KS_DetectCPU(void);
// Fills the math table for a processor feature word: the 3DNow! set when the word has 3DNow! and
// the set is built, else the generic set. Logs (when verbose) whether the processor has 3DNow!.
void KS_ChooseMath(uint32_t flags);
// KS_ChooseMath for this processor.
void KS_InitMath(void);

void KS_MatrixIdentity(KSMatrix* m);
void KS_MatrixZero(KSMatrix* m);
void KS_MatrixTranslation(KSMatrix* m, float x, float y, float z);
void KS_MatrixScale(KSMatrix* m, float sx, float sy, float sz);
// M = Rx . Ry . Rz (X first), angles in degrees.
void KS_MakeRotationMatrix(KSMatrix* m, float ax, float ay, float az);
// Makes the 3x3 part orthonormal; the translation row is untouched.
void KS_MatrixOrthonormalize(KSMatrix* m);
void KS_QuatToMatrix(const KSQuat* q, KSMatrix* m);
void KS_QuatSlerp(KSQuat* out, const KSQuat* q1, const KSQuat* q2, float t, int32_t spins);
// ksPoint = ksPoint . M, translation included.
void KS_TransformPoint(const KSMatrix* m);
// out = a . b: a applied first, then b (through the table's product). out may alias a or b.
void KS_MatrixProduct(KSMatrix* out, const KSMatrix* a, const KSMatrix* b);
// Rotates a vector by the 3x3 part of M (row vector times matrix, no translation).
void KS_RotateVector(KSVector* out, const KSVector* v, const KSMatrix* m);

#endif
