// The context menu as a user meets it: the reference cloud pushed into a mounted folder, the menu
// shown and run with nimbrel-menu, the files looked at with nimbrel-cf and nimbrel-shell.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <stdlib.h>

#include <QDir>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

const std::vector<std::string> kFiles = {"docs/a.txt", "docs/b.bin", "docs/sub/c.md"};

class ContextMenuTest : public testing::Test {
protected:
    void start(int mode, std::vector<std::string> options = {}) {
        QDir().mkpath(QString::fromStdString(cloud_ + "/docs/sub"));
        for (const auto& file : kFiles) writeFile(cloud_ + "/" + file, "content of " + file);
        if (!session_) session_ = std::make_unique<IpcSession>(mode);
        options.insert(options.end(), {"--cloud", cloud_, "--mount", mount_, "--poll-ms", "200"});
        session_->startClient(options);
        // A client that never answers is offline once the server's first question to it times out;
        // the client's own pushes keep the usual time-out.
        if (quickTimeOut_) setenv("NIMBREL_IPC_TIMEOUT_MS", "2000", 1);
        session_->startServer();
        unsetenv("NIMBREL_IPC_TIMEOUT_MS");
        ASSERT_TRUE(waitUntil([&] { return !session_->clientLines("pushed ").empty(); }, std::chrono::minutes(1)))
            << session_->client().out();
        mode_ = mode;
    }
    CommandResult menu(std::vector<std::string> args) {
        args.insert(args.begin(), {"--mode", std::to_string(mode_)});
        return runCommand(session_->app() + "/nimbrel-menu", args);
    }
    // Whether every file's nimbrel-cf record holds all of `facts`.
    bool allFiles(const std::vector<std::string>& facts) {
        for (const auto& file : kFiles) {
            const std::string info = runCommand(session_->app() + "/nimbrel-cf", {"info", mount_ + "/" + file}).out;
            for (const auto& fact : facts) {
                if (!contains(info, fact)) return false;
            }
        }
        return true;
    }
    // The journal's records of `event` for `folder` written at or after `sinceMs`.
    int notifications(const std::string& event, const std::string& folder, long long sinceMs) {
        std::istringstream lines(runCommand(session_->app() + "/nimbrel-shell", {"log", "--json"}).out);
        int count = 0;
        for (std::string line; std::getline(lines, line);) {
            rapidjson::Document record;
            record.Parse(line.c_str());
            if (!record.IsObject() || !record.HasMember("paths") || record["paths"].Empty()) continue;
            count += record["eventNames"].GetString() == event && record["timeMs"].GetInt64() >= sinceMs &&
                     record["paths"][0]["host"].GetString() == folder;
        }
        return count;
    }

    int mode_ = 1;
    bool quickTimeOut_ = false;
    std::unique_ptr<IpcSession> session_;
    std::string cloud_ = makeScratchDir("cloud");
    std::string mount_ = makeScratchDir("mount");
};

long long nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TEST_F(ContextMenuTest, SyncDiskKeepsFollowsAndFreesAFolderThroughTheClient) {
    start(1);
    // The projection's own refresh of the folders is done before the menu's are counted.
    ASSERT_TRUE(waitUntil([&] { return notifications("SHCNE_ATTRIBUTES|SHCNE_UPDATEITEM", mount_ + "/docs/sub", 0); }));
    const std::string keep = "同步至本地  (AlwaysKeepDevice)", freeUp = "释放空间（本地为快捷方式）  (FreeUpSpace)";
    const std::string history = "查看历史版本  (HistoryFile)";
    std::string shown = menu({"show", mount_ + "/docs/a.txt"}).out;
    EXPECT_TRUE(contains(shown, "Veltrano\n  active  " + keep + "\n  greyed  " + freeUp + "\n  active  " + history))
        << shown;
    EXPECT_TRUE(contains(menu({"show", mount_ + "/docs/b.bin"}).out, "greyed  " + history));

    EXPECT_EQ(menu({"run", "AlwaysKeepDevice", mount_ + "/docs"}).out, "AlwaysKeepDevice accepted for 1 item\n");
    EXPECT_TRUE(waitUntil([&] {
        return allFiles({R"("hydrated":true)", R"("pinState":"pinned")", R"("inSync":true)"});
    })) << session_->client().out();
    for (const auto& file : kFiles) EXPECT_EQ(readFile(mount_ + "/" + file), readFile(cloud_ + "/" + file));
    shown = menu({"show", mount_ + "/docs/a.txt"}).out;
    EXPECT_TRUE(contains(shown, "greyed  " + keep + "\n  active  " + freeUp)) << shown;

    // A client started again pushes its whole tree again; what the user kept stays kept.
    session_->dropClient();
    session_->startClient({"--cloud", cloud_, "--mount", mount_, "--poll-ms", "200"});
    ASSERT_TRUE(waitUntil([&] { return !session_->clientLines("pushed ").empty(); })) << session_->client().out();
    EXPECT_TRUE(allFiles({R"("hydrated":true)", R"("pinState":"pinned")"}));

    writeFile(cloud_ + "/docs/a.txt", "a newer version from the cloud");
    EXPECT_TRUE(waitUntil([&] { return readFile(mount_ + "/docs/a.txt") == "a newer version from the cloud"; }));

    const long long freedAt = nowMs();
    EXPECT_EQ(menu({"run", "FreeUpSpace", mount_ + "/docs"}).out, "FreeUpSpace accepted for 1 item\n");
    EXPECT_TRUE(waitUntil([&] {
        return allFiles({R"("hydrated":false)", R"("allocated":0)", R"("placeholder":true)"});
    }));
    for (const std::string folder : {"", "/docs", "/docs/sub"}) {
        EXPECT_TRUE(waitUntil([&] { return notifications("SHCNE_UPDATEDIR", mount_ + folder, freedAt) > 0; }));
        EXPECT_EQ(notifications("SHCNE_UPDATEDIR", mount_ + folder, freedAt), 1) << folder;
    }
    EXPECT_EQ(session_->clientLines("pushFreeUpSpace sent for 3 files, 3 answered S_OK").size(), 1u);
}

TEST_F(ContextMenuTest, SyncDiskShowsNoEntriesUntilTheSuiteIsReady) {
    quickTimeOut_ = true;
    const std::string notReady = "no entries: sync context menu runtime state not ready (errorCode 301)\n";
    for (const std::string option : {"--logged-out", "--no-desktop-app", "--silent"}) {
        mount_ = makeScratchDir("mount" + option);
        start(1, {option});
        // The mount tells the server the client is online until its next liveness question fails.
        EXPECT_TRUE(waitUntil(
            [&] {
                return menu({"show", mount_ + "/docs/a.txt"}).out == notReady;
            },
            std::chrono::seconds(40)))
            << option;
        EXPECT_EQ(menu({"show", mount_ + "/docs/a.txt"}).exitCode, 5);
        session_->server().signal(SIGKILL);
        session_->server().wait();
    }
}

TEST_F(ContextMenuTest, MountedSpaceLooksBelowItsMountPathsAndRefusesMalformedRequests) {
    start(0);
    std::string shown = menu({"show", mount_ + "/docs"}).out;
    EXPECT_EQ(shown,
              "Calimbra挂载盘\n  active  保持离线可用  (AlwaysKeepDevice)\n  greyed  不占用电脑空间  (FreeUpSpace)\n");
    EXPECT_TRUE(contains(menu({"show", cloud_ + "/docs/a.txt"}).out, "greyed  保持离线可用"));

    std::string manyPaths = R"({"files":[)";
    for (int i = 0; i < 10000; ++i) manyPaths += (i ? ",\"/x/" : "\"/x/") + std::to_string(i) + "\"";
    const std::string malformed = R"({"code":"S_FAIL","errorCode":"301","summary":)";
    const std::pair<std::string, std::string> requests[] = {
        {"{}", malformed + R"("context menu request needs \"files\", an array of strings"})"},
        {R"({"files":"a"})", malformed + R"("context menu request needs \"files\", an array of strings"})"},
        {R"({"files":[1]})", malformed + R"("context menu request needs \"files\", an array of strings"})"},
        {"[1", malformed + R"("CClientIpcManager::onIpcLogonAccount return failed"})"},
        {"{\"files\":[\"\xff\xfe/a\"]}", R"({"var":{"registerPath")"},
        {manyPaths + "]}", R"({"var":{"registerPath")"},
    };
    for (const auto& [arguments, reply] : requests) {
        EXPECT_EQ(menu({"getContextMenu", arguments}).out.substr(0, reply.size()), reply) << arguments.substr(0, 40);
    }
    EXPECT_TRUE(contains(menu({"runContextMenu", R"({"files":[]})"}).out, "needs \\\"menuCommand\\\""));
    EXPECT_EQ(menu({"checkOnline"}).out, "{\"code\":\"S_OK\"}\n");
}

}  // namespace
}  // namespace nimbrel::test
