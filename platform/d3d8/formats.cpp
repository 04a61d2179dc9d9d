// Pixel formats: sizes and the real memory layout of each format, conversion to and from the
// 32-bit A8R8G8B8 colours the pipeline works in, bump texels and DXT block decoding.
#include "d3d8_internal.h"

#include <string.h>

namespace mxd3d {

static const FormatInfo kFormats[] = {
    {D3DFMT_R8G8B8, FK_COLOR, 3, 0, 0, 0, 0},
    {D3DFMT_A8R8G8B8, FK_COLOR, 4, 0, 1, 0, 0},
    {D3DFMT_X8R8G8B8, FK_COLOR, 4, 0, 0, 0, 0},
    {D3DFMT_R5G6B5, FK_COLOR, 2, 0, 0, 0, 0},
    {D3DFMT_X1R5G5B5, FK_COLOR, 2, 0, 0, 0, 0},
    {D3DFMT_A1R5G5B5, FK_COLOR, 2, 0, 1, 0, 0},
    {D3DFMT_A4R4G4B4, FK_COLOR, 2, 0, 1, 0, 0},
    {D3DFMT_R3G3B2, FK_COLOR, 1, 0, 0, 0, 0},
    {D3DFMT_A8, FK_COLOR, 1, 0, 1, 0, 0},
    {D3DFMT_A8R3G3B2, FK_COLOR, 2, 0, 1, 0, 0},
    {D3DFMT_X4R4G4B4, FK_COLOR, 2, 0, 0, 0, 0},
    {D3DFMT_A8P8, FK_PALETTE, 2, 0, 1, 0, 0},
    {D3DFMT_P8, FK_PALETTE, 1, 0, 1, 0, 0},
    {D3DFMT_L8, FK_COLOR, 1, 0, 0, 0, 0},
    {D3DFMT_A8L8, FK_COLOR, 2, 0, 1, 0, 0},
    {D3DFMT_A4L4, FK_COLOR, 1, 0, 1, 0, 0},
    {D3DFMT_V8U8, FK_BUMP, 2, 0, 0, 0, 0},
    {D3DFMT_L6V5U5, FK_BUMP, 2, 0, 0, 0, 0},
    {D3DFMT_X8L8V8U8, FK_BUMP, 4, 0, 0, 0, 0},
    {D3DFMT_Q8W8V8U8, FK_BUMP, 4, 0, 0, 0, 0},
    {D3DFMT_V16U16, FK_BUMP, 4, 0, 0, 0, 0},
    {D3DFMT_DXT1, FK_DXT, 0, 8, 1, 0, 0},
    {D3DFMT_DXT2, FK_DXT, 0, 16, 1, 0, 0},
    {D3DFMT_DXT3, FK_DXT, 0, 16, 1, 0, 0},
    {D3DFMT_DXT4, FK_DXT, 0, 16, 1, 0, 0},
    {D3DFMT_DXT5, FK_DXT, 0, 16, 1, 0, 0},
    {D3DFMT_D16_LOCKABLE, FK_DEPTH, 2, 0, 0, 16, 0},
    {D3DFMT_D16, FK_DEPTH, 2, 0, 0, 16, 0},
    {D3DFMT_D15S1, FK_DEPTH, 2, 0, 0, 15, 1},
    {D3DFMT_D32, FK_DEPTH, 4, 0, 0, 32, 0},
    {D3DFMT_D24S8, FK_DEPTH, 4, 0, 0, 24, 8},
    {D3DFMT_D24X8, FK_DEPTH, 4, 0, 0, 24, 0},
    {D3DFMT_D24X4S4, FK_DEPTH, 4, 0, 0, 24, 4},
    {D3DFMT_INDEX16, FK_INDEX, 2, 0, 0, 0, 0},
    {D3DFMT_INDEX32, FK_INDEX, 4, 0, 0, 0, 0},
};

const FormatInfo* FindFormat(D3DFORMAT format) {
  for (const FormatInfo& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

uint32_t FormatPitch(D3DFORMAT format, uint32_t width) {
  const FormatInfo* f = FindFormat(format);
  if (!f) return 0;
  if (f->kind == FK_DXT) return ((width + 3) / 4) * f->blockBytes;
  // Rows start on 4-byte boundaries, as on real cards.
  return (width * f->bytesPerPixel + 3u) & ~3u;
}

uint32_t FormatRows(D3DFORMAT format, uint32_t height) {
  const FormatInfo* f = FindFormat(format);
  if (f && f->kind == FK_DXT) return (height + 3) / 4;
  return height;
}

// Widening of n-bit channels to 8 bits by bit replication, so full scale stays full scale.
static inline uint32_t X1(uint32_t v) { return v ? 255u : 0u; }
static inline uint32_t X2(uint32_t v) { return v * 85u; }
static inline uint32_t X3(uint32_t v) { return (v << 5) | (v << 2) | (v >> 1); }
static inline uint32_t X4(uint32_t v) { return v * 17u; }
static inline uint32_t X5(uint32_t v) { return (v << 3) | (v >> 2); }
static inline uint32_t X6(uint32_t v) { return (v << 2) | (v >> 4); }
static inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
static inline uint16_t Rd16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t Rd32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline void Wr16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

uint32_t ReadArgb(D3DFORMAT format, const uint8_t* p, const PALETTEENTRY* palette) {
  uint32_t v;
  switch (format) {
    case D3DFMT_A8R8G8B8: return Rd32(p);
    case D3DFMT_X8R8G8B8: return Rd32(p) | 0xff000000u;
    case D3DFMT_R8G8B8: return Argb(255, p[2], p[1], p[0]);
    case D3DFMT_R5G6B5:
      v = Rd16(p);
      return Argb(255, X5(v >> 11), X6((v >> 5) & 63), X5(v & 31));
    case D3DFMT_X1R5G5B5:
      v = Rd16(p);
      return Argb(255, X5((v >> 10) & 31), X5((v >> 5) & 31), X5(v & 31));
    case D3DFMT_A1R5G5B5:
      v = Rd16(p);
      return Argb(X1(v >> 15), X5((v >> 10) & 31), X5((v >> 5) & 31), X5(v & 31));
    case D3DFMT_A4R4G4B4:
      v = Rd16(p);
      return Argb(X4(v >> 12), X4((v >> 8) & 15), X4((v >> 4) & 15), X4(v & 15));
    case D3DFMT_X4R4G4B4:
      v = Rd16(p);
      return Argb(255, X4((v >> 8) & 15), X4((v >> 4) & 15), X4(v & 15));
    case D3DFMT_R3G3B2:
      v = p[0];
      return Argb(255, X3(v >> 5), X3((v >> 2) & 7), X2(v & 3));
    case D3DFMT_A8R3G3B2:
      v = Rd16(p);
      return Argb(v >> 8, X3((v >> 5) & 7), X3((v >> 2) & 7), X2(v & 3));
    case D3DFMT_A8: return Argb(p[0], 0, 0, 0);
    case D3DFMT_L8: return Argb(255, p[0], p[0], p[0]);
    case D3DFMT_A8L8: return Argb(p[1], p[0], p[0], p[0]);
    case D3DFMT_A4L4: {
      uint32_t l = X4(p[0] & 15);
      return Argb(X4(p[0] >> 4), l, l, l);
    }
    case D3DFMT_P8:
    case D3DFMT_A8P8: {
      uint32_t c = 0xff000000u;
      if (palette) {
        const PALETTEENTRY& e = palette[p[0]];
        c = Argb(e.peFlags, e.peRed, e.peGreen, e.peBlue);
      }
      if (format == D3DFMT_A8P8) c = (c & 0x00ffffffu) | ((uint32_t)p[1] << 24);
      return c;
    }
    default: return 0;
  }
}

void WriteArgb(D3DFORMAT format, uint8_t* p, uint32_t c) {
  uint32_t a = c >> 24, r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      p[0] = (uint8_t)b;
      p[1] = (uint8_t)g;
      p[2] = (uint8_t)r;
      p[3] = (uint8_t)(format == D3DFMT_X8R8G8B8 ? 255 : a);
      break;
    case D3DFMT_R8G8B8:
      p[0] = (uint8_t)b;
      p[1] = (uint8_t)g;
      p[2] = (uint8_t)r;
      break;
    case D3DFMT_R5G6B5: Wr16(p, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); break;
    case D3DFMT_X1R5G5B5: Wr16(p, 0x8000u | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)); break;
    case D3DFMT_A1R5G5B5: Wr16(p, ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)); break;
    case D3DFMT_A4R4G4B4: Wr16(p, ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4)); break;
    case D3DFMT_X4R4G4B4: Wr16(p, 0xf000u | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4)); break;
    case D3DFMT_R3G3B2: p[0] = (uint8_t)(((r >> 5) << 5) | ((g >> 5) << 2) | (b >> 6)); break;
    case D3DFMT_A8R3G3B2: Wr16(p, (a << 8) | ((r >> 5) << 5) | ((g >> 5) << 2) | (b >> 6)); break;
    case D3DFMT_A8: p[0] = (uint8_t)a; break;
    case D3DFMT_L8: p[0] = (uint8_t)r; break;
    case D3DFMT_A8L8:
      p[0] = (uint8_t)r;
      p[1] = (uint8_t)a;
      break;
    case D3DFMT_A4L4: p[0] = (uint8_t)(((a >> 4) << 4) | (r >> 4)); break;
    default: break;
  }
}

uint32_t ReadBump(D3DFORMAT format, const uint8_t* p) {
  int du = 0, dv = 0;
  uint32_t l = 255;
  switch (format) {
    case D3DFMT_V8U8:
      du = (int8_t)p[0];
      dv = (int8_t)p[1];
      break;
    case D3DFMT_L6V5U5: {
      uint32_t v = Rd16(p);
      int u5 = (int)(v & 31), v5 = (int)((v >> 5) & 31);
      if (u5 & 16) u5 -= 32;
      if (v5 & 16) v5 -= 32;
      du = u5 * 8;
      dv = v5 * 8;
      l = X6(v >> 10);
      break;
    }
    case D3DFMT_X8L8V8U8:
      du = (int8_t)p[0];
      dv = (int8_t)p[1];
      l = p[2];
      break;
    case D3DFMT_Q8W8V8U8:
      du = (int8_t)p[0];
      dv = (int8_t)p[1];
      break;
    case D3DFMT_V16U16:
      du = (int16_t)Rd16(p) >> 8;
      dv = (int16_t)Rd16(p + 2) >> 8;
      break;
    default: break;
  }
  return (l << 16) | (((uint32_t)dv & 255u) << 8) | ((uint32_t)du & 255u);
}

static void Rgb565(uint32_t v, uint32_t& r, uint32_t& g, uint32_t& b) {
  r = X5(v >> 11);
  g = X6((v >> 5) & 63);
  b = X5(v & 31);
}

void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]) {
  const uint8_t* cb = format == D3DFMT_DXT1 ? block : block + 8;
  uint32_t c0 = Rd16(cb), c1 = Rd16(cb + 2), bits = Rd32(cb + 4);
  uint32_t r[4], g[4], b[4], a[4] = {255, 255, 255, 255};
  Rgb565(c0, r[0], g[0], b[0]);
  Rgb565(c1, r[1], g[1], b[1]);
  if (format != D3DFMT_DXT1 || c0 > c1) {
    r[2] = (2 * r[0] + r[1]) / 3;
    g[2] = (2 * g[0] + g[1]) / 3;
    b[2] = (2 * b[0] + b[1]) / 3;
    r[3] = (r[0] + 2 * r[1]) / 3;
    g[3] = (g[0] + 2 * g[1]) / 3;
    b[3] = (b[0] + 2 * b[1]) / 3;
  } else {
    r[2] = (r[0] + r[1]) / 2;
    g[2] = (g[0] + g[1]) / 2;
    b[2] = (b[0] + b[1]) / 2;
    r[3] = g[3] = b[3] = 0;
    a[3] = 0;
  }
  uint32_t alpha[16];
  if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
    for (int i = 0; i < 16; ++i) alpha[i] = X4((block[i / 2] >> ((i & 1) * 4)) & 15);
  } else if (format == D3DFMT_DXT4 || format == D3DFMT_DXT5) {
    uint32_t a0 = block[0], a1 = block[1], pal[8];
    pal[0] = a0;
    pal[1] = a1;
    if (a0 > a1) {
      for (int i = 2; i < 8; ++i) pal[i] = ((8 - i) * a0 + (i - 1) * a1) / 7;
    } else {
      for (int i = 2; i < 6; ++i) pal[i] = ((6 - i) * a0 + (i - 1) * a1) / 5;
      pal[6] = 0;
      pal[7] = 255;
    }
    uint64_t idx = 0;
    for (int i = 0; i < 6; ++i) idx |= (uint64_t)block[2 + i] << (8 * i);
    for (int i = 0; i < 16; ++i) alpha[i] = pal[(idx >> (3 * i)) & 7];
  }
  for (int i = 0; i < 16; ++i) {
    uint32_t k = (bits >> (2 * i)) & 3;
    uint32_t al = format == D3DFMT_DXT1 ? a[k] : alpha[i];
    out[i] = Argb(al, r[k], g[k], b[k]);
  }
}

void DecodeImage(D3DFORMAT format, const uint8_t* src, int pitch, int width, int height,
                 const PALETTEENTRY* palette, uint32_t* out) {
  const FormatInfo* f = FindFormat(format);
  if (!f || width <= 0 || height <= 0) return;
  if (f->kind == FK_DXT) {
    uint32_t texels[16];
    for (int by = 0; by < (height + 3) / 4; ++by) {
      const uint8_t* row = src + (size_t)by * pitch;
      for (int bx = 0; bx < (width + 3) / 4; ++bx) {
        DecodeDxtBlock(format, row + (size_t)bx * f->blockBytes, texels);
        for (int y = 0; y < 4; ++y) {
          int py = by * 4 + y;
          if (py >= height) break;
          for (int x = 0; x < 4; ++x) {
            int px = bx * 4 + x;
            if (px < width) out[(size_t)py * width + px] = texels[y * 4 + x];
          }
        }
      }
    }
    return;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = src + (size_t)y * pitch;
    uint32_t* o = out + (size_t)y * width;
    if (format == D3DFMT_A8R8G8B8) {
      memcpy(o, p, (size_t)width * 4);
    } else if (f->kind == FK_BUMP) {
      for (int x = 0; x < width; ++x) o[x] = ReadBump(format, p + x * f->bytesPerPixel);
    } else {
      for (int x = 0; x < width; ++x) o[x] = ReadArgb(format, p + x * f->bytesPerPixel, palette);
    }
  }
}

}  // namespace mxd3d
