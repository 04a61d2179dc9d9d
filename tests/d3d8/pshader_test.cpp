// Pixel shaders on the software device: instructions and modifiers against values worked out by
// hand, the texture addressing operations on small hand-made textures, both phases of ps.1.4,
// discards and depth output, refused token streams, constants and lifetime across queued draws.
#include "d3d8_test_util.h"

#include <ksshaderasm.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

// Pre-transformed vertex with six four-component coordinate sets.
struct SVertex {
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float t[6][4];
};
const DWORD kSFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX6 | D3DFVF_TEXCOORDSIZE4(0) |
                    D3DFVF_TEXCOORDSIZE4(1) | D3DFVF_TEXCOORDSIZE4(2) | D3DFVF_TEXCOORDSIZE4(3) |
                    D3DFVF_TEXCOORDSIZE4(4) | D3DFVF_TEXCOORDSIZE4(5);

// v0 = (0.2, 0.4, 0.6, 0.8)
const DWORD kDiffuse = 0xcc336699;

DWORD Shader(TestDevice& t, const char* source) {
  std::vector<uint32_t> tokens;
  char error[200];
  EXPECT_EQ(1, KS_AssembleShader(source, strlen(source), &tokens, error, sizeof(error))) << error << "\n" << source;
  DWORD h = 0;
  EXPECT_EQ(D3D_OK, t.dev->CreatePixelShader(reinterpret_cast<const DWORD*>(tokens.data()), &h)) << source;
  EXPECT_NE(0u, h);
  return h;
}

// A rectangle whose every vertex carries the same colour and coordinate sets.
void Rect(TestDevice& t, float x0, float y0, float x1, float y1, const float (*sets)[4], int count,
          DWORD diffuse = kDiffuse, float z = 0.5f) {
  SVertex v[4];
  const float xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
  for (int i = 0; i < 4; ++i) {
    memset(&v[i], 0, sizeof(v[i]));
    v[i].x = xs[i];
    v[i].y = ys[i];
    v[i].z = z;
    v[i].rhw = 1.0f;
    v[i].diffuse = diffuse;
    v[i].specular = 0xff000000u;
    for (int s = 0; s < count; ++s) memcpy(v[i].t[s], sets[s], sizeof(v[i].t[s]));
  }
  t.dev->SetVertexShader(kSFvf);
  EXPECT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(SVertex)));
  t.dev->SetVertexShader(kTLFvf);
}

void Full(TestDevice& t, const float (*sets)[4] = nullptr, int count = 0) {
  Rect(t, 0, 0, (float)t.width, (float)t.height, sets, count);
}

// A 4x4 texture whose texel (x, y) is red 16 + 64 x, green 16 + 64 y, blue 0x80.
IDirect3DTexture8* Grid(TestDevice& t) {
  uint32_t texels[16];
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) texels[4 * y + x] = 0xff000080u | (uint32_t)(16 + 64 * x) << 16 | (uint32_t)(16 + 64 * y) << 8;
  return t.Texture(4, 4, D3DFMT_A8R8G8B8, texels, 16);
}

IDirect3DTexture8* Solid(TestDevice& t, uint32_t argb) { return t.Texture(1, 1, D3DFMT_A8R8G8B8, &argb, 4); }

uint32_t GridTexel(int x, int y) { return (uint32_t)(16 + 64 * x) << 16 | (uint32_t)(16 + 64 * y) << 8 | 0x80u; }

}  // namespace

TEST(D3D8PixelShader, ArithmeticWithModifiersOnKnownValues) {
  TestDevice t(4, 4);
  const float c1[4] = {-0.5f, 1.0f, 0.1f, 0.3f};
  const float c2[4] = {0.0f, 0.0f, 1.0f, 0.0f};
  struct Case {
    const char* body;
    uint32_t rgb;
  } cases[] = {
      {"ps.1.1\nmul r0, v0, c0", 0x0d3373},                  // (0.05, 0.2, 0.45)
      {"ps.1.1\nadd_x2 r0, v0, c1", 0x00ffff},               // (-0.6, 2.8, 1.4) saturated
      {"ps.1.1\nmad_d2 r0, v0, c0, c1", 0x009946},           // (-0.225, 0.6, 0.275)
      {"ps.1.1\nsub_sat r0, c0, v0_bias", 0x8c99a6},         // (0.55, 0.6, 0.65)
      {"ps.1.1\nmul r0, 1-v0, c1.a", 0x3d2e1f},              // (0.24, 0.18, 0.12)
      {"ps.1.1\nlrp r0, v0, c0, c1", 0x00cc7d},              // (-0.35, 0.8, 0.49)
      {"ps.1.1\ndp3 r0, v0, c1", 0x5c5c5c},                  // 0.36 in every channel
      {"ps.1.1\ndp3_x2 r0, -v0_bx2, c0", 0x333333},          // 2 (0.15 + 0.1 - 0.15) = 0.2
      {"ps.1.2\ndp4 r0, v0, c1", 0x999999},                  // 0.36 + 0.24 = 0.6
      {"ps.1.4\nmul_x4 r0, v0, c1.b", 0x14293d},             // (0.08, 0.16, 0.24)
      {"ps.1.4\nadd_d8 r0, v0_x2, c0", 0x15293e},            // (0.08125, 0.1625, 0.24375)
      {"ps.1.4\nmov r1, c1.r\nmul r0, -r1, v0.g", 0x333333}, // 0.5 * 0.4 = 0.2 everywhere
      // 12 is held as 8, the range the caps report: (8 - 1) / 8 rather than (12 - 1) / 8
      {"ps.1.4\nadd_x8 r1, c0, c0\nadd_d8 r0, r1, -c2", 0x80ffdf},
      // a co-issued pair reads its sources before either writes: r1.a takes the old r1.b
      {"ps.1.1\nmov r1, c0\nmul r1.rgb, v0, c0.a\n+mov r1.a, r1.b\nmov r0, r1.a", 0xbfbfbf},
  };
  for (const Case& c : cases) {
    std::string src = c.body;
    src.insert(src.find('\n') + 1, "def c0, 0.25, 0.5, 0.75, 1.0\n");
    DWORD h = Shader(t, src.c_str());
    t.dev->SetPixelShaderConstant(1, c1, 1);
    t.dev->SetPixelShaderConstant(2, c2, 1);
    t.dev->SetPixelShader(h);
    Full(t);
    EXPECT_EQ(c.rgb, t.Rgb(1, 1)) << c.body;
    t.dev->SetPixelShader(0);
    t.dev->DeletePixelShader(h);
  }
}

TEST(D3D8PixelShader, CndAndCmpInBothSemantics) {
  TestDevice t(8, 4);
  const float red[4] = {1, 0, 0, 1}, blue[4] = {0, 0, 1, 1};
  // ps.1.0 to ps.1.3: the whole colour by r0.a > 0.5 (0.5 itself is not above it).
  DWORD h = Shader(t, "ps.1.1\nmov r0.a, c0\ncnd r0, r0.a, c1, c2");
  t.dev->SetPixelShader(h);
  t.dev->SetPixelShaderConstant(1, red, 1);
  t.dev->SetPixelShaderConstant(2, blue, 1);
  const float above[4] = {0, 0, 0, 0.51f}, half[4] = {0, 0, 0, 0.5f};
  t.dev->SetPixelShaderConstant(0, above, 1);
  Rect(t, 0, 0, 4, 4, nullptr, 0);
  t.dev->SetPixelShaderConstant(0, half, 1);
  Rect(t, 4, 0, 8, 4, nullptr, 0);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
  EXPECT_EQ(0x0000ffu, t.Rgb(5, 1));

  // ps.1.4: each component by its own condition; cmp: each component by >= 0.
  DWORD h14 = Shader(t,
                     "ps.1.4\ndef c0, 0.6, 0.5, 0.4, 1\ndef c1, 0.2, 0.4, 0.6, 1\ndef c2, 0.8, 0.6, 0.4, 1\n"
                     "cnd r0, c0, c1, c2");
  DWORD hc = Shader(t,
                    "ps.1.2\ndef c3, 0, -0.01, 0.5, 0\ndef c1, 0.2, 0.4, 0.6, 1\ndef c2, 0.8, 0.6, 0.4, 1\n"
                    "cmp r0, c3, c1, c2");
  t.dev->SetPixelShader(h14);
  Rect(t, 0, 0, 4, 4, nullptr, 0);
  t.dev->SetPixelShader(hc);
  Rect(t, 4, 0, 8, 4, nullptr, 0);
  EXPECT_EQ(0x339966u, t.Rgb(1, 1));  // (c1.r, c2.g, c2.b)
  EXPECT_EQ(0x339999u, t.Rgb(5, 1));  // (c1.r, c2.g, c1.b)
}

TEST(D3D8PixelShader, TextureAddressingOperations) {
  TestDevice t(4, 4);
  IDirect3DTexture8* grid = Grid(t);
  // texbem: du 64, dv -32 (0.504, -0.252) through the matrix 0.5 I of stage 1 move (0.125, 0.625)
  // to (0.377, 0.499): texel (1, 1) in place of (0, 2).
  uint16_t bump = (uint16_t)((uint8_t)(int8_t)-32 << 8 | 64);
  IDirect3DTexture8* bumpTex = t.Texture(1, 1, D3DFMT_V8U8, &bump, 2);
  ASSERT_TRUE(bumpTex);
  t.dev->SetTexture(0, bumpTex);
  t.dev->SetTexture(1, grid);
  t.dev->SetTextureStageState(1, D3DTSS_BUMPENVMAT00, FloatBits(0.5f));
  t.dev->SetTextureStageState(1, D3DTSS_BUMPENVMAT11, FloatBits(0.5f));
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\ntexbem t1, t0\nmov r0, t1"));
  const float bemSets[2][4] = {{0.5f, 0.5f, 0, 1}, {0.125f, 0.625f, 0, 1}};
  Full(t, bemSets, 2);
  EXPECT_EQ(GridTexel(1, 1), t.Rgb(2, 2));

  // texbeml: the same move, the colour scaled by luminance 1 * 0.5 + 0.25.
  const uint8_t lbump[4] = {64, (uint8_t)(int8_t)-32, 255, 0};
  IDirect3DTexture8* lumTex = t.Texture(1, 1, D3DFMT_X8L8V8U8, lbump, 4);
  ASSERT_TRUE(lumTex);
  t.dev->SetTexture(0, lumTex);
  t.dev->SetTextureStageState(1, D3DTSS_BUMPENVLSCALE, FloatBits(0.5f));
  t.dev->SetTextureStageState(1, D3DTSS_BUMPENVLOFFSET, FloatBits(0.25f));
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\ntexbeml t1, t0\nmov r0, t1"));
  Full(t, bemSets, 2);
  EXPECT_EQ(0x3c3c60u, t.Rgb(2, 2));  // (0x50, 0x50, 0x80) * 0.75

  // texreg2ar: (u, v) = (alpha, red) of t0 = (0.753, 0.251): texel (3, 1).
  IDirect3DTexture8* ar = Solid(t, 0xc0400000);
  t.dev->SetTexture(0, ar);
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\ntexreg2ar t1, t0\nmov r0, t1"));
  Full(t, bemSets, 2);
  EXPECT_EQ(GridTexel(3, 1), t.Rgb(2, 2));

  // texm3x2tex: rows (1, 0, 0) and (0, 0, 1) against t0 = (0.502, 0.251, 0.753): texel (2, 3).
  IDirect3DTexture8* normal = Solid(t, 0xff8040c0);
  t.dev->SetTexture(0, normal);
  t.dev->SetTexture(1, nullptr);
  t.dev->SetTexture(2, grid);
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\ntexm3x2pad t1, t0\ntexm3x2tex t2, t0\nmov r0, t2"));
  const float rows2[3][4] = {{0.5f, 0.5f, 0, 1}, {1, 0, 0, 1}, {0, 0, 1, 1}};
  Full(t, rows2, 3);
  EXPECT_EQ(GridTexel(2, 3), t.Rgb(2, 2));

  // texm3x3spec: the identity rows give the normal t0 = (0, 0, 1); the eye c0 = (0.25, 0.5, 1)
  // reflects to (-0.25, -0.5, 1), wrapped: texel (3, 2).
  IDirect3DTexture8* up = Solid(t, 0xff0000ff);
  t.dev->SetTexture(0, up);
  t.dev->SetTexture(2, nullptr);
  t.dev->SetTexture(3, grid);
  t.dev->SetPixelShader(Shader(t,
                               "ps.1.1\ndef c0, 0.25, 0.5, 1, 0\ntex t0\ntexm3x3pad t1, t0\ntexm3x3pad t2, t0\n"
                               "texm3x3spec t3, t0, c0\nmov r0, t3"));
  const float rows3[4][4] = {{0.5f, 0.5f, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
  Full(t, rows3, 4);
  EXPECT_EQ(GridTexel(3, 2), t.Rgb(2, 2));
  // Clamped instead of wrapped, the same reflection reads texel (0, 0).
  t.dev->SetTextureStageState(3, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  t.dev->SetTextureStageState(3, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  Full(t, rows3, 4);
  EXPECT_EQ(GridTexel(0, 0), t.Rgb(2, 2));

  // texcoord hands over the coordinates clamped to 0..1.
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntexcoord t0\nmov r0, t0"));
  const float crd[1][4] = {{0.2f, 1.5f, -0.5f, 1}};
  Full(t, crd, 1);
  EXPECT_EQ(0x33ff00u, t.Rgb(2, 2));

  t.dev->SetPixelShader(0);
  for (IDirect3DTexture8* x : {grid, bumpTex, lumTex, ar, normal, up}) x->Release();
}

TEST(D3D8PixelShader, TwoPhasesOfPs14) {
  TestDevice t(4, 4);
  IDirect3DTexture8* grid = Grid(t);
  // Phase 1 moves the coordinates of set 0 by c0; phase 2 reads stage 2 there: (0.625, 0.125)
  // + (0.25, 0.5) = (0.875, 0.625), texel (3, 2), modulated by v0 (white).
  t.dev->SetTexture(2, grid);
  t.dev->SetPixelShader(Shader(t,
                               "ps.1.4\ndef c0, 0.25, 0.5, 0, 0\ntexcrd r0.rgb, t0\nadd r0.rg, r0, c0\nphase\n"
                               "texld r2, r0\nmul r0, r2, v0"));
  const float sets[1][4] = {{0.625f, 0.125f, 0, 1}};
  Rect(t, 0, 0, 4, 4, sets, 1, 0xffffffff);
  EXPECT_EQ(GridTexel(3, 2), t.Rgb(2, 2));

  // texld divides by w with _dw: (0.5, 1.5) / 2 = (0.25, 0.75), texel (1, 3); the .xyw selector
  // keeps w for texcrd's third component.
  t.dev->SetTexture(2, nullptr);
  t.dev->SetTexture(0, grid);
  t.dev->SetPixelShader(Shader(t, "ps.1.4\ntexld r0, t0_dw.xyw"));
  const float projected[1][4] = {{0.5f, 1.5f, 0, 2}};
  Full(t, projected, 1);
  EXPECT_EQ(GridTexel(1, 3), t.Rgb(2, 2));
  // D3DTTFF_PROJECTED divides tex loads up to ps.1.3 (here by z: texel (1, 3)) and is ignored by
  // ps.1.4 ((0.5, 1.5) wraps to texel (2, 2)).
  t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
  const float byZ[1][4] = {{0.5f, 1.5f, 2, 1}};
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\nmov r0, t0"));
  Full(t, byZ, 1);
  EXPECT_EQ(GridTexel(1, 3), t.Rgb(2, 2));
  t.dev->SetPixelShader(Shader(t, "ps.1.4\ntexld r0, t0"));
  Full(t, byZ, 1);
  EXPECT_EQ(GridTexel(2, 2), t.Rgb(2, 2));
  t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  t.dev->SetPixelShader(Shader(t, "ps.1.4\ntexcrd r0.rgb, t0.xyw"));
  const float xyw[1][4] = {{0.2f, 0.4f, 0.9f, 0.6f}};
  Full(t, xyw, 1);
  EXPECT_EQ(0x336699u, t.Rgb(2, 2));

  t.dev->SetPixelShader(0);
  t.dev->SetTexture(0, nullptr);
  grid->Release();
}

// Texture transform flags name at most four coordinates: a larger projected count divides tex
// loads by w, as four does.
TEST(D3D8PixelShader, ProjectedCountsAboveFourDivideByW) {
  TestDevice t(4, 4);
  IDirect3DTexture8* grid = Grid(t);
  t.dev->SetTexture(0, grid);
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\nmov r0, t0"));
  // (0.5, 1.5) / 2 = (0.25, 0.75): texel (1, 3).
  const float byW[2][4] = {{0.5f, 1.5f, 7, 2}, {3, 3, 3, 3}};
  for (DWORD count : {4u, 5u, 0xffu}) {
    t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, count | D3DTTFF_PROJECTED);
    Full(t, byW, 2);
    EXPECT_EQ(GridTexel(1, 3), t.Rgb(2, 2)) << "count " << count;
  }
  t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  t.dev->SetPixelShader(0);
  t.dev->SetTexture(0, nullptr);
  grid->Release();
}

TEST(D3D8PixelShader, TexkillDiscardsBeforeAnyWrite) {
  TestDevice t(8, 2);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  // u runs from -1 to 1 over eight pixels: (x - 4) / 4 at pixel centres.
  SVertex v[4];
  memset(v, 0, sizeof(v));
  const float xs[4] = {-0.5f, 7.5f, -0.5f, 7.5f}, ys[4] = {-0.5f, -0.5f, 1.5f, 1.5f};
  for (int i = 0; i < 4; ++i) {
    v[i].x = xs[i];
    v[i].y = ys[i];
    v[i].z = 0.5f;
    v[i].rhw = 1.0f;
    v[i].diffuse = 0xffffffff;
    v[i].t[0][0] = i & 1 ? 1.0f : -1.0f;
  }
  for (const char* src : {"ps.1.1\ntexkill t0\nmov r0, v0", "ps.1.4\ntexcrd r1.rgb, t0\ntexkill r1\nmov r0, v0"}) {
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    t.dev->SetPixelShader(Shader(t, src));
    t.dev->SetVertexShader(kSFvf);
    ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(SVertex)));
    t.dev->SetVertexShader(kTLFvf);
    // Behind the shaded pixels, a fixed-function quad at depth 0.7 only shows where nothing was written.
    t.dev->SetPixelShader(0);
    t.dev->SetTexture(0, nullptr);
    t.Quad(0, 0, 8, 2, 0xff00ff00, 0, 0, 1, 1, 0.7f);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(x < 4 ? 0x00ff00u : 0xffffffu, t.Rgb(x, 0)) << src << " x " << x;
  }
}

TEST(D3D8PixelShader, ShadersSetTheDepthTheTestUses) {
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
  IDirect3DTexture8* white = Solid(t, 0xffffffff);
  struct Case {
    const char* src;
    float sets[3][4];
  } cases[] = {
      // r5.r / r5.g = 0.25 / 0.5
      {"ps.1.4\ndef c0, 0.25, 0.5, 0, 0\nmov r5, c0\nphase\ntexdepth r5\nmov r0, v0", {}},
      // z = (0.5, 0, 0) . t0 over w = (1, 0, 0) . t0 with t0 white
      {"ps.1.3\ntex t0\ntexm3x2pad t1, t0\ntexm3x2depth t2, t0\nmov r0, v0", {{0, 0, 0, 1}, {0.5f, 0, 0, 1}, {1, 0, 0, 1}}},
  };
  for (const Case& c : cases) {
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    t.dev->SetTexture(0, white);
    t.dev->SetPixelShader(Shader(t, c.src));
    // Drawn at 0.9, but the shader puts it at 0.5: a quad at 0.6 stays behind it.
    Rect(t, 0, 0, 4, 4, c.sets, 3, 0xffffffff, 0.9f);
    t.dev->SetPixelShader(0);
    t.dev->SetTexture(0, nullptr);
    t.Quad(0, 0, 4, 4, 0xff00ff00, 0, 0, 1, 1, 0.6f);
    EXPECT_EQ(0xffffffu, t.Rgb(1, 1)) << c.src;
    // and one at 0.4 in front.
    t.Quad(0, 0, 4, 4, 0xffff0000, 0, 0, 1, 1, 0.4f);
    EXPECT_EQ(0xff0000u, t.Rgb(1, 1)) << c.src;
  }
  white->Release();
}

TEST(D3D8PixelShader, ModulateShaderMatchesTheFixedStage) {
  TestDevice t(24, 24);
  uint32_t texels[64];
  for (int i = 0; i < 64; ++i) texels[i] = 0xff000000u | (uint32_t)(i * 37 % 256) << 16 | (uint32_t)(i * 91 % 256) << 8 | (uint32_t)(255 - i * 4);
  IDirect3DTexture8* tex = t.Texture(8, 8, D3DFMT_A8R8G8B8, texels, 32);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  TLVertex tri[3] = {TL(1, 2, 0xffff8000, 0.1f, 0.2f, 0.5f, 1.0f), TL(22, 4, 0xff20c0ff, 1.7f, 0.3f, 0.5f, 0.5f),
                     TL(6, 23, 0xff808080, 0.4f, 1.9f, 0.5f, 0.25f)};
  t.Draw(tri, 1);
  std::vector<uint32_t> fixed;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) fixed.push_back(t.Rgb(x, y));
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  t.dev->SetPixelShader(Shader(t, "ps.1.1\ntex t0\nmul r0, t0, v0"));
  t.Draw(tri, 1);
  int lit = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      uint32_t a = fixed[(size_t)(24 * y + x)], b = t.Rgb(x, y);
      lit += a != 0;
      for (int sh = 0; sh < 24; sh += 8)
        EXPECT_LE(abs((int)((a >> sh) & 255) - (int)((b >> sh) & 255)), 1) << x << "," << y << " " << std::hex << a << " " << b;
    }
  EXPECT_GT(lit, 150);
  t.dev->SetPixelShader(0);
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

// A vertex shader's oT0 reaches the pixel shader's t0 with all four components, and its oD0 v0.
TEST(D3D8PixelShader, VertexShaderOutputsFeedThePixelShader) {
  TestDevice t(8, 8);
  const char* vs = "vs.1.1\nmov oPos, v0\nmov oD0, c1\nmov oT0, c0";
  std::vector<uint32_t> tokens;
  char error[200];
  ASSERT_EQ(1, KS_AssembleShader(vs, strlen(vs), &tokens, error, sizeof(error))) << error;
  const DWORD declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT4), D3DVSD_END()};
  DWORD vertexShader = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexShader(declaration, reinterpret_cast<const DWORD*>(tokens.data()),
                                              &vertexShader, 0));
  const float coords[4] = {0.25f, 0.5f, 0.75f, 0.375f}, colour[4] = {0.0f, 1.0f, 0.0f, 1.0f};
  t.dev->SetVertexShaderConstant(0, coords, 1);
  t.dev->SetVertexShaderConstant(1, colour, 1);
  // Clip-space corners of the whole target.
  const float quad[4][4] = {{-1, 1, 0.5f, 1}, {1, 1, 0.5f, 1}, {-1, -1, 0.5f, 1}, {1, -1, 0.5f, 1}};
  t.dev->SetVertexShader(vertexShader);
  // r, g from t0's x, y; b from its w: the w of the set reaches ps.1.4 through texcrd .xyw.
  t.dev->SetPixelShader(Shader(t, "ps.1.4\ntexcrd r0.rgb, t0.xyw\nmov r0.a, v0.g"));
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(quad[0])));
  EXPECT_EQ(0x408060u, t.Rgb(3, 3)) << std::hex << t.Rgb(3, 3);  // 0.25, 0.5, 0.375 of 255
  t.dev->SetPixelShader(0);
  t.dev->SetVertexShader(kTLFvf);
  t.dev->DeleteVertexShader(vertexShader);
}

TEST(D3D8PixelShader, TokenStreamsAreCheckedAgainstTheirVersion) {
  TestDevice t(2, 2);
  const DWORD kR0 = 0x800f0000, kT0 = 0xb00f0000, kSrcT0 = 0xb0e40000, kSrcV0 = 0x90e40000, kSrcC0 = 0xa0e40000;
  const DWORD kEnd = D3DPS_END();
  // Hand-written streams the device accepts: tex t0; mul r0, t0, v0 (with a comment between).
  const DWORD good[] = {D3DPS_VERSION(1, 1), D3DSIO_TEX, kT0, D3DSHADER_COMMENT(2), 0x61626364, 0x65666768,
                        D3DSIO_MUL, kR0, kSrcT0, kSrcV0, kEnd};
  DWORD h = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreatePixelShader(good, &h));
  EXPECT_NE(0u, h);
  const DWORD good14[] = {D3DPS_VERSION(1, 4), D3DSIO_TEX, kR0, kSrcT0, D3DSIO_PHASE, D3DSIO_MUL, kR0, 0x80e40000,
                          kSrcV0, kEnd};
  DWORD h14 = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreatePixelShader(good14, &h14));
  EXPECT_NE(h, h14);
  // The function comes back as given.
  DWORD size = 0;
  ASSERT_EQ(D3D_OK, t.dev->GetPixelShaderFunction(h, nullptr, &size));
  ASSERT_EQ(sizeof(good), size);
  std::vector<DWORD> back(size / 4);
  DWORD small = 4;
  EXPECT_EQ(D3DERR_MOREDATA, t.dev->GetPixelShaderFunction(h, back.data(), &small));
  ASSERT_EQ(D3D_OK, t.dev->GetPixelShaderFunction(h, back.data(), &size));
  EXPECT_EQ(0, memcmp(good, back.data(), sizeof(good)));

  struct Bad {
    const char* why;
    std::vector<DWORD> tokens;
  } bad[] = {
      {"vertex shader version", {D3DVS_VERSION(1, 1), D3DSIO_MOV, kR0, kSrcC0, kEnd}},
      {"ps.2.0", {D3DPS_VERSION(2, 0), D3DSIO_MOV, kR0, kSrcC0, kEnd}},
      {"ps.1.5", {D3DPS_VERSION(1, 5), D3DSIO_MOV, kR0, kSrcC0, kEnd}},
      {"r2 in ps.1.1", {D3DPS_VERSION(1, 1), D3DSIO_MOV, 0x800f0002, kSrcC0, kEnd}},
      {"c8", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, 0xa0e40008, kEnd}},
      {"t4 in ps.1.3", {D3DPS_VERSION(1, 3), D3DSIO_TEX, 0xb00f0004, D3DSIO_MOV, kR0, 0xb0e40004, kEnd}},
      {"v0 written", {D3DPS_VERSION(1, 1), D3DSIO_MOV, 0x900f0000, kSrcC0, kEnd}},
      {"r1 read before written", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, 0x80e40001, kEnd}},
      {"dp4 in ps.1.1", {D3DPS_VERSION(1, 1), D3DSIO_DP4, kR0, kSrcC0, kSrcV0, kEnd}},
      {"texld form in ps.1.1", {D3DPS_VERSION(1, 1), D3DSIO_TEX, kT0, kSrcT0, kEnd}},
      {"vertex opcode", {D3DPS_VERSION(1, 1), D3DSIO_RCP, kR0, kSrcC0, kEnd}},
      {"texm3x2tex alone", {D3DPS_VERSION(1, 1), D3DSIO_TEX, kT0, D3DSIO_TEXM3x2TEX, 0xb00f0001, kSrcT0, kEnd}},
      {"tex after arithmetic", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, kSrcV0, D3DSIO_TEX, kT0, kEnd}},
      {"co-issue of the first", {D3DPS_VERSION(1, 1), D3DSIO_MOV | D3DSI_COISSUE, kR0, kSrcV0, kEnd}},
      {"co-issue both colour",
       {D3DPS_VERSION(1, 1), D3DSIO_MOV, 0x80070000, kSrcV0, D3DSIO_MOV | D3DSI_COISSUE, 0x80070001, kSrcC0, kEnd}},
      {"relative address", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, kSrcC0 | 0x2000, kEnd}},
      {"_x2 source in ps.1.1", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, kSrcV0 | D3DSPSM_X2, kEnd}},
      {"_x8 in ps.1.3", {D3DPS_VERSION(1, 3), D3DSIO_MOV, kR0 | (3u << 24), kSrcV0, kEnd}},
      {"cnd not on r0.a in ps.1.1",
       {D3DPS_VERSION(1, 1), D3DSIO_CND, kR0, kSrcV0 | (0xffu << 16 & 0xff0000u), kSrcC0, kSrcV0, kEnd}},
      {"phase in ps.1.3", {D3DPS_VERSION(1, 3), D3DSIO_PHASE, D3DSIO_MOV, kR0, kSrcV0, kEnd}},
      {"two phases",
       {D3DPS_VERSION(1, 4), D3DSIO_PHASE, D3DSIO_PHASE, D3DSIO_MOV, kR0, kSrcV0, kEnd}},
      {"v0 in the first phase", {D3DPS_VERSION(1, 4), D3DSIO_MOV, kR0, kSrcV0, D3DSIO_PHASE, D3DSIO_MOV, kR0, kSrcC0, kEnd}},
      {"texdepth in ps.1.3", {D3DPS_VERSION(1, 3), D3DSIO_TEXDEPTH, 0x800f0005, kEnd}},
      {"texdepth without a phase",
       {D3DPS_VERSION(1, 4), D3DSIO_MOV, 0x800f0005, kSrcC0, D3DSIO_TEXDEPTH, 0x800f0005, kEnd}},
      {"t0 in ps.1.4 arithmetic", {D3DPS_VERSION(1, 4), D3DSIO_MOV, kR0, kSrcT0, kEnd}},
      {"_dz on texture coordinates", {D3DPS_VERSION(1, 4), D3DSIO_TEX, kR0, kSrcT0 | D3DSPSM_DZ, kEnd}},
      {"dependent read within one phase",
       {D3DPS_VERSION(1, 4), D3DSIO_PHASE, D3DSIO_TEX, 0x800f0001, kSrcT0, D3DSIO_TEX, kR0, 0x80e40001, kEnd}},
      {"unterminated parameter", {D3DPS_VERSION(1, 1), D3DSIO_MOV, kR0, kEnd}},
      {"nine arithmetic instructions",
       {D3DPS_VERSION(1, 1), 1, kR0, kSrcV0, 1, kR0, kSrcV0, 1, kR0, kSrcV0, 1, kR0, kSrcV0, 1, kR0, kSrcV0, 1, kR0,
        kSrcV0, 1, kR0, kSrcV0, 1, kR0, kSrcV0, 1, kR0, kSrcV0, kEnd}},
  };
  for (const Bad& b : bad) {
    DWORD handle = 123;
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreatePixelShader(b.tokens.data(), &handle)) << b.why;
    EXPECT_EQ(0u, handle) << b.why;
  }
  // Eight are allowed.
  std::vector<DWORD> eight = bad[sizeof(bad) / sizeof(bad[0]) - 1].tokens;
  eight.erase(eight.begin() + 1, eight.begin() + 4);
  DWORD h8 = 0;
  EXPECT_EQ(D3D_OK, t.dev->CreatePixelShader(eight.data(), &h8));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreatePixelShader(nullptr, &h8));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreatePixelShader(good, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetPixelShader(h8 + 100));
}

TEST(D3D8PixelShader, ConstantsAreTakenWithEachQueuedDraw) {
  for (int threads : {1, 2}) {
    MarlixD3D8SetThreads(threads);
    TestDevice t(8, 2);
    t.dev->SetPixelShader(Shader(t, "ps.1.1\nmov r0, c5"));
    const float red[4] = {1, 0, 0, 1}, green[4] = {0, 1, 0, 1}, wide[4] = {3, -2, 0.5f, 1};
    t.dev->SetPixelShaderConstant(5, red, 1);
    Rect(t, 0, 0, 4, 2, nullptr, 0);
    t.dev->SetPixelShaderConstant(5, green, 1);
    Rect(t, 4, 0, 8, 2, nullptr, 0);
    EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
    EXPECT_EQ(0x00ff00u, t.Rgb(5, 1));
    // Stored as given, read by the shader within -1..1.
    t.dev->SetPixelShaderConstant(5, wide, 1);
    float back[4];
    ASSERT_EQ(D3D_OK, t.dev->GetPixelShaderConstant(5, back, 1));
    EXPECT_EQ(0, memcmp(wide, back, sizeof(back)));
    Rect(t, 0, 0, 8, 2, nullptr, 0);
    EXPECT_EQ(0xff0080u, t.Rgb(3, 0));
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetPixelShaderConstant(7, red, 2));
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->GetPixelShaderConstant(8, back, 1));
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetPixelShaderConstant(0xffffffffu, red, 2));
  }
  MarlixD3D8SetThreads(2);
}

TEST(D3D8PixelShader, DeletingWhileBoundOrQueuedIsSafe) {
  MarlixD3D8SetThreads(2);
  TestDevice t(8, 2);
  DWORD h = Shader(t, "ps.1.1\ndef c0, 0, 0, 1, 1\nmov r0, c0");
  t.dev->SetPixelShader(h);
  Rect(t, 0, 0, 4, 2, nullptr, 0);  // queued, still to be drawn with the shader
  ASSERT_EQ(D3D_OK, t.dev->DeletePixelShader(h));
  DWORD bound = 77;
  t.dev->GetPixelShader(&bound);
  EXPECT_EQ(0u, bound);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetPixelShader(h));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DeletePixelShader(h));
  // Without a shader the stages draw the diffuse colour again.
  Rect(t, 4, 0, 8, 2, nullptr, 0, 0xff00ff00);
  EXPECT_EQ(0x0000ffu, t.Rgb(1, 1));
  EXPECT_EQ(0x00ff00u, t.Rgb(5, 1));
}

TEST(D3D8PixelShader, StateBlocksKeepTheShaderAndItsConstants) {
  TestDevice t(2, 2);
  DWORD a = Shader(t, "ps.1.1\nmov r0, c0"), b = Shader(t, "ps.1.1\nmov r0, c1");
  const float one[4] = {1, 1, 1, 1}, half[4] = {0.5f, 0.5f, 0.5f, 0.5f}, zero[4] = {0, 0, 0, 0};
  t.dev->SetPixelShader(a);
  t.dev->SetPixelShaderConstant(0, one, 1);
  DWORD pixel = 0, vertex = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateStateBlock(D3DSBT_PIXELSTATE, &pixel));
  ASSERT_EQ(D3D_OK, t.dev->CreateStateBlock(D3DSBT_VERTEXSTATE, &vertex));
  t.dev->SetPixelShader(b);
  t.dev->SetPixelShaderConstant(0, zero, 1);
  t.dev->ApplyStateBlock(vertex);  // holds neither
  DWORD h = 0;
  float c[4];
  t.dev->GetPixelShader(&h);
  EXPECT_EQ(b, h);
  t.dev->ApplyStateBlock(pixel);
  t.dev->GetPixelShader(&h);
  t.dev->GetPixelShaderConstant(0, c, 1);
  EXPECT_EQ(a, h);
  EXPECT_EQ(1.0f, c[0]);
  // A recorded block holds only what was set while recording.
  t.dev->BeginStateBlock();
  t.dev->SetPixelShaderConstant(1, half, 1);
  DWORD rec = 0;
  t.dev->EndStateBlock(&rec);
  t.dev->GetPixelShaderConstant(1, c, 1);
  EXPECT_EQ(0.0f, c[0]);
  t.dev->SetPixelShaderConstant(0, zero, 1);
  t.dev->ApplyStateBlock(rec);
  t.dev->GetPixelShaderConstant(1, c, 1);
  EXPECT_EQ(0.5f, c[0]);
  t.dev->GetPixelShaderConstant(0, c, 1);
  EXPECT_EQ(0.0f, c[0]);
  t.dev->GetPixelShader(&h);
  EXPECT_EQ(a, h);
  for (DWORD s : {pixel, vertex, rec}) t.dev->DeleteStateBlock(s);
}

TEST(D3D8PixelShader, CapsReportTheVersionAndRange) {
  TestDevice t(2, 2);
  D3DCAPS8 caps;
  ASSERT_EQ(D3D_OK, t.dev->GetDeviceCaps(&caps));
  EXPECT_EQ(D3DPS_VERSION(1, 4), caps.PixelShaderVersion);
  EXPECT_EQ(8.0f, caps.MaxPixelShaderValue);
  // Cards of one or two textures had none.
  MarlixD3D8SetProfile(MARLIX_PROFILE_SINGLE_TEXTURE);
  ASSERT_EQ(D3D_OK, t.d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
  EXPECT_EQ(0u, caps.PixelShaderVersion);
  MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
}
