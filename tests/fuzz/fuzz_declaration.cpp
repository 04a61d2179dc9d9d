// The shader texts of object files: the input is taken as a declaration text and as a vertex-format
// text. A declaration fills at most its buffer and always ends with END; a format's stride is the
// sum of what its lines add, so it stays within what any number of lines can add.
#include "fuzzing.h"

#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text((const char*)data, size);  // the texts are zero-terminated where they are kept
    DWORD tokens[KS_DECLARATION_TOKENS + 1];
    tokens[KS_DECLARATION_TOKENS] = 0x12345678;  // a guard just past the buffer
    int32_t count = KS_ParseDeclaration(text.c_str(), tokens, KS_DECLARATION_TOKENS);
    if (count < 1 || count > KS_DECLARATION_TOKENS || tokens[count - 1] != 0xFFFFFFFF) abort();
    if (tokens[KS_DECLARATION_TOKENS] != 0x12345678) abort();

    int32_t stride = -1;
    KS_ParseVertexFormat(text.c_str(), &stride);
    long lines = 1;
    for (size_t i = 0; i < size; i++) lines += data[i] == '\n';
    if (stride < 0 || stride > lines * 255) abort();
    return 0;
}
