// The software device's pixel shaders: the input is a token stream (32-bit little-endian words,
// followed here by end tokens so that no reading runs past it, even when a comment skips ahead). A stream the device accepts is
// bound, drawn over a small target with a texture in every stage it may sample (a bump texture in
// the first), and deleted while that draw is still queued.
#include "fuzzing.h"

#include <d3d8.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

struct Vertex {
    float x, y, z, rhw;
    DWORD diffuse, specular;
    float t[6][4];
};
const DWORD kFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX6 | D3DFVF_TEXCOORDSIZE4(0) |
                   D3DFVF_TEXCOORDSIZE4(1) | D3DFVF_TEXCOORDSIZE4(2) | D3DFVF_TEXCOORDSIZE4(3) |
                   D3DFVF_TEXCOORDSIZE4(4) | D3DFVF_TEXCOORDSIZE4(5);

IDirect3DDevice8* Device() {
    static IDirect3DDevice8* dev;
    if (dev) return dev;
    dev = FuzzCreateDevice();
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    dev->SetVertexShader(kFvf);
    for (DWORD stage = 0; stage < 6; ++stage) {
        IDirect3DTexture8* tex = nullptr;
        D3DFORMAT format = stage == 0 ? D3DFMT_V8U8 : D3DFMT_A8R8G8B8;
        if (FAILED(dev->CreateTexture(4, 4, 2, 0, format, D3DPOOL_MANAGED, &tex))) abort();
        for (UINT level = 0; level < 2; ++level) {
            D3DSURFACE_DESC desc;
            D3DLOCKED_RECT lr;
            tex->GetLevelDesc(level, &desc);
            tex->LockRect(level, &lr, nullptr, 0);
            for (UINT y = 0; y < desc.Height; ++y)
                for (int i = 0; i < lr.Pitch; ++i)
                    ((uint8_t*)lr.pBits)[y * (UINT)lr.Pitch + (UINT)i] = (uint8_t)(i * 37 + y * 5 + stage * 11);
            tex->UnlockRect(level);
        }
        dev->SetTexture(stage, tex);
        dev->SetTextureStageState(stage, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(stage, D3DTSS_BUMPENVMAT00, 0x3f000000);  // 0.5
        tex->Release();
    }
    return dev;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IDirect3DDevice8* dev = Device();
    if (size < 4) return 0;
    // A comment may skip up to 0x7fff tokens: the padding covers that and the longest instruction.
    static std::vector<DWORD> tokens;
    tokens.assign(size / 4 + 0x8000 + 8, D3DPS_END());
    memcpy(tokens.data(), data, size / 4 * 4);
    DWORD handle = 0;
    if (FAILED(dev->CreatePixelShader(tokens.data(), &handle))) {
        if (handle != 0) abort();
        return 0;
    }
    if (handle == 0) abort();
    DWORD bytes = 0;
    if (FAILED(dev->GetPixelShaderFunction(handle, nullptr, &bytes)) || bytes < 8 || bytes > tokens.size() * 4) abort();
    // Coordinates and colours from the input's first bytes, so they vary with it.
    Vertex v[4];
    memset(v, 0, sizeof(v));
    for (int i = 0; i < 4; ++i) {
        v[i].x = (i & 1) ? 8.0f : 0.0f;
        v[i].y = (i & 2) ? 8.0f : 0.0f;
        v[i].z = 0.5f;
        v[i].rhw = 1.0f;
        v[i].diffuse = 0x80ff4020u + (DWORD)i;
        for (int s = 0; s < 6; ++s)
            for (int k = 0; k < 4; ++k) v[i].t[s][k] = (float)((int)data[(size_t)(s * 4 + k + i) % size] - 100) / 64.0f;
    }
    dev->SetPixelShader(handle);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    if (FAILED(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex)))) abort();
    if (FAILED(dev->DeletePixelShader(handle))) abort();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    return 0;
}
