// TGA pictures into 32-bit buffers: any input loads or is refused, and leaves no block behind.
#include "fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = (KS_MemoryInit(), true);
    (void)started;
    const char* path = FuzzFile(data, size, ".tga");
    int32_t blocks = KS_MemoryBlockCount();
    int32_t width, height;
    uint8_t* pixels = KS_LoadTGA(path, &width, &height);
    KS_Free(pixels, "fuzz_tga", __LINE__);
    FuzzCheckBlocks(blocks, "KS_LoadTGA");
    return 0;
}
