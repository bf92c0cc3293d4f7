#include "win32_errno.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/descriptor_paths.h"
#include "platform/win_error.h"
#include "platform/win_file.h"

namespace nimbrel::platform {

DWORD win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
        case ESRCH:
            return ERROR_INVALID_PARAMETER;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EBUSY:
            return ERROR_BUSY;
        case ETXTBSY:
        case EAGAIN:
            return ERROR_SHARING_VIOLATION;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case ENOTSUP:
            return ERROR_NOT_SUPPORTED;
        case ENOSYS:
            return ERROR_CALL_NOT_IMPLEMENTED;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        case EINTR:
            return ERROR_OPERATION_ABORTED;
        case EFAULT:
            return ERROR_NOACCESS;
        case ENODATA:
            return ERROR_NOT_FOUND;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD setLastErrorFromErrno(int error) {
    DWORD code = win32ErrorFromErrno(error);
    SetLastError(code);
    return code;
}

DWORD setLastErrorForPath(int error, const std::string& hostPath) {
    if (error == ENOENT) {
        auto slash = hostPath.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            struct stat st {};
            std::string parent = hostPath.substr(0, slash);
            if (statPath(parent, st) != 0 || !S_ISDIR(st.st_mode)) {
                SetLastError(ERROR_PATH_NOT_FOUND);
                return ERROR_PATH_NOT_FOUND;
            }
        }
    }
    return setLastErrorFromErrno(error);
}

}  // namespace nimbrel::platform
