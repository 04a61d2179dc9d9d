// Pixel shaders: the named list, assembly and creation, and the constant bindings.
#define KS_MODULE "kspshader"
#include "kestra.h"

KSPixelShader* ksPixelShaders = nullptr;

KSPixelShader* KS_FindPixelShader(const char* name)
{
    for (KSPixelShader* s = ksPixelShaders; s; s = s->next)
        if (KS_SameShaderName(s->name, name))
            return s;
    return nullptr;
}

KSPixelShader* KS_NewPixelShader(void)
{
    KSPixelShader* shader = (KSPixelShader*)KS_ALLOC(sizeof(KSPixelShader));
    if (!shader)
        return nullptr;
    KSPixelShader** tail = &ksPixelShaders;
    while (*tail)
        tail = &(*tail)->next;
    *tail = shader;
    return shader;
}

static void KS_DeleteDevicePixelShader(KSPixelShader* shader)
{
    if (shader->handle && ksGlobal.device)
        ksGlobal.device->DeletePixelShader(shader->handle);
    shader->handle = 0;
}

void KS_CompilePixelShader(KSPixelShader* shader)
{
    if (!shader)
        return;
    KS_DeleteDevicePixelShader(shader);
    std::vector<uint32_t> tokens;
    if (!KS_AssembleShaderSource(shader->source, shader->sourceLength, nullptr, "Pixel Shader Compiler Error",
                                 &tokens))
        return;
    DWORD handle = 0;
    HRESULT result = ksGlobal.device ? ksGlobal.device->CreatePixelShader((const DWORD*)tokens.data(), &handle)
                                     : D3DERR_INVALIDCALL;
    if (FAILED(result)) {
        KS_ShowInvalidShader(result);
        return;
    }
    shader->handle = handle;
}

void KS_SetPixelShaderConstants(const KSPixelShader* shader, int32_t index)
{
    if (!shader || !ksGlobal.device || index < 0 || index >= shader->constantCount || !shader->constants)
        return;
    const KSShaderConstant* k = &shader->constants[index];
    if (k->kind != 1 || k->reg < 0)
        return;
    HRESULT result = ksGlobal.device->SetPixelShaderConstant((DWORD)k->reg, k->values, 1);
    if (FAILED(result))
        KS_LOG_D3D_FAILURE(result);
}

void KS_FreePixelShaders(void)
{
    while (ksPixelShaders) {
        KSPixelShader* s = ksPixelShaders;
        ksPixelShaders = s->next;
        KS_DeleteDevicePixelShader(s);
        KS_FREE(s->source);
        KS_FREE(s->constants);
        KS_FREE(s);
    }
    // Materials that pointed at the freed records draw without a shader from now on.
    for (int32_t i = 0; i < ksMaterialCount && ksMaterials; i++)
        ksMaterials[i].pixelShader = nullptr;
}

void KS_ReleasePixelShaders(void)
{
    for (KSPixelShader* s = ksPixelShaders; s; s = s->next) {
        if (!s->handle)
            continue;
        KS_DeleteDevicePixelShader(s);
        s->released = 1;
    }
}

void KS_RestorePixelShaders(void)
{
    for (KSPixelShader* s = ksPixelShaders; s; s = s->next) {
        if (!s->released)
            continue;
        s->released = 0;
        KS_CompilePixelShader(s);
    }
}
