#include "host/shared_memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/test_env.h"

namespace {

using nimbrel::test::ChildProcess;
using nimbrel::test::runCommand;
using nimbrel::test::waitUntil;

const std::string kPeer = HOST_SHM_PEER;

// The process keeps every section it wrote or read open until it is removed, so a test removes
// its own: a later test would otherwise still reach them in an earlier runtime folder.
class SharedMemoryTest : public testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"_SocketApi_tcp_", "_SocketApi_tcp_sync_", "longest"}) {
            SharedMemory::instance().remove(name);
        }
    }
};

TEST_F(SharedMemoryTest, ShorterSecondWriteReadsBackShorterAndNineHundredNinetyNineBytesFitButNoMore) {
    auto& memory = SharedMemory::instance();
    ASSERT_TRUE(memory.write("_SocketApi_tcp_sync_", R"({"port":52345,"pid":100})"));
    ASSERT_TRUE(memory.write("_SocketApi_tcp_sync_", R"({"port":7})"));
    std::string text;
    ASSERT_TRUE(memory.read("_SocketApi_tcp_sync_", text));
    EXPECT_EQ(text, R"({"port":7})");

    const std::string longest(999, 'x');
    ASSERT_TRUE(memory.write("longest", longest));
    ASSERT_TRUE(memory.read("longest", text));
    EXPECT_EQ(text, longest);
    EXPECT_FALSE(memory.write("too-long", std::string(1000, 'y')));
}

TEST_F(SharedMemoryTest, UnknownNameFailsAndIsNotRemembered) {
    auto& memory = SharedMemory::instance();
    std::string text = "unchanged";
    EXPECT_FALSE(memory.read("_SocketApi_tcp_", text));
    EXPECT_EQ(text, "unchanged");

    // Had the failed open stayed in the map, this read would reuse it instead of opening anew.
    ChildProcess peer(kPeer, {"write", "_SocketApi_tcp_", R"({"port":4321})"});
    ASSERT_TRUE(waitUntil([&] { return peer.out() == "written\n"; })) << peer.err();
    ASSERT_TRUE(memory.read("_SocketApi_tcp_", text));
    EXPECT_EQ(text, R"({"port":4321})");
}

TEST_F(SharedMemoryTest, AnotherProcessReadsWhatThisOneWroteUntilItIsRemoved) {
    auto& memory = SharedMemory::instance();
    ASSERT_TRUE(memory.write("_SocketApi_tcp_", R"({"port":60001})"));
    auto result = runCommand(kPeer, {"read", "_SocketApi_tcp_"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, R"({"port":60001})");

    memory.remove("_SocketApi_tcp_");
    EXPECT_NE(runCommand(kPeer, {"read", "_SocketApi_tcp_"}).exitCode, 0);
}

TEST_F(SharedMemoryTest, AnotherUserFindsNoSectionToRewrite) {
    if (geteuid() != 0) GTEST_SKIP() << "playing another local user needs root (setpriv)";
    const std::string record = R"({"serverport":)" + std::to_string(getpid()) + "}";
    ASSERT_TRUE(SharedMemory::instance().write("_SocketApi_tcp_", record));
    // Every file that user could write and that holds the record would let it redirect the menu.
    const std::string script =
        R"(for f in /dev/shm/* "$0"/* "$0"/*/*; do [ -w "$f" ] && grep -qsF -- "$1" "$f" && echo "$f"; done; true)";
    const auto other = runCommand("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh",
                                                       "-c", script, nimbrel::test::runtimeDir(), record});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(other.out, "");
}

TEST(MmfTest, CreateAndOpenReportAnExistingHandle) {
    MMF created("section");
    EXPECT_FALSE(MMF("section").open());
    ASSERT_TRUE(created.create());
    EXPECT_TRUE(created.create());
    ASSERT_TRUE(created.write("abc", 4));

    MMF opened("section");
    ASSERT_TRUE(opened.open());
    std::string text;
    ASSERT_TRUE(opened.read(text));
    EXPECT_EQ(text, "abc");

    opened.close();
    EXPECT_FALSE(opened.read(text));
}

}  // namespace
