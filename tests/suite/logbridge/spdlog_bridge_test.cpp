#include "suite/logbridge/spdlog_bridge.h"

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <regex>

#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace {

struct Probe {
    void logSomething() {
        LOG_WARN << "value=" << 42 << " wide=" << std::wstring(L"\u540c\u6b65") << " qt=" << QString("q");
    }
};

TEST(SpdlogBridgeTest, LinePrefixCarriesFileLineAndQualifiedFunction) {
    LogCapture capture;
    Probe().logSomething();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    std::regex expected(R"(^\[spdlog_bridge_test\.cpp:\d+\] Probe::logSomething value=42 wide=同步 qt=q$)");
    EXPECT_TRUE(std::regex_match(lines[0].text, expected)) << lines[0].text;
}

TEST(SpdlogBridgeTest, DebugIsBelowTheInfoThreshold) {
    LogCapture capture;
    LOG_DEBUG << "hidden";
    LOG_INFO << "shown";
    EXPECT_FALSE(capture.contains("hidden"));
    EXPECT_TRUE(capture.contains("shown"));
}

TEST(SpdlogBridgeTest, InitializeWritesThePatternIntoTheDatedFileAndAPidAlias) {
    auto dir = nimbrel::test::makeScratchDir("log") + "/RoziDavidoVodido/";
    ASSERT_TRUE(SpdlogBridge::getInstance().initialize(dir, "RoziDavidoVodido-20261205", 10485760, 40,
                                                       "[%Y%m%d,%H:%M:%S.%e][%l][%t]%v", 2, true));
    LOG_INFO << "hello";
    auto text = nimbrel::test::readFile(dir + "RoziDavidoVodido-20261205.log");
    std::regex line(R"(\[\d{8},\d{2}:\d{2}:\d{2}\.\d{3}\]\[info\]\[\d+\]\[spdlog_bridge_test\.cpp:\d+\] .*hello\n)");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    auto alias = dir + "RoziDavidoVodido-" + std::to_string(getpid()) + ".log";
    EXPECT_EQ(nimbrel::test::readFile(alias), text);
}

}  // namespace
