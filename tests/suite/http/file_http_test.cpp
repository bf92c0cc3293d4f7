#include "suite/base/file_http.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "suite/base/proxy_config.h"
#include "suite/base/proxy_wrapper.h"
#include "support/test_env.h"

namespace {

// A real HTTP server on a free local port, run on its own thread for one test.
class LocalServer {
public:
    explicit LocalServer(const std::function<void(httplib::Server&)>& routes) {
        routes(server_);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        nimbrel::test::waitUntil([this] { return server_.is_running(); });
    }
    ~LocalServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }
    QString url(const std::string& path) const {
        return QString::fromStdString("http://127.0.0.1:" + std::to_string(port_) + path);
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return text;
}

const std::map<QString, QString> kNimbrelHeaders = {{QStringLiteral("Content-Type"), QString()}};

class FileHttpTest : public testing::Test {
protected:
    void SetUp() override { CProxyWrapper::instance().ReloadProxy(kProxyNone); }
};

TEST_F(FileHttpTest, DeliversTheWholeBodyInBlocksAndSendsTheHeaders) {
    const std::string content = pattern(3 * 1024 * 1024 + 17);
    std::mutex mutex;
    httplib::Headers seen;
    LocalServer server([&](httplib::Server& s) {
        s.Get("/file", [&](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex);
            seen = request.headers;
            response.set_content(content, "application/octet-stream");
        });
    });

    std::string received;
    int blocks = 0;
    FileHttp http(server.url("/file"), false);
    auto headers = kNimbrelHeaders;
    headers[QStringLiteral("X-Trace")] = QStringLiteral("t-1");
    qint64 result = http.getFile(
        headers,
        [&](const QByteArray& block) {
            ++blocks;
            received.append(block.constData(), static_cast<std::size_t>(block.size()));
            return 0;
        },
        30000, false);

    EXPECT_EQ(0, result) << http.errorText().toStdString();
    EXPECT_EQ(200, http.httpStatus());
    EXPECT_TRUE(received == content);
    EXPECT_GT(blocks, 1);
    EXPECT_EQ(static_cast<qint64>(content.size()), http.bytesReceived());
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(1u, seen.count("X-Trace"));
    EXPECT_EQ("t-1", seen.find("X-Trace")->second);
}

TEST_F(FileHttpTest, ANonZeroCallbackResultAbortsTheTransfer) {
    const std::string content = pattern(8 * 1024 * 1024);
    LocalServer server([&](httplib::Server& s) {
        s.Get("/big", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(content, "application/octet-stream");
        });
    });

    int calls = 0;
    FileHttp http(server.url("/big"), false);
    qint64 result = http.getFile(
        kNimbrelHeaders,
        [&](const QByteArray&) {
            ++calls;
            return 1;
        },
        30000, false);
    EXPECT_EQ(FileHttp::kAbortedByCallback, result);
    EXPECT_EQ(1, calls);
    EXPECT_LT(http.bytesReceived(), static_cast<qint64>(content.size()));
}

TEST_F(FileHttpTest, HttpErrorsAndUnreachableServersAreFailures) {
    LocalServer server([](httplib::Server& s) {
        s.Get("/missing", [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
    });
    FileHttp missing(server.url("/missing"), false);
    EXPECT_EQ(404, missing.getFile(
                       kNimbrelHeaders, [](const QByteArray&) { return 0; }, 30000, false));

    int freePort = server.port();
    {
        LocalServer closing([](httplib::Server&) {});
        freePort = closing.port();
    }
    FileHttp refused(QString::fromStdString("http://127.0.0.1:" + std::to_string(freePort) + "/x"), false);
    qint64 result = refused.getFile(
        kNimbrelHeaders, [](const QByteArray&) { return 0; }, 30000, false);
    EXPECT_LT(result, 0);
    EXPECT_FALSE(refused.errorText().isEmpty());
}

TEST_F(FileHttpTest, AStalledTransferEndsWithTheTimeOut) {
    std::mutex mutex;
    std::condition_variable changed;
    bool clientDone = false;
    LocalServer server([&](httplib::Server& s) {
        s.Get("/stall", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(1024 * 1024, "application/octet-stream",
                                          [&](size_t offset, size_t, httplib::DataSink& sink) {
                                              if (offset == 0) return sink.write("first block", 11);
                                              // Sends nothing more until the client has given up.
                                              std::unique_lock<std::mutex> lock(mutex);
                                              changed.wait(lock, [&] { return clientDone; });
                                              return false;
                                          });
        });
    });

    FileHttp http(server.url("/stall"), false);
    std::string received;
    qint64 result = http.getFile(
        kNimbrelHeaders,
        [&](const QByteArray& block) {
            received.append(block.constData(), static_cast<std::size_t>(block.size()));
            return 0;
        },
        1000, false);
    {
        std::lock_guard<std::mutex> lock(mutex);
        clientDone = true;
    }
    changed.notify_all();
    EXPECT_EQ(FileHttp::kTimedOut, result);
    EXPECT_EQ("first block", received);
}

TEST_F(FileHttpTest, DownloadsGoThroughTheReloadedProxyUntilItIsSwitchedOff) {
    std::mutex mutex;
    std::vector<std::string> proxied;
    std::string proxyAuthorization;
    LocalServer proxy([&](httplib::Server& s) {
        s.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex);
            proxied.push_back(request.target);
            proxyAuthorization = request.get_header_value("Proxy-Authorization");
            response.set_content("from proxy", "text/plain");
        });
    });
    LocalServer origin([](httplib::Server& s) {
        s.Get("/direct", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("from origin", "text/plain");
        });
    });

    ProxyRecord record;
    record.type = kProxyHttp;
    record.port = proxy.port();
    record.address = QStringLiteral("127.0.0.1");
    record.userName = QStringLiteral("ann");
    record.password = QStringLiteral("secret");
    ASSERT_TRUE(CProxyConfig::instance().addProxy(record));
    ASSERT_TRUE(CProxyWrapper::instance().ReloadProxy(kProxyHttp));

    auto fetch = [](const QString& url) {
        std::string body;
        FileHttp http(url, false);
        qint64 result = http.getFile(
            kNimbrelHeaders,
            [&](const QByteArray& block) {
                body.append(block.constData(), static_cast<std::size_t>(block.size()));
                return 0;
            },
            30000, false);
        return result == 0 ? body : "failed: " + http.errorText().toStdString();
    };

    EXPECT_EQ("from proxy", fetch(QStringLiteral("http://files.example.invalid/a.txt")));
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(1u, proxied.size());
        EXPECT_EQ("http://files.example.invalid/a.txt", proxied[0]);
        EXPECT_EQ("Basic YW5uOnNlY3JldA==", proxyAuthorization);  // ann:secret
    }

    ASSERT_TRUE(CProxyWrapper::instance().ReloadProxy(kProxyNone));
    EXPECT_EQ("from origin", fetch(origin.url("/direct")));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(1u, proxied.size());
}

}  // namespace
