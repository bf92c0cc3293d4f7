#pragma once
// The proxy settings the main client hands over, kept for the suite's own downloads.

#include <QString>
#include <mutex>

// Proxy types as the main client numbers them.
enum ProxyType : int {
    kProxyNone = 0,
    kProxyHttp = 1,
    kProxySocks4 = 2,
    kProxySocks5 = 3,
};

struct ProxyRecord {
    int type = kProxyNone;
    int port = 0;
    QString address;
    QString userName;
    QString password;
};

class CProxyConfig {
public:
    static CProxyConfig& instance();

    // Keeps `record` as the proxy of later downloads once CProxyWrapper reloads it. Refuses (false,
    // nothing changed) a type outside 0..3, and for a real proxy a port outside 1..65535 or an empty
    // address.
    bool addProxy(const ProxyRecord& record);
    ProxyRecord proxy() const;

private:
    CProxyConfig() = default;

    mutable std::mutex mutex_;
    ProxyRecord record_;
};
