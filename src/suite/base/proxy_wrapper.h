#pragma once
// The proxy that downloads use now. The main client first hands over its settings
// (CProxyConfig::addProxy), then asks for a reload with the type to use; type 0 means no proxy.

#include <mutex>

#include "suite/base/proxy_config.h"

class CProxyWrapper {
public:
    static CProxyWrapper& instance();

    // Type 0: direct connections. Types 1..3: the configured address and credentials with that
    // type; without a configured address, direct. Answers false for an unknown type (nothing changes).
    bool ReloadProxy(int type);
    // The proxy for the next download; type kProxyNone for a direct connection.
    ProxyRecord activeProxy() const;

private:
    CProxyWrapper() = default;

    mutable std::mutex mutex_;
    ProxyRecord active_;
};
