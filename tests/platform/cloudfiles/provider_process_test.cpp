// Provider and application in separate processes: cf_test_provider serves, nimbrel-cf reads.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <future>
#include <thread>

#include "cf_test_support.h"
#include "platform/platform_paths.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

// The attribute that carries a placeholder's record.
constexpr const char* kRecordAttribute = "user.nimbrel.cf";

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

// Every change of a record counts one usn: none is lost when threads and processes change the same
// record at once. The root is connected here, as the server connects its own, so this process's
// changes follow its own writes without reading the record back.
TEST_F(CloudFilesProcesses, ConcurrentChangesOfOneRecordAreNeverLost) {
    RecordingProvider provider(root);
    ASSERT_EQ(createPlaceholder(root, "busy.bin", 4096, identityOf(u"busy")), S_OK);
    const std::string path = root + "/busy.bin";
    auto usn = [&] {
        Handle handle(path);
        USN value = 0;
        EXPECT_EQ(CfSetInSyncState(handle.get(), CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE, &value), S_OK);
        return value;
    };
    const USN before = usn();
    constexpr int kEach = 300;
    ChildProcess child(CF_TEST_PROVIDER, {root, path, "update", std::to_string(kEach)});
    auto update = [&](const std::string& prefix) {
        Handle handle(path);
        for (int i = 0; i < kEach; ++i) {
            const std::string identity = prefix + std::to_string(i);
            ASSERT_EQ(CfUpdatePlaceholder(handle.get(), nullptr, identity.data(), static_cast<DWORD>(identity.size()),
                                          nullptr, 0, CF_UPDATE_FLAG_NONE, nullptr, nullptr),
                      S_OK);
        }
    };
    std::thread other(update, "thread-");
    update("test-");
    other.join();
    EXPECT_EQ(child.wait(), 0) << child.err();
    EXPECT_EQ(usn(), before + 3 * kEach);
}

// A folder's record another process changed is read again: the next item to inherit its pin state
// follows the folder as it is now, not as this process saw it for the item before.
TEST_F(CloudFilesProcesses, AnInheritedPinStateFollowsTheFolderAsAnotherProcessLeftIt) {
    RecordingProvider provider(root);
    ASSERT_EQ(createPlaceholder(root, "box", 0, identityOf(u"box"), CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, true),
              S_OK);
    const std::string box = root + "/box";
    ASSERT_EQ(createPlaceholder(box, "a.bin", 10, identityOf(u"a")), S_OK);
    ASSERT_EQ(createPlaceholder(box, "b.bin", 10, identityOf(u"b")), S_OK);
    auto inherit = [&](const std::string& name) {
        Handle handle(box + "/" + name);
        EXPECT_EQ(CfSetPinState(handle.get(), CF_PIN_STATE_INHERIT, CF_SET_PIN_FLAG_NONE, nullptr), S_OK);
        return placeholderInfo(box + "/" + name).pin;
    };
    {
        Handle folder(box);
        ASSERT_EQ(CfSetPinState(folder.get(), CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_NONE, nullptr), S_OK);
    }
    EXPECT_EQ(inherit("a.bin"), CF_PIN_STATE_PINNED);
    ChildProcess child(CF_TEST_PROVIDER, {root, box, "pin", std::to_string(CF_PIN_STATE_UNPINNED)});
    ASSERT_EQ(child.wait(), 0) << child.err();
    EXPECT_EQ(inherit("b.bin"), CF_PIN_STATE_UNSPECIFIED);
}

// A process that ends while it holds a record's lock leaves the record to the others.
TEST_F(CloudFilesProcesses, ARecordLockPassesOnWhenItsHolderEnds) {
    ASSERT_EQ(createPlaceholder(root, "held.bin", 4096, identityOf(u"held")), S_OK);
    const std::string path = root + "/held.bin";
    ChildProcess holder(CF_TEST_PROVIDER, {root, path, "hold", "0"});
    ASSERT_EQ(holder.wait(), 0) << holder.err();
    // A lock that stayed with the ended process would hold the change up for good.
    auto changed = std::make_shared<std::promise<HRESULT>>();
    auto result = changed->get_future();
    std::thread([path, changed] {
        Handle handle(path);
        changed->set_value(CfSetInSyncState(handle.get(), CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE, nullptr));
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), S_OK);
}

TEST_F(CloudFilesProcesses, AnEarlierBuildsRecordMovesOntoItsFileAndACopyStaysAnOrdinaryFile) {
    ASSERT_EQ(createPlaceholder(root, "kept.bin", 4096, identityOf(u"kept")), S_OK);
    const std::string path = root + "/kept.bin";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    // As an earlier build left it: the record in the store, a token naming it on the file.
    const std::string token = "00000000000000010123456789abcdef";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((nimbrel::platform::platformHome() + "/cloudfiles.db").c_str(), &db), SQLITE_OK);
    const std::string insert = "INSERT INTO placeholders VALUES ('" + token + "', '" + root + "', " +
                               std::to_string(st.st_dev) + ", " + std::to_string(st.st_ino) +
                               ", X'6B006500700074000000', 2, 1, 0, 0, 0, 1234, 7)";
    EXPECT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(::setxattr(path.c_str(), kRecordAttribute, token.data(), token.size(), 0), 0);
    ASSERT_EQ(runCommand("/bin/cp", {"--preserve=xattr", path, root + "/copy.bin"}).exitCode, 0);

    // Another process meets it first.
    const auto described = info(path);
    ASSERT_TRUE(described.IsArray() && described.Size() == 1);
    EXPECT_TRUE(described[0]["placeholder"].GetBool());
    EXPECT_EQ(described[0]["identity"].GetString(), std::string("kept"));
    EXPECT_EQ(described[0]["pinState"].GetString(), std::string("unpinned"));
    char value[256];
    const ssize_t length = ::getxattr(path.c_str(), kRecordAttribute, value, sizeof(value));
    EXPECT_TRUE(length > 0 && value[0] == 1) << "the record kept the earlier form";
    EXPECT_EQ(placeholderInfo(path).identity, identityOf(u"kept"));
    EXPECT_EQ(placeholderInfo(root + "/copy.bin").hr, HRESULT_FROM_WIN32(ERROR_NOT_A_CLOUD_FILE));
    EXPECT_FALSE(attributesOf(root + "/copy.bin") & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace
}  // namespace nimbrel::test::cf
