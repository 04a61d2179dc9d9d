// Vertex shaders: the engine-wide named list, creation from assembly source with a vertex
// declaration (built in, or parsed from the declaration language), the vertex-format text of
// buffers built for shaders, and the constant bindings loaded before drawing.
#ifndef KSVSHADER_H
#define KSVSHADER_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

#include <vector>

// Vertex shader version 1.0: below it, shaders and the buffers drawn with them need software
// vertex processing.
#define KS_VERTEX_SHADER_1_0 0xFFFE0100u
// Vertex shader constant registers of the staging area (the vs.1.1 minimum).
#define KS_VERTEX_CONSTANTS 96
// Tokens of a declaration parsed from text, its END token included.
#define KS_DECLARATION_TOKENS 64
#define KS_SHADER_NAME_SIZE 32

// A constant binding (24 bytes, as object files store it): what `kind` selects goes to `reg`.
struct KSShaderConstant {
    int32_t reg;
    int32_t kind;
    float values[4];
};

struct KSVertexShader {
    char name[KS_SHADER_NAME_SIZE];    // at most 31 characters; the case-insensitive lookup key
    char* source;                      // owned assembly text with its terminating zero
    int32_t sourceLength;              // bytes, terminator included
    uint32_t declarationType;          // low 4 bits: built-in declaration 1..8
    char* formatText;                  // owned vertex-format text; null for shaders without one
    int32_t formatTextLength;
    char* declarationText;             // owned declaration-language text, may be empty or null
    int32_t declarationTextLength;
    int32_t constantCount;
    KSShaderConstant* constants;       // owned
    DWORD handle;                      // Direct3D vertex shader; 0 = not created
    int32_t released;                  // deleted for a device reset, to be created again after it
    KSVertexShader* next;
};

// The list, in creation order.
extern KSVertexShader* ksVertexShaders;
// The light vector that constant kind 33 loads (x, y, z).
extern float ksShaderLightVector[3];

// Shared by both shader lists: names compared upper-cased; assembly of a shader's source (its
// length counts the terminator, which is not passed) into `tokens`, a failure shown in a box with
// the assembler's text (or `name` when the text is empty and a name is given) and `caption`;
// the "Invalid Shader!" box of a refused creation.
int32_t KS_SameShaderName(const char* a, const char* b);
int32_t KS_AssembleShaderSource(const char* source, int32_t sourceLength, const char* name, const char* caption,
                                std::vector<uint32_t>* tokens);
void KS_ShowInvalidShader(HRESULT result);

// The first shader whose name equals `name` ignoring case; null when none.
KSVertexShader* KS_FindVertexShader(const char* name);
// A zeroed record appended at the tail of the list; null when memory runs out.
KSVertexShader* KS_NewVertexShader(void);
// Assembles the source and creates the shader with `declaration`; nothing happens when either is
// missing. Failures leave handle 0 and show a box: the assembler's text (or the shader's name)
// captioned "Vertex Shader Compiler Error", or "Invalid Shader!" captioned with the D3DERR name.
void KS_CompileVertexShader(KSVertexShader* shader, const DWORD* declaration);
// KS_CompileVertexShader with the shader's own declaration: parsed from its declaration text, or
// the built-in one of its declaration type when that text is empty.
void KS_CreateVertexShaderFromTexts(KSVertexShader* shader);
// The built-in declaration of type & 0xF in 1..8 (stream 0; position, normal, diffuse, then that
// many FLOAT2 coordinate sets in registers 3 up; END), else null.
const DWORD* KS_DefaultDeclaration(uint32_t type);
// Parses declaration-language text into at most `capacity` tokens. The stream always ends with
// END (0xFFFFFFFF): lines after END are not read, and a text without an END line, or with more
// lines than fit, gets END in the last place. Returns the tokens written (0 for capacity 0).
int32_t KS_ParseDeclaration(const char* text, DWORD* tokens, int32_t capacity);
// Vertex format and stride of a vertex-format text; empty or null text gives
// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE with stride 28.
uint32_t KS_ParseVertexFormat(const char* text, int32_t* stride);
// Loads constant binding `index` of the shader into the device's vertex shader constants.
void KS_SetVertexShaderConstants(const KSVertexShader* shader, int32_t index);
// Deletes every created shader and frees the whole list.
void KS_FreeVertexShaders(void);
// Around a device reset: delete the created shaders (records and texts are kept), then create
// them again from their texts.
void KS_ReleaseVertexShaders(void);
void KS_RestoreVertexShaders(void);

#endif
