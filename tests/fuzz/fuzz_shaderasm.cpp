// The shader assembler: the input is shader source text. An accepted text gives a stream from a
// version token to the end token; a refused one names a line of the text.
#include "fuzzing.h"

#include <ksshaderasm.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint32_t> tokens;
    char error[256];
    int32_t ok = KS_AssembleShader((const char*)data, size, &tokens, error, sizeof(error));
    if (ok) {
        if (tokens.size() < 2 || tokens.back() != 0x0000FFFF) abort();
        if ((tokens[0] & 0xFFFE0000) != 0xFFFE0000 || error[0] != 0) abort();
        return 0;
    }
    if (!tokens.empty() || strncmp(error, "line ", 5) != 0) abort();
    long lines = 1;
    for (size_t i = 0; i < size; i++) lines += data[i] == '\n';
    long line = strtol(error + 5, nullptr, 10);
    if (line < 1 || line > lines) abort();
    return 0;
}
