#include "cf_covered.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>

#include "cf_filter_service.h"
#include "cf_store.h"

namespace nimbrel::platform::cf {

namespace {

constexpr long kFuseMagic = 0x65735546;
constexpr const char* kProcFd = "/proc/self/fd/";

struct Covered {
    std::mutex mutex;
    std::map<std::string, int> byRoot;
};

Covered& covered() {
    static auto* instance = new Covered;  // descriptors live until the process ends
    return *instance;
}

bool isFilterMount(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == kFuseMagic;
}

// A descriptor of the folder the root's path shows when nothing is mounted on it; -1 while the
// mount's service cannot hand one over.
int openCovered(const std::string& root) {
    int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !isFilterMount(fd)) return fd;
    ::close(fd);
    int passed = -1;
    if (!filterServiceCommand("covered " + root, &passed)) return -1;
    return passed;
}

int coveredDescriptor(const std::string& root) {
    auto& c = covered();
    std::lock_guard lock(c.mutex);
    auto found = c.byRoot.find(root);
    if (found != c.byRoot.end()) {
        // A root folder removed and made again under the same path is another folder.
        struct stat st {};
        if (::fstat(found->second, &st) == 0 && st.st_nlink > 0) return found->second;
        ::close(found->second);
        c.byRoot.erase(found);
    }
    int fd = openCovered(root);
    if (fd >= 0) c.byRoot[root] = fd;
    return fd;
}

std::string currentPathOf(int fd) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink((kProcFd + std::to_string(fd)).c_str(), buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::string directPath(const std::string& path) {
    // Most paths lie on no filter mount; they cost one statfs and no store query.
    if (path.rfind(kProcFd, 0) == 0 || !onFilterMount(path, -1)) return path;
    auto store = CfStore::current();
    if (!store) return path;
    auto root = store->rootContaining(path);
    if (!root) return path;
    int fd = coveredDescriptor(root->path);
    if (fd < 0) return path;
    return kProcFd + std::to_string(fd) + path.substr(root->path.size());
}

std::string directPath(const std::string& path, int fd) {
    if (fd < 0) return directPath(path);
    if (!isFilterMount(fd)) return kProcFd + std::to_string(fd);
    const std::string current = currentPathOf(fd);
    return directPath(current.empty() ? path : current);
}

bool onFilterMount(const std::string& path, int fd) {
    if (fd >= 0) return isFilterMount(fd);
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == kFuseMagic;
}

}  // namespace nimbrel::platform::cf
