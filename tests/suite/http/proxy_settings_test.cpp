#include <gtest/gtest.h>

#include "suite/base/proxy_config.h"
#include "suite/base/proxy_wrapper.h"

namespace {

ProxyRecord record(int type, int port, const char* address) {
    ProxyRecord proxy;
    proxy.type = type;
    proxy.port = port;
    proxy.address = QString::fromUtf8(address);
    return proxy;
}

TEST(ProxySettings, RefusedRecordsLeaveTheKeptProxyUnchanged) {
    auto& config = CProxyConfig::instance();
    ASSERT_TRUE(config.addProxy(record(kProxySocks5, 1080, "10.0.0.1")));
    EXPECT_FALSE(config.addProxy(record(4, 1080, "10.0.0.2")));
    EXPECT_FALSE(config.addProxy(record(-1, 1080, "10.0.0.2")));
    EXPECT_FALSE(config.addProxy(record(kProxyHttp, 0, "10.0.0.2")));
    EXPECT_FALSE(config.addProxy(record(kProxyHttp, 65536, "10.0.0.2")));
    EXPECT_FALSE(config.addProxy(record(kProxyHttp, 8080, "")));
    EXPECT_EQ(QStringLiteral("10.0.0.1"), config.proxy().address);
    EXPECT_EQ(1080, config.proxy().port);

    // "No proxy" needs neither port nor address.
    EXPECT_TRUE(config.addProxy(record(kProxyNone, 0, "")));
    EXPECT_EQ(kProxyNone, config.proxy().type);
}

TEST(ProxySettings, ReloadChoosesTheTypeAndFallsBackToDirectWithoutAnAddress) {
    auto& config = CProxyConfig::instance();
    auto& wrapper = CProxyWrapper::instance();
    ASSERT_TRUE(config.addProxy(record(kProxyHttp, 3128, "proxy.local")));
    ASSERT_TRUE(wrapper.ReloadProxy(kProxySocks4));
    EXPECT_EQ(kProxySocks4, wrapper.activeProxy().type);
    EXPECT_EQ(QStringLiteral("proxy.local"), wrapper.activeProxy().address);

    EXPECT_FALSE(wrapper.ReloadProxy(7));
    EXPECT_EQ(kProxySocks4, wrapper.activeProxy().type);

    ASSERT_TRUE(wrapper.ReloadProxy(kProxyNone));
    EXPECT_EQ(kProxyNone, wrapper.activeProxy().type);

    ASSERT_TRUE(config.addProxy(record(kProxyNone, 0, "")));
    ASSERT_TRUE(wrapper.ReloadProxy(kProxyHttp));
    EXPECT_EQ(kProxyNone, wrapper.activeProxy().type);
}

}  // namespace
