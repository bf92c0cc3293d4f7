#include <gtest/gtest.h>

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

TEST_F(RuntimeStateTest, CheckOnlineStoresAValidStateAndResetsTheUserFieldsOtherwise) {
    answerCheckOnline(kLoggedIn);
    ASSERT_EQ(0, manager.queryClientOnline());
    auto state = manager.getSyncRuntimeState();
    EXPECT_TRUE(state.serviceOnline);
    EXPECT_TRUE(state.loggedIn);
    EXPECT_TRUE(state.contextMenuAllowed);
    EXPECT_EQ(3, state.status);
    EXPECT_EQ(9, state.reason);

    // Answers without a usable state keep the service online; failed answers mark it offline.
    const std::pair<const wchar_t*, int> replies[] = {
        {L"{\"code\":\"S_OK\"}", 0},
        {L"{\"var\":{\"loggedIn\":true,\"contextMenuAllowed\":true,\"status\":\"3\",\"reason\":9},\"code\":\"S_OK\"}",
         0},
        {L"{\"var\":[1],\"code\":\"S_OK\"}", 0},
        {L"{\"code\":\"S_FAIL\",\"errorCode\":\"1\",\"summary\":\"no\"}", -1},
        {L"not json", -1},
        {L"", -1},
    };
    LogCapture capture;
    for (const auto& [reply, result] : replies) {
        answerCheckOnline(kLoggedIn);
        ASSERT_EQ(0, manager.queryClientOnline());
        answerCheckOnline(reply);
        EXPECT_EQ(result, manager.queryClientOnline()) << reply;
        state = manager.getSyncRuntimeState();
        EXPECT_EQ(result == 0, state.serviceOnline) << reply;
        EXPECT_FALSE(state.loggedIn) << reply;
        EXPECT_FALSE(state.contextMenuAllowed) << reply;
        EXPECT_EQ(-1, state.status) << reply;
        EXPECT_EQ(-1, state.reason) << reply;
    }
    EXPECT_EQ(
        3, capture.count("CServiceIpcManager::updateSyncRuntimeState invalid sync runtime state, source:checkOnline"));
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

}  // namespace
}  // namespace nimbrel::test
