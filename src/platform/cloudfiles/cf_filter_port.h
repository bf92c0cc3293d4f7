#pragma once
// The filter port of a connected sync root: a Unix socket in the runtime folder through which
// another process acts as an application. The requester is known from the socket's peer
// credentials, never from what it says. A connection carries one request at a time, and a requester
// keeps it for its next requests:
//   request  {u32 op, u32 pathBytes, i64 offset, i64 length} + UTF-8 host path
//            (+ u32 process id for OpenFor/ReadFor, which only the filter service may send for the
//            process whose file-system request it serves)
//   replies  {u32 kind, i32 status, i64 total, i64 completed}: progress frames, then one result.

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cf_filter_core.h"

namespace nimbrel::platform::cf {

enum class PortOperation : std::uint32_t { Open = 1, Read = 2, OpenFor = 3, ReadFor = 4 };

// Where the port and the connection lock of a root live (inside the current runtime folder).
std::string portSocketPath(const std::string& rootPath);
std::string connectionLockPath(const std::string& rootPath);

class FilterPort {
public:
    explicit FilterPort(std::shared_ptr<FilterCore> core);
    ~FilterPort();
    FilterPort(const FilterPort&) = delete;
    FilterPort& operator=(const FilterPort&) = delete;

    // Binds the root's socket (replacing one a crashed provider left); errno-style code on failure.
    int start(const std::string& rootPath);
    // Stops accepting, ends every client connection and waits for their threads.
    void stop();

private:
    void acceptLoop();
    void serve(int client);
    // Answers the next request on `client`; false when the connection is to end. `fromService`
    // remembers that the peer was found to be the filter service.
    bool serveRequest(int client, pid_t peer, bool& fromService);

    std::shared_ptr<FilterCore> core_;
    std::string socketPath_;
    int listener_ = -1;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::condition_variable served_;
    std::vector<int> clients_;  // each served by a detached thread that removes it when done
    bool stopping_ = false;
};

// The application side: sends one request to the port of `rootPath` and waits for the result.
// STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING when no provider listens there, and
// STATUS_CLOUD_FILE_PROVIDER_TERMINATED when it goes away before answering.
NTSTATUS requestThroughPort(const std::string& rootPath, PortOperation operation, const std::string& hostPath,
                            std::int64_t offset, std::int64_t length, const ProgressSink& progress = {});
// The filter service's request on behalf of process `requester` (OpenFor or ReadFor);
// STATUS_CLOUD_FILE_ACCESS_DENIED, without asking, when the requester is the provider itself.
NTSTATUS requestThroughPortFor(const std::string& rootPath, PortOperation operation, const std::string& hostPath,
                               std::int64_t offset, std::int64_t length, std::uint32_t requester);

}  // namespace nimbrel::platform::cf
