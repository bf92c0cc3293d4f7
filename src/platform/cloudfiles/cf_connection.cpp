#include "cf_connection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <random>

#include "cf_covered.h"
#include "cf_errors.h"
#include "cf_filter_service.h"
#include "cf_item.h"
#include "platform/fault_injection.h"
#include "platform/platform_paths.h"

namespace nimbrel::platform::cf {

namespace {

struct Connections {
    std::mutex mutex;
    std::map<LONGLONG, std::shared_ptr<ConnectedRoot>> byKey;
};

Connections& connections() {
    static auto* instance = new Connections;  // connections live until the process ends
    return *instance;
}

LONGLONG newConnectionKey() {
    static std::mt19937_64 generator{std::random_device{}()};
    LONGLONG key = 0;
    while (key == 0) key = static_cast<LONGLONG>(generator() & 0x7FFFFFFFFFFFFFFFULL);
    return key;
}

// Opens and locks the root's lock file; -1 with errno EWOULDBLOCK while another connection holds it.
int lockRoot(const std::string& rootPath) {
    int fd = ::open(connectionLockPath(rootPath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

ConnectedRoot::~ConnectedRoot() {
    if (lockFd >= 0) ::close(lockFd);
}

std::shared_ptr<ConnectedRoot> findConnection(CF_CONNECTION_KEY key) {
    auto& c = connections();
    std::lock_guard lock(c.mutex);
    auto found = c.byKey.find(key.Internal);
    return found == c.byKey.end() ? nullptr : found->second;
}

std::shared_ptr<FilterCore> filterCoreFor(const std::string& rootPath) {
    auto& c = connections();
    std::lock_guard lock(c.mutex);
    for (auto& [key, connection] : c.byKey) {
        if (connection->rootPath == rootPath) return connection->core;
    }
    return nullptr;
}

std::string connectedRootOf(const std::string& path) {
    auto& c = connections();
    std::lock_guard lock(c.mutex);
    for (auto& [key, connection] : c.byKey) {
        if (isSameOrBelow(path, connection->rootPath)) return connection->rootPath;
    }
    return {};
}

std::vector<std::string> connectedRoots() {
    auto& c = connections();
    std::lock_guard lock(c.mutex);
    std::vector<std::string> roots;
    for (auto& [key, connection] : c.byKey) roots.push_back(connection->rootPath);
    return roots;
}

bool isRootConnected(const std::string& rootPath) {
    int fd = lockRoot(rootPath);
    if (fd < 0) return errno == EWOULDBLOCK;
    ::close(fd);
    return false;
}

}  // namespace nimbrel::platform::cf

using namespace nimbrel::platform;

extern "C" HRESULT CfConnectSyncRoot(LPCWSTR SyncRootPath, const CF_CALLBACK_REGISTRATION* CallbackTable,
                                     LPCVOID CallbackContext, CF_CONNECT_FLAGS ConnectFlags,
                                     CF_CONNECTION_KEY* ConnectionKey) {
    const std::string hostPath = SyncRootPath ? cf::canonicalPath(toHostPath(std::wstring(SyncRootPath))) : "";
    if (auto fault = faults::check("CfConnectSyncRoot", hostPath)) return *fault;
    if (!SyncRootPath || !CallbackTable || !ConnectionKey) return E_INVALIDARG;
    auto store = cf::CfStore::current();
    if (!store) return E_FAIL;
    auto root = store->root(hostPath);
    if (!root) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT);

    cf::FilterCore::Connection connection;
    for (auto* entry = CallbackTable; entry->Type != CF_CALLBACK_TYPE_NONE; ++entry) {
        if (entry->Type > CF_CALLBACK_TYPE_NOTIFY_RENAME_COMPLETION || !entry->Callback) return E_INVALIDARG;
        connection.callbacks[entry->Type] = entry->Callback;
    }
    int lockFd = cf::lockRoot(hostPath);
    if (lockFd < 0) {
        return errno == EWOULDBLOCK ? cf::hrWin32(ERROR_CLOUD_FILE_ALREADY_CONNECTED) : cf::hrFromErrno(errno);
    }
    cf::recheckCoveredFolders();
    auto connected = std::make_shared<cf::ConnectedRoot>();
    connected->lockFd = lockFd;
    connected->rootPath = hostPath;
    connected->key.Internal = cf::newConnectionKey();
    connection.key = connected->key;
    connection.root = *root;
    connection.context = const_cast<LPVOID>(CallbackContext);
    connection.flags = ConnectFlags;
    connected->core = std::make_shared<cf::FilterCore>(std::move(connection));
    connected->port = std::make_unique<cf::FilterPort>(connected->core);
    if (int error = connected->port->start(hostPath)) return cf::hrFromErrno(error);
    {
        auto& c = cf::connections();
        std::lock_guard lock(c.mutex);
        c.byKey[connected->key.Internal] = connected;
    }
    cf::recheckCoveredFolders();  // every thread sees the new root
    // The filter survives providers; a provider that finds it gone (or never started) starts it.
    if (cf::ensureFilterService()) cf::filterServiceCommand("sync");
    *ConnectionKey = connected->key;
    return S_OK;
}

extern "C" HRESULT CfDisconnectSyncRoot(CF_CONNECTION_KEY ConnectionKey) {
    auto connected = cf::findConnection(ConnectionKey);
    if (auto fault = faults::check("CfDisconnectSyncRoot", connected ? connected->rootPath : std::string())) {
        return *fault;
    }
    if (!connected) return E_INVALIDARG;
    {
        auto& c = cf::connections();
        std::lock_guard lock(c.mutex);
        c.byKey.erase(ConnectionKey.Internal);
    }
    cf::recheckCoveredFolders();  // no thread reaches the root directly any more
    // Requests still waiting fail as they would when the provider stops; callbacks already running
    // are waited for, and none starts after this returns.
    connected->core->shutdown(STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING);
    connected->port->stop();
    ::close(connected->lockFd);
    connected->lockFd = -1;
    return S_OK;
}
