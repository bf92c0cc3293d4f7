// The server lives as long as its main client: a client that is gone ends it, one that is only
// silent does not.
#include <gtest/gtest.h>
#include <signal.h>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

TEST(IpcLiveness, TheServerEndsWithExitCodeZeroOnceTheClientIsKilled) {
    IpcSession session(0);
    ASSERT_TRUE(session.startAnnounced()) << session.client().out();

    session.client().signal(SIGKILL);
    // Reaped, so that no exited process of the client's name is left to be found.
    ASSERT_TRUE(session.client().wait().has_value());
    auto code = session.server().wait(std::chrono::seconds(30));
    ASSERT_TRUE(code.has_value()) << "the server kept running without its client";
    EXPECT_EQ(0, *code);
    EXPECT_NE(std::string::npos, session.serverLog().find("duzodUruro not running ,mirror server will exit"));
}

TEST(IpcLiveness, ASilentClientThatStillRunsKeepsTheServerPolling) {
    IpcSession session;
    session.startClient({"--silent"});
    session.startServer();
    // Start-up's own check, then at least two polls of the liveness watch.
    ASSERT_TRUE(
        waitUntil([&] { return session.clientLines("request checkOnline").size() >= 3; }, std::chrono::seconds(60)))
        << session.client().out();
    EXPECT_TRUE(session.server().running());
    // An unanswered check means the service is not announced.
    EXPECT_TRUE(session.clientLines("request pushOnline").empty());
}

}  // namespace
}  // namespace nimbrel::test
