// CfRegisterSyncRoot, CfUnregisterSyncRoot and CfGetSyncRootInfoByPath over the cloud-files store.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <vector>

#include "cf_connection.h"
#include "cf_covered.h"
#include "cf_errors.h"
#include "cf_filter_service.h"
#include "cf_item.h"
#include "cf_record_codec.h"
#include "platform/fault_injection.h"
#include "platform/platform_paths.h"

using namespace nimbrel::platform;

namespace {

constexpr DWORD kMaxSyncRootIdentity = 64 * 1024;

std::size_t boundedLength(LPCWSTR text, std::size_t limit) {
    std::size_t n = 0;
    while (text[n] != L'\0' && n <= limit) ++n;
    return n;
}

bool validPolicies(const CF_SYNC_POLICIES& p) {
    if (p.StructSize < offsetof(CF_SYNC_POLICIES, PlaceholderManagement)) return false;
    if (p.Hydration.Primary > CF_HYDRATION_POLICY_ALWAYS_FULL) return false;
    const auto both = CF_HYDRATION_POLICY_MODIFIER_VALIDATION_REQUIRED | CF_HYDRATION_POLICY_MODIFIER_STREAMING_ALLOWED;
    if ((p.Hydration.Modifier & both) == both) return false;
    return p.Population.Primary == CF_POPULATION_POLICY_PARTIAL || p.Population.Primary == CF_POPULATION_POLICY_FULL ||
           p.Population.Primary == CF_POPULATION_POLICY_ALWAYS_FULL;
}

// Makes the root folder itself a placeholder, as registration does on Windows.
HRESULT markRootPlaceholder(cf::CfStore& store, const std::string& rootPath, const CF_SYNC_REGISTRATION& registration) {
    auto item = cf::resolveItem(store, rootPath);
    if (!item) return cf::hrWin32(ERROR_PATH_NOT_FOUND);
    cf::PlaceholderRecord record = item->record ? *item->record : cf::newRecord(*item);
    record.identity.assign(static_cast<const char*>(registration.FileIdentity), registration.FileIdentityLength);
    record.usn += 1;
    return cf::writeRecord(cf::recordFileOf(*item), record) ? S_OK : cf::hrFromErrno(errno);
}

// Hydrated files and folders stay as ordinary items; content that only the cloud has cannot stay
// behind as an ordinary file and goes. Items that cannot be processed are skipped.
void revertPlaceholders(cf::CfStore& store, const std::string& rootPath) {
    std::vector<std::string> paths;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(rootPath, error), end; !error && it != end;
         it.increment(error)) {
        paths.push_back(it->path().string());
    }
    paths.push_back(rootPath);
    for (const auto& path : paths) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
        auto item = cf::resolveItem(store, path);
        if (!item || !item->record) continue;
        if (S_ISREG(st.st_mode) && !item->record->hydrated) {
            ::unlink(path.c_str());
        } else {
            cf::removeRecord(path);
        }
    }
}

}  // namespace

extern "C" HRESULT CfRegisterSyncRoot(LPCWSTR SyncRootPath, const CF_SYNC_REGISTRATION* Registration,
                                      const CF_SYNC_POLICIES* Policies, CF_REGISTER_FLAGS RegisterFlags) {
    const std::string hostPath = SyncRootPath ? cf::canonicalPath(toHostPath(std::wstring(SyncRootPath))) : "";
    if (auto fault = faults::check("CfRegisterSyncRoot", hostPath)) return *fault;
    if (!SyncRootPath || !Registration || !Policies || !Registration->ProviderName) return E_INVALIDARG;
    const std::size_t nameLength = boundedLength(Registration->ProviderName, CF_MAX_PROVIDER_NAME_LENGTH);
    const std::size_t versionLength = Registration->ProviderVersion
                                          ? boundedLength(Registration->ProviderVersion, CF_MAX_PROVIDER_VERSION_LENGTH)
                                          : 0;
    if (nameLength == 0 || nameLength > CF_MAX_PROVIDER_NAME_LENGTH || versionLength > CF_MAX_PROVIDER_VERSION_LENGTH) {
        return E_INVALIDARG;
    }
    if (Registration->SyncRootIdentityLength > kMaxSyncRootIdentity ||
        (Registration->SyncRootIdentityLength && !Registration->SyncRootIdentity) ||
        Registration->FileIdentityLength > CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH ||
        (Registration->FileIdentityLength && !Registration->FileIdentity) || !validPolicies(*Policies)) {
        return E_INVALIDARG;
    }
    struct stat st {};
    if (::stat(hostPath.c_str(), &st) != 0) return cf::hrFromErrno(errno);
    if (!S_ISDIR(st.st_mode)) return cf::hrWin32(ERROR_DIRECTORY);
    auto store = cf::CfStore::current();
    if (!store) return E_FAIL;

    const auto existing = store->root(hostPath);
    if (existing && !(RegisterFlags & CF_REGISTER_FLAG_UPDATE)) return cf::hrWin32(ERROR_ALREADY_EXISTS);
    for (const auto& other : store->roots()) {
        if (other.path != hostPath &&
            (cf::isSameOrBelow(hostPath, other.path) || cf::isSameOrBelow(other.path, hostPath))) {
            return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
        }
    }
    cf::SyncRootRecord root;
    root.path = hostPath;
    root.providerName.assign(Registration->ProviderName, nameLength);
    if (Registration->ProviderVersion) root.providerVersion.assign(Registration->ProviderVersion, versionLength);
    root.identity.assign(static_cast<const char*>(Registration->SyncRootIdentity),
                         Registration->SyncRootIdentityLength);
    root.providerId = Registration->ProviderId;
    root.hydration = Policies->Hydration;
    root.population = Policies->Population;
    root.inSync = Policies->InSync;
    root.hardLink = Policies->HardLink;
    if (Policies->StructSize >= sizeof(CF_SYNC_POLICIES)) root.management = Policies->PlaceholderManagement;
    cf::recheckCoveredFolders();
    if (!store->putRoot(root)) return E_FAIL;
    const HRESULT marked = markRootPlaceholder(*store, hostPath, *Registration);
    // From now on every other process reaches the root through the filter, as on Windows.
    if (SUCCEEDED(marked) && cf::ensureFilterService()) cf::filterServiceCommand("sync");
    return marked;
}

extern "C" HRESULT CfUnregisterSyncRoot(LPCWSTR SyncRootPath) {
    const std::string hostPath = SyncRootPath ? cf::canonicalPath(toHostPath(std::wstring(SyncRootPath))) : "";
    if (auto fault = faults::check("CfUnregisterSyncRoot", hostPath)) return *fault;
    if (!SyncRootPath) return E_INVALIDARG;
    auto store = cf::CfStore::current();
    if (!store) return E_FAIL;
    if (!store->root(hostPath)) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT);
    if (cf::isRootConnected(hostPath)) return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
    // The filter leaves first: reverting takes the placeholder attributes the mount hides.
    cf::filterServiceCommand("unmount " + hostPath);
    revertPlaceholders(*store, hostPath);
    cf::recheckCoveredFolders();
    return store->removeRoot(hostPath) ? S_OK : E_FAIL;
}

extern "C" HRESULT CfGetSyncRootInfoByPath(LPCWSTR FilePath, CF_SYNC_ROOT_INFO_CLASS InfoClass, PVOID InfoBuffer,
                                           DWORD InfoBufferLength, DWORD* ReturnedLength) {
    const std::string hostPath = FilePath ? cf::canonicalPath(toHostPath(std::wstring(FilePath))) : "";
    if (auto fault = faults::check("CfGetSyncRootInfoByPath", hostPath)) return *fault;
    if (!FilePath || (!InfoBuffer && InfoBufferLength)) return E_INVALIDARG;
    auto store = cf::CfStore::current();
    if (!store) return E_FAIL;
    auto root = store->rootContaining(hostPath);
    if (!root) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT);
    struct stat st {};
    ::stat(root->path.c_str(), &st);
    const auto status = cf::isRootConnected(root->path) ? CF_PROVIDER_STATUS_IDLE : CF_PROVIDER_STATUS_DISCONNECTED;

    std::vector<char> bytes;
    auto copyName = [](WCHAR* target, const std::wstring& text) {
        std::wcsncpy(target, text.c_str(), CF_MAX_PROVIDER_NAME_LENGTH);
        target[CF_MAX_PROVIDER_NAME_LENGTH] = L'\0';
    };
    switch (InfoClass) {
        case CF_SYNC_ROOT_INFO_BASIC: {
            CF_SYNC_ROOT_BASIC_INFO info{};
            info.SyncRootFileId.QuadPart = static_cast<LONGLONG>(st.st_ino);
            bytes.assign(reinterpret_cast<char*>(&info), reinterpret_cast<char*>(&info) + sizeof(info));
            break;
        }
        case CF_SYNC_ROOT_INFO_PROVIDER: {
            CF_SYNC_ROOT_PROVIDER_INFO info{};
            info.ProviderStatus = status;
            copyName(info.ProviderName, root->providerName);
            copyName(info.ProviderVersion, root->providerVersion);
            bytes.assign(reinterpret_cast<char*>(&info), reinterpret_cast<char*>(&info) + sizeof(info));
            break;
        }
        default:
            return E_INVALIDARG;
    }
    const DWORD copied = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), InfoBufferLength));
    if (copied) std::memcpy(InfoBuffer, bytes.data(), copied);
    if (ReturnedLength) *ReturnedLength = copied;
    return copied < bytes.size() ? cf::hrWin32(ERROR_MORE_DATA) : S_OK;
}
