#include "cf_covered.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "cf_connection.h"
#include "cf_filter_service.h"
#include "cf_store.h"
#include "platform/file_filter_hooks.h"

namespace nimbrel::platform::cf {

namespace {

constexpr long kFuseMagic = 0x65735546;
constexpr const char* kProcFd = "/proc/self/fd/";

// How long a covered descriptor is trusted without a look at its folder: a provider makes dozens
// of accesses per item, and a root folder is removed and made again only between registrations
// and connections (which have every descriptor looked at again) or by hand, far more slowly.
constexpr auto kRecheckAfter = std::chrono::seconds(1);

// Separate opens of each covered folder: the threads of a provider reach items below the same root
// at once, and a look up below a descriptor counts a reference on its open file, which one open
// shared by all of them makes every thread wait for.
constexpr std::size_t kOpensPerFolder = 4;

struct CoveredFolder {
    std::vector<int> fds;  // opens of the same folder; never empty
    unsigned generation = 0;
    std::chrono::steady_clock::time_point checked;
};

struct Covered {
    std::mutex mutex;
    std::map<std::string, CoveredFolder> byRoot;
    unsigned generation = 0;
    // Counts every change of the connected roots or of their covered descriptors (see CoveredView).
    std::atomic<unsigned> changes{0};
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

// The opens of the root's covered folder; empty while none can be had.
std::vector<int> coveredDescriptors(const std::string& root) {
    auto& c = covered();
    std::lock_guard lock(c.mutex);
    const auto now = std::chrono::steady_clock::now();
    auto found = c.byRoot.find(root);
    if (found != c.byRoot.end()) {
        CoveredFolder& folder = found->second;
        if (folder.generation == c.generation && now - folder.checked < kRecheckAfter) return folder.fds;
        // A root folder removed and made again under the same path is another folder.
        struct stat st {};
        if (::fstat(folder.fds.front(), &st) == 0 && st.st_nlink > 0) {
            folder.generation = c.generation;
            folder.checked = now;
            return folder.fds;
        }
        for (int fd : folder.fds) ::close(fd);
        c.byRoot.erase(found);
        c.changes.fetch_add(1, std::memory_order_release);
    }
    const int fd = openCovered(root);
    if (fd < 0) return {};
    CoveredFolder folder{{fd}, c.generation, now};
    while (folder.fds.size() < kOpensPerFolder) {
        const int again = ::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (again < 0) break;
        folder.fds.push_back(again);
    }
    return c.byRoot.emplace(root, std::move(folder)).first->second.fds;
}

int coveredDescriptor(const std::string& root) {
    const std::vector<int> fds = coveredDescriptors(root);
    return fds.empty() ? -1 : fds.front();
}

// Which of a covered folder's opens the calling thread uses.
std::size_t threadOpen() {
    static std::atomic<std::size_t> threads{0};
    thread_local const std::size_t slot = threads.fetch_add(1, std::memory_order_relaxed);
    return slot;
}

// What a thread knows of the roots this process is connected to, with their covered descriptors
// (the thread's own open of each; -1 where none can be had): the provider's own accesses ask
// several times per item, and a look here takes no lock. Taken again when a connection or a
// covered descriptor changed, and after kRecheckAfter, when the descriptors are looked at again.
struct CoveredView {
    bool taken = false;
    unsigned changes = 0;
    std::chrono::steady_clock::time_point at;
    std::vector<std::pair<std::string, int>> roots;
};

const CoveredView& coveredView() {
    thread_local CoveredView view;
    const unsigned changes = covered().changes.load(std::memory_order_acquire);
    const auto now = std::chrono::steady_clock::now();
    if (view.taken && view.changes == changes && now - view.at < kRecheckAfter) return view;
    view.roots.clear();
    for (std::string& root : connectedRoots()) {
        const std::vector<int> fds = coveredDescriptors(root);
        view.roots.emplace_back(std::move(root), fds.empty() ? -1 : fds[threadOpen() % fds.size()]);
    }
    view.taken = true;
    view.changes = changes;
    view.at = now;
    return view;
}

std::string currentPathOf(int fd) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink((kProcFd + std::to_string(fd)).c_str(), buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// True when `rest` (what follows a root in a path) names its items plainly: no "." or ".." and no
// empty step, so it means the same below the covered folder as below the root's path.
bool plainRest(const std::string& rest) {
    std::size_t start = 0;
    while (start < rest.size()) {
        if (rest[start] != '/') return false;
        const std::size_t end = std::min(rest.find('/', start + 1), rest.size());
        const std::size_t length = end - start - 1;
        if (length == 0 || (length == 1 && rest[start + 1] == '.') ||
            (length == 2 && rest.compare(start + 1, 2, "..") == 0)) {
            return false;
        }
        start = end;
    }
    return true;
}

// The covered-folder path of `path` when it lies under a root this process is connected to. The
// covered folder is right whether or not a mount is over the root now, so the provider's own
// accesses ask neither the mount nor the store; empty otherwise.
std::string providerDirectPath(const std::string& path) {
    int fd = -1;
    std::string rest;
    if (!providerCovered(path, fd, rest)) return {};
    return coveredPath(fd, rest);
}

std::string accessPath(const std::string& hostPath) {
    std::string direct = providerDirectPath(hostPath);
    return direct.empty() ? hostPath : direct;
}

const bool registered = (setAccessPathSource(&accessPath), true);

}  // namespace

std::string coveredPath(int coveredFd, const std::string& rest) {
    return kProcFd + std::to_string(coveredFd) + (rest.empty() ? "/." : rest);
}

void recheckCoveredFolders() {
    auto& c = covered();
    std::lock_guard lock(c.mutex);
    ++c.generation;
    c.changes.fetch_add(1, std::memory_order_release);
}

std::string directPath(const std::string& path) {
    if (std::string direct = providerDirectPath(path); !direct.empty()) return direct;
    // Most paths lie on no filter mount; they cost one statfs and no store query.
    if (path.rfind(kProcFd, 0) == 0 || !onFilterMount(path, -1)) return path;
    auto store = CfStore::current();
    if (!store) return path;
    auto root = store->rootContaining(path);
    if (!root) return path;
    int fd = coveredDescriptor(root->path);
    if (fd < 0) return path;
    return coveredPath(fd, path.substr(root->path.size()));
}

std::string directPath(const std::string& path, int fd) {
    if (fd < 0) return directPath(path);
    if (!isFilterMount(fd)) return kProcFd + std::to_string(fd);
    const std::string current = currentPathOf(fd);
    return directPath(current.empty() ? path : current);
}

bool providerCovered(const std::string& path, int& coveredFd, std::string& rest) {
    if (path.rfind(kProcFd, 0) == 0) return false;
    for (const auto& [root, fd] : coveredView().roots) {
        if (!isSameOrBelow(path, root)) continue;
        rest = path.substr(root == "/" ? 0 : root.size());
        if (!plainRest(rest)) return false;
        coveredFd = fd;
        return coveredFd >= 0;
    }
    return false;
}

bool onFilterMount(const std::string& path, int fd) {
    if (fd >= 0) return isFilterMount(fd);
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == kFuseMagic;
}

}  // namespace nimbrel::platform::cf
