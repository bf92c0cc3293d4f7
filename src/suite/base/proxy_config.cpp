#include "suite/base/proxy_config.h"

CProxyConfig& CProxyConfig::instance() {
    static CProxyConfig* config = new CProxyConfig;
    return *config;
}

bool CProxyConfig::addProxy(const ProxyRecord& record) {
    if (record.type < kProxyNone || record.type > kProxySocks5) return false;
    if (record.type != kProxyNone && (record.port < 1 || record.port > 65535 || record.address.isEmpty())) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    record_ = record;
    return true;
}

ProxyRecord CProxyConfig::proxy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}
