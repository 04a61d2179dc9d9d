// The file layer's reads and seeks: the input is a script of operations (first byte: how many
// script bytes follow) over a file of the remaining bytes. Every position stays within the file and
// every read moves it by what it copied.
#include "fuzzing.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

static int32_t Take32(const uint8_t*& script, const uint8_t* end) {
    uint32_t value = 0;
    for (int i = 0; i < 4 && script < end; i++) value |= (uint32_t)*script++ << (8 * i);
    return (int32_t)value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = (KS_MemoryInit(), true);
    (void)started;
    if (size < 1) return 0;
    size_t scriptBytes = data[0] < size - 1 ? data[0] : size - 1;
    const uint8_t* script = data + 1;
    const uint8_t* end = script + scriptBytes;
    const char* path = FuzzFile(end, size - 1 - scriptBytes, ".bin");
    int32_t blocks = KS_MemoryBlockCount();
    KSFile* file = KS_OpenFile(path);
    if (!file) abort();
    std::vector<uint8_t> destination((size_t)file->size + 1);
    while (script < end) {
        int32_t before = KS_TellFile(file);
        switch (*script++ % 4) {
        case 0: {
            int32_t itemSize = Take32(script, end), count = Take32(script, end);
            int32_t got = KS_ReadFile(destination.data(), itemSize, count, file);
            if (got < 0 || got > file->size - before || KS_TellFile(file) != before + got) abort();
            if (got > 0 && memcmp(destination.data(), file->data + before, (size_t)got) != 0) abort();
            break;
        }
        case 1: {
            int32_t value = KS_ReadByte(file);
            bool more = before < file->size;
            if (value < 0 || value > 255 || KS_TellFile(file) != before + (more ? 1 : 0)) abort();
            if (more ? value != file->data[before] : value != 0) abort();
            break;
        }
        case 2: {
            int32_t offset = Take32(script, end);
            KS_SeekFile(file, offset, script < end ? *script++ % 4 : 0);
            break;
        }
        default:
            if ((KS_EndOfFile(file) != 0) != (before == file->size)) abort();
            break;
        }
        int32_t position = KS_TellFile(file);
        if (position < 0 || position > file->size || file->current != file->data + position) abort();
    }
    KS_CloseFile(file);
    FuzzCheckBlocks(blocks, "the file layer");
    return 0;
}
