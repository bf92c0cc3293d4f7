#include "root_mount.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
// The kernel reads ahead of a reader a request at a time, 128 KiB unless the mount's device says
// more; a file read whole through the mount then costs a quarter of the requests.
constexpr const char* kReadAheadKiB = "1024";

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

// Only a privileged service may set it; others read ahead by the kernel's default.
void widenReadAhead(const std::string& mountPath) {
    struct stat st {};
    if (::stat(mountPath.c_str(), &st) != 0) return;
    const std::string setting = "/sys/class/bdi/" + std::to_string(major(st.st_dev)) + ":" +
                                std::to_string(minor(st.st_dev)) + "/read_ahead_kb";
    const int fd = ::open(setting.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    if (::write(fd, kReadAheadKiB, std::strlen(kReadAheadKiB)) < 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot widen the read-ahead of %s: %s\n", mountPath.c_str(),
                     std::strerror(errno));
    }
    ::close(fd);
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

RootMount::RootMount(std::string rootPath, int covered, const struct stat& root)
    : rootPath_(std::move(rootPath)), covered_(covered), gate_(rootPath_), nodes_(root) {}

std::unique_ptr<RootMount> RootMount::mount(const std::string& rootPath) {
    detachStaleMount(rootPath);
    int covered = ::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat root {};
    if (covered < 0 || ::fstat(covered, &root) != 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot open %s: %s\n", rootPath.c_str(), std::strerror(errno));
        if (covered >= 0) ::close(covered);
        return nullptr;
    }
    std::unique_ptr<RootMount> mount(new RootMount(rootPath, covered, root));
    std::vector<const char*> argv{"nimbrel-cfd", "-o", "fsname=nimbrel-cfd,subtype=nimbrel,default_permissions"};
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
    mount->session_ = fuse_session_new(&args, &mountOperations(), sizeof(fuse_lowlevel_ops), mount.get());
    fuse_opt_free_args(&args);
    if (!mount->session_ || fuse_session_mount(mount->session_, rootPath.c_str()) != 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot mount over %s\n", rootPath.c_str());
        if (mount->session_) fuse_session_destroy(mount->session_);
        mount->session_ = nullptr;
        return nullptr;
    }
    fuse_session* session = mount->session_;
    mount->loop_ = std::thread([session] {
        fuse_loop_config* config = fuse_loop_cfg_create();
        fuse_loop_cfg_set_max_threads(config, kMaxThreads);
        fuse_session_loop_mt(session, config);
        fuse_loop_cfg_destroy(config);
    });
    mount->pagesWorker_ = std::thread([raw = mount.get()] { raw->dropPages(); });
    // Asks the mount itself, so only once the loop serves it.
    widenReadAhead(rootPath);
    return mount;
}

std::string RootMount::procPath(const std::string& relative) const {
    return "/proc/self/fd/" + std::to_string(covered_) + (relative == "." ? "" : "/" + relative);
}

void RootMount::invalidate(const std::string& hostPath) {
    if (!session_) return;
    const std::string relative = hostPath == rootPath_ ? std::string(".") : hostPath.substr(rootPath_.size() + 1);
    struct stat st {};
    if (::fstatat(covered_, relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    const fuse_ino_t id = nodes_.find(st);
    if (id == 0) return;
    // Attributes only: this never waits for a page.
    fuse_lowlevel_notify_inval_inode(session_, id, -1, 0);
    // Pages read while the data was local are still the file's bytes; those of a file that went
    // back to the cloud must go, so that its next reader fetches it.
    if (!S_ISREG(st.st_mode) || !gate_.isDehydrated(procPath(relative))) return;
    std::lock_guard lock(pagesMutex_);
    pages_.push_back(id);
    pagesWanted_.notify_one();
}

void RootMount::dropPages() {
    std::unique_lock lock(pagesMutex_);
    for (;;) {
        pagesWanted_.wait(lock, [this] { return stopping_ || !pages_.empty(); });
        if (stopping_) return;
        const fuse_ino_t id = pages_.front();
        pages_.pop_front();
        lock.unlock();
        // A node the kernel forgot meanwhile has no pages left; its number is never given again.
        fuse_lowlevel_notify_inval_inode(session_, id, 0, 0);
        lock.lock();
    }
}

void RootMount::stopDroppingPages() {
    {
        std::lock_guard lock(pagesMutex_);
        stopping_ = true;
        pages_.clear();
        pagesWanted_.notify_one();
    }
    // A drop under way ends while the loop still serves the reads it waits for.
    if (pagesWorker_.joinable()) pagesWorker_.join();
}

RootMount::~RootMount() {
    if (session_) {
        stopDroppingPages();
        // Taking the mount away ends the connection, which wakes the loop's threads from their reads
        // of the session descriptor; that descriptor is closed only once they are gone, so none of
        // them can read a number that meanwhile names another file.
        fuse_session_exit(session_);
        detach(rootPath_);
        if (loop_.joinable()) loop_.join();
        fuse_session_unmount(session_);
        fuse_session_destroy(session_);
    }
    ::close(covered_);
}

}  // namespace nimbrel::platform::cf
