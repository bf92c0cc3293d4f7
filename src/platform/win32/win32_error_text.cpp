// FormatMessage with FORMAT_MESSAGE_FROM_SYSTEM: the system's English message texts.
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/platform_paths.h"
#include "platform/win_error.h"

namespace {

struct Message {
    DWORD code;
    const char* text;
};

// Win32 error codes (also reached through HRESULT_FROM_WIN32).
constexpr Message kWin32Messages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {24, "The program issued a command but the command length is incorrect."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {232, "The pipe is being closed."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {288, "Attempt to release mutex not owned by caller."},
    {298, "Too many posts were made to a semaphore."},
    {300, "The oplock request is denied."},
    {301, "An invalid oplock acknowledgment was received by the system."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {358, "The cloud sync root metadata is corrupted."},
    {362, "The cloud file provider is not running."},
    {363, "The cloud file metadata is corrupt and unreadable."},
    {364, "The cloud file metadata is too large."},
    {365, "The cloud file property is too large."},
    {366, "The cloud file property is possibly corrupt. The on-disk checksum does not match the computed checksum."},
    {376, "The file is not a cloud file."},
    {377, "The file is not in sync with the cloud."},
    {378, "The cloud sync root is already connected with another cloud sync provider."},
    {379, "The operation is not supported by the cloud sync provider."},
    {380, "The cloud operation is invalid."},
    {381, "The cloud operation is not supported on a read-only volume."},
    {382, "The operation is reserved for a connected cloud sync provider."},
    {383, "The cloud sync provider failed to validate the downloaded data."},
    {386, "The cloud sync provider failed user authentication."},
    {387, "The cloud sync provider failed to perform the operation due to low system resources."},
    {388, "The cloud sync provider failed to perform the operation due to network being unavailable."},
    {389, "The cloud operation was unsuccessful."},
    {390, "The operation is only supported on files under a cloud sync root."},
    {391, "The operation cannot be performed on cloud files in use."},
    {392, "The operation cannot be performed on pinned cloud files."},
    {393, "The cloud operation was aborted."},
    {394, "The cloud file's property store is corrupt."},
    {395, "Access to the cloud file is denied."},
    {396, "The cloud operation cannot be performed on a file with incompatible hardlinks."},
    {398, "The cloud operation was canceled by user."},
    {404, "The cloud file provider exited unexpectedly."},
    {405, "The file is not a cloud sync root."},
    {426, "The cloud operation was not completed before the time-out period expired."},
    {487, "Attempt to access invalid address."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015,
     "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     "the system's memory image of the file is corrupted, or the file could not be recovered because the "
     "alternate copy or log was absent or corrupted."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1062, "The service has not been started."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1132, "The base address or the file offset specified does not have the proper alignment."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1237, "The operation could not be completed. A retry should be performed."},
    {1305, "The revision level is unknown."},
    {1306, "Indicates two revision levels are incompatible."},
    {1336, "The access control list (ACL) structure is invalid."},
    {1337, "The security ID structure is invalid."},
    {1338, "The security descriptor structure is invalid."},
    {1344, "No more memory is available for security information updates."},
    {1460, "This operation returned because the timeout period expired."},
    {1921, "The name of the file cannot be resolved by the system."},
    {4390, "The file or directory is not a reparse point."},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10038, "An operation was attempted on something that is not a socket."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a period of "
     "time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
};

// HRESULTs of other facilities.
constexpr Message kHresultMessages[] = {
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80010106u, "Cannot change thread mode after it is set."},
    {0x800401F0u, "CoInitialize has not been called."},
};

const char* lookup(DWORD messageId) {
    // HRESULT_FROM_WIN32 values carry the Win32 code in their low word.
    bool win32 = messageId <= 0xFFFFu || (messageId & 0xFFFF0000u) == 0x80070000u;
    if (win32) {
        for (const auto& message : kWin32Messages) {
            if (message.code == (messageId & 0xFFFFu)) return message.text;
        }
    }
    for (const auto& message : kHresultMessages) {
        if (message.code == messageId) return message.text;
    }
    return nullptr;
}

// The text as FormatMessage returns it, or an empty string with the last error set.
bool messageText(DWORD flags, DWORD messageId, std::string& text) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_FROM_STRING)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const char* found = lookup(messageId);
    if (!found) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return false;
    }
    text = found;
    // Inserts are only filled from arguments, which no caller of the system texts passes.
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && text.find('%') != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    text += "\r\n";
    return true;
}

}  // namespace

extern "C" DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, va_list*) {
    std::string text;
    if (!messageText(flags, messageId, text)) return 0;
    const std::wstring wide = nimbrel::platform::fromUtf8(text);
    auto length = static_cast<DWORD>(wide.size());
    if (!buffer || size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, wide.c_str(), length + 1);
    return length;
}

extern "C" HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
