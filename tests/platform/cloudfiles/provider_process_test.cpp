// Provider and application in separate processes: cf_test_provider serves, nimbrel-cf reads.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "cf_test_support.h"
#include "platform/platform_paths.h"
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

TEST_F(CloudFilesProcesses, AStoreMadeByAnEarlierBuildKeepsItsPlaceholders) {
    ASSERT_EQ(createPlaceholder(root, "kept.bin", 4096, identityOf(u"kept")), S_OK);
    // The records as an earlier build kept them: a table with row ids, with an index of their roots.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((nimbrel::platform::platformHome() + "/cloudfiles.db").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    EXPECT_EQ(sqlite3_exec(db,
                           "BEGIN IMMEDIATE; CREATE TABLE earlier AS SELECT * FROM placeholders;"
                           "DROP TABLE placeholders; CREATE TABLE placeholders (token TEXT PRIMARY KEY, root TEXT,"
                           " device INTEGER, inode INTEGER, identity BLOB, pin INTEGER, in_sync INTEGER,"
                           " hydrated INTEGER, is_dir INTEGER, always_full INTEGER, creation_time INTEGER,"
                           " usn INTEGER); INSERT INTO placeholders SELECT * FROM earlier; DROP TABLE earlier;"
                           "CREATE INDEX placeholders_root ON placeholders(root); COMMIT;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);

    const auto described = info(root + "/kept.bin");
    ASSERT_TRUE(described.IsArray() && described.Size() == 1);
    EXPECT_TRUE(described[0]["placeholder"].GetBool());
    EXPECT_EQ(described[0]["identity"].GetString(), std::string("kept"));
    // The process that found the earlier table moved the records; this one's connection follows.
    EXPECT_EQ(placeholderInfo(root + "/kept.bin").identity, identityOf(u"kept"));
    EXPECT_EQ(createPlaceholder(root, "new.bin", 1, identityOf(u"new")), S_OK);
    int earlierTables = -1;
    sqlite3_exec(
        db,
        "SELECT count(*) FROM sqlite_master WHERE name = 'placeholders_root' OR sql NOT LIKE '%WITHOUT ROWID%'"
        " AND name = 'placeholders'",
        [](void* count, int, char** values, char**) {
            *static_cast<int*>(count) = std::atoi(values[0]);
            return 0;
        },
        &earlierTables, nullptr);
    EXPECT_EQ(earlierTables, 0);
    sqlite3_close(db);
}

}  // namespace
}  // namespace nimbrel::test::cf
