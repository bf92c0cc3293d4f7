#pragma once
// The FUSE mount over one sync root. The folder under it is opened before mounting and every
// request is served from that descriptor, so the mount never reaches itself.

#include <memory>
#include <string>
#include <thread>

#include "placeholder_gate.h"

struct fuse;

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
    // Makes the kernel forget the cached pages and attributes of `hostPath` (below the root).
    void invalidate(const std::string& hostPath);

private:
    RootMount(std::string rootPath, int covered);

    std::string rootPath_;
    int covered_;
    PlaceholderGate gate_;
    struct fuse* fuse_ = nullptr;
    std::thread loop_;
};

// Takes away a FUSE mount left at `path` by a service that is gone (its requests fail ENOTCONN).
void detachStaleMount(const std::string& path);

}  // namespace nimbrel::platform::cf
