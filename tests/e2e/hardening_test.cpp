// A sync-disk server fed requests no well-behaved main client sends, and started in folders other users could reach.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_processes.h"
#include "ipc_session.h"

namespace nimbrel::test {
namespace {

using HardeningTest = AnnouncedServerTest;

// A member nested `depth` levels deep in an object.
std::string nested(int depth) {
    return R"({"deep":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

TEST_F(HardeningTest, ABodyNestedTooDeeplyIsRefusedAndTheServerGoesOn) {
    const std::string refused =
        R"({"code":"S_FAIL","errorCode":"301","summary":"CClientIpcManager::onIpcZiduZuduReloadProxy return failed"})";
    EXPECT_EQ(refused, firstLine(session_.send("ziduZuduReloadProxy", std::string(100000, '[')).out));
    EXPECT_EQ(refused, firstLine(session_.send("ziduZuduReloadProxy", nested(129)).out));
    EXPECT_EQ(R"({"code":"S_OK"})", firstLine(session_.send("ziduZuduReloadProxy", nested(128)).out));
}

TEST_F(HardeningTest, ALongBodyIsLoggedShortenedWithItsFullLength) {
    const std::string body(100000, 'x');
    session_.send("getMessage", body);
    // Answered, with a refusal: the tool fails with 1, not with a lost request.
    EXPECT_EQ(1, session_.send("noSuchCommand", body).exitCode);
    const std::string log = session_.serverLog();
    EXPECT_TRUE(contains(log, " body =" + std::string(4096, 'x') + "... (100000 bytes), error =")) << log.size();
    EXPECT_TRUE(contains(
        log, "unkown cmd, not found ipc_command: noSuchCommand\r\n" + std::string(4046, 'x') + "... (100050 bytes)"));
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 8192u);
}

// Asks the context-menu server on `port` for "checkOnline" as a plain local process would, run as
// `command` (python3 itself, or python3 under another user): prints the reply's body, nothing when
// the server closed the connection without one.
CommandResult askCheckOnline(const std::vector<std::string>& command, int port) {
    static const char* const kAsk = R"(
import socket, struct, sys
connection = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
body = b"checkOnline\r\n{}"
connection.sendall(b"\xff\xff\xff\xff" + struct.pack("<i", len(body)) + body)
reply = b""
try:
    while chunk := connection.recv(65536):
        reply += chunk
except ConnectionResetError:
    pass
sys.stdout.write(reply[8:].decode())
)";
    std::vector<std::string> args(command.begin() + 1, command.end());
    args.insert(args.end(), {"-c", kAsk, std::to_string(port)});
    return runCommand(command[0], args);
}

TEST_F(HardeningTest, TheContextMenuSocketServesOnlyProcessesOfItsOwnUser) {
    if (geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv")) {
        GTEST_SKIP() << "playing another local user needs root and setpriv";
    }
    const int port = std::atoi(runCommand(session_.app() + "/nimbrel-menu", {"--mode", "1", "port"}).out.c_str());
    ASSERT_GT(port, 0);
    EXPECT_TRUE(contains(askCheckOnline({"/usr/bin/python3"}, port).out, R"("code":"S_OK")"));
    const CommandResult stranger = askCheckOnline(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3"}, port);
    EXPECT_EQ(0, stranger.exitCode) << stranger.err;
    EXPECT_EQ("", stranger.out);
    const std::string log = session_.serverLog();
    const std::size_t refused = log.find("closed: the peer process runs as another user");
    EXPECT_NE(std::string::npos, refused);
    EXPECT_EQ(std::string::npos, log.find("closed: the peer process runs as another user", refused + 1));
}

mode_t permissions(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

// A server without a main client refuses at once, or ends itself a few seconds after start.
std::optional<int> runServerAlone(const std::string& server, const std::map<std::string, std::string>& env,
                                  std::string* err) {
    ChildProcess::Options options;
    options.env = env;
    ChildProcess process(server, {}, options);
    std::optional<int> code = process.wait(std::chrono::seconds(60));
    *err = process.err();
    return code;
}

TEST(PrivateFoldersTest, AServerKeepsItsFoldersPrivateAndRefusesOnesOthersCanTouch) {
    const std::string server = makeAppFolder() + "/" + serverExecutable(1);
    const std::string fresh = makeScratchDir("fresh");
    const std::map<std::string, std::string> freshFolders = {{"NIMBREL_PLATFORM_HOME", fresh + "/home"},
                                                             {"NIMBREL_RUNTIME_DIR", fresh + "/run"}};
    std::string err;
    ASSERT_EQ(std::optional<int>(0), runServerAlone(server, freshFolders, &err)) << err;
    for (const auto& [variable, folder] : freshFolders) {
        EXPECT_EQ(0700u, permissions(folder)) << variable;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (entry.is_regular_file() || entry.is_directory()) {
                EXPECT_EQ(0u, permissions(entry.path()) & 077) << entry.path();
            }
        }
    }

    struct Unsafe {
        const char* variable;
        bool otherOwner;
        mode_t mode;
    };
    for (const Unsafe& unsafe :
         {Unsafe{"NIMBREL_RUNTIME_DIR", true, 0700}, Unsafe{"NIMBREL_RUNTIME_DIR", false, 0777},
          Unsafe{"NIMBREL_PLATFORM_HOME", true, 0700}, Unsafe{"NIMBREL_PLATFORM_HOME", false, 0730}}) {
        if (unsafe.otherOwner && geteuid() != 0) {
            std::cout << "skipped " << unsafe.variable << " owned by another user: needs root" << std::endl;
            continue;
        }
        const std::string folder = makeScratchDir("unsafe");
        ASSERT_EQ(0, ::chmod(folder.c_str(), unsafe.mode));
        if (unsafe.otherOwner) {
            ASSERT_EQ(0, ::chown(folder.c_str(), 65534, 65534));
        }
        const std::optional<int> code = runServerAlone(server, {{unsafe.variable, folder}}, &err);
        ASSERT_TRUE(code.has_value()) << unsafe.variable;
        EXPECT_NE(0, *code) << unsafe.variable << " " << std::oct << unsafe.mode;
        EXPECT_TRUE(contains(err, folder)) << err;
    }
}

}  // namespace
}  // namespace nimbrel::test
