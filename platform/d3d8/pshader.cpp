// Pixel shaders: the token stream is checked against the rules of its version (registers,
// instructions, modifiers, order and counts) and compiled into a list of decoded operations. Per
// pixel the operations run over one register file of four-float registers: r0-r5, t0-t5, v0-v1,
// c0-c7. Every write is clamped to the range the caps report; r0 is saturated at the end.
#include "pshader.h"

#include "pixel.h"

#include <math.h>
#include <string.h>

namespace mxd3d {

static_assert(4 * PS_COORD_SETS <= 3 * MAX_STAGES, "the coordinate sets fit in the vertex's texture floats");

namespace {

enum { R_BASE = 0, T_BASE = 6, V_BASE = 12, C_BASE = 14, REGS = 22 };

enum Kind : uint8_t {
  // arithmetic
  K_MOV, K_ADD, K_SUB, K_MUL, K_MAD, K_LRP, K_DP3, K_DP4, K_CND, K_CMP, K_BEM,
  // ps.1.0 to ps.1.3 texture operations; `stage` names tN and its coordinate set
  K_TEXCOORD, K_TEX, K_TEXKILL, K_TEXBEM, K_TEXBEML, K_TEXREG2AR, K_TEXREG2GB, K_TEXREG2RGB, K_PAD,
  K_TEXM3X2TEX, K_TEXM3X2DEPTH, K_TEXM3X3TEX, K_TEXM3X3, K_TEXM3X3SPEC, K_TEXM3X3VSPEC, K_TEXDP3, K_TEXDP3TEX,
  // ps.1.4 texture operations
  K_TEXLD, K_TEXLD_REG, K_TEXCRD, K_KILL_REG, K_TEXDEPTH
};

struct Src {
  uint8_t reg;     // register file index
  uint8_t swz[4];  // component read for x, y, z, w
  uint8_t mod;     // D3DSPSM_* >> 24
};

struct Op {
  uint8_t kind;
  uint8_t dst;    // register file index
  uint8_t mask;   // components written, bit 0 = x
  uint8_t sat;    // _sat
  uint8_t defer;  // first of a co-issued pair: written after the second has read its sources
  uint8_t stage;  // texture stage / coordinate set
  uint8_t div;    // ps.1.4 texld/texcrd: 0, or the component dividing x and y (2 = z, 3 = w)
  uint8_t useW;   // ps.1.4 .xyw selector: w in place of z
  uint8_t slot;   // texm3x* pad: which row
  float scale;    // destination shift
  Src src[3];
};

// Values in one register are kept within the range the device reports.
inline float Range(float v) {
  return v < -kPixelShaderRange ? -kPixelShaderRange : (v > kPixelShaderRange ? kPixelShaderRange : v);
}
inline float Sat01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }
// Constants hold -1..1 (not a number: 0).
inline float ConstantRange(float v) { return v > -1.0f ? (v < 1.0f ? v : 1.0f) : (v <= -1.0f ? -1.0f : 0.0f); }

}  // namespace

struct PixelProgram {
  std::vector<DWORD> tokens;
  std::vector<Op> ops;
  int minor = 0;
  int stages = 0, coordSets = 0;
  bool decides = false;
  bool readsConstants = false;
  uint8_t defMask = 0;
  float defs[PS_CONSTANTS][4];
};

namespace {

// ---- checking and decoding ------------------------------------------------------------------
const uint32_t kIdentity = 0xE4, kXYZZ = 0xA4, kXYWW = 0xF4;

struct Checker {
  PixelProgram& p;
  bool v14;
  // register numbers in the ps.1.4 style (r: 0..5, t: 0..5) -> written
  uint32_t written = 0;  // bit per register file index
  uint32_t firstPhase = 0;  // ps.1.4: what the first phase wrote
  int texOps = 0, arithOps = 0;
  bool sawArith = false;     // in this phase
  bool sawPhase = false;
  bool lateFirstPhase = false;   // something only a first phase may hold, before any marker
  bool earlySecondPhase = false; // v read before any marker: wrong if a marker follows
  bool lastArith = false;        // the previous instruction was arithmetic (for co-issue)
  bool lastCoissued = false;
  uint8_t lastMask = 0;
  // texm3x2 / texm3x3 sequences: the next instruction expected
  int padRows = 0, padDone = 0, padNext = -1, padSrc = -1;

  explicit Checker(PixelProgram& prog) : p(prog), v14(prog.minor == 4) {}

  void UseStage(int n) {
    if (n + 1 > p.stages) p.stages = n + 1;
  }
  void UseCoords(int n) {
    UseStage(n);
    if (n + 1 > p.coordSets) p.coordSets = n + 1;
  }

  // Register file index of a register token's type and number, -1 when the version has none.
  int RegIndex(DWORD tok) const {
    int type = (int)((tok >> 28) & 7), n = (int)(tok & 0x7ff);
    switch (type) {
      case 0: return n < (v14 ? 6 : 2) ? R_BASE + n : -1;
      case 1: return n < 2 ? V_BASE + n : -1;
      case 2: return n < PS_CONSTANTS ? C_BASE + n : -1;
      case 3: return n < (v14 ? 6 : 4) ? T_BASE + n : -1;
      default: return -1;
    }
  }

  // A destination token: register, mask, modifiers. False when malformed.
  bool Dst(DWORD tok, int& reg, uint8_t& mask, uint8_t& sat, float& scale) const {
    if (!(tok & 0x80000000u) || (tok & 0x0000f800u)) return false;
    reg = RegIndex(tok);
    if (reg < 0) return false;
    mask = (uint8_t)((tok >> 16) & 15);
    DWORD mod = (tok >> 20) & 15;
    if (mod > 1) return false;
    sat = (uint8_t)mod;
    switch ((tok >> 24) & 15) {
      case 0: scale = 1.0f; break;
      case 1: scale = 2.0f; break;
      case 2: scale = 4.0f; break;
      case 15: scale = 0.5f; break;
      case 3: scale = 8.0f; if (!v14) return false; break;
      case 14: scale = 0.25f; if (!v14) return false; break;
      case 13: scale = 0.125f; if (!v14) return false; break;
      default: return false;
    }
    return true;
  }

  bool SrcTok(DWORD tok, Src& s, int& reg, uint32_t& swz, int& mod) const {
    if (!(tok & 0x80000000u) || (tok & 0x0000f800u)) return false;
    reg = RegIndex(tok);
    if (reg < 0) return false;
    swz = (tok >> 16) & 0xff;
    mod = (int)((tok >> 24) & 15);
    s.reg = (uint8_t)reg;
    for (int k = 0; k < 4; ++k) s.swz[k] = (uint8_t)((swz >> (2 * k)) & 3);
    s.mod = (uint8_t)mod;
    return true;
  }

  bool Written(int reg) const { return (written >> reg) & 1; }

  // An arithmetic source.
  bool ArithSrc(DWORD tok, Src& s) {
    int reg, mod;
    uint32_t swz;
    if (!SrcTok(tok, s, reg, swz, mod)) return false;
    if (mod > (v14 ? 8 : 6)) return false;
    bool replicate = swz == 0xff || (swz == 0xaa && p.minor >= 1) || (v14 && (swz == 0x00 || swz == 0x55));
    if (swz != kIdentity && !replicate) return false;
    if (reg >= V_BASE && reg < C_BASE) {
      if (v14 && !sawPhase) earlySecondPhase = true;
      return true;
    }
    if (reg >= C_BASE) {
      p.readsConstants = true;
      return true;
    }
    if (v14 && reg >= T_BASE) return false;  // ps.1.4 reads coordinates only through texcrd / texld
    return Written(reg);
  }

  bool Arith(DWORD op, const DWORD* prm, int n, bool coissue, Op& o) {
    int reg;
    if (!Dst(prm[0], reg, o.mask, o.sat, o.scale)) return false;
    if (v14 ? (reg >= T_BASE) : (reg >= V_BASE)) return false;
    if (!v14 && o.mask != 15 && o.mask != 7 && o.mask != 8) return false;
    if (o.mask == 0) return false;
    for (int i = 1; i < n; ++i)
      if (!ArithSrc(prm[i], o.src[i - 1])) return false;
    switch (op) {
      case D3DSIO_MOV: o.kind = K_MOV; break;
      case D3DSIO_ADD: o.kind = K_ADD; break;
      case D3DSIO_SUB: o.kind = K_SUB; break;
      case D3DSIO_MUL: o.kind = K_MUL; break;
      case D3DSIO_MAD: o.kind = K_MAD; break;
      case D3DSIO_LRP: o.kind = K_LRP; break;
      case D3DSIO_DP3: o.kind = K_DP3; break;
      case D3DSIO_DP4: o.kind = K_DP4; break;
      case D3DSIO_CMP: o.kind = K_CMP; break;
      case D3DSIO_BEM: o.kind = K_BEM; break;
      default: o.kind = K_CND; break;
    }
    if (op == D3DSIO_CND && !v14) {
      // ps.1.0 to ps.1.3 take the condition from r0.a
      const Src& c = o.src[0];
      if (c.reg != R_BASE || c.mod != 0 || c.swz[0] != 3 || c.swz[1] != 3 || c.swz[2] != 3 || c.swz[3] != 3)
        return false;
    }
    if (op == D3DSIO_BEM) {
      // first phase only, writing .rg; the bump matrix of the destination's stage
      if (sawPhase || o.mask != 3) return false;
      lateFirstPhase = true;
      o.stage = (uint8_t)(reg - R_BASE);
      UseStage(o.stage);
    }
    o.dst = (uint8_t)reg;
    if (coissue) {
      // paired with the previous arithmetic instruction: one writes alpha, the other colour
      if (!lastArith || lastCoissued) return false;
      bool alphaHere = o.mask == 8, alphaThere = lastMask == 8;
      if (alphaHere == alphaThere || (!alphaHere && (o.mask & 8)) || (!alphaThere && (lastMask & 8))) return false;
      p.ops.back().defer = 1;
    } else {
      if (++arithOps > 8) return false;
    }
    written |= 1u << reg;
    sawArith = true;
    lastMask = o.mask;
    lastCoissued = coissue;
    return true;
  }

  // ps.1.0 to ps.1.3 texture operations. prm[0] names tN.
  bool Tex1(DWORD op, const DWORD* prm, int n, Op& o) {
    int reg;
    if (sawArith || ++texOps > 4) return false;
    if (!Dst(prm[0], reg, o.mask, o.sat, o.scale)) return false;
    if (reg < T_BASE || reg >= V_BASE || o.mask != 15 || o.sat || o.scale != 1.0f) return false;
    int t = reg - T_BASE;
    o.dst = (uint8_t)reg;
    o.stage = (uint8_t)t;
    if (op == D3DSIO_TEXKILL) {
      o.kind = K_TEXKILL;
      UseCoords(t);
      p.decides = true;
      return padNext < 0;
    }
    if (Written(reg)) return false;
    int srcReg = -1;
    if (n >= 2) {
      int mod;
      uint32_t swz;
      if (!SrcTok(prm[1], o.src[0], srcReg, swz, mod)) return false;
      if (srcReg < T_BASE || srcReg >= V_BASE || srcReg >= reg || !Written(srcReg)) return false;
      if (swz != kIdentity || (mod != 0 && mod != 4)) return false;  // none or _bx2
    }
    // texm3x2 / texm3x3 rows follow each other on consecutive registers with one source
    bool row = op == D3DSIO_TEXM3x2PAD || op == D3DSIO_TEXM3x3PAD || op == D3DSIO_TEXM3x2TEX ||
               op == D3DSIO_TEXM3x2DEPTH || op == D3DSIO_TEXM3x3TEX || op == D3DSIO_TEXM3x3 ||
               op == D3DSIO_TEXM3x3SPEC || op == D3DSIO_TEXM3x3VSPEC;
    if (padNext >= 0) {
      if (!row || reg != padNext || srcReg != padSrc) return false;
    } else if (row && op != D3DSIO_TEXM3x2PAD && op != D3DSIO_TEXM3x3PAD) {
      return false;
    }
    bool last = false;
    switch (op) {
      case D3DSIO_TEXCOORD: o.kind = K_TEXCOORD; break;
      case D3DSIO_TEX: o.kind = K_TEX; break;
      case D3DSIO_TEXBEM: o.kind = K_TEXBEM; break;
      case D3DSIO_TEXBEML: o.kind = K_TEXBEML; break;
      case D3DSIO_TEXREG2AR: o.kind = K_TEXREG2AR; break;
      case D3DSIO_TEXREG2GB: o.kind = K_TEXREG2GB; break;
      case D3DSIO_TEXREG2RGB: o.kind = K_TEXREG2RGB; break;
      case D3DSIO_TEXDP3: o.kind = K_TEXDP3; break;
      case D3DSIO_TEXDP3TEX: o.kind = K_TEXDP3TEX; break;
      case D3DSIO_TEXM3x2PAD:
      case D3DSIO_TEXM3x3PAD:
        if (padNext < 0) {
          padRows = op == D3DSIO_TEXM3x2PAD ? 2 : 3;
          padDone = 0;
          padSrc = srcReg;
        } else if (padRows != 3 || op != D3DSIO_TEXM3x3PAD || padDone != 1) {
          return false;
        }
        o.kind = K_PAD;
        o.slot = (uint8_t)padDone++;
        padNext = reg + 1;
        if (padNext >= V_BASE) return false;
        break;
      default:
        if (padDone != padRows - 1) return false;
        bool two = op == D3DSIO_TEXM3x2TEX || op == D3DSIO_TEXM3x2DEPTH;
        if (two != (padRows == 2)) return false;
        last = true;
        switch (op) {
          case D3DSIO_TEXM3x2TEX: o.kind = K_TEXM3X2TEX; break;
          case D3DSIO_TEXM3x2DEPTH: o.kind = K_TEXM3X2DEPTH; p.decides = true; break;
          case D3DSIO_TEXM3x3TEX: o.kind = K_TEXM3X3TEX; break;
          case D3DSIO_TEXM3x3: o.kind = K_TEXM3X3; break;
          case D3DSIO_TEXM3x3VSPEC: o.kind = K_TEXM3X3VSPEC; break;
          default: {
            o.kind = K_TEXM3X3SPEC;
            int cReg, mod;
            uint32_t swz;
            if (!SrcTok(prm[2], o.src[1], cReg, swz, mod) || cReg < C_BASE || swz != kIdentity || mod) return false;
            p.readsConstants = true;
            break;
          }
        }
        break;
    }
    if (last) padNext = -1;
    // the coordinates of every row feed texm3x3vspec's eye vector
    UseCoords(t);
    written |= 1u << reg;
    return true;
  }

  // ps.1.4 texld / texcrd / texkill / texdepth.
  bool Tex4(DWORD op, const DWORD* prm, Op& o) {
    int reg;
    if (sawArith || ++texOps > 6) return false;
    if (!Dst(prm[0], reg, o.mask, o.sat, o.scale)) return false;
    if (o.sat || o.scale != 1.0f) return false;
    o.dst = (uint8_t)reg;
    if (op == D3DSIO_TEXKILL) {
      if (o.mask != 15) return false;
      if (reg >= T_BASE && reg < V_BASE) {
        o.kind = K_TEXKILL;
        o.stage = (uint8_t)(reg - T_BASE);
        UseCoords(o.stage);
      } else if (reg < T_BASE && Written(reg)) {
        o.kind = K_KILL_REG;
      } else {
        return false;
      }
      p.decides = true;
      return true;
    }
    if (reg >= T_BASE) return false;
    if (op == D3DSIO_TEXDEPTH) {
      // r5 as the first phase left it: texdepth needs the phase marker
      if (reg != R_BASE + 5 || o.mask != 15 || !sawPhase || !(firstPhase >> reg & 1)) return false;
      o.kind = K_TEXDEPTH;
      p.decides = true;
      written |= 1u << reg;
      return true;
    }
    int srcReg, mod;
    uint32_t swz;
    if (!SrcTok(prm[1], o.src[0], srcReg, swz, mod)) return false;
    bool coords = srcReg >= T_BASE && srcReg < V_BASE;
    // a dependent read takes coordinates the first phase computed
    if (!coords && (srcReg >= T_BASE || !sawPhase || !(firstPhase >> srcReg & 1) || op != D3DSIO_TEX)) return false;
    if (swz != kIdentity && swz != kXYZZ && !(coords && swz == kXYWW)) return false;
    if (mod == (int)(D3DSPSM_DZ >> 24)) {
      if (coords) return false;  // _dz divides register sources only
      o.div = 2;
    } else if (mod == (int)(D3DSPSM_DW >> 24)) {
      if (!coords) return false;
      o.div = 3;
    } else if (mod != 0) {
      return false;
    }
    o.useW = swz == kXYWW;
    o.stage = coords ? (uint8_t)(srcReg - T_BASE) : 0;
    if (op == D3DSIO_TEX) {
      if (o.mask != 15) return false;
      o.kind = coords ? K_TEXLD : K_TEXLD_REG;
      if (coords) UseCoords(o.stage);
      o.slot = (uint8_t)(reg - R_BASE);  // the sampled stage is the destination's number
      UseStage(o.slot);
    } else {
      if (!coords || (o.mask != 15 && o.mask != 7 && o.mask != 3)) return false;
      o.kind = K_TEXCRD;
      UseCoords(o.stage);
    }
    written |= 1u << reg;
    return true;
  }
};

// Parameters each instruction takes (after the instruction token), -1 for an opcode a version lacks.
int ParamCount(DWORD op, int minor) {
  bool v14 = minor == 4;
  switch (op) {
    case D3DSIO_NOP: return 0;
    case D3DSIO_MOV: return 2;
    case D3DSIO_ADD:
    case D3DSIO_SUB:
    case D3DSIO_MUL:
    case D3DSIO_DP3: return 3;
    case D3DSIO_MAD:
    case D3DSIO_LRP:
    case D3DSIO_CND: return 4;
    case D3DSIO_DP4: return minor >= 2 ? 3 : -1;
    case D3DSIO_CMP: return minor >= 2 ? 4 : -1;
    case D3DSIO_BEM: return v14 ? 3 : -1;
    case D3DSIO_DEF: return 5;
    case D3DSIO_TEXCOORD:
    case D3DSIO_TEX: return v14 ? 2 : 1;
    case D3DSIO_TEXKILL: return 1;
    case D3DSIO_TEXDEPTH: return v14 ? 1 : -1;
    case D3DSIO_TEXBEM:
    case D3DSIO_TEXBEML:
    case D3DSIO_TEXREG2AR:
    case D3DSIO_TEXREG2GB:
    case D3DSIO_TEXM3x2PAD:
    case D3DSIO_TEXM3x2TEX:
    case D3DSIO_TEXM3x3PAD:
    case D3DSIO_TEXM3x3TEX:
    case D3DSIO_TEXM3x3VSPEC: return v14 ? -1 : 2;
    case D3DSIO_TEXM3x3SPEC: return v14 ? -1 : 3;
    case D3DSIO_TEXREG2RGB:
    case D3DSIO_TEXDP3:
    case D3DSIO_TEXDP3TEX:
    case D3DSIO_TEXM3x3: return !v14 && minor >= 2 ? 2 : -1;
    case D3DSIO_TEXM3x2DEPTH: return !v14 && minor >= 3 ? 2 : -1;
    default: return -1;
  }
}

bool IsArith(DWORD op) {
  return op <= D3DSIO_DP4 || op == D3DSIO_LRP || op == D3DSIO_CND || op == D3DSIO_CMP || op == D3DSIO_BEM;
}

// ---- running --------------------------------------------------------------------------------
inline void Fetch(const Src& s, const float (*reg)[4], float* o) {
  const float* r = reg[s.reg];
  float x = r[s.swz[0]], y = r[s.swz[1]], z = r[s.swz[2]], w = r[s.swz[3]];
  switch (s.mod) {
    case 0: break;
    case 1: x = -x; y = -y; z = -z; w = -w; break;
    case 2: x -= 0.5f; y -= 0.5f; z -= 0.5f; w -= 0.5f; break;
    case 3: x = 0.5f - x; y = 0.5f - y; z = 0.5f - z; w = 0.5f - w; break;
    case 4: x = 2 * x - 1; y = 2 * y - 1; z = 2 * z - 1; w = 2 * w - 1; break;
    case 5: x = 1 - 2 * x; y = 1 - 2 * y; z = 1 - 2 * z; w = 1 - 2 * w; break;
    case 6: x = 1 - x; y = 1 - y; z = 1 - z; w = 1 - w; break;
    case 7: x *= 2; y *= 2; z *= 2; w *= 2; break;
    default: x *= -2; y *= -2; z *= -2; w *= -2; break;
  }
  o[0] = x;
  o[1] = y;
  o[2] = z;
  o[3] = w;
}

inline void Store(float* d, const Op& op, const float* v) {
  for (int k = 0; k < 4; ++k) {
    if (!(op.mask >> k & 1)) continue;
    float x = v[k] * op.scale;
    d[k] = op.sat ? Sat01(x) : Range(x);
  }
}

// A sampled texel as register values: colour channels 0..1, bump du, dv signed -1..1 with the
// luminance (or one) in blue.
inline void Texel(const StageDesc& sd, uint32_t raw, float* o) {
  const float k = 1.0f / 255.0f;
  if (sd.bump && sd.levels) {
    float du = (float)(int8_t)(raw & 255) / 127.0f, dv = (float)(int8_t)((raw >> 8) & 255) / 127.0f;
    o[0] = du < -1.0f ? -1.0f : du;
    o[1] = dv < -1.0f ? -1.0f : dv;
    o[2] = sd.bump == 2 ? (float)((raw >> 16) & 255) * k : 1.0f;
    o[3] = 1.0f;
    return;
  }
  o[0] = (float)((raw >> 16) & 255) * k;
  o[1] = (float)((raw >> 8) & 255) * k;
  o[2] = (float)(raw & 255) * k;
  o[3] = (float)(raw >> 24) * k;
}

// The texture level a load from coordinate set n reads: u and v are floats x, y of the set over
// floats den (rhw or the dividing component), all interpolated after multiplying by rhw.
inline float LoadLod(const StageDesc& sd, const float* a, const float* g, int n, int den, float u, float v) {
  if (!g || !sd.levels || (sd.levelCount <= 1 && sd.minFilter == sd.magFilter)) return 0.0f;
  float d = a[den];
  if (d == 0.0f) return 0.0f;
  float id = 1.0f / d;
  const float* pu = g + 3 * (AT_TEX + 4 * n);
  const float* pv = pu + 3;
  return FootprintLog2(sd, pu, pv, g + 3 * den, u, v, id);
}

inline void Load(const StageDesc& sd, float u, float v, float lod, float* o) {
  Texel(sd, SampleStage(sd, u, v, lod), o);
}

inline float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

std::shared_ptr<PixelProgram> CompilePixelShader(const DWORD* t) {
  if (!t) return nullptr;
  DWORD version = t[0];
  if ((version & 0xffff0000u) != 0xffff0000u || D3DSHADER_VERSION_MAJOR(version) != 1 ||
      D3DSHADER_VERSION_MINOR(version) > 4)
    return nullptr;
  auto prog = std::make_shared<PixelProgram>();
  PixelProgram& p = *prog;
  p.minor = (int)D3DSHADER_VERSION_MINOR(version);
  Checker c(p);
  // Long comments may make a stream long; an unterminated one must still end somewhere.
  const size_t kMaxTokens = 1 << 18;
  size_t i = 1;
  for (;;) {
    if (i >= kMaxTokens) return nullptr;
    DWORD tok = t[i];
    DWORD op = tok & 0xffff;
    if (op == D3DSIO_END) {
      if (tok != D3DPS_END()) return nullptr;
      break;
    }
    if (op == D3DSIO_COMMENT) {
      if (tok & 0x80000000u) return nullptr;
      i += 1 + ((tok & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT);
      continue;
    }
    bool coissue = (tok & D3DSI_COISSUE) != 0;
    if (tok & ~(DWORD)(0xffff | D3DSI_COISSUE)) return nullptr;
    if (op == D3DSIO_PHASE) {
      if (!c.v14 || c.sawPhase || coissue) return nullptr;
      c.sawPhase = true;
      c.firstPhase = c.written;
      c.sawArith = false;
      c.texOps = c.arithOps = 0;
      c.lastArith = false;
      ++i;
      continue;
    }
    int n = ParamCount(op, p.minor);
    if (n < 0) return nullptr;
    for (int k = 1; k <= n; ++k)
      if (i + k >= kMaxTokens || !(t[i + k] & 0x80000000u)) {
        if (!(op == D3DSIO_DEF && k >= 2)) return nullptr;  // def's values are plain floats
      }
    const DWORD* prm = t + i + 1;
    i += 1 + (size_t)n;
    if (coissue && (!IsArith(op) || op == D3DSIO_BEM)) return nullptr;
    if (op == D3DSIO_NOP) {
      c.lastArith = false;
      continue;
    }
    if (op == D3DSIO_DEF) {
      int reg;
      uint8_t mask, sat;
      float scale;
      if (!c.Dst(prm[0], reg, mask, sat, scale) || reg < C_BASE || mask != 15 || sat || scale != 1.0f) return nullptr;
      int r = reg - C_BASE;
      for (int k = 0; k < 4; ++k) {
        float f;
        memcpy(&f, &prm[1 + k], 4);
        p.defs[r][k] = ConstantRange(f);
      }
      p.defMask |= (uint8_t)(1u << r);
      continue;
    }
    Op o;
    memset(&o, 0, sizeof(o));
    o.scale = 1.0f;
    bool ok;
    if (IsArith(op)) {
      ok = c.padNext < 0 && c.Arith(op, prm, n, coissue, o);
      c.lastArith = true;
    } else {
      ok = c.v14 ? c.Tex4(op, prm, o) : c.Tex1(op, prm, n, o);
      c.lastArith = false;
    }
    if (!ok) return nullptr;
    p.ops.push_back(o);
  }
  if (c.padNext >= 0 || (c.sawPhase && c.earlySecondPhase) || (!c.sawPhase && c.lateFirstPhase)) return nullptr;
  p.tokens.assign(t, t + i + 1);
  return prog;
}

const std::vector<DWORD>& PixelShaderTokens(const PixelProgram& p) { return p.tokens; }
int PixelShaderStages(const PixelProgram& p) { return p.stages; }
int PixelShaderCoordSets(const PixelProgram& p) { return p.coordSets; }
bool PixelShaderHonoursProjection(const PixelProgram& p) { return p.minor < 4; }
bool PixelShaderDecidesCoverage(const PixelProgram& p) { return p.decides; }

void PixelShaderConstants(const PixelProgram& p, const float device[PS_CONSTANTS][4], float out[PS_CONSTANTS][4]) {
  for (int r = 0; r < PS_CONSTANTS; ++r)
    for (int k = 0; k < 4; ++k) out[r][k] = p.defMask >> r & 1 ? p.defs[r][k] : ConstantRange(device[r][k]);
}

bool RunPixelShader(const PixelState& s, const float* a, const float* g, ShaderOut& out) {
  const PixelProgram& p = *s.shader;
  alignas(16) float reg[REGS][4];
  memset(reg, 0, sizeof(float) * 4 * V_BASE);
  for (int k = 0; k < 4; ++k) {
    reg[V_BASE][k] = Sat01(a[AT_DIFF + k]);
    reg[V_BASE + 1][k] = Sat01(a[AT_SPEC + k]);
  }
  if (p.readsConstants) memcpy(reg[C_BASE], s.shaderConst, sizeof(s.shaderConst));
  // Coordinate sets: interpolated after multiplying by rhw.
  float crd[PS_COORD_SETS][4];
  float rhw = a[AT_RHW];
  float irhw = rhw != 0.0f ? 1.0f / rhw : 0.0f;
  for (int n = 0; n < p.coordSets; ++n)
    for (int k = 0; k < 4; ++k) crd[n][k] = a[AT_TEX + 4 * n + k] * irhw;
  float pad[2] = {0.0f, 0.0f};
  float pending[4];
  const Op* deferred = nullptr;
  out.depthSet = false;
  for (const Op& op : p.ops) {
    float res[4], s0[4], s1[4], s2[4];
    float* d = reg[op.dst];
    const StageDesc& sd = s.stages[op.stage];
    switch (op.kind) {
      case K_MOV: Fetch(op.src[0], reg, res); break;
      case K_ADD:
      case K_SUB:
      case K_MUL:
        Fetch(op.src[0], reg, s0);
        Fetch(op.src[1], reg, s1);
        for (int k = 0; k < 4; ++k)
          res[k] = op.kind == K_ADD ? s0[k] + s1[k] : op.kind == K_SUB ? s0[k] - s1[k] : s0[k] * s1[k];
        break;
      case K_MAD:
      case K_LRP:
      case K_CND:
      case K_CMP:
        Fetch(op.src[0], reg, s0);
        Fetch(op.src[1], reg, s1);
        Fetch(op.src[2], reg, s2);
        for (int k = 0; k < 4; ++k) {
          switch (op.kind) {
            case K_MAD: res[k] = s0[k] * s1[k] + s2[k]; break;
            case K_LRP: res[k] = s2[k] + s0[k] * (s1[k] - s2[k]); break;
            case K_CND: res[k] = s0[k] > 0.5f ? s1[k] : s2[k]; break;
            default: res[k] = s0[k] >= 0.0f ? s1[k] : s2[k]; break;
          }
        }
        break;
      case K_DP3:
      case K_DP4: {
        Fetch(op.src[0], reg, s0);
        Fetch(op.src[1], reg, s1);
        float dot = Dot3(s0, s1) + (op.kind == K_DP4 ? s0[3] * s1[3] : 0.0f);
        res[0] = res[1] = res[2] = res[3] = dot;
        break;
      }
      case K_BEM: {
        Fetch(op.src[0], reg, s0);
        Fetch(op.src[1], reg, s1);
        const float* m = s.stages[op.stage].bumpMat;
        res[0] = s0[0] + m[0] * s1[0] + m[2] * s1[1];
        res[1] = s0[1] + m[1] * s1[0] + m[3] * s1[1];
        res[2] = res[3] = 0.0f;
        break;
      }
      case K_TEXCOORD: {
        const float* c = crd[op.stage];
        d[0] = Sat01(c[0]);
        d[1] = Sat01(c[1]);
        d[2] = Sat01(c[2]);
        d[3] = 1.0f;
        continue;
      }
      case K_TEX: {
        const float* c = crd[op.stage];
        float u = c[0], v = c[1];
        int pj = s.shaderProject[op.stage];
        int den = AT_RHW;
        if (pj >= 0 && c[pj] != 0.0f) {
          u /= c[pj];
          v /= c[pj];
          den = AT_TEX + 4 * op.stage + pj;
        }
        Load(sd, u, v, LoadLod(sd, a, g, op.stage, den, u, v), d);
        continue;
      }
      case K_TEXKILL: {
        const float* c = crd[op.stage];
        if (c[0] < 0.0f || c[1] < 0.0f || c[2] < 0.0f) return false;
        continue;
      }
      case K_KILL_REG:
        if (d[0] < 0.0f || d[1] < 0.0f || d[2] < 0.0f) return false;
        continue;
      case K_TEXBEM:
      case K_TEXBEML: {
        Fetch(op.src[0], reg, s0);
        const float* c = crd[op.stage];
        const float* m = sd.bumpMat;
        Load(sd, c[0] + m[0] * s0[0] + m[2] * s0[1], c[1] + m[1] * s0[0] + m[3] * s0[1], 0.0f, d);
        if (op.kind == K_TEXBEML) {
          float l = Sat01(s0[2] * sd.bumpLScale + sd.bumpLOffset);
          d[0] *= l;
          d[1] *= l;
          d[2] *= l;
        }
        continue;
      }
      case K_TEXREG2AR:
      case K_TEXREG2GB:
      case K_TEXREG2RGB:
        Fetch(op.src[0], reg, s0);
        if (op.kind == K_TEXREG2AR)
          Load(sd, s0[3], s0[0], 0.0f, d);
        else if (op.kind == K_TEXREG2GB)
          Load(sd, s0[1], s0[2], 0.0f, d);
        else
          Load(sd, s0[0], s0[1], 0.0f, d);
        continue;
      case K_PAD:
        Fetch(op.src[0], reg, s0);
        pad[op.slot] = Dot3(crd[op.stage], s0);
        continue;
      case K_TEXDP3:
      case K_TEXDP3TEX: {
        Fetch(op.src[0], reg, s0);
        float u = Dot3(crd[op.stage], s0);
        if (op.kind == K_TEXDP3)
          d[0] = d[1] = d[2] = d[3] = Range(u);
        else
          Load(sd, u, 0.0f, 0.0f, d);
        continue;
      }
      case K_TEXM3X2TEX:
      case K_TEXM3X2DEPTH:
      case K_TEXM3X3TEX:
      case K_TEXM3X3:
      case K_TEXM3X3SPEC:
      case K_TEXM3X3VSPEC: {
        Fetch(op.src[0], reg, s0);
        float last = Dot3(crd[op.stage], s0);
        if (op.kind == K_TEXM3X2TEX) {
          Load(sd, pad[0], last, 0.0f, d);
        } else if (op.kind == K_TEXM3X2DEPTH) {
          float z = last == 0.0f ? 1.0f : Sat01(pad[0] / last);
          d[0] = d[1] = d[2] = d[3] = z;
          out.depth = z;
          out.depthSet = true;
        } else if (op.kind == K_TEXM3X3TEX) {
          Load(sd, pad[0], pad[1], 0.0f, d);
        } else if (op.kind == K_TEXM3X3) {
          d[0] = Range(pad[0]);
          d[1] = Range(pad[1]);
          d[2] = Range(last);
          d[3] = 1.0f;
        } else {
          // reflection of the eye vector about the normal (pad0, pad1, last)
          float nrm[3] = {pad[0], pad[1], last}, eye[3];
          if (op.kind == K_TEXM3X3SPEC) {
            Fetch(op.src[1], reg, s1);
            memcpy(eye, s1, sizeof(eye));
          } else {
            eye[0] = crd[op.stage - 2][3];
            eye[1] = crd[op.stage - 1][3];
            eye[2] = crd[op.stage][3];
          }
          float nn = Dot3(nrm, nrm);
          float f = nn != 0.0f ? 2.0f * Dot3(nrm, eye) / nn : 0.0f;
          Load(sd, f * nrm[0] - eye[0], f * nrm[1] - eye[1], 0.0f, d);
        }
        continue;
      }
      case K_TEXLD:
      case K_TEXCRD: {
        const float* c = crd[op.stage];
        float x = c[0], y = c[1], z = op.useW ? c[3] : c[2];
        int den = AT_RHW;
        if (op.div) {
          float q = c[op.div];
          x = q != 0.0f ? x / q : 1.0f;
          y = q != 0.0f ? y / q : 1.0f;
          den = AT_TEX + 4 * op.stage + op.div;
        }
        if (op.kind == K_TEXCRD) {
          float v[4] = {x, y, z, 1.0f};
          for (int k = 0; k < 4; ++k)
            if (op.mask >> k & 1) d[k] = Range(v[k]);
        } else {
          const StageDesc& ld = s.stages[op.slot];
          Load(ld, x, y, LoadLod(ld, a, g, op.stage, den, x, y), d);
        }
        continue;
      }
      case K_TEXLD_REG: {
        Fetch(op.src[0], reg, s0);
        float x = s0[0], y = s0[1];
        if (op.div) {
          x = s0[2] != 0.0f ? x / s0[2] : 1.0f;
          y = s0[2] != 0.0f ? y / s0[2] : 1.0f;
        }
        Load(s.stages[op.slot], x, y, 0.0f, d);
        continue;
      }
      default: {  // K_TEXDEPTH: r5.r / r5.g
        float z = d[1] == 0.0f ? 1.0f : Sat01(d[0] / d[1]);
        out.depth = z;
        out.depthSet = true;
        continue;
      }
    }
    // arithmetic results; a co-issued pair reads its sources before either writes
    if (op.defer) {
      memcpy(pending, res, sizeof(pending));
      deferred = &op;
      continue;
    }
    if (deferred) {
      Store(reg[deferred->dst], *deferred, pending);
      deferred = nullptr;
    }
    Store(d, op, res);
  }
  for (int k = 0; k < 4; ++k) out.color[k] = Sat01(reg[R_BASE][k]);
  return true;
}

}  // namespace mxd3d
