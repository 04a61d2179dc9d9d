// The fatal-error path: log lines, the release of the engine's buffers, the box, and exit(1) with
// exit handlers.
#include "kestra.h"
#include "scratch_dir.h"

#include <marlix_platform.h>

#include <stdio.h>

namespace {

// Runs in the dying child through exit(): reports what the box log and the log file hold, so the
// parent can check it on standard error.
void ReportAtExit(void)
{
    int count = MarlixMessageBoxCount();
    fprintf(stderr, "boxes=%d leaks=%d tracker=%d\n", count, KS_MemoryLeakCount(), KS_MemoryIsInitialised());
    for (int i = 0; i < count; i++)
        fprintf(stderr, "box[%d] text=<%s> caption=<%s> given=%d style=0x%X owner=%s\n", i,
                MarlixMessageBoxText(i), MarlixMessageBoxCaption(i), MarlixMessageBoxCaptionGiven(i),
                (unsigned)MarlixMessageBoxStyle(i),
                MarlixMessageBoxOwner(i) == (HWND)0x1234 ? "engine-window" : "other");
    FILE* log = fopen("ks.log", "r");
    if (log) {
        char line[512];
        while (fgets(line, sizeof(line), log))
            fprintf(stderr, "log: %s", line + 9);   // past the "HH:MM:SS " stamp
        fclose(log);
    }
    fflush(stderr);
    // The child never reaches the fixture's tear-down: leave no scratch directory behind.
    char cwd[4096];
    remove("ks.log");
    if (getcwd(cwd, sizeof(cwd)) && strncmp(cwd, "/tmp/marlix_runtime_", 20) == 0)
        rmdir(cwd);
}

// Dies with one tracked block live: the engine's release reports it as a leak before the box.
void Die(const char* text, const char* caption, int verboseOn)
{
    MarlixSetHeadless(1);
    MarlixMessageBoxSetAnswer(IDOK);
    MarlixMessageBoxClear();
    atexit(ReportAtExit);
    KS_MemoryInit();
    KS_Alloc(16, "fatal_test", 1);
    verbose = verboseOn;
    KS_SetWindow((HWND)0x1234);
    KS_FatalError(text, caption);
}

class FatalErrorDeathTest : public ScratchDir {};

TEST_F(FatalErrorDeathTest, ShowsTheBoxAfterReleasingBuffersAndExitsWithOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Die("D3DERR_INVALIDCALL", "CreateDevice Failed", 1), ::testing::ExitedWithCode(1),
                "boxes=1 leaks=1 tracker=0\n"
                ".*box\\[0\\] text=<D3DERR_INVALIDCALL> caption=<CreateDevice Failed> given=1 "
                "style=0x11010 owner=engine-window\n"
                "log: D3DERR_INVALIDCALL CreateDevice Failed\n"
                "log: Shutting down D3D\n"
                "log: Done shutdown  D3D\n"
                "log: Shutting down Kestra\n");
}

TEST_F(FatalErrorDeathTest, NullCaptionGivesTheDefaultTitleAndLogsNull)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Die("Can't open HUD texture", nullptr, 1), ::testing::ExitedWithCode(1),
                "box\\[0\\] text=<Can't open HUD texture> caption=<[^>]+> given=0 style=0x11010.*\n"
                "log: Can't open HUD texture \\(null\\)\n"
                "(log: .*\n)*log: Shutting down Kestra\n");
}

TEST_F(FatalErrorDeathTest, SilentLogWithoutVerbose)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Die("outer", "Outer", 0), ::testing::ExitedWithCode(1),
                "boxes=1 leaks=1 tracker=0\n"
                "box\\[0\\] text=<outer> caption=<Outer> given=1 style=0x11010 owner=engine-window\n$");
}

}  // namespace
