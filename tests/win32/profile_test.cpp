// Private profile files: what callers rely on, checked against how kernel32 behaves.
#include <gtest/gtest.h>
#include "test_common.h"

#include <windows.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class Profile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.Make("profile"));
        dir = scratch.path;
        path = dir + "/test.ini";
    }
    void TearDown() override { scratch.Remove(); }
    void WriteFile(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string ReadFile() {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Get(const char* section, const char* key, const char* def = "default") {
        char buf[256];
        GetPrivateProfileStringA(section, key, def, buf, sizeof(buf), path.c_str());
        return buf;
    }
    ScratchFolder scratch;
    std::string dir, path;
};

TEST_F(Profile, IntegersReadAsFarAsTheyGo) {
    WriteFile(
        "[s]\r\nplain=42\r\ntrail=12abc\r\nspaced=   7  \r\nneg=-5\r\nplus=+3\r\nhex=0x1F\r\n"
        "letters=abc\r\nempty=\r\nwrap=4294967297\r\n");
    const char* f = path.c_str();
    EXPECT_EQ(GetPrivateProfileIntA("s", "plain", 9, f), 42u);
    EXPECT_EQ(GetPrivateProfileIntA("s", "trail", 9, f), 12u);
    EXPECT_EQ(GetPrivateProfileIntA("s", "spaced", 9, f), 7u);
    EXPECT_EQ((int)GetPrivateProfileIntA("s", "neg", 9, f), -5);
    EXPECT_EQ(GetPrivateProfileIntA("s", "plus", 9, f), 3u);
    EXPECT_EQ(GetPrivateProfileIntA("s", "hex", 9, f), 31u);
    // A value that is there but holds no digits is 0, an empty one gives the default.
    EXPECT_EQ(GetPrivateProfileIntA("s", "letters", 9, f), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("s", "empty", 9, f), 9u);
    EXPECT_EQ(GetPrivateProfileIntA("s", "wrap", 9, f), 1u);
}

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(GetPrivateProfileIntA("s", "k", 1200, path.c_str()), 1200u);
    EXPECT_EQ((int)GetPrivateProfileIntA("s", "k", -1, path.c_str()), -1);
    EXPECT_EQ(Get("s", "k"), "default");
    WriteFile("[s]\r\nk=1\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("s", "other", 5, path.c_str()), 5u);
    EXPECT_EQ(GetPrivateProfileIntA("t", "k", 5, path.c_str()), 5u);
    EXPECT_EQ(Get("s", "other", NULL), "");
    EXPECT_EQ(Get("s", "other", "pad   "), "pad");  // the default loses trailing blanks
}

TEST_F(Profile, SectionsAndKeysMatchWithoutRegardToCase) {
    WriteFile("[Marlix Winamp Visualizer]\r\nSceneTime=1200\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("marlix winamp visualizer", "SCENETIME", 0, path.c_str()), 1200u);
    ASSERT_TRUE(WritePrivateProfileStringA("MARLIX WINAMP VISUALIZER", "scenetime", "600", path.c_str()));
    // The existing line changed in place and keeps its spelling; no second section or key.
    EXPECT_EQ(ReadFile(), "[Marlix Winamp Visualizer]\r\nSceneTime=600\r\n");
}

TEST_F(Profile, WritesKeepOtherKeysSectionsAndLines) {
    WriteFile("; settings\n[a]\nx=1\ny=2\n\n[b]\nz=3\n");
    ASSERT_TRUE(WritePrivateProfileStringA("a", "y", "20", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("a", "w", "new", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("c", "k", "v", path.c_str()));
    EXPECT_EQ(ReadFile(), "; settings\r\n[a]\r\nx=1\r\ny=20\r\nw=new\r\n\r\n[b]\r\nz=3\r\n[c]\r\nk=v\r\n");
    EXPECT_EQ(Get("b", "z"), "3");
    EXPECT_EQ(Get("a", "x"), "1");
}

TEST_F(Profile, FileAndSectionAreCreatedOnFirstWriteAndDeletionsWork) {
    // Deleting from a file that does not exist creates nothing.
    EXPECT_TRUE(WritePrivateProfileStringA("App", "key", NULL, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("App", NULL, NULL, path.c_str()));
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    const char* f = path.c_str();
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", "string1", f));
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key2", "string2", f));
    ASSERT_TRUE(WritePrivateProfileStringA("App2", "key3", "string3", f));
    EXPECT_EQ(ReadFile(), "[App1]\r\nkey1=string1\r\nkey2=string2\r\n[App2]\r\nkey3=string3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", NULL, f));
    EXPECT_EQ(ReadFile(), "[App1]\r\nkey2=string2\r\n[App2]\r\nkey3=string3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App1", NULL, "ignored", f));
    EXPECT_EQ(ReadFile(), "[App2]\r\nkey3=string3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("App2", "key3", NULL, f));
    EXPECT_EQ(ReadFile(), "[App2]\r\n");
}

TEST_F(Profile, WriteFailuresAreReported) {
    EXPECT_FALSE(WritePrivateProfileStringA(NULL, "k", "v", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", ""));
    std::string missingDir = dir + "/no/such/dir/x.ini";
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", missingDir.c_str()));
    // A directory where the file should be is not overwritten.
    ASSERT_EQ(mkdir((dir + "/sub.ini").c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", (dir + "/sub.ini").c_str()));
}

TEST_F(Profile, StringsAreTrimmedUnquotedAndTruncated) {
    WriteFile("[section1]\r\nname1 = val1 \r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n[ section2 ]\r\n");
    EXPECT_EQ(Get("section1", "NaMe1"), "val1");
    EXPECT_EQ(Get("section1", "name2"), "val2");
    EXPECT_EQ(Get("section1", "name3"), "default");  // a line without '=' is no key
    EXPECT_EQ(Get(" section2 ", "x"), "default");
    char buf[16];
    EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "d", buf, 4, path.c_str()), 3u);
    EXPECT_STREQ(buf, "val");
    EXPECT_EQ(GetPrivateProfileStringA("section1", "name4", "d", buf, 1, path.c_str()), 0u);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "kept");
    EXPECT_EQ(GetPrivateProfileStringA("section1", "name4", "d", buf, 0, path.c_str()), 0u);
    EXPECT_STREQ(buf, "kept");
}

TEST_F(Profile, NullKeyOrSectionListsNames) {
    WriteFile("[section1]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n[section2]\r\n");
    char buf[64];
    DWORD n = GetPrivateProfileStringA("section1", NULL, "d", buf, sizeof(buf), path.c_str());
    EXPECT_EQ(n, 18u);
    EXPECT_EQ(std::string(buf, n + 1), std::string("name1\0name2\0name4\0", 19));
    n = GetPrivateProfileStringA(NULL, "x", "d", buf, sizeof(buf), path.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("section1\0section2\0", 19));
    // Too small: the last name is cut and ends in two terminators; the result is size - 2.
    n = GetPrivateProfileStringA("section1", NULL, "d", buf, 16, path.c_str());
    EXPECT_EQ(n, 14u);
    EXPECT_EQ(std::string(buf, 16), std::string("name1\0name2\0na\0\0", 16));
    n = GetPrivateProfileSectionA("section1", buf, sizeof(buf), path.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("name1=val1\0name2=\0name3\0name4=val4\0", 36));
}

TEST_F(Profile, RelativeNamesUseTheCurrentDirectoryAndBackslashesSeparate) {
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof(old)));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", "marlix.ini"));
    ASSERT_EQ(mkdir("sub", 0755), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "w", ".\\sub\\x.ini"));
    EXPECT_EQ(chdir(old), 0);
    char buf[8];
    GetPrivateProfileStringA("s", "k", "", buf, sizeof(buf), (dir + "/marlix.ini").c_str());
    EXPECT_STREQ(buf, "v");
    GetPrivateProfileStringA("s", "k", "", buf, sizeof(buf), (dir + "/sub/x.ini").c_str());
    EXPECT_STREQ(buf, "w");
}

}  // namespace
