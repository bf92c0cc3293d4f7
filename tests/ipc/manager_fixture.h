#pragma once
// Starts the real CServiceIpcManager against a client channel of the test: the module is loaded
// from the test executable's folder, as the server loads it from its host's. The test process
// runs under a client name of its own, so the liveness watch never finds "its" client gone and
// no other process on the machine can stand in for it.
//
// The manager and both channels live as long as the process, and a channel listens where it was
// first started: so the first test of the manager keeps its runtime folder for every later test
// of the process, and each test leaves no root mounted and the client answering as at its start.

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "suite/ipcmodule/ipc_interface.h"

namespace nimbrel::test {

// The client name the test process runs under ("nt<pid>.exe").
std::string testClientName();
// Renames the calling process's main thread (its image name in a process snapshot).
void setProcessName(const std::string& name);
// Installs a mounted-space configuration record whose client name is testClientName().
void installTestConfig();

// Lives as long as the process, like the channel that calls it.
class TestClient : public IRequestNotify {
public:
    // Answers `command` with `reply` from now on; every command is answered {"code":"S_OK"} until told otherwise.
    void setAnswer(const std::string& command, const std::wstring& reply);
    // Forgets the answers set and the requests received.
    void reset();

    int OnRequest(const char* ipcName, const std::wstring& text) override;
    std::vector<std::string> commands();
    std::vector<std::string> bodies();
    void waitForCommands(std::size_t count);
    IIpcInterface* channel = nullptr;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::vector<std::string> bodies_;
    std::map<std::string, std::wstring> answers_;
};

class ServiceIpcManagerTest : public testing::Test {
protected:
    void SetUp() override;
    // Unmounts every root the manager holds.
    void TearDown() override;
    // Sends `text` to the manager as the client would and answers its reply ("" for none).
    std::wstring send(const std::wstring& text, int* result = nullptr);

    TestClient& client_ = processClient();

private:
    static TestClient& processClient();
};

}  // namespace nimbrel::test
