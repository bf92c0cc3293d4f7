// The connection's callbacks as an application meets them: with no service to ask where the content
// is, a read of a placeholder whose data is not on the disk fails at once instead of waiting for the
// time-out.
#include "cfapi/sync_root_fixture.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

using CallbackTest = SyncRootTest;

TEST_F(CallbackTest, AnApplicationsReadOfADehydratedFileIsRefusedAtOnceAnOpenNeedsNoContent) {
    createFile("cloud.bin", 100, "id-cloud");
    const std::string tool = nimbrel::test::appDir() + "/nimbrel-cf";
    auto opened = nimbrel::test::runCommand(tool, {"open", win("cloud.bin").toStdString()});
    EXPECT_EQ(opened.exitCode, 0) << opened.err;

    LogCapture capture;
    auto result = nimbrel::test::runCommand(tool, {"open", win("cloud.bin").toStdString(), "--read"});
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    // STATUS_UNSUCCESSFUL reaches the application as the provider's failure, not as a time-out
    // (0x800701aa) or as a missing provider (0x8007016a).
    EXPECT_NE(result.err.find("0x80070185"), std::string::npos) << result.err;
    EXPECT_TRUE(capture.contains(" getDownloadMetadata fail, "));
    EXPECT_TRUE(attributesOf("cloud.bin") & FILE_ATTRIBUTE_SPARSE_FILE);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("cloud.bin")).identityText(), "id-cloud");
}
