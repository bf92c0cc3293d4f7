#include "host/qt_message_handler.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include "suite/logbridge/log_capture.h"

namespace {

TEST(QtMessageHandlerTest, QtMessagesReachTheLogWithSourcePrefix) {
    LogCapture capture;
    installQtMessageHandler();
    qInfo("older code says %d", 1);
    qWarning("older code warns");
    qCritical("older code fails");
    qDebug("below the threshold");

    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[1].level, 3);
    EXPECT_EQ(lines[2].level, 4);
    EXPECT_NE(lines[0].text.find("older code says 1"), std::string::npos) << lines[0].text;
    EXPECT_EQ(lines[1].text.rfind("[qt_message_handler_test.cpp:", 0), 0u) << lines[1].text;
    EXPECT_NE(lines[2].text.find("older code fails"), std::string::npos);
    EXPECT_FALSE(capture.contains("below the threshold"));
}

}  // namespace
