// Named sections over memory files in the runtime folder. On Windows a named section lives in the
// logon session's own object namespace, which other users cannot reach, so even an Everyone entry
// in its descriptor only ever admits this user's processes; the runtime folder is that namespace
// here (private to the user), and its files are 0600 whatever the descriptor says. Every handle
// and every view holds a shared lock on a companion lock file, so the section exists exactly while
// some process holds one (a dead process's locks vanish with it). A section whose lock nobody
// holds is stale: it is treated as absent and removed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "platform/win_mapping.h"
#include "platform/win_string.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;

constexpr ULONGLONG kAllocationGranularity = 65536;
constexpr mode_t kPrivateMode = 0600;

struct SectionName {
    std::string runtimeDir;
    std::string key;  // the object name as a file name

    std::string lockPath() const { return runtimeDir + "/section-" + key + ".lock"; }
    std::string guardPath() const { return runtimeDir + "/sections.guard"; }
    std::string memoryPath() const { return runtimeDir + "/section-" + key + ".memory"; }
};

// Serialises creation, opening and removal of sections within one runtime folder. Lock files are
// opened read-only: flock needs no write access.
class Guard {
public:
    explicit Guard(const SectionName& name) {
        fd_ = ::open(name.guardPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, kPrivateMode);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~Guard() {
        if (fd_ >= 0) ::close(fd_);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    int fd_ = -1;
};

bool nobodyHolds(const SectionName& name) {
    int probe = ::open(name.lockPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0) return true;
    bool free = ::flock(probe, LOCK_EX | LOCK_NB) == 0;
    ::close(probe);
    return free;
}

int takeReference(const SectionName& name) {
    int fd = ::open(name.lockPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, kPrivateMode);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_SH) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Gives up one handle's or view's hold; the last one removes the section.
void dropReference(const SectionName& name, int lockFd) {
    if (name.key.empty()) return;  // unnamed sections have no lock
    Guard guard(name);
    ::close(lockFd);
    if (nobodyHolds(name)) {
        ::unlink(name.memoryPath().c_str());
        ::unlink(name.lockPath().c_str());
    }
}

class SectionObject : public p::KernelObject {
public:
    ~SectionObject() override {
        if (shmFd >= 0) ::close(shmFd);
        if (lockFd >= 0) dropReference(name, lockFd);
    }
    SectionName name;
    int shmFd = -1;
    int lockFd = -1;
    bool writable = false;  // the memory itself may be written
    DWORD access = 0;       // the rights of this handle
    ULONGLONG size = 0;
};

struct View {
    std::size_t length = 0;
    SectionName name;
    int lockFd = -1;
};

std::mutex viewsMutex;
std::map<const void*, View>& views() {
    static auto* instance = new std::map<const void*, View>;  // views may outlive static destruction
    return *instance;
}

HANDLE fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

bool writeProtection(DWORD protect) {
    DWORD page = protect & 0xFFu;
    return page == PAGE_READWRITE || page == PAGE_EXECUTE_READWRITE || page == PAGE_WRITECOPY;
}

bool validProtection(DWORD protect) {
    DWORD page = protect & 0xFFu;
    return page == PAGE_READONLY || page == PAGE_READWRITE || page == PAGE_WRITECOPY || page == PAGE_EXECUTE_READ ||
           page == PAGE_EXECUTE_READWRITE;
}

std::wstring wideName(LPCSTR name) {
    int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

HANDLE registerSection(std::shared_ptr<SectionObject> section, DWORD lastError) {
    HANDLE handle = p::registerHandle(std::move(section));
    SetLastError(lastError);
    return handle;
}

}  // namespace

extern "C" HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                                     DWORD maximumSizeLow, LPCSTR name) {
    // Only sections on the page file are offered; Nimbrel maps no files.
    if (file != INVALID_HANDLE_VALUE) return fail(ERROR_INVALID_PARAMETER);
    ULONGLONG size = (static_cast<ULONGLONG>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0 || !validProtection(protect)) return fail(ERROR_INVALID_PARAMETER);

    auto section = std::make_shared<SectionObject>();
    section->writable = writeProtection(protect);
    section->access = FILE_MAP_ALL_ACCESS;
    if (!name || !*name) {
        section->shmFd = ::memfd_create("nimbrel-section", MFD_CLOEXEC);
        if (section->shmFd < 0 || ::ftruncate(section->shmFd, static_cast<off_t>(size)) != 0) {
            return fail(p::win32ErrorFromErrno(errno));
        }
        section->size = size;
        return registerSection(std::move(section), ERROR_SUCCESS);
    }

    section->name = SectionName{p::runtimeDir(), p::objectFileName(wideName(name))};
    Guard guard(section->name);
    const std::string memory = section->name.memoryPath();
    bool existed = false;
    if (nobodyHolds(section->name)) {
        ::unlink(memory.c_str());  // whatever is left belongs to processes that are gone
    } else {
        section->shmFd = ::open(memory.c_str(), O_RDWR | O_CLOEXEC);
        existed = section->shmFd >= 0;
    }
    if (!existed) {
        section->shmFd = ::open(memory.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateMode);
        if (section->shmFd < 0) return fail(p::win32ErrorFromErrno(errno));
        if (::ftruncate(section->shmFd, static_cast<off_t>(size)) != 0) {
            DWORD error = p::win32ErrorFromErrno(errno);
            ::unlink(memory.c_str());
            return fail(error);
        }
    }
    struct stat st {};
    ::fstat(section->shmFd, &st);
    section->size = static_cast<ULONGLONG>(st.st_size);
    section->lockFd = takeReference(section->name);
    if (section->lockFd < 0) return fail(p::win32ErrorFromErrno(errno));
    return registerSection(std::move(section), existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

extern "C" HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL, LPCSTR name) {
    if (!name || !*name) return fail(ERROR_INVALID_PARAMETER);
    auto section = std::make_shared<SectionObject>();
    section->name = SectionName{p::runtimeDir(), p::objectFileName(wideName(name))};
    section->access = desiredAccess;
    Guard guard(section->name);
    const std::string memory = section->name.memoryPath();
    if (nobodyHolds(section->name)) {
        ::unlink(memory.c_str());
        ::unlink(section->name.lockPath().c_str());
        return fail(ERROR_FILE_NOT_FOUND);
    }
    bool wantsWrite = (desiredAccess & FILE_MAP_WRITE) != 0;
    section->shmFd = ::open(memory.c_str(), (wantsWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (section->shmFd < 0) return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : p::win32ErrorFromErrno(errno));
    section->writable = wantsWrite;
    struct stat st {};
    ::fstat(section->shmFd, &st);
    section->size = static_cast<ULONGLONG>(st.st_size);
    section->lockFd = takeReference(section->name);
    if (section->lockFd < 0) return fail(p::win32ErrorFromErrno(errno));
    return registerSection(std::move(section), ERROR_SUCCESS);
}

extern "C" LPVOID MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess, DWORD fileOffsetHigh,
                                DWORD fileOffsetLow, SIZE_T numberOfBytesToMap) {
    auto section = p::handleAs<SectionObject>(fileMappingObject);
    if (!section) return fail(ERROR_INVALID_HANDLE);
    bool copy = (desiredAccess & FILE_MAP_COPY) && !(desiredAccess & FILE_MAP_WRITE);
    bool write = (desiredAccess & FILE_MAP_WRITE) != 0;
    bool read = (desiredAccess & (FILE_MAP_READ | FILE_MAP_WRITE | FILE_MAP_COPY)) != 0;
    if (!read) return fail(ERROR_INVALID_PARAMETER);
    if (write && (!section->writable || !(section->access & FILE_MAP_WRITE))) return fail(ERROR_ACCESS_DENIED);
    if (!(section->access & (FILE_MAP_READ | FILE_MAP_WRITE))) return fail(ERROR_ACCESS_DENIED);
    ULONGLONG offset = (static_cast<ULONGLONG>(fileOffsetHigh) << 32) | fileOffsetLow;
    if (offset % kAllocationGranularity != 0) return fail(ERROR_MAPPED_ALIGNMENT);
    if (offset >= section->size) return fail(ERROR_ACCESS_DENIED);
    ULONGLONG length = numberOfBytesToMap ? numberOfBytesToMap : section->size - offset;
    if (offset + length > section->size) return fail(ERROR_ACCESS_DENIED);

    int protection = PROT_READ | (write || copy ? PROT_WRITE : 0);
    void* address = ::mmap(nullptr, static_cast<size_t>(length), protection, copy ? MAP_PRIVATE : MAP_SHARED,
                           section->shmFd, static_cast<off_t>(offset));
    if (address == MAP_FAILED) return fail(errno == EACCES ? ERROR_ACCESS_DENIED : p::win32ErrorFromErrno(errno));
    View view;
    view.length = static_cast<std::size_t>(length);
    view.name = section->name;
    if (!section->name.key.empty()) {
        // The view keeps the section alive after its handle is closed, as on Windows.
        view.lockFd = ::open(section->name.lockPath().c_str(), O_RDONLY | O_CLOEXEC);
        if (view.lockFd >= 0) ::flock(view.lockFd, LOCK_SH);
    }
    std::lock_guard lock(viewsMutex);
    views()[address] = view;
    SetLastError(ERROR_SUCCESS);
    return address;
}

extern "C" BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    View view;
    {
        std::lock_guard lock(viewsMutex);
        auto found = views().find(baseAddress);
        if (found == views().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        view = found->second;
        views().erase(found);
    }
    ::munmap(const_cast<void*>(baseAddress), view.length);
    if (view.lockFd >= 0) dropReference(view.name, view.lockFd);
    return TRUE;
}
