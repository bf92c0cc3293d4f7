#include "cf_change_mark.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace nimbrel::platform::cf {

namespace {

// WAL-index header: iVersion (u32), padding (u32), iChange (u32, the commit counter), isInit (u8),
// ... in the byte order of the machine that wrote it, which is this one.
constexpr std::size_t kCommitsOffset = 8;
constexpr std::size_t kInitOffset = 12;
constexpr std::uint32_t kIndexVersion = 3007000;

// An index file as this process holds it. Found by its device and inode, looked up without opening
// it: the index of a database that was removed and made again is another file.
struct HeldIndex {
    dev_t device = 0;
    ino_t inode = 0;
    int fd = -1;
    const unsigned char* header = nullptr;  // null while the file was too short to map
};

struct HeldIndexes {
    std::mutex mutex;
    std::vector<HeldIndex> files;
};

HeldIndexes& held() {
    static auto* instance = new HeldIndexes;  // descriptors live until the process ends
    return *instance;
}

// SQLite sizes the index when it first uses it and never shrinks it while a connection (the
// caller's) has it open; a shorter file cannot be mapped without faulting on the read.
const unsigned char* mapHeader(int fd) {
    struct stat st {};
    const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) < size) return nullptr;
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(mapped);
}

}  // namespace

bool ChangeMark::open(const std::string& databasePath) {
    if (header_) return false;
    const std::string indexPath = databasePath + "-shm";
    auto& h = held();
    std::lock_guard lock(h.mutex);
    struct stat st {};
    if (::stat(indexPath.c_str(), &st) != 0) return false;
    for (auto& file : h.files) {
        if (file.device != st.st_dev || file.inode != st.st_ino) continue;
        // An index file removed since (SQLite removes it with the last connection) may have left its
        // inode number to this one; its descriptor holds no lock worth keeping.
        struct stat kept {};
        if (::fstat(file.fd, &kept) != 0 || kept.st_nlink == 0) {
            file.inode = 0;
            continue;
        }
        if (!file.header) file.header = mapHeader(file.fd);
        header_ = file.header;
        return header_ != nullptr;
    }
    const int fd = ::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Kept even when it cannot be mapped yet: its close would drop the locks all the same.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) opened = st;
    h.files.push_back(HeldIndex{opened.st_dev, opened.st_ino, fd, mapHeader(fd)});
    header_ = h.files.back().header;
    return header_ != nullptr;
}

bool ChangeMark::read(Value& value) const {
    if (!header_) return false;
    // SQLite writes the second copy, then the first, with barriers between; each word is read whole
    // and afresh, and a header torn between words only ever looks like another value, which makes
    // the caller look again in the database.
    for (std::size_t offset = 0; offset < value.size(); offset += sizeof(std::uint32_t)) {
        const auto word = __atomic_load_n(reinterpret_cast<const std::uint32_t*>(header_ + offset), __ATOMIC_ACQUIRE);
        std::memcpy(value.data() + offset, &word, sizeof word);
    }
    std::uint32_t version = 0;
    std::memcpy(&version, value.data(), sizeof version);
    return version == kIndexVersion && value[kInitOffset] != 0;
}

std::uint32_t ChangeMark::commits(const Value& value) {
    std::uint32_t count = 0;
    std::memcpy(&count, value.data() + kCommitsOffset, sizeof count);
    return count;
}

}  // namespace nimbrel::platform::cf
