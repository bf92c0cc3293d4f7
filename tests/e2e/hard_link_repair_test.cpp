// A hard-linked file in a mounted root, pushed by the main client, ends as the pushed placeholder
// while its other name keeps the content as an ordinary file; the client hears of the repair.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

// The worker pauses 5 s between rounds; repairs of many files take several rounds.
constexpr std::chrono::seconds kRepairWait{120};

// The size is the local file's: a pushed size is what the placeholder is updated to.
std::string record(const std::string& folder, const std::string& name, const std::string& id, long long size) {
    return "{\"id\":\"" + id + "\",\"filePath\":\"" + folder + "\",\"fileName\":\"" + name +
           "\",\"type\":1,\"isVirtual\":0,\"size\":" + std::to_string(size) +
           ",\"lCreateTime\":1600000000,\"lUpdateTime\":1600000100,"
           "\"lAccessTime\":1600000200}";
}

class HardLinkRepairE2e : public testing::Test {
protected:
    void start() {
        ASSERT_TRUE(session_.startAnnounced()) << session_.client().out() << session_.server().err();
        ASSERT_TRUE(contains(session_.send("mountMirror", "{\"mountPath\":\"" + root_ + "\"}").out, "S_OK"));
    }
    void push(const std::vector<std::string>& names) {
        std::string body = "{\"fileInfo\":[";
        for (std::size_t i = 0; i < names.size(); ++i)
            body += (i ? "," : "") +
                    record(root_, names[i], "id-" + names[i], static_cast<long long>(readFile(path(names[i])).size()));
        session_.send("pushFileSystem", body + "]}");
    }
    std::string info(const std::string& name) {
        return runCommand(session_.app() + "/nimbrel-cf", {"info", root_ + "/" + name}).out;
    }
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    bool anyTempFile() const {
        for (const auto& entry : std::filesystem::directory_iterator(root_)) {
            if (contains(entry.path().filename().string(), ".hardlink_repair")) return true;
        }
        return false;
    }

    IpcSession session_;
    std::string root_ = makeScratchDir("root");
    std::string outside_ = makeScratchDir("outside");
};

TEST_F(HardLinkRepairE2e, ThePushedFileBecomesItsPlaceholderAndTheClientHearsOfIt) {
    start();
    writeFile(path("a.txt"), "content of a");
    ASSERT_EQ(0, ::link(path("a.txt").c_str(), path("b.txt").c_str()));

    push({"a.txt"});
    ASSERT_TRUE(waitUntil([&] { return contains(info("a.txt"), "\"identity\":\"id-a.txt\""); }, kRepairWait))
        << info("a.txt");
    ASSERT_TRUE(waitUntil([&] { return !session_.clientLines("request hardLinkRepairFinished").empty(); }));

    EXPECT_EQ(readFile(path("a.txt")), "content of a");
    EXPECT_EQ(readFile(path("b.txt")), "content of a");
    EXPECT_TRUE(contains(info("b.txt"), "\"placeholder\":false")) << info("b.txt");
    struct stat after {};
    ::stat(path("a.txt").c_str(), &after);
    EXPECT_EQ(after.st_nlink, 1u);
    auto started = session_.clientLines("request hardLinkRepairStarted");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(contains(started[0], "a.txt.hardlink_repair.tmp")) << started[0];
    EXPECT_TRUE(contains(session_.clientLines("request hardLinkRepairFinished")[0], "\"bUpdateLsid\":true"));
    EXPECT_FALSE(anyTempFile());
}

TEST_F(HardLinkRepairE2e, KillingTheServerDuringRepairsNeverLosesOrCorruptsAFile) {
    constexpr int kFiles = 50;
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        names.push_back("f" + std::to_string(i) + ".txt");
        writeFile(path(names.back()), "content " + std::to_string(i) + std::string(4096 * (i % 5), 'x'));
        ASSERT_EQ(0, ::link(path(names.back()).c_str(), (outside_ + "/" + names.back()).c_str()));
    }
    auto intact = [&] {
        for (int i = 0; i < kFiles; ++i) {
            std::string expected = "content " + std::to_string(i) + std::string(4096 * (i % 5), 'x');
            if (readFile(path(names[i])) != expected || readFile(outside_ + "/" + names[i]) != expected) return false;
        }
        return true;
    };
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 3; ++round) {
        start();
        push(names);
        // Somewhere inside the first rounds of the worker, which start 5 s after the push.
        std::this_thread::sleep_for(std::chrono::milliseconds(4000 + random() % 4000));
        session_.server().signal(SIGKILL);
        session_.server().wait();
        session_.dropClient();
        ASSERT_TRUE(intact()) << "round " << round;
    }
    start();
    push(names);
    // One look at all files at once: starting a tool per file would take longer than the repairs.
    auto repaired = [&] {
        std::vector<std::string> args{"info"};
        for (const auto& name : names) args.push_back(path(name));
        std::string text = runCommand(session_.app() + "/nimbrel-cf", args).out;
        int count = 0;
        for (const auto& name : names) count += contains(text, "\"identity\":\"id-" + name + "\"") ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return repaired() == kFiles; }, kRepairWait)) << repaired();
    EXPECT_TRUE(intact());
    EXPECT_FALSE(anyTempFile());
}

}  // namespace
}  // namespace nimbrel::test
