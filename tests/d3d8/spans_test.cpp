// The specialised span loops against the general pixel pipeline, on every instruction set the
// processor offers: the same pixels for each state they take (filters, colour and alpha
// operations, a second stage adding or modulating another texture, the specular colour
// interpolated or flat, vertex fog, each blend, alpha test, 16-, 24- and 32-bit depth, mip levels
// changing along a row in perspective, the level of affine rows whose coordinates are not finite,
// Gouraud and flat colour without a texture).
#include "d3d8_test_util.h"

#include <math.h>

#include <vector>

namespace {

// A mip-mapped texture, every level its own pattern with varying alpha.
IDirect3DTexture8* Levels(IDirect3DDevice8* dev, int size) {
  IDirect3DTexture8* t = nullptr;
  if (FAILED(dev->CreateTexture((UINT)size, (UINT)size, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t))) return nullptr;
  for (UINT l = 0; l < t->GetLevelCount(); ++l) {
    D3DSURFACE_DESC d;
    D3DLOCKED_RECT lr;
    t->GetLevelDesc(l, &d);
    t->LockRect(l, &lr, nullptr, 0);
    for (UINT y = 0; y < d.Height; ++y)
      for (UINT x = 0; x < d.Width; ++x) {
        uint32_t i = (y * 131 + x * 71 + l * 40503u) * 2654435761u;
        ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = i ^ (i >> 13);
      }
    t->UnlockRect(l);
  }
  return t;
}

struct Case {
  DWORD colorOp, colorArg1, alphaOp, alphaArg1;
  bool bilinear;
  DWORD srcBlend, dstBlend;  // 0: no blending
  bool alphaTest, zWrite, texture;
  DWORD stage1;  // second stage colour operation on the other texture, or DISABLE
  bool fog;
  bool specular;  // the vertices' specular colour added after the stages
};

// Draws one scene per case over the whole target: a perspective floor whose mip level changes
// along its rows, Gouraud triangles in front and behind it, and small quads ending at every
// position within a group of pixels.
std::vector<uint32_t> Scene(D3DFORMAT depth) {
  TestDevice t(133, 97, depth);
  IDirect3DTexture8* tex = Levels(t.dev, 64);
  IDirect3DTexture8* env = Levels(t.dev, 16);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xff304050u, 1.0f, 0x5a);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
  t.dev->SetTextureStageState(1, D3DTSS_MIPFILTER, D3DTEXF_POINT);
  t.dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
  t.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  t.dev->SetRenderState(D3DRS_ALPHAREF, 0x70);
  t.dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  t.dev->SetRenderState(D3DRS_FOGCOLOR, 0x00c08040u);
  const DWORD SA = D3DBLEND_SRCALPHA, ISA = D3DBLEND_INVSRCALPHA, ONE = D3DBLEND_ONE;
  const Case cases[] = {
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, true, SA, ISA, false, false, true,
       D3DTOP_DISABLE, false, true},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_TEXTURE, false, SA, ISA, true, true, true,
       D3DTOP_DISABLE, true, false},
      {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, true, 0, 0, true, true, true,
       D3DTOP_ADD, false, true},
      {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_TEXTURE, false, 0, 0, false, true, true,
       D3DTOP_MODULATE, true, false},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_DISABLE, D3DTA_TEXTURE, true, SA, ONE, true, true, true, D3DTOP_ADD,
       false, false},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, false, ONE, ONE, false, false, true,
       D3DTOP_DISABLE, true, true},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, true, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, false,
       false, true, D3DTOP_DISABLE, false, true},
      {D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, false, SA, ISA, true, true, false,
       D3DTOP_DISABLE, true, true},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, false, 0, 0, false, true, false,
       D3DTOP_DISABLE, false, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    t.dev->SetTexture(0, c.texture ? tex : nullptr);
    t.dev->SetTextureStageState(0, D3DTSS_COLOROP, c.colorOp);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, c.colorArg1);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, c.alphaOp);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, c.alphaArg1);
    DWORD filter = c.bilinear ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
    t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, filter);
    t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, c.srcBlend != 0);
    if (c.srcBlend) {
      t.dev->SetRenderState(D3DRS_SRCBLEND, c.srcBlend);
      t.dev->SetRenderState(D3DRS_DESTBLEND, c.dstBlend);
    }
    t.dev->SetTexture(1, c.stage1 != D3DTOP_DISABLE ? env : nullptr);
    t.dev->SetTextureStageState(1, D3DTSS_COLOROP, c.stage1);
    t.dev->SetTextureStageState(1, D3DTSS_MAGFILTER, c.bilinear ? D3DTEXF_POINT : D3DTEXF_LINEAR);
    t.dev->SetTextureStageState(1, D3DTSS_MINFILTER, c.bilinear ? D3DTEXF_POINT : D3DTEXF_LINEAR);
    t.dev->SetRenderState(D3DRS_FOGENABLE, c.fog);
    t.dev->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
    t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, c.alphaTest);
    t.dev->SetRenderState(D3DRS_ZWRITEENABLE, c.zWrite);
    t.dev->SetRenderState(D3DRS_SHADEMODE, n == 7 ? D3DSHADE_FLAT : D3DSHADE_GOURAUD);
    // The floor: w from 1 near the bottom to 20 at the top, coordinates as a projection leaves them.
    float nearW = 1.0f, farW = 20.0f;
    TLVertex floor[4] = {TL(-5, 2, 0xff80ff40u, 0, 0, 0.95f, 1 / farW), TL(140, 2, 0x80ffffffu, 40, 0, 0.95f, 1 / farW),
                         TL(-5, 96, 0xc040c0ffu, 0, 60, 0.3f, 1 / nearW),
                         TL(140, 96, 0xffffffffu, 40, 60, 0.3f, 1 / nearW)};
    const DWORD fogFactor[4] = {0x20e01000u, 0xff000000u, 0x80406080u, 0x0010ff30u};
    for (int k = 0; k < 4; ++k) floor[k].specular = fogFactor[k];
    for (TLVertex& v : floor) {
      v.u *= v.rhw;
      v.v *= v.rhw;
      v.z += 0.002f * (float)n;
    }
    TLVertex strip[4] = {floor[0], floor[1], floor[2], floor[3]};
    t.Draw(strip, 2, D3DPT_TRIANGLESTRIP);
    // A band across the whole target whose coordinates pass through zero and through every
    // power of two between, in both directions, so the steps along its rows change binade.
    t.Quad(-2.0f, 40.0f + (float)n, 135.0f, 43.0f + (float)n, 0xc0f0e0d0u, -3.3f, 2.9f, 2.7f, -1.9f, 0.25f);
    // The texture stretched over more pixels than it has texels, as a backdrop is: across its wrap
    // at u = 0, and along its last row up to its last texel.
    t.Quad(-1.0f, 80.0f, 134.0f, 84.0f, 0xe0ffffffu, -0.3f, 0.9f, 0.7f, 0.999f, 0.25f);
    t.Quad(100.0f, 86.0f, 133.0f, 90.0f, 0xe0ffffffu, 0.8f, 0.95f, 0.999f, 0.999f, 0.25f);
    for (int i = 0; i < 12; ++i) {
      float x = (float)((i * 41 + n * 17) % 120) - 3.0f, y = (float)((i * 29 + n * 11) % 90) - 3.0f;
      float z = 0.2f + 0.06f * (float)((i + n) % 13);
      TLVertex tri[3] = {TL(x, y, 0x90ff2060u + (uint32_t)i * 0x010203u, 0.2f, 0.1f, z),
                         TL(x + 37.5f, y + 5.25f, 0xff20ff60u, 3.3f, 0.4f, z + 0.1f),
                         TL(x + 3.75f, y + 30.5f, 0x406020ffu, 0.3f, 2.9f, z - 0.1f)};
      for (int k = 0; k < 3; ++k)
        tri[k].specular = ((DWORD)((i * 40 + k * 90) & 0xff) << 24) | ((DWORD)(i * 23 + k * 70) & 0xff) << 16 |
                          (DWORD)(k * 100) << 8 | (DWORD)(250 - i * 20);
      t.Draw(tri, 1);
      // Quads 1..9 pixels wide: every way a row can end inside a group of pixels.
      t.Quad(x + 5.0f, y + 2.0f, x + 6.0f + (float)(i % 9), y + 5.0f, 0xa0c0e0ffu, 0.1f, 0.2f, 0.9f, 0.6f, z);
    }
    // Affine coordinates (w the same at every vertex) with one vertex at infinity: every row
    // starts at a coordinate that is not a number, where the general pipeline's footprint gives
    // the top level, while the level the span loops find once for a triangle's finite rows comes
    // from infinite slopes (and must not be used). Each case draws it in a place of its own.
    {
      const DWORD c = 0xe0ffffffu;
      const float x = 1.0f + 14.0f * (float)n;
      TLVertex edge[3] = {TL(x, 2, c, 0.5f, 0.25f, 0.25f, 0.5f), TL(x + 14, 2, c, 0.75f, 0.25f, 0.25f, 0.5f),
                          TL(x, 14, c, INFINITY, 0.75f, 0.25f, 0.5f)};
      t.Draw(edge, 1);
    }
    ++n;
  }
  t.dev->SetTexture(1, nullptr);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  t.dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  t.dev->SetTexture(0, nullptr);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
  {
    // Depth written across z = 0.5 in steps finer than a 32-bit depth unit's share of a float
    // (where the quantised value passes 2^31), then a band at one depth drawn where it is nearer:
    // the edge between them shows every stored value.
    TLVertex ramp[4] = {TL(-1, 60, 0xff10a0f0u, 0, 0, 0.4998f), TL(134, 60, 0xff10a0f0u, 0, 0, 0.5002f),
                        TL(-1, 70, 0xff10a0f0u, 0, 0, 0.4998f), TL(134, 70, 0xff10a0f0u, 0, 0, 0.5002f)};
    t.Draw(ramp, 2, D3DPT_TRIANGLESTRIP);
    t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    t.Quad(-1, 60, 134, 70, 0xfff0a010u, 0, 0, 1, 1, 0.50004f);
    t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  }
  if (depth == D3DFMT_D24S8) {
    // The stencil bits beside the depth must have survived every depth write: a translucent
    // veil drawn where they still hold the cleared value.
    t.dev->SetTexture(0, nullptr);
    t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    t.dev->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    t.dev->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    t.dev->SetRenderState(D3DRS_STENCILREF, 0x5a);
    t.Quad(0, 0, 133, 97, 0x6000ff00u);
  }
  std::vector<uint32_t> px;
  for (int y = 0; y < 97; ++y)
    for (int x = 0; x < 133; ++x) px.push_back(t.Raw(x, y));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  env->Release();
  return px;
}

size_t Differ(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  size_t n = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += a[i] != b[i];
  return n;
}

// A point-sampled texture stretched over quads as a backdrop is, blended by the vertex alpha, from
// fewer texels than pixels to more than twice as many along the rows: across the wrap at u = 0
// and up to the last texel of the texture.
std::vector<uint32_t> Stretched() {
  TestDevice t(133, 97);
  IDirect3DTexture8* tex = Levels(t.dev, 64);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
  t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff304050u, 1.0f, 0);
  for (int k = 0; k < 12; ++k) {
    const float x = 1.0f + (float)(k % 3) * 44.0f, y = (float)(k / 3) * 24.0f;
    const float texels = 0.6f + 0.16f * (float)k;  // a pixel's step along the rows, in texels
    const float u0 = k % 4 == 3 ? 0.999f - texels * 40.0f / 64.0f : -0.2f + 0.05f * (float)k;
    t.Quad(x, y, x + 40.0f, y + 20.0f, 0xc0ffffffu - (DWORD)k * 0x0a000000u, u0, 0.1f, u0 + texels * 40.0f / 64.0f,
           0.4f);
  }
  std::vector<uint32_t> px;
  for (int y = 0; y < 97; ++y)
    for (int x = 0; x < 133; ++x) px.push_back(t.Raw(x, y));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  return px;
}

}  // namespace

TEST(D3D8Spans, StretchedTexturesGiveThePixelsOfTheGeneralPipelineOnEveryInstructionSet) {
  const int saved = MarlixD3D8GetSpanPath();
  MarlixD3D8SetFastPaths(0);
  std::vector<uint32_t> general = Stretched();
  MarlixD3D8SetFastPaths(1);
  ASSERT_EQ(MARLIX_SPANS_SSE2, MarlixD3D8SetSpanPath(MARLIX_SPANS_SSE2));
  EXPECT_EQ(0u, Differ(general, Stretched())) << "SSE2 spans";
  if (MarlixD3D8SetSpanPath(MARLIX_SPANS_AVX2) == MARLIX_SPANS_AVX2) {
    EXPECT_EQ(0u, Differ(general, Stretched())) << "AVX2 spans";
  }
  MarlixD3D8SetSpanPath(saved);
}

TEST(D3D8Spans, SpanLoopsGiveThePixelsOfTheGeneralPipelineOnEveryInstructionSet) {
  for (D3DFORMAT depth : {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D32}) {
    MarlixD3D8SetFastPaths(0);
    std::vector<uint32_t> general = Scene(depth);
    MarlixD3D8SetFastPaths(1);
    ASSERT_EQ(MARLIX_SPANS_SSE2, MarlixD3D8SetSpanPath(MARLIX_SPANS_SSE2));
    EXPECT_EQ(0u, Differ(general, Scene(depth))) << "SSE2 spans, depth format " << depth;
    if (MarlixD3D8SetSpanPath(MARLIX_SPANS_AVX2) == MARLIX_SPANS_AVX2) {
      EXPECT_EQ(0u, Differ(general, Scene(depth))) << "AVX2 spans, depth format " << depth;
    }
    size_t background = 0;
    for (uint32_t p : general) background += (p & 0xffffff) == 0x304050u;
    EXPECT_LT(background, general.size() / 10) << "the scene should cover the target";
  }
}

TEST(D3D8Spans, SpanPathControlFollowsTheProcessor) {
  EXPECT_EQ(MARLIX_SPANS_SSE2, MarlixD3D8SetSpanPath(MARLIX_SPANS_SSE2));
  EXPECT_EQ(MARLIX_SPANS_SSE2, MarlixD3D8GetSpanPath());
  int best = MarlixD3D8SetSpanPath(MARLIX_SPANS_AVX2);
  EXPECT_EQ(__builtin_cpu_supports("avx2") ? MARLIX_SPANS_AVX2 : MARLIX_SPANS_SSE2, best);
  EXPECT_EQ(best, MarlixD3D8GetSpanPath());
}
