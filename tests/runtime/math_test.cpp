// Math conventions and the routine table: row vectors, product order, rotation directions, slerp.
#include "kestra.h"
#include "scratch_dir.h"

#include <math.h>

#include <fstream>
#include <string>

namespace {

const float kTol = 1e-5f;

KSVector Apply(const KSMatrix& m, KSVector p)
{
    KSWorkVertex w = {};
    KSM_TransformPoint(&p, &m, &w);
    return KSVector{w.cx, w.cy, w.z};
}

::testing::AssertionResult Near(KSVector v, float x, float y, float z)
{
    if (fabsf(v.x - x) < 1e-4f && fabsf(v.y - y) < 1e-4f && fabsf(v.z - z) < 1e-4f)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

class MathTable : public ScratchDir {};

TEST_F(MathTable, TheLogSaysWhatTheProcessorHasAndTheSetComputes)
{
    int32_t saved = verbose;
    verbose = 1;
    KS_ChooseMath(KS_CPU_BASE | KS_CPU_3DNOW);
    KS_ChooseMath(KS_CPU_BASE | KS_CPU_MMX);
    verbose = 0;
    KS_ChooseMath(KS_CPU_BASE | KS_CPU_3DNOW);
    verbose = saved;
    std::string log = ReadFile("ks.log");
    size_t first = log.find('\n');
    ASSERT_NE(first, std::string::npos);
    ASSERT_GE(log.size(), first + 10);
    EXPECT_EQ(log.substr(9, first - 8), "AMD 3D Now Processor found\n");
    EXPECT_EQ(log.substr(first + 10), "AMD 3D Now Processor not found\n") << "two lines, verbose only";

    // Whichever set was chosen computes the same functions.
    KS_InitMath();
    float sc[2];
    KSM_SinCos((float)(KS_PI / 6), sc);
    EXPECT_NEAR(sc[0], sqrtf(3.0f) / 2, kTol) << "cosine first";
    EXPECT_NEAR(sc[1], 0.5f, kTol);
    EXPECT_FLOAT_EQ(KSM_Distance3D(1, 2, 3, 3, 5, 9), 7.0f);
    KSVector a = {1, 2, 3}, b = {4, 5, 6}, r;
    KSM_VecCross(&r, &a, &b);
    EXPECT_TRUE(Near(r, -3, 6, -3));
    KSVector x = {1, 0, 0}, y = {0, 1, 0};
    KSM_VecCross(&x, &x, &y);   // output may be an input
    EXPECT_TRUE(Near(x, 0, 0, 1));
}

TEST(MathRoutines, NormalizeIncludingTheZeroVector)
{
    KSVector v = {3, 0, 4};
    KSM_Normalize(&v);
    EXPECT_TRUE(Near(v, 0.6f, 0, 0.8f));
    KSVector zero = {0, 0, 0};
    KSM_Normalize(&zero);
    EXPECT_TRUE(Near(zero, 0, 0, 0));
    EXPECT_FALSE(isnan(zero.x));
}

// The kernel reads the same processor on its own: the features it lists are the ones detected.
TEST(CpuDetect, FeaturesAgreeWithTheKernelsList)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, listed;
    while (std::getline(cpuinfo, line))
        if (line.rfind("flags", 0) == 0) {
            listed = line.substr(line.find(':') + 1) + " ";
            break;
        }
    if (listed.empty())
        GTEST_SKIP() << "no processor flags in /proc/cpuinfo";
    uint32_t flags = KS_DetectCPU();
    const struct {
        const char* name;
        uint32_t bit;
    } features[] = {{"tsc", KS_CPU_TSC}, {"mmx", KS_CPU_MMX}, {"cmov", KS_CPU_CMOV}, {"sse", 0x0400},
                    {"3dnow", KS_CPU_3DNOW}};
    for (const auto& f : features)
        EXPECT_EQ(listed.find(std::string(" ") + f.name + " ") != std::string::npos, (flags & f.bit) != 0) << f.name;
}

TEST(Matrix, ProductAppliesTheSecondArgumentFirst)
{
    KSMatrix rot, trans, both;
    KS_MakeRotationMatrix(&rot, 0, 0, 90);
    KS_MatrixTranslation(&trans, 1, 2, 3);
    KSM_MatrixMultiply(&rot, &trans, &both);   // translate, then rotate
    EXPECT_TRUE(Near(Apply(both, KSVector{1, 0, 0}), -2, 2, 3));
    KS_MatrixProduct(&both, &rot, &trans);     // rotate, then translate
    EXPECT_TRUE(Near(Apply(both, KSVector{1, 0, 0}), 1, 3, 3));

    // A full 4x4 product: the fourth column takes part too.
    KSMatrix a, b, out;
    for (int i = 0; i < 16; i++) {
        a.m[i] = (float)(i + 1);
        b.m[i] = (float)(16 - i) * 0.5f;
    }
    KSM_MatrixMultiply(&a, &b, &out);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            float sum = 0;
            for (int k = 0; k < 4; k++)
                sum += b.m[r * 4 + k] * a.m[k * 4 + c];
            EXPECT_FLOAT_EQ(out.m[r * 4 + c], sum);
        }

    // The shared point is transformed in place, translation included.
    ksPoint = KSVector{1, 0, 0};
    rot.m[12] = 10;
    KS_TransformPoint(&rot);
    EXPECT_TRUE(Near(ksPoint, 10, 1, 0));
}

TEST(Matrix, RotationDirectionsAndOrder)
{
    KSMatrix m;
    KS_MakeRotationMatrix(&m, 0, 0, 90);
    EXPECT_TRUE(Near(Apply(m, KSVector{1, 0, 0}), 0, 1, 0));
    KS_MakeRotationMatrix(&m, 90, 0, 0);
    EXPECT_TRUE(Near(Apply(m, KSVector{0, 1, 0}), 0, 0, 1));
    KS_MakeRotationMatrix(&m, 0, 90, 0);
    EXPECT_TRUE(Near(Apply(m, KSVector{0, 0, 1}), 1, 0, 0));
    // X first, then Y, then Z: (0, 1, 0) -> (0, 0, 1) -> (1, 0, 0) -> (0, 1, 0).
    KS_MakeRotationMatrix(&m, 90, 90, 0);
    EXPECT_TRUE(Near(Apply(m, KSVector{0, 1, 0}), 1, 0, 0));
    KS_MakeRotationMatrix(&m, 90, 90, 90);
    EXPECT_TRUE(Near(Apply(m, KSVector{0, 1, 0}), 0, 1, 0));
}

TEST(Matrix, OrthonormalizeRepairsDriftAndKeepsTranslation)
{
    KSMatrix m;
    KS_MakeRotationMatrix(&m, 30, 40, 50);
    for (int i = 0; i < 11; i++)
        if (i % 4 != 3)
            m.m[i] *= 1.0f + 0.01f * (float)i;   // drifted, scaled, skewed
    m.m[12] = 7;
    KS_MatrixOrthonormalize(&m);
    KSVector rows[3];
    for (int r = 0; r < 3; r++)
        rows[r] = KSVector{m.m[r * 4], m.m[r * 4 + 1], m.m[r * 4 + 2]};
    for (int r = 0; r < 3; r++) {
        EXPECT_NEAR(KSM_VecLength(&rows[r]), 1.0f, kTol);
        for (int s = r + 1; s < 3; s++)
            EXPECT_NEAR(KSM_VecDot(&rows[r], &rows[s]), 0.0f, kTol);
    }
    KSVector cross;
    KSM_VecCross(&cross, &rows[0], &rows[1]);
    EXPECT_GT(KSM_VecDot(&cross, &rows[2]), 0.99f) << "handedness flipped";
    EXPECT_EQ(m.m[12], 7.0f);

    KS_MatrixZero(&m);   // degenerate input still ends as a rotation
    KS_MatrixOrthonormalize(&m);
    KSVector row = {m.m[4], m.m[5], m.m[6]};
    EXPECT_NEAR(KSM_VecLength(&row), 1.0f, kTol);
}

TEST(Quaternion, ProductAndMatrix)
{
    KSQuat i = {1, 0, 0, 0}, j = {0, 1, 0, 0}, k;
    KSM_QuatMultiply(&k, &i, &j);   // i j = k
    EXPECT_FLOAT_EQ(k.z, 1);
    KSM_QuatMultiply(&k, &j, &i);   // j i = -k
    EXPECT_FLOAT_EQ(k.z, -1);
    EXPECT_FLOAT_EQ(k.w, 0);

    // 90 degrees about z: the row for x is (1 - s(y^2 + z^2), s(xy - wz), s(xz + wy)).
    float h = sqrtf(0.5f);
    KSQuat q = {0, 0, 3 * h, 3 * h};   // not unit length: the 2 / n scale makes it a rotation
    KSMatrix m;
    KS_QuatToMatrix(&q, &m);
    EXPECT_NEAR(m.m[1], -1, kTol);
    EXPECT_NEAR(m.m[4], 1, kTol);
    EXPECT_NEAR(m.m[0], 0, kTol);
    EXPECT_NEAR(m.m[10], 1, kTol);
    KSQuat zero = {0, 0, 0, 0};   // gives the identity rather than a division by zero
    KS_QuatToMatrix(&zero, &m);
    for (int e = 0; e < 16; e++)
        EXPECT_EQ(m.m[e], (e % 5 == 0) ? 1.0f : 0.0f);
}

TEST(Quaternion, SlerpEqualOppositeAndHalfway)
{
    KSQuat q = {0.1825742f, 0.3651484f, 0.5477226f, 0.7302967f};
    KSQuat neg = {-q.x, -q.y, -q.z, -q.w};
    for (float t : {0.0f, 0.25f, 1.0f}) {
        KSQuat same, opposite;
        KS_QuatSlerp(&same, &q, &q, t, 0);
        KS_QuatSlerp(&opposite, &q, &neg, t, 0);
        EXPECT_NEAR(same.y, q.y, kTol) << t;
        EXPECT_NEAR(opposite.x, q.x, kTol) << t;
        EXPECT_NEAR(opposite.w, q.w, kTol) << t;
    }
    // Identity to 90 degrees about z, or to its negative (the shorter arc): halfway is 45 degrees.
    float h = sqrtf(0.5f);
    KSQuat a = {0, 0, 0, 1}, b = {0, 0, h, h}, nb = {0, 0, -h, -h};
    for (const KSQuat* to : {&b, &nb}) {
        KSQuat mid;
        KS_QuatSlerp(&mid, &a, to, 0.5f, 0);
        EXPECT_NEAR(mid.z, sinf((float)(KS_PI / 8)), kTol);
        EXPECT_NEAR(mid.w, cosf((float)(KS_PI / 8)), kTol);
    }
}

TEST(WorkVertex, LerpWeightsTheSecondWeightOnTheFirstVertex)
{
    KSWorkVertex a = {}, b = {}, out = {};
    a.cx = 0; a.cy = 10; a.z = 1; a.r = 100; a.a = 255; a.u = 0; a.v = 1; a.w2 = 2;
    b.cx = 4; b.cy = 20; b.z = 3; b.r = 200; b.a = 55; b.u = 1; b.v = 0; b.w2 = 6;
    out.code = 0x55;
    float weights[2] = {0.25f, 0.75f};   // a quarter of the way from a to b
    KSM_LerpVertex(weights, &a, &b, &out);
    EXPECT_FLOAT_EQ(out.cx, 1);
    EXPECT_FLOAT_EQ(out.cy, 12.5f);
    EXPECT_FLOAT_EQ(out.z, 1.5f);
    EXPECT_FLOAT_EQ(out.r, 125);
    EXPECT_FLOAT_EQ(out.a, 205);
    EXPECT_FLOAT_EQ(out.v, 0.75f);
    EXPECT_FLOAT_EQ(out.w2, 3);
    EXPECT_EQ(out.code, 0x55) << "the clip code is the clipper's, not interpolated";
}

}  // namespace
