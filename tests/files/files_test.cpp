#include "files_test.h"

#include <stdio.h>
#include <stdlib.h>

void FilesTest::SetUp() {
    MarlixSetHeadless(1);
    char pattern[] = "/tmp/marlix-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory = pattern;
    KS_MemoryInit();
    KS_ClearLibraryHandlers();
    KS_RegisterLibraryHandlers();
}

void FilesTest::TearDown() {
    if (KS_LibraryIsOpen()) KS_CloseLibrary();
    EXPECT_EQ(0, KS_MemoryBlockCount()) << "engine blocks left behind";
    KS_MemoryShutdown();
    std::string command = "rm -rf '" + directory + "'";
    EXPECT_EQ(0, system(command.c_str()));
}

std::string FilesTest::Path(const std::string& name) const {
    return directory + "/" + name;
}

std::string FilesTest::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = Path(name);
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, f);
    if (f) {
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

std::vector<uint8_t> FilesTest::Read(const std::string& path) const {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back((uint8_t)c);
    fclose(f);
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}
