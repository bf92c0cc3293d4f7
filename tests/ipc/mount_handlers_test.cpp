// The mount commands as the main client sends them over the channel: replies, failure envelopes
// and the runtime state that rides along.
#include <gtest/gtest.h>

#include "ipc/service_ipc_manager.h"
#include "manager_fixture.h"
#include "mount_fixture.h"

namespace nimbrel::test {
namespace {

using platform::faults::add;
using platform::faults::Rule;

const std::wstring kOk = L"{\"code\":\"S_OK\"}";

class MountHandlersTest : public ServiceIpcManagerTest {
protected:
    std::wstring mountBody(const std::string& extra = "") {
        return QString::fromStdString("{\"mountPath\":\"" + folder_ + "\"" + extra + "}").toStdWString();
    }
    bool connected() { return viewRoot(folder_).connected; }

    std::string folder_ = makeScratchDir("root");
};

TEST_F(MountHandlersTest, MountMirrorAnswersSuccessAndTakesTheRuntimeState) {
    EXPECT_EQ(
        kOk,
        send(L"mountMirror\r\n" +
             mountBody(R"(,"syncRuntimeState":{"loggedIn":true,"contextMenuAllowed":true,"status":4,"reason":2})")));
    EXPECT_TRUE(connected());
    auto state = CServiceIpcManager::instance().getSyncRuntimeState();
    EXPECT_TRUE(state.loggedIn);
    EXPECT_EQ(4, state.status);
    EXPECT_EQ(2, state.reason);

    // A runtime state of the wrong shape is refused and the mount goes on.
    LogCapture log;
    EXPECT_EQ(kOk, send(L"mountMirror\r\n" + mountBody(R"(,"syncRuntimeState":{"loggedIn":true,)"
                                                       R"("contextMenuAllowed":true,"status":"4","reason":2})")));
    EXPECT_TRUE(log.contains("invalid sync runtime state, source:mountMirror"));
    EXPECT_EQ(4, CServiceIpcManager::instance().getSyncRuntimeState().status);
    EXPECT_EQ(std::vector<std::wstring>{native(folder_)}, CServiceIpcManager::instance().mountedPathsCopy());
}

TEST_F(MountHandlersTest, UnmountMirrorAlwaysAnswersSuccessAndTakesTheRuntimeState) {
    ASSERT_EQ(kOk, send(L"mountMirror\r\n" + mountBody()));
    LogCapture log;
    EXPECT_EQ(
        kOk,
        send(L"unmountMirror\r\n" +
             mountBody(R"(,"syncRuntimeState":{"loggedIn":false,"contextMenuAllowed":false,"status":7,"reason":1})")));
    EXPECT_EQ(7, CServiceIpcManager::instance().getSyncRuntimeState().status);
    // The line follows the reply.
    EXPECT_TRUE(waitUntil([&] { return log.contains(" SUCCESS (operations continue in background)"); }));
    ASSERT_TRUE(waitUntil([&] { return log.contains(" Task fully cleaned up, path:" + folder_); }));
    // Unmounting a folder that was never mounted is answered the same way.
    EXPECT_EQ(kOk, send(L"unmountMirror\r\n{\"mountPath\":\"/nowhere\"}"));
}

TEST_F(MountHandlersTest, AFailedDisconnectMirrorAnswersTheFailureAndStaysConnected) {
    ASSERT_EQ(kOk, send(L"mountMirror\r\n" + mountBody()));
    add(Rule{"CfDisconnectSyncRoot", "", 1, E_ACCESSDENIED});
    EXPECT_EQ(L"{\"code\":\"S_FAIL\",\"errorCode\":\"0x80070005\",\"summary\":\"disconnect sync root path err\"}",
              send(L"disconnectMirror\r\n{}"));
    EXPECT_TRUE(connected());
}

TEST_F(MountHandlersTest, BodiesThatAreNotJsonGetTheirOwnSummaries) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"mountMirror", L"CClientIpcManager::onIpcLogonAccount return failed"},
        {L"unmountMirror", L"JSON parse failed"},
        {L"disconnectMirror", L"CServiceIpcManager::onIpcDisconnectMirror return failed"},
        {L"closeZedoziZevoroExe", L"CClientIpcManager::onIpcLogonAccount return failed"},
    };
    for (const auto& [command, summary] : cases) {
        EXPECT_EQ(std::wstring(L"{\"code\":\"S_FAIL\",\"errorCode\":\"301\",\"summary\":\"") + summary + L"\"}",
                  send(std::wstring(command) + L"\r\n{not json"))
            << QString::fromWCharArray(command).toStdString();
    }
}

}  // namespace
}  // namespace nimbrel::test
