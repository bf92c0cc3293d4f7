#pragma once
// Handles of the stand-in: every HANDLE names a kernel object in a process-wide table, so that
// CloseHandle can tell a valid handle from a stale one (ERROR_INVALID_HANDLE) and a closing
// thread never frees an object that another thread is still using.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_error.h"
#include "platform/win_types.h"

namespace nimbrel::platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // WaitForSingleObject on this object: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last
    // error set. Objects that cannot be waited on answer ERROR_INVALID_HANDLE.
    virtual DWORD wait(DWORD milliseconds) {
        (void)milliseconds;
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
};

// An open file or folder (CreateFileW, CfOpenFileWithOplock).
class FileObject : public KernelObject {
public:
    ~FileObject() override;
    int fd = -1;
    std::string path;  // host path, as opened
    DWORD desiredAccess = 0;
    DWORD shareMode = 0;
    DWORD flagsAndAttributes = 0;
    bool isDirectory = false;
    // The open reached the item below a folder descriptor with no symbolic link on its way (see
    // openPathPlainly): `path` named the item as it is when it was opened.
    bool openedPlainly = false;
    // Opened only for its path: the descriptor answers no extended-attribute call.
    bool pathOnly = false;
    // The file the descriptor was opened on, when the open examined it through the descriptor;
    // 0 when it did not.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

HANDLE registerHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
bool releaseHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> handleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

}  // namespace nimbrel::platform
