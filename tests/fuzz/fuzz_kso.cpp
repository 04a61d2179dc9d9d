// KSO object files: any input loads into an object or is refused, and leaves nothing behind once
// the object, the cameras, the shader lists and the tables are given back. A chunk of length 0 is
// the format error the loader raises by design, after it has given back what it made.
#include "fuzzing.h"

#include <marlix_platform.h>
#include <setjmp.h>

static void FuzzTables(void)
{
    KS_AllocMaterials(16);
    KSGFX_AllocTextures(16);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = (FuzzStartEngine(), FuzzTables(), KS_SetTextureDirectory("/nonexistent/"), true);
    (void)started;
    const char* path = FuzzFile(data, size, ".kso");
    int32_t blocks = KS_MemoryBlockCount();
    // Odd sizes load in vertex-buffer mode, so the buffers are built from the faces too.
    ksGlobal.vertexBufferSwitch = (int32_t)(size & 1);
    FuzzArmFatal("Error in file format");
    if (setjmp(fuzzFatalReturn)) {
        FuzzCheckBlocks(blocks, "KS_LoadObject (format error)");
        return 0;
    }
    KSObject* object = KS_LoadObject(path, 0);
    FuzzArmFatal(nullptr);
    KS_FreeObject(object);
    // The file's shaders joined the engine's lists, and any that did not assemble or create left a box.
    KS_FreeVertexShaders();
    KS_FreePixelShaders();
    MarlixMessageBoxClear();
    KS_RemoveAllCameras();
    KSGFX_FreeTextures();
    KS_FreeMaterials();
    FuzzTables();
    FuzzCheckBlocks(blocks, "KS_LoadObject");
    return 0;
}
