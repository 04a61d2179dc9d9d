// Speed of the software Direct3D 8 device at 1600 x 1200 in X8R8G8B8: fill rate of a full-screen
// textured quad blended SRCALPHA / INVSRCALPHA (point-sampled and bilinear; the MODULATE stage by
// the span loops, by the general pipeline, and as the pixel shader tex t0, mul r0, t0, v0), the engine's frame
// (one DrawPrimitiveUP per pre-transformed face, state changes between runs of faces, a sorted
// translucent pass), and lit Gouraud triangles from vertex buffers, lit by the fixed function and
// by a vs.1.1 shader that computes the same light. Prints figures with the core count and the span
// code in use; never fails on a time.
// "bench_d3d8 --demo FILE.png" instead renders a small lit, textured, blended scene to a PNG.
#include <d3d8.h>
#include <marlix_d3d8.h>
#include "ksshaderasm.h"
#include "test_common.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

const int kW = 1600, kH = 1200;

struct TLV {
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
const DWORD kTLFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct MeshV {
  float x, y, z, nx, ny, nz;
  DWORD color;
};
const DWORD kMeshFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the whole process (all threads): on a machine shared with other work, work
// per processor-second shows what the code does on cores of its own.
double Cpu() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// What every figure was measured on: the processor cores and the span code the device chose.
const char* Machine() {
  static char text[64];
  const char* spans = MarlixD3D8GetSpanPath() == MARLIX_SPANS_AVX2 ? "AVX2"
                      : __builtin_cpu_supports("avx2")             ? "SSE2 (AVX2 not used)"
                                                                   : "SSE2 (no AVX2)";
  snprintf(text, sizeof(text), "[%u cores, %s]", std::thread::hardware_concurrency(), spans);
  return text;
}

// Processor time of the calling thread only.
double ThreadCpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

IDirect3DDevice8* MakeDevice(IDirect3D8* d3d, int w, int h) {
  D3DPRESENT_PARAMETERS pp;
  memset(&pp, 0, sizeof(pp));
  pp.Windowed = TRUE;
  pp.BackBufferWidth = (UINT)w;
  pp.BackBufferHeight = (UINT)h;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  IDirect3DDevice8* dev = nullptr;
  d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &dev);
  return dev;
}

// A checker texture with varying alpha, w x h texels.
IDirect3DTexture8* Checker(IDirect3DDevice8* dev, int size, bool translucent) {
  IDirect3DTexture8* tex = nullptr;
  dev->CreateTexture((UINT)size, (UINT)size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex);
  D3DLOCKED_RECT lr;
  tex->LockRect(0, &lr, nullptr, 0);
  for (int y = 0; y < size; ++y) {
    uint32_t* row = (uint32_t*)((uint8_t*)lr.pBits + (size_t)y * lr.Pitch);
    for (int x = 0; x < size; ++x) {
      bool on = ((x / 16) ^ (y / 16)) & 1;
      uint32_t a = translucent ? (uint32_t)(64 + (x * 191) / size) : 255u;
      row[x] = (a << 24) | ((on ? 0xf0c040u : 0x3060c0u) ^ (uint32_t)((x * 3) & 0x1f));
    }
  }
  tex->UnlockRect(0);
  return tex;
}

// How the MODULATE stage is drawn: the span loops, the general pipeline, or a ps.1.1 shader.
enum FillPath { FILL_SPANS, FILL_GENERAL, FILL_SHADER };

void FillBench(IDirect3DDevice8* dev, IDirect3DTexture8* tex, bool bilinear, FillPath path = FILL_SPANS) {
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  DWORD f = bilinear ? D3DTEXF_LINEAR : D3DTEXF_POINT;
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, f);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, f);
  // tex t0; mul r0, t0, v0
  const DWORD modulate[] = {D3DPS_VERSION(1, 1), D3DSIO_TEX, 0xb00f0000, D3DSIO_MUL, 0x800f0000, 0xb0e40000, 0x90e40000,
                            D3DPS_END()};
  DWORD shader = 0;
  if (path == FILL_SHADER && FAILED(dev->CreatePixelShader(modulate, &shader))) {
    printf("no pixel shaders\n");
    return;
  }
  dev->SetPixelShader(shader);
  MarlixD3D8SetFastPaths(path == FILL_SPANS);
  dev->SetRenderState(D3DRS_LIGHTING, FALSE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  dev->SetVertexShader(kTLFvf);
  TLV q[4] = {{0, 0, 0.5f, 1, 0xffffffff, 0, 0},
              {(float)kW, 0, 0.5f, 1, 0xffffffff, 4, 0},
              {0, (float)kH, 0.5f, 1, 0xffffffff, 0, 3},
              {(float)kW, (float)kH, 0.5f, 1, 0xffffffff, 4, 3}};
  int frames = 0;
  double start = Now(), t = start, cpu0 = Cpu();
  while (t - start < 2.0 || frames < 5) {
    dev->BeginScene();
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLV));
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    ++frames;
    t = Now();
  }
  double mpx = (double)frames * kW * kH / (t - start) / 1e6;
  double perCpu = (double)frames * kW * kH / (Cpu() - cpu0) / 1e6;
  static const char* const kPaths[] = {"", ", general pipeline", ", ps.1.1 shader"};
  printf("fill %s blended SRCALPHA/INVSRCALPHA 1600x1200 X8R8G8B8%s: %.1f Mpx/s (%.1f quads/s); %.1f Mpx per "
         "processor-second %s\n",
         bilinear ? "bilinear" : "point-sampled", kPaths[path], mpx, frames / (t - start), perCpu, Machine());
  dev->SetTexture(0, nullptr);
  dev->SetPixelShader(0);
  if (shader) dev->DeletePixelShader(shader);
  MarlixD3D8SetFastPaths(1);
}

// The engine's frame: 7000 faces, each its own DrawPrimitiveUP of one pre-transformed triangle
// (diffuse, specular, one texture coordinate set), a texture change every 8 faces, the last
// quarter translucent, depth-sorted far to near and drawn without depth writes.
struct EV {
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float u, v;
};
const DWORD kEngineFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

void EngineFrameBench(IDirect3D8* d3d, int w, int h) {
  IDirect3DDevice8* dev = MakeDevice(d3d, w, h);
  if (!dev) return;
  IDirect3DTexture8* tex[4];
  for (int i = 0; i < 4; ++i) tex[i] = Checker(dev, 64 << (i & 1), i >= 2);
  // A 70 x 50 grid of quads over most of the screen, tilted in depth (rhw varies), colours varying.
  const int cols = 70, rows = 50, faces = cols * rows * 2;
  std::vector<EV> tris((size_t)faces * 3);
  auto vert = [&](int gx, int gy) {
    float fx = (float)gx / cols, fy = (float)gy / rows;
    float depth = 2.0f + 3.0f * fy;  // camera distance
    EV e;
    e.x = (0.08f + 0.84f * fx) * (float)w + 0.37f;
    e.y = (0.06f + 0.88f * fy) * (float)h + 0.21f;
    e.z = 1.0f - 1.0f / depth;
    e.rhw = 1.0f / depth;
    uint32_t r = 128 + (uint32_t)(127 * fx), g = 128 + (uint32_t)(127 * fy), b = 200;
    e.diffuse = 0xff000000u | (r << 16) | (g << 8) | b;
    e.specular = 0xff000000u;
    e.u = fx * 6.0f;
    e.v = fy * 4.0f;
    return e;
  };
  int k = 0;
  for (int gy = 0; gy < rows; ++gy)
    for (int gx = 0; gx < cols; ++gx) {
      EV a = vert(gx, gy), b = vert(gx + 1, gy), c = vert(gx, gy + 1), d = vert(gx + 1, gy + 1);
      EV q[6] = {a, b, c, b, d, c};
      for (EV& e : q) tris[(size_t)k++] = e;
    }
  // The translucent quarter: every fourth face, sorted far to near (smaller rhw first).
  std::vector<int> opaque, translucent;
  for (int f = 0; f < faces; ++f) (f % 4 == 3 ? translucent : opaque).push_back(f);
  std::stable_sort(translucent.begin(), translucent.end(),
                   [&](int a, int b) { return tris[(size_t)a * 3].rhw < tris[(size_t)b * 3].rhw; });
  for (int f : translucent)
    for (int i = 0; i < 3; ++i) {
      EV& e = tris[(size_t)f * 3 + i];
      e.diffuse = (e.diffuse & 0xffffff) | 0x90000000u;
    }
  dev->SetRenderState(D3DRS_LIGHTING, FALSE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  dev->SetVertexShader(kEngineFvf);
  int frames = 0;
  double submit = 0.0, submitCpu = 0.0;
  double start = Now(), t = start, cpu0 = Cpu();
  while (t - start < 2.0 || frames < 5) {
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff102030, 1.0f, 0);
    dev->BeginScene();
    double s0 = Now(), c0 = ThreadCpu();
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    for (size_t i = 0; i < opaque.size(); ++i) {
      if (i % 8 == 0) dev->SetTexture(0, tex[(i / 8) % 2]);
      dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &tris[(size_t)opaque[i] * 3], sizeof(EV));
    }
    dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    for (size_t i = 0; i < translucent.size(); ++i) {
      if (i % 8 == 0) dev->SetTexture(0, tex[2 + (i / 8) % 2]);
      dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &tris[(size_t)translucent[i] * 3], sizeof(EV));
    }
    submit += Now() - s0;
    submitCpu += ThreadCpu() - c0;
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    ++frames;
    t = Now();
  }
  double secs = t - start, cpu = Cpu() - cpu0;
  printf("engine frame, %d one-triangle DrawPrimitiveUP calls, texture change every 8, a quarter blended, %dx%d: "
         "%.0f ns per call (%.0f ns of the caller's processor time), %.1f frames/s (%.1f per processor-second) %s\n",
         faces, w, h, submit / frames / faces * 1e9, submitCpu / frames / faces * 1e9, frames / secs, frames / cpu,
         Machine());
  dev->SetTexture(0, nullptr);
  for (IDirect3DTexture8* x : tex) x->Release();
  dev->Release();
}

// A sphere of rings x segments vertices as an indexed triangle list.
void Sphere(int rings, int segs, float radius, std::vector<MeshV>& v, std::vector<uint16_t>& idx) {
  for (int r = 0; r <= rings; ++r) {
    float th = 3.14159265f * (float)r / (float)rings;
    for (int s = 0; s <= segs; ++s) {
      float ph = 2.0f * 3.14159265f * (float)s / (float)segs;
      float nx = sinf(th) * cosf(ph), ny = cosf(th), nz = sinf(th) * sinf(ph);
      v.push_back(MeshV{nx * radius, ny * radius, nz * radius, nx, ny, nz, 0xffffffffu});
    }
  }
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segs; ++s) {
      uint16_t a = (uint16_t)(r * (segs + 1) + s), b = (uint16_t)(a + segs + 1);
      uint16_t tri[6] = {a, (uint16_t)(a + 1), b, (uint16_t)(a + 1), (uint16_t)(b + 1), b};
      idx.insert(idx.end(), tri, tri + 6);
    }
}

void SetCamera(IDirect3DDevice8* dev, float aspect) {
  D3DMATRIX m;
  memset(&m, 0, sizeof(m));
  m._11 = m._22 = m._33 = m._44 = 1;
  dev->SetTransform(D3DTS_WORLD, &m);
  m._43 = 0;
  dev->SetTransform(D3DTS_VIEW, &m);
  float zn = 1.0f, zf = 100.0f, fov = 1.0f / tanf(0.5f);
  D3DMATRIX p;
  memset(&p, 0, sizeof(p));
  p._11 = fov / aspect;
  p._22 = fov;
  p._33 = zf / (zf - zn);
  p._34 = 1;
  p._43 = -zn * zf / (zf - zn);
  dev->SetTransform(D3DTS_PROJECTION, &p);
}

void WorldAt(IDirect3DDevice8* dev, float x, float y, float z, float angle) {
  D3DMATRIX m;
  memset(&m, 0, sizeof(m));
  float c = cosf(angle), s = sinf(angle);
  m._11 = c;
  m._13 = -s;
  m._22 = 1;
  m._31 = s;
  m._33 = c;
  m._41 = x;
  m._42 = y;
  m._43 = z;
  m._44 = 1;
  dev->SetTransform(D3DTS_WORLD, &m);
}

void LightScene(IDirect3DDevice8* dev) {
  D3DMATERIAL8 mat;
  memset(&mat, 0, sizeof(mat));
  mat.Diffuse = D3DCOLORVALUE{0.9f, 0.7f, 0.3f, 1};
  mat.Ambient = D3DCOLORVALUE{0.3f, 0.3f, 0.4f, 1};
  mat.Specular = D3DCOLORVALUE{1, 1, 1, 1};
  mat.Power = 20;
  dev->SetMaterial(&mat);
  D3DLIGHT8 l;
  memset(&l, 0, sizeof(l));
  l.Type = D3DLIGHT_DIRECTIONAL;
  l.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  l.Specular = D3DCOLORVALUE{1, 1, 1, 1};
  l.Direction = D3DVECTOR{-0.5f, -0.6f, 0.6f};
  dev->SetLight(0, &l);
  dev->LightEnable(0, TRUE);
  dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  dev->SetRenderState(D3DRS_AMBIENT, 0x00303030);
  dev->SetRenderState(D3DRS_COLORVERTEX, FALSE);
  dev->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
}

D3DMATRIX Mul(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

// The light of LightScene as a vertex shader: world-view-projection, the normal into world space
// (the view has no turn) and normalised, one directional light's diffuse plus the ambient.
DWORD LightingShader(IDirect3DDevice8* dev) {
  static const char kSource[] =
      "vs.1.1\n"
      "m4x4 oPos, v0, c0\n"
      "m3x3 r0, v3, c4\n"
      "dp3 r0.w, r0, r0\n"
      "rsq r0.w, r0.w\n"
      "mul r0, r0, r0.w\n"
      "dp3 r1.x, r0, c7\n"
      "max r1.x, r1.x, c10.x\n"
      "mul r1, r1.x, c8\n"
      "add oD0, r1, c9\n";
  std::vector<uint32_t> tokens;
  char error[128];
  if (!KS_AssembleShader(kSource, sizeof(kSource) - 1, &tokens, error, sizeof(error))) return 0;
  const DWORD decl[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_REG(3, D3DVSDT_FLOAT3),
                        D3DVSD_SKIP(1), D3DVSD_END()};
  std::vector<DWORD> function(tokens.begin(), tokens.end());
  DWORD h = 0;
  if (FAILED(dev->CreateVertexShader(decl, function.data(), &h, 0))) return 0;
  // c7: towards the light; c8: material diffuse x light; c9: material ambient x global ambient; c10: 0.
  float len = sqrtf(0.5f * 0.5f + 0.6f * 0.6f + 0.6f * 0.6f), g = 0x30 / 255.0f;
  float c[4][4] = {{0.5f / len, 0.6f / len, -0.6f / len, 0},
                   {0.9f, 0.7f, 0.3f, 0},
                   {0.3f * g, 0.3f * g, 0.4f * g, 1},
                   {0, 0, 0, 0}};
  dev->SetVertexShaderConstant(7, c, 4);
  return h;
}

// c0-c3: world-view-projection and c4-c6: world, transposed, from the device's transforms.
void ShaderTransforms(IDirect3DDevice8* dev) {
  D3DMATRIX w, v, p;
  dev->GetTransform(D3DTS_WORLD, &w);
  dev->GetTransform(D3DTS_VIEW, &v);
  dev->GetTransform(D3DTS_PROJECTION, &p);
  D3DMATRIX wvp = Mul(Mul(w, v), p);
  float c[7][4];
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k) c[r][k] = wvp.m[k][r];
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 4; ++k) c[4 + r][k] = w.m[k][r];
  dev->SetVertexShaderConstant(0, c, 7);
}

// dense: 12 finely tessellated spheres (33,024 vertices each, most triangles below a pixel), which
// measures vertex processing; otherwise an 8 x 8 grid of 861-vertex spheres about 150 pixels
// across, which measures whole triangles. shader: lit by LightingShader instead of the fixed function.
void VertexBench(IDirect3DDevice8* dev, bool dense, bool shader) {
  std::vector<MeshV> v;
  std::vector<uint16_t> idx;
  if (dense)
    Sphere(128, 255, 1.0f, v, idx);
  else
    Sphere(20, 40, 1.0f, v, idx);
  IDirect3DVertexBuffer8* vb = nullptr;
  IDirect3DIndexBuffer8* ib = nullptr;
  dev->CreateVertexBuffer((UINT)(v.size() * sizeof(MeshV)), D3DUSAGE_WRITEONLY, kMeshFvf, D3DPOOL_MANAGED, &vb);
  dev->CreateIndexBuffer((UINT)(idx.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib);
  BYTE* p;
  vb->Lock(0, 0, &p, 0);
  memcpy(p, v.data(), v.size() * sizeof(MeshV));
  vb->Unlock();
  ib->Lock(0, 0, &p, 0);
  memcpy(p, idx.data(), idx.size() * 2);
  ib->Unlock();
  SetCamera(dev, (float)kW / kH);
  LightScene(dev);
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  DWORD program = shader ? LightingShader(dev) : 0;
  if (shader && !program) {
    printf("lighting shader refused\n");
    return;
  }
  dev->SetVertexShader(shader ? program : kMeshFvf);
  dev->SetStreamSource(0, vb, sizeof(MeshV));
  dev->SetIndices(ib, 0);
  MarlixD3D8ResetCounters();
  int frames = 0;
  double start = Now(), t = start, cpu0 = Cpu();
  while (t - start < 2.0 || frames < 3) {
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff102030, 1.0f, 0);
    dev->BeginScene();
    int count = dense ? 12 : 64;
    for (int i = 0; i < count; ++i) {
      if (dense)
        WorldAt(dev, -5.0f + (float)(i % 6) * 2.0f, (i < 6) ? 1.3f : -1.3f, 12.0f, 0.1f * (float)frames + (float)i);
      else
        WorldAt(dev, -7.0f + (float)(i % 8) * 2.0f, -5.25f + (float)(i / 8) * 1.5f, 16.0f,
                0.05f * (float)frames + (float)i);
      if (shader) ShaderTransforms(dev);
      dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, (UINT)v.size(), 0, (UINT)(idx.size() / 3));
    }
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    ++frames;
    t = Now();
  }
  MarlixD3D8Counters c;
  MarlixD3D8GetCounters(&c);
  double secs = t - start, cpu = Cpu() - cpu0;
  // The shader's vertices are all lit, by the shader; the device counts only fixed-function lighting.
  double lit = shader ? (double)c.verticesIn : (double)c.verticesLit;
  printf("lit Gouraud triangles from vertex buffers, %s (1 directional light, specular, 1600x1200, depth), %s %s:\n",
         dense ? "12 dense spheres of 33,024 vertices" : "64 spheres of 861 vertices, 150 pixels across",
         shader ? "vs.1.1 lighting shader" : "fixed function", Machine());
  printf("  per processor-second: %.2f million lit vertices, %.2f million triangles\n", lit / cpu / 1e6,
         (double)c.primitives / cpu / 1e6);
  printf("  %.2f million lit vertices/s, %.2f million triangles/s submitted, %.2f million drawn/s (%.1f frames/s)\n",
         lit / secs / 1e6, (double)c.primitives / secs / 1e6, (double)c.trianglesDrawn / secs / 1e6,
         frames / secs);
  dev->SetStreamSource(0, nullptr, 0);
  dev->SetIndices(nullptr, 0);
  dev->SetVertexShader(kMeshFvf);
  if (program) dev->DeleteVertexShader(program);
  vb->Release();
  ib->Release();
}

// Vertex processing alone: ProcessVertices of one dense sphere (33,024 vertices) into
// pre-transformed vertices, lit by the fixed function or by LightingShader; nothing is drawn.
void ProcessBench(IDirect3DDevice8* dev, bool shader) {
  std::vector<MeshV> v;
  std::vector<uint16_t> idx;
  Sphere(128, 255, 1.0f, v, idx);
  const UINT n = (UINT)v.size();
  IDirect3DVertexBuffer8* src = nullptr;
  IDirect3DVertexBuffer8* dst = nullptr;
  dev->CreateVertexBuffer(n * (UINT)sizeof(MeshV), 0, kMeshFvf, D3DPOOL_MANAGED, &src);
  dev->CreateVertexBuffer(n * 20, 0, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &dst);
  BYTE* p;
  src->Lock(0, 0, &p, 0);
  memcpy(p, v.data(), v.size() * sizeof(MeshV));
  src->Unlock();
  SetCamera(dev, (float)kW / kH);
  LightScene(dev);
  WorldAt(dev, 0.0f, 0.0f, 6.0f, 0.3f);
  DWORD program = shader ? LightingShader(dev) : 0;
  if (shader) ShaderTransforms(dev);
  dev->SetVertexShader(shader ? program : kMeshFvf);
  dev->SetStreamSource(0, src, sizeof(MeshV));
  int calls = 0;
  double start = Now(), t = start, cpu0 = Cpu();
  while (t - start < 2.0 || calls < 10) {
    dev->ProcessVertices(0, 0, n, dst, 0);
    ++calls;
    t = Now();
  }
  double secs = t - start, cpu = Cpu() - cpu0, lit = (double)n * calls;
  printf("vertex processing alone (ProcessVertices of 33,024 vertices, 1 directional light), %s %s:\n",
         shader ? "vs.1.1 lighting shader" : "fixed function", Machine());
  printf("  %.2f million lit vertices per processor-second, %.2f million/s\n", lit / cpu / 1e6, lit / secs / 1e6);
  dev->SetStreamSource(0, nullptr, 0);
  dev->SetVertexShader(kMeshFvf);
  if (program) dev->DeleteVertexShader(program);
  src->Release();
  dst->Release();
}

bool WritePng(const char* path, IDirect3DDevice8* dev, int w, int h) {
  IDirect3DSurface8* bb = nullptr;
  dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb);
  D3DLOCKED_RECT lr;
  if (!bb || FAILED(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
    if (bb) bb->Release();
    return false;
  }
  bool ok = WriteTestPng(path, (const uint32_t*)lr.pBits, w, h, lr.Pitch);
  bb->UnlockRect();
  bb->Release();
  return ok;
}

// Lit spheres with a texture, a translucent textured floor and a blended, fogged sprite.
int Demo(const char* path) {
  const int w = 480, h = 360;
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  IDirect3DDevice8* dev = MakeDevice(d3d, w, h);
  if (!dev) return 1;
  IDirect3DTexture8* tex = Checker(dev, 64, false);
  IDirect3DTexture8* glass = Checker(dev, 64, true);
  dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203048, 1.0f, 0);
  dev->BeginScene();
  SetCamera(dev, (float)w / h);
  LightScene(dev);
  dev->SetRenderState(D3DRS_COLORVERTEX, TRUE);
  dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  // Textured lit spheres: texture coordinates from the camera-space normal.
  struct SV {
    float x, y, z, nx, ny, nz;
    DWORD c;
  };
  std::vector<MeshV> v;
  std::vector<uint16_t> idx;
  Sphere(24, 48, 1.0f, v, idx);
  dev->SetTexture(0, tex);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
  D3DMATRIX tm;
  memset(&tm, 0, sizeof(tm));
  tm._11 = 0.5f;
  tm._22 = -0.5f;
  tm._31 = 0.5f;
  tm._32 = 0.5f;
  tm._41 = 0.5f;
  tm._42 = 0.5f;
  tm._44 = 1;
  dev->SetTransform(D3DTS_TEXTURE0, &tm);
  dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  dev->SetVertexShader(kMeshFvf);
  for (int i = 0; i < 3; ++i) {
    WorldAt(dev, -2.4f + 2.4f * (float)i, 0.2f, 8.0f + (float)i, 0.7f * (float)i);
    for (MeshV& m : v) m.color = i == 0 ? 0xffff8080u : (i == 1 ? 0xff80ff80u : 0xff8080ffu);
    dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, (UINT)v.size(), (UINT)(idx.size() / 3), idx.data(),
                                D3DFMT_INDEX16, v.data(), sizeof(MeshV));
  }
  // A translucent floor in perspective with fog, textured by its own coordinates.
  struct FV {
    float x, y, z;
    DWORD c;
    float u, v;
  };
  FV floorv[4] = {{-8, -1.5f, 4, 0xffffffff, 0, 0},
                  {8, -1.5f, 4, 0xffffffff, 8, 0},
                  {-8, -1.5f, 30, 0xffffffff, 0, 12},
                  {8, -1.5f, 30, 0xffffffff, 8, 12}};
  D3DMATRIX id;
  memset(&id, 0, sizeof(id));
  id._11 = id._22 = id._33 = id._44 = 1;
  dev->SetTransform(D3DTS_WORLD, &id);
  dev->SetRenderState(D3DRS_LIGHTING, FALSE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetTexture(0, glass);
  dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
  dev->SetRenderState(D3DRS_FOGCOLOR, 0x203048);
  dev->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  float fs = 6.0f, fe = 30.0f;
  DWORD d;
  memcpy(&d, &fs, 4);
  dev->SetRenderState(D3DRS_FOGSTART, d);
  memcpy(&d, &fe, 4);
  dev->SetRenderState(D3DRS_FOGEND, d);
  dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, floorv, sizeof(FV));
  dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
  // A blended screen-space sprite.
  TLV q[4] = {{330, 20, 0.0f, 1, 0xc0ffffff, 0, 0},
              {460, 20, 0.0f, 1, 0xc0ffffff, 1, 0},
              {330, 110, 0.0f, 1, 0x40ffffff, 0, 1},
              {460, 110, 0.0f, 1, 0x40ffffff, 1, 1}};
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  dev->SetTexture(0, tex);
  dev->SetVertexShader(kTLFvf);
  dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TLV));
  dev->EndScene();
  dev->Present(nullptr, nullptr, nullptr, nullptr);
  bool ok = WritePng(path, dev, w, h);
  dev->SetTexture(0, nullptr);
  tex->Release();
  glass->Release();
  dev->Release();
  d3d->Release();
  printf("%s %s\n", ok ? "wrote" : "could not write", path);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "--demo") == 0) return Demo(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "--threads") == 0) MarlixD3D8SetThreads(atoi(argv[2]));
  printf("rasteriser threads: %d %s\n", MarlixD3D8GetThreads(), Machine());
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  IDirect3DDevice8* dev = MakeDevice(d3d, kW, kH);
  if (!dev) {
    printf("no device\n");
    return 1;
  }
  // The last argument may pick one group: --fill, --engine or --vertex.
  const char* only = argc >= 2 && strncmp(argv[argc - 1], "--", 2) == 0 ? argv[argc - 1] + 2 : "";
  auto run = [&](const char* group) { return !*only || strcmp(only, group) == 0; };
  IDirect3DTexture8* tex = Checker(dev, 256, true);
  if (run("fill")) {
    FillBench(dev, tex, false);
    FillBench(dev, tex, true);
    FillBench(dev, tex, false, FILL_GENERAL);
    FillBench(dev, tex, false, FILL_SHADER);
  }
  tex->Release();
  if (run("engine")) {
    EngineFrameBench(d3d, 288, 256);
    EngineFrameBench(d3d, kW, kH);
  }
  if (run("vertex")) {
    ProcessBench(dev, false);
    ProcessBench(dev, true);
    VertexBench(dev, true, false);
    VertexBench(dev, true, true);
    VertexBench(dev, false, false);
    VertexBench(dev, false, true);
  }
  dev->Release();
  d3d->Release();
  return 0;
}
