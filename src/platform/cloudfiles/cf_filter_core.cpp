#include "cf_filter_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <vector>

#include "cf_errors.h"
#include "cf_filter_service.h"
#include "cf_item.h"
#include "platform/platform_paths.h"

namespace nimbrel::platform::cf {

namespace {

constexpr std::int64_t kTransferAlignment = 4096;
// Written data is handed to the disk in steps of this size while the transfers go on, so the flush
// that must precede the hydrated mark finds little left to write.
constexpr std::int64_t kWritebackStep = 8 << 20;
constexpr std::size_t kFinishedRequestsKept = 4096;
constexpr std::chrono::milliseconds kDefaultFetchTimeout{60000};

std::atomic<std::int64_t> configuredTimeoutMs{0};
std::atomic<std::int64_t> nextRequestKey{1};

// Byte ranges [begin, end) that have arrived, merged.
class RangeSet {
public:
    void add(std::int64_t begin, std::int64_t end) {
        auto it = ranges_.upper_bound(begin);
        if (it != ranges_.begin()) {
            auto previous = std::prev(it);
            if (previous->second >= begin) {
                begin = previous->first;
                end = std::max(end, previous->second);
                it = ranges_.erase(previous);
            }
        }
        while (it != ranges_.end() && it->first <= end) {
            end = std::max(end, it->second);
            it = ranges_.erase(it);
        }
        ranges_[begin] = end;
    }
    bool covers(std::int64_t begin, std::int64_t end) const {
        auto it = ranges_.upper_bound(begin);
        if (it == ranges_.begin()) return false;
        --it;
        return it->first <= begin && it->second >= end;
    }

private:
    std::map<std::int64_t, std::int64_t> ranges_;
};

bool wantsWholeFile(const SyncRootRecord& root) {
    return root.hydration.Primary == CF_HYDRATION_POLICY_FULL ||
           root.hydration.Primary == CF_HYDRATION_POLICY_ALWAYS_FULL;
}

}  // namespace

std::chrono::milliseconds fetchTimeout() {
    if (auto configured = configuredTimeoutMs.load()) return std::chrono::milliseconds(configured);
    if (const char* text = std::getenv("NIMBREL_CF_FETCH_TIMEOUT_MS")) {
        char* end = nullptr;
        long long value = std::strtoll(text, &end, 10);
        if (end != text && value > 0) return std::chrono::milliseconds(value);
    }
    return kDefaultFetchTimeout;
}

void setFetchTimeout(std::chrono::milliseconds timeout) { configuredTimeoutMs = timeout.count(); }

struct FilterCore::FileState {
    ~FileState() {
        if (fd < 0) return;
        // Data coming from the cloud is no change of the file: it keeps the times it had, even
        // when the hydration stops half-way.
        ::futimens(fd, times);
        ::close(fd);
    }
    FileKey key;
    std::string path;
    std::string access;  // the path to use for system calls on it
    std::int64_t size = 0;
    struct timespec times[2] = {};  // access and write time the placeholder had before its data came
    int fd = -1;
    std::int64_t unflushed = 0;  // bytes written since writeback was last started
    RangeSet received;
    std::set<std::int64_t> pending;  // transfer keys of the unfinished requests for this file
    bool complete = false;
    bool syncing = false;     // complete, its bytes on their way to the disk
    bool superseded = false;  // a dehydration began: these bytes are no longer the file's
};

struct FilterCore::CallbackData {
    std::wstring volumeGuidName;
    std::wstring volumeDosName;
    std::wstring normalizedPath;
    std::wstring imagePath;
    std::wstring commandLine;
    std::wstring empty;
    std::string rootIdentity;
    std::string fileIdentity;
    CF_PROCESS_INFO processInfo{};
    CF_CALLBACK_INFO info{};
};

struct FilterCore::Request {
    enum class State { Pending, Succeeded, Failed };
    std::int64_t key = 0;
    std::string path;
    std::int64_t fileSize = 0;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::weak_ptr<FileState> file;
    std::shared_ptr<CallbackData> data;
    std::vector<ProgressSink> progress;  // of every requester waiting for this fetch
    State state = State::Pending;
    NTSTATUS status = STATUS_SUCCESS;
    std::chrono::steady_clock::time_point deadline;
};

FilterCore::FilterCore(Connection connection)
    : connection_(std::move(connection)), nextTransferKey_((static_cast<std::int64_t>(::getpid()) << 32) | 0x1000) {
    timeoutThread_ = std::thread([this] { watchTimeouts(); });
}

FilterCore::~FilterCore() { shutdown(STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING); }

std::shared_ptr<FilterCore::CallbackData> FilterCore::callbackData(const std::string& path, const struct ::stat& st,
                                                                   const PlaceholderRecord& record,
                                                                   const Requester& requester) {
    auto data = std::make_shared<CallbackData>();
    wchar_t volume[64];
    std::swprintf(volume, 64, L"\\\\?\\Volume{%08llx-0000-0000-0000-000000000000}\\",
                  static_cast<unsigned long long>(st.st_dev));
    data->volumeGuidName = volume;
    data->normalizedPath = toWindowsPath(path);
    data->rootIdentity = connection_.root.identity;
    data->fileIdentity = record.identity;
    struct stat rootStat {};
    ::stat(connection_.root.path.c_str(), &rootStat);

    auto& info = data->info;
    info.StructSize = sizeof(CF_CALLBACK_INFO);
    info.ConnectionKey = connection_.key;
    info.CallbackContext = connection_.context;
    info.VolumeGuidName = data->volumeGuidName.c_str();
    info.VolumeDosName = data->volumeDosName.c_str();
    info.VolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info.SyncRootFileId.QuadPart = static_cast<LONGLONG>(rootStat.st_ino);
    info.SyncRootIdentity = data->rootIdentity.empty() ? nullptr : data->rootIdentity.data();
    info.SyncRootIdentityLength = static_cast<DWORD>(data->rootIdentity.size());
    info.FileId.QuadPart = static_cast<LONGLONG>(st.st_ino);
    info.FileSize.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
    info.FileIdentity = data->fileIdentity.empty() ? nullptr : data->fileIdentity.data();
    info.FileIdentityLength = static_cast<DWORD>(data->fileIdentity.size());
    info.NormalizedPath = data->normalizedPath.c_str();
    if (connection_.flags & CF_CONNECT_FLAG_REQUIRE_PROCESS_INFO) {
        data->imagePath = toWindowsPath(requester.imagePath);
        data->commandLine = requester.commandLine.empty() ? L"UNKNOWN" : fromUtf8(requester.commandLine);
        data->processInfo.StructSize = sizeof(CF_PROCESS_INFO);
        data->processInfo.ProcessId = requester.processId;
        data->processInfo.ImagePath = data->imagePath.c_str();
        data->processInfo.PackageName = data->empty.c_str();
        data->processInfo.ApplicationId = data->empty.c_str();
        data->processInfo.CommandLine = data->commandLine.c_str();
        data->processInfo.SessionId = 1;
        info.ProcessInfo = &data->processInfo;
    }
    return data;
}

void FilterCore::post(CF_CALLBACK_TYPE type, std::shared_ptr<CallbackData> data, std::int64_t transferKey,
                      const CF_CALLBACK_PARAMETERS& params) {
    auto found = connection_.callbacks.find(type);
    if (found == connection_.callbacks.end() || !found->second) return;
    CF_CALLBACK callback = found->second;
    pool_.post([callback, data = std::move(data), transferKey, params] {
        CF_CALLBACK_INFO info = data->info;
        info.TransferKey.QuadPart = transferKey;
        info.RequestKey.QuadPart = nextRequestKey++;
        callback(&info, &params);
    });
}

NTSTATUS FilterCore::requestData(const std::string& hostPath, std::int64_t offset, std::int64_t length,
                                 const Requester& requester, const ProgressSink& progress) {
    auto store = CfStore::current();
    if (!store) return STATUS_CLOUD_FILE_UNSUCCESSFUL;
    auto item = resolveItem(*store, hostPath);
    if (!item) return STATUS_CLOUD_FILE_UNSUCCESSFUL;
    if (!item->isPlaceholder() || item->isDirectory() || item->record->hydrated) return STATUS_SUCCESS;
    if (!isSameOrBelow(item->path, connection_.root.path)) return STATUS_CLOUD_FILE_NOT_UNDER_SYNC_ROOT;
    // The provider reading its own placeholders would wait for itself.
    if (requester.processId == static_cast<DWORD>(::getpid())) return STATUS_CLOUD_FILE_ACCESS_DENIED;

    const std::int64_t size = item->st.st_size;
    std::int64_t begin = 0;
    std::int64_t end = size;
    if (!wantsWholeFile(connection_.root)) {
        begin = std::max<std::int64_t>(0, offset);
        end = length == CF_EOF ? size : std::min(size, begin + std::max<std::int64_t>(0, length));
    }
    if (begin >= end) return STATUS_SUCCESS;

    std::unique_lock lock(mutex_);
    const FileKey key = fileKeyOf(*item->record);
    changed_.wait(lock, [&] { return stopping_ || !dehydrating_.count(key); });
    if (stopping_) return STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING;
    auto& file = files_[key];
    if (!file) {
        file = std::make_shared<FileState>();
        file->key = key;
        file->path = item->path;
        file->access = item->access;
        file->size = size;
        file->times[0] = item->st.st_atim;
        file->times[1] = item->st.st_mtim;
        file->fd = openForWriting(item->path);
        if (file->fd < 0) {
            files_.erase(key);
            return STATUS_CLOUD_FILE_UNSUCCESSFUL;
        }
    }
    if (file->received.covers(begin, end)) return STATUS_SUCCESS;

    // A fetch already on its way for these bytes serves this reader too, as the filter tracks the
    // ranges in flight instead of asking the provider twice.
    for (auto key : file->pending) {
        auto joined = requests_[key];
        if (joined->begin <= begin && joined->end >= end) {
            if (progress) joined->progress.push_back(progress);
            changed_.wait(lock, [&] { return joined->state != Request::State::Pending; });
            return joined->status;
        }
    }

    auto request = std::make_shared<Request>();
    request->key = nextTransferKey_++;
    request->path = item->path;
    request->fileSize = size;
    request->begin = begin;
    request->end = end;
    request->file = file;
    if (progress) request->progress.push_back(progress);
    request->deadline = std::chrono::steady_clock::now() + fetchTimeout();
    request->data = callbackData(item->path, item->st, *item->record, requester);
    file->pending.insert(request->key);
    requests_[request->key] = request;

    if (!connection_.callbacks.count(CF_CALLBACK_TYPE_FETCH_DATA)) {
        finishLocked(*request, STATUS_CLOUD_FILE_NOT_SUPPORTED);
        return request->status;
    }
    CF_CALLBACK_PARAMETERS params{};
    params.ParamSize = sizeof(params.FetchData) + sizeof(ULONG);
    params.FetchData.RequiredFileOffset.QuadPart = begin;
    params.FetchData.RequiredLength.QuadPart = end - begin;
    params.FetchData.OptionalFileOffset.QuadPart = begin;
    params.FetchData.OptionalLength.QuadPart = size - begin;
    params.FetchData.LastDehydrationReason = CF_CALLBACK_DEHYDRATION_REASON_NONE;
    post(CF_CALLBACK_TYPE_FETCH_DATA, request->data, request->key, params);
    timerChanged_.notify_all();
    changed_.wait(lock, [&] { return request->state != Request::State::Pending; });
    return request->status;
}

void FilterCore::notifyOpen(const std::string& hostPath, const Requester& requester) {
    auto store = CfStore::current();
    if (!store) return;
    auto item = resolveItem(*store, hostPath);
    if (!item || !item->isPlaceholder() || !isSameOrBelow(item->path, connection_.root.path)) return;
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    CF_CALLBACK_PARAMETERS params{};
    params.ParamSize = sizeof(params.OpenCompletion) + sizeof(ULONG);
    params.OpenCompletion.Flags = CF_CALLBACK_OPEN_COMPLETION_FLAG_NONE;
    post(CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION, callbackData(item->path, item->st, *item->record, requester),
         nextTransferKey_++, params);
}

void FilterCore::finishLocked(Request& request, NTSTATUS status) {
    if (request.state != Request::State::Pending) return;
    request.state = status == STATUS_SUCCESS ? Request::State::Succeeded : Request::State::Failed;
    request.status = status;
    request.data.reset();
    if (auto file = request.file.lock()) {
        file->pending.erase(request.key);
        if (file->pending.empty() && !file->syncing) forgetLocked(*file);
    }
    changed_.notify_all();
    if (requests_.size() > kFinishedRequestsKept) {
        for (auto it = requests_.begin(); it != requests_.end() && requests_.size() > kFinishedRequestsKept / 2;) {
            it = it->second->state == Request::State::Pending ? std::next(it) : requests_.erase(it);
        }
    }
}

void FilterCore::forgetLocked(FileState& file) {
    auto found = files_.find(file.key);
    if (found != files_.end() && found->second.get() == &file) files_.erase(found);
}

// The readers need the bytes, not the disk: the record says hydrated as soon as every byte is in
// the page cache, which a killed process leaves whole, and the claim holds until the machine
// restarts; syncData makes it lasting once the bytes are on the disk. So a reader never waits for
// the flush, and a file claimed hydrated after a restart has its bytes on the disk.
void FilterCore::markHydrated(FileState& file) {
    ::futimens(file.fd, file.times);
    updateRecord(RecordFile{file.access, file.fd, file.key.first, file.key.second}, [](PlaceholderRecord& record) {
        record.hydrated = true;
        record.dataSynced = false;
        return true;
    });
    file.syncing = true;
}

void FilterCore::syncData(const std::shared_ptr<FileState>& file) {
    const bool flushed = ::fdatasync(file->fd) == 0;
    std::lock_guard lock(mutex_);
    file->syncing = false;
    if (flushed && !file->superseded) {
        updateRecord(RecordFile{file->access, file->fd, file->key.first, file->key.second},
                     [](PlaceholderRecord& record) {
                         if (!record.hydrated || record.dataSynced) return false;
                         record.dataSynced = true;
                         return true;
                     });
    }
    if (file->pending.empty()) forgetLocked(*file);
}

void FilterCore::completeCoveredLocked(FileState& file) {
    if (!file.complete && file.received.covers(0, file.size)) {
        file.complete = true;
        markHydrated(file);
    }
    std::vector<std::shared_ptr<Request>> covered;
    for (auto key : file.pending) {
        auto& request = requests_[key];
        if (file.received.covers(request->begin, request->end)) covered.push_back(request);
    }
    for (auto& request : covered) finishLocked(*request, STATUS_SUCCESS);
}

HRESULT FilterCore::transferData(CF_TRANSFER_KEY transferKey, NTSTATUS completionStatus, const void* buffer,
                                 std::int64_t offset, std::int64_t length) {
    std::unique_lock lock(mutex_);
    auto found = requests_.find(transferKey.QuadPart);
    if (found == requests_.end()) return E_INVALIDARG;
    auto request = found->second;
    if (request->state == Request::State::Failed) return hrWin32(ERROR_CLOUD_FILE_REQUEST_CANCELED);
    const std::int64_t size = request->fileSize;
    if (offset < 0 || length <= 0 || offset >= size || offset % kTransferAlignment != 0 ||
        (length % kTransferAlignment != 0 && offset + length < size)) {
        return hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
    }
    if (completionStatus == STATUS_SUCCESS && !buffer) return E_INVALIDARG;

    // Any valid operation of the provider shows it is alive: every pending request gets a new timer.
    // Timers only move later here, so the watcher need not be woken.
    providerDeadline_ = std::chrono::steady_clock::now() + fetchTimeout();

    if (completionStatus != STATUS_SUCCESS) {
        finishLocked(*request, normalizeCompletionStatus(completionStatus));
        return S_OK;
    }
    auto file = request->file.lock();
    if (!file) return S_OK;  // the file is complete already; nothing is missing any more

    const std::int64_t count = std::min(length, size - offset);
    lock.unlock();
    const char* data = static_cast<const char*>(buffer);
    std::int64_t written = 0;
    while (written < count) {
        ssize_t n = ::pwrite(file->fd, data + written, static_cast<std::size_t>(count - written), offset + written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return hrFromErrno(n < 0 ? errno : ENOSPC);
        written += n;
    }
    lock.lock();
    // A dehydration that cancelled the request meanwhile may have punched these bytes already.
    if (request->state == Request::State::Failed) return hrWin32(ERROR_CLOUD_FILE_REQUEST_CANCELED);
    const bool wasComplete = file->complete;
    file->received.add(offset, offset + count);
    completeCoveredLocked(*file);
    if (file->complete) {
        if (wasComplete) return S_OK;
        lock.unlock();
        // Programs that look through the filter mount see the blocks the file now takes.
        filterServiceCommand("changed " + file->path);
        syncData(file);
        return S_OK;
    }
    file->unflushed += count;
    if (file->unflushed < kWritebackStep) return S_OK;
    file->unflushed = 0;
    lock.unlock();
    // Only starts the writing: the transfer returns while the disk works.
    ::sync_file_range(file->fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return S_OK;
}

HRESULT FilterCore::reportProgress(CF_TRANSFER_KEY transferKey, std::int64_t total, std::int64_t completed) {
    std::vector<ProgressSink> sinks;
    {
        std::lock_guard lock(mutex_);
        auto found = requests_.find(transferKey.QuadPart);
        if (found == requests_.end()) return E_INVALIDARG;
        auto& request = *found->second;
        if (request.state != Request::State::Pending) return S_OK;
        request.deadline = std::chrono::steady_clock::now() + fetchTimeout();
        sinks = request.progress;
    }
    for (auto& sink : sinks) sink(total, completed);
    return S_OK;
}

void FilterCore::beginDehydration(const FileKey& key) {
    std::lock_guard lock(mutex_);
    dehydrating_.insert(key);
    auto found = files_.find(key);
    if (found == files_.end()) return;
    auto file = found->second;
    file->superseded = true;
    std::vector<std::shared_ptr<Request>> fetching;
    for (auto key : file->pending) fetching.push_back(requests_[key]);
    for (auto& request : fetching)
        cancelLocked(*request, STATUS_CLOUD_FILE_REQUEST_ABORTED, CF_CALLBACK_CANCEL_FLAG_NONE);
    // A fetch after the dehydration starts from nothing, even while these bytes are still flushed.
    forgetLocked(*file);
}

void FilterCore::cancelLocked(Request& request, NTSTATUS status, CF_CALLBACK_CANCEL_FLAGS flags) {
    auto data = request.data;
    finishLocked(request, status);
    CF_CALLBACK_PARAMETERS params{};
    params.ParamSize = sizeof(params.Cancel.FetchData) + 2 * sizeof(ULONG);
    params.Cancel.Flags = flags;
    params.Cancel.FetchData.FileOffset.QuadPart = request.begin;
    params.Cancel.FetchData.Length.QuadPart = request.end - request.begin;
    post(CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, data, request.key, params);
}

void FilterCore::endDehydration(const FileKey& key) {
    std::lock_guard lock(mutex_);
    dehydrating_.erase(key);
    changed_.notify_all();
}

std::string FilterCore::pathOf(CF_TRANSFER_KEY transferKey) {
    std::lock_guard lock(mutex_);
    auto found = requests_.find(transferKey.QuadPart);
    return found == requests_.end() ? std::string() : found->second->path;
}

std::chrono::steady_clock::time_point FilterCore::deadlineOf(const Request& request) const {
    return std::max(request.deadline, providerDeadline_);
}

void FilterCore::watchTimeouts() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto next = std::chrono::steady_clock::time_point::max();
        for (auto& [key, request] : requests_) {
            if (request->state == Request::State::Pending) next = std::min(next, deadlineOf(*request));
        }
        if (next == std::chrono::steady_clock::time_point::max()) {
            timerChanged_.wait(lock);
            continue;
        }
        if (timerChanged_.wait_until(lock, next) != std::cv_status::timeout) continue;
        const auto now = std::chrono::steady_clock::now();
        std::vector<std::shared_ptr<Request>> expired;
        for (auto& [key, request] : requests_) {
            if (request->state == Request::State::Pending && deadlineOf(*request) <= now) expired.push_back(request);
        }
        for (auto& request : expired) {
            cancelLocked(*request, STATUS_CLOUD_FILE_REQUEST_TIMEOUT, CF_CALLBACK_CANCEL_FLAG_IO_TIMEOUT);
        }
    }
}

void FilterCore::shutdown(NTSTATUS status) {
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            stopping_ = true;
            std::vector<std::shared_ptr<Request>> pending;
            for (auto& [key, request] : requests_) {
                if (request->state == Request::State::Pending) pending.push_back(request);
            }
            for (auto& request : pending) finishLocked(*request, status);
            changed_.notify_all();
            timerChanged_.notify_all();
        }
    }
    if (timeoutThread_.joinable()) timeoutThread_.join();
    pool_.stop();
}

}  // namespace nimbrel::platform::cf
