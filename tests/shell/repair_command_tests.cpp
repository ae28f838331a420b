// The repair's words: the recording's length for the start-up message, and
// which arguments ask for a repair at all.

#include <gtest/gtest.h>

#include <string>

#include "app/RepairCommand.h"
#include "avi/AviRepair.h"

TEST(RepairCommand, LengthsAreWordedToTheSecond) {
    EXPECT_EQ(RecordingLengthText(0), "0 秒");
    EXPECT_EQ(RecordingLengthText(8), "8 秒");
    EXPECT_EQ(RecordingLengthText(59.6), "1 分 0 秒");  // rounded, carried into the minute
    EXPECT_EQ(RecordingLengthText(751), "12 分 31 秒");
    EXPECT_EQ(RecordingLengthText(3600), "1 小时 0 分 0 秒");
    EXPECT_EQ(RecordingLengthText(3725), "1 小时 2 分 5 秒");
    EXPECT_EQ(RecordingLengthText(-3), "0 秒");
}

TEST(RepairCommand, OnlyTheRepairOptionTakesOverTheProgram) {
    char name[] = "lumora";
    char repair[] = "--repair";
    char other[] = "--help";
    char* none[] = {name, nullptr};
    EXPECT_FALSE(RunRepairCommand(1, none).has_value());
    char* otherOption[] = {name, other, nullptr};
    EXPECT_FALSE(RunRepairCommand(2, otherOption).has_value());
    char* missingFile[] = {name, repair, nullptr};
    EXPECT_EQ(RunRepairCommand(2, missingFile), kRepairRefused);
    char file[] = "/nonexistent/capture.avi";
    char* missing[] = {name, repair, file, nullptr};
    EXPECT_EQ(RunRepairCommand(3, missing), kRepairRefused);
}
