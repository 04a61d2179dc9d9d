// Library files through the file layer: the input is a library (.LIB); every entry its directory
// lists is opened and read to the end. An entry whose data the file does not hold is the fatal
// "Read Failed (lib2buf)" by design.
#include "fuzzing.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = (KS_MemoryInit(), KS_RegisterLibraryHandlers(), true);
    (void)started;
    const char* path = FuzzFile(data, size, ".LIB");
    int32_t blocks = KS_MemoryBlockCount();
    FuzzArmFatal("Read Failed (lib2buf)");
    if (setjmp(fuzzFatalReturn)) {
        // The load it ended keeps its blocks, as the real fatal error would: start the tracker afresh.
        KS_CloseLibrary();
        KS_MemoryShutdown();
        KS_MemoryInit();
        return 0;
    }
    KS_OpenLibrary(path);
    int32_t count = KS_LibraryEntryCount();
    for (int32_t i = 0; i < count && i < 64; i++) {
        char name[KS_LIBRARY_ENTRY_NAME + 1];
        KS_LibraryEntryName(i, name);
        KSFile* file = KS_OpenFile(name);
        if (!file) continue;
        int32_t bytes = 0;
        while (!KS_EndOfFile(file)) {
            KS_ReadByte(file);
            bytes++;
        }
        if (bytes != file->size) abort();
        KS_CloseFile(file);
    }
    KS_CloseLibrary();
    FuzzArmFatal(nullptr);
    FuzzCheckBlocks(blocks, "the library");
    return 0;
}
