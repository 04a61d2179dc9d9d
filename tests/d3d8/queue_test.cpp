// The draw queue: a frame recorded and drawn later on two threads gives the pixels of the same
// frame drawn call by call, and what changes between draws (texels, bound textures) reaches only
// the draws after it.
#include "d3d8_test_util.h"

#include <vector>

namespace {

// A texture whose every texel is one colour.
IDirect3DTexture8* Solid(IDirect3DDevice8* dev, int size, uint32_t argb) {
  IDirect3DTexture8* t = nullptr;
  if (FAILED(dev->CreateTexture((UINT)size, (UINT)size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t))) return nullptr;
  D3DLOCKED_RECT lr;
  t->LockRect(0, &lr, nullptr, 0);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) ((uint32_t*)((uint8_t*)lr.pBits + (size_t)y * lr.Pitch))[x] = argb;
  t->UnlockRect(0);
  return t;
}

// A mip-mapped texture with a different pattern (and varying alpha) on every level.
IDirect3DTexture8* Pattern(IDirect3DDevice8* dev, int size, uint32_t seed) {
  IDirect3DTexture8* t = nullptr;
  if (FAILED(dev->CreateTexture((UINT)size, (UINT)size, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t))) return nullptr;
  for (UINT l = 0; l < t->GetLevelCount(); ++l) {
    D3DSURFACE_DESC d;
    D3DLOCKED_RECT lr;
    t->GetLevelDesc(l, &d);
    t->LockRect(l, &lr, nullptr, 0);
    for (UINT y = 0; y < d.Height; ++y)
      for (UINT x = 0; x < d.Width; ++x) {
        uint32_t i = (y * d.Width + x) * 2654435761u + seed + l * 977u;
        ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = (i >> 8) | ((i & 0xff) << 24);
      }
    t->UnlockRect(l);
  }
  return t;
}

// Every pixel of the back buffer.
std::vector<uint32_t> Pixels(TestDevice& t) {
  std::vector<uint32_t> out;
  IDirect3DSurface8* rt = nullptr;
  t.dev->GetRenderTarget(&rt);
  D3DLOCKED_RECT lr;
  if (rt && SUCCEEDED(rt->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
    for (int y = 0; y < t.height; ++y) {
      const uint32_t* row = (const uint32_t*)((const uint8_t*)lr.pBits + (size_t)y * lr.Pitch);
      out.insert(out.end(), row, row + t.width);
    }
    rt->UnlockRect();
  }
  if (rt) rt->Release();
  return out;
}

// A frame as the engine draws it: one DrawPrimitiveUP per face, state changes between runs of
// faces (opaque, alpha-tested, fogged, two-stage, bilinear and point-sampled, mip-mapped, in
// perspective), a texture rewritten mid-frame, then translucent faces far to near.
std::vector<uint32_t> EngineFrame() {
  TestDevice t(112, 90, D3DFMT_D24S8);
  IDirect3DTexture8* a = Pattern(t.dev, 16, 1);
  IDirect3DTexture8* b = Pattern(t.dev, 8, 2);
  t.dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xff102030u, 1.0f, 0);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  t.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
  t.dev->SetRenderState(D3DRS_FOGCOLOR, 0x00808040u);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  t.dev->SetRenderState(D3DRS_ALPHAREF, 0x60);
  t.dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  auto face = [&](int i, bool translucent) {
    float x = (float)((i * 37) % 96) - 4.0f, y = (float)((i * 23) % 76) - 4.0f;
    float z = translucent ? 0.9f - 0.004f * (float)i : 0.2f + 0.003f * (float)(i % 200);
    float rhw0 = 1.0f, rhw1 = 0.5f + 0.01f * (float)(i % 40);
    DWORD alpha = translucent ? 0x90000000u : 0xff000000u;
    TLVertex v[3] = {TL(x, y, alpha | 0xffc080u, 0.1f, 0.2f, z, rhw0),
                     TL(x + 29.5f, y + 4.25f, alpha | 0x80ffc0u, 2.1f * rhw1, 0.3f * rhw1, z, rhw1),
                     TL(x + 6.75f, y + 25.5f, alpha | 0xc080ffu, 0.4f, 1.7f, z + 0.05f, rhw0)};
    // The specular alpha is the vertex fog factor.
    for (int k = 0; k < 3; ++k) v[k].specular = (DWORD)((40 + 70 * k + i) & 0xff) << 24 | 0x102030u;
    t.Draw(v, 1);
  };
  for (int i = 0; i < 160; ++i) {
    if (i % 8 == 0) {
      int run = i / 8;
      t.dev->SetTexture(0, run % 2 ? b : a);
      DWORD filter = run % 3 ? D3DTEXF_LINEAR : D3DTEXF_POINT;
      t.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
      t.dev->SetTextureStageState(0, D3DTSS_MINFILTER, filter);
      t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, run % 4 == 1);
      t.dev->SetRenderState(D3DRS_FOGENABLE, run % 5 == 2);
      // Two stages: the second modulates by the other texture.
      t.dev->SetTexture(1, run % 6 == 3 ? a : nullptr);
      t.dev->SetTextureStageState(1, D3DTSS_COLOROP, run % 6 == 3 ? D3DTOP_MODULATE : D3DTOP_DISABLE);
      t.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
      t.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    }
    if (i == 80) {
      // Rewritten while earlier faces that sample it may still be queued.
      D3DLOCKED_RECT lr;
      a->LockRect(0, &lr, nullptr, 0);
      for (int y = 0; y < 16; ++y) ((uint32_t*)((uint8_t*)lr.pBits + (size_t)y * lr.Pitch))[y] = 0xff00ff00u;
      a->UnlockRect(0);
    }
    face(i, false);
  }
  t.dev->SetTexture(1, nullptr);
  t.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  t.dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  for (int i = 0; i < 60; ++i) {
    if (i % 8 == 0) t.dev->SetTexture(0, i % 16 ? a : b);
    face(i * 3 + 1, true);
  }
  std::vector<uint32_t> px = Pixels(t);
  t.dev->SetTexture(0, nullptr);
  a->Release();
  b->Release();
  return px;
}

// A black target, and alpha blending for the translucent triangles drawn over it.
void BlackForBlending(TestDevice& t) {
  t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000u, 1.0f, 0);
  t.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  t.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  t.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

// Many small translucent triangles over a small target, in draws of a few dozen: the queue holds
// several segments of them at the flush, and each pixel's colour depends on the order they
// were blended in.
std::vector<uint32_t> ManySmallTriangles() {
  TestDevice t(96, 150, D3DFMT_D16);
  BlackForBlending(t);
  std::vector<TLVertex> v;
  for (int i = 0; i < 12000; ++i) {
    const float x = (float)((i * 37) % 100) - 2.0f, y = (float)((i * 53) % 154) - 2.0f;
    const DWORD c = 0x80000000u | (DWORD)(i * 2654435761u & 0xffffffu);
    v.push_back(TL(x, y, c));
    v.push_back(TL(x + 3.25f + (float)(i % 5), y + 0.5f, c));
    v.push_back(TL(x + 0.75f, y + 2.5f + (float)(i % 7), c));
    if (v.size() == 3 * 40) {
      t.Draw(v.data(), 40);
      v.clear();
    }
  }
  return Pixels(t);
}

// A tall target (its rows shared by the two threads in bands) drawn in turns through a viewport of
// its top rows (which one thread draws alone) and through the whole of it, the turns overlapping
// and blended, so that any turn drawn out of order shows.
std::vector<uint32_t> ViewportTurns() {
  const int width = 96, height = 720;
  TestDevice t(width, height, D3DFMT_D16);
  BlackForBlending(t);
  std::vector<TLVertex> v;
  for (int turn = 0; turn < 6; ++turn) {
    const D3DVIEWPORT8 top = {0, 0, (DWORD)width, 300, 0.0f, 1.0f}, whole = {0, 0, (DWORD)width, (DWORD)height, 0.0f, 1.0f};
    t.dev->SetViewport(turn % 2 ? &whole : &top);
    v.clear();
    for (int i = 0; i < 2500; ++i) {
      const float x = (float)((i * 37) % 90) - 4.0f, y = (float)((i * 53 + turn * 7) % 280);
      const DWORD c = 0x60000000u | (DWORD)((i + turn * 7919) * 2654435761u & 0xffffffu);
      v.push_back(TL(x, y, c));
      v.push_back(TL(x + 14.0f, y + 3.5f, c));
      v.push_back(TL(x + 2.5f, y + 16.0f, c));
    }
    t.Draw(v.data(), (int)v.size() / 3);
  }
  return Pixels(t);
}

// A scene drawn call by call on one thread, then queued on two threads three times (the threads'
// timing differs from run to run): the same pixels every time.
void ExpectQueuedRunsMatchDirect(std::vector<uint32_t> (*scene)()) {
  MarlixD3D8SetQueued(0);
  MarlixD3D8SetThreads(1);
  std::vector<uint32_t> direct = scene();
  MarlixD3D8SetQueued(1);
  MarlixD3D8SetThreads(2);
  for (int run = 0; run < 3; ++run) {
    std::vector<uint32_t> queued = scene();
    ASSERT_EQ(direct.size(), queued.size());
    size_t differ = 0;
    for (size_t i = 0; i < direct.size(); ++i) differ += direct[i] != queued[i];
    EXPECT_EQ(0u, differ) << "run " << run;
  }
}

}  // namespace

TEST(D3D8Queue, QueuedFrameMatchesTheFrameDrawnCallByCall) {
  MarlixD3D8SetQueued(0);
  MarlixD3D8SetThreads(1);
  std::vector<uint32_t> direct = EngineFrame();
  MarlixD3D8SetQueued(1);
  MarlixD3D8SetThreads(2);
  std::vector<uint32_t> queued = EngineFrame();
  ASSERT_EQ(direct.size(), queued.size());
  size_t differ = 0, drawn = 0;
  for (size_t i = 0; i < direct.size(); ++i) {
    differ += direct[i] != queued[i];
    drawn += (direct[i] & 0xffffff) != 0x102030u;
  }
  EXPECT_EQ(0u, differ) << "queued drawing changed pixels";
  EXPECT_GT(drawn, direct.size() * 3 / 4) << "the frame should cover most of the target";
}

TEST(D3D8Queue, ChangesBetweenDrawsReachOnlyLaterDraws) {
  TestDevice t(8, 4);
  t.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  t.dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  IDirect3DTexture8* tex = Solid(t.dev, 4, 0xffff0000u);
  t.dev->SetTexture(0, tex);
  t.Quad(0, 0, 2, 4, 0xffffffffu);
  // New texels while the first quad may still wait in the queue.
  D3DLOCKED_RECT lr;
  ASSERT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ((uint32_t*)((uint8_t*)lr.pBits + (size_t)y * lr.Pitch))[x] = 0xff0000ffu;
  tex->UnlockRect(0);
  t.Quad(2, 0, 4, 4, 0xffffffffu);
  // Unbound and released: later draws sample nothing (white).
  t.dev->SetTexture(0, nullptr);
  tex->Release();
  t.Quad(4, 0, 6, 4, 0xff808080u);
  // A render state between two draws of otherwise equal state.
  t.dev->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_GREEN);
  t.Quad(6, 0, 8, 4, 0xff40c020u);
  EXPECT_EQ(0xff0000u, t.Rgb(1, 2));
  EXPECT_EQ(0x0000ffu, t.Rgb(3, 2));
  EXPECT_EQ(0x808080u, t.Rgb(5, 2));
  EXPECT_EQ(0x00c000u, t.Rgb(7, 2)) << "only green written over the black clear";
}

TEST(D3D8Queue, SegmentsSharedAtTheFlushKeepTheirOrder) { ExpectQueuedRunsMatchDirect(ManySmallTriangles); }

TEST(D3D8Queue, RowsOneThreadDrawsAloneKeepTheirOrderWithRowsBothDraw) { ExpectQueuedRunsMatchDirect(ViewportTurns); }
