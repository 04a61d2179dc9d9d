// PCX pictures into 8-bit image surfaces: any input loads or is refused, and leaves no block behind.
#include "fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzStartEngine();
    const char* path = FuzzFile(data, size, ".pcx");
    int32_t blocks = KS_MemoryBlockCount();
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadPCX(path, palette);
    if (surface) KS_ReleaseSurface(surface);
    FuzzCheckBlocks(blocks, "KS_LoadPCX");
    return 0;
}
