// The private-profile reader of the Win32 stand-in: the input is an INI file. Every section and key
// it lists reads back as text and number, and a value written into it reads back as written.
#include "fuzzing.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

// Names of a double-zero-terminated list.
static std::vector<std::string> Names(const char* list, DWORD length) {
    std::vector<std::string> names;
    for (const char* p = list; p < list + length && *p; p += strlen(p) + 1) names.push_back(p);
    return names;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = FuzzFile(data, size, ".ini");
    static char list[8192], value[512];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof(list), path);
    if (length >= sizeof(list)) abort();
    std::vector<std::string> sections = Names(list, length);
    for (size_t i = 0; i < sections.size() && i < 16; i++) {
        const char* section = sections[i].c_str();
        length = GetPrivateProfileStringA(section, nullptr, "", list, sizeof(list), path);
        if (length >= sizeof(list)) abort();
        std::vector<std::string> keys = Names(list, length);
        for (size_t k = 0; k < keys.size() && k < 16; k++) {
            GetPrivateProfileStringA(section, keys[k].c_str(), "", value, sizeof(value), path);
            GetPrivateProfileIntA(section, keys[k].c_str(), -1, path);
        }
        GetPrivateProfileSectionA(section, list, sizeof(list), path);
    }
    GetPrivateProfileSectionNamesA(list, sizeof(list), path);

    // A write keeps the rest of the file and reads back exactly.
    const char* section = sections.empty() ? "Fuzz" : sections[0].c_str();
    if (!WritePrivateProfileStringA(section, "FuzzKey", "12345", path)) abort();
    if (GetPrivateProfileIntA(section, "FuzzKey", -1, path) != 12345) abort();
    GetPrivateProfileStringA(section, "FuzzKey", "", value, sizeof(value), path);
    if (strcmp(value, "12345") != 0) abort();
    return 0;
}
