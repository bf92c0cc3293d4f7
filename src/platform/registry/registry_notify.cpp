// RegNotifyChangeKeyValue; the watching itself is RegistryNotifier's.
#include "platform/platform_paths.h"
#include "registry_key.h"
#include "registry_notifier.h"

using namespace nimbrel::platform;
using namespace nimbrel::platform::registry;

namespace {
constexpr DWORD kChangeKinds =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
}

extern "C" LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                           BOOL fAsynchronous) {
    KeyRef key;
    if (LONG status = resolveKey(hKey, key); status != ERROR_SUCCESS) return status;
    if ((dwNotifyFilter & kChangeKinds) == 0 || (dwNotifyFilter & ~(kChangeKinds | REG_NOTIFY_THREAD_AGNOSTIC))) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!key.allows(KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
    if (!fAsynchronous || !hEvent) return ERROR_INVALID_PARAMETER;
    Watch watch;
    watch.event = handleAs<EventObject>(hEvent);
    if (!watch.event) return ERROR_INVALID_HANDLE;
    // The mark is taken before the key is checked, so a deletion racing with this call still wakes.
    if (LONG status = key.store->lastChange(watch.afterSeq); status != ERROR_SUCCESS) return status;
    if (key.object) {
        if (LONG status = key.store->checkKey(key.id); status != ERROR_SUCCESS) return status;
    }
    watch.dbPath = key.store->path();
    watch.path = toUtf8(foldName(key.path()));
    watch.subtree = bWatchSubtree != FALSE;
    watch.filter = dwNotifyFilter & kChangeKinds;
    watch.owner = key.object.get();
    RegistryNotifier::instance().add(std::move(watch));
    return ERROR_SUCCESS;
}
