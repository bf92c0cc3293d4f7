#include "ipc/reply_envelope.h"

#include <gtest/gtest.h>

#include "suite/logbridge/log_capture.h"

namespace {

TEST(ReplyEnvelope, HandlerMembersComeFirstThenCodeErrorCodeAndSummaryInOrder) {
    ReplyEnvelope envelope("CServiceIpcManager");
    rapidjson::Document document(rapidjson::kObjectType);
    document.AddMember("content", "\xE4\xBA\x91 \xF0\x9F\x98\x80", document.GetAllocator());
    document.AddMember("ipcName", "a", document.GetAllocator());
    std::wstring out;
    ASSERT_EQ(0, envelope.returnSuccess(document, out));
    EXPECT_EQ(L"{\"content\":\"\u4E91 \U0001F600\",\"ipcName\":\"a\",\"code\":\"S_OK\"}", out);

    rapidjson::Document empty;
    ASSERT_EQ(0, envelope.returnFailure("S_FAIL", "301", "bad body", out, empty));
    EXPECT_EQ(L"{\"code\":\"S_FAIL\",\"errorCode\":\"301\",\"summary\":\"bad body\"}", out);
}

TEST(ReplyEnvelope, RefusesSuccessWithDetailsOrFailureWithoutThemAndLogsUnderItsOwner) {
    ReplyEnvelope envelope("SocketApi");
    LogCapture capture;
    rapidjson::Document document;
    std::wstring out = L"previous";

    EXPECT_EQ(-1, envelope.getResult("S_OK", "1", "", document, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(
        capture.contains("SocketApi::onIpcGetResult parameter is error., code = S_OK, errCode = 1, summary = "));

    EXPECT_EQ(-1, envelope.returnFailure("S_FAIL", "301", "", out, document));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(capture.contains("SocketApi::onIpcReturnFailure onIpcGetResult return failure."));

    EXPECT_EQ(-1, envelope.returnFailure("S_FAIL", "", "summary only", out, document));
    EXPECT_EQ(-1, envelope.getResult("S_OK", "", "x", document, out));
    EXPECT_EQ(4, capture.count("SocketApi::onIpcGetResult parameter is error."));
}

}  // namespace
