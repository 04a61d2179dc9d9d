// Small helpers shared by the device tests: a headless device with a lockable back buffer,
// pixel reads, and vertex records for pre-transformed and untransformed drawing.
#ifndef MARLIX_D3D8_TEST_UTIL_H
#define MARLIX_D3D8_TEST_UTIL_H

#include <d3d8.h>
#include <marlix_d3d8.h>
#include <gtest/gtest.h>

#include <string.h>

struct TLVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float u, v;
};
static const DWORD kTLFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

struct LitVertex {  // D3DFVF_XYZ | D3DFVF_NORMAL
  float x, y, z, nx, ny, nz;
};

inline TLVertex TL(float x, float y, DWORD c = 0xffffffff, float u = 0, float v = 0, float z = 0.5f, float rhw = 1.0f) {
  TLVertex t = {x, y, z, rhw, c, 0xff000000u, u, v};
  return t;
}

inline DWORD FloatBits(float f) {
  DWORD d;
  memcpy(&d, &f, 4);
  return d;
}

struct TestDevice {
  IDirect3D8* d3d = nullptr;
  IDirect3DDevice8* dev = nullptr;
  int width = 0, height = 0;
  D3DFORMAT format = D3DFMT_X8R8G8B8;
  IDirect3DSurface8* target = nullptr;  // a render target other than the back buffer

  explicit TestDevice(int w = 16, int h = 16, D3DFORMAT depth = D3DFMT_D16, D3DFORMAT fmt = D3DFMT_X8R8G8B8) {
    width = w;
    height = h;
    format = fmt;
    d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof(pp));
    pp.Windowed = TRUE;
    pp.BackBufferWidth = (UINT)w;
    pp.BackBufferHeight = (UINT)h;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp.EnableAutoDepthStencil = depth != D3DFMT_UNKNOWN;
    pp.AutoDepthStencilFormat = depth;
    if (d3d) d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev);
    if (dev && fmt != D3DFMT_X8R8G8B8) {
      // A render target of another format, drawn into instead of the back buffer.
      IDirect3DSurface8* ds = nullptr;
      dev->CreateRenderTarget((UINT)w, (UINT)h, fmt, D3DMULTISAMPLE_NONE, TRUE, &target);
      dev->GetDepthStencilSurface(&ds);
      dev->SetRenderTarget(target, ds);
      if (ds) ds->Release();
    }
    if (dev) {
      dev->SetRenderState(D3DRS_LIGHTING, FALSE);
      dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
      dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
      dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
      dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
      dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
      dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
      dev->SetVertexShader(kTLFvf);
      dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    }
  }
  ~TestDevice() {
    if (target) target->Release();
    if (dev) {
      for (DWORD i = 0; i < 8; ++i) dev->SetTexture(i, nullptr);
      EXPECT_EQ(0u, dev->Release()) << "the device outlived its last reference";
    }
    if (d3d) d3d->Release();
  }
  // Raw bytes of pixel (x, y) of the current render target, as 32 bits (16-bit formats: low half).
  uint32_t Raw(int x, int y) {
    IDirect3DSurface8* rt = nullptr;
    dev->GetRenderTarget(&rt);
    D3DLOCKED_RECT lr;
    uint32_t v = 0xdeadbeef;
    if (rt && SUCCEEDED(rt->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
      const uint8_t* p = (const uint8_t*)lr.pBits + (size_t)y * lr.Pitch;
      if (format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8) {
        memcpy(&v, p + 4 * x, 4);
      } else {
        uint16_t s;
        memcpy(&s, p + 2 * x, 2);
        v = s;
      }
      rt->UnlockRect();
    }
    if (rt) rt->Release();
    return v;
  }
  // RGB of a 32-bit pixel (alpha dropped).
  uint32_t Rgb(int x, int y) { return Raw(x, y) & 0xffffff; }
  void Draw(const TLVertex* v, int triangles, D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST) {
    ASSERT_EQ(D3D_OK, dev->DrawPrimitiveUP(type, (UINT)triangles, v, sizeof(TLVertex)));
  }
  void Quad(float x0, float y0, float x1, float y1, DWORD c, float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1,
            float z = 0.5f) {
    TLVertex q[6] = {TL(x0, y0, c, u0, v0, z), TL(x1, y0, c, u1, v0, z), TL(x0, y1, c, u0, v1, z),
                     TL(x1, y0, c, u1, v0, z), TL(x1, y1, c, u1, v1, z), TL(x0, y1, c, u0, v1, z)};
    Draw(q, 2);
  }
  // A perspective projection with the near plane at 1 and the far plane at 100.
  void Perspective() {
    D3DMATRIX proj;
    memset(&proj, 0, sizeof(proj));
    proj._11 = 1;
    proj._22 = 1;
    proj._33 = 100.0f / 99.0f;
    proj._34 = 1;
    proj._43 = -100.0f / 99.0f;
    dev->SetTransform(D3DTS_PROJECTION, &proj);
  }
  // A texture of one format filled from 32-bit values through its real memory layout.
  IDirect3DTexture8* Texture(int w, int h, D3DFORMAT f, const void* bytes, int bytesPerRow) {
    IDirect3DTexture8* t = nullptr;
    if (FAILED(dev->CreateTexture((UINT)w, (UINT)h, 1, 0, f, D3DPOOL_MANAGED, &t))) return nullptr;
    D3DLOCKED_RECT lr;
    t->LockRect(0, &lr, nullptr, 0);
    int rows = (f == D3DFMT_DXT1 || f == D3DFMT_DXT3 || f == D3DFMT_DXT5) ? (h + 3) / 4 : h;
    for (int y = 0; y < rows; ++y)
      memcpy((uint8_t*)lr.pBits + (size_t)y * lr.Pitch, (const uint8_t*)bytes + (size_t)y * bytesPerRow,
             (size_t)bytesPerRow);
    t->UnlockRect(0);
    return t;
  }
};

#endif
