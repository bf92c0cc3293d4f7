#include "cf_change_mark.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace nimbrel::platform::cf {

namespace {

// WAL-index header: iVersion (u32), padding (u32), iChange (u32, the commit counter), isInit (u8),
// ... in the byte order of the machine that wrote it, which is this one.
constexpr std::size_t kCommitsOffset = 8;
constexpr std::size_t kInitOffset = 12;
constexpr std::uint32_t kIndexVersion = 3007000;

}  // namespace

ChangeMark::~ChangeMark() {
    if (header_) ::munmap(const_cast<unsigned char*>(header_), mapped_);
    if (fd_ >= 0) ::close(fd_);
}

bool ChangeMark::open(const std::string& databasePath) {
    if (fd_ >= 0) return false;
    fd_ = ::open((databasePath + "-shm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    // SQLite sizes the index when it first uses it and never shrinks it while a connection (the
    // caller's) has it open; a shorter file cannot be mapped without faulting on the read.
    struct stat st {};
    const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    if (::fstat(fd_, &st) != 0 || static_cast<std::size_t>(st.st_size) < size) return false;
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
    if (mapped == MAP_FAILED) return false;
    header_ = static_cast<const unsigned char*>(mapped);
    mapped_ = size;
    return true;
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
