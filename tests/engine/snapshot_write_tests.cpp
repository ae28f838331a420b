// The write helper on a full disk: every write is checked, so a full device
// is reported rather than taken for a stored file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snapshot/FileWriting.h"

TEST(SnapshotWriting, AFullDiskIsReportedWithItsReason) {
    const std::vector<char> bytes(64 * 1024, 'x');
    const WriteBlock blocks[] = {{bytes.data(), 54}, {bytes.data(), bytes.size()}};
    std::string error;
    EXPECT_FALSE(WriteWholeFile("/dev/full", blocks, 2, &error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
}
