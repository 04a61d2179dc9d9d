// Vertex shaders of the software device: instruction results worked out by hand (read back through
// ProcessVertices, which hands out oT0..oT7), declarations, refusals, handles, constants and state
// blocks, and a lighting shader that must draw what the fixed-function pipeline draws.
#include "d3d8_test_util.h"
#include "ksshaderasm.h"
#include "test_common.h"

#include <float.h>
#include <math.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<DWORD> Assemble(const std::string& text) {
  std::vector<uint32_t> tokens;
  char error[256];
  EXPECT_EQ(1, KS_AssembleShader(text.data(), text.size(), &tokens, error, sizeof(error))) << error << "\n" << text;
  return std::vector<DWORD>(tokens.begin(), tokens.end());
}

const DWORD kTwoFloat4[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_REG(1, D3DVSDT_FLOAT4),
                            D3DVSD_END()};

struct In {
  float v0[4], v1[4];
};

// Reads what a shader leaves in oT0..oT7 (x and y of each) for every vertex: the device is set
// for eight texture stages and the vertices go through ProcessVertices.
struct Probe {
  TestDevice t;
  Probe() {
    for (DWORD s = 0; s < 8; ++s) t.dev->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  }
  // Runs `shader` over the vertex bytes; out gets 16 floats a vertex: oT0.xy, oT1.xy, ...
  std::vector<float> Run(const DWORD* declaration, const DWORD* function, const void* bytes, UINT stride,
                         UINT count) {
    std::vector<float> out;
    DWORD h = 0;
    EXPECT_EQ(D3D_OK, t.dev->CreateVertexShader(declaration, function, &h, 0));
    if (!h) return out;
    IDirect3DVertexBuffer8* src = nullptr;
    IDirect3DVertexBuffer8* dst = nullptr;
    const DWORD outFvf = D3DFVF_XYZRHW | D3DFVF_TEX8;
    const UINT outSize = 16 + 8 * 8;
    t.dev->CreateVertexBuffer(stride * count, 0, 0, D3DPOOL_MANAGED, &src);
    t.dev->CreateVertexBuffer(outSize * count, 0, outFvf, D3DPOOL_MANAGED, &dst);
    BYTE* p = nullptr;
    src->Lock(0, 0, &p, 0);
    memcpy(p, bytes, (size_t)stride * count);
    src->Unlock();
    EXPECT_EQ(D3D_OK, t.dev->SetVertexShader(h));
    t.dev->SetStreamSource(0, src, stride);
    EXPECT_EQ(D3D_OK, t.dev->ProcessVertices(0, 0, count, dst, 0));
    dst->Lock(0, 0, &p, 0);
    for (UINT v = 0; v < count; ++v) {
      const float* f = (const float*)(p + (size_t)v * outSize + 16);
      out.insert(out.end(), f, f + 16);
    }
    dst->Unlock();
    t.dev->SetStreamSource(0, nullptr, 0);
    t.dev->SetVertexShader(kTLFvf);
    t.dev->DeleteVertexShader(h);
    src->Release();
    dst->Release();
    return out;
  }
  // Runs a vs.1.1 body over two float4 inputs a vertex (v0, v1); the body leaves its results in
  // r0..r3, which come back as 16 floats a vertex (r0.xyzw, r1.xyzw, ...).
  std::vector<float> Body(const std::string& body, const std::vector<In>& in) {
    std::string text = "vs.1.1\n" + body +
                       "\nmov oPos, v0\n"
                       "mov oT0, r0\nmov oT1, r0.zwzw\nmov oT2, r1\nmov oT3, r1.zwzw\n"
                       "mov oT4, r2\nmov oT5, r2.zwzw\nmov oT6, r3\nmov oT7, r3.zwzw\n";
    std::vector<DWORD> f = Assemble(text);
    if (f.empty()) return {};
    // oPos from v0 needs w: the probe's vertices carry it in v0.w unless a test says otherwise.
    return Run(kTwoFloat4, f.data(), in.data(), sizeof(In), (UINT)in.size());
  }
  void Constants(UINT reg, std::initializer_list<float> values) {
    std::vector<float> v(values);
    ASSERT_EQ(D3D_OK, t.dev->SetVertexShaderConstant(reg, v.data(), (DWORD)(v.size() / 4)));
  }
};

void ExpectVec(const std::vector<float>& out, size_t at, float x, float y, float z, float w, float tol = 1e-5f) {
  ASSERT_GE(out.size(), at + 4);
  EXPECT_NEAR(x, out[at], tol) << "component x at " << at;
  EXPECT_NEAR(y, out[at + 1], tol) << "component y at " << at;
  EXPECT_NEAR(z, out[at + 2], tol) << "component z at " << at;
  EXPECT_NEAR(w, out[at + 3], tol) << "component w at " << at;
}

In V(float a, float b, float c, float d, float e = 0, float f = 0, float g = 0, float h = 1) {
  In i = {{a, b, c, d}, {e, f, g, h}};
  return i;
}

uint32_t BitsOf(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}

// ---- instruction families -------------------------------------------------------------------
TEST(VertexShader, LitClampsThePowerAndDropsBackFacingTerms) {
  Probe p;
  // v0 = (N.L, N.H, -, power); r0 = lit(v0).
  std::vector<float> o = p.Body("lit r0, v0\nlit r1, v1", {V(0.5f, 0.25f, 0, 2, -0.5f, 0.25f, 0, 2),
                                                           V(0.5f, -0.25f, 0, 2, 1, 2, 0, 200)});
  ExpectVec(o, 0, 1, 0.5f, 0.0625f, 1);  // 0.25^2
  ExpectVec(o, 4, 1, 0, 0, 1);           // facing away: no diffuse, no specular
  ExpectVec(o, 16, 1, 0.5f, 0, 1);       // N.H below zero: no specular
  // A power of 200 is held at 127.9961: 2^127.9961 stays finite.
  EXPECT_TRUE(std::isfinite(o[16 + 4 + 2]));
  EXPECT_NEAR(3.3936e38, (double)o[16 + 4 + 2], 0.001e38);
}

TEST(VertexShader, DstBuildsTheAttenuationVector) {
  Probe p;
  std::vector<float> o = p.Body("mov r1, v1\ndst r0, v0, r1", {V(9, 2, 3, 4, 5, 6, 7, 8)});
  ExpectVec(o, 0, 1, 12, 3, 8);
}

TEST(VertexShader, ExponentsAndLogarithmsFullAndPartial) {
  Probe p;
  std::vector<float> o = p.Body(
      "expp r0, v0.x\n"
      "logp r1, v0.y\n"
      "exp r2, v0.z\n"
      "log r3, v0.w\n",
      {V(2.5f, -12, -1, 8), V(0, 0, 3, 0)});
  // expp: 2^floor, fraction, 2^x with the low 8 mantissa bits cleared, 1.
  ExpectVec(o, 0, 4, 0.5f, 5.656854f, 1, 2e-4f);
  EXPECT_EQ(0u, BitsOf(o[2]) & 0xffu);
  // logp of |-12| = 1.5 * 2^3: exponent, mantissa, log2 partial, 1.
  ExpectVec(o, 4, 3, 1.5f, 3.5849625f, 1, 2e-4f);
  EXPECT_EQ(0u, BitsOf(o[6]) & 0xffu);
  ExpectVec(o, 8, 0.5f, 0.5f, 0.5f, 0.5f);  // exp replicates 2^x
  ExpectVec(o, 12, 3, 3, 3, 3);             // log replicates log2|x|
  // Second vertex: log of 0 is -FLT_MAX, logp of 0 is (-FLT_MAX, 1, -FLT_MAX, 1), 2^3 = 8.
  EXPECT_EQ(-FLT_MAX, o[16 + 12]);
  EXPECT_EQ(-FLT_MAX, o[16 + 4]);
  EXPECT_EQ(1.0f, o[16 + 5]);
  EXPECT_EQ(-FLT_MAX, o[16 + 6]);
  ExpectVec(o, 16 + 8, 8, 8, 8, 8);
}

TEST(VertexShader, ReciprocalsFractionsAndTheirSpecialCases) {
  Probe p;
  std::vector<float> o = p.Body(
      "mov r0, v1\n"
      "frc r0.xy, v0\n"
      "rcp r1.x, v0.z\n"
      "rsq r1.y, v0.w\n"
      "rcp r1.z, v1.x\n"
      "rsq r1.w, v1.x\n",
      {V(1.25f, -1.25f, 4, -4, 0, 7, 8, 9), V(3, 0.5f, 1, 1, 1, 7, 8, 9)});
  ExpectVec(o, 0, 0.25f, 0.75f, 8, 9);  // frc writes x and y only
  EXPECT_EQ(0.25f, o[4]);
  EXPECT_EQ(0.5f, o[5]);  // rsq takes |x|
  EXPECT_TRUE(std::isinf(o[6]) && o[6] > 0);  // 1/0
  EXPECT_TRUE(std::isinf(o[7]) && o[7] > 0);
  ExpectVec(o, 16, 0, 0.5f, 8, 9);
  // Exactly one for an input of exactly one.
  EXPECT_EQ(1.0f, o[16 + 4]);
  EXPECT_EQ(1.0f, o[16 + 5]);
}

TEST(VertexShader, MatrixMacrosAreRowsOfDotProducts) {
  Probe p;
  p.Constants(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, -1, -1, -1, -1});
  std::vector<float> o = p.Body(
      "mov r1, c4\nmov r3, c4\n"
      "m4x4 r0, v0, c0\n"
      "m4x3 r1, v0, c0\n"
      "m3x4 r2, v0, c0\n"
      "m3x3 r3, v0, c0\n",
      {V(1, 1, 2, 0.5f)});
  ExpectVec(o, 0, 11, 29, 47, 65);
  ExpectVec(o, 4, 11, 29, 47, -1);  // three rows; w kept
  ExpectVec(o, 8, 9, 25, 41, 57);
  ExpectVec(o, 12, 9, 25, 41, -1);
  o = p.Body("mov r0, c4\nm3x2 r0, v0, c0\nmov a0.x, v1.x\nm4x4 r1, v0, c[a0.x + 1]", {V(1, 1, 2, 0.5f, 1)});
  ExpectVec(o, 0, 9, 25, -1, -1);
  // Rows c2..c5 through a0.x = 1: c5 is unset (zero).
  ExpectVec(o, 4, 47, 65, -4.5f, 0);
}

TEST(VertexShader, RelativeAddressingFloorsA0AndReadsZeroOutsideTheConstants) {
  Probe p;
  for (UINT r = 0; r < 96; ++r) p.Constants(r, {(float)r, (float)r + 0.5f, -(float)r, 1});
  // One batch with a different a0 per vertex.
  std::vector<float> o = p.Body("mov a0.x, v1.x\nmov r0, c[a0.x + 2]\nmov r1, -c[a0.x + 93]",
                                {V(0, 0, 0, 1, 1.7f), V(0, 0, 0, 1, -0.5f), V(0, 0, 0, 1, 94), V(0, 0, 0, 1, -3)});
  ExpectVec(o, 0, 3, 3.5f, -3, 1);             // floor(1.7) = 1, not the nearest 2
  ExpectVec(o, 4, -94, -94.5f, 94, -1);         // c94
  ExpectVec(o, 16, 1, 1.5f, -1, 1);            // floor(-0.5) = -1: c1
  ExpectVec(o, 16 + 4, -92, -92.5f, 92, -1);
  ExpectVec(o, 32, 0, 0, 0, 0);                // c96: outside
  ExpectVec(o, 32 + 4, 0, 0, 0, 0);            // c187
  ExpectVec(o, 48, 0, 0, 0, 0);                // c-1
  ExpectVec(o, 48 + 4, -90, -90.5f, 90, -1);
}

TEST(VertexShader, SwizzlesMasksNegationAndArithmetic) {
  Probe p;
  p.Constants(0, {10, 20, 30, 40, -7, -7, -7, -7});
  std::vector<float> o = p.Body(
      "mov r0, -v0.wzyx\n"
      "mov r1, c1\n"
      "add r1.xz, v0, c0\n"
      "mov r2, v0\n"
      "add r2, r2.yzwx, r2\n"  // the destination is also a source
      "mad r3, v0, -v0.x, c0\n",
      {V(1, 2, 3, 4)});
  ExpectVec(o, 0, -4, -3, -2, -1);
  ExpectVec(o, 4, 11, -7, 33, -7);
  ExpectVec(o, 8, 3, 5, 7, 5);
  ExpectVec(o, 12, 9, 18, 27, 36);
  o = p.Body(
      "mul r0, v0, -v0\n"
      "sub r1, v0, v0.wwww\n"
      "min r2.xy, v0, v0.wzyx\n"
      "max r2.zw, v0, v0.wzyx\n"
      "slt r3.xy, v0.zwzw, v0.zzzz\n"
      "sge r3.zw, v0, v0.zzzz\n",
      {V(1, 2, 3, 4)});
  ExpectVec(o, 0, -1, -4, -9, -16);
  ExpectVec(o, 4, -3, -2, -1, 0);
  ExpectVec(o, 8, 1, 2, 3, 4);
  ExpectVec(o, 12, 0, 0, 1, 1);
  o = p.Body("dp3 r0, v0, -v0\ndp4 r1.yw, v0, c0\nmov r1.xz, c1", {V(1, 2, 3, 4)});
  ExpectVec(o, 0, -14, -14, -14, -14);
  ExpectVec(o, 4, -7, 300, -7, 300);
}

// ---- declarations ---------------------------------------------------------------------------
TEST(VertexShaderDeclaration, TypesExpandAsDirect3DDoesAndMissingComponentsDefault) {
  Probe p;
  struct Vtx {
    float pos[2];
    DWORD color;  // A8R8G8B8: bytes B, G, R, A in memory
    uint8_t ub[4];
    int16_t s2[2];
    int16_t s4[4];
    float f1;
  } v = {{0.5f, -0.5f}, 0x40806010u, {1, 2, 3, 255}, {-3, 7}, {1, -2, 3, -32768}, 2.5f};
  const DWORD decl[] = {D3DVSD_STREAM(0),
                        D3DVSD_REG(0, D3DVSDT_FLOAT2),
                        D3DVSD_REG(1, D3DVSDT_D3DCOLOR),
                        D3DVSD_REG(2, D3DVSDT_UBYTE4),
                        D3DVSD_REG(3, D3DVSDT_SHORT2),
                        D3DVSD_REG(4, D3DVSDT_SHORT4),
                        D3DVSD_REG(5, D3DVSDT_FLOAT1),
                        D3DVSD_END()};
  std::vector<DWORD> f = Assemble(
      "vs.1.1\nmov oPos, v0\nmov oT0, v0.zwzw\nmov oT1, v1\nmov oT2, v1.zwzw\nmov oT3, v2\nmov oT4, v2.zwzw\n"
      "mov oT5, v3.zwzw\nmov oT6, v4.zwzw\nmov oT7, v5\n");
  std::vector<float> o = p.Run(decl, f.data(), &v, sizeof(v), 1);
  ASSERT_EQ(16u, o.size());
  EXPECT_EQ(0.0f, o[0]);  // FLOAT2: z = 0, w = 1
  EXPECT_EQ(1.0f, o[1]);
  // D3DCOLOR 0x40806010: r = 0x80, g = 0x60, b = 0x10, a = 0x40.
  EXPECT_NEAR(128 / 255.0f, o[2], 1e-6f);
  EXPECT_NEAR(96 / 255.0f, o[3], 1e-6f);
  EXPECT_NEAR(16 / 255.0f, o[4], 1e-6f);
  EXPECT_NEAR(64 / 255.0f, o[5], 1e-6f);
  // UBYTE4 is not scaled.
  EXPECT_EQ(1.0f, o[6]);
  EXPECT_EQ(2.0f, o[7]);
  EXPECT_EQ(3.0f, o[8]);
  EXPECT_EQ(255.0f, o[9]);
  EXPECT_EQ(0.0f, o[10]);  // SHORT2: z = 0, w = 1
  EXPECT_EQ(1.0f, o[11]);
  EXPECT_EQ(3.0f, o[12]);
  EXPECT_EQ(-32768.0f, o[13]);
  EXPECT_EQ(2.5f, o[14]);
  EXPECT_EQ(0.0f, o[15]);  // FLOAT1: y = 0
}

TEST(VertexShaderDeclaration, TwoStreamsSkipsAndConstants) {
  TestDevice t;
  // Stream 0: position; stream 1: a skipped DWORD, then the colour. c7 comes with the shader.
  const DWORD decl[] = {D3DVSD_STREAM(0),
                        D3DVSD_REG(0, D3DVSDT_FLOAT4),
                        D3DVSD_STREAM(1),
                        D3DVSD_SKIP(1),
                        D3DVSD_REG(5, D3DVSDT_D3DCOLOR),
                        D3DVSD_CONST(7, 1),
                        FloatBits(0.0f),
                        FloatBits(0.0f),
                        FloatBits(1.0f),
                        FloatBits(0.0f),
                        D3DVSD_END()};
  std::vector<DWORD> f = Assemble("vs.1.1\nmov oPos, v0\nadd oD0, v5, c7\n");
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, f.data(), &h, 0));
  // A full-target quad in clip space.
  float pos[6][4] = {{-1, 1, 0.5f, 1}, {1, 1, 0.5f, 1}, {-1, -1, 0.5f, 1},
                     {1, 1, 0.5f, 1},  {1, -1, 0.5f, 1}, {-1, -1, 0.5f, 1}};
  DWORD colors[6][2];
  for (auto& c : colors) {
    c[0] = 0xffffffffu;  // skipped
    c[1] = 0xff804000u;
  }
  IDirect3DVertexBuffer8* vb0 = nullptr;
  IDirect3DVertexBuffer8* vb1 = nullptr;
  t.dev->CreateVertexBuffer(sizeof(pos), 0, 0, D3DPOOL_MANAGED, &vb0);
  t.dev->CreateVertexBuffer(sizeof(colors), 0, 0, D3DPOOL_MANAGED, &vb1);
  BYTE* p;
  vb0->Lock(0, 0, &p, 0);
  memcpy(p, pos, sizeof(pos));
  vb0->Unlock();
  vb1->Lock(0, 0, &p, 0);
  memcpy(p, colors, sizeof(colors));
  vb1->Unlock();
  ASSERT_EQ(D3D_OK, t.dev->SetVertexShader(h));
  float c7[4];
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderConstant(7, c7, 1));
  EXPECT_EQ(1.0f, c7[2]);  // loaded by SetVertexShader
  t.dev->SetStreamSource(0, vb0, 16);
  // Stream 1 is not set yet: the draw is refused.
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
  // A stride narrower than the declaration's eight bytes is refused too.
  t.dev->SetStreamSource(1, vb1, 4);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
  t.dev->SetStreamSource(1, vb1, 8);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 2));  // past the end
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
  // Red 0x80, green 0x40, blue 0 + 1.0 from c7.z.
  EXPECT_EQ(0x8040ffu, t.Rgb(3, 3));
  EXPECT_EQ(0x8040ffu, t.Rgb(12, 12));
  IDirect3DVertexBuffer8* got = nullptr;
  UINT stride = 0;
  ASSERT_EQ(D3D_OK, t.dev->GetStreamSource(1, &got, &stride));
  EXPECT_EQ(vb1, got);
  EXPECT_EQ(8u, stride);
  got->Release();
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetStreamSource(1, nullptr, 0);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(h);
  vb0->Release();
  vb1->Release();
}

TEST(VertexShaderDeclaration, ConstantsDefinedByTheFunctionLoadWithTheShader) {
  Probe p;
  p.Constants(5, {9, 9, 9, 9});
  std::vector<float> o = p.Body("def c5, 1, 2, 3, 4\nmov r0, c5", {V(0, 0, 0, 1)});
  ExpectVec(o, 0, 1, 2, 3, 4);
  float back[4];
  ASSERT_EQ(D3D_OK, p.t.dev->GetVertexShaderConstant(5, back, 1));
  EXPECT_EQ(4.0f, back[3]) << "set with the shader, as declaration constants are";
}

TEST(VertexShaderDeclaration, WithoutAFunctionTheDeclarationDrivesFixedFunction) {
  TestDevice t;
  // The layout of D3DFVF_XYZRHW is not expressible; D3DFVF_XYZ | D3DFVF_DIFFUSE is.
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3),
                        D3DVSD_REG(D3DVSDE_DIFFUSE, D3DVSDT_D3DCOLOR), D3DVSD_END()};
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, nullptr, &h, 0));
  struct V3 {
    float x, y, z;
    DWORD c;
  } q[3] = {{-1, 1, 0.5f, 0xff00ff00u}, {3, 1, 0.5f, 0xff00ff00u}, {-1, -3, 0.5f, 0xff00ff00u}};
  ASSERT_EQ(D3D_OK, t.dev->SetVertexShader(h));
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, q, sizeof(V3)));
  EXPECT_EQ(0x00ff00u, t.Rgb(8, 8));
  DWORD size = 123;
  EXPECT_EQ(D3D_OK, t.dev->GetVertexShaderFunction(h, nullptr, &size));
  EXPECT_EQ(0u, size);
  // A declaration out of the vertex formats' order cannot drive the fixed function.
  const DWORD swapped[] = {D3DVSD_STREAM(0), D3DVSD_REG(D3DVSDE_DIFFUSE, D3DVSDT_D3DCOLOR),
                           D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3), D3DVSD_END()};
  DWORD h2 = 0;
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreateVertexShader(swapped, nullptr, &h2, 0));
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(h);
}

TEST(VertexShader, OutputsFeedTextureStagesAndVertexFog) {
  TestDevice t;
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  // oT0 and oT1 are constant over the triangle; oFog comes from c2.x when c2 is set.
  std::vector<DWORD> fogged = Assemble("vs.1.1\nmov oPos, v0\nmov oD0, c0\nmov oT0, c1\nmov oT1, c1.zwxy\n"
                                       "mov oFog.x, c2.x\n");
  std::vector<DWORD> plain = Assemble("vs.1.1\nmov oPos, v0\nmov oD0, c0\n");
  DWORD hf = 0, hp = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, fogged.data(), &hf, 0));
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, plain.data(), &hp, 0));
  float c[3][4] = {{1, 1, 1, 1}, {0.75f, 0.25f, 0.25f, 0.75f}, {0.25f, 0, 0, 0}};
  t.dev->SetVertexShaderConstant(0, c, 3);
  // 2 x 2 texels: red, green / blue, white.
  const uint32_t texels[4] = {0xffff0000u, 0xff00ff00u, 0xff0000ffu, 0xffffffffu};
  IDirect3DTexture8* tex = t.Texture(2, 2, D3DFMT_A8R8G8B8, texels, 8);
  ASSERT_NE(nullptr, tex);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  float tri[3][4] = {{-1, 1, 0, 1}, {3, 1, 0, 1}, {-1, -3, 0, 1}};
  t.dev->SetVertexShader(hf);
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  EXPECT_EQ(0x00ff00u, t.Rgb(8, 8)) << "stage 0 samples oT0 = (0.75, 0.25)";
  t.dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  EXPECT_EQ(0x0000ffu, t.Rgb(8, 8)) << "stage 0 told to use set 1 samples oT1 = (0.25, 0.75)";
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  // Vertex fog: the factor is oFog, whatever the vertex fog mode says.
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  t.dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_FOGCOLOR, 0x00000000);
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  uint32_t fogged25 = t.Rgb(8, 8);
  EXPECT_NEAR(0x40, (int)(fogged25 & 0xff), 1);  // a quarter of white, the rest fog black
  EXPECT_EQ(fogged25 & 0xff, (fogged25 >> 16) & 0xff);
  t.dev->SetVertexShader(hp);
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  EXPECT_EQ(0xffffffu, t.Rgb(8, 8)) << "without oFog the vertices are not fogged";
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(hf);
  t.dev->DeleteVertexShader(hp);
}

// Texture transform flags name at most four coordinates: a larger projected count divides a
// shader's output by its w, as four does.
TEST(VertexShader, ProjectedCountsAboveFourDivideByW) {
  Probe probe;
  std::vector<DWORD> fn = Assemble("vs.1.1\nmov oPos, v0\nmov oT0, v1\nmov oT1, v0\n");
  std::vector<In> in = {{{0, 0, 0.5f, 1}, {1, 2, 3, 4}}};
  for (DWORD count : {4u, 5u, 0xffu}) {
    probe.t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, count | D3DTTFF_PROJECTED);
    std::vector<float> out = probe.Run(kTwoFloat4, fn.data(), in.data(), sizeof(In), 1);
    ASSERT_EQ(16u, out.size());
    EXPECT_EQ(0.25f, out[0]) << "count " << count;
    EXPECT_EQ(0.5f, out[1]) << "count " << count;
  }
}

// A colour a shader makes out of infinities (0 x 1/0) is not a number: it is written as 0, not
// converted into whatever an out-of-range float becomes.
TEST(VertexShader, ColoursThatAreNotANumberComeOutAsZero) {
  TestDevice t;
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  std::vector<DWORD> f = Assemble("vs.1.1\nmov oPos, v0\nrcp r0.x, c0.x\nmul r1, r0.x, c0.x\n"
                                  "mov oD0.xyz, r1\nmov oD0.w, c0.y");
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, f.data(), &h, 0));
  const float c0[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  t.dev->SetVertexShaderConstant(0, c0, 1);
  const float vertex[4] = {0, 0, 0, 1};
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &src));
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(20, 0, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &dst));
  BYTE* p = nullptr;
  src->Lock(0, 0, &p, 0);
  memcpy(p, vertex, 16);
  src->Unlock();
  t.dev->SetVertexShader(h);
  t.dev->SetStreamSource(0, src, 16);
  ASSERT_EQ(D3D_OK, t.dev->ProcessVertices(0, 0, 1, dst, 0));
  DWORD colour = 0x12345678;
  dst->Lock(0, 0, &p, D3DLOCK_READONLY);
  memcpy(&colour, p + 16, 4);
  dst->Unlock();
  EXPECT_EQ(0xff000000u, colour) << std::hex << colour;
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(h);
  src->Release();
  dst->Release();
}

// ---- token streams as documented, refusals --------------------------------------------------
TEST(VertexShader, DocumentedTokensDrawAndMatchTheAssembler) {
  TestDevice t;
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  const DWORD function[] = {
      0xFFFE0101,              // vs.1.1
      0x0002FFFE, 0x1234, 0,   // a comment of two DWORDs
      0x00000001, 0xC00F0000,  // mov oPos,
      0x90E40000,              //   v0
      0x00000001, 0xD00F0000,  // mov oD0,
      0xA0E40003,              //   c3
      0x0000FFFF,              // end
  };
  std::vector<DWORD> same = Assemble("vs.1.1\n; a comment\nmov oPos, v0\nmov oD0, c3\n");
  std::vector<DWORD> bare(function, function + 1);
  bare.insert(bare.end(), function + 4, function + 11);
  EXPECT_EQ(bare, same);
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, function, &h, 0));
  EXPECT_EQ(1u, h & 1) << "shader handles are odd, unlike vertex formats";
  float c3[4] = {0.2f, 0.4f, 1.0f, 1.0f};
  t.dev->SetVertexShaderConstant(3, c3, 1);
  ASSERT_EQ(D3D_OK, t.dev->SetVertexShader(h));
  DWORD got = 0;
  t.dev->GetVertexShader(&got);
  EXPECT_EQ(h, got);
  float tri[3][4] = {{-1, 1, 0, 1}, {3, 1, 0, 1}, {-1, -3, 0, 1}};
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  EXPECT_EQ(0x3366ffu, t.Rgb(5, 9));  // 0.2 * 255 = 51, 0.4 * 255 = 102
  // The function and declaration come back as given, with size queries.
  DWORD size = 0;
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderFunction(h, nullptr, &size));
  EXPECT_EQ(sizeof(function), size);
  std::vector<DWORD> back(size / 4);
  DWORD small = 8;
  EXPECT_EQ(D3DERR_MOREDATA, t.dev->GetVertexShaderFunction(h, back.data(), &small));
  EXPECT_EQ(sizeof(function), small);
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderFunction(h, back.data(), &size));
  EXPECT_EQ(0, memcmp(back.data(), function, sizeof(function)));
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderDeclaration(h, nullptr, &size));
  EXPECT_EQ(sizeof(decl), size);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->GetVertexShaderDeclaration(kTLFvf, nullptr, &size)) << "a vertex format";
  // Deleting the bound shader is safe; drawing with its handle is refused afterwards.
  EXPECT_EQ(D3D_OK, t.dev->DeleteVertexShader(h));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 16));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetVertexShader(h));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DeleteVertexShader(h));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->GetVertexShaderFunction(h, nullptr, &size));
  t.dev->SetVertexShader(kTLFvf);
}

TEST(VertexShader, RefusesWhatVertexShader11CannotRun) {
  TestDevice t;
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  auto refused = [&](const std::vector<DWORD>& f) {
    DWORD h = 0xdead;
    return t.dev->CreateVertexShader(decl, f.data(), &h, 0) == D3DERR_INVALIDCALL;
  };
  const DWORD end = 0x0000FFFF, movPos = 0x00000001, oPos = 0xC00F0000, v0 = 0x90E40000;
  EXPECT_FALSE(refused({0xFFFE0101, movPos, oPos, v0, end}));
  EXPECT_FALSE(refused({0xFFFE0100, movPos, oPos, v0, end}));
  EXPECT_TRUE(refused({0xFFFF0101, movPos, oPos, v0, end}));  // a pixel shader version
  EXPECT_TRUE(refused({0xFFFE0200, movPos, oPos, v0, end}));  // vs.2.0
  EXPECT_TRUE(refused({0xFFFE0101, 18, 0x800F0000, v0, v0, v0, end}));  // lrp is a pixel instruction
  EXPECT_TRUE(refused({0xFFFE0101, 66, 0x800F0000, end}));               // tex
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0x800F000C, v0, end}));       // r12
  EXPECT_TRUE(refused({0xFFFE0101, movPos, oPos, 0x90E40010, end}));     // v16
  EXPECT_TRUE(refused({0xFFFE0101, movPos, oPos, 0xA0E40060, end}));     // c96
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0xE00F0008, v0, end}));       // oT8
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0xD00F0002, v0, end}));       // oD2
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0xC00F0003, v0, end}));       // rasterizer output 3
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0x801F0000, v0, end}));       // saturate
  EXPECT_TRUE(refused({0xFFFE0101, movPos, oPos, 0x92E40000, end}));     // bias: only negation
  EXPECT_TRUE(refused({0xFFFE0101, movPos, oPos, 0x10E40000, end}));     // parameter without bit 31
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0x80000000, v0, end}));       // empty write mask
  EXPECT_TRUE(refused({0xFFFE0101, 0x01000001, oPos, v0, end}));         // instruction length bits
  // The address register: vs.1.1 only, written by mov alone, x only, never read.
  EXPECT_FALSE(refused({0xFFFE0101, movPos, 0xB0010000, v0, end}));
  EXPECT_TRUE(refused({0xFFFE0100, movPos, 0xB0010000, v0, end}));
  EXPECT_TRUE(refused({0xFFFE0101, 2, 0xB0010000, v0, v0, end}));
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0xB00F0000, v0, end}));
  EXPECT_TRUE(refused({0xFFFE0101, movPos, oPos, 0xB0E40000, end}));
  EXPECT_TRUE(refused({0xFFFE0100, movPos, oPos, 0xA0E42000, end}));  // c[a0.x] in vs.1.0
  EXPECT_FALSE(refused({0xFFFE0101, movPos, oPos, 0xA0E42000, end}));
  // One constant and one input register per instruction.
  EXPECT_TRUE(refused({0xFFFE0101, 2, oPos, 0xA0E40000, 0xA0E40001, end}));
  EXPECT_FALSE(refused({0xFFFE0101, 2, oPos, 0xA0E40001, 0xA0E40001, end}));
  EXPECT_TRUE(refused({0xFFFE0101, 2, oPos, 0x90E40000, 0x90E40001, end}));
  // A matrix macro may not write the register it reads; rows must exist.
  EXPECT_TRUE(refused({0xFFFE0101, movPos, 0x800F0000, v0, 20, 0x800F0000, 0x80E40000, 0xA0E40000, end}));
  EXPECT_TRUE(refused({0xFFFE0101, 20, 0x800F0000, v0, 0xA0E4005D, end}));  // c93..c96
  EXPECT_TRUE(refused({0xFFFE0101, 19, 0x80070000, v0, end}));              // frc writes x and y only
  // Too many instruction slots for vs.1.1.
  std::vector<DWORD> longer = {0xFFFE0101};
  for (int i = 0; i < 129; ++i) longer.insert(longer.end(), {movPos, oPos, v0});
  longer.push_back(end);
  EXPECT_TRUE(refused(longer));
  longer.erase(longer.end() - 4, longer.end() - 1);
  EXPECT_FALSE(refused(longer));
  // Declarations.
  const DWORD f[] = {0xFFFE0101, movPos, oPos, v0, end};
  auto declRefused = [&](std::vector<DWORD> d) {
    DWORD h = 0;
    return t.dev->CreateVertexShader(d.data(), f, &h, 0) == D3DERR_INVALIDCALL;
  };
  EXPECT_TRUE(declRefused({D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()}));  // no stream
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_REG(0, D3DVSDT_FLOAT4),
                           D3DVSD_END()}));                                  // v0 twice
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), D3DVSD_REG(16, D3DVSDT_FLOAT4), D3DVSD_END()}));
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), D3DVSD_REG(0, 8), D3DVSD_END()}));
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), D3DVSD_CONST(95, 2), 0, 0, 0, 0, 0, 0, 0, 0, D3DVSD_END()}));
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), D3DVSD_STREAM(0), D3DVSD_END()}));
  EXPECT_TRUE(declRefused({D3DVSD_STREAM(0), 0xC0000000u, D3DVSD_END()}));  // token type 6
  // Tessellator tokens are accepted and have no effect.
  EXPECT_FALSE(declRefused({D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_REG(3, D3DVSDT_FLOAT3),
                            D3DVSD_STREAM_TESS(), D3DVSD_TESSNORMAL(0, 4), D3DVSD_END()}));
  DWORD h = 0;
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreateVertexShader(nullptr, f, &h, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreateVertexShader(decl, f, &h, D3DUSAGE_RENDERTARGET));
}

// ---- constants and state blocks -------------------------------------------------------------
TEST(VertexShader, ConstantsAreRangeCheckedAndStateBlocksKeepThemAsDirect3D8Does) {
  TestDevice t;
  float four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(D3D_OK, t.dev->SetVertexShaderConstant(94, four, 2));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetVertexShaderConstant(95, four, 2));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetVertexShaderConstant(1, four, 0xffffffffu));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->GetVertexShaderConstant(96, four, 1));
  float back[4];
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderConstant(95, back, 1));
  EXPECT_EQ(8.0f, back[3]);
  D3DCAPS8 caps;
  t.dev->GetDeviceCaps(&caps);
  EXPECT_EQ(D3DVS_VERSION(1, 1), caps.VertexShaderVersion);
  EXPECT_EQ(96u, caps.MaxVertexShaderConst);
  EXPECT_EQ(16u, caps.MaxStreams);

  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  std::vector<DWORD> f = Assemble("vs.1.1\nmov oPos, v0\n");
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(decl, f.data(), &h, 0));
  float one[4] = {1, 1, 1, 1}, two[4] = {2, 2, 2, 2};
  t.dev->SetVertexShaderConstant(10, one, 1);
  t.dev->SetVertexShader(h);
  DWORD all = 0, vertex = 0, recorded = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateStateBlock(D3DSBT_ALL, &all));
  ASSERT_EQ(D3D_OK, t.dev->CreateStateBlock(D3DSBT_VERTEXSTATE, &vertex));
  t.dev->BeginStateBlock();
  t.dev->SetVertexShaderConstant(11, two, 1);
  t.dev->EndStateBlock(&recorded);
  ASSERT_EQ(D3D_OK, t.dev->GetVertexShaderConstant(11, back, 1));
  EXPECT_EQ(0.0f, back[0]) << "recording leaves the device's constants alone";

  t.dev->SetVertexShaderConstant(10, two, 1);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->ApplyStateBlock(vertex);  // the shader, not the constants
  DWORD got = 0;
  t.dev->GetVertexShader(&got);
  EXPECT_EQ(h, got);
  t.dev->GetVertexShaderConstant(10, back, 1);
  EXPECT_EQ(2.0f, back[0]);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->ApplyStateBlock(all);  // both
  t.dev->GetVertexShader(&got);
  EXPECT_EQ(h, got);
  t.dev->GetVertexShaderConstant(10, back, 1);
  EXPECT_EQ(1.0f, back[0]);
  t.dev->ApplyStateBlock(recorded);  // only c11
  t.dev->GetVertexShaderConstant(11, back, 1);
  EXPECT_EQ(2.0f, back[0]);
  t.dev->GetVertexShaderConstant(10, back, 1);
  EXPECT_EQ(1.0f, back[0]);
  for (DWORD b : {all, vertex, recorded}) t.dev->DeleteStateBlock(b);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(h);
}

// ---- the fixed-function lighting, as a shader -----------------------------------------------
struct MeshVertex {
  float x, y, z, nx, ny, nz;
};

void Sphere(int rings, int segments, std::vector<MeshVertex>& v, std::vector<uint16_t>& idx) {
  for (int r = 0; r <= rings; ++r) {
    float th = 3.14159265f * (float)r / (float)rings;
    for (int s = 0; s <= segments; ++s) {
      float ph = 2.0f * 3.14159265f * (float)s / (float)segments;
      float nx = sinf(th) * cosf(ph), ny = cosf(th), nz = sinf(th) * sinf(ph);
      v.push_back({nx, ny, nz, nx, ny, nz});
    }
  }
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      uint16_t a = (uint16_t)(r * (segments + 1) + s), b = (uint16_t)(a + segments + 1);
      idx.insert(idx.end(), {a, b, (uint16_t)(a + 1), (uint16_t)(a + 1), b, (uint16_t)(b + 1)});
    }
}

D3DMATRIX Mul(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = 0;
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    }
  return r;
}

TEST(VertexShader, LightingShaderDrawsWhatTheFixedFunctionDraws) {
  const int W = 64, H = 64;
  TestDevice ff(W, H), vsd(W, H);
  std::vector<MeshVertex> v;
  std::vector<uint16_t> idx;
  Sphere(16, 24, v, idx);
  // World: a turn about y and x; view: 3 units back; projection: 60 degrees, near 1, far 10.
  D3DMATRIX world, view, proj;
  memset(&world, 0, sizeof(world));
  float a = 0.6f, b = 0.3f;
  D3DMATRIX ry = {{{cosf(a), 0, -sinf(a), 0, 0, 1, 0, 0, sinf(a), 0, cosf(a), 0, 0, 0, 0, 1}}};
  D3DMATRIX rx = {{{1, 0, 0, 0, 0, cosf(b), sinf(b), 0, 0, -sinf(b), cosf(b), 0, 0, 0, 0, 1}}};
  world = Mul(ry, rx);
  view = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 3, 0}}};
  view._44 = 1;
  float yscale = 1.0f / tanf(0.5236f), q = 10.0f / 9.0f;
  proj = {{{yscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, q, 1, 0, 0, -q, 0}}};
  D3DMATERIAL8 mat;
  memset(&mat, 0, sizeof(mat));
  mat.Diffuse = {0.8f, 0.6f, 0.4f, 1.0f};
  mat.Ambient = {0.5f, 0.7f, 0.9f, 1.0f};
  D3DLIGHT8 light;
  memset(&light, 0, sizeof(light));
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {1.0f, 0.9f, 0.8f, 1.0f};
  light.Direction = {0.5f, -0.6f, 0.62f};
  const DWORD ambient = 0x00302820;  // global ambient

  auto upload = [&](IDirect3DDevice8* dev, IDirect3DVertexBuffer8** vb, IDirect3DIndexBuffer8** ib) {
    dev->CreateVertexBuffer((UINT)(v.size() * sizeof(MeshVertex)), 0, D3DFVF_XYZ | D3DFVF_NORMAL, D3DPOOL_MANAGED,
                            vb);
    dev->CreateIndexBuffer((UINT)(idx.size() * 2), 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib);
    BYTE* p;
    (*vb)->Lock(0, 0, &p, 0);
    memcpy(p, v.data(), v.size() * sizeof(MeshVertex));
    (*vb)->Unlock();
    (*ib)->Lock(0, 0, &p, 0);
    memcpy(p, idx.data(), idx.size() * 2);
    (*ib)->Unlock();
    dev->SetStreamSource(0, *vb, sizeof(MeshVertex));
    dev->SetIndices(*ib, 0);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  };
  IDirect3DVertexBuffer8 *vb1, *vb2;
  IDirect3DIndexBuffer8 *ib1, *ib2;

  // Fixed function.
  upload(ff.dev, &vb1, &ib1);
  ff.dev->SetTransform(D3DTS_WORLD, &world);
  ff.dev->SetTransform(D3DTS_VIEW, &view);
  ff.dev->SetTransform(D3DTS_PROJECTION, &proj);
  ff.dev->SetMaterial(&mat);
  ff.dev->SetLight(0, &light);
  ff.dev->LightEnable(0, TRUE);
  ff.dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  ff.dev->SetRenderState(D3DRS_AMBIENT, ambient);
  ff.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL);
  ASSERT_EQ(D3D_OK, ff.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, (UINT)v.size(), 0, (UINT)idx.size() / 3));

  // The same with a vs.1.1 shader: world-view-projection, the normal turned into world space,
  // diffuse + ambient from one directional light and the material.
  upload(vsd.dev, &vb2, &ib2);
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_REG(3, D3DVSDT_FLOAT3),
                        D3DVSD_END()};
  std::vector<DWORD> f = Assemble(
      "vs.1.1\n"
      "m4x4 oPos, v0, c0      ; c0-c3: world-view-projection, transposed\n"
      "m3x3 r0, v3, c4        ; c4-c6: world, transposed\n"
      "dp3 r1.x, r0, c7       ; c7: towards the light\n"
      "max r1.x, r1.x, c10.x  ; c10: zero\n"
      "mul r1, r1.x, c8       ; c8: material diffuse x light\n"
      "add oD0, r1, c9        ; c9: material ambient x global ambient\n");
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, vsd.dev->CreateVertexShader(decl, f.data(), &h, 0));
  D3DMATRIX wvp = Mul(Mul(world, view), proj);
  float c[11][4];
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k) c[r][k] = wvp.m[k][r];
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k) c[4 + r][k] = world.m[k][r];
    c[4 + r][3] = 0;
  }
  float len = sqrtf(0.5f * 0.5f + 0.6f * 0.6f + 0.62f * 0.62f);
  float L[4] = {-0.5f / len, 0.6f / len, -0.62f / len, 0};
  memcpy(c[7], L, 16);
  float amb[3] = {0x30 / 255.0f, 0x28 / 255.0f, 0x20 / 255.0f};
  float ld[3] = {1.0f, 0.9f, 0.8f}, md[3] = {0.8f, 0.6f, 0.4f}, ma[3] = {0.5f, 0.7f, 0.9f};
  for (int k = 0; k < 3; ++k) {
    c[8][k] = md[k] * ld[k];
    c[9][k] = ma[k] * amb[k];
  }
  c[8][3] = 0;
  c[9][3] = 1;  // alpha: the material's diffuse alpha
  memset(c[10], 0, 16);
  vsd.dev->SetVertexShaderConstant(0, c, 11);
  vsd.dev->SetVertexShader(h);
  ASSERT_EQ(D3D_OK, vsd.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, (UINT)v.size(), 0, (UINT)idx.size() / 3));

  int covered = 0, worst = 0;
  uint32_t brightest = 0, darkest = 0xffffff;
  std::vector<uint32_t> side(2 * W * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t p = ff.Rgb(x, y), s = vsd.Rgb(x, y);
      side[(size_t)y * 2 * W + x] = p | 0xff000000u;
      side[(size_t)y * 2 * W + W + x] = s | 0xff000000u;
      if (p) {
        ++covered;
        brightest = std::max(brightest, p & 0xff0000);
        darkest = std::min(darkest, p & 0xff0000);
      }
      for (int sh = 0; sh < 24; sh += 8) {
        int d = abs((int)((p >> sh) & 255) - (int)((s >> sh) & 255));
        worst = std::max(worst, d);
      }
    }
  WriteTestPng("vshader_lighting.png", side.data(), 2 * W, H, 2 * W * 4);
  EXPECT_GT(covered, 1000) << "the sphere covers a good part of the target";
  EXPECT_GT(brightest, darkest + 0x500000u) << "lit and unlit sides differ";
  EXPECT_LE(worst, 1) << "shader and fixed function differ by more than 1/255";
  for (TestDevice* t : {&ff, &vsd}) {
    t->dev->SetStreamSource(0, nullptr, 0);
    t->dev->SetIndices(nullptr, 0);
    t->dev->SetVertexShader(kTLFvf);
  }
  vsd.dev->DeleteVertexShader(h);
  vb1->Release();
  vb2->Release();
  ib1->Release();
  ib2->Release();
}

}  // namespace
