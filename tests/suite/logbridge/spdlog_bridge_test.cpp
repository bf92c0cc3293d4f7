#include "suite/logbridge/spdlog_bridge.h"

#include <gtest/gtest.h>

#include <QString>
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

}  // namespace
