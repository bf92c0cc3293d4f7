#include <gtest/gtest.h>

#include <regex>

#include "host/sync_virtual_config.h"
#include "ipc/service_ipc_manager.h"
#include "manager_fixture.h"
#include "suite/logbridge/log_capture.h"

namespace nimbrel::test {
namespace {

using DispatchTest = ServiceIpcManagerTest;

std::string utf8(const std::wstring& text) { return QString::fromStdWString(text).toStdString(); }

TEST_F(DispatchTest, GetMessageEchoesContentAndEveryRequesterAndNewChannelGetsANameOfItsOwn) {
    const std::string reply = utf8(send(L"getMessage\r\n{\"content\":\"x\"}"));
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(reply, match, std::regex(R"re(\{"content":"x","ipcName":"([^"]+)","code":"S_OK"\})re")))
        << reply;
    EXPECT_EQ(0u, match[1].str().find(syncConfig()->pluginServiceChannel().toStdString()));

    // Two requests are told apart by their names; a missing content echoes as empty.
    const std::string second = utf8(send(L"getFileHistoryList\r\n{\"content\":7}"));
    ASSERT_TRUE(std::regex_match(second, std::regex(R"re(\{"content":"","ipcName":"[^"]+","code":"S_OK"\})re")))
        << second;
    EXPECT_EQ(std::string::npos, second.find("\"" + match[1].str() + "\""));
    EXPECT_NE(send(L"newChannel\r\n{}"), send(L"newChannel\r\n{}"));
    EXPECT_EQ(L"{\"code\":\"S_OK\"}", send(L"checkOnline\r\n"));
}

TEST_F(DispatchTest, MalformedRequestsGetTheirFailureEnvelopes) {
    LogCapture capture;
    EXPECT_EQ(L"{\"code\":\"S_FAIL\",\"errorCode\":\"-1\",\"summary\":\"unkown cmd, not process: checkOnline\"}",
              send(L"checkOnline"));
    // The end-to-end requests check these two replies; here only what they log.
    send(L"\r\n{}");
    send(L"noSuchCommand\r\n{\"a\":1}");
    EXPECT_TRUE(capture.contains("CServiceIpcManager::OnRequest unkown cmd, not process: checkOnline"));
    EXPECT_TRUE(capture.contains("CServiceIpcManager::OnRequest unkown cmd, cmd isEmpty: "));
    EXPECT_TRUE(capture.contains("CServiceIpcManager::OnRequest unkown cmd, not found ipc_command: noSuchCommand"));
}

TEST_F(DispatchTest, BodiesThatAreNotJsonGetNoReplyFromTheEchoAndChannelHandlers) {
    for (const wchar_t* text : {L"newChannel\r\n{oops", L"getMessage\r\nnot json", L"getFileHistoryList\r\n[",
                                L"getDiskinfo\r\n{\"account\":"}) {
        int result = -1;
        EXPECT_EQ(L"", send(text, &result)) << text;
        EXPECT_EQ(kIpcRequestNoReply, result) << text;
    }
}

}  // namespace
}  // namespace nimbrel::test
