// JPEG pictures through libjpeg into 32-bit buffers. Any libjpeg error is the fatal "Error reading
// jpeg file" by design; the decode it ends keeps libjpeg's memory (a real fatal error ends the
// program there), so leak detection is off for this target and the tracker starts afresh.
#include "fuzzing.h"

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = (KS_MemoryInit(), true);
    (void)started;
    const char* path = FuzzFile(data, size, ".jpg");
    int32_t blocks = KS_MemoryBlockCount();
    int32_t width, height;
    FuzzArmFatal("Error reading jpeg file");
    if (setjmp(fuzzFatalReturn)) {
        KS_MemoryShutdown();
        KS_MemoryInit();
        return 0;
    }
    uint8_t* pixels = KS_LoadJPEG(path, &width, &height);
    FuzzArmFatal(nullptr);
    KS_Free(pixels, "fuzz_jpeg", __LINE__);
    FuzzCheckBlocks(blocks, "KS_LoadJPEG");
    return 0;
}
