#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "host/sync_virtual_config.h"
#include "socket/socket_api.h"
#include "socket/test_socket_client.h"

namespace {

// Without Winsock every socket call fails: the server reports each failure on the console and
// still comes up, publishing port 0, rather than ending the process. The check runs in a fresh
// child process, whose server is created by this test alone.
TEST(SocketApiFailureDeathTest, WithoutWinsockEveryStepReportsItsErrorAndStartUpGoesOn) {
    EXPECT_EXIT(
        {
            createSyncConfig(1);
            testing::internal::CaptureStdout();
            SocketApi::instance();
            std::string console = testing::internal::GetCapturedStdout();
            std::cerr << console << "published " << nimbrel::test::publishedRecord("_SocketApi_tcp_sync_") << std::endl;
            _exit(0);
        },
        testing::ExitedWithCode(0),
        "#socket create error = 10093\n"
        "#socket bind error = 10093\n"
        "#socket listen error = 10093\n"
        "socket = -1, bind port = 0\n"
        "(.|\n)*published \\{\"serverport\":0\\}\n");
}

}  // namespace
