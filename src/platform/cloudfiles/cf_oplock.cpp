// CfOpenFileWithOplock over file leases: the open fails while another process has the file open
// (exclusive) or open for writing (shared), and when another process opens it later, the lease is given up at once so
// that open proceeds, as the oplock break does on Windows.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "cf_covered.h"
#include "cf_errors.h"
#include "platform/descriptor_paths.h"
#include "platform/fault_injection.h"
#include "platform/kernel_object.h"
#include "platform/platform_paths.h"

using namespace nimbrel::platform;

namespace {

void onLeaseBreak(int, siginfo_t* info, void*) {
    const int saved = errno;
    ::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = saved;
}

// A real-time signal carries the descriptor whose lease breaks; SIGIO would end the process.
int leaseBreakSignal() {
    static const int signal = [] {
        const int number = SIGRTMIN + 6;
        struct sigaction action {};
        action.sa_sigaction = onLeaseBreak;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

}  // namespace

extern "C" HRESULT CfOpenFileWithOplock(LPCWSTR FilePath, CF_OPEN_FILE_FLAGS Flags, PHANDLE ProtectedHandle) {
    const std::string hostPath = FilePath ? toHostPath(std::wstring(FilePath)) : "";
    if (auto fault = faults::check("CfOpenFileWithOplock", hostPath)) return *fault;
    if (!FilePath || !ProtectedHandle) return E_INVALIDARG;
    *ProtectedHandle = INVALID_HANDLE_VALUE;
    // The lease is taken in the covered folder, which every open through a filter mount reaches too.
    const std::string access = cf::directPath(hostPath);
    const bool exclusive = Flags & CF_OPEN_FILE_FLAG_EXCLUSIVE;
    // Updates and dehydration through an exclusive handle are made on its own open, which the
    // lease allows to write: another open of the file would break the handle's own lease. A folder
    // refuses to open for writing and is opened for reading.
    int fd = -1;
    bool plain = false;
    if (exclusive) fd = openPathPlainly(access, O_RDWR | O_CLOEXEC, plain);
    if (fd < 0) fd = openPathPlainly(access, O_RDONLY | O_CLOEXEC, plain);
    if (fd < 0) return cf::hrFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return cf::hrFromErrno(error);
    }
    const bool isDirectory = S_ISDIR(st.st_mode);
    if (!isDirectory) {
        if (::fcntl(fd, F_SETSIG, leaseBreakSignal()) != 0 ||
            ::fcntl(fd, F_SETLEASE, exclusive ? F_WRLCK : F_RDLCK) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EAGAIN || error == EBUSY ? HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)
                                                     : cf::hrFromErrno(error);
        }
    }
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->path = hostPath;
    file->desiredAccess = GENERIC_READ;
    file->shareMode = exclusive ? 0 : 7;
    file->isDirectory = isDirectory;
    file->openedPlainly = plain;
    file->device = st.st_dev;
    file->inode = st.st_ino;
    *ProtectedHandle = registerHandle(std::move(file));
    return S_OK;
}

extern "C" HANDLE CfGetWin32HandleFromProtectedHandle(HANDLE ProtectedHandle) { return ProtectedHandle; }

extern "C" void CfCloseHandle(HANDLE FileHandle) { releaseHandle(FileHandle); }
