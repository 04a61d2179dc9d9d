// The software device's vertex shaders: the input is a count of declaration words, the declaration
// and then the function (32-bit little-endian words; each part is followed here by end tokens, so
// no reading runs past it). A shader the device accepts is bound to two streams of vertices made
// from the input, drawn, run through ProcessVertices, and deleted while the draw is still queued.
#include "fuzzing.h"

#include <d3d8.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const UINT kStride = 64, kVertices = 16;

IDirect3DDevice8* Device() {
    static IDirect3DDevice8* dev;
    if (dev) return dev;
    dev = FuzzCreateDevice();
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    return dev;
}

IDirect3DVertexBuffer8* Buffer(IDirect3DDevice8* dev, DWORD fvf, UINT bytes) {
    IDirect3DVertexBuffer8* vb = nullptr;
    if (FAILED(dev->CreateVertexBuffer(bytes, 0, fvf, D3DPOOL_MANAGED, &vb))) abort();
    return vb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IDirect3DDevice8* dev = Device();
    if (size < 4) return 0;
    uint32_t declared;
    memcpy(&declared, data, 4);
    size_t words = (size - 4) / 4;
    size_t declarationWords = std::min<size_t>(declared % 256, words);
    // A constant token may name up to 15 registers of four words, a comment up to 0x7fff words.
    static std::vector<DWORD> declaration, function;
    declaration.assign(declarationWords + 128, D3DVSD_END());
    memcpy(declaration.data(), data + 4, declarationWords * 4);
    function.assign(words - declarationWords + 0x8000 + 8, D3DVS_END());
    memcpy(function.data(), data + 4 + declarationWords * 4, (words - declarationWords) * 4);

    DWORD handle = 0;
    const DWORD* body = words > declarationWords ? function.data() : nullptr;
    if (FAILED(dev->CreateVertexShader(declaration.data(), body, &handle, 0))) {
        if (handle != 0) abort();
        return 0;
    }
    if (handle == 0 || !(handle & 1)) abort();
    DWORD bytes = 0;
    if (FAILED(dev->GetVertexShaderDeclaration(handle, nullptr, &bytes)) || bytes < 4) abort();

    // Vertices from the input's bytes, the same in both streams.
    IDirect3DVertexBuffer8* streams[2] = {Buffer(dev, 0, kStride * kVertices), Buffer(dev, 0, kStride * kVertices)};
    for (IDirect3DVertexBuffer8* vb : streams) {
        BYTE* p = nullptr;
        vb->Lock(0, 0, &p, 0);
        for (UINT i = 0; i < kStride * kVertices; ++i) p[i] = data[i % size];
        vb->Unlock();
    }
    dev->SetStreamSource(0, streams[0], kStride);
    dev->SetStreamSource(1, streams[1], kStride);
    if (FAILED(dev->SetVertexShader(handle))) abort();
    const float constants[4] = {0.5f, -2.0f, 3.0f, 1.0f};
    dev->SetVertexShaderConstant(0, constants, 1);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, kVertices / 3);
    IDirect3DVertexBuffer8* out = Buffer(dev, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, 28 * kVertices);
    dev->ProcessVertices(0, 0, kVertices, out, 0);
    if (FAILED(dev->DeleteVertexShader(handle))) abort();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    dev->SetStreamSource(0, nullptr, 0);
    dev->SetStreamSource(1, nullptr, 0);
    dev->SetVertexShader(D3DFVF_XYZRHW);
    out->Release();
    streams[0]->Release();
    streams[1]->Release();
    return 0;
}
