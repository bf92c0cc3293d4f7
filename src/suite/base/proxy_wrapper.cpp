#include "suite/base/proxy_wrapper.h"

CProxyWrapper& CProxyWrapper::instance() {
    static CProxyWrapper* wrapper = new CProxyWrapper;
    return *wrapper;
}

bool CProxyWrapper::ReloadProxy(int type) {
    if (type < kProxyNone || type > kProxySocks5) return false;
    ProxyRecord next;
    if (type != kProxyNone) {
        ProxyRecord configured = CProxyConfig::instance().proxy();
        if (!configured.address.isEmpty()) {
            next = configured;
            next.type = type;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = next;
    return true;
}

ProxyRecord CProxyWrapper::activeProxy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}
