#pragma once
// An installation folder with a server and nimbrel-mainclient, for driving the IPC channel the
// way a user would. A server that finds no client of its mode ends itself a few seconds after
// start, so the client always starts first.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e_processes.h"
#include "support/test_env.h"

namespace nimbrel::test {

class IpcSession {
public:
    // Mode 1 (sync disk, "RoziDavidoVodido") unless told otherwise, from a fresh installation folder.
    explicit IpcSession(int mode = 1, std::string app = makeAppFolder());

    // Starts `nimbrel-mainclient --mode N serve` with extra options.
    void startClient(const std::vector<std::string>& options = {});
    // Starts the mode's server, with `faults` as its fault-injection rules.
    void startServer(const std::string& faults = {});
    // Starts the client, then the server; answers whether the server announced itself to the client.
    bool startAnnounced(const std::string& faults = {});
    // Runs `nimbrel-mainclient --mode N send command [body]`.
    CommandResult send(const std::string& command, const std::string& body);
    CommandResult send(const std::string& command);

    ChildProcess& client() { return *client_; }
    ChildProcess& server() { return *server_; }
    void dropClient() { client_.reset(); }
    std::string serverLog() const;
    // The installation folder, and the main client's executable in it.
    std::string app() const { return app_; }
    std::string tool() const;
    // The client's log lines that start with `prefix`, in order.
    std::vector<std::string> clientLines(const std::string& prefix) const;

private:
    std::string serverName() const;

    int mode_;
    std::string app_;
    std::unique_ptr<ChildProcess> client_;
    std::unique_ptr<ChildProcess> server_;
};

// A test beside a sync-disk server that has announced itself to its main client.
class AnnouncedServerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.startAnnounced()) << session_.client().out() << session_.server().err();
    }
    IpcSession session_;
};

// The first line of a tool's output: the reply without the lines that follow it.
inline std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace nimbrel::test
