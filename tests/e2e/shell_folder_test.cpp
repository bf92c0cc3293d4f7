// The navigation-pane folder of the sync disk as a user checks it: registry state written with
// nimbrel-reg, the server's log, and what Explorer was told, read with nimbrel-shell.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ipc_session.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::runCommand;
using nimbrel::test::waitUntil;

const std::string kProductKey = "HKCU\\Software\\Tellwick\\Orvane";
const std::string kUser = "13800000001";
const std::string kUserKey = kProductKey + "\\" + kUser;
const std::string kResultLine = "checkReadyLoginAndOpenSync result = ";

class ShellFolderTest : public testing::Test {
protected:
    void SetUp() override {
        nimbrel::test::writeFile(sync_ + "/disk.cloudZiduZudu", "");
        // What a logged-in main client with its sync disk open leaves.
        setValue(kProductKey, "currentUser", kUser);
        setValue(kUserKey, "bLogin", "1");
        setValue(kUserKey, "bOpenSync", "1");
        setValue(kUserKey, "syncPath", sync_ + "/");
    }

    std::string logText() const { return server_.serverLog(); }
    int count(const std::string& fragment) const { return nimbrel::test::occurrences(logText(), fragment); }
    bool waitForCount(const std::string& fragment, int expected) const {
        return waitUntil([&] { return count(fragment) >= expected; });
    }
    nimbrel::test::CommandResult tool(const std::string& name, const std::vector<std::string>& args) const {
        return runCommand(app_ + "/" + name, args);
    }
    void setValue(const std::string& key, const std::string& name, const std::string& data,
                  const std::string& type = "REG_SZ") const {
        auto result = tool("nimbrel-reg", {"add", key, "/v", name, "/t", type, "/d", data, "/f"});
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    }

    std::string app_ = nimbrel::test::makeAppFolder();
    std::string sync_ = nimbrel::test::makeScratchDir("Sync");
    nimbrel::test::IpcSession server_{1, app_};
};

TEST_F(ShellFolderTest, StartUpChecksReadinessHidesTheShellEntriesAndRefreshesExplorer) {
    const std::string clsidKey = "HKCU\\Software\\Classes\\CLSID\\{CBDE6239-084A-416F-826F-D7C264868D75}";
    const std::string thisPcKey =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace\\"
        "{836776EF-571B-460B-A634-28DDC11FA9B4}";
    setValue(clsidKey, "System.IsPinnedToNamespaceTree", "1", "REG_DWORD");
    setValue(thisPcKey + "\\DefaultIcon", "", "icon");

    ASSERT_TRUE(server_.startAnnounced()) << server_.client().out();
    ASSERT_TRUE(waitUntil([&] {
        return tool("nimbrel-shell", {"log"}).out.find("WM_SETTINGCHANGE \"Refresh\"") != std::string::npos;
    })) << logText();

    EXPECT_EQ(count(kResultLine + "true"), 1) << logText();
    auto pinned = tool("nimbrel-reg", {"query", clsidKey, "/v", "System.IsPinnedToNamespaceTree"});
    EXPECT_NE(pinned.out.find("REG_DWORD    0x0"), std::string::npos) << pinned.out;
    EXPECT_NE(tool("nimbrel-reg", {"query", thisPcKey}).exitCode, 0);
}

// Every change of a watched value reruns the check, which logs why the sync disk does not count
// as open; writing the same value again does not; deleting the product key is handled as a
// change and ends the watching, and the server goes on.
TEST_F(ShellFolderTest, RegistryWatchRerunsTheCheckOnEveryChange) {
    const std::string unmarked = nimbrel::test::makeScratchDir("Unmarked");
    const std::string folderMarked = nimbrel::test::makeScratchDir("FolderMarked");
    std::filesystem::create_directory(folderMarked + "/folder.cloudZiduZudu");
    struct Change {
        std::string key, name, data, type, expected;
    };
    const std::vector<Change> changes = {
        {kProductKey, "currentUser", "1380000000", "REG_SZ", "\\currentUser value invalid"},
        {kProductKey, "currentUser", "01", "REG_BINARY", "\\currentUser value invalid"},
        {kProductKey, "currentUser", kUser, "REG_SZ", kResultLine + "true"},
        {kUserKey, "bOpenSync", "0", "REG_SZ", "bLogin value:1,bOpenSync value =0"},
        {kUserKey, "bOpenSync", "2", "REG_SZ", kResultLine + "true"},
        {kUserKey, "syncPath", sync_ + "/gone", "REG_SZ", "value is invalid dir path "},
        {kUserKey, "syncPath", unmarked, "REG_SZ", "missing *.cloudZiduZudu flag, treat as not opened"},
        {kUserKey, "syncPath", folderMarked + "\\", "REG_SZ", "missing *.cloudZiduZudu flag, treat as not opened"},
    };
    ASSERT_TRUE(server_.startAnnounced()) << server_.client().out();
    ASSERT_TRUE(waitForCount("Registry cache initialized. currentUser=" + kUser, 1)) << logText();

    int runs = 1;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name + "=" + change.data);
        const int before = count(change.expected);
        setValue(change.key, change.name, change.data, change.type);
        ASSERT_TRUE(waitForCount(kResultLine, ++runs)) << logText();
        EXPECT_EQ(count(change.expected), before + 1) << logText();
    }
    // The same value again wakes the watch but is no change; the next change is the only rerun.
    setValue(kUserKey, "bOpenSync", "2");
    setValue(kUserKey, "bLogin", "0");
    ASSERT_TRUE(waitForCount("Registry values changed, refreshing. currentUser=" + kUser +
                                 ", syncPath=" + folderMarked + "\\, bLogin=0, bOpenSync=true",
                             1))
        << logText();
    EXPECT_EQ(count(kResultLine), ++runs);

    ASSERT_EQ(tool("nimbrel-reg", {"delete", kProductKey, "/f"}).exitCode, 0);
    ASSERT_TRUE(waitForCount("Failed to register notification, error=1018", 1)) << logText();
    EXPECT_EQ(count("Registry values changed, refreshing. currentUser=, syncPath=, bLogin=, bOpenSync=false"), 1);
    EXPECT_EQ(count(kResultLine), ++runs);
    EXPECT_TRUE(server_.server().running());
}

}  // namespace
