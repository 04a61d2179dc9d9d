// DDS pictures into Direct3D textures: any input loads or is refused, and leaves nothing behind.
#include "fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzStartEngine();
    const char* path = FuzzFile(data, size, ".dds");
    int32_t blocks = KS_MemoryBlockCount();
    int32_t width, height;
    // A texture the device cannot make is the fatal "CreateSurface for texture failed".
    FuzzArmFatal("CreateSurface for texture failed");
    if (setjmp(fuzzFatalReturn)) return 0;
    IDirect3DTexture8* texture = KS_LoadDDS(path, &width, &height);
    FuzzArmFatal(nullptr);
    if (texture) texture->Release();
    FuzzCheckBlocks(blocks, "KS_LoadDDS");
    return 0;
}
