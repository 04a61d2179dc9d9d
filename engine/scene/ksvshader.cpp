// Vertex shaders: the named list, assembly and creation with a vertex declaration, the
// declaration language, the vertex-format text, and the constant bindings.
#define KS_MODULE "ksvshader"
#include "kestra.h"
#include "ksshaderasm.h"

#include <stdio.h>
#include <string.h>

KSVertexShader* ksVertexShaders = nullptr;
float ksShaderLightVector[3] = {0.0f, 0.0f, 0.0f};

// Staging registers of the constant bindings: 4 floats each, kept from one load to the next.
static float ksVertexStaging[KS_VERTEX_CONSTANTS][4];

#define KS_SHADER_ERROR_SIZE 512
// The longest line the text parsers look at; the words that matter come first.
#define KS_TEXT_LINE 256
// Bytes one EXTRA line of a vertex-format text may add.
#define KS_MAX_EXTRA_BYTES 255

// ---- Shared by both lists ------------------------------------------------------------------------

static char KS_UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

static void KS_UpperWord(char* word)
{
    for (; *word; word++)
        *word = KS_UpperAscii(*word);
}

int32_t KS_SameShaderName(const char* a, const char* b)
{
    if (!a || !b)
        return 0;
    for (;; a++, b++) {
        char ca = KS_UpperAscii(*a), cb = KS_UpperAscii(*b);
        if (ca != cb)
            return 0;
        if (!ca)
            return 1;
    }
}

int32_t KS_AssembleShaderSource(const char* source, int32_t sourceLength, const char* name, const char* caption,
                                std::vector<uint32_t>* tokens)
{
    char error[KS_SHADER_ERROR_SIZE];
    error[0] = 0;
    // The stored length counts the terminator; an empty source has none to leave out.
    size_t length = (source && sourceLength > 0) ? (size_t)sourceLength - 1 : 0;
    if (KS_AssembleShader(source ? source : "", length, tokens, error, sizeof(error)))
        return 1;
    if (verbose)
        KS_Log("%s: %s %s", caption, name ? name : "", error);
    const char* text = (!error[0] && name) ? name : error;
    MessageBoxA(KS_GetWindow(), text, caption, MB_SETFOREGROUND | MB_SYSTEMMODAL);
    return 0;
}

void KS_ShowInvalidShader(HRESULT result)
{
    KS_LOG_D3D_FAILURE(result);
    MessageBoxA(KS_GetWindow(), "Invalid Shader!", KS_D3DErrorName(result), MB_SETFOREGROUND | MB_SYSTEMMODAL);
}

// Calls `line` with each line of `text` (at most KS_TEXT_LINE - 1 characters of it, terminated)
// until it returns 0.
template <typename LineFunction> static void KS_ForEachLine(const char* text, LineFunction line)
{
    if (!text)
        return;
    while (*text) {
        const char* end = text;
        while (*end && *end != '\n' && *end != '\r')
            end++;
        char buffer[KS_TEXT_LINE];
        size_t n = (size_t)(end - text) < sizeof(buffer) - 1 ? (size_t)(end - text) : sizeof(buffer) - 1;
        memcpy(buffer, text, n);
        buffer[n] = 0;
        if (!line(buffer))
            return;
        text = *end ? end + 1 : end;
    }
}

// ---- The list ------------------------------------------------------------------------------------

KSVertexShader* KS_FindVertexShader(const char* name)
{
    for (KSVertexShader* s = ksVertexShaders; s; s = s->next)
        if (KS_SameShaderName(s->name, name))
            return s;
    return nullptr;
}

KSVertexShader* KS_NewVertexShader(void)
{
    KSVertexShader* shader = (KSVertexShader*)KS_ALLOC(sizeof(KSVertexShader));
    if (!shader)
        return nullptr;
    KSVertexShader** tail = &ksVertexShaders;
    while (*tail)
        tail = &(*tail)->next;
    *tail = shader;
    return shader;
}

static void KS_DeleteDeviceVertexShader(KSVertexShader* shader)
{
    if (shader->handle && ksGlobal.device)
        ksGlobal.device->DeleteVertexShader(shader->handle);
    shader->handle = 0;
}

void KS_FreeVertexShaders(void)
{
    while (ksVertexShaders) {
        KSVertexShader* s = ksVertexShaders;
        ksVertexShaders = s->next;
        KS_DeleteDeviceVertexShader(s);
        KS_FREE(s->source);
        KS_FREE(s->formatText);
        KS_FREE(s->declarationText);
        KS_FREE(s->constants);
        KS_FREE(s);
    }
    // Materials that pointed at the freed records draw without a shader from now on.
    for (int32_t i = 0; i < ksMaterialCount && ksMaterials; i++)
        ksMaterials[i].vertexShader = nullptr;
}

void KS_ReleaseVertexShaders(void)
{
    for (KSVertexShader* s = ksVertexShaders; s; s = s->next) {
        if (!s->handle)
            continue;
        KS_DeleteDeviceVertexShader(s);
        s->released = 1;
    }
}

void KS_RestoreVertexShaders(void)
{
    for (KSVertexShader* s = ksVertexShaders; s; s = s->next) {
        if (!s->released)
            continue;
        s->released = 0;
        KS_CreateVertexShaderFromTexts(s);
    }
}

// ---- Creation ------------------------------------------------------------------------------------

void KS_CompileVertexShader(KSVertexShader* shader, const DWORD* declaration)
{
    if (!shader || !declaration)
        return;
    KS_DeleteDeviceVertexShader(shader);
    std::vector<uint32_t> tokens;
    if (!KS_AssembleShaderSource(shader->source, shader->sourceLength, shader->name, "Vertex Shader Compiler Error",
                                 &tokens))
        return;
    IDirect3DDevice8* device = ksGlobal.device;
    if (!device) {
        KS_ShowInvalidShader(D3DERR_INVALIDCALL);
        return;
    }
    int32_t software = ksGlobal.caps.vertexShaderVersion < KS_VERTEX_SHADER_1_0;
    device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, (software || !ksGlobal.caps.hardwareTnL) ? TRUE : FALSE);
    DWORD handle = 0;
    HRESULT result = device->CreateVertexShader(declaration, (const DWORD*)tokens.data(), &handle,
                                                software ? D3DUSAGE_SOFTWAREPROCESSING : 0);
    if (FAILED(result)) {
        KS_ShowInvalidShader(result);
        return;
    }
    shader->handle = handle;
}

void KS_CreateVertexShaderFromTexts(KSVertexShader* shader)
{
    if (!shader)
        return;
    if (shader->declarationText && shader->declarationText[0]) {
        DWORD tokens[KS_DECLARATION_TOKENS];
        KS_ParseDeclaration(shader->declarationText, tokens, KS_DECLARATION_TOKENS);
        KS_CompileVertexShader(shader, tokens);
    } else {
        KS_CompileVertexShader(shader, KS_DefaultDeclaration(shader->declarationType));
    }
}

// ---- Declarations --------------------------------------------------------------------------------

#define KS_DECL_STREAM 0x20000000u
#define KS_DECL_STREAMTESS 0x30000000u
#define KS_DECL_REG 0x40000000u
#define KS_DECL_SKIP 0x50000000u
#define KS_DECL_TESSNORMAL 0x60020000u
#define KS_DECL_TESSUV 0x70010000u
#define KS_DECL_END 0xFFFFFFFFu
#define KS_DECL_FLOAT2 1u
#define KS_DECL_FLOAT3 2u
#define KS_DECL_D3DCOLOR 4u

static DWORD KS_DeclReg(uint32_t reg, uint32_t type)
{
    return KS_DECL_REG | type << 16 | reg;
}

const DWORD* KS_DefaultDeclaration(uint32_t type)
{
    // Stream, three registers, up to 8 coordinate sets, END.
    static DWORD declarations[8][13];
    uint32_t k = type & 0xF;
    if (k < 1 || k > 8)
        return nullptr;
    DWORD* d = declarations[k - 1];
    int n = 0;
    d[n++] = KS_DECL_STREAM | 0;
    d[n++] = KS_DeclReg(0, KS_DECL_FLOAT3);     // position
    d[n++] = KS_DeclReg(1, KS_DECL_FLOAT3);     // normal
    d[n++] = KS_DeclReg(2, KS_DECL_D3DCOLOR);   // diffuse
    for (uint32_t set = 0; set < k; set++)
        d[n++] = KS_DeclReg(3 + set, KS_DECL_FLOAT2);
    d[n] = KS_DECL_END;
    return d;
}

// Register types of REG lines, by their number.
static const char* const ksDeclarationTypes[] = {"FLOAT1", "FLOAT2", "FLOAT3", "FLOAT4", "D3DCOLOR", "UBYTE4"};

// The token of one line; 0 when the line gives none (unknown word, missing number or type).
static int KS_DeclarationToken(const char* line, DWORD* token)
{
    char word[32], type[32];
    int a = 0, b = 0;
    if (sscanf(line, "%31s", word) != 1)
        return 0;
    KS_UpperWord(word);
    if (!strcmp(word, "STREAM") || !strcmp(word, "SKIP") || !strcmp(word, "TESSUV")) {
        if (sscanf(line, "%31s %i", word, &a) != 2)
            return 0;
        KS_UpperWord(word);
        if (!strcmp(word, "STREAM"))
            *token = KS_DECL_STREAM | (DWORD)a;
        else if (!strcmp(word, "SKIP"))
            *token = KS_DECL_SKIP | (DWORD)a << 16;
        else
            *token = KS_DECL_TESSUV | (DWORD)a;
        return 1;
    }
    if (!strcmp(word, "TESSNORMAL")) {
        if (sscanf(line, "%31s %i %i", word, &a, &b) != 3)
            return 0;
        *token = KS_DECL_TESSNORMAL | (DWORD)a << 20 | (DWORD)b;
        return 1;
    }
    if (!strcmp(word, "REG")) {
        if (sscanf(line, "%31s %i %31s", word, &a, type) != 3)
            return 0;
        KS_UpperWord(type);
        for (uint32_t t = 0; t < sizeof(ksDeclarationTypes) / sizeof(ksDeclarationTypes[0]); t++)
            if (!strcmp(type, ksDeclarationTypes[t])) {
                *token = KS_DECL_REG | t << 16 | (DWORD)a;
                return 1;
            }
        return 0;
    }
    if (!strcmp(word, "STREAMTESS")) {
        *token = KS_DECL_STREAMTESS;
        return 1;
    }
    if (!strcmp(word, "END")) {
        *token = KS_DECL_END;
        return 1;
    }
    return 0;
}

int32_t KS_ParseDeclaration(const char* text, DWORD* tokens, int32_t capacity)
{
    if (!tokens || capacity <= 0)
        return 0;
    int32_t count = 0;
    KS_ForEachLine(text, [&](const char* line) {
        DWORD token;
        if (!KS_DeclarationToken(line, &token))
            return 1;
        // END closes the stream; the last place is kept for it.
        if (token == KS_DECL_END || count >= capacity - 1)
            return 0;
        tokens[count++] = token;
        return 1;
    });
    tokens[count++] = KS_DECL_END;
    return count;
}

// ---- Vertex-format text --------------------------------------------------------------------------

struct KSFormatWord {
    const char* word;
    uint32_t bits;
    int32_t bytes;
};

static const KSFormatWord ksFormatWords[] = {
    {"D3DFVF_DIFFUSE", 0x40, 4},  {"D3DFVF_NORMAL", 0x10, 12}, {"D3DFVF_PSIZE", 0x20, 4},
    {"D3DFVF_SPECULAR", 0x80, 4}, {"D3DFVF_XYZ", 0x02, 12},    {"D3DFVF_XYZB1", 0x06, 4},
    {"D3DFVF_XYZB2", 0x08, 8},    {"D3DFVF_XYZB3", 0x0A, 12},  {"D3DFVF_XYZB4", 0x0C, 16},
    {"D3DFVF_XYZB5", 0x0E, 20},
};

uint32_t KS_ParseVertexFormat(const char* text, int32_t* stride)
{
    if (!text || !text[0]) {
        if (stride)
            *stride = 28;
        return D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    }
    uint32_t format = 0;
    int32_t bytes = 0;
    KS_ForEachLine(text, [&](const char* line) {
        char word[32];
        int n = 0;
        if (sscanf(line, "%31s", word) != 1)
            return 1;
        KS_UpperWord(word);
        for (const KSFormatWord& w : ksFormatWords)
            if (!strcmp(word, w.word)) {
                format |= w.bits;
                bytes += w.bytes;
                return 1;
            }
        if (!strncmp(word, "D3DFVF_TEX", 10) && word[10] >= '1' && word[10] <= '8' && !word[11]) {
            int32_t k = word[10] - '0';
            format |= (uint32_t)k << 8;
            bytes += 8 * k;
        } else if (!strcmp(word, "EXTRA") && sscanf(line, "%31s %i", word, &n) == 2 && n >= 0 &&
                   n <= KS_MAX_EXTRA_BYTES) {
            format |= KS_FVF_DECLARATION;
            bytes += n;
        }
        return 1;
    });
    if (stride)
        *stride = bytes;
    return format;
}

// ---- Constant bindings ---------------------------------------------------------------------------

static void KS_GetDeviceMatrix(D3DTRANSFORMSTATETYPE which, KSMatrix* m)
{
    KS_MatrixIdentity(m);
    ksGlobal.device->GetTransform(which, (D3DMATRIX*)m->m);
}

// Four staging registers from a matrix, transposed or as it is.
static void KS_StageMatrix(float (*out)[4], const KSMatrix* m, int transpose)
{
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
            out[r][c] = transpose ? m->m[c * 4 + r] : m->m[r * 4 + c];
}

// One staging register holding (x, y, z, 1), the three after it zero.
static void KS_StageVector4(float (*out)[4], float x, float y, float z)
{
    memset(out, 0, sizeof(float) * 16);
    out[0][0] = x;
    out[0][1] = y;
    out[0][2] = z;
    out[0][3] = 1.0f;
}

// Registers a binding kind loads: one for a vector, four for a matrix and for kinds 33, 36 and 37;
// none for the kinds that load nothing.
static int32_t KS_ConstantRegisters(int32_t kind)
{
    if ((kind >= 1 && kind <= 25) || kind == 32)
        return 1;
    if ((kind >= 26 && kind <= 31) || kind == 33 || (kind >= 36 && kind <= 38))
        return 4;
    return 0;
}

void KS_SetVertexShaderConstants(const KSVertexShader* shader, int32_t index)
{
    IDirect3DDevice8* device = ksGlobal.device;
    if (!shader || !device || index < 0 || index >= shader->constantCount || !shader->constants)
        return;
    const KSShaderConstant* k = &shader->constants[index];
    int32_t kind = k->kind, reg = k->reg;
    int32_t registers = KS_ConstantRegisters(kind);
    // A binding outside the staging registers loads nothing.
    if (!registers || reg < 0 || reg > KS_VERTEX_CONSTANTS - registers)
        return;
    float (*out)[4] = &ksVertexStaging[reg];
    if (kind >= 1 && kind <= 24) {
        // Lights of the active list only; the fourth component stays as it was.
        int32_t light = (kind - 1) % 8;
        if (!ksActiveLights.lights || light >= ksActiveLights.count)
            return;
        const KSLight& l = ksActiveLights.lights[light];
        if (kind <= 8) {
            out[0][0] = l.direction.x;
            out[0][1] = l.direction.y;
            out[0][2] = l.direction.z;
        } else if (kind <= 16) {
            out[0][0] = l.colour[0];
            out[0][1] = l.colour[1];
            out[0][2] = l.colour[2];
        } else {
            out[0][0] = l.position.x;
            out[0][1] = l.position.y;
            out[0][2] = l.position.z;
        }
    } else if (kind == 25) {
        memcpy(out[0], k->values, sizeof(k->values));
    } else if ((kind >= 26 && kind <= 31) || kind == 38) {
        KSMatrix world, view, projection, m;
        KS_GetDeviceMatrix(D3DTS_WORLD, &world);
        KS_GetDeviceMatrix(D3DTS_VIEW, &view);
        KS_GetDeviceMatrix(D3DTS_PROJECTION, &projection);
        int transpose = 1;
        switch (kind) {
        case 26:
            KS_MatrixProduct(&m, &world, &view);
            KS_MatrixProduct(&m, &m, &projection);
            break;
        case 27: m = world; break;
        case 28: m = view; break;
        case 29: m = projection; break;
        case 30: m = world; transpose = 0; break;
        case 31: KS_MatrixProduct(&m, &world, &view); break;
        default: KS_MatrixProduct(&m, &world, &view); transpose = 0; break;   // 38
        }
        KS_StageMatrix(out, &m, transpose);
    } else if (kind == 32) {
        const KSCamera* camera = KS_CurrentCamera();
        if (!camera)
            return;
        out[0][0] = camera->position.x;
        out[0][1] = camera->position.y;
        out[0][2] = camera->position.z;
        out[0][3] = 1.0f;
    } else if (kind == 33) {
        KS_StageVector4(out, ksShaderLightVector[0], ksShaderLightVector[1], ksShaderLightVector[2]);
    } else if (kind == 36) {
        const KSMaterial* material = ksDraw.material;
        if (!material)
            return;
        KS_StageVector4(out, material->red / 255.0f, material->green / 255.0f, material->blue / 255.0f);
    } else if (kind == 37) {
        KS_StageVector4(out, ksFog.start, ksFog.end, ksFog.scale);
    }
    HRESULT result = device->SetVertexShaderConstant((DWORD)reg, out, (DWORD)registers);
    if (FAILED(result))
        KS_LOG_D3D_FAILURE(result);
}
