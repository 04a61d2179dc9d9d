// The shader assembler: statements are read line by line into Direct3D 8 tokens, with the rules of
// the shader version checked as they come (register counts, modifiers, instruction order and counts).
#include "ksshaderasm.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>

#if defined(__GNUC__)
#define KS_ASM_PRINTF __attribute__((format(printf, 2, 3)))
#else
#define KS_ASM_PRINTF
#endif

namespace {

// ---------------------------------------------------------------------------------- Versions

enum : uint32_t {
    VS10 = 1 << 0,
    VS11 = 1 << 1,
    PS10 = 1 << 2,
    PS11 = 1 << 3,
    PS12 = 1 << 4,
    PS13 = 1 << 5,
    PS14 = 1 << 6,
    VS = VS10 | VS11,
    PS_OLD = PS10 | PS11 | PS12 | PS13,  // the pixel shaders with t registers as texture targets
    PS = PS_OLD | PS14,
    ANY = VS | PS,
};

struct Version {
    const char* name;
    uint32_t bit;
    uint32_t token;
};

const Version versions[] = {
    {"vs.1.0", VS10, 0xFFFE0100}, {"vs.1.1", VS11, 0xFFFE0101}, {"ps.1.0", PS10, 0xFFFF0100},
    {"ps.1.1", PS11, 0xFFFF0101}, {"ps.1.2", PS12, 0xFFFF0102}, {"ps.1.3", PS13, 0xFFFF0103},
    {"ps.1.4", PS14, 0xFFFF0104},
};

// ---------------------------------------------------------------------------------- Instructions

enum OpKind : uint8_t { ARITHMETIC, TEXTURE, DEFINE, PHASE };

struct Op {
    const char* name;
    uint16_t opcode;
    uint32_t versions;
    OpKind kind;
    uint8_t hasDest;
    uint8_t sources;
    uint8_t slots;       // vertex shader instruction slots (the matrix and frc macros take more)
    uint8_t matrixRows;  // matrix macros: constant rows read from the second source
};

const Op ops[] = {
    {"nop", 0, ANY, ARITHMETIC, 0, 0, 1, 0},
    {"mov", 1, ANY, ARITHMETIC, 1, 1, 1, 0},
    {"add", 2, ANY, ARITHMETIC, 1, 2, 1, 0},
    {"sub", 3, ANY, ARITHMETIC, 1, 2, 1, 0},
    {"mad", 4, ANY, ARITHMETIC, 1, 3, 1, 0},
    {"mul", 5, ANY, ARITHMETIC, 1, 2, 1, 0},
    {"rcp", 6, VS, ARITHMETIC, 1, 1, 1, 0},
    {"rsq", 7, VS, ARITHMETIC, 1, 1, 1, 0},
    {"dp3", 8, ANY, ARITHMETIC, 1, 2, 1, 0},
    {"dp4", 9, VS | PS12 | PS13 | PS14, ARITHMETIC, 1, 2, 1, 0},
    {"min", 10, VS, ARITHMETIC, 1, 2, 1, 0},
    {"max", 11, VS, ARITHMETIC, 1, 2, 1, 0},
    {"slt", 12, VS, ARITHMETIC, 1, 2, 1, 0},
    {"sge", 13, VS, ARITHMETIC, 1, 2, 1, 0},
    {"exp", 14, VS, ARITHMETIC, 1, 1, 1, 0},
    {"log", 15, VS, ARITHMETIC, 1, 1, 1, 0},
    {"lit", 16, VS, ARITHMETIC, 1, 1, 1, 0},
    {"dst", 17, VS, ARITHMETIC, 1, 2, 1, 0},
    {"lrp", 18, ANY, ARITHMETIC, 1, 3, 1, 0},
    {"frc", 19, VS, ARITHMETIC, 1, 1, 3, 0},
    {"m4x4", 20, VS, ARITHMETIC, 1, 2, 4, 4},
    {"m4x3", 21, VS, ARITHMETIC, 1, 2, 3, 3},
    {"m3x4", 22, VS, ARITHMETIC, 1, 2, 4, 4},
    {"m3x3", 23, VS, ARITHMETIC, 1, 2, 3, 3},
    {"m3x2", 24, VS, ARITHMETIC, 1, 2, 2, 2},
    {"expp", 78, VS, ARITHMETIC, 1, 1, 1, 0},
    {"logp", 79, VS, ARITHMETIC, 1, 1, 1, 0},
    {"cnd", 80, PS, ARITHMETIC, 1, 3, 1, 0},
    {"cmp", 88, PS12 | PS13 | PS14, ARITHMETIC, 1, 3, 1, 0},
    {"bem", 89, PS14, ARITHMETIC, 1, 2, 1, 0},
    {"def", 81, ANY, DEFINE, 1, 0, 0, 0},
    {"phase", 0xFFFD, PS14, PHASE, 0, 0, 0, 0},
    {"tex", 66, PS_OLD, TEXTURE, 1, 0, 1, 0},
    {"texld", 66, PS14, TEXTURE, 1, 1, 1, 0},
    {"texcoord", 64, PS_OLD, TEXTURE, 1, 0, 1, 0},
    {"texcrd", 64, PS14, TEXTURE, 1, 1, 1, 0},
    {"texkill", 65, PS, TEXTURE, 1, 0, 1, 0},
    {"texbem", 67, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texbeml", 68, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texreg2ar", 69, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texreg2gb", 70, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x2pad", 71, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x2tex", 72, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x3pad", 73, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x3tex", 74, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x3diff", 75, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texm3x3spec", 76, PS_OLD, TEXTURE, 1, 2, 1, 0},
    {"texm3x3vspec", 77, PS_OLD, TEXTURE, 1, 1, 1, 0},
    {"texreg2rgb", 82, PS12 | PS13, TEXTURE, 1, 1, 1, 0},
    {"texdp3tex", 83, PS12 | PS13, TEXTURE, 1, 1, 1, 0},
    {"texm3x2depth", 84, PS13, TEXTURE, 1, 1, 1, 0},
    {"texdp3", 85, PS12 | PS13, TEXTURE, 1, 1, 1, 0},
    {"texm3x3", 86, PS12 | PS13, TEXTURE, 1, 1, 1, 0},
    {"texdepth", 87, PS14, TEXTURE, 1, 0, 1, 0},
};

// ---------------------------------------------------------------------------------- Registers

enum RegKind { REG_R, REG_V, REG_C, REG_A, REG_T, REG_OPOS, REG_OFOG, REG_OPTS, REG_OD, REG_OT, REG_KINDS };

const char* const regNames[REG_KINDS] = {"r", "v", "c", "a", "t", "oPos", "oFog", "oPts", "oD", "oT"};
// Token register type (bits 28-30) of each kind.
const uint32_t regTypes[REG_KINDS] = {0, 1, 2, 3, 3, 4, 4, 4, 5, 6};

// Registers of each kind per version: vs.1.0 (no address register), vs.1.1, ps.1.0 to ps.1.3, ps.1.4.
const int32_t vs10Counts[REG_KINDS] = {12, 16, 96, 0, 0, 1, 1, 1, 2, 8};
const int32_t vs11Counts[REG_KINDS] = {12, 16, 96, 1, 0, 1, 1, 1, 2, 8};
const int32_t psOldCounts[REG_KINDS] = {2, 2, 8, 0, 4, 0, 0, 0, 0, 0};
const int32_t ps14Counts[REG_KINDS] = {6, 2, 8, 0, 6, 0, 0, 0, 0, 0};

struct Reg {
    RegKind kind;
    int32_t index;
    bool relative;  // c[a0.x + index]
};

uint32_t RegisterBits(const Reg& reg) {
    uint32_t index = (uint32_t)reg.index;
    if (reg.kind == REG_OFOG) index = 1;
    if (reg.kind == REG_OPTS) index = 2;
    return 0x80000000u | (regTypes[reg.kind] << 28) | (index & 0x7FF) | (reg.relative ? 1u << 13 : 0);
}

// ---------------------------------------------------------------------------------- Text

struct Line {
    int32_t number;
    std::string text;  // comments removed, trimmed
};

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && isspace((unsigned char)s[a])) a++;
    while (b > a && isspace((unsigned char)s[b - 1])) b--;
    return s.substr(a, b - a);
}

std::string Lower(std::string s) {
    for (char& ch : s) ch = (char)tolower((unsigned char)ch);
    return s;
}

std::string NoSpaces(const std::string& s) {
    std::string out;
    for (char ch : s)
        if (!isspace((unsigned char)ch)) out += ch;
    return out;
}

// Splits the source into lines without comments; a block comment may span lines.
std::vector<Line> ReadLines(const char* source, size_t length) {
    std::vector<Line> lines;
    std::string text;
    int32_t number = 1;
    bool inBlock = false;
    for (size_t i = 0; i <= length; i++) {
        char ch = i < length ? source[i] : '\n';
        if (ch == '\n') {
            lines.push_back({number, Trim(text)});
            text.clear();
            number++;
            continue;
        }
        if (inBlock) {
            if (ch == '*' && i + 1 < length && source[i + 1] == '/') {
                inBlock = false;
                i++;
            }
            continue;
        }
        if (ch == '/' && i + 1 < length && source[i + 1] == '*') {
            inBlock = true;
            i++;
            continue;
        }
        if (ch == ';' || (ch == '/' && i + 1 < length && source[i + 1] == '/')) {
            while (i + 1 < length && source[i + 1] != '\n') i++;
            continue;
        }
        text += ch;
    }
    return lines;
}

// A decimal number "[+-]digits[.digits][e[+-]digits]", read without the C locale's help (the
// host's toolkit may set a locale that writes decimal commas).
bool ParseFloat(const std::string& s, float* value) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    double mantissa = 0;
    int32_t digits = 0, scale = 0;
    while (i < s.size() && isdigit((unsigned char)s[i])) {
        mantissa = mantissa * 10 + (s[i++] - '0');
        digits++;
    }
    if (i < s.size() && s[i] == '.') {
        i++;
        while (i < s.size() && isdigit((unsigned char)s[i])) {
            mantissa = mantissa * 10 + (s[i++] - '0');
            digits++;
            scale--;
        }
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        i++;
        bool expNegative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
        int32_t exponent = 0, expDigits = 0;
        while (i < s.size() && isdigit((unsigned char)s[i])) {
            if (exponent < 1000) exponent = exponent * 10 + (s[i] - '0');
            i++;
            expDigits++;
        }
        if (expDigits == 0) return false;
        scale += expNegative ? -exponent : exponent;
    }
    if (i < s.size() && (s[i] == 'f' || s[i] == 'F')) i++;
    if (i != s.size()) return false;
    double power = 1;
    for (int32_t k = 0; k < (scale < 0 ? -scale : scale) && power < 1e300; k++) power *= 10;
    double result = scale < 0 ? mantissa / power : mantissa * power;
    if (result > 3.402823466e38) return false;
    *value = (float)(negative ? -result : result);
    return true;
}

bool ParseIndex(const std::string& s, int32_t* index) {
    if (s.empty() || s.size() > 4) return false;
    int32_t n = 0;
    for (char ch : s) {
        if (!isdigit((unsigned char)ch)) return false;
        n = n * 10 + (ch - '0');
    }
    *index = n;
    return true;
}

// ---------------------------------------------------------------------------------- Assembler

struct Assembler {
    const Version* version = nullptr;
    const int32_t* counts = nullptr;
    std::vector<uint32_t> tokens;
    std::string error;
    int32_t line = 0;

    // Order and counts.
    int32_t slots = 0;             // vertex shaders
    int32_t textureOps = 0;        // pixel shaders: of the current phase
    int32_t arithmeticOps = 0;
    bool seenInstruction = false;  // other than def
    bool afterPhase = false;
    int32_t firstPhaseInputLine = 0;       // ps.1.4: v read before any phase marker
    int32_t firstPhaseDependentLine = 0;   // ps.1.4: texld from an r register before it
    int32_t firstPhaseDepthLine = 0;       // ps.1.4: texdepth before it
    bool firstPhaseWroteDepth = false;     // ps.1.4: r5 written before it, for texdepth to read
    // The last statement, for co-issue.
    bool lastArithmetic = false;
    bool lastCoissued = false;
    uint32_t lastMask = 0;

    bool Fail(const char* format, ...) KS_ASM_PRINTF;

    bool IsVS() const { return (version->bit & VS) != 0; }
    bool IsPS14() const { return version->bit == PS14; }

    bool ParseRegister(const std::string& text, Reg* reg);
    bool CheckRange(const std::string& text, const Reg& reg);
    bool ParseDest(const std::string& text, const Op& op, Reg* reg, uint32_t* mask);
    bool ParseSource(const std::string& text, const Op& op, Reg* reg, uint32_t* token);
    bool Statement(const std::string& text);
    bool Define(const std::vector<std::string>& operands);
};

bool Assembler::Fail(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    error = "line " + std::to_string(line) + ": " + text;
    return false;
}

bool Assembler::ParseRegister(const std::string& text, Reg* reg) {
    std::string s = Lower(text);
    reg->relative = false;
    reg->index = 0;
    bool ok = false;
    if (s.size() > 3 && s.compare(0, 2, "c[") == 0 && s.back() == ']') {
        std::string inner = s.substr(2, s.size() - 3);
        reg->kind = REG_C;
        if (inner == "a0.x") {
            reg->relative = ok = true;
        } else if (inner.compare(0, 5, "a0.x+") == 0) {
            reg->relative = true;
            ok = ParseIndex(inner.substr(5), &reg->index);
        } else if (inner.size() > 5 && inner.compare(inner.size() - 5, 5, "+a0.x") == 0) {
            reg->relative = true;
            ok = ParseIndex(inner.substr(0, inner.size() - 5), &reg->index);
        } else {
            ok = ParseIndex(inner, &reg->index);
        }
    } else if (s == "opos" || s == "ofog" || s == "opts") {
        reg->kind = s == "opos" ? REG_OPOS : s == "ofog" ? REG_OFOG : REG_OPTS;
        ok = true;
    } else if (s.size() > 2 && (s.compare(0, 2, "od") == 0 || s.compare(0, 2, "ot") == 0)) {
        reg->kind = s[1] == 'd' ? REG_OD : REG_OT;
        ok = ParseIndex(s.substr(2), &reg->index);
    } else if (s.size() > 1) {
        static const char letters[] = "rvcta";
        static const RegKind kinds[] = {REG_R, REG_V, REG_C, REG_T, REG_A};
        const char* at = strchr(letters, s[0]);
        if (at && *at) {
            reg->kind = kinds[at - letters];
            ok = ParseIndex(s.substr(1), &reg->index) && (reg->kind != REG_A || reg->index == 0);
        }
    }
    if (!ok) return Fail("bad register \"%s\"", text.c_str());
    if (reg->relative && version->bit != VS11)
        return Fail("relative addressing (\"%s\") needs vs.1.1", text.c_str());
    int32_t count = counts[reg->kind];
    if (count == 0) return Fail("register \"%s\" does not exist in %s", text.c_str(), version->name);
    if (reg->index >= count) {
        if (reg->kind == REG_C)
            return Fail("constant index %d out of range: %s has c0 to c%d", (int)reg->index, version->name,
                        (int)count - 1);
        return Fail("register \"%s\" beyond the %d %s registers of %s", text.c_str(), (int)count,
                    regNames[reg->kind], version->name);
    }
    return true;
}

// Component letters of masks and swizzles: xyzw, and rgba in pixel shaders.
int32_t Component(char ch, bool pixel) {
    const char* xyzw = "xyzw";
    const char* rgba = "rgba";
    ch = (char)tolower((unsigned char)ch);
    for (int32_t i = 0; i < 4; i++)
        if (ch == xyzw[i] || (pixel && ch == rgba[i])) return i;
    return -1;
}

bool Assembler::ParseDest(const std::string& text, const Op& op, Reg* reg, uint32_t* mask) {
    size_t dot = text.find('.');
    if (text.find('[') != std::string::npos) return Fail("\"%s\" cannot be written", text.c_str());
    if (!ParseRegister(text.substr(0, dot), reg)) return false;
    const std::string name = text.substr(0, dot);
    bool writable;
    if (IsVS())
        writable = reg->kind != REG_V && reg->kind != REG_C;
    else if (IsPS14())
        writable = reg->kind == REG_R || (op.opcode == 65 && reg->kind == REG_T);
    else
        writable = reg->kind == REG_T || (op.kind == ARITHMETIC && reg->kind == REG_R);
    if (!writable) return Fail("register \"%s\" cannot be written by %s", name.c_str(), op.name);
    if (reg->kind == REG_A && op.opcode != 1) return Fail("a0 is written by mov only");

    *mask = 0xF;
    if (dot != std::string::npos) {
        std::string letters = text.substr(dot + 1);
        *mask = 0;
        int32_t last = -1;
        for (char ch : letters) {
            int32_t c = Component(ch, !IsVS());
            if (c <= last) return Fail("bad write mask \".%s\"", letters.c_str());
            *mask |= 1u << c;
            last = c;
        }
        if (*mask == 0) return Fail("bad write mask \".%s\"", letters.c_str());
        bool allowed = true;
        if (!IsVS() && !IsPS14())
            allowed = op.kind == TEXTURE ? *mask == 0xF : (*mask == 0xF || *mask == 0x7 || *mask == 0x8);
        if (!allowed) return Fail("write mask \".%s\" not allowed in %s", letters.c_str(), version->name);
    }
    if (reg->kind == REG_A && *mask != 0x1) return Fail("a0 is written as a0.x");
    return true;
}

bool Assembler::ParseSource(const std::string& text, const Op& op, Reg* reg, uint32_t* token) {
    std::string s = text;
    bool negate = false, complement = false;
    if (s.compare(0, 2, "1-") == 0) {
        complement = true;
        s = s.substr(2);
    } else if (!s.empty() && s[0] == '-') {
        negate = true;
        s = s.substr(1);
    }
    size_t end = s.find(']');
    end = end != std::string::npos ? end + 1 : s.find_first_of("_.");
    if (end == std::string::npos) end = s.size();
    const std::string name = s.substr(0, end);
    if (!ParseRegister(name, reg)) return false;

    // Suffixes: one modifier "_bx2" and one swizzle ".xyzw", in either order.
    std::string modifier, swizzle;
    bool haveModifier = false, haveSwizzle = false;
    size_t at = end;
    while (at < s.size()) {
        char kind = s[at];
        size_t next = s.find_first_of("_.", at + 1);
        if (next == std::string::npos) next = s.size();
        std::string part = Lower(s.substr(at + 1, next - at - 1));
        if (kind == '_' && !haveModifier) {
            modifier = part;
            haveModifier = true;
        } else if (kind == '.' && !haveSwizzle) {
            swizzle = part;
            haveSwizzle = true;
        } else {
            return Fail("bad source \"%s\"", text.c_str());
        }
        at = next;
    }

    bool readable;
    bool textureOp = op.kind == TEXTURE;
    if (IsVS())
        readable = reg->kind == REG_R || reg->kind == REG_V || reg->kind == REG_C;
    else if (IsPS14())
        readable = textureOp ? reg->kind == REG_T || (op.opcode == 66 && reg->kind == REG_R)
                             : reg->kind == REG_R || reg->kind == REG_V || reg->kind == REG_C;
    else
        readable = textureOp ? reg->kind == REG_T || (op.opcode == 76 && reg->kind == REG_C)
                             : reg->kind != REG_A;
    if (!readable) return Fail("register \"%s\" cannot be read by %s", name.c_str(), op.name);

    // Source modifier code (bits 24-27).
    uint32_t code = negate ? 1 : 0;
    bool projective = IsPS14() && textureOp;  // texld / texcrd sources: _dz and _dw only
    if (haveModifier) {
        bool allowed = !IsVS() && !complement;
        if (modifier == "bias" && allowed && !projective)
            code = negate ? 3 : 2;
        else if (modifier == "bx2" && allowed && !projective)
            code = negate ? 5 : 4;
        else if (modifier == "x2" && allowed && IsPS14() && !projective)
            code = negate ? 8 : 7;
        else if ((modifier == "dz" || modifier == "db") && projective && !negate)
            code = 9;
        else if ((modifier == "dw" || modifier == "da") && projective && !negate)
            code = 10;
        else
            return Fail("source modifier \"_%s\" not allowed here", modifier.c_str());
    }
    if (complement) {
        if (IsVS()) return Fail("source modifier \"1-\" not allowed in %s", version->name);
        code = 6;
    }
    if (code != 0 && code != 4 && !IsVS() && !IsPS14() && textureOp)
        return Fail("texture instruction sources take no modifier but _bx2");
    if (negate && projective) return Fail("texture instruction sources take no modifier");

    // Swizzle (bits 16-23, two bits a component); a shorter one repeats its last component.
    uint32_t swz = 0xE4;
    if (haveSwizzle) {
        if (swizzle.empty() || swizzle.size() > 4) return Fail("bad swizzle \".%s\"", swizzle.c_str());
        int32_t c[4];
        for (size_t i = 0; i < 4; i++) {
            c[i] = i < swizzle.size() ? Component(swizzle[i], !IsVS()) : c[i - 1];
            if (c[i] < 0) return Fail("bad swizzle \".%s\"", swizzle.c_str());
        }
        swz = (uint32_t)(c[0] | (c[1] << 2) | (c[2] << 4) | (c[3] << 6));
        bool allowed = true;
        if (IsPS14())
            allowed = projective ? (swz == 0xE4 || swz == 0xA4 || swz == 0xF4)
                                 : (swz == 0xE4 || swz == 0x00 || swz == 0x55 || swz == 0xAA || swz == 0xFF);
        else if (!IsVS())
            allowed = !textureOp && (swz == 0xE4 || swz == 0xFF || swz == 0xAA);
        if (!allowed) return Fail("swizzle \".%s\" not allowed in %s", swizzle.c_str(), version->name);
    }
    *token = RegisterBits(*reg) | (swz << 16) | (code << 24);
    return true;
}

bool Assembler::Define(const std::vector<std::string>& operands) {
    if (operands.size() != 5) return Fail("def takes a constant register and four numbers");
    Reg reg;
    if (!ParseRegister(operands[0], &reg)) return false;
    if (reg.kind != REG_C || reg.relative) return Fail("def sets a constant register, not \"%s\"", operands[0].c_str());
    tokens.push_back(81);
    tokens.push_back(RegisterBits(reg) | 0x000F0000);
    for (size_t i = 1; i < 5; i++) {
        float value;
        if (!ParseFloat(operands[i], &value)) return Fail("bad number \"%s\"", operands[i].c_str());
        uint32_t bits;
        memcpy(&bits, &value, sizeof(bits));
        tokens.push_back(bits);
    }
    return true;
}

bool Assembler::Statement(const std::string& statement) {
    std::string text = statement;
    bool coissue = false;
    if (text[0] == '+') {
        coissue = true;
        text = Trim(text.substr(1));
    }
    size_t space = text.find_first_of(" \t\r\f\v");
    std::string word = Lower(text.substr(0, space));
    std::string rest = space == std::string::npos ? std::string() : Trim(text.substr(space));

    // The version line.
    std::string versionWord = word;
    for (char& ch : versionWord)
        if (ch == '_') ch = '.';
    bool looksLikeVersion = versionWord.size() >= 3 && (versionWord.compare(0, 3, "vs.") == 0 ||
                                                        versionWord.compare(0, 3, "ps.") == 0);
    if (looksLikeVersion) {
        if (version) return Fail("second version line \"%s\"", word.c_str());
        for (const Version& v : versions)
            if (versionWord == v.name && rest.empty() && !coissue) version = &v;
        if (!version) return Fail("unknown version \"%s\"", text.c_str());
        counts = version->bit == VS10 ? vs10Counts : version->bit == VS11 ? vs11Counts : IsPS14() ? ps14Counts : psOldCounts;
        tokens.push_back(version->token);
        return true;
    }
    if (!version) return Fail("missing version line (vs.1.0, vs.1.1 or ps.1.0 to ps.1.4) before \"%s\"", word.c_str());

    // Instruction and its modifiers: mul_x2_sat.
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        size_t next = word.find('_', at);
        parts.push_back(word.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) break;
        at = next + 1;
    }
    const Op* op = nullptr;
    for (const Op& candidate : ops)
        if (parts[0] == candidate.name) op = &candidate;
    if (!op) return Fail("unknown instruction \"%s\"", parts[0].c_str());
    if (!(op->versions & version->bit)) return Fail("instruction \"%s\" does not exist in %s", op->name, version->name);
    uint32_t saturate = 0, shift = 0;
    for (size_t i = 1; i < parts.size(); i++) {
        static const char* const shifts[] = {"x2", "x4", "x8", "d8", "d4", "d2"};
        static const uint32_t shiftCodes[] = {1, 2, 3, 0xD, 0xE, 0xF};
        const std::string& m = parts[i];
        bool allowed = !IsVS() && op->kind == ARITHMETIC && op->hasDest;
        bool known = false;
        if (m == "sat" && allowed && !saturate) {
            saturate = 1;
            known = true;
        }
        for (size_t k = 0; k < 6 && !known; k++)
            if (m == shifts[k] && allowed && !shift && (IsPS14() || (m != "x8" && m != "d4" && m != "d8"))) {
                shift = shiftCodes[k];
                known = true;
            }
        if (!known) return Fail("instruction modifier \"_%s\" not allowed on %s in %s", m.c_str(), op->name, version->name);
    }

    // Operands.
    std::vector<std::string> operands;
    if (!rest.empty()) {
        for (size_t at = 0;;) {
            size_t next = rest.find(',', at);
            std::string operand = NoSpaces(rest.substr(at, next == std::string::npos ? std::string::npos : next - at));
            if (operand.empty()) return Fail("missing operand of %s", op->name);
            operands.push_back(operand);
            if (next == std::string::npos) break;
            at = next + 1;
        }
    }

    if (coissue) {
        if (IsVS()) return Fail("co-issue (\"+\") exists only in pixel shaders");
        if (op->kind != ARITHMETIC || !op->hasDest) return Fail("%s cannot be co-issued", op->name);
        if (!lastArithmetic || lastCoissued) return Fail("co-issue needs a single arithmetic instruction before it");
    }

    if (op->kind == DEFINE) {
        if (!IsVS() && seenInstruction) return Fail("def must come before the instructions");
        lastArithmetic = false;
        return Define(operands);
    }
    seenInstruction = true;
    if (op->kind == PHASE) {
        if (afterPhase) return Fail("second phase marker");
        if (!operands.empty()) return Fail("phase takes no operands");
        int32_t at = line;
        const char* broken = nullptr;
        if (firstPhaseDepthLine) {
            line = firstPhaseDepthLine;
            broken = "texdepth belongs in the second phase";
        } else if (firstPhaseInputLine) {
            line = firstPhaseInputLine;
            broken = "input registers cannot be read in the first phase";
        }
        if (broken) return Fail("%s", broken);
        line = at;
        afterPhase = true;
        textureOps = arithmeticOps = 0;
        lastArithmetic = false;
        tokens.push_back(0x0000FFFD);
        return true;
    }

    size_t expected = op->hasDest + op->sources;
    if (operands.size() != expected)
        return Fail("%s takes %d operand%s, not %d", op->name, (int)expected, expected == 1 ? "" : "s",
                    (int)operands.size());

    // Order and counts.
    if (IsVS()) {
        slots += op->slots;
        if (slots > 128) return Fail("too many instructions: %s allows 128 slots", version->name);
    } else if (op->kind == TEXTURE) {
        int32_t limit = IsPS14() ? 6 : 4;
        if (arithmeticOps > 0) return Fail("texture instruction %s after an arithmetic instruction", op->name);
        if (++textureOps > limit)
            return Fail("too many texture instructions: %s allows %d%s", version->name, (int)limit,
                        IsPS14() ? " a phase" : "");
    } else if (!coissue && ++arithmeticOps > 8) {
        return Fail("too many arithmetic instructions: %s allows 8%s", version->name, IsPS14() ? " a phase" : "");
    }

    tokens.push_back(op->opcode | (coissue ? 0x40000000u : 0));
    uint32_t mask = 0;
    if (op->hasDest) {
        Reg dest;
        if (!ParseDest(operands[0], *op, &dest, &mask)) return false;
        if (op->opcode == 87 && dest.index != 5) return Fail("texdepth writes r5 only");
        if (op->opcode == 87 && !afterPhase && !firstPhaseDepthLine) firstPhaseDepthLine = line;
        if (op->opcode == 87 && afterPhase && !firstPhaseWroteDepth)
            return Fail("texdepth reads r5, which the first phase must write");
        if (IsPS14() && !afterPhase && dest.kind == REG_R && dest.index == 5) firstPhaseWroteDepth = true;
        tokens.push_back(RegisterBits(dest) | (mask << 16) | (saturate << 20) | (shift << 24));
    }
    int32_t constant = -1, input = -1;
    for (size_t i = 0; i < op->sources; i++) {
        Reg reg;
        uint32_t token;
        if (!ParseSource(operands[op->hasDest + i], *op, &reg, &token)) return false;
        if (IsVS() && reg.kind == REG_C) {
            int32_t key = reg.index + (reg.relative ? 1000 : 0);
            if (constant >= 0 && constant != key) return Fail("%s reads more than one constant register", op->name);
            constant = key;
        }
        if (IsVS() && reg.kind == REG_V) {
            if (input >= 0 && input != reg.index) return Fail("%s reads more than one input register", op->name);
            input = reg.index;
        }
        if (i == 1 && op->matrixRows && reg.index + op->matrixRows > counts[reg.kind])
            return Fail("%s reads rows %s%d to %s%d, beyond %s%d", op->name, regNames[reg.kind], (int)reg.index,
                        regNames[reg.kind], (int)(reg.index + op->matrixRows - 1), regNames[reg.kind],
                        (int)counts[reg.kind] - 1);
        if (i == 0 && op->opcode == 80 && !IsPS14() && (reg.kind != REG_R || reg.index != 0 || ((token >> 16) & 0xFF) != 0xFF))
            return Fail("cnd in %s takes r0.a as its condition", version->name);
        if (IsPS14() && op->opcode == 66 && reg.kind == REG_R && !afterPhase)
            return Fail("texld reads r%d before the phase marker", (int)reg.index);
        if (IsPS14() && reg.kind == REG_V && !afterPhase && !firstPhaseInputLine) firstPhaseInputLine = line;
        tokens.push_back(token);
    }

    if (coissue && !((mask == 0x8 && !(lastMask & 0x8)) || (lastMask == 0x8 && !(mask & 0x8))))
        return Fail("co-issued instructions must write colour and alpha apart");
    lastArithmetic = op->kind == ARITHMETIC && op->hasDest;
    lastCoissued = coissue;
    lastMask = mask;
    return true;
}

}  // namespace

int32_t KS_AssembleShader(const char* source, size_t length, std::vector<uint32_t>* tokens, char* error,
                          size_t errorSize) {
    Assembler assembler;
    bool ok = true;
    if (!source && length) {
        assembler.line = 1;
        ok = assembler.Fail("no source text");
    }
    std::vector<Line> lines = ok ? ReadLines(source, length) : std::vector<Line>();
    for (const Line& l : lines) {
        if (l.text.empty()) continue;
        assembler.line = l.number;
        if (!(ok = assembler.Statement(l.text))) break;
    }
    if (ok && !assembler.version) {
        assembler.line = 1;
        ok = assembler.Fail("missing version line (vs.1.0, vs.1.1 or ps.1.0 to ps.1.4)");
    }
    if (tokens) tokens->clear();
    if (ok) {
        assembler.tokens.push_back(0x0000FFFF);
        if (tokens) tokens->swap(assembler.tokens);
    }
    if (error && errorSize) snprintf(error, errorSize, "%s", ok ? "" : assembler.error.c_str());
    return ok ? 1 : 0;
}
