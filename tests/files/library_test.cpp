// Packed library files: the name scrambling, the writer and reader agreeing, entry lookup, the
// handler table, and damaged libraries.
#include "files_test.h"

#include <string.h>

namespace {


std::string Contents(KSFile* file) {
    return std::string((const char*)file->data, (size_t)file->size);
}

// Writes a library with the writer; entries given as (name, contents).
std::string WriteLibrary(const std::string& path, int32_t seed,
                         const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<KSLibraryEntry> list;
    for (const auto& e : entries)
        list.push_back({e.first.c_str(), e.second.data(), (int32_t)e.second.size()});
    EXPECT_EQ(1, KS_WriteLibrary(path.c_str(), seed, "test library", list.data(), (int32_t)list.size()));
    return path;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, int32_t value) {
    for (int i = 0; i < 4; i++) bytes[at + i] = (uint8_t)((uint32_t)value >> (8 * i));
}

}  // namespace

TEST(LibraryNames, ScramblingFollowsTheSeedSequence) {
    // Offsets worked out by hand from the sequence s = (s * 6293 + 997) % 16384, s * 50 / 16384.
    uint8_t stored[5];
    KS_ZukScrambleName(0, "ABCDE", stored, 5);
    const uint8_t fromZero[5] = {'A' + 3, 'B' + 0, 'C' + 36, 'D' + 41, 'E' + 46};
    EXPECT_EQ(0, memcmp(stored, fromZero, 5));
    // A negative state keeps its sign through the remainder and the division.
    KS_ZukScrambleName(-1, "AAA", stored, 3);
    const uint8_t fromMinusOne[3] = {'A' - 16, 'A' - 5, 'A' - 14};
    EXPECT_EQ(0, memcmp(stored, fromMinusOne, 3));
    // The state update wraps like 32-bit arithmetic.
    KS_ZukScrambleName(0x7FFFFFFF, "AAAA", stored, 4);
    const uint8_t fromMax[4] = {'A' + 33, 'A' + 44, 'A' + 35, 'A' + 2};
    EXPECT_EQ(0, memcmp(stored, fromMax, 4));
}

TEST(LibraryNames, UnscrambleUpperCasesAndUndoesWrappedBytes) {
    const char* names[] = {"font.dat", "FONTP0.TGA", "zzzzzzzzzzzzzz", "~tilde", "a"};
    for (int32_t seed : {0, 1, -1, 12345, -987654, 0x7FFFFFFF, (int32_t)0x80000000}) {
        for (const char* name : names) {
            int32_t n = (int32_t)strlen(name);
            uint8_t stored[14];
            char plain[15] = {0};
            KS_ZukScrambleName(seed, name, stored, n);
            KS_ZukUnscrambleName(seed, stored, plain, n);
            std::string upper(name);
            for (char& c : upper) c = (char)toupper((unsigned char)c);
            EXPECT_EQ(upper, std::string(plain)) << "seed " << seed;
        }
    }
}

TEST_F(FilesTest, WriterLayoutIsTheLibraryFormat) {
    std::string path = WriteLibrary(Path("two.lib"), 77, {{"a.txt", "xyz"}, {"bb", ""}});
    std::vector<uint8_t> bytes = Read(path);
    ASSERT_EQ(21u + 19 + 3 + 19, bytes.size());
    EXPECT_EQ(77, (int32_t)(bytes[2] | bytes[3] << 8 | bytes[4] << 16 | bytes[5] << 24));
    EXPECT_EQ(5, bytes[21]);                                   // name length
    EXPECT_EQ(3, bytes[21 + 15]);                              // data size
    EXPECT_EQ(0, memcmp(&bytes[21 + 19], "xyz", 3));           // data right after the record
    EXPECT_EQ(2, bytes[21 + 19 + 3]);                          // next record after the data
    uint8_t stored[5];
    KS_ZukScrambleName(77, "a.txt", stored, 5);
    EXPECT_EQ(0, memcmp(&bytes[22], stored, 5));
}

TEST_F(FilesTest, WriterRefusesNamesTheFormatCannotHold) {
    KSLibraryEntry longName = {"fifteen-chars.x", "d", 1};
    EXPECT_EQ(KSERR_WRITE, KS_WriteLibrary(Path("bad.lib").c_str(), 1, nullptr, &longName, 1));
    KSLibraryEntry noName = {"", "d", 1};
    EXPECT_EQ(KSERR_WRITE, KS_WriteLibrary(Path("bad.lib").c_str(), 1, nullptr, &noName, 1));
    KSLibraryEntry negative = {"a", "d", -1};
    EXPECT_EQ(KSERR_WRITE, KS_WriteLibrary(Path("bad.lib").c_str(), 1, nullptr, &negative, 1));
    KSLibraryEntry fine = {"a", "d", 1};
    EXPECT_EQ(KSERR_WRITE, KS_WriteLibrary((directory + "/no/such/dir.lib").c_str(), 1, nullptr, &fine, 1));
}

TEST_F(FilesTest, EntriesRoundTripAndAreFoundInAnyCase) {
    std::string path = WriteLibrary(Path("font.pbs"), 4242,
                                    {{"font.dat", "metrics"}, {"FONTP0.TGA", "page zero"}, {"x", "1"}});
    KS_OpenLibrary(path.c_str());
    ASSERT_NE(0, KS_LibraryIsOpen());
    EXPECT_EQ(3, KS_LibraryEntryCount());
    char name[KS_LIBRARY_ENTRY_NAME + 1];
    KS_LibraryEntryName(0, name);
    EXPECT_STREQ("FONT.DAT", name);
    KS_LibraryEntryName(1, name);
    EXPECT_STREQ("FONTP0.TGA", name);

    for (const char* spelling : {"font.dat", "FONT.DAT", "Font.Dat"}) {
        KSFile* file = KS_OpenFile(spelling);
        ASSERT_NE(nullptr, file) << spelling;
        EXPECT_EQ("metrics", Contents(file));
        KS_CloseFile(file);
    }
    KSFile* page = KS_OpenFile("fontp0.tga");
    ASSERT_NE(nullptr, page);
    EXPECT_EQ("page zero", Contents(page));
    EXPECT_EQ(9, KS_ReadFile(name, 1, 14, page));
    KS_CloseFile(page);
    KS_CloseLibrary();
    EXPECT_EQ(0, KS_LibraryIsOpen());
}

TEST_F(FilesTest, AnOpenLibraryHidesTheDisk) {
    std::string loose = Write("loose.txt", Bytes("on disk"));
    std::string path = WriteLibrary(Path("set.lib"), 1, {{"inside.txt", "packed"}});
    KS_OpenLibrary(path.c_str());
    // Neither a name missing from the library nor a disk path falls back to the disk.
    EXPECT_EQ(nullptr, KS_OpenFile("loose.txt"));
    EXPECT_EQ(nullptr, KS_OpenFile(loose.c_str()));
    KS_CloseLibrary();
    KSFile* file = KS_OpenFile(loose.c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ("on disk", Contents(file));
    KS_CloseFile(file);
    // After closing, library names are no longer found.
    EXPECT_EQ(nullptr, KS_OpenFile("inside.txt"));
}

TEST_F(FilesTest, FirstOfTwoEqualNamesWins) {
    std::string path = WriteLibrary(Path("dup.lib"), 99, {{"same", "first"}, {"SAME", "second"}});
    KS_OpenLibrary(path.c_str());
    KSFile* file = KS_OpenFile("Same");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ("first", Contents(file));
    KS_CloseFile(file);
    KS_CloseLibrary();
}

TEST_F(FilesTest, EveryRegisteredExtensionInAnyCaseSelectsTheLibraryFormat) {
    for (const char* name : {"a.LIB", "b.chr", "c.Lsl", "d.Pbs"}) {
        std::string path = WriteLibrary(Path(name), 5, {{"e", "data"}});
        KS_OpenLibrary(path.c_str());
        KSFile* file = KS_OpenFile("E");
        ASSERT_NE(nullptr, file) << name;
        EXPECT_EQ("data", Contents(file));
        KS_CloseFile(file);
        KS_CloseLibrary();
    }
}

TEST_F(FilesTest, ZeroLengthFirstNameIsAnEmptyEntry) {
    std::string path = WriteLibrary(Path("z.lib"), 3, {{"q", "abc"}, {"next", "xy"}});
    std::vector<uint8_t> bytes = Read(path);
    bytes[21] = 0;
    Write("z.lib", bytes);
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(2, KS_LibraryEntryCount());
    char name[KS_LIBRARY_ENTRY_NAME + 1];
    KS_LibraryEntryName(0, name);
    EXPECT_STREQ("", name);
    KSFile* file = KS_OpenFile("next");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ("xy", Contents(file));
    KS_CloseFile(file);
    EXPECT_EQ(nullptr, KS_OpenFile("q"));
    KS_CloseLibrary();
}

TEST_F(FilesTest, DamagedDirectoriesEndWithoutRunningAway) {
    std::string path = WriteLibrary(Path("bad.lib"), 8, {{"one", "11"}, {"two", "22"}, {"three", "33"}});
    std::vector<uint8_t> bytes = Read(path);
    // A negative size in the second record would step backwards: the directory ends before it.
    std::vector<uint8_t> negative = bytes;
    Put32(negative, 21 + 19 + 2 + 15, -30);
    Write("bad.lib", negative);
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(1, KS_LibraryEntryCount());
    KS_CloseLibrary();

    // A name length beyond the record's 14 bytes reads only those 14.
    std::vector<uint8_t> longName = bytes;
    longName[21] = 200;
    Write("bad.lib", longName);
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(3, KS_LibraryEntryCount());
    KSFile* file = KS_OpenFile("two");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ("22", Contents(file));
    KS_CloseFile(file);
    KS_CloseLibrary();

    // A record cut short ends the directory; a file shorter than its header has none.
    Write("bad.lib", std::vector<uint8_t>(bytes.begin(), bytes.end() - 14));
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(2, KS_LibraryEntryCount());
    KS_CloseLibrary();
    Write("bad.lib", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10));
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(0, KS_LibraryEntryCount());
    EXPECT_EQ(nullptr, KS_OpenFile("one"));
    KS_CloseLibrary();
}

namespace {
int opened = -1;
template <int N>
void OpenAs(const char*) {
    opened = N;
}
}  // namespace

TEST_F(FilesTest, HandlerTableKeeps63RowsAndTheLastMatchWins) {
    // Rows 0-3 are the engine's own. Fill up to 63 rows, then register two more: both land in the
    // one spare slot, which is never searched.
    ASSERT_EQ(4, KS_LibraryHandlerCount());
    KSLibraryHandler mine;
    memset(&mine, 0, sizeof(mine));
    strcpy(mine.extension, ".pak");  // stored upper case
    mine.open = OpenAs<1>;
    KS_RegisterLibraryHandler(&mine);
    mine.open = OpenAs<2>;
    KS_RegisterLibraryHandler(&mine);  // the later row with the same extension wins
    KS_OpenLibrary(Path("x.PAK").c_str());
    EXPECT_EQ(2, opened);
    KS_CloseLibrary();

    strcpy(mine.extension, ".FIL");
    mine.open = OpenAs<3>;
    for (int i = 6; i < 63; i++) KS_RegisterLibraryHandler(&mine);
    EXPECT_EQ(63, KS_LibraryHandlerCount());
    strcpy(mine.extension, ".XTR");
    mine.open = OpenAs<4>;
    KS_RegisterLibraryHandler(&mine);
    KS_RegisterLibraryHandler(&mine);
    EXPECT_EQ(63, KS_LibraryHandlerCount());
    opened = -1;
    KS_OpenLibrary(Path("x.fil").c_str());
    EXPECT_EQ(3, opened);
    KS_CloseLibrary();

    // No row for .XTR: row 0, the engine's library format, opens it (and the file is missing).
    std::string path = WriteLibrary(Path("x.xtr"), 6, {{"k", "v"}});
    opened = -1;
    KS_OpenLibrary(path.c_str());
    EXPECT_EQ(-1, opened);
    KSFile* file = KS_OpenFile("k");
    ASSERT_NE(nullptr, file);
    KS_CloseFile(file);
    KS_CloseLibrary();
}

using FilesDeathTest = FilesTest;

TEST_F(FilesDeathTest, MissingLibraryAtOpenIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string path = Path("gone.lib");
    EXPECT_EXIT(KS_OpenLibrary(path.c_str()), ::testing::ExitedWithCode(1), "Cannot find library file: ");
}

TEST_F(FilesDeathTest, LibraryRemovedBeforeALoadIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string path = WriteLibrary(Path("vanish.lib"), 2, {{"a", "b"}});
    KS_OpenLibrary(path.c_str());
    remove(path.c_str());
    EXPECT_EXIT(KS_OpenFile("a"), ::testing::ExitedWithCode(1), "Cannot find library file:");
    KS_CloseLibrary();
}

TEST_F(FilesDeathTest, EntryRunningPastTheEndIsAReadFailure) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string path = WriteLibrary(Path("cut.lib"), 2, {{"big", std::string(100, 'x')}});
    std::vector<uint8_t> bytes = Read(path);
    bytes.resize(bytes.size() - 50);
    Write("cut.lib", bytes);
    KS_OpenLibrary(path.c_str());
    EXPECT_EXIT(KS_OpenFile("big"), ::testing::ExitedWithCode(1), "Read Failed \\(lib2buf\\)");
    // An absent entry is only a null, not a failure.
    EXPECT_EQ(nullptr, KS_OpenFile("small"));
    KS_CloseLibrary();
}
