// Programmable vertex shaders. CreateVertexShader reads the declaration (which input register
// comes from which stream, in which type; constants to load) and checks the function's tokens,
// then compiles the function once into instruction records whose operands are resolved to
// places in a register file. That file holds every register component for a batch of vertices
// side by side, so each instruction is one plain loop over the batch that the compiler turns
// into vector code. The device entry points for shaders and their constants are here too.
#include "vshader.h"

#include "device.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace mxd3d {

// Registers of the file, VS_BATCH floats per component.
enum {
  FILE_TEMP = 0,     // r0..r11
  FILE_INPUT = 12,   // v0..v15
  FILE_OUT = 28,     // oPos, oD0, oD1, oT0..oT7, oFog, oPts
  FILE_GATHER = 41,  // one per source operand: constants read through a0.x
  FILE_RESULT = 44,  // results of an instruction whose destination is also a source
  FILE_CONST = 45,   // constants the function reads, each broadcast over the batch
  FILE_REGS = FILE_CONST + VS_CONSTANTS
};
enum { OUT_POS = 0, OUT_D0 = 1, OUT_T0 = 3, OUT_FOG = 11, OUT_PTS = 12 };
enum { MAX_DECLARATION = 4096, MAX_FUNCTION = 65536, MAX_SLOTS = 128 };

static inline float* Comp(float* file, int reg, int c) { return file + ((size_t)reg * 4 + (size_t)c) * VS_BATCH; }

static UINT TypeBytes(int type) {
  static const UINT kBytes[8] = {4, 8, 12, 16, 4, 4, 4, 8};
  return kBytes[type];
}

// Components each declaration type supplies; the others keep their defaults (0, 0, 0, 1).
static int TypeComponents(int type) {
  static const int kCount[8] = {1, 2, 3, 4, 4, 4, 2, 4};
  return kCount[type];
}

// ---- declaration ----------------------------------------------------------------------------
static bool ParseDeclaration(const DWORD* d, VertexShader& s, bool& skipped) {
  int stream = -1;  // -1 none yet, -2 the tessellator stream
  bool streamSeen[VS_STREAMS] = {};
  bool regSeen[16] = {};
  skipped = false;
  for (size_t k = 0; k < MAX_DECLARATION; ++k) {
    DWORD t = d[k];
    s.declaration.push_back(t);
    if (t == D3DVSD_END()) return true;
    switch (t >> D3DVSD_TOKENTYPESHIFT) {
      case D3DVSD_TOKEN_NOP:
        if (t != D3DVSD_NOP()) return false;
        break;
      case D3DVSD_TOKEN_STREAM: {
        if (t & D3DVSD_STREAMTESSMASK) {
          stream = -2;
          break;
        }
        DWORD n = t & D3DVSD_STREAMNUMBERMASK;
        if ((t & ~(DWORD)(D3DVSD_TOKENTYPEMASK | D3DVSD_STREAMNUMBERMASK)) || streamSeen[n]) return false;
        streamSeen[n] = true;
        stream = (int)n;
        break;
      }
      case D3DVSD_TOKEN_STREAMDATA: {
        if (stream < 0) return false;
        if (t & D3DVSD_DATALOADTYPEMASK) {
          s.streamBytes[stream] += 4 * ((t & D3DVSD_SKIPCOUNTMASK) >> D3DVSD_SKIPCOUNTSHIFT);
          skipped = true;
          break;
        }
        DWORD reg = t & D3DVSD_VERTEXREGMASK, type = (t & D3DVSD_DATATYPEMASK) >> D3DVSD_DATATYPESHIFT;
        if (reg >= 16 || type > D3DVSDT_SHORT4 || regSeen[reg]) return false;
        if (t & ~(DWORD)(D3DVSD_TOKENTYPEMASK | D3DVSD_DATATYPEMASK | D3DVSD_VERTEXREGMASK)) return false;
        regSeen[reg] = true;
        VsFetch f = {(uint8_t)stream, (uint8_t)reg, (uint8_t)type, s.streamBytes[stream]};
        s.fetch.push_back(f);
        s.streamBytes[stream] += TypeBytes((int)type);
        break;
      }
      case D3DVSD_TOKEN_TESSELLATOR: break;  // patches are not drawn by this device
      case D3DVSD_TOKEN_CONSTMEM: {
        DWORD addr = t & D3DVSD_CONSTADDRESSMASK, count = (t & D3DVSD_CONSTCOUNTMASK) >> D3DVSD_CONSTCOUNTSHIFT;
        if (addr + count > VS_CONSTANTS) return false;
        for (DWORD r = 0; r < count; ++r) {
          VsConstLoad c;
          c.reg = addr + r;
          for (int i = 0; i < 4; ++i) {
            if (++k >= MAX_DECLARATION) return false;
            s.declaration.push_back(d[k]);
            memcpy(&c.v[i], &d[k], 4);
          }
          s.constants.push_back(c);
        }
        break;
      }
      case D3DVSD_TOKEN_EXT: {
        DWORD count = (t & D3DVSD_EXTCOUNTMASK) >> D3DVSD_EXTCOUNTSHIFT;
        for (DWORD r = 0; r < count; ++r) {
          if (++k >= MAX_DECLARATION) return false;
          s.declaration.push_back(d[k]);
        }
        break;
      }
      default: return false;
    }
  }
  return false;
}

// The vertex format a declaration stands for when it drives fixed-function processing: one
// stream holding the registers in the order and types of a flexible vertex format. 0 when none.
static DWORD FixedFunctionFvf(const VertexShader& s, bool skipped) {
  if (skipped || s.fetch.empty()) return 0;
  for (int n = 1; n < VS_STREAMS; ++n)
    if (s.streamBytes[n]) return 0;
  size_t i = 0;
  auto next = [&](int reg, int type) {
    if (i < s.fetch.size() && s.fetch[i].reg == reg && s.fetch[i].type == type) {
      ++i;
      return true;
    }
    return false;
  };
  if (!next(D3DVSDE_POSITION, D3DVSDT_FLOAT3)) return 0;
  DWORD fvf = D3DFVF_XYZ;
  if (next(D3DVSDE_NORMAL, D3DVSDT_FLOAT3)) fvf |= D3DFVF_NORMAL;
  if (next(D3DVSDE_PSIZE, D3DVSDT_FLOAT1)) fvf |= D3DFVF_PSIZE;
  if (next(D3DVSDE_DIFFUSE, D3DVSDT_D3DCOLOR)) fvf |= D3DFVF_DIFFUSE;
  if (next(D3DVSDE_SPECULAR, D3DVSDT_D3DCOLOR)) fvf |= D3DFVF_SPECULAR;
  static const DWORD kFormat[4] = {D3DFVF_TEXTUREFORMAT1, D3DFVF_TEXTUREFORMAT2, D3DFVF_TEXTUREFORMAT3,
                                   D3DFVF_TEXTUREFORMAT4};
  DWORD sets = 0;
  while (i < s.fetch.size() && sets < 8 && s.fetch[i].reg == D3DVSDE_TEXCOORD0 + sets &&
         s.fetch[i].type <= D3DVSDT_FLOAT4) {
    fvf |= kFormat[s.fetch[i].type] << (16 + 2 * sets);
    ++sets;
    ++i;
  }
  if (i != s.fetch.size()) return 0;
  return fvf | (sets << D3DFVF_TEXCOUNT_SHIFT);
}

// ---- function: check and compile -----------------------------------------------------------
struct OpInfo {
  int op, sources, rows;  // rows: matrix macros, the rows of the second source they read
  int rowOp;              // the dot product each row is
};

static const OpInfo kOps[] = {
    {D3DSIO_NOP, 0, 0, 0},  {D3DSIO_MOV, 1, 0, 0},   {D3DSIO_ADD, 2, 0, 0},  {D3DSIO_SUB, 2, 0, 0},
    {D3DSIO_MAD, 3, 0, 0},  {D3DSIO_MUL, 2, 0, 0},   {D3DSIO_RCP, 1, 0, 0},  {D3DSIO_RSQ, 1, 0, 0},
    {D3DSIO_DP3, 2, 0, 0},  {D3DSIO_DP4, 2, 0, 0},   {D3DSIO_MIN, 2, 0, 0},  {D3DSIO_MAX, 2, 0, 0},
    {D3DSIO_SLT, 2, 0, 0},  {D3DSIO_SGE, 2, 0, 0},   {D3DSIO_EXP, 1, 0, 0},  {D3DSIO_LOG, 1, 0, 0},
    {D3DSIO_LIT, 1, 0, 0},  {D3DSIO_DST, 2, 0, 0},   {D3DSIO_FRC, 1, 0, 0},  {D3DSIO_EXPP, 1, 0, 0},
    {D3DSIO_LOGP, 1, 0, 0}, {D3DSIO_M4x4, 2, 4, D3DSIO_DP4}, {D3DSIO_M4x3, 2, 3, D3DSIO_DP4},
    {D3DSIO_M3x4, 2, 4, D3DSIO_DP3}, {D3DSIO_M3x3, 2, 3, D3DSIO_DP3}, {D3DSIO_M3x2, 2, 2, D3DSIO_DP3},
};

static const OpInfo* FindOp(DWORD op) {
  for (const OpInfo& o : kOps)
    if ((DWORD)o.op == op) return &o;
  return nullptr;
}

struct Compiler {
  VertexShader& s;
  bool vs11;
  int constSlots;
};

// A register a source names: kind (D3DSPR_* >> 28) and number.
struct RegRef {
  int kind, num;
  bool relative;
};

static bool DecodeSource(const Compiler& k, DWORD t, RegRef& r) {
  if (!(t & 0x80000000u) || (t & 0x0000D800u)) return false;  // bits 11, 12, 14, 15 are reserved
  DWORD mod = (t >> 24) & 0xF;
  if (mod > 1) return false;  // none or negate
  r.kind = (int)((t >> D3DSP_REGTYPE_SHIFT) & 7);
  r.num = (int)(t & 0x7FF);
  r.relative = (t & D3DVS_ADDRMODE_RELATIVE) != 0;
  switch (r.kind) {
    case 0: return !r.relative && r.num < 12;
    case 1: return !r.relative && r.num < 16;
    case 2: return r.num < VS_CONSTANTS && (!r.relative || k.vs11);
    default: return false;
  }
}

// Resolves a source to the file; row selects a later register (rows of a matrix macro).
static void ResolveSource(Compiler& k, DWORD t, const RegRef& r, int row, int operand, VsSrc& s) {
  s.sign = ((t >> 24) & 0xF) ? -1.0f : 1.0f;
  s.relative = -1;
  s.gather = nullptr;
  int reg;
  if (r.kind == 0) {
    reg = FILE_TEMP + r.num + row;
  } else if (r.kind == 1) {
    reg = FILE_INPUT + r.num + row;
  } else if (r.relative) {
    reg = FILE_GATHER + operand;
    s.relative = r.num + row;
    s.gather = Comp(k.s.file, reg, 0);
  } else {
    int c = r.num + row;
    if (k.s.constSlot[c] < 0) k.s.constSlot[c] = FILE_CONST + k.constSlots++;
    reg = k.s.constSlot[c];
  }
  for (int c = 0; c < 4; ++c) s.comp[c] = Comp(k.s.file, reg, (int)((t >> (16 + 2 * c)) & 3));
}

// The destination register in the file, or -1 when the token is refused.
static int DecodeDest(const Compiler& k, DWORD t, int op, int& kind, int& num) {
  if (!(t & 0x80000000u) || (t & 0x0FF0F800u)) return -1;  // no modifiers, shifts or addressing
  kind = (int)((t >> D3DSP_REGTYPE_SHIFT) & 7);
  num = (int)(t & 0x7FF);
  int mask = (int)((t >> 16) & 0xF);
  if (!mask) return -1;
  switch (kind) {
    case 0: return num < 12 ? FILE_TEMP + num : -1;
    case 3: return k.vs11 && op == D3DSIO_MOV && num == 0 && mask == 1 ? 0 : -1;  // a0.x: not in the file
    case 4:
      if (num == D3DSRO_POSITION) return FILE_OUT + OUT_POS;
      if (num == D3DSRO_FOG) return FILE_OUT + OUT_FOG;
      return num == D3DSRO_POINT_SIZE ? FILE_OUT + OUT_PTS : -1;
    case 5: return num < 2 ? FILE_OUT + OUT_D0 + num : -1;
    case 6: return num < 8 ? FILE_OUT + OUT_T0 + num : -1;
    default: return -1;
  }
}

static bool CompileFunction(const DWORD* f, VertexShader& s) {
  if (f[0] != D3DVS_VERSION(1, 0) && f[0] != D3DVS_VERSION(1, 1)) return false;
  Compiler k = {s, f[0] == D3DVS_VERSION(1, 1), 0};
  int slots = 0;
  size_t i = 1;
  for (;;) {
    if (i >= MAX_FUNCTION) return false;
    DWORD t = f[i];
    if (t == D3DSIO_END) {
      s.function.assign(f, f + i + 1);
      return true;
    }
    DWORD op = t & D3DSI_OPCODE_MASK;
    if (op == D3DSIO_COMMENT) {
      i += 1 + ((t >> 16) & 0x7FFF);
      if (t & 0x80000000u) return false;
      continue;
    }
    if (t & 0xFFFF0000u) return false;
    if (op == D3DSIO_DEF) {
      // A constant the function defines: loaded with the shader, as declaration constants are.
      if (i + 5 >= MAX_FUNCTION) return false;
      DWORD d = f[i + 1];
      if ((d & 0xF0000000u) != (0x80000000u | D3DSPR_CONST) || (d & 0x0FF0F800u) ||
          (d & D3DSP_WRITEMASK_ALL) != D3DSP_WRITEMASK_ALL || (d & 0x7FF) >= VS_CONSTANTS)
        return false;
      VsConstLoad c;
      c.reg = d & 0x7FF;
      memcpy(c.v, &f[i + 2], 16);
      s.constants.push_back(c);
      i += 6;
      continue;
    }
    const OpInfo* info = FindOp(op);
    if (!info) return false;
    if (op == D3DSIO_NOP) {
      ++i;
      continue;
    }
    if (i + 1 + (size_t)info->sources >= MAX_FUNCTION) return false;
    DWORD dt = f[i + 1];
    int dkind, dnum;
    int dreg = DecodeDest(k, dt, (int)op, dkind, dnum);
    if (dreg < 0) return false;
    int mask = (int)((dt >> 16) & 0xF);
    RegRef src[3];
    int constRead = -1, inputRead = -1;
    for (int n = 0; n < info->sources; ++n) {
      DWORD st = f[i + 2 + n];
      if (!DecodeSource(k, st, src[n])) return false;
      // One constant and one input register per instruction, as the hardware reads them.
      if (src[n].kind == 2) {
        int key = src[n].relative ? VS_CONSTANTS + src[n].num : src[n].num;
        if (constRead >= 0 && constRead != key) return false;
        constRead = key;
      } else if (src[n].kind == 1) {
        if (inputRead >= 0 && inputRead != src[n].num) return false;
        inputRead = src[n].num;
      }
    }
    if (op == D3DSIO_FRC && (mask & ~3)) return false;  // the macro writes x and y only
    if (info->rows) {
      // The rows must exist, and the destination may not be read by the macro.
      const RegRef& m = src[1];
      int limit = m.kind == 0 ? 12 : m.kind == 1 ? 16 : VS_CONSTANTS;
      if (m.num + info->rows > limit && !(m.kind == 2 && m.relative)) return false;
      for (int n = 0; n < 2; ++n)
        if (dkind == 0 && src[n].kind == 0 && src[n].num <= dnum && dnum < src[n].num + (n ? info->rows : 1))
          return false;
      mask &= (1 << info->rows) - 1;  // a macro writes as many components as it has rows
      slots += info->rows;
      for (int row = 0; row < info->rows; ++row) {
        if (!(mask & (1 << row))) continue;
        VsInstr in;
        memset(&in, 0, sizeof(in));
        in.op = info->rowOp;
        in.mask = 1 << row;
        in.srcCount = 2;
        ResolveSource(k, f[i + 2], src[0], 0, 0, in.src[0]);
        ResolveSource(k, f[i + 3], src[1], row, 1, in.src[1]);
        for (int c = 0; c < 4; ++c) in.dst[c] = in.out[c] = Comp(s.file, dreg, c);
        s.code.push_back(in);
      }
    } else {
      slots += op == D3DSIO_FRC ? 3 : 1;
      VsInstr in;
      memset(&in, 0, sizeof(in));
      in.op = (int)op;
      in.mask = mask;
      in.srcCount = info->sources;
      bool aliased = false;
      for (int n = 0; n < info->sources; ++n) {
        ResolveSource(k, f[i + 2 + n], src[n], 0, n, in.src[n]);
        if (dkind == 0 && src[n].kind == 0 && src[n].num == dnum) aliased = true;
      }
      if (dkind == 3) {
        in.addr = s.addr;
      } else {
        for (int c = 0; c < 4; ++c) {
          in.dst[c] = Comp(s.file, dreg, c);
          in.out[c] = aliased ? Comp(s.file, FILE_RESULT, c) : in.dst[c];
        }
      }
      s.code.push_back(in);
    }
    if (slots > MAX_SLOTS) return false;
    i += 2 + (size_t)info->sources;
  }
}

VertexShader* VsCreate(const DWORD* declaration, const DWORD* function) {
  VertexShader* s = new VertexShader();
  memset(s->streamBytes, 0, sizeof(s->streamBytes));
  memset(s->addr, 0, sizeof(s->addr));
  s->fvf = 0;
  s->constSlot.assign(VS_CONSTANTS, -1);
  size_t bytes = (size_t)FILE_REGS * 4 * VS_BATCH * sizeof(float);
  s->file = (float*)aligned_alloc(64, bytes);
  for (int r = 0; r < FILE_REGS; ++r)
    for (int c = 0; c < 4; ++c) {
      float* p = Comp(s->file, r, c);
      for (int i = 0; i < VS_BATCH; ++i) p[i] = c == 3 ? 1.0f : 0.0f;
    }
  for (int o = 0; o < 13; ++o) s->out[o] = Comp(s->file, FILE_OUT + o, 0);
  // A shader that leaves oFog alone leaves its vertices unfogged.
  for (int i = 0; i < VS_BATCH; ++i) s->out[OUT_FOG][i] = 1.0f;
  bool skipped;
  bool ok = ParseDeclaration(declaration, *s, skipped);
  if (ok && function) {
    ok = CompileFunction(function, *s);
  } else if (ok) {
    s->fvf = FixedFunctionFvf(*s, skipped);
    ok = s->fvf != 0;
  }
  if (!ok) {
    VsDestroy(s);
    return nullptr;
  }
  return s;
}

void VsDestroy(VertexShader* s) {
  if (!s) return;
  free(s->file);
  delete s;
}

// ---- running --------------------------------------------------------------------------------

static inline float Bits(float v, uint32_t mask) {
  uint32_t u;
  memcpy(&u, &v, 4);
  u &= mask;
  memcpy(&v, &u, 4);
  return v;
}

static void Fetch(VertexShader& s, const uint8_t* const streams[VS_STREAMS], const UINT strides[VS_STREAMS],
                  UINT first, int n) {
  for (const VsFetch& f : s.fetch) {
    const size_t stride = strides[f.stream];
    const uint8_t* base = streams[f.stream] + (size_t)first * stride + f.offset;
    float* d[4];
    for (int c = 0; c < 4; ++c) d[c] = Comp(s.file, FILE_INPUT + f.reg, c);
    const int comps = TypeComponents(f.type);
    switch (f.type) {
      case D3DVSDT_D3DCOLOR:
        // Stored as B, G, R, A bytes; the register gets r, g, b, a.
        for (int i = 0; i < n; ++i) {
          const uint8_t* p = base + i * stride;
          const float k = 1.0f / 255.0f;
          d[0][i] = (float)p[2] * k;
          d[1][i] = (float)p[1] * k;
          d[2][i] = (float)p[0] * k;
          d[3][i] = (float)p[3] * k;
        }
        break;
      case D3DVSDT_UBYTE4:
        for (int i = 0; i < n; ++i)
          for (int c = 0; c < 4; ++c) d[c][i] = (float)base[i * stride + c];
        break;
      case D3DVSDT_SHORT2:
      case D3DVSDT_SHORT4:
        for (int i = 0; i < n; ++i)
          for (int c = 0; c < comps; ++c) {
            int16_t v;
            memcpy(&v, base + i * stride + 2 * c, 2);
            d[c][i] = (float)v;
          }
        break;
      default:
        for (int i = 0; i < n; ++i)
          for (int c = 0; c < comps; ++c) memcpy(&d[c][i], base + i * stride + 4 * c, 4);
        break;
    }
  }
}

// The loops over a batch take their registers as restrict parameters: a result never overlaps
// the operands (see VsInstr::out), and the compiler turns the loops into vector code without
// checks for overlap.
template <class F>
static inline void Lanes(float* __restrict o, const float* __restrict a, const float* __restrict b,
                         const float* __restrict d, float sa, float sb, float sc, F f) {
  for (int i = 0; i < VS_BATCH; ++i) o[i] = f(a[i] * sa, b[i] * sb, d[i] * sc);
}

static inline void Dot(float* __restrict o, const float* __restrict ax, const float* __restrict ay,
                       const float* __restrict az, const float* __restrict aw, const float* __restrict bx,
                       const float* __restrict by, const float* __restrict bz, const float* __restrict bw, float s,
                       bool four) {
  if (four) {
    for (int i = 0; i < VS_BATCH; ++i) o[i] = (ax[i] * bx[i] + ay[i] * by[i] + az[i] * bz[i] + aw[i] * bw[i]) * s;
  } else {
    for (int i = 0; i < VS_BATCH; ++i) o[i] = (ax[i] * bx[i] + ay[i] * by[i] + az[i] * bz[i]) * s;
  }
}

// Componentwise operations: f(a, b, c) for every written component.
template <class F>
static inline void Each(const VsInstr& in, F f) {
  for (int c = 0; c < 4; ++c) {
    if (!(in.mask >> c & 1)) continue;
    const float* a = in.src[0].comp[c];
    Lanes(in.out[c], a, in.srcCount > 1 ? in.src[1].comp[c] : a, in.srcCount > 2 ? in.src[2].comp[c] : a,
          in.src[0].sign, in.src[1].sign, in.src[2].sign, f);
  }
}

// Operations with one result for all components: computed into the first written component.
static inline float* FirstOut(const VsInstr& in) {
  for (int c = 0; c < 4; ++c)
    if (in.mask >> c & 1) return in.out[c];
  return in.out[0];
}

static inline void Replicate(const VsInstr& in, const float* v) {
  for (int c = 0; c < 4; ++c)
    if ((in.mask >> c & 1) && in.out[c] != v) memcpy(in.out[c], v, sizeof(float) * VS_BATCH);
}

template <class F>
static inline void Scalar(const VsInstr& in, F f) {
  float* o = FirstOut(in);
  const float* w = in.src[0].comp[3];  // the source's w, after the swizzle
  Lanes(o, w, w, w, in.src[0].sign, 0.0f, 0.0f, [f](float v, float, float) { return f(v); });
  Replicate(in, o);
}

// Per-component results from one scalar: fills the four values, writes the masked ones.
template <class F>
static inline void Vector(const VsInstr& in, F f) {
  float* o[4];
  for (int c = 0; c < 4; ++c) o[c] = in.out[c];
  for (int i = 0; i < VS_BATCH; ++i) {
    float r[4];
    f(i, r);
    for (int c = 0; c < 4; ++c)
      if (in.mask >> c & 1) o[c][i] = r[c];
  }
}

// Every instruction runs over the whole batch, a loop count the compiler knows; lanes past the
// vertices of a short last batch compute values nobody reads.
static void Execute(VertexShader& s, const float (*constants)[4]) {
  for (const VsInstr& in : s.code) {
    for (int k = 0; k < in.srcCount; ++k) {
      const VsSrc& src = in.src[k];
      if (src.relative < 0) continue;
      // c[a0.x + n]: registers outside the constants read as zero.
      for (int c = 0; c < 4; ++c) {
        float* g = src.gather + (size_t)c * VS_BATCH;
        for (int i = 0; i < VS_BATCH; ++i) {
          int r = s.addr[i] + src.relative;
          g[i] = r >= 0 && r < VS_CONSTANTS ? constants[r][c] : 0.0f;
        }
      }
    }
    switch (in.op) {
      case D3DSIO_MOV:
        if (in.addr) {
          // The address register takes the floor of the source's x (Direct3D 8 rounding).
          const float* __restrict x = in.src[0].comp[0];
          const float sx = in.src[0].sign;
          for (int i = 0; i < VS_BATCH; ++i) {
            float v = floorf(x[i] * sx);
            v = v < -1024.0f ? -1024.0f : (v > 1024.0f ? 1024.0f : v);
            in.addr[i] = v == v ? (int)v : -1024;
          }
        } else {
          Each(in, [](float a, float, float) { return a; });
        }
        break;
      case D3DSIO_ADD: Each(in, [](float a, float b, float) { return a + b; }); break;
      case D3DSIO_SUB: Each(in, [](float a, float b, float) { return a - b; }); break;
      case D3DSIO_MUL: Each(in, [](float a, float b, float) { return a * b; }); break;
      case D3DSIO_MAD: Each(in, [](float a, float b, float c) { return a * b + c; }); break;
      case D3DSIO_MIN: Each(in, [](float a, float b, float) { return a < b ? a : b; }); break;
      case D3DSIO_MAX: Each(in, [](float a, float b, float) { return a >= b ? a : b; }); break;
      case D3DSIO_SLT: Each(in, [](float a, float b, float) { return a < b ? 1.0f : 0.0f; }); break;
      case D3DSIO_SGE: Each(in, [](float a, float b, float) { return a >= b ? 1.0f : 0.0f; }); break;
      case D3DSIO_FRC: Each(in, [](float a, float, float) { return a - floorf(a); }); break;
      case D3DSIO_DP3:
      case D3DSIO_DP4: {
        float* o = FirstOut(in);
        const VsSrc& a = in.src[0];
        const VsSrc& b = in.src[1];
        Dot(o, a.comp[0], a.comp[1], a.comp[2], a.comp[3], b.comp[0], b.comp[1], b.comp[2], b.comp[3],
            a.sign * b.sign, in.op == D3DSIO_DP4);
        Replicate(in, o);
        break;
      }
      case D3DSIO_RCP:
        Scalar(in, [](float v) { return v == 1.0f ? 1.0f : (v == 0.0f ? HUGE_VALF : 1.0f / v); });
        break;
      case D3DSIO_RSQ:
        Scalar(in, [](float v) {
          v = fabsf(v);
          return v == 1.0f ? 1.0f : (v == 0.0f ? HUGE_VALF : 1.0f / sqrtf(v));
        });
        break;
      case D3DSIO_EXP: Scalar(in, [](float v) { return exp2f(v); }); break;
      case D3DSIO_LOG:
        Scalar(in, [](float v) {
          v = fabsf(v);
          return v != 0.0f ? log2f(v) : -FLT_MAX;
        });
        break;
      case D3DSIO_EXPP: {
        const float* w = in.src[0].comp[3];
        const float sw = in.src[0].sign;
        Vector(in, [&](int i, float r[4]) {
          float v = w[i] * sw, fl = floorf(v);
          r[0] = exp2f(fl);
          r[1] = v - fl;
          r[2] = Bits(exp2f(v), 0xffffff00u);  // the reduced precision of the partial result
          r[3] = 1.0f;
        });
        break;
      }
      case D3DSIO_LOGP: {
        const float* w = in.src[0].comp[3];
        const float sw = in.src[0].sign;
        Vector(in, [&](int i, float r[4]) {
          float v = fabsf(w[i] * sw);
          if (v != 0.0f) {
            uint32_t u;
            memcpy(&u, &v, 4);
            r[0] = (float)((int)(u >> 23) - 127);  // exponent
            u = (u & 0x7fffffu) | 0x3f800000u;     // mantissa in [1, 2)
            memcpy(&r[1], &u, 4);
            r[2] = Bits(log2f(v), 0xffffff00u);
          } else {
            r[0] = -FLT_MAX;
            r[1] = 1.0f;
            r[2] = -FLT_MAX;
          }
          r[3] = 1.0f;
        });
        break;
      }
      case D3DSIO_LIT: {
        const VsSrc& a = in.src[0];
        Vector(in, [&](int i, float r[4]) {
          float x = a.comp[0][i] * a.sign, y = a.comp[1][i] * a.sign, p = a.comp[3][i] * a.sign;
          const float kMaxPower = 127.9961f;
          p = p < -kMaxPower ? -kMaxPower : (p > kMaxPower ? kMaxPower : p);
          r[0] = 1.0f;
          r[1] = 0.0f;
          r[2] = 0.0f;
          r[3] = 1.0f;
          if (x > 0.0f) {
            r[1] = x;
            if (y > 0.0f) r[2] = powf(y, p);
          }
        });
        break;
      }
      case D3DSIO_DST: {
        const VsSrc& a = in.src[0];
        const VsSrc& b = in.src[1];
        Vector(in, [&](int i, float r[4]) {
          r[0] = 1.0f;
          r[1] = a.comp[1][i] * a.sign * b.comp[1][i] * b.sign;
          r[2] = a.comp[2][i] * a.sign;
          r[3] = b.comp[3][i] * b.sign;
        });
        break;
      }
      default: break;
    }
    if (!in.addr && in.out[0] != in.dst[0])
      for (int c = 0; c < 4; ++c)
        if (in.mask >> c & 1) memcpy(in.dst[c], in.out[c], sizeof(float) * VS_BATCH);
  }
}

static void Emit(const VertexShader& s, const VsOutputs& o, int n, PVert* out) {
  const float* const* R = s.out;
  auto at = [](const float* reg, int c, int i) { return reg[(size_t)c * VS_BATCH + (size_t)i]; };
  for (int i = 0; i < n; ++i) {
    PVert& p = out[i];
    for (int c = 0; c < 4; ++c) {
      p.clip[c] = at(R[OUT_POS], c, i);
      p.r.diffuse[c] = Clamp01(at(R[OUT_D0], c, i));
      p.r.specular[c] = Clamp01(at(R[OUT_D0 + 1], c, i));
    }
    // Specular alpha carries the vertex fog factor to the rasteriser.
    if (o.fogVertex) p.r.specular[3] = Clamp01(at(R[OUT_FOG], 0, i));
    for (int st = 0; st < o.stageCount; ++st) {
      int set = o.texSet[st];
      if (o.shaderCoords) {
        // All four components of the output register for the pixel shader's tN.
        float* t = &p.r.tex[0][0] + 4 * st;
        for (int c = 0; c < 4; ++c) t[c] = set < 8 ? at(R[OUT_T0 + set], c, i) : (c == 3 ? 1.0f : 0.0f);
        continue;
      }
      float* t = p.r.tex[st];
      if (set >= 8) {
        t[0] = t[1] = 0.0f;
        t[2] = 1.0f;
        continue;
      }
      const float* reg = R[OUT_T0 + set];
      t[0] = at(reg, 0, i);
      t[1] = at(reg, 1, i);
      int count = TexTransformCount(o.ttff[st]);
      t[2] = (o.ttff[st] & D3DTTFF_PROJECTED) && count >= 2 ? at(reg, count - 1, i) : 1.0f;
    }
  }
}

void VsRun(VertexShader& s, const uint8_t* const streams[VS_STREAMS], const UINT strides[VS_STREAMS], UINT count,
           const float (*constants)[4], const VsOutputs& o, PVert* out) {
  // The constants the function names are the same for every vertex of the draw.
  for (int c = 0; c < VS_CONSTANTS; ++c) {
    if (s.constSlot[c] < 0) continue;
    for (int k = 0; k < 4; ++k) {
      float* p = Comp(s.file, s.constSlot[c], k);
      for (int i = 0; i < VS_BATCH; ++i) p[i] = constants[c][k];
    }
  }
  for (UINT first = 0; first < count; first += VS_BATCH) {
    int n = (int)(count - first < (UINT)VS_BATCH ? count - first : (UINT)VS_BATCH);
    Fetch(s, streams, strides, first, n);
    Execute(s, constants);
    Emit(s, o, n, out + first);
  }
}

// ---- device entry points --------------------------------------------------------------------
// Handles have bit 0 set, which no vertex format has; the other bits number the shader.
static VertexShader* Find(const std::vector<VertexShader*>& list, DWORD handle) {
  if (!(handle & 1)) return nullptr;
  size_t i = handle >> 1;
  return i < list.size() ? list[i] : nullptr;
}

VertexShader* Device::FindVertexShader(DWORD handle) { return Find(vshaders, handle); }

HRESULT WINAPI Device::CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* shader,
                                          DWORD usage) {
  if (!declaration || !shader || (usage & ~(DWORD)D3DUSAGE_SOFTWAREPROCESSING)) return D3DERR_INVALIDCALL;
  if (vshaders.size() >= 0x7fffffffu) return D3DERR_OUTOFVIDEOMEMORY;
  VertexShader* s = VsCreate(declaration, function);
  if (!s) return D3DERR_INVALIDCALL;
  // Slots are never reused: a deleted shader's handle stays unknown instead of naming another.
  vshaders.push_back(s);
  *shader = (DWORD)((vshaders.size() - 1) << 1) | 1;
  return D3D_OK;
}

HRESULT WINAPI Device::SetVertexShader(DWORD handle) {
  ++stateSerial;
  if (handle & 1) {
    VertexShader* s = FindVertexShader(handle);
    if (!s) return D3DERR_INVALIDCALL;
    // Constants of the declaration (and defined by the function) are loaded with the shader.
    for (const VsConstLoad& c : s->constants) {
      memcpy(st.vsConst[c.reg], c.v, 16);
      if (recording) recordMask.vsConst[c.reg] = true;
    }
  }
  st.vertexShader = handle;
  if (recording) recordMask.vertexShader = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetVertexShader(DWORD* h) {
  if (!h) return D3DERR_INVALIDCALL;
  *h = st.vertexShader;
  return D3D_OK;
}

HRESULT WINAPI Device::DeleteVertexShader(DWORD handle) {
  VertexShader* s = FindVertexShader(handle);
  if (!s) return D3DERR_INVALIDCALL;
  // A bound handle stays set; drawing with it is refused from now on.
  ++stateSerial;
  VsDestroy(s);
  vshaders[handle >> 1] = nullptr;
  return D3D_OK;
}

HRESULT WINAPI Device::SetVertexShaderConstant(DWORD reg, const void* data, DWORD count) {
  if (!data || (uint64_t)reg + count > VS_CONSTANTS) return D3DERR_INVALIDCALL;
  memcpy(st.vsConst[reg], data, (size_t)count * 16);
  if (recording)
    for (DWORD i = 0; i < count; ++i) recordMask.vsConst[reg + i] = true;
  return D3D_OK;
}

HRESULT WINAPI Device::GetVertexShaderConstant(DWORD reg, void* data, DWORD count) {
  if (!data || (uint64_t)reg + count > VS_CONSTANTS) return D3DERR_INVALIDCALL;
  memcpy(data, st.vsConst[reg], (size_t)count * 16);
  return D3D_OK;
}

// Size query when data is null; a buffer too small gets D3DERR_MOREDATA and the size needed.
static HRESULT CopyTokens(const std::vector<DWORD>& tokens, void* data, DWORD* size) {
  if (!size) return D3DERR_INVALIDCALL;
  DWORD bytes = (DWORD)(tokens.size() * sizeof(DWORD));
  if (!data) {
    *size = bytes;
    return D3D_OK;
  }
  if (*size < bytes) {
    *size = bytes;
    return D3DERR_MOREDATA;
  }
  if (bytes) memcpy(data, tokens.data(), bytes);
  *size = bytes;
  return D3D_OK;
}

HRESULT WINAPI Device::GetVertexShaderDeclaration(DWORD handle, void* data, DWORD* size) {
  VertexShader* s = FindVertexShader(handle);
  return s ? CopyTokens(s->declaration, data, size) : D3DERR_INVALIDCALL;
}

HRESULT WINAPI Device::GetVertexShaderFunction(DWORD handle, void* data, DWORD* size) {
  VertexShader* s = FindVertexShader(handle);
  return s ? CopyTokens(s->function, data, size) : (HRESULT)D3DERR_INVALIDCALL;
}

}  // namespace mxd3d
