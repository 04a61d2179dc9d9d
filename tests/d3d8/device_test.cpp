// The device around the rasteriser: formats in their memory layouts, lighting, clipping, device
// profiles and ValidateDevice, device loss and Reset, reference counts, thread independence.
#include "d3d8_test_util.h"

#include <math.h>

#include <algorithm>
#include <vector>

namespace {

struct ProfileGuard {
  explicit ProfileGuard(int p) { MarlixD3D8SetProfile(p); }
  ~ProfileGuard() { MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT); }
};

// Samples a 4 x 4 quad textured with a texture of one texel repeated, returning its RGB.
uint32_t SampleOne(TestDevice& t, D3DFORMAT f, const void* texel, int bytes) {
  uint8_t block[16];
  memcpy(block, texel, (size_t)bytes);
  IDirect3DTexture8* tex = t.Texture(1, 1, f, block, bytes);
  if (!tex) return 0xdeadbeef;
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  t.Quad(0, 0, 4, 4, 0);
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  return t.Rgb(1, 1);
}

}  // namespace

TEST(D3D8Formats, TexturesReadTheirRealMemoryLayout) {
  TestDevice t(4, 4);
  struct Case {
    D3DFORMAT f;
    uint8_t bytes[4];
    int n;
    uint32_t rgb;
  };
  static const Case cases[] = {
      {D3DFMT_R5G6B5, {0x18, 0x82}, 2, 0x8441C6u},         // r 16, g 16, b 24 widened
      {D3DFMT_X1R5G5B5, {0xff, 0x7f}, 2, 0xffffffu},
      {D3DFMT_A1R5G5B5, {0x1f, 0x00}, 2, 0x0000ffu},
      {D3DFMT_A4R4G4B4, {0x3f, 0x8c}, 2, 0xCC33FFu},
      {D3DFMT_X4R4G4B4, {0x3f, 0x0c}, 2, 0xCC33FFu},
      {D3DFMT_R3G3B2, {0xe3}, 1, 0xFF00FFu},
      {D3DFMT_A8R3G3B2, {0x49, 0x40}, 2, 0x494955u},
      {D3DFMT_R8G8B8, {0x11, 0x22, 0x33}, 3, 0x332211u},
      {D3DFMT_A8R8G8B8, {0x44, 0x55, 0x66, 0x77}, 4, 0x665544u},
      {D3DFMT_X8R8G8B8, {0x44, 0x55, 0x66, 0x00}, 4, 0x665544u},
      {D3DFMT_L8, {0x5a}, 1, 0x5A5A5Au},
      {D3DFMT_A8L8, {0x30, 0xc0}, 2, 0x303030u},
      {D3DFMT_A4L4, {0x3c}, 1, 0xCCCCCCu},
      {D3DFMT_A8, {0x99}, 1, 0x000000u},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rgb, SampleOne(t, c.f, c.bytes, c.n)) << "format " << c.f;
  // Palette: index 7 of the current palette.
  PALETTEENTRY pal[256];
  memset(pal, 0, sizeof(pal));
  pal[7] = PALETTEENTRY{10, 20, 30, 255};
  ASSERT_EQ(D3D_OK, t.dev->SetPaletteEntries(3, pal));
  ASSERT_EQ(D3D_OK, t.dev->SetCurrentTexturePalette(3));
  uint8_t index = 7;
  EXPECT_EQ(0x0A141Eu, SampleOne(t, D3DFMT_P8, &index, 1));
  // Changing the palette contents changes the sampled colour.
  pal[7] = PALETTEENTRY{200, 0, 0, 255};
  t.dev->SetPaletteEntries(3, pal);
  EXPECT_EQ(0xC80000u, SampleOne(t, D3DFMT_P8, &index, 1));
}

TEST(D3D8Formats, LockedPitchAndSizesFollowTheFormat) {
  TestDevice t(4, 4);
  struct Case {
    D3DFORMAT f;
    UINT w;
    INT pitch;
  };
  static const Case cases[] = {{D3DFMT_R5G6B5, 6, 12},   {D3DFMT_X8R8G8B8, 5, 20}, {D3DFMT_R8G8B8, 5, 16},
                               {D3DFMT_L8, 3, 4},         {D3DFMT_DXT1, 8, 16},     {D3DFMT_DXT5, 8, 32},
                               {D3DFMT_V8U8, 4, 8},       {D3DFMT_X8L8V8U8, 2, 8},  {D3DFMT_L6V5U5, 2, 4}};
  for (const Case& c : cases) {
    IDirect3DTexture8* tex = nullptr;
    ASSERT_EQ(D3D_OK, t.dev->CreateTexture(c.w, 4, 1, 0, c.f, D3DPOOL_MANAGED, &tex)) << c.f;
    D3DLOCKED_RECT lr;
    ASSERT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
    EXPECT_EQ(c.pitch, lr.Pitch) << c.f;
    EXPECT_EQ(D3DERR_INVALIDCALL, tex->LockRect(0, &lr, nullptr, 0)) << "second lock";
    tex->UnlockRect(0);
    EXPECT_EQ(D3DERR_INVALIDCALL, tex->UnlockRect(0));
    tex->Release();
  }
}

TEST(D3D8Formats, DxtBlocksDecode) {
  TestDevice t(4, 4);
  // DXT1: colour 0 red, colour 1 blue, row 0 uses indices 0, 1, 2, 3 (two thirds / one third).
  uint8_t dxt1[8] = {0x00, 0xf8, 0x1f, 0x00, 0xe4, 0xe4, 0xe4, 0xe4};
  IDirect3DTexture8* tex = t.Texture(4, 4, D3DFMT_DXT1, dxt1, 8);
  ASSERT_NE(nullptr, tex);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.Quad(0, 0, 4, 4, 0);
  EXPECT_EQ(0xFF0000u, t.Rgb(0, 0));
  EXPECT_EQ(0x0000FFu, t.Rgb(1, 0));
  EXPECT_EQ(0xAA0055u, t.Rgb(2, 0));
  EXPECT_EQ(0x5500AAu, t.Rgb(3, 0));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  // DXT5: alpha 0 = 255, alpha 1 = 0, texel 0 index 0, texel 1 index 1, texel 2 index 2 (6/7).
  // Checked through alpha blending over white: colour is black.
  uint8_t dxt5[16] = {0xff, 0x00, 0x88, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  tex = t.Texture(4, 4, D3DFMT_DXT5, dxt5, 16);
  ASSERT_NE(nullptr, tex);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffffu, 1.0f, 0);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  t.Quad(0, 0, 4, 4, 0);
  EXPECT_EQ(0x000000u, t.Rgb(0, 0));  // alpha 255
  EXPECT_EQ(0xffffffu, t.Rgb(1, 0));  // alpha 0
  // alpha (6 * 255 + 0) / 7 = 218: white * 37 / 255 = 37.
  EXPECT_EQ(0x252525u, t.Rgb(2, 0));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

// ---- vertex processing ----------------------------------------------------------------------
namespace {

struct OutVertex {  // XYZRHW | DIFFUSE | SPECULAR
  float x, y, z, rhw;
  DWORD diffuse, specular;
};

// Lights one vertex at eye position p with normal n through ProcessVertices.
DWORD LightOne(TestDevice& t, const LitVertex& v, DWORD* specular = nullptr) {
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  t.dev->CreateVertexBuffer(sizeof(LitVertex), 0, D3DFVF_XYZ | D3DFVF_NORMAL, D3DPOOL_MANAGED, &src);
  t.dev->CreateVertexBuffer(sizeof(OutVertex), 0, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
                            D3DPOOL_MANAGED, &dst);
  BYTE* p = nullptr;
  src->Lock(0, 0, &p, 0);
  memcpy(p, &v, sizeof(v));
  src->Unlock();
  t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL);
  t.dev->SetStreamSource(0, src, sizeof(LitVertex));
  EXPECT_EQ(D3D_OK, t.dev->ProcessVertices(0, 0, 1, dst, 0));
  OutVertex o;
  dst->Lock(0, 0, &p, 0);
  memcpy(&o, p, sizeof(o));
  dst->Unlock();
  t.dev->SetStreamSource(0, nullptr, 0);
  src->Release();
  dst->Release();
  t.dev->SetVertexShader(kTLFvf);
  if (specular) *specular = o.specular;
  return o.diffuse;
}

D3DLIGHT8 Light(D3DLIGHTTYPE type) {
  D3DLIGHT8 l;
  memset(&l, 0, sizeof(l));
  l.Type = type;
  l.Range = 100.0f;
  l.Attenuation0 = 1.0f;
  return l;
}

}  // namespace

TEST(D3D8Vertex, DirectionalAndPointLightsAtAKnownPoint) {
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  t.dev->SetRenderState(D3DRS_AMBIENT, 0x00404040u);
  D3DMATERIAL8 m;
  memset(&m, 0, sizeof(m));
  m.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  m.Ambient = D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 1};
  t.dev->SetMaterial(&m);
  // Directional light shining along +z onto a surface facing the camera (normal -z).
  D3DLIGHT8 l = Light(D3DLIGHT_DIRECTIONAL);
  l.Diffuse = D3DCOLORVALUE{1.0f, 0.6f, 0.2f, 1};
  l.Direction = D3DVECTOR{0, 0, 1};
  t.dev->SetLight(0, &l);
  t.dev->LightEnable(0, TRUE);
  LitVertex v = {0, 0, 5, 0, 0, -1};
  // diffuse 1 * light + ambient 0.5 * 64/255: r saturates, g 153 + 32, b 51 + 32.
  EXPECT_EQ(0xFFFFB953u, LightOne(t, v));
  // Turned away: only the ambient part.
  LitVertex back = {0, 0, 5, 0, 0, 1};
  EXPECT_EQ(0xFF202020u, LightOne(t, back));
  t.dev->LightEnable(0, FALSE);

  // Point light at the camera, distance 5, attenuation 1 / (0.5 d) = 0.4.
  t.dev->SetRenderState(D3DRS_AMBIENT, 0);
  D3DLIGHT8 p = Light(D3DLIGHT_POINT);
  p.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  p.Position = D3DVECTOR{0, 0, 0};
  p.Attenuation0 = 0.0f;
  p.Attenuation1 = 0.5f;
  t.dev->SetLight(1, &p);
  t.dev->LightEnable(1, TRUE);
  EXPECT_EQ(0xFF666666u, LightOne(t, v));
  p.Range = 4.0f;  // out of range
  t.dev->SetLight(1, &p);
  EXPECT_EQ(0xFF000000u, LightOne(t, v));
  t.dev->LightEnable(1, FALSE);

  // Spot light on the camera axis: inner cone 0.5 rad, outer 1.0 rad, falloff 1; a vertex 0.375
  // rad off the axis gets (cos 0.375 - cos 0.5) / (cos 0.25 - cos 0.5) = 0.5795 of the light,
  // times N.L = cos 0.375: 0.5392, 138 of 255.
  D3DLIGHT8 s = Light(D3DLIGHT_SPOT);
  s.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  s.Direction = D3DVECTOR{0, 0, 1};
  s.Theta = 0.5f;
  s.Phi = 1.0f;
  s.Falloff = 1.0f;
  t.dev->SetLight(2, &s);
  t.dev->LightEnable(2, TRUE);
  LitVertex off = {5.0f * tanf(0.375f), 0, 5, 0, 0, -1};
  EXPECT_EQ(0xFF8A8A8Au, LightOne(t, off));
}

TEST(D3D8Vertex, MaterialSourcesAndSpecular) {
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  D3DMATERIAL8 m;
  memset(&m, 0, sizeof(m));
  m.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  m.Emissive = D3DCOLORVALUE{0.2f, 0.0f, 0.0f, 0};
  m.Specular = D3DCOLORVALUE{1, 1, 1, 1};
  m.Power = 1.0f;
  t.dev->SetMaterial(&m);
  D3DLIGHT8 l = Light(D3DLIGHT_DIRECTIONAL);
  l.Diffuse = D3DCOLORVALUE{0.4f, 0.4f, 0.4f, 1};
  l.Specular = D3DCOLORVALUE{0.8f, 0.8f, 0.8f, 1};
  l.Direction = D3DVECTOR{0, 0, 1};
  t.dev->SetLight(0, &l);
  t.dev->LightEnable(0, TRUE);
  LitVertex v = {0, 0, 5, 0, 0, -1};
  DWORD spec = 0;
  // Emissive 0.2 red plus 0.4 diffuse: (0.6, 0.4, 0.4).
  EXPECT_EQ(0xFF996666u, LightOne(t, v, &spec));
  EXPECT_EQ(0u, spec & 0xffffff) << "specular is off by default";
  // With specular on and a local viewer straight in front: H = N, so N.H = 1: 0.8 * 1.
  t.dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  LightOne(t, v, &spec);
  EXPECT_EQ(0xCCCCCCu, spec & 0xffffff);
}

TEST(D3D8Vertex, ProcessVerticesStaysInsideBothBuffers) {
  TestDevice t(4, 4);
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(2 * sizeof(LitVertex), 0, D3DFVF_XYZ | D3DFVF_NORMAL,
                                              D3DPOOL_MANAGED, &src));
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(2 * sizeof(OutVertex), 0,
                                              D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR, D3DPOOL_MANAGED,
                                              &dst));
  t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL);
  t.dev->SetStreamSource(0, src, sizeof(LitVertex));
  EXPECT_EQ(D3D_OK, t.dev->ProcessVertices(0, 1, 1, dst, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->ProcessVertices(0, 2, 1, dst, 0));
  // A destination index near 2^32 must not wrap round to a range that seems to fit.
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->ProcessVertices(0, 0xffffffffu, 1, dst, 0));
  // A stride shorter than the 24-byte vertex: vertices 2 and 3 start at bytes 24 and 36 of the
  // 48-byte buffer, and the second would be read up to byte 60.
  t.dev->SetStreamSource(0, src, 12);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->ProcessVertices(2, 0, 2, dst, 0));
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetVertexShader(kTLFvf);
  src->Release();
  dst->Release();
}

TEST(D3D8Vertex, MultiplyTransformPutsTheNewMatrixFirst) {
  // World = translate (1, 0, 0); multiplied by scale 2 gives scale * translate: a point p goes
  // to 2 p + (1, 0, 0), so the translation row stays 1 (translate * scale would double it).
  TestDevice t(4, 4);
  D3DMATRIX tr, sc, out;
  memset(&tr, 0, sizeof(tr));
  tr._11 = tr._22 = tr._33 = tr._44 = 1.0f;
  tr._41 = 1.0f;
  memset(&sc, 0, sizeof(sc));
  sc._11 = sc._22 = sc._33 = 2.0f;
  sc._44 = 1.0f;
  ASSERT_EQ(D3D_OK, t.dev->SetTransform(D3DTS_WORLD, &tr));
  ASSERT_EQ(D3D_OK, t.dev->MultiplyTransform(D3DTS_WORLD, &sc));
  ASSERT_EQ(D3D_OK, t.dev->GetTransform(D3DTS_WORLD, &out));
  EXPECT_FLOAT_EQ(2.0f, out._11);
  EXPECT_FLOAT_EQ(1.0f, out._41);
  EXPECT_FLOAT_EQ(1.0f, out._44);
}

TEST(D3D8Vertex, TrianglesCrossingTheNearPlaneAreClipped) {
  TestDevice t(16, 16);
  t.Perspective();
  struct V {
    float x, y, z;
    DWORD c;
  };
  // One vertex in front of the near plane's far side... the apex is at z = 0.5, behind it.
  V tri[3] = {{0, 0.5f, 0.5f, 0xffffffff}, {1, -0.5f, 2, 0xffffffff}, {-1, -0.5f, 2, 0xffffffff}};
  t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(V)));
  // The near plane cuts the sides a third of the way from the apex, at (+-1/3, 1/6, 1): on screen
  // (5.33, 6.67) and (10.67, 6.67); the base is at (4, 10) and (12, 10). Rows 7 to 9 are covered.
  for (int x = 0; x < 16; ++x) EXPECT_EQ(0u, t.Rgb(x, 6)) << x;
  for (int x = 0; x < 16; ++x) EXPECT_EQ(x >= 6 && x <= 10 ? 0xffffffu : 0u, t.Rgb(x, 7)) << x;
  for (int x = 0; x < 16; ++x) EXPECT_EQ(x >= 5 && x <= 11 ? 0xffffffu : 0u, t.Rgb(x, 9)) << x;
  for (int x = 0; x < 16; ++x) EXPECT_EQ(0u, t.Rgb(x, 10)) << x;
  // Entirely behind the camera: nothing.
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
  V behind[3] = {{0, 0.5f, -2, 0xffffffff}, {1, -0.5f, -3, 0xffffffff}, {-1, -0.5f, -3, 0xffffffff}};
  t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, behind, sizeof(V));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(0u, t.Rgb(x, y));
}

TEST(D3D8Vertex, ViewportDepthRangeAndIndexedBuffers) {
  TestDevice t(8, 8);
  D3DVIEWPORT8 vp = {0, 0, 8, 8, 0.25f, 0.5f};
  t.dev->SetViewport(&vp);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
  // Clip-space z 1 maps to MaxZ 0.5: passes against a cleared 0.6, fails against 0.4.
  struct V {
    float x, y, z;
    DWORD c;
  };
  IDirect3DVertexBuffer8* vb = nullptr;
  IDirect3DIndexBuffer8* ib = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(4 * sizeof(V), D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                              D3DPOOL_MANAGED, &vb));
  ASSERT_EQ(D3D_OK, t.dev->CreateIndexBuffer(6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib));
  V quad[4] = {{-1, 1, 0.999f, 0xff00ff00}, {1, 1, 0.999f, 0xff00ff00}, {-1, -1, 0.999f, 0xff00ff00},
               {1, -1, 0.999f, 0xff00ff00}};
  uint16_t idx[6] = {0, 1, 2, 1, 3, 2};
  BYTE* p;
  vb->Lock(0, 0, &p, 0);
  memcpy(p, quad, sizeof(quad));
  vb->Unlock();
  ib->Lock(0, 0, &p, 0);
  memcpy(p, idx, sizeof(idx));
  ib->Unlock();
  t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  t.dev->SetStreamSource(0, vb, sizeof(V));
  t.dev->SetIndices(ib, 0);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.6f, 0);
  ASSERT_EQ(D3D_OK, t.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2));
  EXPECT_EQ(0x00ff00u, t.Rgb(3, 3));
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
  t.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2);
  EXPECT_EQ(0u, t.Rgb(3, 3));
  // Out-of-range requests are refused rather than read past the buffers.
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 6, 2));
  // Counts whose vertex or index count passes 2^32: 0x55555556 triangles need 0x100000002
  // indices, not the 2 that a 32-bit product leaves, and 0xffffffff strip triangles need
  // 0x100000001 vertices, not 1.
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 0x55555556u));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x55555556u));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 0xffffffffu));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->DrawIndexedPrimitive(D3DPT_TRIANGLEFAN, 0, 4, 0, 0xffffffffu));
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetIndices(nullptr, 0);
  vb->Release();
  ib->Release();
}

TEST(D3D8Vertex, TextureCoordinateGenerationAndTransforms) {
  TestDevice t(4, 4);
  uint32_t texels[4] = {0xff000000u, 0xffff0000u, 0xff00ff00u, 0xff0000ffu};  // 2 x 2
  IDirect3DTexture8* tex = t.Texture(2, 2, D3DFMT_X8R8G8B8, texels, 8);
  t.dev->SetTexture(0, tex);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  struct V {
    float x, y, z;
    float u, v;
  };
  V tri[3] = {{-1, 1, 0.5f, 0, 0}, {3, 1, 0.5f, 0, 0}, {-1, -3, 0.5f, 0, 0}};
  t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_TEX1);
  // A 2D translation in the third row moves (0, 0) to (0.75, 0.25): texel (1, 0), red.
  D3DMATRIX m;
  memset(&m, 0, sizeof(m));
  m._11 = m._22 = m._33 = m._44 = 1;
  m._31 = 0.75f;
  m._32 = 0.25f;
  t.dev->SetTransform(D3DTS_TEXTURE0, &m);
  t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(V));
  EXPECT_EQ(0xff0000u, t.Rgb(1, 1));
  // Camera-space position as coordinates, projected: (x, y, z) with the transform's rows giving
  // s = 0.25 z, t = 0.75 z, q = z: (0.25, 0.75) for every vertex, texel (0, 1), green.
  memset(&m, 0, sizeof(m));
  m._31 = 0.25f;
  m._32 = 0.75f;
  m._33 = 1.0f;
  t.dev->SetTransform(D3DTS_TEXTURE0, &m);
  t.dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
  t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
  t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(V));
  EXPECT_EQ(0x00ff00u, t.Rgb(1, 1));
  t.dev->SetTexture(0, nullptr);
  tex->Release();
}

// ---- batches of vertices --------------------------------------------------------------------
namespace {

// Every input the fixed function reads: position, normal, both colours, a four-float set.
struct FullVertex {
  float x, y, z, nx, ny, nz;
  DWORD diffuse, specular;
  float t[4];
};
const DWORD kFullFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1 |
                       D3DFVF_TEXCOORDSIZE4(0);
// What ProcessVertices writes: screen position, both colours, two sets (s/q, t/q).
struct ScreenVertex {
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float t0[2], t1[2];
};
const DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2;

// Scattered vertices in front of the camera (some behind the point light's range, one exactly on
// it), normals of every length and direction, colours from a hash.
std::vector<FullVertex> Scattered(int n) {
  std::vector<FullVertex> v((size_t)n);
  for (int i = 0; i < n; ++i) {
    FullVertex& f = v[(size_t)i];
    f.x = 3.0f * sinf(0.7f * (float)i);
    f.y = 2.0f * cosf(1.3f * (float)i);
    f.z = 1.0f + 0.25f * (float)i;
    f.nx = sinf(2.1f * (float)i);
    f.ny = cosf(0.9f * (float)i) * 1.7f;
    f.nz = -0.5f - 0.1f * (float)(i % 7);
    uint32_t h = (uint32_t)i * 2654435761u;
    f.diffuse = h ^ 0x3c6ef372u;
    f.specular = (h >> 7) ^ 0xa54ff53au;
    for (int c = 0; c < 4; ++c) f.t[c] = 0.1f * (float)(i + c) + 0.5f;
  }
  if (n > 5) {  // one on the point light
    v[5].x = 1.0f;
    v[5].y = 0.5f;
    v[5].z = 3.0f;
  }
  return v;
}

// Runs source vertices [first, first + count) through ProcessVertices into the same places of dst.
void ProcessRange(TestDevice& t, IDirect3DVertexBuffer8* dst, UINT first, UINT count) {
  EXPECT_EQ(D3D_OK, t.dev->ProcessVertices(first, first, count, dst, 0));
}

std::vector<uint8_t> Contents(IDirect3DVertexBuffer8* b, size_t bytes) {
  BYTE* p = nullptr;
  b->Lock(0, 0, &p, 0);
  std::vector<uint8_t> r(p, p + bytes);
  b->Unlock();
  return r;
}

// The lights, material and states of one of four set-ups that between them take every branch of
// the fixed-function vertex path.
void LightingSetup(TestDevice& t, int which) {
  IDirect3DDevice8* d = t.dev;
  D3DMATRIX world;
  memset(&world, 0, sizeof(world));
  world._11 = 1.5f;
  world._12 = 0.25f;
  world._21 = -0.2f;
  world._22 = 0.8f;
  world._33 = 1.2f;
  world._41 = 0.1f;
  world._43 = 0.5f;
  world._44 = 1.0f;
  D3DMATRIX proj;
  memset(&proj, 0, sizeof(proj));
  proj._11 = proj._22 = 1.0f;
  proj._33 = 1.0f;
  proj._34 = 1.0f;
  proj._43 = -0.5f;
  d->SetTransform(D3DTS_WORLD, &world);
  d->SetTransform(D3DTS_PROJECTION, &proj);
  d->SetRenderState(D3DRS_LIGHTING, which != 3);
  d->SetRenderState(D3DRS_AMBIENT, 0x00203040u);
  d->SetRenderState(D3DRS_SPECULARENABLE, which != 2);
  d->SetRenderState(D3DRS_LOCALVIEWER, which == 0);
  d->SetRenderState(D3DRS_NORMALIZENORMALS, which == 1);
  d->SetRenderState(D3DRS_COLORVERTEX, which != 2);
  d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, which == 0 ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
  d->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, which == 0 ? D3DMCS_COLOR2 : D3DMCS_MATERIAL);
  d->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, which == 1 ? D3DMCS_COLOR2 : D3DMCS_MATERIAL);
  d->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, which == 1 ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
  D3DMATERIAL8 m;
  memset(&m, 0, sizeof(m));
  m.Diffuse = D3DCOLORVALUE{0.8f, 0.6f, 0.4f, 0.9f};
  m.Ambient = D3DCOLORVALUE{0.3f, 0.5f, 0.2f, 1};
  m.Specular = D3DCOLORVALUE{0.7f, 0.7f, 0.9f, 1};
  m.Emissive = D3DCOLORVALUE{0.05f, 0.0f, 0.1f, 0};
  m.Power = which == 1 ? 0.0f : 12.0f;
  d->SetMaterial(&m);
  D3DLIGHT8 dir = Light(D3DLIGHT_DIRECTIONAL);
  dir.Diffuse = D3DCOLORVALUE{0.6f, 0.5f, 0.3f, 1};
  dir.Specular = D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 1};
  dir.Ambient = D3DCOLORVALUE{0.1f, 0.05f, 0.0f, 1};
  dir.Direction = D3DVECTOR{0.3f, -0.4f, 1.0f};
  D3DLIGHT8 point = Light(D3DLIGHT_POINT);
  point.Diffuse = D3DCOLORVALUE{0.4f, 0.8f, 0.6f, 1};
  point.Specular = D3DCOLORVALUE{0.9f, 0.3f, 0.3f, 1};
  point.Ambient = D3DCOLORVALUE{0.0f, 0.1f, 0.1f, 1};
  point.Position = D3DVECTOR{1.0f, 0.5f, 3.0f};
  point.Range = 6.0f;
  point.Attenuation0 = 0.5f;
  point.Attenuation1 = 0.2f;
  point.Attenuation2 = 0.05f;
  D3DLIGHT8 spot = Light(D3DLIGHT_SPOT);
  spot.Diffuse = D3DCOLORVALUE{0.9f, 0.9f, 0.2f, 1};
  spot.Specular = D3DCOLORVALUE{0.4f, 0.6f, 0.8f, 1};
  spot.Position = D3DVECTOR{0, 0, -1};
  spot.Direction = D3DVECTOR{0.1f, 0, 1};
  spot.Theta = 0.4f;
  spot.Phi = 1.2f;
  spot.Falloff = which == 2 ? 1.0f : 0.7f;
  d->SetLight(0, &dir);
  d->SetLight(1, &point);
  d->SetLight(2, &spot);
  for (DWORD i = 0; i < 3; ++i) d->LightEnable(i, TRUE);
  // Vertex fog of every mode, by depth or by distance.
  static const DWORD kFog[4] = {D3DFOG_LINEAR, D3DFOG_EXP, D3DFOG_EXP2, D3DFOG_LINEAR};
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, kFog[which]);
  d->SetRenderState(D3DRS_RANGEFOGENABLE, which == 0);
  d->SetRenderState(D3DRS_FOGSTART, FloatBits(2.0f));
  d->SetRenderState(D3DRS_FOGEND, FloatBits(9.0f));
  d->SetRenderState(D3DRS_FOGDENSITY, FloatBits(0.15f));
  // Stage 0: the vertex's set through a projected transform; stage 1: a generated vector.
  D3DMATRIX tm;
  memset(&tm, 0, sizeof(tm));
  tm._11 = 0.5f;
  tm._21 = 0.25f;
  tm._22 = 0.75f;
  tm._33 = 1.0f;
  tm._41 = 0.125f;
  tm._44 = 1.0f;
  d->SetTransform(D3DTS_TEXTURE0, &tm);
  d->SetTransform(D3DTS_TEXTURE1, &tm);
  static const DWORD kGen[4] = {D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR, D3DTSS_TCI_CAMERASPACENORMAL,
                                D3DTSS_TCI_CAMERASPACEPOSITION, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR};
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, kGen[which] | 1);
  d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS,
                          which == 1 ? D3DTTFF_DISABLE : D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
}

}  // namespace

// Vertices are processed several at a time: whatever batch a vertex falls in, and whichever
// instruction set processes it, it comes out as it does alone.
TEST(D3D8Vertex, BatchesGiveEveryVertexWhatItGetsAlone) {
  TestDevice t(8, 8);
  const int n = 37;  // a multiple of neither four nor eight
  std::vector<FullVertex> in = Scattered(n);
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(n * sizeof(FullVertex), 0, kFullFvf, D3DPOOL_MANAGED, &src));
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(n * sizeof(ScreenVertex), 0, kScreenFvf, D3DPOOL_MANAGED, &dst));
  BYTE* p = nullptr;
  src->Lock(0, 0, &p, 0);
  memcpy(p, in.data(), n * sizeof(FullVertex));
  src->Unlock();
  t.dev->SetVertexShader(kFullFvf);
  t.dev->SetStreamSource(0, src, sizeof(FullVertex));
  const size_t bytes = n * sizeof(ScreenVertex);
  int saved = MarlixD3D8GetSpanPath();
  for (int which = 0; which < 4; ++which) {
    LightingSetup(t, which);
    ASSERT_EQ(MARLIX_SPANS_SSE2, MarlixD3D8SetSpanPath(MARLIX_SPANS_SSE2));
    ProcessRange(t, dst, 0, n);
    std::vector<uint8_t> whole = Contents(dst, bytes);
    // Not all alike: the lights and fog reach the vertices differently.
    std::vector<ScreenVertex> sv((size_t)n);
    memcpy(sv.data(), whole.data(), bytes);
    int varied = 0;
    for (int i = 1; i < n; ++i) varied += sv[i].diffuse != sv[i - 1].diffuse && sv[i].specular != sv[i - 1].specular;
    EXPECT_GT(varied, n / 2) << "set-up " << which;
    for (int path : {MARLIX_SPANS_SSE2, MARLIX_SPANS_AVX2}) {
      if (MarlixD3D8SetSpanPath(path) != path) continue;
      ProcessRange(t, dst, 0, n);
      EXPECT_EQ(whole, Contents(dst, bytes)) << "set-up " << which << ", path " << path << ": all at once";
      for (int i = 0; i < n; ++i) ProcessRange(t, dst, (UINT)i, 1);
      EXPECT_EQ(whole, Contents(dst, bytes)) << "set-up " << which << ", path " << path << ": one at a time";
      for (int i = 0; i < n; i += 5) ProcessRange(t, dst, (UINT)i, (UINT)std::min(5, n - i));
      EXPECT_EQ(whole, Contents(dst, bytes)) << "set-up " << which << ", path " << path << ": five at a time";
    }
  }
  MarlixD3D8SetSpanPath(saved);
  for (DWORD i = 0; i < 3; ++i) t.dev->LightEnable(i, FALSE);
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetVertexShader(kTLFvf);
  src->Release();
  dst->Release();
}

// One draw of many triangles (crossing the near plane, facing away, overlapping under an additive
// blend) leaves the pixels that one draw per triangle leaves, in every fill and cull mode.
TEST(D3D8Vertex, OneDrawOfManyTrianglesMatchesOneDrawEach) {
  const int w = 48, h = 40, tris = 45;
  std::vector<FullVertex> v = Scattered(3 * tris);
  for (size_t i = 0; i < v.size(); ++i) {
    v[i].z = i % 11 == 0 ? -0.5f : 1.0f + 0.1f * (float)(i % 13);  // some behind the camera
    v[i].x *= 0.6f;
    v[i].y *= 0.7f;
  }
  int saved = MarlixD3D8GetSpanPath();
  for (int path : {MARLIX_SPANS_SSE2, MARLIX_SPANS_AVX2}) {
    if (MarlixD3D8SetSpanPath(path) != path) continue;
    for (DWORD fill : {D3DFILL_SOLID, D3DFILL_WIREFRAME}) {
      for (DWORD cull : {D3DCULL_NONE, D3DCULL_CCW, D3DCULL_CW}) {
        std::vector<uint32_t> pixels[2];
        for (int each = 0; each < 2; ++each) {
          TestDevice t(w, h);
          LightingSetup(t, 0);
          t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
          t.dev->SetRenderState(D3DRS_FILLMODE, fill);
          t.dev->SetRenderState(D3DRS_CULLMODE, cull);
          t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
          t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
          t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
          t.dev->SetVertexShader(kFullFvf);
          if (each) {
            for (int i = 0; i < tris; ++i)
              ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &v[3 * (size_t)i], sizeof(FullVertex)));
          } else {
            ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, tris, v.data(), sizeof(FullVertex)));
          }
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) pixels[each].push_back(t.Rgb(x, y));
          t.dev->SetVertexShader(kTLFvf);
        }
        int lit = 0;
        for (uint32_t c : pixels[0]) lit += c != 0;
        EXPECT_GT(lit, fill == D3DFILL_SOLID ? w * h / 10 : 20) << "fill " << fill << ", cull " << cull;
        EXPECT_EQ(pixels[0], pixels[1]) << "path " << path << ", fill " << fill << ", cull " << cull;
      }
    }
  }
  MarlixD3D8SetSpanPath(saved);
}

// Texture transform flags name at most four coordinates: a larger count divides by the fourth.
TEST(D3D8Vertex, ProjectedCountsAboveFourDivideByTheFourthCoordinate) {
  TestDevice t(4, 4);
  FullVertex v = Scattered(1)[0];
  const float set[4] = {1, 2, 3, 4};
  memcpy(v.t, set, sizeof(set));
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(sizeof(FullVertex), 0, kFullFvf, D3DPOOL_MANAGED, &src));
  ASSERT_EQ(D3D_OK, t.dev->CreateVertexBuffer(sizeof(ScreenVertex), 0, kScreenFvf, D3DPOOL_MANAGED, &dst));
  BYTE* p = nullptr;
  src->Lock(0, 0, &p, 0);
  memcpy(p, &v, sizeof(v));
  src->Unlock();
  t.dev->SetVertexShader(kFullFvf);
  t.dev->SetStreamSource(0, src, sizeof(FullVertex));
  D3DMATRIX identity;
  memset(&identity, 0, sizeof(identity));
  identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
  t.dev->SetTransform(D3DTS_TEXTURE0, &identity);
  for (DWORD count : {4u, 5u, 0xffu}) {
    t.dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, count | D3DTTFF_PROJECTED);
    ASSERT_EQ(D3D_OK, t.dev->ProcessVertices(0, 0, 1, dst, 0));
    ScreenVertex o;
    dst->Lock(0, 0, &p, 0);
    memcpy(&o, p, sizeof(o));
    dst->Unlock();
    EXPECT_EQ(0.25f, o.t0[0]) << "count " << count;
    EXPECT_EQ(0.5f, o.t0[1]) << "count " << count;
  }
  t.dev->SetStreamSource(0, nullptr, 0);
  t.dev->SetVertexShader(kTLFvf);
  src->Release();
  dst->Release();
}

// ---- profiles, validation, loss -------------------------------------------------------------
TEST(D3D8Profiles, CapsAndFormatsFollowTheProfile) {
  struct Case {
    int profile;
    DWORD stages, textures;
    bool tnl, windowed;
    UINT adapters;
  };
  static const Case cases[] = {
      {MARLIX_PROFILE_DEFAULT, 8, 4, true, true, 1},      {MARLIX_PROFILE_SINGLE_TEXTURE, 2, 1, true, true, 1},
      {MARLIX_PROFILE_THREE_STAGES, 3, 2, true, true, 1}, {MARLIX_PROFILE_NO_TNL, 8, 4, false, true, 1},
      {MARLIX_PROFILE_NO_R5G6B5, 8, 4, true, true, 1},    {MARLIX_PROFILE_NO_WINDOWED, 8, 4, true, false, 1},
      {MARLIX_PROFILE_TWO_ADAPTERS, 8, 4, true, true, 2},
  };
  for (const Case& c : cases) {
    ProfileGuard g(c.profile);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(nullptr, d3d);
    D3DCAPS8 caps;
    ASSERT_EQ(D3D_OK, d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
    EXPECT_EQ(c.stages, caps.MaxTextureBlendStages) << c.profile;
    EXPECT_EQ(c.textures, caps.MaxSimultaneousTextures) << c.profile;
    EXPECT_EQ(c.tnl, (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0) << c.profile;
    EXPECT_EQ(c.windowed, (caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED) != 0) << c.profile;
    EXPECT_EQ(c.adapters, d3d->GetAdapterCount()) << c.profile;
    HRESULT r565 = d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5);
    EXPECT_EQ(c.profile == MARLIX_PROFILE_NO_R5G6B5 ? D3DERR_NOTAVAILABLE : D3D_OK, r565) << c.profile;
    // Depth formats the engine tries, in its order.
    EXPECT_EQ(D3D_OK, d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                             D3DRTYPE_SURFACE, D3DFMT_D32));
    EXPECT_EQ(D3D_OK, d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D24X8));
    d3d->Release();
  }
}

TEST(D3D8Profiles, ModesCoverTheUsualSizesInBothDepths) {
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  UINT n = d3d->GetAdapterModeCount(0);
  bool have640x16 = false, have1600x32 = false, have320 = false;
  for (UINT i = 0; i < n; ++i) {
    D3DDISPLAYMODE m;
    ASSERT_EQ(D3D_OK, d3d->EnumAdapterModes(0, i, &m));
    have640x16 |= m.Width == 640 && m.Height == 480 && m.Format == D3DFMT_R5G6B5;
    have1600x32 |= m.Width == 1600 && m.Height == 1200 && m.Format == D3DFMT_X8R8G8B8;
    have320 |= m.Width == 320;
  }
  EXPECT_TRUE(have640x16 && have1600x32 && have320);
  D3DDISPLAYMODE m;
  EXPECT_EQ(D3DERR_INVALIDCALL, d3d->EnumAdapterModes(0, n, &m));
  EXPECT_EQ(D3DERR_INVALIDCALL, d3d->EnumAdapterModes(1, 0, &m));
  EXPECT_EQ(nullptr, Direct3DCreate8(31));
  d3d->Release();
}

TEST(D3D8Profiles, CreationRespectsTheProfile) {
  {
    ProfileGuard g(MARLIX_PROFILE_TWO_ADAPTERS);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3DADAPTER_IDENTIFIER8 a0, a1;
    ASSERT_EQ(D3D_OK, d3d->GetAdapterIdentifier(0, 0, &a0));
    ASSERT_EQ(D3D_OK, d3d->GetAdapterIdentifier(1, 0, &a1));
    EXPECT_STRNE(a0.Description, a1.Description);
    EXPECT_NE(0, a0.Description[0]);
    D3DDISPLAYMODE m;
    EXPECT_EQ(D3D_OK, d3d->GetAdapterDisplayMode(1, &m));
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d->GetAdapterIdentifier(2, 0, &a1));
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = pp.BackBufferHeight = 8;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice8* dev = nullptr;
    ASSERT_EQ(D3D_OK, d3d->CreateDevice(1, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev));
    D3DDEVICE_CREATION_PARAMETERS cp;
    dev->GetCreationParameters(&cp);
    EXPECT_EQ(1u, cp.AdapterOrdinal);
    dev->Release();
    d3d->Release();
  }
  {
    ProfileGuard g(MARLIX_PROFILE_NO_WINDOWED);
    TestDevice t(8, 8);
    EXPECT_EQ(nullptr, t.dev);
  }
  {
    ProfileGuard g(MARLIX_PROFILE_NO_TNL);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = pp.BackBufferHeight = 8;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice8* dev = nullptr;
    EXPECT_EQ(D3DERR_INVALIDCALL, d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_MIXED_VERTEXPROCESSING,
                                                    &pp, &dev));
    EXPECT_EQ(D3D_OK, d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev));
    ASSERT_NE(nullptr, dev);
    DWORD sw = 0;
    dev->GetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, &sw);
    EXPECT_EQ(1u, sw);
    dev->Release();
    d3d->Release();
  }
  {
    ProfileGuard g(MARLIX_PROFILE_NO_R5G6B5);
    TestDevice t(8, 8);
    IDirect3DTexture8* tex = nullptr;
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CreateTexture(8, 8, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &tex));
    EXPECT_EQ(D3D_OK, t.dev->CreateTexture(8, 8, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &tex));
    tex->Release();
  }
}

namespace {

// Stage set-ups the engine's render methods use, and what each profile says of them.
void BumpSetup(TestDevice& t, IDirect3DTexture8* base, IDirect3DTexture8* bump, IDirect3DTexture8* env) {
  t.dev->SetTexture(0, base);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  t.dev->SetTexture(1, bump);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BUMPENVMAP);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
  t.dev->SetTexture(2, env);
  t.dev->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_ADD);
  t.dev->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_CURRENT);
  t.dev->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
}

HRESULT Validate(TestDevice& t) {
  DWORD passes = 99;
  HRESULT hr = t.dev->ValidateDevice(&passes);
  if (hr == D3D_OK) {
    EXPECT_EQ(1u, passes);
  }
  return hr;
}

}  // namespace

TEST(D3D8Profiles, ValidateDeviceAnswersPerProfile) {
  TestDevice t(8, 8);
  IDirect3DTexture8 *base = nullptr, *bump = nullptr, *env = nullptr;
  t.dev->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &base);
  t.dev->CreateTexture(4, 4, 1, 0, D3DFMT_V8U8, D3DPOOL_MANAGED, &bump);
  t.dev->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &env);
  BumpSetup(t, base, bump, env);
  EXPECT_EQ(D3D_OK, Validate(t));
  {
    ProfileGuard g(MARLIX_PROFILE_SINGLE_TEXTURE);
    EXPECT_EQ(D3DERR_UNSUPPORTEDCOLOROPERATION, Validate(t));
  }
  {
    ProfileGuard g(MARLIX_PROFILE_THREE_STAGES);
    EXPECT_EQ(D3DERR_TOOMANYOPERATIONS, Validate(t)) << "three textures on a two-texture card";
  }
  // A bump operation needs a bump texture.
  t.dev->SetTexture(1, env);
  EXPECT_EQ(D3DERR_WRONGTEXTUREFORMAT, Validate(t));
  t.dev->SetTexture(1, bump);
  // ... and a stage after it to perturb.
  t.dev->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
  EXPECT_EQ(D3DERR_CONFLICTINGRENDERSTATE, Validate(t));
  // Two textured stages: fine on the three-stage card, too many for a single texture.
  t.dev->SetTexture(1, env);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
  EXPECT_EQ(D3D_OK, Validate(t));
  {
    ProfileGuard g(MARLIX_PROFILE_THREE_STAGES);
    EXPECT_EQ(D3D_OK, Validate(t));
  }
  {
    ProfileGuard g(MARLIX_PROFILE_SINGLE_TEXTURE);
    EXPECT_EQ(D3DERR_TOOMANYOPERATIONS, Validate(t));
  }
  // Four stages on the three-stage card.
  for (DWORD s = 2; s < 4; ++s) {
    t.dev->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_ADD);
    t.dev->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    t.dev->SetTextureStageState(s, D3DTSS_COLORARG2, D3DTA_CURRENT);
  }
  {
    ProfileGuard g(MARLIX_PROFILE_THREE_STAGES);
    EXPECT_EQ(D3DERR_TOOMANYOPERATIONS, Validate(t));
  }
  t.dev->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
  // Dot product as an alpha operation, and the temporary register without its cap.
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DOTPRODUCT3);
  EXPECT_EQ(D3DERR_UNSUPPORTEDALPHAOPERATION, Validate(t));
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TEMP);
  t.dev->SetTexture(1, nullptr);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  EXPECT_EQ(D3D_OK, Validate(t));
  {
    ProfileGuard g(MARLIX_PROFILE_SINGLE_TEXTURE);
    EXPECT_EQ(D3DERR_UNSUPPORTEDCOLORARG, Validate(t));
  }
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  // A texture in a format the card does not take.
  IDirect3DTexture8* t565 = nullptr;
  t.dev->CreateTexture(4, 4, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &t565);
  t.dev->SetTexture(0, t565);
  EXPECT_EQ(D3D_OK, Validate(t));
  {
    ProfileGuard g(MARLIX_PROFILE_NO_R5G6B5);
    EXPECT_EQ(D3DERR_WRONGTEXTUREFORMAT, Validate(t));
  }
  t.dev->SetTexture(0, base);
  t565->Release();
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_BOTHSRCALPHA);
  EXPECT_EQ(D3DERR_CONFLICTINGRENDERSTATE, Validate(t));
  for (DWORD s = 0; s < 8; ++s) t.dev->SetTexture(s, nullptr);
  base->Release();
  bump->Release();
  env->Release();
}

TEST(D3D8Lifetime, LossAndReset) {
  TestDevice t(8, 8);
  ASSERT_NE(nullptr, t.dev);
  EXPECT_EQ(D3D_OK, t.dev->TestCooperativeLevel());
  IDirect3DTexture8* rtTex = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &rtTex));
  t.dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
  MarlixD3D8LoseDevice(2);
  EXPECT_EQ(D3DERR_DEVICELOST, t.dev->Present(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(D3DERR_DEVICELOST, t.dev->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICELOST, t.dev->TestCooperativeLevel());
  D3DPRESENT_PARAMETERS pp;
  memset(&pp, 0, sizeof(pp));
  pp.Windowed = TRUE;
  pp.BackBufferWidth = 10;
  pp.BackBufferHeight = 6;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D24X8;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  EXPECT_EQ(D3DERR_DEVICELOST, t.dev->Reset(&pp)) << "still lost";
  EXPECT_EQ(D3DERR_DEVICENOTRESET, t.dev->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICENOTRESET, t.dev->TestCooperativeLevel());
  // Drawing while lost succeeds without drawing.
  EXPECT_EQ(D3D_OK, t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffffu, 1.0f, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->Reset(&pp)) << "a default-pool texture is still alive";
  rtTex->Release();
  ASSERT_EQ(D3D_OK, t.dev->Reset(&pp));
  EXPECT_EQ(D3D_OK, t.dev->TestCooperativeLevel());
  DWORD fog = 1;
  t.dev->GetRenderState(D3DRS_FOGENABLE, &fog);
  EXPECT_EQ(0u, fog) << "states are back to their defaults";
  IDirect3DSurface8* bb = nullptr;
  ASSERT_EQ(D3D_OK, t.dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb));
  D3DSURFACE_DESC d;
  bb->GetDesc(&d);
  EXPECT_EQ(10u, d.Width);
  EXPECT_EQ(6u, d.Height);
  bb->Release();
  D3DVIEWPORT8 vp;
  t.dev->GetViewport(&vp);
  EXPECT_EQ(10u, vp.Width);
  EXPECT_EQ(D3D_OK, t.dev->Present(nullptr, nullptr, nullptr, nullptr));
  // Zero polls: straight to the not-reset state.
  MarlixD3D8LoseDevice(0);
  EXPECT_EQ(D3DERR_DEVICENOTRESET, t.dev->TestCooperativeLevel());
  EXPECT_EQ(D3D_OK, t.dev->Reset(&pp));
  // The new depth buffer reads as far although it was made while the device was still lost: a
  // quad at depth 0.5 passes the default less-or-equal test before any clear.
  t.dev->SetVertexShader(kTLFvf);
  t.dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  t.Quad(0, 0, 4, 4, 0xff00ff00u);
  EXPECT_EQ(0x00ff00u, t.Rgb(1, 1));
}

TEST(D3D8Lifetime, ReferenceCountsAndReleaseOfEveryObject) {
  int before = MarlixD3D8LiveObjects();
  {
    TestDevice t(8, 8);
    IDirect3DTexture8* tex = nullptr;
    t.dev->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex);
    IDirect3DSurface8* level = nullptr;
    tex->GetSurfaceLevel(1, &level);
    EXPECT_EQ(3u, tex->AddRef());  // creation, the level, this call
    tex->Release();
    // Binding holds a reference, as on the real runtime.
    t.dev->SetTexture(0, tex);
    EXPECT_EQ(2u, level->Release());
    EXPECT_EQ(1u, tex->Release());
    t.dev->SetTexture(0, nullptr);
    IDirect3DSurface8* bb = nullptr;
    t.dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb);
    EXPECT_EQ(0u, bb->Release());
    IDirect3DSurface8* img = nullptr;
    t.dev->CreateImageSurface(4, 4, D3DFMT_R5G6B5, &img);
    img->Release();
  }
  EXPECT_EQ(before, MarlixD3D8LiveObjects());
}

TEST(D3D8Lifetime, CopyRectsCopiesAndChecksBounds) {
  TestDevice t(8, 8);
  IDirect3DSurface8* a = nullptr;
  IDirect3DSurface8* bb = nullptr;
  t.dev->CreateImageSurface(4, 4, D3DFMT_X8R8G8B8, &a);
  D3DLOCKED_RECT lr;
  a->LockRect(&lr, nullptr, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = 0xff000000u | (y * 4 + x);
  a->UnlockRect();
  t.dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb);
  RECT r = {1, 1, 3, 3};
  POINT p = {5, 6};
  ASSERT_EQ(D3D_OK, t.dev->CopyRects(a, &r, 1, bb, &p));
  EXPECT_EQ(5u, t.Rgb(5, 6));
  EXPECT_EQ(10u, t.Rgb(6, 7));
  POINT off = {7, 7};
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CopyRects(a, &r, 1, bb, &off));
  IDirect3DSurface8* b16 = nullptr;
  t.dev->CreateImageSurface(4, 4, D3DFMT_R5G6B5, &b16);
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->CopyRects(a, nullptr, 0, b16, nullptr)) << "formats differ";
  b16->Release();
  bb->Release();
  a->Release();
}

TEST(D3D8Raster, ThreadsAndFastPathsGiveIdenticalPixels) {
  // A busy scene: many overlapping blended textured quads, bilinear and point, with depth.
  auto render = [](int threads, int fast, std::vector<uint32_t>& out, bool depth) {
    MarlixD3D8SetThreads(threads);
    MarlixD3D8SetFastPaths(fast);
    TestDevice t(96, 80);
    // 8 x 8 with its mip levels, each level a different pattern.
    IDirect3DTexture8* tex = nullptr;
    t.dev->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex);
    for (UINT l = 0; l < tex->GetLevelCount(); ++l) {
      D3DLOCKED_RECT lr;
      D3DSURFACE_DESC d;
      tex->GetLevelDesc(l, &d);
      tex->LockRect(l, &lr, nullptr, 0);
      for (UINT y = 0; y < d.Height; ++y)
        for (UINT x = 0; x < d.Width; ++x) {
          uint32_t i = y * 8 + x + l * 17;
          ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = (i * 0x04030201u) | ((i * 4) << 24);
        }
      tex->UnlockRect(l);
    }
    t.dev->SetTexture(0, tex);
    t.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    t.dev->SetRenderState(D3DRS_ZENABLE, depth ? D3DZB_TRUE : D3DZB_FALSE);
    t.dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    for (int i = 0; i < 40; ++i) {
      float x = (float)((i * 37) % 70) + 0.3f * (float)(i % 3), y = (float)((i * 23) % 60) + 0.17f * (float)i;
      t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, i % 2 ? D3DTEXF_LINEAR : D3DTEXF_POINT);
      t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, i % 2 ? D3DTEXF_LINEAR : D3DTEXF_POINT);
      float size = i % 4 == 3 ? 4.5f : 25.5f;
      t.dev->SetRenderState(D3DRS_ZWRITEENABLE, i % 5 != 0);
      if (i % 4 == 1) {
        // In perspective: rhw differs per vertex.
        TLVertex tri[3] = {TL(x, y, 0xc0ffffffu, 0, 0, 0.3f, 1.0f), TL(x + 30, y + 2, 0xffff80ffu, 3, 0, 0.6f, 0.25f),
                           TL(x + 4, y + 26, 0x80ffffffu, 0, 2.5f, 0.4f, 0.5f)};
        for (TLVertex& v : tri) {
          v.u *= v.rhw;  // coordinates as a projection would leave them
          v.v *= v.rhw;
        }
        t.Draw(tri, 1);
        continue;
      }
      t.Quad(x, y, x + size, y + size * 0.75f, 0x80ffffffu | ((uint32_t)(i * 5) << 8), -0.3f, 0.1f, 1.7f, 2.2f,
             0.9f - 0.013f * (float)((i * 7) % 40));
    }
    out.clear();
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 96; ++x) out.push_back(t.Raw(x, y));
    t.dev->SetTexture(0, nullptr);
    tex->Release();
  };
  // Untextured Gouraud triangles with a depth test, half of them blended; stretched down a tall
  // target (tall: 9 times the height), whose rows the two threads share in bands.
  auto gouraud = [](int threads, int fast, std::vector<uint32_t>& out, int tall = 1) {
    MarlixD3D8SetThreads(threads);
    MarlixD3D8SetFastPaths(fast);
    const int h = 80 * tall;
    const float sy = (float)tall;
    TestDevice t(96, h, D3DFMT_D24S8);
    t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xff203040u, 1.0f, 0);
    t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);  // unbound: opaque
    for (int i = 0; i < 60; ++i) {
      float x = (float)((i * 29) % 80), y = (float)((i * 17) % 70);
      t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, i % 2);
      t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, i % 3 ? D3DTA_DIFFUSE : D3DTA_TEXTURE);
      TLVertex tri[3] = {TL(x, y * sy, 0x80ff0000u + (uint32_t)i * 3, 0, 0, 0.9f - 0.01f * (float)i),
                         TL(x + 31.5f, (y + 3.25f) * sy, 0xc000ff00u, 0, 0, 0.2f + 0.005f * (float)i),
                         TL(x + 7.75f, (y + 27.0f) * sy, 0x400000ffu, 0, 0, 0.5f)};
      t.Draw(tri, 1);
    }
    out.clear();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 96; ++x) out.push_back(t.Raw(x, y));
  };
  std::vector<uint32_t> ga, gb;
  gouraud(1, 0, ga);
  gouraud(2, 1, gb);
  EXPECT_TRUE(ga == gb) << "untextured fast spans or threads changed pixels";
  gouraud(1, 0, ga, 9);
  gouraud(2, 1, gb, 9);
  EXPECT_TRUE(ga == gb) << "threads sharing the rows of a tall target changed pixels";
  std::vector<uint32_t> a, b, c, d, e;
  render(1, 0, a, true);
  render(2, 0, b, true);
  render(2, 1, c, true);
  render(1, 0, d, false);
  render(2, 1, e, false);
  EXPECT_TRUE(d == e) << "fast spans without depth differ from the general pipeline";
  MarlixD3D8SetThreads(2);
  MarlixD3D8SetFastPaths(1);
  EXPECT_TRUE(a == b) << "thread count changed pixels";
  EXPECT_TRUE(a == c) << "fast spans differ from the general pipeline";
  size_t lit = 0;
  for (uint32_t v : a) lit += (v & 0xffffff) != 0;
  EXPECT_GT(lit, a.size() / 2);
}

#include <marlix_platform.h>

namespace {

LRESULT CALLBACK TestWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

HWND MakeWindow(int w, int h) {
  WNDCLASSA wc;
  memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = TestWndProc;
  wc.lpszClassName = "MarlixD3D8Test";
  RegisterClassA(&wc);
  return CreateWindowExA(0, "MarlixD3D8Test", "d3d8 test", WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

TEST(D3D8Lifetime, PresentScalesTheBackBufferIntoTheClientArea) {
  HWND win = MakeWindow(40, 30);
  ASSERT_NE(nullptr, win);
  RECT client;
  GetClientRect(win, &client);
  int cw = client.right, ch = client.bottom;
  ASSERT_GT(cw, 8);
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp;
  memset(&pp, 0, sizeof(pp));
  pp.Windowed = TRUE;
  pp.hDeviceWindow = win;
  pp.BackBufferWidth = 8;
  pp.BackBufferHeight = 6;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  IDirect3DDevice8* dev = nullptr;
  ASSERT_EQ(D3D_OK, d3d->CreateDevice(0, D3DDEVTYPE_HAL, win, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev));
  D3DRECT left = {0, 0, 4, 6}, right = {4, 0, 8, 6};
  dev->Clear(1, &left, D3DCLEAR_TARGET, 0xffff0000u, 1.0f, 0);
  dev->Clear(1, &right, D3DCLEAR_TARGET, 0xff0000ffu, 1.0f, 0);
  ASSERT_EQ(D3D_OK, dev->Present(nullptr, nullptr, nullptr, nullptr));
  MarlixFrame f;
  ASSERT_TRUE(MarlixGetFrame(win, &f));
  ASSERT_EQ(cw, f.width);
  ASSERT_EQ(ch, f.height);
  EXPECT_EQ(0xff0000u, f.pixels[(ch / 2) * cw + cw / 4] & 0xffffff);
  EXPECT_EQ(0x0000ffu, f.pixels[(ch / 2) * cw + 3 * cw / 4] & 0xffffff);
  // Source and destination rectangles: the right half of the buffer into the top-left corner.
  RECT src = {4, 0, 8, 6}, dst = {0, 0, 4, 6};
  ASSERT_EQ(D3D_OK, dev->Present(&src, &dst, nullptr, nullptr));
  ASSERT_TRUE(MarlixGetFrame(win, &f));
  EXPECT_EQ(0x0000ffu, f.pixels[0] & 0xffffff);
  EXPECT_EQ(0x0000ffu, f.pixels[5 * cw + 3] & 0xffffff);
  dev->Release();
  d3d->Release();
  DestroyWindow(win);
}

TEST(D3D8Lifetime, WindowWithoutClientHeightStillGetsAUsableBackBuffer) {
  HWND win = MakeWindow(40, 0);
  ASSERT_NE(nullptr, win);
  RECT client;
  GetClientRect(win, &client);
  ASSERT_EQ(0, client.bottom);
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp;
  memset(&pp, 0, sizeof(pp));
  pp.Windowed = TRUE;
  pp.hDeviceWindow = win;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  IDirect3DDevice8* dev = nullptr;
  ASSERT_EQ(D3D_OK, d3d->CreateDevice(0, D3DDEVTYPE_HAL, win, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev));
  // The missing dimension is one pixel; the other is the client's.
  IDirect3DSurface8* bb = nullptr;
  ASSERT_EQ(D3D_OK, dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb));
  D3DSURFACE_DESC d;
  bb->GetDesc(&d);
  bb->Release();
  EXPECT_EQ((UINT)client.right, d.Width);
  EXPECT_EQ(1u, d.Height);
  D3DVIEWPORT8 vp;
  dev->GetViewport(&vp);
  EXPECT_EQ(D3D_OK, dev->SetViewport(&vp));
  EXPECT_EQ(D3D_OK, dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff00ff00u, 1.0f, 0));
  EXPECT_EQ(D3D_OK, dev->Present(nullptr, nullptr, nullptr, nullptr));
  dev->Release();
  d3d->Release();
  DestroyWindow(win);
}

TEST(D3D8Lifetime, ViewportMustLieInsideTheTargetButMayBeEmpty) {
  TestDevice t(8, 6);
  D3DVIEWPORT8 empty[] = {{3, 2, 0, 4, 0, 1}, {3, 2, 4, 0, 0, 1}, {8, 6, 0, 0, 0, 1}};
  for (const D3DVIEWPORT8& vp : empty) {
    EXPECT_EQ(D3D_OK, t.dev->SetViewport(&vp)) << vp.X << "," << vp.Y << " " << vp.Width << "x" << vp.Height;
    D3DVIEWPORT8 back;
    t.dev->GetViewport(&back);
    EXPECT_EQ(vp.Width, back.Width);
    EXPECT_EQ(vp.Height, back.Height);
    // Nothing is drawn or cleared through an empty viewport.
    t.Quad(0, 0, 8, 6, 0xffffffffu);
    t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff0000u, 1.0f, 0);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(0u, t.Rgb(x, y)) << x << "," << y;
  }
  D3DVIEWPORT8 outside[] = {{0, 0, 9, 6, 0, 1}, {0, 0, 8, 7, 0, 1}, {5, 0, 4, 6, 0, 1}, {9, 0, 0, 0, 0, 1},
                            {0xffffffffu, 0, 2, 2, 0, 1}};
  for (const D3DVIEWPORT8& vp : outside)
    EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->SetViewport(&vp))
        << vp.X << "," << vp.Y << " " << vp.Width << "x" << vp.Height;
  D3DVIEWPORT8 kept;
  t.dev->GetViewport(&kept);
  EXPECT_EQ(8u, kept.X);
  EXPECT_EQ(0u, kept.Width);
}

TEST(D3D8Lifetime, FullScreenFlipsAndWidensSixteenBitFrames) {
  HWND win = MakeWindow(640, 480);
  ASSERT_NE(nullptr, win);
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp;
  memset(&pp, 0, sizeof(pp));
  pp.Windowed = FALSE;
  pp.hDeviceWindow = win;
  pp.BackBufferWidth = 640;
  pp.BackBufferHeight = 480;
  pp.BackBufferFormat = D3DFMT_R5G6B5;
  pp.BackBufferCount = 1;
  pp.SwapEffect = D3DSWAPEFFECT_FLIP;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  IDirect3DDevice8* dev = nullptr;
  ASSERT_EQ(D3D_OK, d3d->CreateDevice(0, D3DDEVTYPE_HAL, win, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &dev));
  D3DDISPLAYMODE mode;
  dev->GetDisplayMode(&mode);
  EXPECT_EQ(640u, mode.Width);
  EXPECT_EQ(D3DFMT_R5G6B5, mode.Format);
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff8040c0u, 1.0f, 0);
  ASSERT_EQ(D3D_OK, dev->Present(nullptr, nullptr, nullptr, nullptr));
  MarlixFrame f;
  ASSERT_TRUE(MarlixGetFrame(win, &f));
  EXPECT_EQ(0x8441C6u, f.pixels[0] & 0xffffff) << "0x8218 widened";
  // After the flip the back buffer holds the frame before (never drawn: black).
  IDirect3DSurface8* bb = nullptr;
  dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(D3D_OK, bb->LockRect(&lr, nullptr, D3DLOCK_READONLY));
  EXPECT_EQ(0, *(const uint16_t*)lr.pBits);
  bb->UnlockRect();
  bb->Release();
  // Frames drawn with unchanged states land in whichever buffer is the back buffer now.
  dev->SetRenderState(D3DRS_LIGHTING, FALSE);
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  dev->SetVertexShader(kTLFvf);
  for (DWORD color : {0xffff0000u, 0xff00ff00u, 0xff0000ffu}) {
    TLVertex q[4] = {TL(0, 0, color), TL(640, 0, color), TL(0, 480, color), TL(640, 480, color)};
    ASSERT_EQ(D3D_OK, dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLVertex)));
    ASSERT_EQ(D3D_OK, dev->Present(nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(MarlixGetFrame(win, &f));
    EXPECT_EQ(color & 0xffffff, f.pixels[240 * 640 + 320] & 0xffffff);
  }
  // A mode the adapter does not list is refused.
  pp.BackBufferWidth = 700;
  EXPECT_EQ(D3DERR_INVALIDCALL, dev->Reset(&pp));
  EXPECT_EQ(D3D_OK, dev->TestCooperativeLevel());
  dev->Release();
  d3d->Release();
  DestroyWindow(win);
}

TEST(D3D8Lifetime, StateBlocksRecordOnlyWhatWasSet) {
  TestDevice t(4, 4);
  t.dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_ALPHAREF, 10);
  ASSERT_EQ(D3D_OK, t.dev->BeginStateBlock());
  t.dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
  DWORD token = 0;
  ASSERT_EQ(D3D_OK, t.dev->EndStateBlock(&token));
  DWORD v = 99;
  t.dev->GetRenderState(D3DRS_FOGENABLE, &v);
  EXPECT_EQ(0u, v) << "recording does not change the device";
  t.dev->SetRenderState(D3DRS_ALPHAREF, 20);
  ASSERT_EQ(D3D_OK, t.dev->ApplyStateBlock(token));
  t.dev->GetRenderState(D3DRS_FOGENABLE, &v);
  EXPECT_EQ(1u, v);
  t.dev->GetRenderState(D3DRS_ALPHAREF, &v);
  EXPECT_EQ(20u, v) << "a state the block did not record is left alone";
  // A whole-state block brings everything back, textures included.
  IDirect3DTexture8* tex = nullptr;
  t.dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex);
  t.dev->SetTexture(0, tex);
  DWORD all = 0;
  ASSERT_EQ(D3D_OK, t.dev->CreateStateBlock(D3DSBT_ALL, &all));
  t.dev->SetTexture(0, nullptr);
  t.dev->SetRenderState(D3DRS_ALPHAREF, 30);
  t.dev->ApplyStateBlock(all);
  IDirect3DBaseTexture8* bound = nullptr;
  t.dev->GetTexture(0, &bound);
  EXPECT_EQ(static_cast<IDirect3DBaseTexture8*>(tex), bound);
  if (bound) bound->Release();
  t.dev->GetRenderState(D3DRS_ALPHAREF, &v);
  EXPECT_EQ(20u, v);
  t.dev->SetTexture(0, nullptr);
  EXPECT_EQ(D3D_OK, t.dev->DeleteStateBlock(all));
  EXPECT_EQ(D3D_OK, t.dev->DeleteStateBlock(token));
  EXPECT_EQ(D3DERR_INVALIDCALL, t.dev->ApplyStateBlock(token));
  EXPECT_EQ(0u, tex->Release());
}
