#include "suite/logbridge/spdlog_bridge.h"

#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "suite/logbridge/log_capture.h"

namespace {

struct Probe {
    void logSomething() {
        LOG_WARN << "value=" << 42 << " wide=" << std::wstring(L"\u540c\u6b65") << " qt=" << QString("q");
    }
};

TEST(SpdlogBridgeTest, LinePrefixCarriesFileLineAndQualifiedFunctionAndDebugIsBelowTheThreshold) {
    LogCapture capture;
    LOG_DEBUG << "hidden";
    Probe().logSomething();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    std::regex expected(R"(^\[spdlog_bridge_test\.cpp:\d+\] Probe::logSomething value=42 wide=同步 qt=q$)");
    EXPECT_TRUE(std::regex_match(lines[0].text, expected)) << lines[0].text;
    LOG_INFO << "shown";
    EXPECT_TRUE(capture.contains("shown"));
}

// A line is in the file as soon as it is logged; a batch's lines are in it when the batch ends, and
// a warning inside the batch takes the lines before it along.
TEST(SpdlogBridgeTest, LinesReachTheFileAtOnceOrWhenTheBatchThatHeldThemBackEnds) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/nimbrel-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    ASSERT_TRUE(SpdlogBridge::getInstance().initialize(dir, "probe-20260101", 1 << 20, 2, "%v", 2, true));
    auto logged = [&] {
        std::ifstream file(dir + "/probe-20260101.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    LOG_INFO << "alone";
    EXPECT_NE(logged().find("alone"), std::string::npos);
    {
        DeferredLogFlush batch;
        LOG_INFO << "first of the batch";
        EXPECT_EQ(logged().find("first of the batch"), std::string::npos);
        LOG_WARN << "a warning";
        EXPECT_NE(logged().find("first of the batch"), std::string::npos);
        LOG_INFO << "last of the batch";
    }
    EXPECT_NE(logged().find("last of the batch"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
