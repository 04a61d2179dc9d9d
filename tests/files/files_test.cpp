// The in-memory file layer and packed library files: reads, seeks, the name scrambling, the
// writer and reader agreeing, entry lookup, the handler table and damaged libraries.
#include <gtest/gtest.h>
#include "test_common.h"
#include <kestra.h>
#include <marlix_platform.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A scratch directory, the memory tracker running and the engine's handlers registered.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        MarlixSetHeadless(1);
        ASSERT_TRUE(scratch.Make("files"));
        directory = scratch.path;
        KS_MemoryInit();
        KS_ClearLibraryHandlers();
        KS_RegisterLibraryHandlers();
    }
    void TearDown() override {
        if (KS_LibraryIsOpen()) KS_CloseLibrary();
        KS_ZukClose();
        EXPECT_EQ(0, KS_MemoryBlockCount()) << "engine blocks left behind";
        KS_MemoryShutdown();
        scratch.Remove();
    }
    std::string Path(const std::string& name) const { return directory + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        FILE* f = fopen(Path(name).c_str(), "wb");
        EXPECT_NE(nullptr, f);
        if (f) {
            if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return Path(name);
    }
    Bytes Read(const std::string& path) const {
        Bytes bytes;
        if (FILE* f = fopen(path.c_str(), "rb")) {
            for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
            fclose(f);
        }
        return bytes;
    }
    // A library written by the engine's writer; entries as (name, contents).
    std::string Library(const std::string& name, int32_t seed,
                        const std::vector<std::pair<std::string, std::string>>& entries) const {
        std::vector<KSLibraryEntry> list;
        for (const auto& e : entries) list.push_back({e.first.c_str(), e.second.data(), (int32_t)e.second.size()});
        EXPECT_EQ(1, KS_WriteLibrary(Path(name).c_str(), seed, "test library", list.data(), (int32_t)list.size()));
        return Path(name);
    }
    // The contents of `name` as the file layer reads it ("<null>" when it does not open).
    static std::string Contents(const char* name) {
        KSFile* file = KS_OpenFile(name);
        if (!file) return "<null>";
        std::string text((const char*)file->data, (size_t)file->size);
        KS_CloseFile(file);
        return text;
    }

    ScratchFolder scratch;
    std::string directory;
};

static Bytes Text(const char* s) {
    return Bytes(s, s + strlen(s));
}

TEST_F(FilesTest, ReadsStopAtTheEndAndSeeksStayInside) {
    KSFile* file = KS_OpenFile(Write("ten.bin", Text("0123456789")).c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(10, file->size);
    char buffer[40];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(4, KS_ReadFile(buffer, 2, 2, file));
    // Ten items of four bytes with six bytes left: six bytes copied and counted.
    EXPECT_EQ(6, KS_ReadFile(buffer, 4, 10, file));
    EXPECT_EQ(0, memcmp(buffer, "456789#", 7));
    EXPECT_NE(0, KS_EndOfFile(file));
    EXPECT_EQ(0, KS_ReadByte(file));
    EXPECT_EQ(10, KS_TellFile(file));
    KS_SeekFile(file, -4, KS_SEEK_END);
    EXPECT_EQ(4, KS_ReadFile(buffer, 1, 40, file));  // four bytes left to read
    KS_SeekFile(file, 3, KS_SEEK_SET);
    KS_SeekFile(file, 2, KS_SEEK_CUR);
    EXPECT_EQ('5', KS_ReadByte(file));
    KS_SeekFile(file, -100, KS_SEEK_CUR);
    EXPECT_EQ(0, KS_TellFile(file));
    KS_SeekFile(file, 0x7FFFFFFF, KS_SEEK_END);  // no wrap-around of the sum
    EXPECT_EQ(file->data + 10, file->current);
    KS_SeekFile(file, 0, KS_SEEK_SET);
    // 65536 * 65536 wraps to 0 in 32 bits; it still asks for more than there is.
    EXPECT_EQ(10, KS_ReadFile(buffer, 65536, 65536, file));
    KS_CloseFile(file);

    file = KS_OpenFile(Write("bytes.bin", {0xFF, 0x80}).c_str());
    EXPECT_EQ(0xFF, KS_ReadByte(file));  // unsigned
    KS_CloseFile(file);
    EXPECT_EQ(nullptr, KS_OpenFile(Path("absent.bin").c_str()));
    EXPECT_EQ("", Contents(Write("empty.bin", {}).c_str()));
}

TEST(LibraryNames, ScramblingFollowsTheSeedSequence) {
    // Offsets worked out by hand from s = (s * 6293 + 997) % 16384 and s * 50 / 16384: from 0,
    // from a negative state (the remainder and the division keep the sign) and from a state
    // whose update wraps in 32 bits.
    const struct {
        int32_t seed;
        int offsets[3];
    } cases[] = {{0, {3, 0, 36}}, {-1, {-16, -5, -14}}, {0x7FFFFFFF, {33, 44, 35}}};
    for (const auto& c : cases) {
        uint8_t stored[3];
        KS_ZukScrambleName(c.seed, "AAA", stored, 3);
        for (int k = 0; k < 3; k++) EXPECT_EQ('A' + c.offsets[k], stored[k]) << c.seed << " " << k;
    }
    // Reading undoes writing, upper-cased, also where a stored byte wrapped past 127.
    for (int32_t seed : {0, -1, 12345, -987654, 0x7FFFFFFF, (int32_t)0x80000000}) {
        for (const char* name : {"font.dat", "zzzzzzzzzzzzzz", "~tilde"}) {
            int32_t n = (int32_t)strlen(name);
            uint8_t stored[14];
            char plain[15] = {0};
            KS_ZukScrambleName(seed, name, stored, n);
            KS_ZukUnscrambleName(seed, stored, plain, n);
            std::string upper(name);
            for (char& ch : upper) ch = (char)toupper((unsigned char)ch);
            EXPECT_EQ(upper, plain) << seed;
        }
    }
}

TEST_F(FilesTest, WriterLayoutAndItsRefusals) {
    Bytes bytes = Read(Library("two.lib", 77, {{"a.txt", "xyz"}, {"bb", "q"}}));
    ASSERT_EQ(21u + 19 + 3 + 19 + 1, bytes.size());
    EXPECT_EQ(77, bytes[2]);
    EXPECT_EQ(5, bytes[21]);                         // name length
    EXPECT_EQ(3, bytes[21 + 15]);                    // data size
    EXPECT_EQ(0, memcmp(&bytes[21 + 19], "xyz", 3)); // the data right after its record
    EXPECT_EQ(2, bytes[21 + 19 + 3]);                // the next record right after the data
    // Nothing the reader would refuse: a name it cannot hold, or an empty entry (whose load is the
    // fatal "Read Failed (lib2buf)"); and no file is left behind.
    for (const KSLibraryEntry& bad : {KSLibraryEntry{"fifteen-chars.x", "d", 1}, KSLibraryEntry{"", "d", 1},
                                      KSLibraryEntry{"a", "d", -1}, KSLibraryEntry{"a", "", 0},
                                      KSLibraryEntry{"a", nullptr, 0}, KSLibraryEntry{"a", nullptr, 1}}) {
        KSLibraryEntry both[2] = {{"ok", "d", 1}, bad};
        EXPECT_EQ(KSERR_WRITE, KS_WriteLibrary(Path("bad.lib").c_str(), 1, nullptr, both, 2));
        EXPECT_TRUE(Read(Path("bad.lib")).empty());
    }
}

TEST_F(FilesTest, EntriesAreFoundInAnyCaseAndTheFirstOfTwoEqualNamesWins) {
    std::string path = Library("font.pbs", 4242, {{"font.dat", "metrics"}, {"FONTP0.TGA", "page"}, {"FONT.DAT", "second"}});
    KS_OpenLibrary(path.c_str());
    ASSERT_NE(0, KS_LibraryIsOpen());
    EXPECT_EQ(3, KS_LibraryEntryCount());
    char name[KS_LIBRARY_ENTRY_NAME + 1];
    KS_LibraryEntryName(1, name);
    EXPECT_STREQ("FONTP0.TGA", name);
    for (const char* spelling : {"font.dat", "FONT.DAT", "Font.Dat"}) EXPECT_EQ("metrics", Contents(spelling));
    EXPECT_EQ("page", Contents("fontp0.tga"));
    // Neither a missing name nor a disk path falls back to the disk while the library is open.
    std::string loose = Write("loose.txt", Text("on disk"));
    EXPECT_EQ("<null>", Contents("loose.txt"));
    EXPECT_EQ("<null>", Contents(loose.c_str()));
    KS_CloseLibrary();
    EXPECT_EQ("on disk", Contents(loose.c_str()));
    EXPECT_EQ("<null>", Contents("font.dat"));
}

TEST_F(FilesTest, EveryRegisteredExtensionInAnyCaseSelectsTheLibraryFormat) {
    for (const char* file : {"a.LIB", "b.chr", "c.Lsl", "d.Pbs"}) {
        KS_OpenLibrary(Library(file, 5, {{"e", "data"}}).c_str());
        EXPECT_EQ("data", Contents("E")) << file;
        KS_CloseLibrary();
    }
}

TEST_F(FilesTest, DamagedDirectoriesEndWithoutRunningAway) {
    std::string path = Library("bad.lib", 8, {{"one", "11"}, {"two", "22"}, {"three", "33"}});
    Bytes bytes = Read(path);
    const size_t second = 21 + 19 + 2;
    struct Case {
        size_t at;
        std::vector<uint8_t> patch;
        size_t size;
        int32_t entries;
        const char* name;
        const char* contents;
    } cases[] = {
        {21, {0}, 0, 3, "two", "22"},                       // a first name of length 0: an empty name
        {21, {200}, 0, 3, "two", "22"},                     // a length beyond the record reads its 14 bytes
        {second + 15, {0xE2, 0xFF, 0xFF, 0xFF}, 0, 1, "one", "11"},  // size -30 would step backwards
        {0, {}, bytes.size() - 14, 2, "two", "22"},         // the last record cut short
        {0, {}, 10, 0, "one", "<null>"},                    // shorter than its header
    };
    for (const Case& c : cases) {
        Bytes damaged = bytes;
        for (size_t i = 0; i < c.patch.size(); i++) damaged[c.at + i] = c.patch[i];
        if (c.size) damaged.resize(c.size);
        Write("bad.lib", damaged);
        KS_OpenLibrary(path.c_str());
        EXPECT_EQ(c.entries, KS_LibraryEntryCount()) << c.at << " " << c.size;
        EXPECT_EQ(c.contents, Contents(c.name));
        if (c.patch == std::vector<uint8_t>{0}) {
            EXPECT_EQ("11", Contents(""));
        }
        KS_CloseLibrary();
    }
}

namespace {
int opened = -1;
template <int N>
void OpenAs(const char*) {
    opened = N;
}
}  // namespace

TEST_F(FilesTest, HandlerTableKeeps63RowsAndTheLastMatchWins) {
    ASSERT_EQ(4, KS_LibraryHandlerCount());  // the engine's own four
    KSLibraryHandler mine;
    memset(&mine, 0, sizeof(mine));
    strcpy(mine.extension, ".lib");  // kept upper case: a later row for .LIB now wins
    mine.open = OpenAs<1>;
    KS_RegisterLibraryHandler(&mine);
    KS_OpenLibrary(Path("x.Lib").c_str());
    EXPECT_EQ(1, opened);
    KS_CloseLibrary();
    // Beyond 63 rows registrations share one spare slot that is never searched: .YYY falls to
    // row 0, the engine's own format.
    for (int i = 0; KS_LibraryHandlerCount() < 63; i++) {
        const char digits[] = "0123456789";
        const char extension[5] = {'.', 'F', digits[i / 10 % 10], digits[i % 10], 0};
        memcpy(mine.extension, extension, sizeof(extension));
        KS_RegisterLibraryHandler(&mine);
    }
    strcpy(mine.extension, ".YYY");
    KS_RegisterLibraryHandler(&mine);
    KS_RegisterLibraryHandler(&mine);
    EXPECT_EQ(63, KS_LibraryHandlerCount());
    KS_OpenLibrary(Library("x.yyy", 6, {{"k", "v"}}).c_str());
    EXPECT_EQ("v", Contents("k"));
    KS_CloseLibrary();
}

TEST_F(FilesTest, RepeatedEngineStartsDoNotFillTheHandlerTable) {
    // Every engine start registers the same four handlers again; a process starting it a hundred
    // times must still find room for a handler of its own and keep reading libraries.
    for (int start = 0; start < 100; start++) KS_RegisterLibraryHandlers();
    EXPECT_EQ(4, KS_LibraryHandlerCount());
    KSLibraryHandler mine;
    memset(&mine, 0, sizeof(mine));
    strcpy(mine.extension, ".OWN");
    mine.open = OpenAs<2>;
    KS_RegisterLibraryHandler(&mine);
    KS_OpenLibrary(Path("x.own").c_str());
    EXPECT_EQ(2, opened);
    KS_CloseLibrary();
    // A different handler for a taken extension still gets a row of its own, and wins.
    mine.open = OpenAs<3>;
    strcpy(mine.extension, ".PBS");
    KS_RegisterLibraryHandler(&mine);
    EXPECT_EQ(6, KS_LibraryHandlerCount());
    KS_OpenLibrary(Path("x.pbs").c_str());
    EXPECT_EQ(3, opened);
    KS_CloseLibrary();
    KS_OpenLibrary(Library("x.chr", 9, {{"k", "v"}}).c_str());
    EXPECT_EQ("v", Contents("k"));
    KS_CloseLibrary();
}

using FilesDeathTest = FilesTest;

TEST_F(FilesDeathTest, MissingLibrariesAndUnreadableEntriesAreFatal) {
    std::string gone = Path("gone.lib");
    EXPECT_EXIT(KS_OpenLibrary(gone.c_str()), ::testing::ExitedWithCode(1), "Cannot find library file: ");
    std::string path = Library("cut.lib", 2, {{"big", std::string(100, 'x')}});
    Bytes bytes = Read(path);
    bytes.resize(bytes.size() - 50);
    Write("cut.lib", bytes);
    KS_OpenLibrary(path.c_str());
    EXPECT_EXIT(KS_OpenFile("big"), ::testing::ExitedWithCode(1), "Read Failed \\(lib2buf\\)");
    EXPECT_EQ(nullptr, KS_OpenFile("small"));  // an absent entry is only a null
    remove(path.c_str());
    EXPECT_EXIT(KS_OpenFile("big"), ::testing::ExitedWithCode(1), "Cannot find library file:");
    KS_CloseLibrary();
}
