// `nimbrel-mainclient serve --cloud DIR --mount PATH` beside a running server: the cloud folder's
// tree appears in the mount folder as online-only placeholders and follows the cloud's changes.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

struct Entry {
    long long size;
    long long modified;
    long long blocks;
};

// What `find` and `stat` show below `root`; the sync-disk marker is the client's, not the cloud's.
std::map<std::string, Entry> listing(const std::string& root) {
    std::map<std::string, Entry> entries;
    QDirIterator it(QString::fromStdString(root), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const std::string path = it.next().toStdString();
        if (path.find(".cloudZiduZudu") != std::string::npos) continue;
        struct stat info {};
        stat(path.c_str(), &info);
        const bool folder = S_ISDIR(info.st_mode);
        entries[path.substr(root.size())] = {folder ? -1 : info.st_size, folder ? -1 : info.st_mtime,
                                             folder ? 0 : info.st_blocks};
    }
    return entries;
}

class CloudProjectionTest : public testing::Test {
protected:
    void SetUp() override {
        for (int folder = 0; folder < 2; ++folder) {
            const std::string path = cloud_ + "/folder " + std::to_string(folder) + "/sub ü";
            QDir().mkpath(QString::fromStdString(path));
            for (int file = 0; file < 20; ++file) {
                writeFile(path + "/../file" + std::to_string(file) + ".txt", std::string(file * 100, 'x'));
                writeFile(path + "/deep" + std::to_string(file), "deep");
            }
        }
        session_.startClient(clientOptions());
        session_.startServer();
        waitForThePush();
    }

    std::vector<std::string> clientOptions() const {
        return {"--cloud", cloud_, "--mount", mount_, "--poll-ms", "100"};
    }
    void waitForThePush() {
        ASSERT_TRUE(waitUntil([&] { return !session_.clientLines("pushed ").empty(); }, std::chrono::minutes(3)))
            << session_.client().out();
    }

    IpcSession session_;
    std::string cloud_ = makeScratchDir("cloud");
    // Not there yet: a first run of the client makes its sync folder.
    std::string mount_ = makeScratchDir("mount") + "/drive";
};

bool sameNamesSizesAndTimes(const std::map<std::string, Entry>& a, const std::map<std::string, Entry>& b) {
    if (a.size() != b.size()) return false;
    for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right) {
        if (left->first != right->first || left->second.size != right->second.size ||
            left->second.modified != right->second.modified) {
            return false;
        }
    }
    return true;
}

TEST_F(CloudProjectionTest, TheCloudTreeArrivesOnlineOnlyAndFollowsTheCloud) {
    EXPECT_EQ("pushed 84 items ", session_.clientLines("pushed ")[0].substr(0, 16));
    const auto mounted = listing(mount_);
    EXPECT_TRUE(sameNamesSizesAndTimes(listing(cloud_), mounted));
    // What du would count: no file takes a block, the placeholders' own attributes included.
    std::vector<std::string> files;
    long long blocks = 0;
    for (const auto& [path, entry] : mounted) {
        if (entry.size >= 0) files.push_back(mount_ + path);
        blocks += entry.blocks;
    }
    EXPECT_EQ(0, blocks);
    const CommandResult info = runCommand(session_.app() + "/nimbrel-cf", [&] {
        std::vector<std::string> args{"info"};
        args.insert(args.end(), files.begin(), files.end());
        return args;
    }());
    rapidjson::Document items;
    items.Parse(info.out.c_str());
    ASSERT_TRUE(items.IsArray()) << info.err;
    ASSERT_EQ(80u, items.Size());
    for (const auto& item : items.GetArray()) {
        EXPECT_TRUE(item["placeholder"].GetBool()) << item["path"].GetString();
        EXPECT_STREQ("unpinned", item["pinState"].GetString());
        EXPECT_FALSE(item["hydrated"].GetBool());
    }

    // New, changed and removed files in the cloud reach the mount folder.
    writeFile(cloud_ + "/folder 1/new.txt", "new file");
    writeFile(cloud_ + "/folder 0/file3.txt", "changed");
    QFile::remove(QString::fromStdString(cloud_ + "/folder 1/sub ü/deep4"));
    EXPECT_TRUE(waitUntil([&] { return sameNamesSizesAndTimes(listing(cloud_), listing(mount_)); }))
        << session_.client().out();
}

TEST_F(CloudProjectionTest, TheSyncDiskClientRecordsItsLoginAndClearsItWhenItStops) {
    const std::string userKey = "HKCU\\Software\\Tellwick\\Orvane\\13800138000";
    const CommandResult open = runCommand(session_.app() + "/nimbrel-reg", {"query", userKey});
    EXPECT_NE(std::string::npos, open.out.find("bLogin    REG_SZ    1")) << open.out;
    EXPECT_NE(std::string::npos, open.out.find("bOpenSync    REG_SZ    1"));

    session_.client().signal(SIGTERM);
    EXPECT_EQ(0, session_.client().wait());
    EXPECT_NE(std::string::npos,
              runCommand(session_.app() + "/nimbrel-reg", {"query", userKey}).out.find("bLogin    REG_SZ    0"));
    // Without its client the server ends; uninstall then finds the recorded root and unregisters it.
    EXPECT_EQ(0, session_.server().wait());
    EXPECT_EQ(0, runCommand(session_.app() + "/RoziDavidoVodido", {"uninstall"}).exitCode);
    EXPECT_EQ(std::string::npos, runCommand(session_.app() + "/nimbrel-cf", {"roots"}).out.find(mount_));
}

TEST_F(CloudProjectionTest, AFolderTheUserUnmountedStaysUnmountedWhenTheServerStartsAgain) {
    const CommandResult unmounted = runCommand(session_.tool(), {"--mode", "1", "unmount", mount_});
    ASSERT_EQ(0, unmounted.exitCode) << unmounted.err;
    session_.server().signal(SIGKILL);
    session_.server().wait();
    session_.startServer();
    // The client looks at the new server's announcement within its next polls (every 100 ms).
    ASSERT_TRUE(waitUntil([&] { return contains(session_.serverLog(), "pushOnline answered"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(session_.clientLines("the server started again").empty()) << session_.client().out();
    EXPECT_EQ(std::string::npos, runCommand(session_.app() + "/nimbrel-cf", {"roots"}).out.find(mount_));
}

TEST_F(CloudProjectionTest, AClientStartedBesideARunningServerMountsAgainWhenTheServerStartsAgain) {
    session_.client().signal(SIGTERM);
    ASSERT_EQ(0, session_.client().wait());
    session_.startClient(clientOptions());
    waitForThePush();
    session_.server().signal(SIGKILL);
    session_.server().wait();
    session_.startServer();
    ASSERT_TRUE(waitUntil([&] { return session_.clientLines("mounted ").size() == 2; })) << session_.client().out();
    EXPECT_EQ(1u, session_.clientLines("the server started again").size());
    // The new server asks this client for the content of a file opened in the mount folder.
    const std::string copy = cloud_ + "/../deep7.copy";
    EXPECT_EQ(0, runCommand(session_.app() + "/nimbrel-cf",
                            {"open", mount_ + "/folder 1/sub ü/deep7", "--read", "--quiet", "--out", copy})
                     .exitCode);
    EXPECT_EQ("deep", readFile(copy));
}

}  // namespace
}  // namespace nimbrel::test
