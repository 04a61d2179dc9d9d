// Vector, matrix and quaternion math, processor detection and the math routine table.
#define KS_MODULE "ksmath"
#include "kestra.h"

#include <math.h>
#include <string.h>

#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
#include <cpuid.h>
#define KS_HAVE_CPUID 1
#endif

KSVector ksPoint = {0.0f, 0.0f, 0.0f};

// ---- generic routine set -------------------------------------------------------------------

static float KSG_Distance2D(float x1, float y1, float x2, float y2)
{
    float dx = x1 - x2, dy = y1 - y2;
    return sqrtf(dx * dx + dy * dy);
}

static float KSG_Distance3D(float x1, float y1, float z1, float x2, float y2, float z2)
{
    float dx = x1 - x2, dy = y1 - y2, dz = z1 - z2;
    return sqrtf(dx * dx + dy * dy + dz * dz);
}

static void KSG_Normalize(KSVector* v)
{
    float length = sqrtf(v->x * v->x + v->y * v->y + v->z * v->z);
    if (length == 0.0f) {
        v->x = v->y = v->z = 0.0f;
        return;
    }
    float inverse = 1.0f / length;
    v->x *= inverse;
    v->y *= inverse;
    v->z *= inverse;
}

static float KSG_Atan(float y) { return atanf(y); }
static float KSG_Acos(float x) { return acosf(x); }
static float KSG_Asin(float x) { return asinf(x); }
static float KSG_Sqrt(float x) { return sqrtf(x); }
static float KSG_Fabs(float x) { return fabsf(x); }
static float KSG_Ceil(float x) { return ceilf(x); }
static float KSG_Floor(float x) { return floorf(x); }
static float KSG_Sin(float x) { return sinf(x); }
static float KSG_Cos(float x) { return cosf(x); }
static float KSG_Tan(float x) { return tanf(x); }

static void KSG_SinCos(float angle, float* out)
{
    out[0] = cosf(angle);
    out[1] = sinf(angle);
}

// out = B . A (B applied first): out[r][c] = sum over k of B[r][k] * A[k][c], all 16 elements.
static void KSG_MatrixMultiply(const KSMatrix* a, const KSMatrix* b, KSMatrix* out)
{
    const float* A = a->m;
    const float* B = b->m;
    float* O = out->m;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
            O[r * 4 + c] = B[r * 4 + 0] * A[0 * 4 + c] + B[r * 4 + 1] * A[1 * 4 + c] +
                           B[r * 4 + 2] * A[2 * 4 + c] + B[r * 4 + 3] * A[3 * 4 + c];
}

// Shared by every set.
static void KSM_QuatMultiplyAll(KSQuat* out, const KSQuat* q1, const KSQuat* q2)
{
    KSQuat q;
    q.x = q1->w * q2->x + q1->x * q2->w + q1->y * q2->z - q1->z * q2->y;
    q.y = q1->w * q2->y + q1->y * q2->w + q1->z * q2->x - q1->x * q2->z;
    q.z = q1->w * q2->z + q1->z * q2->w + q1->x * q2->y - q1->y * q2->x;
    q.w = q1->w * q2->w - q1->x * q2->x - q1->y * q2->y - q1->z * q2->z;
    *out = q;   // out may be q1 or q2
}

static void KSG_TransformPoint(const KSVector* p, const KSMatrix* matrix, KSWorkVertex* out)
{
    const float* M = matrix->m;
    float x = p->x, y = p->y, z = p->z;
    out->cx = x * M[0] + y * M[4] + z * M[8] + M[12];
    out->cy = x * M[1] + y * M[5] + z * M[9] + M[13];
    out->z = x * M[2] + y * M[6] + z * M[10] + M[14];
}

static void KSG_VecAdd(KSVector* out, const KSVector* a, const KSVector* b)
{
    out->x = a->x + b->x;
    out->y = a->y + b->y;
    out->z = a->z + b->z;
}

static void KSG_VecSub(KSVector* out, const KSVector* a, const KSVector* b)
{
    out->x = a->x - b->x;
    out->y = a->y - b->y;
    out->z = a->z - b->z;
}

static void KSG_VecMul(KSVector* out, const KSVector* a, const KSVector* b)
{
    out->x = a->x * b->x;
    out->y = a->y * b->y;
    out->z = a->z * b->z;
}

static void KSG_VecScale(KSVector* out, const KSVector* a, float s)
{
    out->x = a->x * s;
    out->y = a->y * s;
    out->z = a->z * s;
}

static float KSG_VecLength(const KSVector* a)
{
    return sqrtf(a->x * a->x + a->y * a->y + a->z * a->z);
}

static float KSG_VecDot(const KSVector* a, const KSVector* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

static void KSG_VecCross(KSVector* out, const KSVector* a, const KSVector* b)
{
    KSVector r;
    r.x = a->y * b->z - a->z * b->y;
    r.y = a->z * b->x - a->x * b->z;
    r.z = a->x * b->y - a->y * b->x;
    *out = r;   // out may be a or b
}

// Shared by every set: out = a * w2 + b * w1 with weights = (w1, w2).
static void KSM_LerpVertexAll(const float* weights, const KSWorkVertex* a, const KSWorkVertex* b,
                              KSWorkVertex* out)
{
    float w1 = weights[0], w2 = weights[1];
    out->cx = a->cx * w2 + b->cx * w1;
    out->cy = a->cy * w2 + b->cy * w1;
    out->z = a->z * w2 + b->z * w1;
    out->r = a->r * w2 + b->r * w1;
    out->g = a->g * w2 + b->g * w1;
    out->b = a->b * w2 + b->b * w1;
    out->a = a->a * w2 + b->a * w1;
    out->u = a->u * w2 + b->u * w1;
    out->v = a->v * w2 + b->v * w1;
    out->w2 = a->w2 * w2 + b->w2 * w1;
}

static const KSMathTable ksGenericMath = {
    KSG_Distance2D, KSG_Distance3D, KSG_Normalize, KSG_Atan, KSG_Acos, KSG_Asin, KSG_Sqrt,
    KSG_Fabs, KSG_Ceil, KSG_Floor, KSG_Sin, KSG_Cos, KSG_Tan, KSG_SinCos, KSG_MatrixMultiply,
    KSM_QuatMultiplyAll, KSG_TransformPoint, KSG_VecAdd, KSG_VecSub, KSG_VecMul, KSG_VecScale,
    KSG_VecLength, KSG_VecDot, KSG_VecCross, KSM_LerpVertexAll,
};

static_assert(sizeof(KSMathTable) == 25 * sizeof(void (*)(void)), "the math table has 25 slots");

// Starts out on the generic set, so a call before KS_InitMath computes instead of jumping to null.
KSMathTable ksMathTable = ksGenericMath;

// The 3DNow! set is not part of this build; with it absent the generic set serves every processor.
static const KSMathTable* const ks3DNowMath = nullptr;

// ---- processor detection -------------------------------------------------------------------

uint32_t KS_DetectCPU(void)
{
    uint32_t flags = 0x01;
    char vendor[13];
    memcpy(vendor, "UnknownVendr", 13);
#if KS_HAVE_CPUID
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid_max also answers 0 on a processor without the CPUID instruction.
    unsigned int maxStandard = __get_cpuid_max(0, nullptr);
    if (maxStandard == 0)
        return flags;
    __cpuid(0, eax, ebx, ecx, edx);
    memcpy(vendor + 0, &ebx, 4);
    memcpy(vendor + 4, &edx, 4);
    memcpy(vendor + 8, &ecx, 4);
    vendor[12] = 0;
    if (eax == 0)
        return flags;

    flags |= 0x02;
    __cpuid(1, eax, ebx, ecx, edx);
    unsigned int signature = eax;
    if (edx & (1u << 4)) flags |= KS_CPU_TSC;
    if (edx & (1u << 23)) flags |= KS_CPU_MMX;
    if (edx & (1u << 15)) flags |= KS_CPU_CMOV;
    if (edx & (1u << 12)) flags |= KS_CPU_MTRR;
    if (edx & (1u << 25)) flags |= KS_CPU_SSE;

    __cpuid(0x80000000u, eax, ebx, ecx, edx);
    if (eax <= 0x80000000u)
        return flags;
    flags |= 0x04;

    __cpuid(0x80000001u, eax, ebx, ecx, edx);
    if (edx & (1u << 31)) flags |= KS_CPU_3DNOW;

    if (strcmp(vendor, "AuthenticAMD") == 0) {
        if (edx & (1u << 30)) flags |= KS_CPU_3DNOW_EXT;
        if (!(flags & KS_CPU_MMX_EXT) && (edx & (1u << 22))) flags |= KS_CPU_MMX_EXT;
        if (((signature - 0x588u) & 0xFFFu) < 0x78u) flags |= KS_CPU_K6_3;
    }
#endif
    return flags;
}

void KS_ChooseMath(uint32_t flags)
{
    // The line tells what the processor has, whichever set this build can give it.
    bool has3DNow = (flags & KS_CPU_3DNOW) != 0;
    if (verbose)
        KS_Log(has3DNow ? "AMD 3D Now Processor found" : "AMD 3D Now Processor not found");
    ksMathTable = has3DNow && ks3DNowMath ? *ks3DNowMath : ksGenericMath;
}

void KS_InitMath(void)
{
    KS_ChooseMath(KS_DetectCPU());
}

// ---- direct matrix and quaternion operations -----------------------------------------------

// out = A x B, the ordinary product (A applied first); out may alias neither.
static void KS_Product(const KSMatrix* a, const KSMatrix* b, KSMatrix* out)
{
    KSM_MatrixMultiply(b, a, out);
}

void KS_MatrixProduct(KSMatrix* out, const KSMatrix* a, const KSMatrix* b)
{
    KSMatrix result;
    KS_Product(a, b, &result);
    *out = result;
}

void KS_RotateVector(KSVector* out, const KSVector* v, const KSMatrix* m)
{
    const float* M = m->m;
    KSVector r;
    r.x = v->x * M[0] + v->y * M[4] + v->z * M[8];
    r.y = v->x * M[1] + v->y * M[5] + v->z * M[9];
    r.z = v->x * M[2] + v->y * M[6] + v->z * M[10];
    *out = r;
}

void KS_MatrixIdentity(KSMatrix* m)
{
    memset(m->m, 0, sizeof(m->m));
    m->m[0] = m->m[5] = m->m[10] = m->m[15] = 1.0f;
}

void KS_MatrixZero(KSMatrix* m)
{
    memset(m->m, 0, sizeof(m->m));
}

void KS_MatrixTranslation(KSMatrix* m, float x, float y, float z)
{
    KS_MatrixIdentity(m);
    m->m[12] = x;
    m->m[13] = y;
    m->m[14] = z;
}

void KS_MatrixScale(KSMatrix* m, float sx, float sy, float sz)
{
    KS_MatrixZero(m);
    m->m[0] = sx;
    m->m[5] = sy;
    m->m[10] = sz;
    m->m[15] = 1.0f;
}

void KS_MakeRotationMatrix(KSMatrix* m, float ax, float ay, float az)
{
    float cx = cosf((float)(ax * KS_DEG2RAD)), sx = sinf((float)(ax * KS_DEG2RAD));
    float cy = cosf((float)(ay * KS_DEG2RAD)), sy = sinf((float)(ay * KS_DEG2RAD));
    float cz = cosf((float)(az * KS_DEG2RAD)), sz = sinf((float)(az * KS_DEG2RAD));
    KSMatrix rx, ry, rz, rxy;
    KS_MatrixIdentity(&rx);
    rx.m[5] = cx;  rx.m[6] = sx;
    rx.m[9] = -sx; rx.m[10] = cx;
    KS_MatrixIdentity(&ry);
    ry.m[0] = cy; ry.m[2] = -sy;
    ry.m[8] = sy; ry.m[10] = cy;
    KS_MatrixIdentity(&rz);
    rz.m[0] = cz;  rz.m[1] = sz;
    rz.m[4] = -sz; rz.m[5] = cz;
    KS_Product(&rx, &ry, &rxy);
    KS_Product(&rxy, &rz, m);
}

void KS_MatrixOrthonormalize(KSMatrix* m)
{
    // Keeps the direction of the z axis (row 2) and the plane of the y and z axes; x and y are
    // rebuilt from cross products. Degenerate axes fall back to unit axes so the result is always
    // a rotation.
    KSVector x = {m->m[0], m->m[1], m->m[2]};
    KSVector y = {m->m[4], m->m[5], m->m[6]};
    KSVector z = {m->m[8], m->m[9], m->m[10]};
    KSM_Normalize(&z);
    if (z.x == 0.0f && z.y == 0.0f && z.z == 0.0f)
        z.z = 1.0f;
    KSVector nx;
    KSM_VecCross(&nx, &y, &z);
    KSM_Normalize(&nx);
    if (nx.x == 0.0f && nx.y == 0.0f && nx.z == 0.0f) {
        // y lies along z: take x off the old x axis, or any axis not along z.
        KSVector t;
        KSM_VecCross(&t, &z, &x);
        KSM_VecCross(&nx, &t, &z);
        KSM_Normalize(&nx);
        if (nx.x == 0.0f && nx.y == 0.0f && nx.z == 0.0f) {
            KSVector axis = fabsf(z.x) < 0.9f ? KSVector{1.0f, 0.0f, 0.0f} : KSVector{0.0f, 1.0f, 0.0f};
            KSM_VecCross(&t, &z, &axis);
            KSM_VecCross(&nx, &t, &z);
            KSM_Normalize(&nx);
        }
    }
    KSVector ny;
    KSM_VecCross(&ny, &z, &nx);
    KSM_Normalize(&ny);
    m->m[0] = nx.x; m->m[1] = nx.y; m->m[2] = nx.z;
    m->m[4] = ny.x; m->m[5] = ny.y; m->m[6] = ny.z;
    m->m[8] = z.x;  m->m[9] = z.y;  m->m[10] = z.z;
}

void KS_QuatToMatrix(const KSQuat* q, KSMatrix* m)
{
    float x = q->x, y = q->y, z = q->z, w = q->w;
    float n = x * x + y * y + z * z + w * w;
    float s = n != 0.0f ? 2.0f / n : 0.0f;
    float* M = m->m;
    M[0] = 1.0f - s * (y * y + z * z); M[1] = s * (x * y - w * z);        M[2] = s * (x * z + w * y);        M[3] = 0.0f;
    M[4] = s * (x * y + w * z);        M[5] = 1.0f - s * (x * x + z * z); M[6] = s * (y * z - w * x);        M[7] = 0.0f;
    M[8] = s * (x * z - w * y);        M[9] = s * (y * z + w * x);        M[10] = 1.0f - s * (x * x + y * y); M[11] = 0.0f;
    M[12] = 0.0f; M[13] = 0.0f; M[14] = 0.0f; M[15] = 1.0f;
}

void KS_QuatSlerp(KSQuat* out, const KSQuat* q1, const KSQuat* q2, float t, int32_t spins)
{
    float d = q1->x * q2->x + q1->y * q2->y + q1->z * q2->z + q1->w * q2->w;
    float a = fabsf(d);
    float w1, w2;
    if (1.0f - a >= 1e-6f) {
        float theta = KSM_Acos(a);
        float k = t * ((float)(spins * KS_PI) + theta);
        float sinTheta = sinf(theta);
        w1 = sinf(theta - k) / sinTheta;
        w2 = sinf(k) / sinTheta;
    } else {
        w1 = 1.0f - t;
        w2 = t;
    }
    if (d < 0.0f)
        w2 = -w2;
    KSQuat r;
    r.x = w1 * q1->x + w2 * q2->x;
    r.y = w1 * q1->y + w2 * q2->y;
    r.z = w1 * q1->z + w2 * q2->z;
    r.w = w1 * q1->w + w2 * q2->w;
    *out = r;
}

void KS_TransformPoint(const KSMatrix* m)
{
    KSWorkVertex work;
    KSM_TransformPoint(&ksPoint, m, &work);
    ksPoint.x = work.cx;
    ksPoint.y = work.cy;
    ksPoint.z = work.z;
}
