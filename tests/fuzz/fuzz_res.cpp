// The compiled-resource reader of the Win32 stand-in's dialogs: the input is a .res file. Every
// entry, dialog template and bitmap in it is parsed; a refusal must come with its reason.
#include "fuzzing.h"

#include <marlix_platform.h>

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char error[256] = "";
    int entries = MarlixParseResources(data, size, error, sizeof(error));
    if (entries < 0 && !error[0]) abort();
    return 0;
}
