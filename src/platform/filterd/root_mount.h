#pragma once
// The FUSE mount over one sync root. The folder under it is opened before mounting and every
// request is served from that descriptor, so the mount never reaches itself.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "node_table.h"
#include "placeholder_gate.h"

struct fuse_session;

namespace nimbrel::platform::cf {

class RootMount {
public:
    // Mounts over `rootPath`, first taking away a mount a killed service left there; nullptr
    // (logged) on failure.
    static std::unique_ptr<RootMount> mount(const std::string& rootPath);
    ~RootMount();  // unmounts and waits for the request threads
    RootMount(const RootMount&) = delete;
    RootMount& operator=(const RootMount&) = delete;

    const std::string& rootPath() const { return rootPath_; }
    int covered() const { return covered_; }
    const PlaceholderGate& gate() const { return gate_; }
    NodeTable& nodes() { return nodes_; }
    // `relative` (below the covered folder, "." for itself) as a path this process can reach.
    std::string procPath(const std::string& relative) const;
    // Makes the kernel forget the attributes of `hostPath` (below the root) at once, and the pages
    // it caches of a placeholder whose data is no longer local soon after: dropping pages waits for
    // readers that hold them, and those may wait for a fetch, so that is left to a worker.
    void invalidate(const std::string& hostPath);

private:
    RootMount(std::string rootPath, int covered, const struct stat& root);
    void dropPages();
    void stopDroppingPages();

    std::string rootPath_;
    int covered_;
    PlaceholderGate gate_;
    NodeTable nodes_;
    fuse_session* session_ = nullptr;
    std::thread loop_;

    std::mutex pagesMutex_;
    std::condition_variable pagesWanted_;
    std::deque<fuse_ino_t> pages_;  // nodes whose pages the worker drops
    bool stopping_ = false;
    std::thread pagesWorker_;
};

// Takes away a FUSE mount left at `path` by a service that is gone (its requests fail ENOTCONN).
void detachStaleMount(const std::string& path);

}  // namespace nimbrel::platform::cf
