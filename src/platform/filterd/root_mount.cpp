#include "root_mount.h"

#include <fcntl.h>
#include <fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mount_operations.h"

namespace nimbrel::platform::cf {

namespace {

constexpr long kFuseMagic = 0x65735546;
// Readers wait in the mount's threads while their files hydrate; the provider's own lookups must
// still find a free one.
constexpr unsigned kMaxThreads = 64;

void runFusermount(const std::string& path) {
    pid_t child = ::fork();
    if (child == 0) {
        ::execlp("fusermount3", "fusermount3", "-u", "-z", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
}

void detach(const std::string& path) {
    if (::umount2(path.c_str(), MNT_DETACH) != 0) runFusermount(path);
}

}  // namespace

void detachStaleMount(const std::string& path) {
    // Any FUSE mount there is left over: this service's own are made after this.
    struct statfs fs {};
    const bool left = ::statfs(path.c_str(), &fs) == 0 ? fs.f_type == kFuseMagic : errno == ENOTCONN;
    if (!left) return;
    std::fprintf(stderr, "nimbrel-cfd: taking away the mount left over %s\n", path.c_str());
    detach(path);
}

RootMount::RootMount(std::string rootPath, int covered)
    : rootPath_(std::move(rootPath)), covered_(covered), gate_(rootPath_) {}

std::unique_ptr<RootMount> RootMount::mount(const std::string& rootPath) {
    detachStaleMount(rootPath);
    int covered = ::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (covered < 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot open %s: %s\n", rootPath.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<RootMount> mount(new RootMount(rootPath, covered));
    std::vector<const char*> argv{"nimbrel-cfd", "-o", "fsname=nimbrel-cfd,subtype=nimbrel,default_permissions"};
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
    mount->fuse_ = fuse_new(&args, &mountOperations(), sizeof(fuse_operations), mount.get());
    fuse_opt_free_args(&args);
    if (!mount->fuse_ || fuse_mount(mount->fuse_, rootPath.c_str()) != 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot mount over %s\n", rootPath.c_str());
        if (mount->fuse_) fuse_destroy(mount->fuse_);
        mount->fuse_ = nullptr;
        return nullptr;
    }
    struct fuse* session = mount->fuse_;
    mount->loop_ = std::thread([session] {
        fuse_loop_config* config = fuse_loop_cfg_create();
        fuse_loop_cfg_set_max_threads(config, kMaxThreads);
        fuse_loop_mt(session, config);
        fuse_loop_cfg_destroy(config);
    });
    return mount;
}

void RootMount::invalidate(const std::string& hostPath) {
    if (fuse_) fuse_invalidate_path(fuse_, hostPath == rootPath_ ? "/" : hostPath.substr(rootPath_.size()).c_str());
}

RootMount::~RootMount() {
    if (fuse_) {
        // Taking the mount away ends the connection, which wakes the loop's threads from their reads
        // of the session descriptor; that descriptor is closed only once they are gone, so none of
        // them can read a number that meanwhile names another file.
        fuse_exit(fuse_);
        detach(rootPath_);
        if (loop_.joinable()) loop_.join();
        fuse_unmount(fuse_);
        fuse_destroy(fuse_);
    }
    ::close(covered_);
}

}  // namespace nimbrel::platform::cf
