// Opening placeholders of the reference cloud (`nimbrel-mainclient serve --cloud DIR --mount PATH`)
// with nimbrel-cf, as a user would: the bytes are the cloud's, a failed download leaves nothing
// behind, and readers of one file share its download, and a server killed mid-download leaves a placeholder the next
// open fills correctly.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <stdlib.h>

#include <QCryptographicHash>
#include <QFile>
#include <string>
#include <vector>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

std::string sha256Of(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return "unreadable " + path;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex().toStdString();
}

std::string randomBytes(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned value = 7;
    for (char& byte : bytes) byte = static_cast<char>((value = value * 1103515245u + 12345u) >> 16);
    return bytes;
}

struct FileState {
    std::string pinState;
    bool inSync = false;
    bool hydrated = false;
    long long allocated = -1;
};

class CloudHydrationTest : public testing::Test {
protected:
    // Projects a cloud of `files` (name and size) served with the content server's `misbehaviour`.
    void project(const std::vector<std::pair<std::string, std::size_t>>& files,
                 const std::vector<std::string>& misbehaviour = {}) {
        for (const auto& [name, size] : files) writeFile(cloud_ + "/" + name, randomBytes(size));
        std::vector<std::string> options{"--cloud", cloud_, "--mount", mount_};
        options.insert(options.end(), misbehaviour.begin(), misbehaviour.end());
        session_.startClient(options);
        session_.startServer();
        ASSERT_TRUE(waitUntil([&] { return !session_.clientLines("pushed ").empty(); }, std::chrono::minutes(2)))
            << session_.client().out();
    }

    std::string local(const std::string& name) const { return mount_ + "/" + name; }

    CommandResult open(const std::string& name) {
        return runCommand(session_.app() + "/nimbrel-cf",
                          {"open", local(name), "--read", "--quiet", "--out", scratch_ + "/" + name});
    }

    FileState state(const std::string& name) {
        rapidjson::Document items;
        items.Parse(runCommand(session_.app() + "/nimbrel-cf", {"info", local(name)}).out.c_str());
        if (!items.IsArray() || items.Empty() || !items[0].HasMember("pinState")) return {};
        const auto& item = items[0];
        return {item["pinState"].GetString(), item["inSync"].GetBool(), item["hydrated"].GetBool(),
                item["allocated"].GetInt64()};
    }

    IpcSession session_;
    std::string cloud_ = makeScratchDir("cloud");
    std::string mount_ = makeScratchDir("mount");
    std::string scratch_ = makeScratchDir("read");
};

TEST_F(CloudHydrationTest, AnOpenReadsTheCloudBytesAndAnEmptyFileBecomesLocalOnOpen) {
    // Not a whole number of blocks: the last bytes of the body arrive apart.
    project({{"big.bin", (8u << 20) + 1000}, {"empty.txt", 0}});
    const CommandResult read = open("big.bin");
    ASSERT_EQ(0, read.exitCode) << read.err;
    EXPECT_EQ(sha256Of(cloud_ + "/big.bin"), sha256Of(scratch_ + "/big.bin"));
    const FileState after = state("big.bin");
    EXPECT_EQ("pinned", after.pinState);
    EXPECT_TRUE(after.inSync);
    EXPECT_TRUE(after.hydrated);
    const std::string log = session_.serverLog();
    EXPECT_NE(std::string::npos, log.find("bSizeEqual: 1")) << log;
    EXPECT_NE(std::string::npos, log.find("bHashEqual: 1"));

    ASSERT_EQ(0, open("empty.txt").exitCode);
    EXPECT_EQ("pinned", state("empty.txt").pinState);
    const CommandResult journal = runCommand(session_.app() + "/nimbrel-shell", {"log", local("empty.txt")});
    EXPECT_NE(std::string::npos, journal.out.find(" SHCNE_UPDATEITEM " + local("empty.txt"))) << journal.out;
}

TEST_F(CloudHydrationTest, ADownloadCutMidBodyFailsTheReaderAndLeavesTheFileOnlineOnly) {
    // The server fails the reader's fetch when the download breaks; the short time-out only keeps a
    // fetch that nobody fails from holding the test for a minute.
    setenv("NIMBREL_CF_FETCH_TIMEOUT_MS", "3000", 1);
    project({{"cut.bin", 1u << 20}}, {"--fail-after", "300000"});
    const CommandResult read = open("cut.bin");
    EXPECT_NE(0, read.exitCode);
    EXPECT_TRUE(waitUntil([&] {
        const FileState now = state("cut.bin");
        return !now.hydrated && now.allocated == 0;
    })) << session_.serverLog();
    EXPECT_NE(std::string::npos, session_.serverLog().find("free up partial content done"));
    const CommandResult journal = runCommand(session_.app() + "/nimbrel-shell", {"log", local("cut.bin")});
    EXPECT_NE(std::string::npos, journal.out.find(" SHCNE_UPDATEITEM " + local("cut.bin"))) << journal.out;
}

int downloadsStarted(const std::string& log) { return occurrences(log, "begin, fileIndentity"); }

TEST_F(CloudHydrationTest, TwoReadersShareOneDownloadAndAKilledServerLeavesAFileTheNextOpenFills) {
    project({{"shared.bin", 4u << 20}, {"killed.bin", 4u << 20}}, {"--rate", "2000000"});
    ChildProcess first(session_.app() + "/nimbrel-cf", {"open", local("shared.bin"), "--read", "--quiet"});
    ASSERT_TRUE(waitUntil([&] { return downloadsStarted(session_.serverLog()) == 1; }));
    const CommandResult second = open("shared.bin");
    EXPECT_EQ(0, second.exitCode) << second.err;
    EXPECT_EQ(0, first.wait());
    EXPECT_EQ(sha256Of(cloud_ + "/shared.bin"), sha256Of(scratch_ + "/shared.bin"));
    EXPECT_EQ(1, downloadsStarted(session_.serverLog()));

    ChildProcess cut(session_.app() + "/nimbrel-cf", {"open", local("killed.bin"), "--read", "--quiet"});
    ASSERT_TRUE(waitUntil([&] { return downloadsStarted(session_.serverLog()) == 2; }));
    session_.server().signal(SIGKILL);
    ASSERT_TRUE(session_.server().wait().has_value());
    EXPECT_NE(0, cut.wait());
    EXPECT_FALSE(state("killed.bin").hydrated);

    session_.startServer();
    ASSERT_TRUE(waitUntil([&] { return session_.clientLines("mounted ").size() == 2; })) << session_.client().out();
    const CommandResult again = open("killed.bin");
    ASSERT_EQ(0, again.exitCode) << again.err << session_.serverLog();
    EXPECT_EQ(sha256Of(cloud_ + "/killed.bin"), sha256Of(scratch_ + "/killed.bin"));
    EXPECT_TRUE(state("killed.bin").hydrated);
}

}  // namespace
}  // namespace nimbrel::test
