// Provider and application in separate processes: cf_test_provider serves, nimbrel-cf reads.

#include <gtest/gtest.h>

#include "cf_test_support.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

class CloudFilesProcesses : public ProviderProcessTest {};

TEST_F(CloudFilesProcesses, SilentProviderTimesOutAndTheApplicationFails) {
    cloudFile("quiet.bin", 5000);
    ChildProcess::Options options;
    options.env["NIMBREL_CF_FETCH_TIMEOUT_MS"] = "300";
    auto silent = startProvider("silent", "0", options);
    auto result = runCommand(tool(), {"open", root + "/quiet.bin", "--read"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("0x800701aa"), std::string::npos) << result.err;
    EXPECT_TRUE(waitUntil([&] { return silent->out().find("cancel flags=1") != std::string::npos; }));
}

TEST_F(CloudFilesProcesses, InfoShowsOrdinaryFilesAndPlaceholdersAsExplorerWould) {
    writeFile(root + "/plain.txt", "plain");
    cloudFile("cloud.bin", 8192);
    auto result = runCommand(tool(), {"info", root + "/plain.txt", root + "/cloud.bin", root + "/missing"});
    // A missing item fails the command, and the message names it; the others are still described.
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "nimbrel-cf: " + root + "/missing: no such file or folder\n");
    rapidjson::Document document;
    document.Parse(result.out.c_str());
    ASSERT_TRUE(document.IsArray() && document.Size() == 3) << result.out;
    EXPECT_FALSE(document[0]["placeholder"].GetBool());
    EXPECT_FALSE(document[0]["attributes"].GetUint() & FILE_ATTRIBUTE_REPARSE_POINT);
    const auto& cloudItem = document[1];
    EXPECT_TRUE(cloudItem["placeholder"].GetBool());
    EXPECT_FALSE(cloudItem["hydrated"].GetBool());
    EXPECT_FALSE(cloudItem["partial"].GetBool());
    EXPECT_TRUE(cloudItem["inSync"].GetBool());
    EXPECT_EQ(cloudItem["pinState"].GetString(), std::string("unspecified"));
    EXPECT_EQ(cloudItem["allocated"].GetInt64(), 0);
    EXPECT_EQ(cloudItem["size"].GetInt64(), 8192);
    EXPECT_EQ(cloudItem["reparseTag"].GetUint(), IO_REPARSE_TAG_CLOUD);
    EXPECT_FALSE(document[2]["exists"].GetBool());
}

}  // namespace
}  // namespace nimbrel::test::cf
