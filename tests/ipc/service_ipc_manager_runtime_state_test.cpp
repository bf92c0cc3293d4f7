#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "ipc/service_ipc_manager.h"
#include "manager_fixture.h"
#include "suite/logbridge/log_capture.h"

namespace nimbrel::test {
namespace {

class RuntimeStateTest : public ServiceIpcManagerTest {
protected:
    void answerCheckOnline(const std::wstring& reply) { client_.setAnswer("checkOnline", reply); }
    void answerPushOnline(const std::wstring& reply) { client_.setAnswer("pushOnline", reply); }

    CServiceIpcManager& manager = CServiceIpcManager::instance();
};

const std::wstring kLoggedIn =
    L"{\"var\":{\"loggedIn\":true,\"contextMenuAllowed\":true,\"status\":3,\"reason\":9},\"code\":\"S_OK\"}";

TEST_F(RuntimeStateTest, CheckOnlineStoresAValidRuntimeState) {
    answerCheckOnline(kLoggedIn);
    ASSERT_EQ(0, manager.queryClientOnline());
    auto state = manager.getSyncRuntimeState();
    EXPECT_TRUE(state.serviceOnline);
    EXPECT_TRUE(state.loggedIn);
    EXPECT_TRUE(state.contextMenuAllowed);
    EXPECT_EQ(3, state.status);
    EXPECT_EQ(9, state.reason);
}

TEST_F(RuntimeStateTest, CheckOnlineWithoutOrWithABadStateStaysOnlineButResetsTheUserFields) {
    LogCapture capture;
    for (const wchar_t* reply : {L"{\"code\":\"S_OK\"}",
                                 L"{\"var\":{\"loggedIn\":true,\"contextMenuAllowed\":true,\"status\":\"3\","
                                 L"\"reason\":9},\"code\":\"S_OK\"}",
                                 L"{\"var\":[1],\"code\":\"S_OK\"}"}) {
        answerCheckOnline(kLoggedIn);
        ASSERT_EQ(0, manager.queryClientOnline());
        answerCheckOnline(reply);
        EXPECT_EQ(0, manager.queryClientOnline()) << reply;
        auto state = manager.getSyncRuntimeState();
        EXPECT_TRUE(state.serviceOnline);
        EXPECT_FALSE(state.loggedIn);
        EXPECT_FALSE(state.contextMenuAllowed);
        EXPECT_EQ(-1, state.status);
        EXPECT_EQ(-1, state.reason);
    }
    EXPECT_EQ(
        3, capture.count("CServiceIpcManager::updateSyncRuntimeState invalid sync runtime state, source:checkOnline"));
}

TEST_F(RuntimeStateTest, AFailedCheckOnlineMarksTheServiceOfflineAndResets) {
    for (const wchar_t* reply : {L"{\"code\":\"S_FAIL\",\"errorCode\":\"1\",\"summary\":\"no\"}", L"not json", L""}) {
        answerCheckOnline(kLoggedIn);
        ASSERT_EQ(0, manager.queryClientOnline());
        answerCheckOnline(reply);
        EXPECT_EQ(-1, manager.queryClientOnline()) << reply;
        auto state = manager.getSyncRuntimeState();
        EXPECT_FALSE(state.serviceOnline);
        EXPECT_FALSE(state.loggedIn);
        EXPECT_EQ(-1, state.status);
    }
}

TEST_F(RuntimeStateTest, AFailedPushOnlineOnlyTouchesTheOnlineFlag) {
    answerCheckOnline(kLoggedIn);
    ASSERT_EQ(0, manager.queryClientOnline());
    answerPushOnline(L"{\"code\":\"S_FAIL\",\"errorCode\":\"1\",\"summary\":\"no\"}");
    EXPECT_EQ(-1, manager.announceOnline());
    auto state = manager.getSyncRuntimeState();
    EXPECT_FALSE(state.serviceOnline);
    EXPECT_TRUE(state.loggedIn);
    EXPECT_EQ(3, state.status);

    answerPushOnline(L"{\"code\":\"S_OK\"}");
    EXPECT_EQ(0, manager.announceOnline());
    EXPECT_TRUE(manager.getSyncRuntimeState().serviceOnline);
}

TEST_F(RuntimeStateTest, AnInvalidStateFromAMountBodyKeepsThePreviousOne) {
    answerCheckOnline(kLoggedIn);
    ASSERT_EQ(0, manager.queryClientOnline());
    rapidjson::Document body;
    body.Parse(R"({"loggedIn":false,"contextMenuAllowed":false,"status":"1","reason":2})");
    LogCapture capture;
    EXPECT_FALSE(manager.updateSyncRuntimeState(body, "mountMirror"));
    EXPECT_TRUE(
        capture.contains("CServiceIpcManager::updateSyncRuntimeState invalid sync runtime state, source:mountMirror"));
    auto state = manager.getSyncRuntimeState();
    EXPECT_TRUE(state.loggedIn);
    EXPECT_EQ(3, state.status);

    body.Parse(R"({"loggedIn":false,"contextMenuAllowed":true,"status":5,"reason":6})");
    EXPECT_TRUE(manager.updateSyncRuntimeState(body, "mountMirror"));
    state = manager.getSyncRuntimeState();
    EXPECT_FALSE(state.loggedIn);
    EXPECT_TRUE(state.contextMenuAllowed);
    EXPECT_EQ(5, state.status);
    EXPECT_EQ(6, state.reason);
}

// The process check ends the process, so both outcomes run in a child.
TEST(CheckClientRunning, EndsTheProcessWithExitCodeZeroWhenTheClientIsGone) {
    EXPECT_EXIT(
        {
            installTestConfig();
            setProcessName("not-the-client");
            CServiceIpcManager::instance().checkClientrunning();
            std::_Exit(7);
        },
        testing::ExitedWithCode(0), "");
}

TEST(CheckClientRunning, ReturnsWhileAProcessOfTheClientsNameRuns) {
    EXPECT_EXIT(
        {
            installTestConfig();
            setProcessName(testClientName());
            CServiceIpcManager::instance().checkClientrunning();
            std::_Exit(7);
        },
        testing::ExitedWithCode(7), "");
}

}  // namespace
}  // namespace nimbrel::test
