// Hydration as an application meets it: the real manager answers the filter for a connected sync
// root, the test plays the main client (metadata answers) and the cloud (an HTTP server), and
// nimbrel-cf reads placeholders in another process.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "ipc/manager_fixture.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

// After the Windows headers: the resolver headers it pulls in define DELETE as well.
#include <httplib.h>

namespace nimbrel::test {
namespace {

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return bytes;
}

class HydrationTest : public ServiceIpcManagerTest {
protected:
    void SetUp() override {
        ServiceIpcManagerTest::SetUp();
        ASSERT_EQ(CfApiWrapper::registerSyncRoot(win(""), "Nimbrel", "1.0", syncConfig()->shellFolderClsid()), S_OK);
        ASSERT_EQ(CfApiWrapper::connectSyncRoot(win("")), S_OK);
        // Bodies go out in 1000-byte pieces so that block boundaries never match chunk boundaries;
        // `gate_` holds bodies back.
        server_.Get("/content", [this](const httplib::Request&, httplib::Response& res) {
            ++started_;
            res.set_content_provider(content_.size(), "application/octet-stream",
                                     [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         std::unique_lock<std::mutex> lock(gateMutex_);
                                         gateChanged_.wait(lock, [this] { return open_; });
                                         const std::size_t n = std::min<std::size_t>(1000, content_.size() - offset);
                                         return sink.write(content_.data() + offset, n);
                                     });
        });
        // Downloads leave their connection open for the next; stopping waits for it to go idle.
        server_.set_keep_alive_timeout(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        serverThread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    void TearDown() override {
        setGate(true);
        server_.stop();
        serverThread_.join();
        CfApiWrapper::disconnectSyncRoot();
        ServiceIpcManagerTest::TearDown();
    }

    QString win(const std::string& name) const {
        return QString::fromStdString(name.empty() ? root_ : root_ + "/" + name).replace('/', '\\');
    }
    // A placeholder of `size` bytes; the client names the served content, with `metaSize` as its size.
    void serve(const std::vector<std::string>& names, std::size_t size, long long metaSize, bool taskExists = false) {
        {
            // A body of the last test step may still be on its way.
            std::lock_guard<std::mutex> lock(gateMutex_);
            content_ = pattern(size);
        }
        PlaceholderItemInfo item;
        item.type = 1;
        for (const auto& name : names) {
            ASSERT_EQ(CfApiWrapper::createPlaceholderInfo(win(name), false, item, static_cast<qint64>(size),
                                                          QByteArray::fromStdString("id-" + name)),
                      0);
        }
        const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/content";
        client_.setAnswer(
            "getDownloadMetadata",
            QString::fromStdString("{\"code\":\"S_OK\",\"errorCode\":\"\",\"summary\":\"\",\"var\":{\"url\":\"" + url +
                                   "\",\"size\":" + std::to_string(metaSize) +
                                   ",\"contentHashAlgorithm\":\"SHA256\",\"contentHash\":\"x\"," +
                                   "\"taskExists\":" + (taskExists ? "true" : "false") + "}}")
                .toStdWString());
    }
    std::unique_ptr<ChildProcess> startRead(const std::string& name) {
        return std::make_unique<ChildProcess>(appDir() + "/nimbrel-cf",
                                              std::vector<std::string>{"open", win(name).toStdString(), "--read"});
    }
    CommandResult read(const std::string& name) {
        return runCommand(appDir() + "/nimbrel-cf", {"open", win(name).toStdString(), "--read"});
    }
    // Whether any byte of the file is on the disk (the placeholder's own metadata aside).
    bool hasData(const std::string& name) {
        const int fd = ::open((root_ + "/" + name).c_str(), O_RDONLY);
        const bool data = ::lseek(fd, 0, SEEK_DATA) >= 0;
        ::close(fd);
        return data;
    }
    void setGate(bool open) {
        std::lock_guard<std::mutex> lock(gateMutex_);
        open_ = open;
        gateChanged_.notify_all();
    }

    std::string root_ = makeScratchDir("root");
    std::string content_;
    httplib::Server server_;
    int port_ = 0;
    std::thread serverThread_;
    std::atomic<int> started_{0};
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    bool open_ = true;
    LogCapture log_;
};

TEST_F(HydrationTest, RefusedFetchesFailAtOnceAndWriteNothing) {
    struct Case {
        std::string name;
        long long metaSize;
        bool taskExists;
        const char* error;
        const char* logLine;
    };
    const Case cases[] = {
        {"mismatch.bin", 9999, false, "0x80070185", " file size mismatch, cancel transfer task, "},
        {"busy.bin", 10000, true, "0x80070187", nullptr},
        {"0badf00d", 10000, false, "0x80070185", nullptr},
    };
    for (const auto& c : cases) {
        serve({"new.bin"}, 10000, c.metaSize, c.taskExists);
        std::filesystem::rename(root_ + "/new.bin", root_ + "/" + c.name);
        auto result = read(c.name);
        EXPECT_EQ(result.exitCode, 1) << c.name;
        EXPECT_NE(result.err.find(c.error), std::string::npos) << c.name << result.err;
        if (c.logLine) {
            EXPECT_TRUE(log_.contains(c.logLine)) << c.name;
        }
        EXPECT_FALSE(hasData(c.name)) << c.name;
    }
    client_.setAnswer("getDownloadMetadata", L"{\"code\":\"S_FAIL\",\"errorCode\":\"1\",\"summary\":\"no\"}");
    // Refused at once as the provider's failure, not after the filter's time-out.
    const CommandResult failed = read("mismatch.bin");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("0x80070185"), std::string::npos) << failed.err;
    EXPECT_TRUE(log_.contains(" getDownloadMetadata fail, "));
    EXPECT_EQ(started_, 0);
}

TEST_F(HydrationTest, ACancelledDownloadFailsTheReaderAndItsPartialContentIsFreed) {
    setGate(false);
    serve({"cancelled.bin"}, 1 << 20, 1 << 20);
    auto reader = startRead("cancelled.bin");
    ASSERT_TRUE(waitUntil([&] { return started_ == 1; }));
    EXPECT_NE(send(L"cancelTasks\r\n{}").find(L"S_OK"), std::wstring::npos);
    setGate(true);
    EXPECT_EQ(reader->wait(), 1) << reader->err();

    ASSERT_TRUE(waitUntil([&] { return log_.contains("free up partial content done"); }));
    EXPECT_FALSE(hasData("cancelled.bin"));
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("cancelled.bin"))->PinState, CF_PIN_STATE_UNPINNED);
}

TEST_F(HydrationTest, TwoDownloadsRunAtOnceAndAThirdWaitsAliveForAFreeSlot) {
    setGate(false);
    serve({"a.bin", "b.bin", "c.bin"}, 100000, 100000);
    auto a = startRead("a.bin");
    auto b = startRead("b.bin");
    ASSERT_TRUE(waitUntil([&] { return started_ == 2; }));
    auto c = startRead("c.bin");
    ASSERT_TRUE(waitUntil([&] { return log_.count("keep-alive") >= 3; }));
    EXPECT_EQ(started_, 2);
    setGate(true);
    for (const auto* reader : {&a, &b, &c}) EXPECT_EQ((*reader)->wait(), 0) << (*reader)->err();
    EXPECT_EQ(started_, 3);
    EXPECT_EQ(readFile(root_ + "/c.bin"), content_);
}

TEST_F(HydrationTest, TheSuitesOwnProcessesNeverHydrate) {
    serve({"own.bin"}, 10000, 10000);
    const std::string suiteTool = makeScratchDir("suite") + "/ziduZudu.exe";
    std::filesystem::copy_file(appDir() + "/nimbrel-cf", suiteTool);
    auto result = runCommand(suiteTool, {"open", win("own.bin").toStdString(), "--read"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(log_.contains("call from ziduzudu.exe, cancel the operation."));
    EXPECT_EQ(started_, 0);
}

}  // namespace
}  // namespace nimbrel::test
