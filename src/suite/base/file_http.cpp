#include "suite/base/file_http.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "suite/base/proxy_wrapper.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kReceiveBufferBytes = 512 * 1024;
// Two downloads run at a time; a server keeps a thread waiting on every connection left open.
constexpr std::size_t kIdleHandlesKept = 2;

// Finished downloads leave their handle, and with it the open connection, to the next ones: a
// small file then costs no connection set-up and the server no new thread.
class IdleHandles {
public:
    static IdleHandles& instance() {
        // Never destroyed: downloads may still run while the process ends.
        static auto* handles = new IdleHandles;
        return *handles;
    }
    CURL* take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!idle_.empty()) {
                CURL* curl = idle_.back();
                idle_.pop_back();
                return curl;
            }
        }
        return curl_easy_init();
    }
    void giveBack(CURL* curl) {
        // Forgets the options, keeps the connection.
        curl_easy_reset(curl);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (idle_.size() < kIdleHandlesKept) {
                idle_.push_back(curl);
                return;
            }
        }
        curl_easy_cleanup(curl);
    }

private:
    std::mutex mutex_;
    std::vector<CURL*> idle_;
};

struct Transfer {
    const FileHttp::DataCallback* onData;
    std::chrono::milliseconds stallLimit;
    Clock::time_point lastData = Clock::now();
    // curl hands what one read of the socket brought in pieces of at most 16 KiB; they are joined
    // again here and go to the caller as one block.
    QByteArray gathered;
    bool refused = false;  // the caller's callback asked to stop
    bool stalled = false;
};

bool deliver(Transfer& transfer) {
    if (transfer.gathered.isEmpty() || transfer.refused) return !transfer.refused;
    transfer.refused = (*transfer.onData)(transfer.gathered) != 0;
    transfer.gathered.truncate(0);
    return !transfer.refused;
}

size_t writeBlock(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer->lastData = Clock::now();
    if (!*transfer->onData) return length;
    transfer->gathered.append(data, static_cast<int>(length));
    if (transfer->gathered.size() >= kReceiveBufferBytes && !deliver(*transfer)) return 0;
    return length;
}

// Called by curl after each read of the socket, and about once a second even while nothing arrives.
int checkStall(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (!deliver(*transfer)) return 1;
    if (transfer->stallLimit.count() <= 0 || Clock::now() - transfer->lastData < transfer->stallLimit) return 0;
    transfer->stalled = true;
    return 1;
}

long curlProxyType(int type) {
    switch (type) {
        case kProxySocks4:
            return CURLPROXY_SOCKS4;
        case kProxySocks5:
            return CURLPROXY_SOCKS5;
        default:
            return CURLPROXY_HTTP;
    }
}

void applyProxy(CURL* curl) {
    const ProxyRecord proxy = CProxyWrapper::instance().activeProxy();
    if (proxy.type == kProxyNone) {
        // An empty proxy also keeps curl from taking one from the environment.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
        return;
    }
    const QByteArray address = proxy.address.toUtf8();
    curl_easy_setopt(curl, CURLOPT_PROXY, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxy.port));
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, curlProxyType(proxy.type));
    if (!proxy.userName.isEmpty()) {
        const QByteArray user = proxy.userName.toUtf8();
        const QByteArray password = proxy.password.toUtf8();
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, password.constData());
    }
}

}  // namespace

FileHttp::FileHttp(const QString& url, bool verbose) : url_(url), verbose_(verbose) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

qint64 FileHttp::getFile(const std::map<QString, QString>& headers, const DataCallback& onData, int timeoutMs,
                         bool followRedirects) {
    httpStatus_ = 0;
    errorText_.clear();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(IdleHandles::instance().take(), &curl_easy_cleanup);
    if (!curl) {
        errorText_ = QStringLiteral("curl_easy_init failed");
        return -static_cast<qint64>(CURLE_FAILED_INIT);
    }

    curl_slist* headerList = nullptr;
    for (const auto& [name, value] : headers) {
        // "Name;" is curl's way of sending a header with an empty value.
        const QString line = value.isEmpty() ? name + QStringLiteral(";") : name + QStringLiteral(": ") + value;
        headerList = curl_slist_append(headerList, line.toUtf8().constData());
    }
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerOwner(headerList, &curl_slist_free_all);

    const QByteArray url = url_.toUtf8();
    Transfer transfer{&onData, std::chrono::milliseconds(timeoutMs)};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &writeBlock);
    // Each delivered piece costs the caller one hand-off (one Cloud Files transfer while hydrating):
    // let curl gather up to this much of what has arrived, instead of its 16 KiB default.
    curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(curl.get(), CURLOPT_VERBOSE, verbose_ ? 1L : 0L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    // A long download is fine as long as data keeps coming: fail only after a stall.
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &checkStall);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &transfer);
    applyProxy(curl.get());

    CURLcode code = curl_easy_perform(curl.get());
    if (!deliver(transfer)) {
        // Whether the caller refused a block inside a write or after a read, it is the same failure.
        code = CURLE_WRITE_ERROR;
        errorBuffer[0] = '\0';
    }
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &httpStatus_);
    if (transfer.stalled) {
        errorText_ = QStringLiteral("no data for %1 ms").arg(timeoutMs);
        return kTimedOut;
    }
    if (code != CURLE_OK) {
        errorText_ = QString::fromUtf8(*errorBuffer ? errorBuffer : curl_easy_strerror(code));
        return -static_cast<qint64>(code);
    }
    if (httpStatus_ >= 400) {
        errorText_ = QStringLiteral("HTTP status %1").arg(httpStatus_);
        return httpStatus_;
    }
    IdleHandles::instance().giveBack(curl.release());
    return 0;
}
