// Pixel shaders: the engine-wide named list, creation from assembly source, and the constant
// bindings loaded before drawing.
#ifndef KSPSHADER_H
#define KSPSHADER_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

#include "ksvshader.h"

struct KSPixelShader {
    char name[KS_SHADER_NAME_SIZE];    // at most 31 characters; the case-insensitive lookup key
    char* source;                      // owned assembly text with its terminating zero
    int32_t sourceLength;              // bytes, terminator included
    uint32_t type;
    int32_t constantCount;
    KSShaderConstant* constants;       // owned
    DWORD handle;                      // Direct3D pixel shader; 0 = not created
    int32_t released;                  // deleted for a device reset, to be created again after it
    KSPixelShader* next;
};

extern KSPixelShader* ksPixelShaders;

KSPixelShader* KS_FindPixelShader(const char* name);
KSPixelShader* KS_NewPixelShader(void);
// Assembles and creates the shader. Failures leave handle 0 and show a box: the assembler's text
// captioned "Pixel Shader Compiler Error", or "Invalid Shader!" captioned with the D3DERR name.
void KS_CompilePixelShader(KSPixelShader* shader);
// Loads constant binding `index`: kind 1 puts its four values into register `reg`.
void KS_SetPixelShaderConstants(const KSPixelShader* shader, int32_t index);
void KS_FreePixelShaders(void);
void KS_ReleasePixelShaders(void);
void KS_RestorePixelShaders(void);

#endif
