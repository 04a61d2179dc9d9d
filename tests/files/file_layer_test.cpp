// The in-memory file layer: whole-file reads from the disk and the read, seek and tell calls.
#include "files_test.h"

#include <string.h>

TEST_F(FilesTest, DiskFileIsReadWhole) {
    std::string path = Write("ten.bin", Bytes("0123456789"));
    KSFile* file = KS_OpenFile(path.c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(10, file->size);
    EXPECT_EQ(0, KS_TellFile(file));
    EXPECT_EQ(0, memcmp(file->data, "0123456789", 10));
    KS_CloseFile(file);
}

TEST_F(FilesTest, MissingFileAndNullAreRefused) {
    EXPECT_EQ(nullptr, KS_OpenFile(Path("absent.bin").c_str()));
    EXPECT_EQ(nullptr, KS_OpenFile(nullptr));
    KS_CloseFile(nullptr);  // ignored
}

TEST_F(FilesTest, EmptyFileOpensAtItsEnd) {
    KSFile* file = KS_OpenFile(Write("empty.bin", {}).c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, file->size);
    EXPECT_NE(0, KS_EndOfFile(file));
    EXPECT_EQ(0, KS_ReadByte(file));
    char c;
    EXPECT_EQ(0, KS_ReadFile(&c, 1, 1, file));
    KS_CloseFile(file);
}

TEST_F(FilesTest, ReadFileCountsBytesAndStopsAtTheEnd) {
    KSFile* file = KS_OpenFile(Write("ten.bin", Bytes("0123456789")).c_str());
    ASSERT_NE(nullptr, file);
    char buffer[40];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(4, KS_ReadFile(buffer, 2, 2, file));
    // Ten items of four bytes with six bytes left: six bytes copied, the rest untouched.
    EXPECT_EQ(6, KS_ReadFile(buffer, 4, 10, file));
    EXPECT_EQ(0, memcmp(buffer, "456789#", 7));
    EXPECT_EQ(10, KS_TellFile(file));
    EXPECT_NE(0, KS_EndOfFile(file));
    EXPECT_EQ(0, KS_ReadFile(buffer, 1, 1, file));
    EXPECT_EQ(0, KS_ReadFile(buffer, -1, 4, file));
    KS_CloseFile(file);
}

TEST_F(FilesTest, ReadFileRejectsSizesWhoseProductOverflows) {
    KSFile* file = KS_OpenFile(Write("ten.bin", Bytes("0123456789")).c_str());
    ASSERT_NE(nullptr, file);
    char buffer[10];
    // 65536 * 65536 wraps to 0 in 32 bits: the product must still count as "more than is left".
    EXPECT_EQ(10, KS_ReadFile(buffer, 65536, 65536, file));
    KS_CloseFile(file);
}

TEST_F(FilesTest, ReadByteGivesUnsignedBytesAndZeroAtTheEnd) {
    KSFile* file = KS_OpenFile(Write("two.bin", {0xFF, 0x80}).c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0xFF, KS_ReadByte(file));
    EXPECT_EQ(0x80, KS_ReadByte(file));
    EXPECT_EQ(0, KS_ReadByte(file));
    EXPECT_EQ(2, KS_TellFile(file));  // the position does not move past the end
    KS_CloseFile(file);
}

TEST_F(FilesTest, SeekOriginsAndLimits) {
    KSFile* file = KS_OpenFile(Write("ten.bin", Bytes("0123456789")).c_str());
    ASSERT_NE(nullptr, file);
    KS_SeekFile(file, -4, KS_SEEK_END);
    EXPECT_EQ(6, KS_TellFile(file));
    char buffer[10];
    EXPECT_EQ(4, KS_ReadFile(buffer, 1, 10, file));  // four bytes left to read
    KS_SeekFile(file, 3, KS_SEEK_SET);
    KS_SeekFile(file, 2, KS_SEEK_CUR);
    EXPECT_EQ('5', KS_ReadByte(file));
    KS_SeekFile(file, -100, KS_SEEK_CUR);
    EXPECT_EQ(0, KS_TellFile(file));
    KS_SeekFile(file, 1000, KS_SEEK_SET);
    EXPECT_EQ(10, KS_TellFile(file));
    KS_SeekFile(file, 0x7FFFFFFF, KS_SEEK_END);  // no wrap-around of the sum
    EXPECT_EQ(10, KS_TellFile(file));
    EXPECT_EQ(file->data + 10, file->current);
    KS_CloseFile(file);
}
