#include "suite/base/file_http.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "suite/base/proxy_config.h"
#include "suite/base/proxy_wrapper.h"
#include "support/test_env.h"

namespace {

// A real HTTP server on a free local port, run on its own thread for one test.
class LocalServer {
public:
    explicit LocalServer(const std::function<void(httplib::Server&)>& routes) {
        routes(server_);
        // Downloads leave their connection open for the next; stopping waits for it to go idle.
        server_.set_keep_alive_timeout(1);
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

// One download: what the callback received, in how many blocks, and getFile's result.
struct Fetch {
    qint64 result = 0;
    std::string body;
    int blocks = 0;
    int largest = 0;
};

Fetch fetch(FileHttp& http, int callbackResult = 0, int timeoutMs = 30000,
            const std::map<QString, QString>& headers = kNimbrelHeaders) {
    Fetch fetched;
    fetched.result = http.getFile(
        headers,
        [&](const QByteArray& block) {
            ++fetched.blocks;
            fetched.largest = std::max(fetched.largest, block.size());
            fetched.body.append(block.constData(), static_cast<std::size_t>(block.size()));
            return callbackResult;
        },
        timeoutMs, false);
    return fetched;
}

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

    FileHttp http(server.url("/file"), false);
    auto headers = kNimbrelHeaders;
    headers[QStringLiteral("X-Trace")] = QStringLiteral("t-1");
    const Fetch fetched = fetch(http, 0, 30000, headers);

    EXPECT_EQ(0, fetched.result) << http.errorText().toStdString();
    EXPECT_EQ(200, http.httpStatus());
    EXPECT_TRUE(fetched.body == content);
    EXPECT_GT(fetched.blocks, 1);
    // A block is what one read of the socket brought, not curl's 16 KiB pieces of it: each block
    // of a hydration costs a transfer to the filter.
    EXPECT_GT(fetched.largest, 16 * 1024);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(1u, seen.count("X-Trace"));
    EXPECT_EQ("t-1", seen.find("X-Trace")->second);
}

TEST_F(FileHttpTest, DownloadsOneAfterAnotherShareOneConnection) {
    std::mutex mutex;
    std::vector<int> clientPorts;
    LocalServer server([&](httplib::Server& s) {
        s.Get("/small", [&](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex);
            clientPorts.push_back(request.remote_port);
            response.set_content(pattern(4096), "application/octet-stream");
        });
    });
    for (int i = 0; i < 3; ++i) {
        FileHttp http(server.url("/small"), false);
        EXPECT_EQ(pattern(4096), fetch(http).body);
    }
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(3u, clientPorts.size());
    EXPECT_EQ(clientPorts[0], clientPorts[1]);
    EXPECT_EQ(clientPorts[0], clientPorts[2]);
}

TEST_F(FileHttpTest, AnAbortingCallbackHttpErrorsAndUnreachableServersAreFailures) {
    const std::string content = pattern(8 * 1024 * 1024);
    LocalServer server([&](httplib::Server& s) {
        s.Get("/big", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(content, "application/octet-stream");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
    });
    FileHttp aborted(server.url("/big"), false);
    const Fetch fetched = fetch(aborted, 1);
    EXPECT_EQ(FileHttp::kAbortedByCallback, fetched.result);
    EXPECT_EQ(1, fetched.blocks);

    FileHttp missing(server.url("/missing"), false);
    EXPECT_EQ(404, fetch(missing).result);

    int freePort = server.port();
    {
        LocalServer closing([](httplib::Server&) {});
        freePort = closing.port();
    }
    FileHttp refused(QString::fromStdString("http://127.0.0.1:" + std::to_string(freePort) + "/x"), false);
    EXPECT_LT(fetch(refused).result, 0);
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
    const Fetch fetched = fetch(http, 0, 1000);
    {
        std::lock_guard<std::mutex> lock(mutex);
        clientDone = true;
    }
    changed.notify_all();
    EXPECT_EQ(FileHttp::kTimedOut, fetched.result);
    EXPECT_EQ("first block", fetched.body);
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

    auto fetchBody = [](const QString& url) {
        FileHttp http(url, false);
        const Fetch fetched = fetch(http);
        return fetched.result == 0 ? fetched.body : "failed: " + http.errorText().toStdString();
    };

    EXPECT_EQ("from proxy", fetchBody(QStringLiteral("http://files.example.invalid/a.txt")));
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(1u, proxied.size());
        EXPECT_EQ("http://files.example.invalid/a.txt", proxied[0]);
        EXPECT_EQ("Basic YW5uOnNlY3JldA==", proxyAuthorization);  // ann:secret
    }

    ASSERT_TRUE(CProxyWrapper::instance().ReloadProxy(kProxyNone));
    EXPECT_EQ("from origin", fetchBody(origin.url("/direct")));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(1u, proxied.size());
}

}  // namespace
