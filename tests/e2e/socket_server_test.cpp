// Both servers started side by side from one application folder, met by nimbrel-menu as the
// Explorer extension meets them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "ipc_session.h"

namespace {

namespace fs = std::filesystem;
using nimbrel::test::ChildProcess;
using nimbrel::test::IpcSession;
using nimbrel::test::readFile;
using nimbrel::test::runCommand;
using nimbrel::test::waitUntil;

// The listening sockets of process `pid` as "address:port" in the kernel's hexadecimal form.
std::vector<std::string> listeningEndpoints(int pid) {
    std::istringstream table(readFile("/proc/" + std::to_string(pid) + "/net/tcp"));
    std::vector<std::string> endpoints;
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A") endpoints.push_back(local);  // TCP_LISTEN
    }
    return endpoints;
}

std::string hexPort(int port) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", port);
    return text;
}

// Each server runs beside its mode's main client, from one installation folder, and writes its
// certificate to the test's own temporary folder.
class SocketServerTest : public testing::Test {
protected:
    ChildProcess& startServer(int mode) {
        EXPECT_TRUE(sessions_[mode].startAnnounced()) << sessions_[mode].client().out();
        return sessions_[mode].server();
    }

    nimbrel::test::CommandResult menu(int mode, std::vector<std::string> args) {
        args.insert(args.begin(), {"--mode", std::to_string(mode)});
        return runCommand(app_ + "/nimbrel-menu", args);
    }

    // The port that nimbrel-menu reads from the mode's shared memory, once the server published it.
    int publishedPort(int mode) {
        int port = 0;
        waitUntil(
            [&] {
                auto result = menu(mode, {"port"});
                if (result.exitCode == 0) port = std::stoi(result.out);
                return port != 0;
            },
            std::chrono::seconds(60));
        return port;
    }

    std::string app_ = nimbrel::test::makeAppFolder();
    IpcSession sessions_[2] = {IpcSession(0, app_), IpcSession(1, app_)};
};

TEST_F(SocketServerTest, BothModesPublishTheirOwnLoopbackPortAndAnswerCheckOnline) {
    ChildProcess& mounted = startServer(0);
    ChildProcess& syncDisk = startServer(1);
    const int mountedPort = publishedPort(0);
    const int syncDiskPort = publishedPort(1);
    ASSERT_NE(mountedPort, 0) << mounted.out() << mounted.err();
    ASSERT_NE(syncDiskPort, 0) << syncDisk.out() << syncDisk.err();
    EXPECT_NE(mountedPort, syncDiskPort);

    const std::pair<ChildProcess*, int> servers[] = {{&mounted, mountedPort}, {&syncDisk, syncDiskPort}};
    for (int mode : {0, 1}) {
        auto [server, port] = servers[mode];
        auto reply = menu(mode, {"checkOnline"});
        EXPECT_EQ(reply.exitCode, 0) << reply.err;
        EXPECT_EQ(reply.out, "{\"code\":\"S_OK\"}\n");

        // The server's refusal is printed, and the tool fails with "refused".
        auto unknown = menu(mode, {"getcontextmenu", "{}"});
        EXPECT_EQ(unknown.exitCode, 5) << unknown.err;
        EXPECT_EQ(unknown.out,
                  "{\"code\":\"S_FAIL\",\"errorCode\":\"-1\",\"summary\":\"unkown cmd, not found ipc_command: "
                  "getcontextmenu\\r\\n{}\"}\n");

        EXPECT_TRUE(std::regex_search(server->out(), std::regex("socket = \\d+, bind port = " + std::to_string(port))))
            << server->out();
        // Listening on the loopback address only, never on every interface.
        auto endpoints = listeningEndpoints(server->pid());
        EXPECT_NE(std::find(endpoints.begin(), endpoints.end(), "0100007F:" + hexPort(port)), endpoints.end());
        EXPECT_EQ(std::find(endpoints.begin(), endpoints.end(), "00000000:" + hexPort(port)), endpoints.end());
        EXPECT_TRUE(server->running());
    }
}

TEST_F(SocketServerTest, ExtractedCertificateMatchesItsKey) {
    ChildProcess& server = startServer(1);
    ASSERT_NE(publishedPort(1), 0) << server.out() << server.err();

    // Other libraries may keep folders of their own in the temp folder; the server's is a GUID.
    const std::regex guid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(std::getenv("TMPDIR"))) {
        if (std::regex_match(entry.path().filename().string(), guid)) folders.push_back(entry.path());
    }
    ASSERT_EQ(folders.size(), 1u);
    const std::string certificate = (folders[0] / "server.crt").string();
    const std::string key = (folders[0] / "server.key").string();

    auto subject = runCommand(NIMBREL_OPENSSL, {"x509", "-in", certificate, "-noout", "-subject"});
    ASSERT_EQ(subject.exitCode, 0) << subject.err;
    EXPECT_NE(subject.out.find("CN = 127.0.0.1"), std::string::npos) << subject.out;
    auto certificateKey = runCommand(NIMBREL_OPENSSL, {"x509", "-in", certificate, "-noout", "-pubkey"});
    auto privateKey = runCommand(NIMBREL_OPENSSL, {"pkey", "-in", key, "-pubout"});
    ASSERT_EQ(privateKey.exitCode, 0) << privateKey.err;
    EXPECT_FALSE(certificateKey.out.empty());
    EXPECT_EQ(certificateKey.out, privateKey.out);
}

}  // namespace
