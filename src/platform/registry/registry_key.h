#pragma once
// Open registry keys. An HKEY is either a predefined root or a handle in the kernel-object table
// naming a RegistryKey: the key's row in one database, the levels it was opened by (after view
// redirection), the access granted and the view it was opened in.

#include <memory>
#include <string>
#include <vector>

#include "platform/kernel_object.h"
#include "registry_path.h"
#include "registry_store.h"

namespace nimbrel::platform::registry {

class RegistryKey : public KernelObject {
public:
    RegistryKey(std::string dbPath, long long id, Root root, std::vector<std::wstring> levels, REGSAM access,
                REGSAM view);
    // Closing a key signals the watches armed on it, as on Windows.
    ~RegistryKey() override;

    const std::string dbPath;
    const long long id;
    const Root root;
    const std::vector<std::wstring> levels;
    const REGSAM access;
    const REGSAM view;
};

// What an HKEY argument names, with its store opened.
struct KeyRef {
    std::shared_ptr<RegistryStore> store;
    std::shared_ptr<RegistryKey> object;  // null for a predefined root
    long long id = 0;
    Root root = Root::CurrentUser;
    std::vector<std::wstring> levels;
    REGSAM access = KEY_ALL_ACCESS;
    REGSAM view = 0;

    // The full path as the caller spelled it, e.g. "HKEY_CURRENT_USER\Software\Tellwick"; fault
    // rules for registry functions match this path.
    std::wstring path() const { return joinKeyPath(root, levels); }
    bool allows(REGSAM rights) const { return (access & rights) == rights; }
};

// ERROR_INVALID_HANDLE for anything but a predefined root or an open key; ERROR_REGISTRY_IO_FAILED
// when the database cannot be opened.
LONG resolveKey(HKEY key, KeyRef& ref);

// The levels (from the root) of the key `subKey` below `base`, in `view` or, without one, the view
// of `base`. A null or empty `subKey` names `base` itself. ERROR_BAD_PATHNAME for a malformed path.
LONG targetLevels(const KeyRef& base, LPCWSTR subKey, REGSAM view, std::vector<std::wstring>& levels);

// A new handle to key `id` of `base`'s database.
HKEY openKeyHandle(const KeyRef& base, long long id, std::vector<std::wstring> levels, REGSAM samDesired, REGSAM view);

// Generic rights mapped to key rights; the view bits removed.
REGSAM mapKeyAccess(REGSAM samDesired);

// The fault rule's failure for `function` on `path` as a Win32 code, if one applies.
std::optional<LONG> injectedFault(const char* function, const std::wstring& path);

}  // namespace nimbrel::platform::registry
