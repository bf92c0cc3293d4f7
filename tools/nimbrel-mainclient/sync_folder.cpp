#include "sync_folder.h"

#include <QString>
#include <filesystem>

#include "platform/cfapi.h"

bool prepareSyncFolder(const std::string& path, std::string& error) {
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) return true;
    if (std::filesystem::create_directories(path, code)) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, code);
    }
    if (!code && std::filesystem::is_directory(path, code)) return true;
    error = "cannot make the sync folder " + path + (code ? ": " + code.message() : ": not a folder");
    return false;
}

bool folderAwaitsItsServer(const std::string& path) {
    const std::wstring folder = QString::fromStdString(path).toStdWString();
    CF_SYNC_ROOT_PROVIDER_INFO info{};
    return SUCCEEDED(
               CfGetSyncRootInfoByPath(folder.c_str(), CF_SYNC_ROOT_INFO_PROVIDER, &info, sizeof(info), nullptr)) &&
           info.ProviderStatus == CF_PROVIDER_STATUS_DISCONNECTED;
}
