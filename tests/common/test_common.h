// What several test programs (and the benchmarks) share: a scratch folder per test and a PNG
// writer for pictures worth looking at. Built once as the marlix_test_common library.
#ifndef MARLIX_TEST_COMMON_H
#define MARLIX_TEST_COMMON_H

#include <stdint.h>

#include <string>

// A fresh empty folder /tmp/marlix-<tag>-XXXXXX, removed with all it holds when Remove is called
// or the record goes. Enter makes it the current directory until then, for code that writes
// beside itself (ks.log).
struct ScratchFolder {
    std::string path;      // empty until Make succeeds
    std::string previous;  // the current directory before Enter

    bool Make(const char* tag);
    bool Enter();
    void Remove();
    std::string File(const std::string& name) const { return path + "/" + name; }
    ~ScratchFolder() { Remove(); }
};

// Writes X8R8G8B8 pixels (pitch in bytes) as an RGB PNG file. False when it cannot.
bool WriteTestPng(const std::string& path, const uint32_t* pixels, int width, int height, int pitchBytes);

#endif
