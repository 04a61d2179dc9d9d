// The shader assembler against token streams worked out by hand from the Direct3D 8 encoding:
//   instruction  opcode in bits 0-15, bit 30 co-issue
//   destination  bit 31, type << 28 (r 0, v 1, c 2, a/t 3, oPos/oFog/oPts 4, oD 5, oT 6), index,
//                write mask << 16, saturate << 20, shift << 24 (x2 1, x4 2, x8 3, d8 13, d4 14, d2 15)
//   source       bit 31, type << 28, index, relative bit 13, swizzle << 16 (2 bits a component),
//                modifier << 24 (neg 1, bias 2, -bias 3, bx2 4, -bx2 5, 1- 6, x2 7, -x2 8, dz 9, dw 10)
#include <ksshaderasm.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

struct Result {
    bool ok;
    std::vector<uint32_t> tokens;
    std::string error;
};

Result Assemble(const std::string& source) {
    Result r;
    char error[256];
    memset(error, 'x', sizeof(error));
    r.tokens.push_back(0xDEADBEEF);  // a refusal leaves no tokens behind
    r.ok = KS_AssembleShader(source.data(), source.size(), &r.tokens, error, sizeof(error)) == 1;
    r.error = error;
    return r;
}

void ExpectTokens(const std::string& source, const std::vector<uint32_t>& expected) {
    Result r = Assemble(source);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.tokens.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(r.tokens[i], expected[i]) << "token " << i << std::hex << ": 0x" << r.tokens[i] << " != 0x"
                                            << expected[i];
}

void ExpectRefusal(const std::string& source, const std::string& error) {
    Result r = Assemble(source);
    EXPECT_FALSE(r.ok) << source;
    EXPECT_EQ(r.error, error) << source;
    EXPECT_TRUE(r.tokens.empty()) << source;
}

}  // namespace

TEST(ShaderAssembler, VertexShader10) {
    ExpectTokens("vs.1.0\n"
                 "m4x4 oPos, v0, c0\n"
                 "dp3 r0.x, v1, c4\n"
                 "lit r1, r0\n"
                 "mov oD1, r1.xyyw\n"
                 "frc r2.xy, v2\n"
                 "dst r3, r2, -c5.x\n",
                 {0xFFFE0100,                                  //
                  0x00000014, 0xC00F0000, 0x90E40000, 0xA0E40000,  // m4x4
                  0x00000008, 0x80010000, 0x90E40001, 0xA0E40004,  // dp3
                  0x00000010, 0x800F0001, 0x80E40000,              // lit
                  0x00000001, 0xD00F0001, 0x80D40001,              // mov oD1
                  0x00000013, 0x80030002, 0x90E40002,              // frc
                  0x00000011, 0x800F0003, 0x80E40002, 0xA1000005,  // dst
                  0x0000FFFF});
}

TEST(ShaderAssembler, VertexShader11) {
    ExpectTokens("vs.1.1\n"
                 "; transform, light, fog\n"
                 "def c20, 1.0, 0.5, -2.0, 0.0\n"
                 "dp4 oPos.x, v0, c0\n"
                 "dp4 oPos.y, v0, c1   // one row at a time\n"
                 "mov a0.x, v1.x\n"
                 "mov r0, c[a0.x + 10]\n"
                 "mul r1.xyz, -r0.yzxw, v2.w\n"
                 "mad oD0, r1, c95, c95\n"
                 "m3x3 r2.xyz, v3, c4\n"
                 "mov oT0.xy, v4\n"
                 "mov oFog.x, r0.w\n"
                 "mov oPts.x, r0.z\n"
                 "expp r3, r0.w\n"
                 "rcp r4.w, r3.x\n",
                 {0xFFFE0101,                                                  //
                  0x00000051, 0xA00F0014, 0x3F800000, 0x3F000000, 0xC0000000, 0x00000000,  // def
                  0x00000009, 0xC0010000, 0x90E40000, 0xA0E40000,               // dp4 oPos.x
                  0x00000009, 0xC0020000, 0x90E40000, 0xA0E40001,               // dp4 oPos.y
                  0x00000001, 0xB0010000, 0x90000001,                           // mov a0.x
                  0x00000001, 0x800F0000, 0xA0E4200A,                           // mov from c[a0.x + 10]
                  0x00000005, 0x80070001, 0x81C90000, 0x90FF0002,               // mul
                  0x00000004, 0xD00F0000, 0x80E40001, 0xA0E4005F, 0xA0E4005F,   // mad
                  0x00000017, 0x80070002, 0x90E40003, 0xA0E40004,               // m3x3
                  0x00000001, 0xE0030000, 0x90E40004,                           // mov oT0
                  0x00000001, 0xC0010001, 0x80FF0000,                           // mov oFog
                  0x00000001, 0xC0010002, 0x80AA0000,                           // mov oPts
                  0x0000004E, 0x800F0003, 0x80FF0000,                           // expp
                  0x00000006, 0x80080004, 0x80000003,                           // rcp
                  0x0000FFFF});
}

TEST(ShaderAssembler, PixelShaders10To13) {
    ExpectTokens("ps.1.0\n"
                 "tex t0\n"
                 "texcoord t1\n"
                 "mul r0, t0, v0\n",
                 {0xFFFF0100, 0x00000042, 0xB00F0000, 0x00000040, 0xB00F0001,  //
                  0x00000005, 0x800F0000, 0xB0E40000, 0x90E40000, 0x0000FFFF});
    ExpectTokens("ps.1.1\n"
                 "def c0, 0.25, 0.5, 1.0, 0.0\n"
                 "tex t0\n"
                 "texbem t1, t0\n"
                 "mul_x2 r0.rgb, t0, c0\n"
                 "+add_sat r0.a, -t1_bias.a, v1.b\n"
                 "cnd r1, r0.a, 1-v0, t1\n"
                 "mov_d2 r0, r1_bx2\n",
                 {0xFFFF0101,                                                  //
                  0x00000051, 0xA00F0000, 0x3E800000, 0x3F000000, 0x3F800000, 0x00000000,  // def
                  0x00000042, 0xB00F0000,                                       // tex
                  0x00000043, 0xB00F0001, 0xB0E40000,                           // texbem
                  0x00000005, 0x81070000, 0xB0E40000, 0xA0E40000,               // mul_x2
                  0x40000002, 0x80180000, 0xB3FF0001, 0x90AA0001,               // +add_sat
                  0x00000050, 0x800F0001, 0x80FF0000, 0x96E40000, 0xB0E40001,   // cnd
                  0x00000001, 0x8F0F0000, 0x84E40001,                           // mov_d2
                  0x0000FFFF});
    ExpectTokens("ps.1.2\n"
                 "tex t0\n"
                 "texm3x3pad t1, t0_bx2\n"
                 "texm3x3pad t2, t0_bx2\n"
                 "texm3x3vspec t3, t0_bx2\n"
                 "dp4 r0, t3, c1\n"
                 "cmp r1, -r0, c2, c3\n",
                 {0xFFFF0102, 0x00000042, 0xB00F0000,                          //
                  0x00000049, 0xB00F0001, 0xB4E40000,                           // texm3x3pad
                  0x00000049, 0xB00F0002, 0xB4E40000,                           // texm3x3pad
                  0x0000004D, 0xB00F0003, 0xB4E40000,                           // texm3x3vspec
                  0x00000009, 0x800F0000, 0xB0E40003, 0xA0E40001,               // dp4
                  0x00000058, 0x800F0001, 0x81E40000, 0xA0E40002, 0xA0E40003,   // cmp
                  0x0000FFFF});
    ExpectTokens("ps.1.3\n"
                 "tex t0\n"
                 "texm3x2pad t1, t0_bx2\n"
                 "texm3x2depth t2, t0_bx2\n"
                 "sub_x4 r0.rgb, t0, v0\n"
                 "+mov r0.a, c7.a\n",
                 {0xFFFF0103, 0x00000042, 0xB00F0000,                          //
                  0x00000047, 0xB00F0001, 0xB4E40000,                           // texm3x2pad
                  0x00000054, 0xB00F0002, 0xB4E40000,                           // texm3x2depth
                  0x00000003, 0x82070000, 0xB0E40000, 0x90E40000,               // sub_x4
                  0x40000001, 0x80080000, 0xA0FF0007,                           // +mov
                  0x0000FFFF});
}

TEST(ShaderAssembler, PixelShader14) {
    ExpectTokens("ps.1.4\n"
                 "def c0, 1.0, 0.0, 0.0, 1.0\n"
                 "texld r0, t0\n"
                 "texcrd r1.rgb, t1_dw.xyw\n"
                 "bem r2.rg, r0, r1\n"
                 "mov r5, c0\n"
                 "phase\n"
                 "texld r3, r2_dz\n"
                 "texdepth r5\n"
                 "mul_x8 r4.rgb, r3, v0\n"
                 "+mov_sat r4.a, -c0_x2.g\n"
                 "cmp_d4 r0, r4_bias, 1-r3, c0.a\n",
                 {0xFFFF0104,                                                  //
                  0x00000051, 0xA00F0000, 0x3F800000, 0x00000000, 0x00000000, 0x3F800000,  // def
                  0x00000042, 0x800F0000, 0xB0E40000,                           // texld
                  0x00000040, 0x80070001, 0xBAF40001,                           // texcrd
                  0x00000059, 0x80030002, 0x80E40000, 0x80E40001,               // bem
                  0x00000001, 0x800F0005, 0xA0E40000,                           // mov
                  0x0000FFFD,                                                   // phase
                  0x00000042, 0x800F0003, 0x89E40002,                           // texld, dependent
                  0x00000057, 0x800F0005,                                       // texdepth
                  0x00000005, 0x83070004, 0x80E40003, 0x90E40000,               // mul_x8
                  0x40000001, 0x80180004, 0xA8550000,                           // +mov_sat
                  0x00000058, 0x8E0F0000, 0x82E40004, 0x86E40003, 0xA0FF0000,   // cmp_d4
                  0x0000FFFF});
}

// Spelling that must not change the stream: case, "_" in the version, CRLF, block comments,
// spaces inside operands, and the source length (the text need not end at a terminator).
TEST(ShaderAssembler, TextForms) {
    const std::vector<uint32_t> expected = {0xFFFE0101, 0x00000002, 0x80030001, 0x90E40000, 0xA0E42005, 0x0000FFFF};
    ExpectTokens("vs.1.1\nadd r1.xy, v0, c[a0.x + 5]\n", expected);
    ExpectTokens("  VS_1_1 \r\n/* a comment\r\n over lines */ ADD R1.XY,V0 , c[ 5+a0.x ] ; trailing\r\n", expected);
    std::string longer = "vs.1.1\nadd r1.xy, v0, c[a0.x+5]garbage that is not passed";
    std::vector<uint32_t> tokens;
    char error[128];
    ASSERT_EQ(KS_AssembleShader(longer.data(), longer.find("garbage"), &tokens, error, sizeof(error)), 1) << error;
    EXPECT_EQ(tokens, expected);
}

TEST(ShaderAssembler, VersionRefusals) {
    ExpectRefusal("", "line 1: missing version line (vs.1.0, vs.1.1 or ps.1.0 to ps.1.4)");
    ExpectRefusal("; only a comment\n\n", "line 1: missing version line (vs.1.0, vs.1.1 or ps.1.0 to ps.1.4)");
    ExpectRefusal("\n// header\nmov r0, v0\n",
                  "line 3: missing version line (vs.1.0, vs.1.1 or ps.1.0 to ps.1.4) before \"mov\"");
    ExpectRefusal("vs.2.0\n", "line 1: unknown version \"vs.2.0\"");
    ExpectRefusal("ps.1.1\nps.1.1\n", "line 2: second version line \"ps.1.1\"");
    ExpectRefusal("vs.1.1\nmov r0, v0\nfoo r0, v0\n", "line 3: unknown instruction \"foo\"");
    ExpectRefusal("vs.1.1\ntex t0\n", "line 2: instruction \"tex\" does not exist in vs.1.1");
    ExpectRefusal("ps.1.1\nbem r0, r0, r1\n", "line 2: instruction \"bem\" does not exist in ps.1.1");
    ExpectRefusal("ps.1.3\ntexld r0, t0\n", "line 2: instruction \"texld\" does not exist in ps.1.3");
    ExpectRefusal("ps.1.4\ntexm3x2pad t1, t0\n", "line 2: instruction \"texm3x2pad\" does not exist in ps.1.4");
    ExpectRefusal("ps.1.1\ncmp r0, r0, r1, c0\n", "line 2: instruction \"cmp\" does not exist in ps.1.1");
}

TEST(ShaderAssembler, RegisterRefusals) {
    ExpectRefusal("vs.1.1\n\nmov r0, q0\n", "line 3: bad register \"q0\"");
    ExpectRefusal("vs.1.1\nmov r0, a1\n", "line 2: bad register \"a1\"");
    ExpectRefusal("vs.1.1\nmov r12, v0\n", "line 2: register \"r12\" beyond the 12 r registers of vs.1.1");
    ExpectRefusal("vs.1.1\nmov r0, v16\n", "line 2: register \"v16\" beyond the 16 v registers of vs.1.1");
    ExpectRefusal("vs.1.1\nmov oT8, v0\n", "line 2: register \"oT8\" beyond the 8 oT registers of vs.1.1");
    ExpectRefusal("ps.1.1\nmov r2, v0\n", "line 2: register \"r2\" beyond the 2 r registers of ps.1.1");
    ExpectRefusal("ps.1.3\ntex t4\n", "line 2: register \"t4\" beyond the 4 t registers of ps.1.3");
    ExpectRefusal("ps.1.4\ntexld r0, t6\n", "line 2: register \"t6\" beyond the 6 t registers of ps.1.4");
    ExpectRefusal("ps.1.1\nmov oPos, v0\n", "line 2: register \"oPos\" does not exist in ps.1.1");
    ExpectRefusal("vs.1.0\nmov a0.x, v0\n", "line 2: register \"a0\" does not exist in vs.1.0");
    // Constants: plain, relative, def and the rows a matrix macro reads.
    ExpectRefusal("vs.1.1\nmov r0, c96\n", "line 2: constant index 96 out of range: vs.1.1 has c0 to c95");
    ExpectRefusal("vs.1.1\nmov r0, c[a0.x + 96]\n", "line 2: constant index 96 out of range: vs.1.1 has c0 to c95");
    ExpectRefusal("ps.1.4\ndef c8, 0, 0, 0, 0\n", "line 2: constant index 8 out of range: ps.1.4 has c0 to c7");
    ExpectRefusal("vs.1.1\nm4x4 oPos, v0, c93\n", "line 2: m4x4 reads rows c93 to c96, beyond c95");
    ExpectRefusal("vs.1.0\nmov r0, c[a0.x]\n", "line 2: relative addressing (\"c[a0.x]\") needs vs.1.1");
    // Direction: what may be written and read.
    ExpectRefusal("vs.1.1\nmov v0, r0\n", "line 2: register \"v0\" cannot be written by mov");
    ExpectRefusal("vs.1.1\nmov r0, oPos\n", "line 2: register \"oPos\" cannot be read by mov");
    ExpectRefusal("vs.1.1\nadd a0.x, r0, r1\n", "line 2: a0 is written by mov only");
    ExpectRefusal("ps.1.4\nmov r0, t0\n", "line 2: register \"t0\" cannot be read by mov");
    ExpectRefusal("ps.1.1\ntex r0\n", "line 2: register \"r0\" cannot be written by tex");
    ExpectRefusal("ps.1.1\ndef r0, 0, 0, 0, 0\n", "line 2: def sets a constant register, not \"r0\"");
    ExpectRefusal("vs.1.1\nadd r0, c0, c1\n", "line 2: add reads more than one constant register");
    ExpectRefusal("vs.1.1\nmad r0, v0, c0, v1\n", "line 2: mad reads more than one input register");
}

TEST(ShaderAssembler, ModifierAndOperandRefusals) {
    ExpectRefusal("vs.1.1\nmul_sat r0, v0, c0\n", "line 2: instruction modifier \"_sat\" not allowed on mul in vs.1.1");
    ExpectRefusal("ps.1.1\nmul_x8 r0, v0, c0\n", "line 2: instruction modifier \"_x8\" not allowed on mul in ps.1.1");
    ExpectRefusal("ps.1.4\nmul_x2_x4 r0, v0, c0\n", "line 2: instruction modifier \"_x4\" not allowed on mul in ps.1.4");
    ExpectRefusal("ps.1.1\nmov r0, v0_x2\n", "line 2: source modifier \"_x2\" not allowed here");
    ExpectRefusal("vs.1.1\nmov r0, v0_bias\n", "line 2: source modifier \"_bias\" not allowed here");
    ExpectRefusal("ps.1.4\nmov r0, v0_dz\n", "line 2: source modifier \"_dz\" not allowed here");
    ExpectRefusal("vs.1.1\nmov r0, 1-v0\n", "line 2: source modifier \"1-\" not allowed in vs.1.1");
    ExpectRefusal("ps.1.1\nmov r0, v0.g\n", "line 2: swizzle \".g\" not allowed in ps.1.1");
    ExpectRefusal("ps.1.4\nmov r0, v0.xy\n", "line 2: swizzle \".xy\" not allowed in ps.1.4");
    ExpectRefusal("vs.1.1\nmov r0, v0.xyzwx\n", "line 2: bad swizzle \".xyzwx\"");
    ExpectRefusal("vs.1.1\nmov r0.yx, v0\n", "line 2: bad write mask \".yx\"");
    ExpectRefusal("ps.1.1\nmov r0.rg, v0\n", "line 2: write mask \".rg\" not allowed in ps.1.1");
    ExpectRefusal("vs.1.1\nmov a0.y, v0.x\n", "line 2: a0 is written as a0.x");
    ExpectRefusal("ps.1.1\ncnd r0, r1.a, v0, v1\n", "line 2: cnd in ps.1.1 takes r0.a as its condition");
    ExpectRefusal("ps.1.3\ncnd r0, r0, v0, v1\n", "line 2: cnd in ps.1.3 takes r0.a as its condition");
    ExpectRefusal("vs.1.1\nadd r0, r1\n", "line 2: add takes 3 operands, not 2");
    ExpectRefusal("vs.1.1\nmov r0,\n", "line 2: missing operand of mov");
    ExpectRefusal("ps.1.1\ndef c0, 1.0, x, 0, 0\n", "line 2: bad number \"x\"");
    ExpectRefusal("ps.1.1\ndef c0, 1.0, 0\n", "line 2: def takes a constant register and four numbers");
}

TEST(ShaderAssembler, OrderRefusals) {
    ExpectRefusal("ps.1.1\nmov r0, v0\ntex t0\n", "line 3: texture instruction tex after an arithmetic instruction");
    ExpectRefusal("ps.1.1\ntex t0\nmov r0, v0\ndef c0, 0, 0, 0, 0\n", "line 4: def must come before the instructions");
    ExpectRefusal("ps.1.1\n+mov r0.a, v0\n", "line 2: co-issue needs a single arithmetic instruction before it");
    ExpectRefusal("ps.1.1\nmov r0.rgb, v0\n+mov r1.rgb, v1\n",
                  "line 3: co-issued instructions must write colour and alpha apart");
    ExpectRefusal("ps.1.1\nmov r0.rgb, v0\n+mov r0.a, v1\n+mov r1.a, v1\n",
                  "line 4: co-issue needs a single arithmetic instruction before it");
    ExpectRefusal("vs.1.1\nmov r0, v0\n+mov r1, v0\n", "line 3: co-issue (\"+\") exists only in pixel shaders");
    std::string nine = "ps.1.1\n";
    for (int i = 0; i < 9; i++) nine += "mov r0, v0\n";
    ExpectRefusal(nine, "line 10: too many arithmetic instructions: ps.1.1 allows 8");
    // A co-issued pair takes one slot: eight pairs fit.
    std::string pairs = "ps.1.1\n";
    for (int i = 0; i < 8; i++) pairs += "mov r0.rgb, v0\n+mov r0.a, v1\n";
    EXPECT_TRUE(Assemble(pairs).ok) << Assemble(pairs).error;
    std::string slots = "vs.1.1\n";
    for (int i = 0; i < 32; i++) slots += "m4x4 r0, v0, c0\n";
    EXPECT_TRUE(Assemble(slots).ok);
    ExpectRefusal(slots + "mov r0, v0\n", "line 34: too many instructions: vs.1.1 allows 128 slots");
}

TEST(ShaderAssembler, Phase14Refusals) {
    ExpectRefusal("ps.1.4\nphase\nphase\n", "line 3: second phase marker");
    ExpectRefusal("ps.1.4\ntexld r0, t0\nmov r1, v0\nphase\nmov r0, r1\n",
                  "line 3: input registers cannot be read in the first phase");
    ExpectRefusal("ps.1.4\ntexld r1, r0\n", "line 2: texld reads r0 before the phase marker");
    ExpectRefusal("ps.1.4\ntexdepth r5\nphase\n", "line 2: texdepth belongs in the second phase");
    ExpectRefusal("ps.1.4\nphase\ntexdepth r4\n", "line 3: texdepth writes r5 only");
    ExpectRefusal("ps.1.4\nmov r4, c0\nphase\ntexdepth r5\n", "line 4: texdepth reads r5, which the first phase must write");
    ExpectRefusal("ps.1.4\ntexld r0, t0\nmov r1, r0\ntexld r2, t1\n",
                  "line 4: texture instruction texld after an arithmetic instruction");
    ExpectRefusal("ps.1.4\ntexcrd r0, r1\n", "line 2: register \"r1\" cannot be read by texcrd");
    ExpectRefusal("ps.1.4\ntexld r0, -t0\n", "line 2: texture instruction sources take no modifier");
    // Each phase has its own six texture instructions; v may be read without a phase marker.
    std::string two = "ps.1.4\n";
    for (int i = 0; i < 6; i++) two += "texld r" + std::to_string(i) + ", t" + std::to_string(i) + "\n";
    two += "phase\n";
    for (int i = 0; i < 6; i++) two += "texld r" + std::to_string(i) + ", r" + std::to_string(i) + "\n";
    two += "mul r0, r0, v0\n";
    EXPECT_TRUE(Assemble(two).ok) << Assemble(two).error;
    ExpectRefusal("ps.1.4\ntexld r0, t0\ntexld r1, t1\ntexld r2, t2\ntexld r3, t3\ntexld r4, t4\ntexld r5, t5\n"
                  "texcrd r0, t0\n",
                  "line 8: too many texture instructions: ps.1.4 allows 6 a phase");
}

// The error buffer: cut to its size and always terminated; no buffer at all is allowed.
TEST(ShaderAssembler, ErrorBuffer) {
    const std::string source = "vs.1.1\nfoo r0\n";
    std::vector<uint32_t> tokens = {1, 2, 3};
    char small[8];
    memset(small, 'x', sizeof(small));
    EXPECT_EQ(KS_AssembleShader(source.data(), source.size(), &tokens, small, sizeof(small)), 0);
    EXPECT_STREQ(small, "line 2:");
    EXPECT_TRUE(tokens.empty());
    EXPECT_EQ(KS_AssembleShader(source.data(), source.size(), &tokens, nullptr, 0), 0);
    EXPECT_EQ(KS_AssembleShader(nullptr, 4, &tokens, nullptr, 0), 0);
}
