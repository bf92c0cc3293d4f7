// The one live connection: connect replaces, disconnect is retried with the same key, and a
// path-scoped disconnect only touches its own root.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace faults = nimbrel::platform::faults;

namespace {

class ConnectionTest : public testing::Test {
protected:
    void SetUp() override {
        createSyncConfig(1);
        first_ = registered("first");
        second_ = registered("second");
    }
    void TearDown() override { CfApiWrapper::disconnectSyncRoot(); }

    static QString registered(const std::string& name) {
        QString path = QString::fromStdString(nimbrel::test::makeScratchDir(name)).replace('/', '\\');
        EXPECT_EQ(
            CfApiWrapper::registerSyncRoot(path, "RoziDavidoVodido", "1.0", "{CBDE6239-084A-416F-826F-D7C264868D75}"),
            S_OK);
        return path;
    }

    // Whether the platform sees a live connection on `path` (a second connect is refused then).
    static bool platformConnected(const QString& path) {
        static const CF_CALLBACK_REGISTRATION none[] = {CF_CALLBACK_REGISTRATION_END};
        CF_CONNECTION_KEY key{};
        HRESULT hr = CfConnectSyncRoot(path.toStdWString().c_str(), none, nullptr, CF_CONNECT_FLAG_NONE, &key);
        if (SUCCEEDED(hr)) {
            CfDisconnectSyncRoot(key);
            return false;
        }
        EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CLOUD_FILE_ALREADY_CONNECTED));
        return true;
    }

    QString first_;
    QString second_;
};

}  // namespace

TEST_F(ConnectionTest, ConnectingRecordsTheKeyAndPathAndReplacesTheLiveConnection) {
    faults::resetCallCounts();
    LogCapture capture;
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(), S_OK);
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(first_), S_OK);
    EXPECT_EQ(capture.count("disconnectSyncRoot path had done"), 2) << "nothing connected is a quiet success";
    EXPECT_EQ(faults::callCount("CfDisconnectSyncRoot"), 0);

    ASSERT_EQ(CfApiWrapper::connectSyncRoot(first_), S_OK);
    EXPECT_NE(CfApiWrapper::connectionKey().Internal, 0);
    EXPECT_EQ(CfApiWrapper::connectedRoot(), first_);
    EXPECT_TRUE(platformConnected(first_));
    EXPECT_TRUE(capture.contains("connectSyncRoot s_gConnectionKey:"));

    ASSERT_EQ(CfApiWrapper::connectSyncRoot(second_), S_OK);
    EXPECT_EQ(CfApiWrapper::connectedRoot(), second_);
    EXPECT_FALSE(platformConnected(first_));
    EXPECT_TRUE(platformConnected(second_));

    ASSERT_EQ(CfApiWrapper::disconnectSyncRoot(), S_OK);
    EXPECT_EQ(CfApiWrapper::connectionKey().Internal, 0);
    EXPECT_TRUE(CfApiWrapper::connectedRoot().isEmpty());
    EXPECT_FALSE(platformConnected(second_));
}

TEST_F(ConnectionTest, AFailedConnectLeavesNothingConnected) {
    ASSERT_EQ(CfApiWrapper::connectSyncRoot(first_), S_OK);
    faults::add({"CfConnectSyncRoot", "", 1, static_cast<HRESULT>(0x8007017C)});
    EXPECT_EQ(CfApiWrapper::connectSyncRoot(second_), static_cast<HRESULT>(0x8007017C));
    EXPECT_EQ(CfApiWrapper::connectionKey().Internal, 0);
    EXPECT_TRUE(CfApiWrapper::connectedRoot().isEmpty());
    EXPECT_FALSE(platformConnected(first_));
    EXPECT_FALSE(platformConnected(second_));
}

TEST_F(ConnectionTest, AFailedDisconnectKeepsTheKeyForTheNextAttempt) {
    ASSERT_EQ(CfApiWrapper::connectSyncRoot(first_), S_OK);
    CF_CONNECTION_KEY key = CfApiWrapper::connectionKey();
    faults::add({"CfDisconnectSyncRoot", "", 1, E_FAIL});
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(), E_FAIL);
    EXPECT_EQ(CfApiWrapper::connectionKey().Internal, key.Internal);
    EXPECT_EQ(CfApiWrapper::connectedRoot(), first_);
    EXPECT_TRUE(platformConnected(first_));
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(), S_OK);
    EXPECT_FALSE(platformConnected(first_));
}

TEST_F(ConnectionTest, APathScopedDisconnectIgnoresSeparatorsOneTrailingSeparatorAndCase) {
    ASSERT_EQ(CfApiWrapper::connectSyncRoot(first_), S_OK);
    LogCapture capture;
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(second_), S_OK);
    EXPECT_TRUE(capture.contains("skip stale root disconnect, expected:"));
    EXPECT_TRUE(platformConnected(first_));
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(first_ + "\\sub"), S_OK);
    EXPECT_TRUE(platformConnected(first_));

    QString variant = QString(first_).replace('\\', '/').toUpper() + "/";
    EXPECT_EQ(CfApiWrapper::disconnectSyncRoot(variant), S_OK);
    EXPECT_EQ(CfApiWrapper::connectionKey().Internal, 0);
    EXPECT_FALSE(platformConnected(first_));
}

TEST_F(ConnectionTest, ConcurrentCallersAlwaysLeaveOneConsistentConnection) {
    const std::vector<std::function<HRESULT(int)>> calls = {
        [&](int) { return CfApiWrapper::connectSyncRoot(first_); },
        [&](int) { return CfApiWrapper::connectSyncRoot(second_); },
        [&](int t) { return CfApiWrapper::disconnectSyncRoot(t % 2 ? first_ : second_); },
        [](int) { return CfApiWrapper::disconnectSyncRoot(); },
    };
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                if (FAILED(calls[(t + i) % 4](t))) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);

    QString connected = CfApiWrapper::connectedRoot();
    bool hasKey = CfApiWrapper::connectionKey().Internal != 0;
    EXPECT_EQ(hasKey, !connected.isEmpty());
    EXPECT_EQ(platformConnected(first_), connected == first_);
    EXPECT_EQ(platformConnected(second_), connected == second_);
}
