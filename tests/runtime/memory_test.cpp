// Memory tracker: zeroed guarded blocks, owner records, overrun and double-free handling, leak report.
#include "kestra.h"
#include "scratch_dir.h"

#include <inttypes.h>

#include <regex>
#include <vector>

namespace {

std::string Addr(const void* p)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%08" PRIXPTR, (uintptr_t)p);
    return text;
}

// Log lines without their "HH:MM:SS " stamps (each stamp is checked for form on the way).
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9] ");
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (std::regex_search(line, stamp))
            line = line.substr(9);
        lines.push_back(line);
    }
    return lines;
}

class MemoryTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        KS_MemoryShutdown();
        ksMemoryLog = 1;
    }
    void TearDown() override
    {
        KS_MemoryShutdown();
        ksMemoryLog = 0;
        ScratchDir::TearDown();
    }
};

TEST_F(MemoryTest, BlocksAreZeroedBetweenGuardWords)
{
    KS_MemoryInit();
    // Dirty the heap first so zeroing cannot pass by luck.
    void* dirty = malloc(64);
    memset(dirty, 0x5A, 64);
    free(dirty);

    uint8_t* p = (uint8_t*)KS_Alloc(10, "test", 1);
    ASSERT_NE(p, nullptr);
    // Any engine record (pointers, doubles) may live in a block.
    EXPECT_EQ((uintptr_t)p % KS_MEMORY_ALIGN, 0u);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(p[i], 0) << i;
    for (int i = 1; i <= 4; i++) {
        EXPECT_EQ(p[-i], 0xEE);
        EXPECT_EQ(p[9 + i], 0xEE);
    }
    EXPECT_EQ(KS_MemoryBlockCount(), 1);
    EXPECT_EQ(KS_MemoryTotal(), 18);
    KS_Free(p, "test", 2);
    EXPECT_EQ(KS_MemoryBlockCount(), 0);
    EXPECT_EQ(KS_MemoryTotal(), 0);

    // Zero-sized blocks are legal and still guarded.
    uint8_t* z = (uint8_t*)KS_Alloc(0, "test", 3);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z[-1], 0xEE);
    EXPECT_EQ(z[0], 0xEE);
    KS_Free(z, "test", 4);
}

TEST_F(MemoryTest, LogLinesNameOwnerAndAddresses)
{
    KS_MemoryInit();
    uint8_t* p = (uint8_t*)KS_Alloc(10, "Ksmat", 42);
    ASSERT_NE(p, nullptr);
    KS_Free(p, "Ksmat", 7);
    // The engine's macro passes the module name of the file and the line.
#define KS_MODULE "KSHRDWRE"
    int line = __LINE__ + 1;
    void* q = KS_ALLOC(12);
    ASSERT_NE(q, nullptr);
#undef KS_MODULE
    std::vector<std::string> lines = Lines(ReadFile("ks.log"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Memory Log file initialized.....");
    EXPECT_EQ(lines[1], "-------------------------");
    EXPECT_EQ(lines[2], "Ksmat (L42) allocated 10 bytes at " + Addr(p - 4));
    EXPECT_EQ(lines[3], "Ksmat (L7) called deallocated memory at " + Addr(p));
    EXPECT_EQ(lines[4], "KSHRDWRE (L" + std::to_string(line) + ") allocated 12 bytes at " +
                            Addr((uint8_t*)q - 4));
}

TEST_F(MemoryTest, OverrunsAreReportedAndTheBlockStillFreed)
{
    KS_MemoryInit();
    uint8_t* after = (uint8_t*)KS_Alloc(10, "after", 1);
    uint8_t* both = (uint8_t*)KS_Alloc(10, "both", 2);
    uint8_t* before = (uint8_t*)KS_Alloc(10, "before", 3);
    ASSERT_TRUE(after && both && before);
    after[10] = 0;
    both[-1] = 0;
    both[10] = 0;
    before[-4] = 1;   // the far end of the leading guard
    remove("ks.log");
    KS_Free(after, "t", 10);
    KS_Free(both, "t", 11);
    KS_Free(before, "t", 12);
    std::vector<std::string> lines = Lines(ReadFile("ks.log"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "Memory Overrun (> Size) at address " + Addr(after - 4) + ", Owner is after (L1)");
    EXPECT_EQ(lines[3], "Memory Overrun (< 0) at address " + Addr(both - 4) + ", Owner is both (L2)");
    EXPECT_EQ(lines[5], "Memory Overrun (< 0) at address " + Addr(before - 4) + ", Owner is before (L3)");
    EXPECT_EQ(KS_MemoryBlockCount(), 0);
    EXPECT_EQ(KS_MemoryTotal(), 0);
}

TEST_F(MemoryTest, UnknownAndRepeatedFreesFreeNothing)
{
    KS_MemoryInit();
    uint8_t* a = (uint8_t*)KS_Alloc(10, "a", 1);
    uint8_t* b = (uint8_t*)KS_Alloc(20, "b", 2);
    ASSERT_TRUE(a && b);
    KS_Free(a, "x", 5);
    remove("ks.log");
    KS_Free(a, "x", 6);          // second free of the same block
    KS_Free(b + 1, "x", 7);      // not a block address
    KS_Free(nullptr, "x", 8);
    std::vector<std::string> lines = Lines(ReadFile("ks.log"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "x (L6) Unable to find free address in mem list at " + Addr(a));
    EXPECT_EQ(lines[3], "x (L7) Unable to find free address in mem list at " + Addr(b + 1));
    EXPECT_EQ(lines[5], "x (L8) Unable to find free address in mem list at " + Addr(nullptr));
    EXPECT_EQ(KS_MemoryBlockCount(), 1);
    EXPECT_EQ(KS_MemoryTotal(), 28);
    EXPECT_EQ(b[19], 0);
    KS_Free(b, "x", 9);
    EXPECT_EQ(KS_MemoryBlockCount(), 0);

    // With the list empty again, a null free must not mistake the empty list for a block.
    KS_Free(nullptr, "x", 10);
    EXPECT_EQ(KS_MemoryBlockCount(), 0);
}

TEST_F(MemoryTest, LeakReportCountsGuardBytesAndFreesEverything)
{
    KS_MemoryInit();
    void* keep1 = KS_Alloc(10, "Ksobject", 11);
    void* gone = KS_Alloc(5, "Ksobject", 12);
    void* keep2 = KS_Alloc(20, "Ksentity", 13);
    ASSERT_TRUE(keep1 && gone && keep2);
    KS_Free(gone, "Ksobject", 14);
    remove("ks.log");
    KS_MemoryShutdown();
    std::string text = ReadFile("ks.log");
    // The stamp is followed by the two line ends of the report's own text.
    EXPECT_TRUE(std::regex_search(text, std::regex("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9] \n\n2 memory "
                                                   "leak\\(s\\) detected using 46 bytes\n")))
        << text;
    std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "Memory leak At:" + Addr(keep1) + " Size:10 Owner:Ksobject (L11)");
    EXPECT_EQ(lines[4], "Memory leak At:" + Addr(keep2) + " Size:20 Owner:Ksentity (L13)");
    EXPECT_FALSE(KS_MemoryIsInitialised());
    EXPECT_EQ(KS_MemoryBlockCount(), 0);
    EXPECT_EQ(KS_MemoryTotal(), 0);
}

TEST_F(MemoryTest, StoppedTrackerRefusesAndRestartReleasesOldBlocks)
{
    EXPECT_EQ(KS_Alloc(10, "t", 1), nullptr);
    KS_Free(nullptr, "t", 2);

    KS_MemoryInit();
    ASSERT_NE(KS_Alloc(10, "old", 1), nullptr);
    remove("ks.log");
    KS_MemoryInit();   // a second start without shut-down reports the first run's block
    std::vector<std::string> lines = Lines(ReadFile("ks.log"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "1 memory leak(s) detected using 18 bytes");
    EXPECT_EQ(lines[3].substr(0, 15), "Memory leak At:");
    EXPECT_EQ(KS_MemoryBlockCount(), 0);
    EXPECT_EQ(KS_MemoryTotal(), 0);
}

TEST_F(MemoryTest, NewListAfterEverythingWasFreed)
{
    KS_MemoryInit();
    for (int round = 0; round < 2; round++) {
        void* blocks[4];
        for (int i = 0; i < 4; i++)
            ASSERT_NE(blocks[i] = KS_Alloc(4 + i, "r", i), nullptr);
        // Middle, head, tail, then the last: the tail must be relinked for the next append.
        KS_Free(blocks[2], "r", 0);
        KS_Free(blocks[0], "r", 0);
        KS_Free(blocks[3], "r", 0);
        void* extra = KS_Alloc(1, "r", 0);
        KS_Free(blocks[1], "r", 0);
        KS_Free(extra, "r", 0);
        EXPECT_EQ(KS_MemoryBlockCount(), 0);
        EXPECT_EQ(KS_MemoryTotal(), 0);
    }
}

TEST_F(MemoryTest, SilentWithoutTheMemoryLogAndBadSizesRefused)
{
    ksMemoryLog = 0;
    KS_MemoryInit();
    uint8_t* p = (uint8_t*)KS_Alloc(10, "quiet", 1);
    ASSERT_NE(p, nullptr);
    p[10] = 0;
    KS_Free(p, "quiet", 2);
    KS_Free(p, "quiet", 3);
    EXPECT_EQ(KS_Alloc(-1, "quiet", 4), nullptr);
    EXPECT_EQ(KS_Alloc(INT32_MAX, "quiet", 5), nullptr);
    EXPECT_NE(KS_Alloc(3, "quiet", 6), nullptr);
    KS_MemoryShutdown();
    EXPECT_FALSE(Exists("ks.log"));
}

}  // namespace
