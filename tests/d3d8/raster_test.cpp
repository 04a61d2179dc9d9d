// Rasterisation and the pixel pipeline, against values worked out by hand: coverage under the
// fill rules, shading, the stage combiner, blending, depth and alpha tests, texture sampling.
#include "d3d8_test_util.h"

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

static std::set<std::pair<int, int>> Covered(TestDevice& t) {
  std::set<std::pair<int, int>> s;
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x)
      if (t.Rgb(x, y) != 0) s.insert({x, y});
  return s;
}

TEST(D3D8Raster, FillRulesIncludeTopAndLeftEdgesOnly) {
  TestDevice t(8, 8);
  // Right-angled at the top left: top and left edges are in, the hypotenuse x + y = 4 is out.
  TLVertex a[3] = {TL(0, 0), TL(4, 0), TL(0, 4)};
  t.Draw(a, 1);
  std::set<std::pair<int, int>> want;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x + y < 4; ++x) want.insert({x, y});
  EXPECT_EQ(want, Covered(t));

  // Right-angled at the top right: the vertical right edge is out, the diagonal (a left edge) in.
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  TLVertex b[3] = {TL(0, 0), TL(4, 0), TL(4, 4)};
  t.Draw(b, 1);
  want.clear();
  for (int y = 0; y < 4; ++y)
    for (int x = y; x < 4; ++x) want.insert({x, y});
  EXPECT_EQ(want, Covered(t));

  // Pixel centres are on integer coordinates: a triangle inset by half a pixel keeps three.
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  TLVertex c[3] = {TL(0.5f, 0.5f), TL(3.5f, 0.5f), TL(0.5f, 3.5f)};
  t.Draw(c, 1);
  want = {{1, 1}, {2, 1}, {1, 2}};
  EXPECT_EQ(want, Covered(t));
}

TEST(D3D8Raster, SharedEdgesAreDrawnOnceAndQuadsCoverWholePixels) {
  TestDevice t(12, 12);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  // A fan of four triangles around a centre not on a pixel centre, added together.
  TLVertex fan[6] = {TL(5.3f, 4.7f, 0x404040), TL(1, 1, 0x404040), TL(10, 1, 0x404040),
                     TL(10, 9, 0x404040),       TL(1, 9, 0x404040), TL(1, 1, 0x404040)};
  t.Draw(fan, 4, D3DPT_TRIANGLEFAN);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      bool inside = x >= 1 && x < 10 && y >= 1 && y < 9;
      EXPECT_EQ(inside ? 0x404040u : 0u, t.Rgb(x, y)) << x << "," << y;
    }
}

// Coverage of a triangle by the fill rule, worked out per pixel centre from positions in 1/256
// pixel: every edge, taken clockwise on screen, has the centre on its inner side, or on it when
// the edge is a top or left one.
static bool Inside(const int64_t* x, const int64_t* y, int px, int py) {
  int64_t ax[3] = {x[0], x[1], x[2]}, ay[3] = {y[0], y[1], y[2]};
  if ((ax[1] - ax[0]) * (ay[2] - ay[0]) - (ax[2] - ax[0]) * (ay[1] - ay[0]) < 0) {
    std::swap(ax[1], ax[2]);
    std::swap(ay[1], ay[2]);
  }
  for (int e = 0; e < 3; ++e) {
    const int64_t dx = ax[(e + 1) % 3] - ax[e], dy = ay[(e + 1) % 3] - ay[e];
    const int64_t side = dx * (256 * (int64_t)py - ay[e]) - dy * (256 * (int64_t)px - ax[e]);
    const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
    if (side < 0 || (side == 0 && !topLeft)) return false;
  }
  return true;
}

TEST(D3D8Raster, NarrowWideAndLongTrianglesCoverTheCentresTheirEdgesEnclose) {
  // Tiny triangles (some with edges through pixel centres), narrow ones up to eight columns (tested
  // a row at a time), wide ones, and triangles reaching far past the target that cover only its
  // first columns (their edge functions over those columns exceed 32 bits), at random positions on
  // the 1/256 grid and added into the target so that each pixel counts the triangles covering it;
  // queued one at a time and, where the processor has AVX2, four at a time.
  const int saved = MarlixD3D8GetSpanPath();
  for (int path : {MARLIX_SPANS_SSE2, MARLIX_SPANS_AVX2}) {
    if (MarlixD3D8SetSpanPath(path) != path) continue;
    const int width = 24, height = 600;
    TestDevice t(width, height);
    t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    std::mt19937 rng(7);
    auto coord = [&](int lo, int hi) { return (int64_t)std::uniform_int_distribution<int>(lo * 256, hi * 256)(rng); };
    std::vector<int> want(width * height, 0);
    std::vector<TLVertex> v;
    for (int i = 0; i < 1600; ++i) {
      const int kind = i % 4;
      const int64_t cx = coord(-4, width + 4), cy = coord(-4, height + 4);
      const int size = kind == 0 ? 3 : kind == 1 ? 8 : 30;
      int64_t x[3], y[3];
      for (int k = 0; k < 3; ++k) {
        x[k] = cx + coord(-size, size) / 2;
        y[k] = cy + coord(-size, size) / 2;
      }
      if (kind == 3) {
        x[0] = coord(-1200, -600);
        y[0] = coord(-600, height + 600);
        x[1] = coord(0, 6);
        x[2] = coord(0, 6);
      }
      if (i % 8 == 1) {
        // Within a pixel or two, corners on pixel centres and halfway: edges through centres.
        const int64_t px = cx & ~255, py = cy & ~255;
        for (int k = 0; k < 3; ++k) {
          x[k] = px + 128 * std::uniform_int_distribution<int>(0, 3)(rng);
          y[k] = py + 128 * std::uniform_int_distribution<int>(0, 3)(rng);
        }
      }
      for (int k = 0; k < 3; ++k) v.push_back(TL((float)x[k] / 256.0f, (float)y[k] / 256.0f, 0x010101));
      const int64_t top = std::max<int64_t>(0, *std::min_element(y, y + 3) / 256 - 1);
      const int64_t bottom = std::min<int64_t>(height - 1, *std::max_element(y, y + 3) / 256 + 1);
      for (int64_t py = top; py <= bottom; ++py)
        for (int px = 0; px < width; ++px) want[py * width + px] += Inside(x, y, px, (int)py);
    }
    t.Draw(v.data(), (int)v.size() / 3);
    int wrong = 0;
    for (int py = 0; py < height; ++py)
      for (int px = 0; px < width; ++px)
        if (t.Rgb(px, py) != 0x010101u * (uint32_t)want[py * width + px] && ++wrong <= 5)
          ADD_FAILURE() << "pixel " << px << "," << py << ": " << std::hex << t.Rgb(px, py) << std::dec << ", "
                        << want[py * width + px] << " triangles cover it";
    EXPECT_EQ(0, wrong) << (path == MARLIX_SPANS_AVX2 ? "AVX2" : "SSE2");
  }
  MarlixD3D8SetSpanPath(saved);
}

TEST(D3D8Raster, CullingFollowsScreenWinding) {
  TestDevice t(8, 8);
  TLVertex cw[3] = {TL(0, 0, 0xff0000), TL(6, 0, 0xff0000), TL(0, 6, 0xff0000)};
  TLVertex ccw[3] = {TL(0, 0, 0xff0000), TL(0, 6, 0xff0000), TL(6, 0, 0xff0000)};
  t.dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  t.Draw(ccw, 1);
  EXPECT_EQ(0u, t.Rgb(1, 1));
  t.Draw(cw, 1);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  t.dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  t.Draw(cw, 1);
  EXPECT_EQ(0u, t.Rgb(1, 1));
  t.Draw(ccw, 1);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
}

TEST(D3D8Raster, FlatUsesTheFirstVertexAndGouraudInterpolates) {
  TestDevice t(8, 8);
  TLVertex tri[3] = {TL(0, 0, 0xff0000), TL(8, 0, 0x00ff00), TL(0, 8, 0x0000ff)};
  t.dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  t.Draw(tri, 1);
  EXPECT_EQ(0xff0000u, t.Rgb(2, 2));
  EXPECT_EQ(0xff0000u, t.Rgb(6, 0));
  t.dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  t.Draw(tri, 1);
  // At (2, 2): red 1 - 1/4 - 1/4, green 1/4, blue 1/4.
  EXPECT_EQ(0x804040u, t.Rgb(2, 2));
  EXPECT_EQ(0xff0000u, t.Rgb(0, 0));
  // A strip's second triangle is flat-shaded with its own first vertex.
  TLVertex strip[4] = {TL(0, 0, 0xff0000), TL(8, 0, 0x00ff00), TL(0, 8, 0x0000ff), TL(8, 8, 0xffffff)};
  t.dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  t.Draw(strip, 2, D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
  EXPECT_EQ(0x00ff00u, t.Rgb(7, 7));
}

struct OpCase {
  DWORD op;
  uint32_t rgb;
};

TEST(D3D8Raster, EveryCombinerOperationOnKnownArguments) {
  // arg1 = texture factor (a 128, r 192, g 64, b 32), arg2 = diffuse (a 64, r 96, g 160, b 255),
  // arg0 = specular (r 48, g 144, b 16).
  static const OpCase cases[] = {
      {D3DTOP_SELECTARG1, 0xC04020u},
      {D3DTOP_SELECTARG2, 0x60A0FFu},
      {D3DTOP_MODULATE, 0x482820u},
      {D3DTOP_MODULATE2X, 0x915040u},
      {D3DTOP_MODULATE4X, 0xFFA180u},
      {D3DTOP_ADD, 0xFFE0FFu},
      {D3DTOP_ADDSIGNED, 0xA0609Fu},
      {D3DTOP_ADDSIGNED2X, 0xFFC0FFu},
      {D3DTOP_SUBTRACT, 0x600000u},
      {D3DTOP_ADDSMOOTH, 0xD8B8FFu},
      {D3DTOP_BLENDDIFFUSEALPHA, 0x7888C7u},
      {D3DTOP_BLENDFACTORALPHA, 0x90708Fu},
      {D3DTOP_BLENDCURRENTALPHA, 0x7888C7u},
      {D3DTOP_MODULATEALPHA_ADDCOLOR, 0xF090A0u},
      {D3DTOP_MODULATECOLOR_ADDALPHA, 0xC8A8A0u},
      {D3DTOP_MODULATEINVALPHA_ADDCOLOR, 0xF0909Fu},
      {D3DTOP_MODULATEINVCOLOR_ADDALPHA, 0x98F8FFu},
      {D3DTOP_MULTIPLYADD, 0x78B830u},
      {D3DTOP_LERP, 0x726AF1u},
  };
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0x80C04020u);
  for (const OpCase& c : cases) {
    t.dev->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG0, D3DTA_SPECULAR);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    TLVertex q[6];
    DWORD d = 0x4060A0FFu;
    q[0] = TL(0, 0, d);
    q[1] = TL(4, 0, d);
    q[2] = TL(0, 4, d);
    q[3] = TL(4, 0, d);
    q[4] = TL(4, 4, d);
    q[5] = TL(0, 4, d);
    for (TLVertex& v : q) v.specular = 0xff309010u;
    t.Draw(q, 2);
    EXPECT_EQ(c.rgb, t.Rgb(1, 1)) << "op " << c.op;
  }
  // Modifiers: the complement and the replicated alpha of the factor.
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR | D3DTA_COMPLEMENT);
  t.Quad(0, 0, 4, 4, 0);
  EXPECT_EQ(0x3FBFDFu, t.Rgb(1, 1));
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR | D3DTA_ALPHAREPLICATE);
  t.Quad(0, 0, 4, 4, 0);
  EXPECT_EQ(0x808080u, t.Rgb(1, 1));
  // Dot product: 4 ((r1 - 0.5)(r2 - 0.5) + ...) = (129 * 255 + 1 + 1) / 255.
  t.dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0xffff8080u);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  t.Quad(0, 0, 4, 4, 0xffc08080u);
  EXPECT_EQ(0x818181u, t.Rgb(1, 1));
  // Two stages: the second sees the first one's result as the current colour, and a result
  // kept in the temporary register does not replace it.
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  t.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
  t.dev->SetRenderState(D3DRS_TEXTUREFACTOR, 0x00102030u);
  t.Quad(0, 0, 4, 4, 0xff405060u);
  EXPECT_EQ(0x507090u, t.Rgb(1, 1));
  t.dev->SetTextureStageState(1, D3DTSS_RESULTARG, D3DTA_TEMP);
  t.Quad(0, 0, 4, 4, 0xff405060u);
  EXPECT_EQ(0x405060u, t.Rgb(1, 1));
}

struct BlendCase {
  DWORD src, dst, op;
  uint32_t argb;
};

TEST(D3D8Raster, BlendFactorsAndOperations) {
  // Source a 96 r 200 g 100 b 50 over destination a 32 r 64 g 128 b 192, in an A8R8G8B8 target.
  static const BlendCase cases[] = {
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, 0x3873758Bu},
      {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x80FFE4F2u},
      {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD, 0x0C323226u},
      {D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x0C323226u},
      {D3DBLEND_INVDESTCOLOR, D3DBLEND_INVSRCCOLOR, D3DBLENDOP_ADD, 0x68A480A7u},
      {D3DBLEND_DESTALPHA, D3DBLEND_INVDESTALPHA, D3DBLENDOP_ADD, 0x28517CAEu},
      {D3DBLEND_SRCALPHASAT, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x808BA6D3u},
      {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x60C86432u},
      {D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x204080C0u},
      {D3DBLEND_BOTHSRCALPHA, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x3873758Bu},
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_SUBTRACT, 0x10230000u},
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_REVSUBTRACT, 0x00002A65u},
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_MIN, 0x20406432u},
      {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_MAX, 0x60C880C0u},
  };
  TestDevice t(4, 4, D3DFMT_D16, D3DFMT_A8R8G8B8);
  for (int fast = 0; fast < 2; ++fast) {
    MarlixD3D8SetFastPaths(fast);
    for (const BlendCase& c : cases) {
      t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
      t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x204080C0u, 1.0f, 0);
      t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      t.dev->SetRenderState(D3DRS_SRCBLEND, c.src);
      t.dev->SetRenderState(D3DRS_DESTBLEND, c.dst);
      t.dev->SetRenderState(D3DRS_BLENDOP, c.op);
      t.Quad(0, 0, 4, 4, 0x60C86432u);
      EXPECT_EQ(c.argb, t.Raw(2, 2)) << c.src << " " << c.dst << " " << c.op;
    }
  }
  MarlixD3D8SetFastPaths(1);
}

TEST(D3D8Raster, DepthTestDecisionsAndWrites) {
  struct Case {
    DWORD func;
    bool nearer, equal, farther;
  };
  static const Case cases[] = {
      {D3DCMP_NEVER, false, false, false},   {D3DCMP_LESS, true, false, false},
      {D3DCMP_EQUAL, false, true, false},    {D3DCMP_LESSEQUAL, true, true, false},
      {D3DCMP_GREATER, false, false, true},  {D3DCMP_NOTEQUAL, true, false, true},
      {D3DCMP_GREATEREQUAL, false, true, true}, {D3DCMP_ALWAYS, true, true, true},
  };
  TestDevice t(4, 4, D3DFMT_D16);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  for (const Case& c : cases) {
    t.dev->SetRenderState(D3DRS_ZFUNC, c.func);
    const float zs[3] = {0.25f, 0.5f, 0.75f};
    const bool want[3] = {c.nearer, c.equal, c.farther};
    for (int i = 0; i < 3; ++i) {
      t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0);
      t.Quad(0, 0, 4, 4, 0x00ff00, 0, 0, 1, 1, zs[i]);
      EXPECT_EQ(want[i] ? 0x00ff00u : 0u, t.Rgb(1, 1)) << "func " << c.func << " z " << zs[i];
    }
  }
  // Depth writes: the nearer quad wins whatever the order once writes are on.
  t.dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  t.Quad(0, 0, 4, 4, 0xff0000, 0, 0, 1, 1, 0.3f);
  t.Quad(0, 0, 4, 4, 0x0000ff, 0, 0, 1, 1, 0.6f);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
  IDirect3DSurface8* ds = nullptr;
  t.dev->GetDepthStencilSurface(&ds);
  ASSERT_NE(nullptr, ds);
  ds->Release();
}

TEST(D3D8Raster, AlphaTestCompareFunctions) {
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_ALPHAREF, 0x80);
  struct Case {
    DWORD func;
    bool below, equal, above;
  };
  static const Case cases[] = {
      {D3DCMP_NEVER, false, false, false},   {D3DCMP_LESS, true, false, false},
      {D3DCMP_EQUAL, false, true, false},    {D3DCMP_LESSEQUAL, true, true, false},
      {D3DCMP_GREATER, false, false, true},  {D3DCMP_NOTEQUAL, true, false, true},
      {D3DCMP_GREATEREQUAL, false, true, true}, {D3DCMP_ALWAYS, true, true, true},
  };
  for (int fast = 0; fast < 2; ++fast) {
    MarlixD3D8SetFastPaths(fast);
    for (const Case& c : cases) {
      t.dev->SetRenderState(D3DRS_ALPHAFUNC, c.func);
      const DWORD alphas[3] = {0x7f, 0x80, 0x81};
      const bool want[3] = {c.below, c.equal, c.above};
      for (int i = 0; i < 3; ++i) {
        t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        t.Quad(0, 0, 4, 4, (alphas[i] << 24) | 0x00ffff);
        EXPECT_EQ(want[i] ? 0x00ffffu : 0u, t.Rgb(1, 1)) << "func " << c.func << " alpha " << alphas[i];
      }
    }
  }
  MarlixD3D8SetFastPaths(1);
}

TEST(D3D8Raster, PerspectiveCorrectTextureCoordinates) {
  TestDevice t(16, 4);
  // Texel i of a 16 x 1 texture has red 16 i.
  uint32_t texels[16];
  for (int i = 0; i < 16; ++i) texels[i] = 0xff000000u | ((uint32_t)(i * 16) << 16);
  IDirect3DTexture8* tex = t.Texture(16, 1, D3DFMT_X8R8G8B8, texels, 64);
  ASSERT_NE(nullptr, tex);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  // The left edge is at w = 1, the right edge four times as far (rhw 1/4).
  TLVertex q[6] = {TL(0, 0, 0, 0, 0, 0.5f, 1.0f),  TL(16, 0, 0, 1, 0, 0.5f, 0.25f), TL(0, 4, 0, 0, 1, 0.5f, 1.0f),
                   TL(16, 0, 0, 1, 0, 0.5f, 0.25f), TL(16, 4, 0, 1, 1, 0.5f, 0.25f), TL(0, 4, 0, 0, 1, 0.5f, 1.0f)};
  t.Draw(q, 2);
  // u(x) = (t / 4) / (1 - 3t / 4) with t = x / 16: x = 4 -> 0.077 (texel 1), 8 -> 0.2 (texel 3),
  // 12 -> 0.4286 (texel 6); an affine interpolation would give texels 4, 8 and 12.
  EXPECT_EQ(0x100000u, t.Rgb(4, 1));
  EXPECT_EQ(0x300000u, t.Rgb(8, 1));
  EXPECT_EQ(0x600000u, t.Rgb(12, 1));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

TEST(D3D8Raster, PointAndBilinearSamplingWithAddressModes) {
  TestDevice t(8, 8);
  // 2 x 2 texture: black, white / white, black.
  uint32_t texels[4] = {0xff000000u, 0xffffffffu, 0xffffffffu, 0xff000000u};
  IDirect3DTexture8* tex = t.Texture(2, 2, D3DFMT_A8R8G8B8, texels, 8);
  ASSERT_NE(nullptr, tex);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  // Point sampling over 4 x 4 pixels: pixel x samples u = x / 4, texel floor(2u).
  t.Quad(0, 0, 4, 4, 0);
  EXPECT_EQ(0x000000u, t.Rgb(1, 1));
  EXPECT_EQ(0xffffffu, t.Rgb(2, 1));
  EXPECT_EQ(0x000000u, t.Rgb(3, 3));
  // Wrap repeats, clamp holds the edge texel.
  t.Quad(0, 0, 8, 8, 0, 0, 0, 2, 2);
  EXPECT_EQ(0x000000u, t.Rgb(4, 4));
  t.dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  t.dev->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  t.Quad(0, 0, 8, 8, 0, 0, 0, 2, 2);
  EXPECT_EQ(0x000000u, t.Rgb(7, 7));
  EXPECT_EQ(0xffffffu, t.Rgb(7, 0));
  // Bilinear: at u = v = 0.5 the four texels weigh a quarter each.
  t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  TLVertex q[3] = {TL(0, 0, 0, 0.5f, 0.5f), TL(8, 0, 0, 0.5f, 0.5f), TL(0, 8, 0, 0.5f, 0.5f)};
  t.Draw(q, 1);
  EXPECT_EQ(0x808080u, t.Rgb(1, 1));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

TEST(D3D8Raster, MipLevelsFollowTheFootprint) {
  TestDevice t(8, 8);
  IDirect3DTexture8* tex = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateTexture(8, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex));
  ASSERT_EQ(4u, tex->GetLevelCount());
  const uint32_t colors[4] = {0xff0000u, 0x00ff00u, 0x0000ffu, 0xffff00u};
  for (UINT l = 0; l < 4; ++l) {
    D3DSURFACE_DESC d;
    tex->GetLevelDesc(l, &d);
    D3DLOCKED_RECT lr;
    tex->LockRect(l, &lr, nullptr, 0);
    for (UINT y = 0; y < d.Height; ++y)
      for (UINT x = 0; x < d.Width; ++x) ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = colors[l];
    tex->UnlockRect(l);
  }
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
  // 8 texels over 8 pixels: level 0; over 2 pixels: 4 texels per pixel, level 2.
  t.Quad(0, 0, 8, 8, 0);
  EXPECT_EQ(0xff0000u, t.Rgb(3, 3));
  t.Quad(0, 0, 2, 2, 0);
  EXPECT_EQ(0x0000ffu, t.Rgb(1, 1));
  t.dev->SetTextureStageState(0, D3DTSS_MAXMIPLEVEL, 1);
  t.Quad(0, 0, 8, 8, 0);
  EXPECT_EQ(0x00ff00u, t.Rgb(3, 3));
  // A footprint past the range of floats takes the last level, in the general pipeline too and
  // with either mip filter.
  t.dev->SetTextureStageState(0, D3DTSS_MAXMIPLEVEL, 0);
  MarlixD3D8SetFastPaths(0);
  for (DWORD mip : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
    t.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, mip);
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    t.Quad(0, 0, 8, 8, 0, 0, 0, 1e20f, 1e20f);
    EXPECT_EQ(0xffff00u, t.Rgb(3, 3)) << "mip filter " << mip;
  }
  MarlixD3D8SetFastPaths(1);
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

TEST(D3D8Raster, SpecularAddAndVertexFog) {
  TestDevice t(4, 4);
  TLVertex q[6];
  t.dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  DWORD c = 0xff402000u;
  q[0] = TL(0, 0, c);
  q[1] = TL(4, 0, c);
  q[2] = TL(0, 4, c);
  q[3] = TL(4, 0, c);
  q[4] = TL(4, 4, c);
  q[5] = TL(0, 4, c);
  for (TLVertex& v : q) v.specular = 0x40102030u;  // fog factor 0x40 in the specular alpha
  t.Draw(q, 2);
  EXPECT_EQ(0x504030u, t.Rgb(1, 1));
  // Fog: colour f C + (1 - f) F with f = 64/255 and fog colour (255, 255, 255).
  t.dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_FOGCOLOR, 0xffffff);
  t.Draw(q, 2);
  // r: (64 * 64 + 255 * 191 + 127) / 255 = 207; g: (32 * 64 + 255 * 191 + 127) / 255 = 199; b: 191.
  EXPECT_EQ(0xCFC7BFu, t.Rgb(1, 1));
}

TEST(D3D8Raster, LinesAndPointsLightTheirPixels) {
  TestDevice t(8, 8);
  TLVertex l[2] = {TL(0, 2, 0xffffff), TL(5, 2, 0xffffff)};
  t.dev->SetRenderState(D3DRS_LASTPIXEL, FALSE);
  t.Draw(l, 1, D3DPT_LINELIST);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(x < 5 ? 0xffffffu : 0u, t.Rgb(x, 2)) << x;
  TLVertex p[2] = {TL(6, 6, 0xff0000), TL(1.4f, 5.6f, 0x00ff00)};
  t.Draw(p, 2, D3DPT_POINTLIST);
  EXPECT_EQ(0xff0000u, t.Rgb(6, 6));
  EXPECT_EQ(0x00ff00u, t.Rgb(1, 6));
}

TEST(D3D8Raster, SixteenBitTargetsPackTheirChannels) {
  struct Case {
    D3DFORMAT f;
    DWORD color;
    uint32_t word;
  };
  static const Case cases[] = {
      {D3DFMT_R5G6B5, 0xff8040c0u, 0x8218u},
      {D3DFMT_X1R5G5B5, 0xff8040c0u, 0xC118u},
      {D3DFMT_A1R5G5B5, 0xff8040c0u, 0xC118u},
      {D3DFMT_A1R5G5B5, 0x7f8040c0u, 0x4118u},
  };
  for (const Case& c : cases) {
    TestDevice t(4, 4, D3DFMT_D16, c.f);
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, c.color, 1.0f, 0);
    EXPECT_EQ(c.word, t.Raw(0, 0)) << c.f;
    // Drawing packs the same way.
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    t.Quad(0, 0, 4, 4, c.color);
    EXPECT_EQ(c.word, t.Raw(1, 1)) << c.f;
  }
  // Blending reads the 16-bit destination widened: 0x8218 is r 132, g 65, b 198.
  TestDevice t(4, 4, D3DFMT_D16, D3DFMT_R5G6B5);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff8040c0u, 1.0f, 0);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  t.Quad(0, 0, 4, 4, 0xffffffff);
  EXPECT_EQ(0x8218u, t.Raw(1, 1));
}

TEST(D3D8Raster, ClearsStayInsideRectanglesAndViewport) {
  TestDevice t(8, 8);
  D3DRECT r = {1, 1, 3, 4};
  t.dev->Clear(1, &r, D3DCLEAR_TARGET, 0xff123456u, 1.0f, 0);
  EXPECT_EQ(0x123456u, t.Rgb(1, 1));
  EXPECT_EQ(0x123456u, t.Rgb(2, 3));
  EXPECT_EQ(0u, t.Rgb(3, 1));
  EXPECT_EQ(0u, t.Rgb(1, 4));
  D3DVIEWPORT8 vp = {4, 4, 2, 2, 0.0f, 1.0f};
  ASSERT_EQ(D3D_OK, t.dev->SetViewport(&vp));
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffffu, 1.0f, 0);
  EXPECT_EQ(0xffffffu, t.Rgb(4, 4));
  EXPECT_EQ(0xffffffu, t.Rgb(5, 5));
  EXPECT_EQ(0u, t.Rgb(6, 6));
  // Drawing is scissored by the viewport as well.
  t.Quad(0, 0, 8, 8, 0x00ff00);
  EXPECT_EQ(0u, t.Rgb(3, 3));
  EXPECT_EQ(0x00ff00u, t.Rgb(4, 5));
  // A clear of nothing leaves the depth buffer alone: depth 0.25 still hides a quad at 0.5.
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.25f, 0);
  EXPECT_EQ(D3D_OK, t.dev->Clear(0, nullptr, 0, 0, 1.0f, 0));
  t.Quad(0, 0, 8, 8, 0x00ff00, 0, 0, 1, 1, 0.5f);
  EXPECT_EQ(0u, t.Rgb(4, 5));
}
