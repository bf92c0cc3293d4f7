// A sync-disk server fed requests no well-behaved main client sends.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ipc_session.h"

namespace nimbrel::test {
namespace {

bool contains(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class HardeningTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.startAnnounced()) << session_.client().out() << session_.server().err();
    }
    IpcSession session_;
};

// A member nested `depth` levels deep in an object.
std::string nested(int depth) {
    return R"({"deep":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

TEST_F(HardeningTest, ABodyNestedTooDeeplyIsRefusedAndTheServerGoesOn) {
    const std::string refused =
        R"({"code":"S_FAIL","errorCode":"301","summary":"CClientIpcManager::onIpcZiduZuduReloadProxy return failed"})";
    EXPECT_EQ(refused, firstLine(session_.send("ziduZuduReloadProxy", std::string(100000, '[')).out));
    EXPECT_EQ(refused, firstLine(session_.send("ziduZuduReloadProxy", nested(129)).out));
    EXPECT_EQ(R"({"code":"S_OK"})", firstLine(session_.send("ziduZuduReloadProxy", nested(128)).out));
}

TEST_F(HardeningTest, ALongBodyIsLoggedShortenedWithItsFullLength) {
    const std::string body(100000, 'x');
    session_.send("getMessage", body);
    EXPECT_EQ(0, session_.send("noSuchCommand", body).exitCode);
    const std::string log = session_.serverLog();
    EXPECT_TRUE(contains(log, " body =" + std::string(4096, 'x') + "... (100000 bytes), error =")) << log.size();
    EXPECT_TRUE(contains(
        log, "unkown cmd, not found ipc_command: noSuchCommand\r\n" + std::string(4046, 'x') + "... (100050 bytes)"));
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 8192u);
}

}  // namespace
}  // namespace nimbrel::test
