#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ipc/service_ipc_manager.h"
#include "manager_fixture.h"
#include "suite/base/proxy_wrapper.h"
#include "suite/logbridge/log_capture.h"

namespace nimbrel::test {
namespace {

using ProxyHandlersTest = ServiceIpcManagerTest;

const std::wstring kRefused =
    L"{\"code\":\"S_FAIL\",\"errorCode\":\"301\",\"summary\":\"CClientIpcManager::onIpcZiduZuduSendConfig return "
    L"failed\"}";
const std::wstring kOk = L"{\"code\":\"S_OK\"}";

TEST_F(ProxyHandlersTest, AcceptedSettingsReachTheDownloadProxy) {
    EXPECT_EQ(kOk, send(L"ziduZuduSendConfig\r\n{\"type\":1,\"port\":\"8080\",\"address\":\"10.1.1.1\","
                        L"\"userName\":\"u\",\"password\":\"p\"}"));
    ProxyRecord active = CProxyWrapper::instance().activeProxy();
    EXPECT_EQ(kProxyHttp, active.type);
    EXPECT_EQ(8080, active.port);
    EXPECT_EQ(QStringLiteral("10.1.1.1"), active.address);
    EXPECT_EQ(QStringLiteral("u"), active.userName);

    EXPECT_EQ(kOk, send(L"ziduZuduReloadProxy\r\n{\"newType\":3}"));
    EXPECT_EQ(kProxySocks5, CProxyWrapper::instance().activeProxy().type);
    EXPECT_EQ(QStringLiteral("10.1.1.1"), CProxyWrapper::instance().activeProxy().address);

    // Type 0 needs nothing else and switches the proxy off.
    EXPECT_EQ(kOk, send(L"ziduZuduSendConfig\r\n{\"type\":0}"));
    EXPECT_EQ(kProxyNone, CProxyWrapper::instance().activeProxy().type);
}

TEST_F(ProxyHandlersTest, EveryRefusalAnswers301AndChangesNothing) {
    ASSERT_EQ(kOk, send(L"ziduZuduSendConfig\r\n{\"type\":2,\"port\":1080,\"address\":\"keep.me\"}"));
    for (const wchar_t* body : {
             L"{\"type\":1,\"address\":\"h\"}",
             L"{\"type\":1,\"port\":8080,\"address\":\"\"}",
             L"{\"type\":4}",
             L"{\"type\":\"1\",\"port\":8080,\"address\":\"h\"}",
             L"{}",
         }) {
        EXPECT_EQ(kRefused, send(std::wstring(L"ziduZuduSendConfig\r\n") + body)) << body;
    }
    EXPECT_EQ(kRefused, send(L"ziduZuduSendConfig\r\nnot json"));
    EXPECT_EQ(QStringLiteral("keep.me"), CProxyWrapper::instance().activeProxy().address);
    EXPECT_EQ(kProxySocks4, CProxyWrapper::instance().activeProxy().type);
}

TEST_F(ProxyHandlersTest, RepairNoticesCarryCleanedWindowsPaths) {
    client_.waitForCommands(2);
    LogCapture capture;
    CServiceIpcManager::instance().notifyHardLinkRepairStarted(
        QStringLiteral("/home/ann//Sync/./a.txt"), QStringLiteral("/home/ann/Sync/a.txt.hardlink_repair.tmp"));
    CServiceIpcManager::instance().notifyHardLinkRepairFinished(QStringLiteral("/home/ann/Sync/sub/../a.txt"), true);
    client_.waitForCommands(4);
    // The two notices may arrive in either order.
    std::map<std::string, std::string> received;
    const auto commands = client_.commands();
    const auto bodies = client_.bodies();
    for (std::size_t i = 0; i < commands.size(); ++i) received[commands[i]] = bodies[i];
    EXPECT_EQ(R"({"filePath":"\\home\\ann\\Sync\\a.txt","tempPath":"\\home\\ann\\Sync\\a.txt.hardlink_repair.tmp"})",
              received["hardLinkRepairStarted"]);
    EXPECT_EQ(R"({"filePath":"\\home\\ann\\Sync\\a.txt","bUpdateLsid":true})", received["hardLinkRepairFinished"]);
    EXPECT_TRUE(capture.contains("notify hardlink repair started, path:/home/ann//Sync/./a.txt temp:"));
    EXPECT_TRUE(capture.contains("notify hardlink repair finished, path:/home/ann/Sync/sub/../a.txt"));
}

}  // namespace
}  // namespace nimbrel::test
