// Repair of files the filter will not convert because they have more than one hard link: a copy
// next to the file takes its attributes, times and security, replaces this name (which breaks the
// link for it alone) and is converted. One worker does this for the whole process and retries while
// the file is busy or the disk is full.
#include <QDateTime>
#include <QStorageInfo>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "suite/base/winpath.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

constexpr std::size_t kBatchSize = 32;
constexpr auto kWorkerPause = std::chrono::seconds(5);
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr SECURITY_INFORMATION kSecurityWithoutSacl =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr DWORD kUserMappedFile = 1224;  // ERROR_USER_MAPPED_FILE

struct FileMetadata {
    DWORD attributes = 0;
    FILETIME creationTime{};
    FILETIME lastAccessTime{};
    FILETIME lastWriteTime{};
    std::vector<BYTE> security;
};

std::mutex noticesMutex;
HardLinkRepairNotices& installedNotices() {
    static HardLinkRepairNotices notices;
    return notices;
}

HardLinkRepairNotices notices() {
    std::lock_guard<std::mutex> lock(noticesMutex);
    return installedNotices();
}

std::wstring longPath(const QString& path) { return wide(CfApiWrapper::toLongPath(path)); }

bool isRetryableError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == kUserMappedFile;
}

bool isRetryableHresult(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 && isRetryableError(static_cast<DWORD>(HRESULT_CODE(hr)));
}

// A copy left read-only by its metadata must lose that first, or it could not be deleted.
void removeTempFile(const QString& tempPath) {
    std::wstring temp = longPath(tempPath);
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp.c_str());
}

// When shortages are logged: every 10 s for the first 5 minutes, every minute until half an hour,
// then every 5 minutes. The times are never reset, so a later shortage counts on from the first.
void logSpaceShortage(const QString& path, qint64 size) {
    static qint64 firstShortage = 0;
    static qint64 lastLogged = 0;
    qint64 now = QDateTime::currentSecsSinceEpoch();
    if (firstShortage == 0) firstShortage = now;
    qint64 elapsed = now - firstShortage;
    qint64 interval = elapsed < 300 ? 10 : elapsed < 1800 ? 60 : 300;
    if (lastLogged != 0 && now - lastLogged < interval) return;
    lastLogged = now;
    if (elapsed < 1800) {
        LOG_WARN << "space not enough for hardlink repair, path:" << path << "size:" << size;
    } else {
        LOG_WARN << "space not enough for hardlink repair (persistent), path:" << path << "size:" << size;
    }
}

bool hasEnoughSpaceForHardLinkRepair(const QString& path, qint64 size) {
    QString folder = winpath::cleanPath(path);
    folder = folder.left(qMax(folder.lastIndexOf('/'), 1));
    QString volumeRoot = QStorageInfo(folder).rootPath();
    if (volumeRoot.isEmpty()) volumeRoot = folder;
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wide(winpath::cleanNativePath(volumeRoot)).c_str(), &available, nullptr, nullptr)) {
        LOG_WARN << "GetDiskFreeSpaceEx failed, path:" << path << "err:" << static_cast<unsigned long>(GetLastError());
        return true;
    }
    // Room for the copy and a fifth more, rounded up; sizes too large to scale need everything.
    quint64 bytes = size > 0 ? static_cast<quint64>(size) : 0;
    quint64 required = bytes > UINT64_MAX / 12 ? UINT64_MAX : (bytes * 12 + 9) / 10;
    return required < available.QuadPart;
}

bool readFileMetadata(const QString& path, FileMetadata* metadata, DWORD* error) {
    std::wstring file = longPath(path);
    metadata->attributes = GetFileAttributesW(file.c_str());
    if (metadata->attributes == INVALID_FILE_ATTRIBUTES) {
        *error = GetLastError();
        return false;
    }
    HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    BOOL timesRead = GetFileTime(handle, &metadata->creationTime, &metadata->lastAccessTime, &metadata->lastWriteTime);
    *error = timesRead ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    if (!timesRead) return false;

    LOG_INFO << "read security descriptor without SACL, path:" << path;
    DWORD needed = 0;
    if (!GetFileSecurityW(file.c_str(), kSecurityWithoutSacl, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        *error = GetLastError();
        return false;
    }
    metadata->security.resize(needed);
    if (!GetFileSecurityW(file.c_str(), kSecurityWithoutSacl, metadata->security.data(), needed, &needed)) {
        *error = GetLastError();
        return false;
    }
    return true;
}

bool applyFileMetadata(const QString& path, const FileMetadata& metadata, DWORD* error) {
    std::wstring file = longPath(path);
    LOG_INFO << "set security descriptor without SACL, path:" << path;
    auto* descriptor = const_cast<BYTE*>(metadata.security.data());
    if (!SetFileSecurityW(file.c_str(), kSecurityWithoutSacl, descriptor)) {
        // Security the copy cannot take is not worth losing the repair over.
        LOG_WARN << "set security descriptor failed, continue repair, path:" << path
                 << "err:" << static_cast<unsigned long>(GetLastError());
    }
    HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    BOOL timesSet = SetFileTime(handle, &metadata.creationTime, &metadata.lastAccessTime, &metadata.lastWriteTime);
    *error = timesSet ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    if (!timesSet) return false;
    if (!SetFileAttributesW(file.c_str(), metadata.attributes)) {
        *error = GetLastError();
        return false;
    }
    return true;
}

bool breakHardLinkInPlace(const QString& path, const QString& tempPath, bool* retryable, DWORD* error) {
    FileMetadata metadata;
    if (!readFileMetadata(path, &metadata, error)) {
        *retryable = isRetryableError(*error);
        LOG_WARN << "read metadata failed, path:" << path << "err:" << static_cast<unsigned long>(*error);
        return false;
    }
    std::wstring file = longPath(path);
    std::wstring temp = longPath(tempPath);
    removeTempFile(tempPath);
    if (!CopyFileW(file.c_str(), temp.c_str(), FALSE)) {
        *error = GetLastError();
        *retryable = isRetryableError(*error);
        LOG_WARN << "copy hardlink source failed, path:" << path << " temp:" << tempPath
                 << " err:" << static_cast<unsigned long>(*error);
        return false;
    }
    if (!applyFileMetadata(tempPath, metadata, error)) {
        removeTempFile(tempPath);
        *retryable = isRetryableError(*error);
        LOG_WARN << "apply metadata failed, path:" << path << " temp:" << tempPath
                 << " err:" << static_cast<unsigned long>(*error);
        return false;
    }
    bool readOnly = metadata.attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) SetFileAttributesW(file.c_str(), metadata.attributes & ~FILE_ATTRIBUTE_READONLY);
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        *error = GetLastError();
        removeTempFile(tempPath);
        *retryable = false;
        LOG_WARN << "hardlink source removed before replace, drop repair task, path:" << path << " temp:" << tempPath
                 << " err:" << static_cast<unsigned long>(*error);
        return false;
    }
    if (!MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        removeTempFile(tempPath);
        if (readOnly) SetFileAttributesW(file.c_str(), metadata.attributes);
        *retryable = isRetryableError(*error);
        LOG_WARN << "replace hardlink source failed, path:" << path << " temp:" << tempPath
                 << " err:" << static_cast<unsigned long>(*error);
        return false;
    }
    LOG_INFO << "hardlink file replaced in place, path:" << path;
    return true;
}

bool repairHardLinkAndConvert(const HardLinkRepairTask& task, bool* retryable, bool* converted) {
    *retryable = false;
    *converted = false;
    if (CfApiWrapper::isTransientFile(task.path, task.item.type)) return false;
    qint64 size = task.size > 0 ? task.size : CXFileInfo(task.path).size();
    if (!hasEnoughSpaceForHardLinkRepair(task.path, size)) {
        *retryable = true;
        logSpaceShortage(task.path, size);
        return false;
    }
    if (auto started = notices().started) started(task.path, task.tempPath);
    DWORD error = ERROR_SUCCESS;
    if (!breakHardLinkInPlace(task.path, task.tempPath, retryable, &error)) return false;

    auto identity = identityBlob(task.identity);
    HRESULT hr = CfApiWrapper::convertToPlaceholderRaw(task.path, identity.data(), identityBlobLength(identity));
    if (FAILED(hr)) {
        *retryable = isRetryableHresult(hr);
        LOG_WARN << "convert after hardlink repair failed, path:" << task.path << hex(hr);
        return false;
    }
    if (CfApiWrapper::applyPinAfterConvert(task.path, task.identity, task.pinSourcePath) != 0) return false;
    *converted = true;
    return true;
}

class HardLinkPlaceholderRepairQueue {
public:
    static HardLinkPlaceholderRepairQueue& instance() {
        // Never destroyed: the detached worker uses it until the process ends.
        static auto* queue = new HardLinkPlaceholderRepairQueue;
        return *queue;
    }

    void enqueue(HardLinkRepairTask task) {
        task.path = winpath::cleanNativePath(task.path);
        if (CfApiWrapper::isTransientFile(task.path, task.item.type)) {
            LOG_INFO << "drop permanently ignored eight-hex hardlink repair task, path:" << task.path;
            return;
        }
        if (!started_.exchange(true)) std::thread([this] { run(); }).detach();
        task.tempPath = winpath::cleanNativePath(CfApiWrapper::repairTempPath(task.path));
        QString key = task.path.toLower();
        std::lock_guard<std::mutex> lock(mutex_);
        if (processing_.count(key)) {
            LOG_INFO << "hardlink placeholder repair already processing, path:" << task.path;
            return;
        }
        bool queued = queue_.count(key) != 0;
        if (!queued) queue_.emplace(key, task);
        LOG_INFO << (queued ? "hardlink placeholder repair already queued, path:"
                            : "enqueue hardlink placeholder repair, path:")
                 << task.path << " temp:" << task.tempPath << "queueSize:" << static_cast<qint64>(queue_.size());
    }

private:
    void requeue(const HardLinkRepairTask& task) {
        QString key = task.path.toLower();
        std::lock_guard<std::mutex> lock(mutex_);
        processing_.erase(key);
        queue_[key] = task;
        LOG_INFO << "requeue hardlink placeholder repair, path:" << task.path << " temp:" << task.tempPath
                 << "queueSize:" << static_cast<qint64>(queue_.size());
    }

    void finish(const QString& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        processing_.erase(key);
    }

    std::vector<HardLinkRepairTask> takeBatch() {
        std::vector<HardLinkRepairTask> batch;
        std::lock_guard<std::mutex> lock(mutex_);
        while (!queue_.empty() && batch.size() < kBatchSize) {
            auto first = queue_.begin();
            processing_.insert(first->first);
            batch.push_back(std::move(first->second));
            queue_.erase(first);
        }
        return batch;
    }

    [[noreturn]] void run() {
        for (;;) {
            std::this_thread::sleep_for(kWorkerPause);
            for (const HardLinkRepairTask& task : takeBatch()) {
                bool retryable = false;
                bool converted = false;
                if (repairHardLinkAndConvert(task, &retryable, &converted)) {
                    if (auto finished = notices().finished; converted && finished) finished(task.path, converted);
                    finish(task.path.toLower());
                } else if (retryable) {
                    requeue(task);
                } else {
                    LOG_WARN << "drop hardlink placeholder repair task, path:" << task.path;
                    finish(task.path.toLower());
                }
            }
        }
    }

    std::mutex mutex_;
    std::map<QString, HardLinkRepairTask> queue_;
    std::set<QString> processing_;
    std::atomic<bool> started_{false};
};

}  // namespace

void CfApiWrapper::enqueueHardLinkRepair(const HardLinkRepairTask& task) {
    HardLinkPlaceholderRepairQueue::instance().enqueue(task);
}

void CfApiWrapper::setHardLinkRepairNotices(HardLinkRepairNotices notices) {
    std::lock_guard<std::mutex> lock(noticesMutex);
    installedNotices() = std::move(notices);
}
