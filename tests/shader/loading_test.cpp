// Shaders from object files: registration by name, the boxes of sources that do not assemble,
// materials pointing at their shaders, the layout of buffers built for them, and release.
#include "shader_test.h"

#include <string.h>

namespace {

const char* const kVertexSource = "vs.1.1\nm4x4 oPos, v0, c0\nmov oD0, v2\n";
const char* const kPixelSource = "ps.1.1\nmov r0, v0\n";
const UINT kBoxStyle = MB_SETFOREGROUND | MB_SYSTEMMODAL;

KsoMaterial ShadedMaterial(const char* name, const char* vertexShader, const char* pixelShader = "")
{
    KsoMaterial m;
    m.name = name;
    m.method = T_GOURAUD;
    m.vertexShader = vertexShader;
    m.pixelShader = pixelShader;
    return m;
}

int CountVertexShaders()
{
    int n = 0;
    for (KSVertexShader* s = ksVertexShaders; s; s = s->next)
        n++;
    return n;
}

// Boxes with the given caption since the log was cleared.
std::vector<std::string> BoxTexts(const char* caption)
{
    std::vector<std::string> texts;
    for (int i = 0; i < MarlixMessageBoxCount(); i++)
        if (!strcmp(MarlixMessageBoxCaption(i), caption))
            texts.push_back(MarlixMessageBoxText(i));
    return texts;
}

}  // namespace

// The first shader of a name stays; later ones of that name in any case, from the same file or a
// later one, are dropped, and materials of the later file use the one that stayed.
TEST_F(ShaderTest, ASecondShaderOfAUsedNameIsIgnored)
{
    KsoModel first = TriangleModel();
    first.vertexShaders = {Shader("Wave", 1, kVertexSource), Shader("wAVE", 2, "vs.1.1\nmov oPos, v0\n")};
    first.pixelShaders = {Shader("Glow", 1, kPixelSource)};
    ASSERT_NE(nullptr, Load(first));
    KsoModel second = TriangleModel();
    second.declaredShaders = {Shader("WAVE", 3, "vs.1.1\nmov oPos, v1\n")};
    second.pixelShaders = {Shader("glow", 2, "ps.1.1\nmov r0, c0\n"), Shader("other", 1, kPixelSource)};
    second.materials = {ShadedMaterial("second", "wave", "GLOW")};
    ASSERT_NE(nullptr, Load(second));

    EXPECT_EQ(1, CountVertexShaders());
    ASSERT_NE(nullptr, ksVertexShaders);
    EXPECT_STREQ("Wave", ksVertexShaders->name);
    EXPECT_EQ(1u, ksVertexShaders->declarationType);
    EXPECT_STREQ(kVertexSource, ksVertexShaders->source);
    ASSERT_NE(nullptr, ksPixelShaders);
    EXPECT_STREQ("Glow", ksPixelShaders->name);
    ASSERT_NE(nullptr, ksPixelShaders->next);
    EXPECT_STREQ("other", ksPixelShaders->next->name);
    EXPECT_EQ(ksVertexShaders, KS_FindVertexShader("WaVe"));
    EXPECT_EQ(nullptr, KS_FindVertexShader("wav"));
    EXPECT_EQ(nullptr, KS_FindPixelShader(nullptr));
    const KSMaterial* m = KS_GetMaterial(KS_FindMaterial("second"));
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(ksVertexShaders, m->vertexShader);
    EXPECT_EQ(ksPixelShaders, m->pixelShader);
}

// A material naming a shader that no list holds draws without one.
TEST_F(ShaderTest, AMaterialNamingAMissingShaderHasNone)
{
    KsoModel m = TriangleModel();
    m.materials = {ShadedMaterial("lonely", "nowhere", "nothing")};
    ASSERT_NE(nullptr, Load(m));
    const KSMaterial* material = KS_GetMaterial(KS_FindMaterial("lonely"));
    ASSERT_NE(nullptr, material);
    EXPECT_EQ(nullptr, material->vertexShader);
    EXPECT_EQ(nullptr, material->pixelShader);
}

// A source the assembler refuses shows the assembler's text in a box owned by the engine window,
// leaves the shader uncreated, and the load goes on with the shaders after it.
TEST_F(ShaderTest, ASourceThatDoesNotAssembleShowsTheAssemblersText)
{
    KsoModel m = TriangleModel();
    m.vertexShaders = {Shader("broken", 1, "vs.1.1\nmov oPos, v0\nfrobnicate r0, v1\n"),
                       Shader("fine", 1, kVertexSource)};
    m.pixelShaders = {Shader("broken pixels", 1, "ps.1.1\nm4x4 r0, v0, c0\n")};
    ASSERT_NE(nullptr, Load(m));
    std::vector<std::string> vertexBoxes = BoxTexts("Vertex Shader Compiler Error");
    ASSERT_EQ(1u, vertexBoxes.size());
    EXPECT_EQ(0u, vertexBoxes[0].find("line 3:")) << vertexBoxes[0];
    std::vector<std::string> pixelBoxes = BoxTexts("Pixel Shader Compiler Error");
    ASSERT_EQ(1u, pixelBoxes.size());
    EXPECT_EQ(0u, pixelBoxes[0].find("line 2:")) << pixelBoxes[0];
    for (int i = 0; i < MarlixMessageBoxCount(); i++) {
        EXPECT_EQ(kBoxStyle, MarlixMessageBoxStyle(i));
        EXPECT_EQ(window, MarlixMessageBoxOwner(i));
    }
    const KSVertexShader* broken = KS_FindVertexShader("broken");
    ASSERT_NE(nullptr, broken);
    EXPECT_EQ(0u, broken->handle);
    ASSERT_NE(nullptr, KS_FindVertexShader("fine"));
    ASSERT_NE(nullptr, KS_FindPixelShader("broken pixels"));
    EXPECT_EQ(0u, KS_FindPixelShader("broken pixels")->handle);
}

// A source of length 0 has no terminator to leave out: the assembler gets an empty text and
// refuses it, nothing reads before the text.
TEST_F(ShaderTest, AnEmptySourceIsRefusedByTheAssembler)
{
    KsoStream s;
    KsoBegin(s, KSO_MAIN);
    KsoBegin(s, KSO_VERTEX_SHADERS);
    KsoU16(s, 1);
    KsoString(s, "empty");
    KsoU32(s, 1);   // declaration type
    KsoU32(s, 0);   // source length
    KsoU32(s, 0);   // constants
    KsoEnd(s);
    KsoEnd(s);
    std::string path = directory + "/empty.kso";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(s.bytes.data(), 1, s.bytes.size(), f);
    fclose(f);
    KSObject* o = KS_LoadObject(path.c_str(), 0);
    ASSERT_NE(nullptr, o);
    objects.push_back(o);
    const KSVertexShader* empty = KS_FindVertexShader("empty");
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0, empty->sourceLength);
    EXPECT_EQ(0u, empty->handle);
    EXPECT_EQ(1u, BoxTexts("Vertex Shader Compiler Error").size());
}

// A vertex shader with neither a declaration text nor a built-in type is left uncreated quietly.
TEST_F(ShaderTest, AShaderWithoutADeclarationIsNotCreated)
{
    KsoModel m = TriangleModel();
    m.vertexShaders = {Shader("typeless", 0, kVertexSource)};
    KsoShader declared = Shader("declared typeless", 9, kVertexSource);
    declared.formatText = "D3DFVF_XYZ";
    m.declaredShaders = {declared};
    ASSERT_NE(nullptr, Load(m));
    EXPECT_EQ(0, MarlixMessageBoxCount());
    EXPECT_EQ(0u, KS_FindVertexShader("typeless")->handle);
    EXPECT_EQ(0u, KS_FindVertexShader("declared typeless")->handle);
}

// Buffers built from faces for a material with a vertex shader take the shader's layout: its
// format text, the default for an empty text, the layout of its built-in declaration for a shader
// without a format text; a material without a shader keeps the default of one coordinate set.
TEST_F(ShaderTest, BuffersBuiltForShadersTakeTheirLayout)
{
    struct Case {
        const char* material;
        uint32_t format;
        int32_t stride;
    };
    const Case cases[] = {{"by text", 0x212, 40}, {"empty text", 0x152, 36}, {"built in 2", 0x252, 44},
                          {"no declaration", 0x52, 28}, {"plain", 0x152, 36}, {"extra", 0x13, 60}};
    KsoModel m = TriangleModel();
    KsoShader byText = Shader("by text", 1, kVertexSource);
    byText.formatText = "D3DFVF_XYZ\nD3DFVF_NORMAL\nD3DFVF_TEX2";
    KsoShader emptyText = Shader("empty text", 1, kVertexSource);
    KsoShader extra = Shader("extra", 1, kVertexSource);
    extra.formatText = "D3DFVF_XYZ\nD3DFVF_NORMAL\nEXTRA 36";
    m.declaredShaders = {byText, emptyText, extra};
    m.vertexShaders = {Shader("built in 2", 2, kVertexSource), Shader("no declaration", 0, kVertexSource)};
    for (const Case& c : cases)
        m.materials.push_back(ShadedMaterial(c.material, strcmp(c.material, "plain") ? c.material : ""));
    for (uint16_t i = 0; i < 6; i++) {
        m.segments[0].faces[0].material = m.segments[0].faces[0].material2 = i;
        m.segments[0].faces[0].u[1] = 1.0f;
        m.segments[0].faces[0].v[2] = 1.0f;
        KSObject* o = Load(m);
        ASSERT_NE(nullptr, o);
        ASSERT_NE(nullptr, o->bufferGroups);
        ASSERT_EQ(1, o->bufferGroups[0].groupCount);
        const KSBufferList* list = o->bufferGroups[0].groups[0].first;
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(cases[i].format, list->format) << cases[i].material;
        EXPECT_EQ(cases[i].stride, list->stride) << cases[i].material;
        // Position, normal, then (for the colour formats) the colour and the first set's u, v.
        std::vector<float> data((size_t)list->vertexCount * list->stride / 4);
        BYTE* p = nullptr;
        ASSERT_EQ(D3D_OK, list->vertexBuffer->Lock(0, 0, &p, D3DLOCK_READONLY));
        memcpy(data.data(), p, data.size() * 4);
        list->vertexBuffer->Unlock();
        size_t second = (size_t)list->stride / 4;   // the corner at (1, 0, 0) with u = 1
        EXPECT_FLOAT_EQ(1.0f, data[second]) << cases[i].material;
        EXPECT_FLOAT_EQ(1023.0f / 1024.0f, data[second + 5]) << cases[i].material;
        if (list->format & D3DFVF_DIFFUSE && list->format & D3DFVF_TEXCOUNT_MASK) {
            EXPECT_FLOAT_EQ(255.0f, data[second + 7]) << cases[i].material;   // u of 1 times 255
        }
    }
}

// Freeing the lists deletes what was created, frees every record, text and constant array, and
// leaves no material pointing at a freed record.
TEST_F(ShaderTest, FreeingTheListsLeavesNothing)
{
    int32_t before = KS_MemoryBlockCount();
    KsoModel m = TriangleModel();
    KsoShader v = Shader("kept", 1, kVertexSource);
    v.formatText = "D3DFVF_XYZ";
    v.declarationText = "STREAM 0\nREG 0 FLOAT3\nEND";
    v.constants = {KsoShaderConstant(), KsoShaderConstant()};
    m.declaredShaders = {v};
    KsoShader p = Shader("kept pixels", 1, kPixelSource);
    p.constants = {KsoShaderConstant()};
    m.pixelShaders = {p};
    m.materials = {ShadedMaterial("pointing", "kept", "kept pixels")};
    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    objects.clear();
    KS_FreeObject(o);
    int32_t index = KS_FindMaterial("pointing");
    KS_DeleteMaterial("pointing");
    EXPECT_LT(before, KS_MemoryBlockCount());
    KS_FreeVertexShaders();
    KS_FreePixelShaders();
    EXPECT_EQ(before, KS_MemoryBlockCount());
    EXPECT_EQ(nullptr, ksVertexShaders);
    EXPECT_EQ(nullptr, ksPixelShaders);
    EXPECT_EQ(nullptr, KS_GetMaterial(index)->vertexShader);
    EXPECT_EQ(nullptr, KS_GetMaterial(index)->pixelShader);
}
