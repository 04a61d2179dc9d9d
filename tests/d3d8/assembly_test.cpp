// Primitive assembly and queueing: an indexed triangle list, with indices past its vertices,
// triangles the near plane cuts, back faces and triangles off the target, draws exactly the pixels
// of its triangles drawn one call each, for every cull mode, both index sizes, vertex formats of
// several sizes (so whole batches of vertices are read row by row or attribute by attribute) and
// both vertex kernels.
#include "d3d8_test_util.h"

#include <stdint.h>

#include <vector>

namespace {

std::vector<uint32_t> Frame(TestDevice& t) {
  std::vector<uint32_t> out;
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x) out.push_back(t.Rgb(x, y));
  return out;
}

// Vertex i's floats: position (x, y, z), then filler up to floats, then the colour word.
std::vector<uint8_t> Vertices(int count, int floats, uint32_t seed) {
  const size_t stride = 4 * (size_t)floats + 4;
  std::vector<uint8_t> v(stride * (size_t)count);
  uint32_t r = seed;
  auto next = [&]() {
    r = r * 1664525u + 1013904223u;
    return (float)(r >> 8) / (float)(1u << 24);
  };
  for (int i = 0; i < count; ++i) {
    float f[16] = {};
    f[0] = next() * 4.0f - 2.0f;
    f[1] = next() * 4.0f - 2.0f;
    f[2] = next() * 4.0f - 0.5f;  // some behind the near plane (z = 1), some in front of the camera
    for (int k = 3; k < floats; ++k) f[k] = next();
    memcpy(&v[stride * (size_t)i], f, 4 * (size_t)floats);
    uint32_t c = 0xff000000u | (r >> 8);
    memcpy(&v[stride * (size_t)i + 4 * (size_t)floats], &c, 4);
  }
  return v;
}

struct Case {
  DWORD fvf;
  int floats;  // position and the floats after it, before the colour
};

void ListMatchesTriangles(bool index32) {
  // Position, blend weights and normal before the colour: 16 to 48 bytes a vertex.
  const Case cases[] = {
      {D3DFVF_XYZ | D3DFVF_DIFFUSE, 3},
      {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE, 6},
      {D3DFVF_XYZB3 | D3DFVF_NORMAL | D3DFVF_DIFFUSE, 9},
      {D3DFVF_XYZB5 | D3DFVF_NORMAL | D3DFVF_DIFFUSE, 11},
  };
  const DWORD culls[] = {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW};
  const int paths[] = {MARLIX_SPANS_SSE2, MARLIX_SPANS_AVX2};
  const int before = MarlixD3D8GetSpanPath();
  for (int path : paths) {
    MarlixD3D8SetSpanPath(path);
    for (size_t ci = 0; ci < sizeof(cases) / sizeof(cases[0]); ++ci) {
      const Case& cs = cases[ci];
      // Counts that end in a whole batch and in a part of one.
      for (int count : {24, 37}) {
        const UINT stride = 4 * (UINT)cs.floats + 4;
        std::vector<uint8_t> v = Vertices(count, cs.floats, 7u + (uint32_t)ci * 31u + (uint32_t)count);
        const int tris = 90;
        std::vector<uint32_t> idx(3 * tris);
        uint32_t r = 99u + (uint32_t)count;
        for (size_t i = 0; i < idx.size(); ++i) {
          r = r * 1103515245u + 12345u;
          // Now and then an index past the vertices: its triangle is left out.
          idx[i] = (r >> 16) % 23 == 0 ? (uint32_t)count + (r >> 20) % 5 : (r >> 16) % (uint32_t)count;
        }
        std::vector<uint16_t> idx16(idx.begin(), idx.end());
        for (DWORD cull : culls) {
          TestDevice t(40, 32);
          t.Perspective();
          t.dev->SetRenderState(D3DRS_CULLMODE, cull);
          t.dev->SetVertexShader(cs.fvf);
          t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
          // The indices and vertices sit in arrays of exactly their size, so that a read past
          // them is caught by the address sanitizer.
          const void* ix = index32 ? (const void*)idx.data() : (const void*)idx16.data();
          ASSERT_EQ(D3D_OK, t.dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, (UINT)count, tris, ix,
                                                          index32 ? D3DFMT_INDEX32 : D3DFMT_INDEX16, v.data(), stride));
          std::vector<uint32_t> list = Frame(t);
          t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
          for (int i = 0; i < tris; ++i) {
            std::vector<uint8_t> one(3 * (size_t)stride);
            bool inside = true;
            for (int k = 0; k < 3; ++k) {
              uint32_t n = idx[3 * (size_t)i + k];
              if (n >= (uint32_t)count) inside = false;
              else memcpy(&one[(size_t)k * stride], &v[(size_t)n * stride], stride);
            }
            if (inside) t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, one.data(), stride);
          }
          std::vector<uint32_t> single = Frame(t);
          size_t lit = 0;
          for (uint32_t p : list) lit += p != 0;
          EXPECT_GT(lit, 0u) << "case " << ci << " count " << count << " cull " << cull;
          EXPECT_TRUE(list == single) << "path " << path << " case " << ci << " count " << count << " cull "
                                      << cull;
        }
      }
    }
  }
  MarlixD3D8SetSpanPath(before);
}

TEST(D3D8Assembly, IndexedListDrawsAsItsTrianglesOneByOne16) { ListMatchesTriangles(false); }

TEST(D3D8Assembly, IndexedListDrawsAsItsTrianglesOneByOne32) { ListMatchesTriangles(true); }

// A strip and a fan draw as their triangles too (odd strip triangles reversed).
TEST(D3D8Assembly, StripsAndFansDrawAsTheirTriangles) {
  const int count = 30;
  const UINT stride = 16;
  std::vector<uint8_t> v = Vertices(count, 3, 5u);
  for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
    for (D3DPRIMITIVETYPE type : {D3DPT_TRIANGLESTRIP, D3DPT_TRIANGLEFAN}) {
      TestDevice t(40, 32);
      t.Perspective();
      t.dev->SetRenderState(D3DRS_CULLMODE, cull);
      t.dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
      t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
      ASSERT_EQ(D3D_OK, t.dev->DrawPrimitiveUP(type, count - 2, v.data(), stride));
      std::vector<uint32_t> whole = Frame(t);
      t.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
      for (int i = 0; i < count - 2; ++i) {
        int a, b, c;
        if (type == D3DPT_TRIANGLEFAN) {
          a = i + 1, b = i + 2, c = 0;
        } else if (i & 1) {
          a = i, b = i + 2, c = i + 1;
        } else {
          a = i, b = i + 1, c = i + 2;
        }
        std::vector<uint8_t> one(3 * (size_t)stride);
        memcpy(&one[0], &v[(size_t)a * stride], stride);
        memcpy(&one[stride], &v[(size_t)b * stride], stride);
        memcpy(&one[2 * (size_t)stride], &v[(size_t)c * stride], stride);
        t.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, one.data(), stride);
      }
      EXPECT_TRUE(whole == Frame(t)) << "type " << type << " cull " << cull;
    }
  }
}

}  // namespace
