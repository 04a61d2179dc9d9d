// Engine start-up: the procedure table before and after driver selection, the DirectX check,
// the start directory and the tick timer.
#include "display_test.h"
#include "test_common.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

const char* kStubMessage =
    "KS ERROR: You tried to call a virtual procedure that hasn't been            initialized\\.";

TEST(Startup, TableIsStubsUntilTheDriverIsSelected) {
    UseThreadsafeDeathTests();
    EXPECT_EXIT(
        {
            StdoutToStderr();
            InitEngine(true, true, false);
            KSGFX_SetMode(640, 480, 60);
        },
        ::testing::ExitedWithCode(1), kStubMessage);
    EXPECT_EXIT(
        {
            StdoutToStderr();
            KSGFX_FillRect(0, 0, 1, 1);  // no start-up at all
        },
        ::testing::ExitedWithCode(1), kStubMessage);
}

TEST(Startup, SelectingTheDriverInstallsTheDisplayProcedures) {
    InitEngine(true, true, false);
    for (int slot = 0; slot < KS_PROCEDURE_SLOTS; slot++) EXPECT_FALSE(KS_ProcedureInstalled(slot)) << slot;
    KS_SelectDriver();
    EXPECT_EQ(KS_DRIVER_D3D8, ksGlobal.driverId);
    // One installer fills every slot.
    for (int slot = 0; slot < KS_PROCEDURE_SLOTS; slot++) EXPECT_TRUE(KS_ProcedureInstalled(slot)) << slot;
    StopEngine();
}

TEST(Startup, StartUpKeepsTheCallersOptionsAndFindsDirectX8) {
    MarlixMessageBoxClear();
    ksProjection.useSecond = 1;  // left over from an earlier run
    ksProjection.scaleX2 = 7.0f;
    InitEngine(true, false);
    EXPECT_EQ(0, ksProjection.useSecond);
    EXPECT_EQ(1.0f, ksProjection.scaleX2);
    EXPECT_EQ(1, ksGlobal.runWindowed);
    EXPECT_EQ(0, ksGlobal.use32Bit);
    EXPECT_EQ(0x800, ksGlobal.directXVersion);
    EXPECT_EQ(0x800, KS_GetDirectXVersion());
    EXPECT_EQ(0, MarlixMessageBoxCount());
    EXPECT_EQ(7000, ksGlobal.polygonCapacity);
    ASSERT_NE(nullptr, ksGlobal.sortKeys);
    ksGlobal.sortKeys[6999] = 1;  // the buffers hold the capacity (the tracker checks the guards)
    ksGlobal.polygonTexSets[6999] = 1;
    EXPECT_EQ(0, StopEngine());
}

TEST(Startup, StartPathDriveAndDirectory) {
    KS_SetStartPath("c:\\Program Files\\Player\\Plugins\\vis_marlix.dll");
    EXPECT_EQ(3, ksStartPath.drive);
    EXPECT_STREQ("\\Program Files\\Player\\Plugins", ksStartPath.directory);
    KS_SetStartPath("C:\\Program Files\\Player\\Plugins\\vis_marlix.dll");
    EXPECT_EQ(3, ksStartPath.drive);
    KS_SetStartPath("a:/x/y/lib.so");
    EXPECT_EQ(1, ksStartPath.drive);
    EXPECT_STREQ("/x/y", ksStartPath.directory);

    char* cwd = getcwd(nullptr, 0);
    KS_SetStartPath("vis_marlix.dll");  // no directory: the current one
    EXPECT_STREQ(cwd, ksStartPath.directory);
    EXPECT_STREQ(cwd, ksStartPath.userDirectory);
    EXPECT_EQ(0, ksStartPath.drive);
    KS_SetStartPath("/lib.so");  // the root keeps its separator
    EXPECT_STREQ("/", ksStartPath.directory);
    free(cwd);
}

TEST(Startup, ChangeToStartPathEntersTheLibrarysDirectory) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.Make("start"));
    char* old = getcwd(nullptr, 0);
    KS_SetStartPath(scratch.File("vis_marlix.so").c_str());
    EXPECT_STREQ(scratch.path.c_str(), ksStartPath.directory);
    EXPECT_STREQ(old, ksStartPath.userDirectory);
    KS_ChangeToStartPath();
    char* now = getcwd(nullptr, 0);
    EXPECT_STREQ(scratch.path.c_str(), now);
    EXPECT_EQ(0, chdir(old));
    free(now);
    free(old);
}

TEST(Startup, ElapsedTicksOnTheVirtualClock) {
    MarlixClockEnable(1);
    KS_StartTimer(60);
    MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY / 20);  // 50 ms: three ticks
    EXPECT_EQ(3, KS_ElapsedTicks());
    // With no time advanced the call waits for the next tick: never 0.
    int64_t before = MarlixClockRead();
    EXPECT_EQ(1, KS_ElapsedTicks());
    EXPECT_GE(MarlixClockRead() - before, MARLIX_CLOCK_FREQUENCY / 60);
    MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY * 2);
    EXPECT_EQ(120, KS_ElapsedTicks());
}

TEST(Startup, TimerThatCannotTickAnswersOne) {
    KS_StartTimer(0);
    EXPECT_EQ(1, KS_ElapsedTicks());
}

}  // namespace
