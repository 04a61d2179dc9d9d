// The declaration language, the built-in declarations and the vertex-format text, with their
// tokens and format bits worked out from the Direct3D 8 token layout and FVF values.
#include <gtest/gtest.h>
#include <kestra.h>

#include <string>
#include <vector>

namespace {

std::vector<DWORD> Parse(const char* text, int32_t capacity = KS_DECLARATION_TOKENS)
{
    std::vector<DWORD> tokens((size_t)(capacity > 0 ? capacity : 1), 0xABABABABu);
    int32_t n = KS_ParseDeclaration(text, tokens.data(), capacity);
    tokens.resize((size_t)n);
    return tokens;
}

typedef std::vector<DWORD> Tokens;

}  // namespace

TEST(Declaration, LinesGiveTheirTokensInAnyCase)
{
    EXPECT_EQ((Tokens{0x20000000, 0x40020000, 0x40010003, 0xFFFFFFFF}),
              Parse("stream 0\nreg 0 float3\nreg 3 float2\nend"));
    EXPECT_EQ((Tokens{0x40050004, 0xFFFFFFFF}), Parse("REG 4 UBYTE4\nEND"));
    EXPECT_EQ((Tokens{0x40030001, 0x40040002, 0x40000007, 0xFFFFFFFF}),
              Parse("REG 1 FLOAT4\r\nReg 2 D3dColor\r\nREG 7 FLOAT1\r\nEND\r\n"));
    EXPECT_EQ((Tokens{0x50020000, 0xFFFFFFFF}), Parse("SKIP 2\nEND"));
    EXPECT_EQ((Tokens{0x70010005, 0x60020000 | 3 << 20 | 6, 0x30000000, 0x20000001, 0xFFFFFFFF}),
              Parse("TESSUV 5\nTESSNORMAL 3 6\nSTREAMTESS\n  STREAM 1\nEND"));
}

// Lines that are not in the language, or miss a number or a type, give nothing.
TEST(Declaration, OtherLinesGiveNothing)
{
    EXPECT_EQ((Tokens{0x40020000, 0xFFFFFFFF}),
              Parse("REG 4 DOUBLE3\nREG 4\nSTREAM\nSKIP x\nTESSNORMAL 1\nVERTEX 3\n\n; note\nREG 0 FLOAT3\nEND"));
    // A word far longer than any the language has.
    std::string longWord(400, 'R');
    EXPECT_EQ((Tokens{0x20000002, 0xFFFFFFFF}), Parse((longWord + " 1 FLOAT3\nSTREAM 2\nEND").c_str()));
}

// The stream always ends with END: what follows END is not read, a text without END gets one,
// and a text longer than the buffer keeps the last place for it.
TEST(Declaration, TheStreamIsAlwaysClosed)
{
    EXPECT_EQ((Tokens{0x20000000, 0xFFFFFFFF}), Parse("STREAM 0\nEND\nREG 0 FLOAT3\n"));
    EXPECT_EQ((Tokens{0x20000000, 0x40020000, 0xFFFFFFFF}), Parse("STREAM 0\nREG 0 FLOAT3"));
    EXPECT_EQ((Tokens{0xFFFFFFFF}), Parse(""));
    EXPECT_EQ((Tokens{0xFFFFFFFF}), Parse(nullptr));
    std::string many;
    for (int i = 0; i < 100; i++)
        many += "SKIP 1\n";
    many += "END\n";
    Tokens bounded = Parse(many.c_str(), 4);
    EXPECT_EQ((Tokens{0x50010000, 0x50010000, 0x50010000, 0xFFFFFFFF}), bounded);
    EXPECT_EQ(KS_DECLARATION_TOKENS, (int32_t)Parse(many.c_str()).size());
    DWORD none = 0x12345678;
    EXPECT_EQ(0, KS_ParseDeclaration("STREAM 0", &none, 0));
    EXPECT_EQ(0x12345678u, none);
}

// Type k: position, normal, colour, then k two-float sets from register 3; only the low four bits
// of the type count.
TEST(Declaration, BuiltInDeclarations)
{
    for (uint32_t k = 1; k <= 8; k++) {
        const DWORD* d = KS_DefaultDeclaration(k | 0x30);
        ASSERT_NE(nullptr, d) << k;
        EXPECT_EQ(0x20000000u, d[0]);
        EXPECT_EQ(0x40020000u, d[1]);
        EXPECT_EQ(0x40020001u, d[2]);
        EXPECT_EQ(0x40040002u, d[3]);
        for (uint32_t set = 0; set < k; set++)
            EXPECT_EQ(0x40010003u + set, d[4 + set]) << k;
        EXPECT_EQ(0xFFFFFFFFu, d[4 + k]);
    }
    EXPECT_EQ(nullptr, KS_DefaultDeclaration(0));
    EXPECT_EQ(nullptr, KS_DefaultDeclaration(9));
    EXPECT_EQ(nullptr, KS_DefaultDeclaration(0x10));
}

TEST(VertexFormat, WordsAddTheirBitsAndSizes)
{
    int32_t stride = -1;
    EXPECT_EQ(0x212u, KS_ParseVertexFormat("D3DFVF_XYZ\nD3DFVF_NORMAL\nD3DFVF_TEX2", &stride));
    EXPECT_EQ(40, stride);
    EXPECT_EQ(0x52u, KS_ParseVertexFormat("", &stride));
    EXPECT_EQ(28, stride);
    EXPECT_EQ(0x52u, KS_ParseVertexFormat(nullptr, &stride));
    EXPECT_EQ(28, stride);
    // A blended position is the position and its weights; colours and point size in any case.
    EXPECT_EQ(0x0Au | 0x40 | 0x80 | 0x20, KS_ParseVertexFormat("d3dfvf_xyz\nD3DFVF_XYZB2\r\nD3DFVF_Diffuse\n"
                                                               "D3DFVF_SPECULAR\nD3DFVF_PSIZE", &stride));
    EXPECT_EQ(12 + 8 + 4 + 4 + 4, stride);
    EXPECT_EQ(0x0Eu, KS_ParseVertexFormat("D3DFVF_XYZB5", &stride));
    EXPECT_EQ(20, stride);
    // Two coordinate lines combine their counts bitwise (1 | 2 = 3 sets) and add their sizes.
    EXPECT_EQ(0x302u, KS_ParseVertexFormat("D3DFVF_XYZ\nD3DFVF_TEX1\nD3DFVF_TEX2", &stride));
    EXPECT_EQ(12 + 8 + 16, stride);
    EXPECT_EQ(0x800u, KS_ParseVertexFormat("D3DFVF_TEX8", &stride));
    EXPECT_EQ(64, stride);
    // EXTRA marks a declaration layout and adds its bytes.
    EXPECT_EQ(0x13u, KS_ParseVertexFormat("D3DFVF_XYZ\nD3DFVF_NORMAL\nEXTRA 36", &stride));
    EXPECT_EQ(60, stride);
}

// Unknown words, TEX counts outside 1..8, and EXTRA without a usable size add nothing.
TEST(VertexFormat, OtherLinesAddNothing)
{
    int32_t stride = -1;
    std::string longWord(300, 'D');
    EXPECT_EQ(0x02u, KS_ParseVertexFormat(("D3DFVF_XYZ\nD3DFVF_TEX9\nD3DFVF_TEX0\nD3DFVF_TEX12\nD3DFVF_XYZRHW\n"
                                           "EXTRA\nEXTRA -8\nEXTRA 100000\n" + longWord)
                                              .c_str(),
                                          &stride));
    EXPECT_EQ(12, stride);
    EXPECT_EQ(0u, KS_ParseVertexFormat("nothing known", &stride));
    EXPECT_EQ(0, stride);
}
