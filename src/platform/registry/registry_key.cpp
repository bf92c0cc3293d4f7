#include "registry_key.h"

#include "platform/fault_injection.h"
#include "platform/platform_paths.h"
#include "registry_notifier.h"

namespace nimbrel::platform::registry {

namespace {
constexpr REGSAM kMaximumAllowed = 0x02000000u;
}

RegistryKey::RegistryKey(std::string dbPath, long long id, Root root, std::vector<std::wstring> levels, REGSAM access,
                         REGSAM view)
    : dbPath(std::move(dbPath)), id(id), root(root), levels(std::move(levels)), access(access), view(view) {}

RegistryKey::~RegistryKey() { RegistryNotifier::instance().keyClosed(this); }

LONG resolveKey(HKEY key, KeyRef& ref) {
    if (auto root = predefinedRoot(key)) {
        ref.store = RegistryStore::current();
        ref.object = nullptr;
        ref.id = RegistryStore::rootId(*root);
        ref.root = *root;
        ref.levels.clear();
        ref.access = KEY_ALL_ACCESS;
        ref.view = 0;
    } else {
        auto object = handleAs<RegistryKey>(reinterpret_cast<HANDLE>(key));
        if (!object) return ERROR_INVALID_HANDLE;
        ref.store = RegistryStore::at(object->dbPath);
        ref.object = object;
        ref.id = object->id;
        ref.root = object->root;
        ref.levels = object->levels;
        ref.access = object->access;
        ref.view = object->view;
    }
    return ref.store ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

LONG targetLevels(const KeyRef& base, LPCWSTR subKey, REGSAM view, std::vector<std::wstring>& levels) {
    levels = base.levels;
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    std::vector<std::wstring> below;
    if (!splitKeyPath(subKey, below)) return ERROR_BAD_PATHNAME;
    levels.insert(levels.end(), below.begin(), below.end());
    applyView(base.root, levels, view ? view : base.view);
    return ERROR_SUCCESS;
}

HKEY openKeyHandle(const KeyRef& base, long long id, std::vector<std::wstring> levels, REGSAM samDesired, REGSAM view) {
    auto object = std::make_shared<RegistryKey>(base.store->path(), id, base.root, std::move(levels),
                                                mapKeyAccess(samDesired), view ? view : base.view);
    return reinterpret_cast<HKEY>(registerHandle(std::move(object)));
}

REGSAM mapKeyAccess(REGSAM samDesired) {
    REGSAM access =
        samDesired & ~(KEY_WOW64_RES | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | kMaximumAllowed);
    if (samDesired & GENERIC_READ) access |= KEY_READ;
    if (samDesired & GENERIC_WRITE) access |= KEY_WRITE;
    if (samDesired & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    if (samDesired & (GENERIC_ALL | kMaximumAllowed)) access |= KEY_ALL_ACCESS;
    return access;
}

std::optional<LONG> injectedFault(const char* function, const std::wstring& path) {
    auto result = faults::check(function, toUtf8(path));
    if (!result) return std::nullopt;
    return static_cast<LONG>(HRESULT_CODE(*result));
}

}  // namespace nimbrel::platform::registry
