#pragma once
// The filter of one connected sync root, inside the provider's process. It turns application
// requests into callbacks on its thread pool and collects the provider's answers: an application
// that needs data of a placeholder calls requestData, which blocks until the provider has
// transferred every byte, fails the transfer, or stays silent for the fetch time-out. It does not
// care where a request comes from (the filter port, a file-system mount, a test).

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "cf_callback_pool.h"
#include "cf_store.h"
#include "platform/cfapi.h"

namespace nimbrel::platform::cf {

// Who asked: the process an application request comes from.
struct Requester {
    DWORD processId = 0;
    std::string imagePath;    // host path of its executable
    std::string commandLine;  // empty when unknown
};

// Provider progress (total, completed) for one request, relayed to its requester.
using ProgressSink = std::function<void(std::int64_t total, std::int64_t completed)>;

// 60 s unless NIMBREL_CF_FETCH_TIMEOUT_MS or setFetchTimeout says otherwise (read per request).
std::chrono::milliseconds fetchTimeout();
// A zero duration restores the default; for tests that let a provider stay silent.
void setFetchTimeout(std::chrono::milliseconds timeout);

class FilterCore {
public:
    struct Connection {
        CF_CONNECTION_KEY key{};
        SyncRootRecord root;
        std::map<CF_CALLBACK_TYPE, CF_CALLBACK> callbacks;
        LPVOID context = nullptr;
        CF_CONNECT_FLAGS flags = CF_CONNECT_FLAG_NONE;
    };

    explicit FilterCore(Connection connection);
    ~FilterCore();
    FilterCore(const FilterCore&) = delete;
    FilterCore& operator=(const FilterCore&) = delete;

    const Connection& connection() const { return connection_; }

    // An application's read of [offset, offset + length) of a file (length CF_EOF: to the end).
    // Blocks until the data is local or the request fails; answers the NTSTATUS the application's
    // read completes with. Data that is already local, folders and ordinary files succeed at once.
    NTSTATUS requestData(const std::string& hostPath, std::int64_t offset, std::int64_t length,
                         const Requester& requester, const ProgressSink& progress = {});
    // An application opened a file: NOTIFY_FILE_OPEN_COMPLETION for a placeholder.
    void notifyOpen(const std::string& hostPath, const Requester& requester);

    // CfExecute(TRANSFER_DATA) and CfReportProviderProgress of the provider.
    HRESULT transferData(CF_TRANSFER_KEY transferKey, NTSTATUS completionStatus, const void* buffer,
                         std::int64_t offset, std::int64_t length);
    HRESULT reportProgress(CF_TRANSFER_KEY transferKey, std::int64_t total, std::int64_t completed);
    // A dehydration of the placeholder with this device and inode: the bytes a fetch on its way has brought
    // are about to go, so that fetch is cancelled (its readers fail, the provider hears
    // CANCEL_FETCH_DATA) instead of counting them towards a complete file; fetches that start
    // meanwhile wait for endDehydration.
    void beginDehydration(const FileKey& file);
    void endDehydration(const FileKey& file);
    // The host path of the file a transfer key belongs to (empty when unknown).
    std::string pathOf(CF_TRANSFER_KEY transferKey);

    // Fails every pending request with `status` and waits for running callbacks to return; no
    // callback is made afterwards.
    void shutdown(NTSTATUS status);

private:
    struct FileState;
    struct Request;
    struct CallbackData;

    std::shared_ptr<CallbackData> callbackData(const std::string& path, const struct ::stat& st,
                                               const PlaceholderRecord& record, const Requester& requester);
    void post(CF_CALLBACK_TYPE type, std::shared_ptr<CallbackData> data, std::int64_t transferKey,
              const CF_CALLBACK_PARAMETERS& params);
    void finishLocked(Request& request, NTSTATUS status);
    // Finishes a pending fetch with `status` and tells the provider it is cancelled.
    void cancelLocked(Request& request, NTSTATUS status, CF_CALLBACK_CANCEL_FLAGS flags);
    void completeCoveredLocked(FileState& file);
    void markHydrated(FileState& file);
    // Flushes a complete file's bytes, then makes the record's claim that it is hydrated lasting.
    void syncData(const std::shared_ptr<FileState>& file);
    void forgetLocked(FileState& file);
    void watchTimeouts();
    std::chrono::steady_clock::time_point deadlineOf(const Request& request) const;

    Connection connection_;
    CallbackPool pool_;
    std::mutex mutex_;
    std::condition_variable changed_;                            // a request finished
    std::condition_variable timerChanged_;                       // a request may now expire sooner, or the core stops
    std::map<std::int64_t, std::shared_ptr<Request>> requests_;  // by transfer key, finished ones kept
    std::map<FileKey, std::shared_ptr<FileState>> files_;        // by the placeholder's device and inode
    std::set<FileKey> dehydrating_;
    std::int64_t nextTransferKey_;
    // Any valid operation of the provider renews every pending request's timer; keeping when it
    // last happened spares each transfer a walk over all requests.
    std::chrono::steady_clock::time_point providerDeadline_{};
    bool stopping_ = false;
    std::thread timeoutThread_;
};

}  // namespace nimbrel::platform::cf
