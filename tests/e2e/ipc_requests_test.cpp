// Requests a user sends with nimbrel-mainclient to a running sync-disk server.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

using IpcRequestsTest = AnnouncedServerTest;

TEST_F(IpcRequestsTest, TheServerAnnouncesItselfWithCheckOnlineThenPushOnline) {
    auto requests = session_.clientLines("request ");
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("request checkOnline ", requests[0]);
    EXPECT_EQ("request pushOnline ", requests[1]);
    ASSERT_TRUE(waitUntil([&] { return contains(session_.serverLog(), "pushOnline answered"); }));
    const std::string log = session_.serverLog();
    EXPECT_LT(log.find("checkOnline answered"), log.find("pushOnline answered"));
}

TEST_F(IpcRequestsTest, UnknownAndMalformedRequestsGetTheirFailureEnvelopes) {
    auto unknown = session_.send("bogus", "{}");
    // A refusal is the tool's failure too, so that scripts see it.
    EXPECT_EQ(1, unknown.exitCode);
    EXPECT_EQ("nimbrel-mainclient: bogus failed: unkown cmd, not found ipc_command: bogus\r\n{} (errorCode -1)\n",
              unknown.err);
    EXPECT_EQ(R"({"code":"S_FAIL","errorCode":"-1","summary":"unkown cmd, not found ipc_command: bogus\r\n{}"})",
              firstLine(unknown.out));
    // A body too long for one argument comes from a file or from standard input; the refusal echoes it.
    const std::string body = R"({"large":")" + std::string(200 * 1024, 'x') + "\"}";
    const std::string file = makeScratchDir("body") + "/body.json";
    writeFile(file, body);
    const std::string echoed = R"(bogus\r\n{\"large\":\"xxxx)";
    ChildProcess::Options fromInput;
    fromInput.stdinText = body;
    for (const auto& [argument, options] :
         {std::pair{"@" + file, ChildProcess::Options{}}, std::pair{std::string("-"), fromInput}}) {
        const auto result = runCommand(session_.tool(), {"--mode", "1", "send", "bogus", argument}, options);
        EXPECT_EQ(1, result.exitCode) << argument;
        EXPECT_TRUE(contains(result.out, echoed)) << argument << ": " << result.out.substr(0, 200);
        EXPECT_GT(result.out.size(), body.size()) << argument;
    }
    const auto missing = runCommand(session_.tool(), {"--mode", "1", "send", "bogus", "@" + file + ".missing"});
    EXPECT_EQ(2, missing.exitCode);
    EXPECT_TRUE(contains(missing.err, file + ".missing")) << missing.err;
    auto empty = session_.send("", "{}");
    EXPECT_EQ(R"({"code":"S_FAIL","errorCode":"-1","summary":"unkown cmd, cmd isEmpty: \r\n{}"})",
              firstLine(empty.out));
    auto notJson = session_.send("ziduZuduReloadProxy", "{{");
    EXPECT_EQ(
        R"({"code":"S_FAIL","errorCode":"301","summary":"CClientIpcManager::onIpcZiduZuduReloadProxy return failed"})",
        firstLine(notJson.out));
    // A handler that gives no answer to a broken body: the tool says so and fails.
    auto noAnswer = session_.send("getMessage", "not json");
    EXPECT_NE(0, noAnswer.exitCode);
    EXPECT_TRUE(contains(noAnswer.err, "without a reply")) << noAnswer.err;
}

TEST_F(IpcRequestsTest, NewChannelDiskInfoAndProxyRules) {
    auto channel = session_.send("newChannel", R"({"command":"a","bufferSize":1})");
    EXPECT_TRUE(std::regex_match(
        firstLine(channel.out),
        std::regex(R"re(\{"var":\{"channelName":"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}",)re"
                   R"re("bufferSize":4096\},"code":"S_OK"\})re")))
        << channel.out;
    EXPECT_EQ(R"({"var":{"disksize":0,"freedisksize":0},"code":"S_OK"})",
              firstLine(session_.send("getDiskinfo", R"({"account":"a"})").out));

    const std::string accepted = R"({"code":"S_OK"})";
    const std::string refused =
        R"({"code":"S_FAIL","errorCode":"301","summary":"CClientIpcManager::onIpcZiduZuduSendConfig return failed"})";
    EXPECT_EQ(accepted,
              firstLine(session_.send("ziduZuduSendConfig", R"({"type":1,"port":"8080","address":"127.0.0.1"})").out));
    for (const char* port : {R"("80a")", "0", "65536"}) {
        std::string body = std::string(R"({"type":1,"port":)") + port + R"(,"address":"127.0.0.1"})";
        EXPECT_EQ(refused, firstLine(session_.send("ziduZuduSendConfig", body).out)) << body;
    }
    EXPECT_EQ(accepted, firstLine(session_.send("ziduZuduSendConfig", R"({"type":0})").out));
    EXPECT_EQ(accepted, firstLine(session_.send("cancelTasks").out));
}

// Each request is served on a thread of its own; a few dozen at once overlap as well as hundreds would.
TEST_F(IpcRequestsTest, ConcurrentRequestsEachGetTheirOwnReply) {
    constexpr int kRequests = 32;
    std::vector<std::unique_ptr<ChildProcess>> senders;
    for (int i = 0; i < kRequests; ++i) {
        senders.push_back(std::make_unique<ChildProcess>(
            session_.tool(), std::vector<std::string>{"--mode", "1", "send", "getMessage",
                                                      R"({"content":"n)" + std::to_string(i) + "\"}"}));
    }
    std::set<std::string> names;
    const std::regex reply(R"re(\{"content":"n(\d+)","ipcName":"([^"]+)","code":"S_OK"\})re");
    for (int i = 0; i < kRequests; ++i) {
        auto code = senders[i]->wait(std::chrono::seconds(120));
        ASSERT_TRUE(code.has_value()) << "sender " << i << " did not end";
        EXPECT_EQ(0, *code) << senders[i]->err();
        std::smatch match;
        const std::string line = firstLine(senders[i]->out());
        ASSERT_TRUE(std::regex_match(line, match, reply)) << line;
        EXPECT_EQ(std::to_string(i), match[1].str());
        names.insert(match[2].str());
    }
    EXPECT_EQ(static_cast<std::size_t>(kRequests), names.size());
}

TEST(IpcRequestsWithoutServer, SendingToNoServerFailsWithAClearMessage) {
    IpcSession session;
    auto result = session.send("getMessage", R"({"content":"x"})");
    EXPECT_NE(0, result.exitCode);
    EXPECT_TRUE(result.out.empty());
    EXPECT_TRUE(contains(result.err, "is the Nimbrel server of mode 1 running?")) << result.err;
}

}  // namespace
}  // namespace nimbrel::test
