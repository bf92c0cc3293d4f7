#pragma once
// What the file functions share: the facts of a file in Windows terms, the stored creation time and
// DOS bits, and the lookup of file handles.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/kernel_object.h"
#include "platform/win_types.h"

namespace nimbrel::platform {

// Extended attributes that carry what POSIX has no place for.
inline constexpr const char* kDosAttributesXattr = "user.nimbrel.dosattr";  // DWORD of FILE_ATTRIBUTE_* bits
inline constexpr const char* kCreationTimeXattr = "user.nimbrel.crtime";    // LONGLONG FILETIME value

struct FileFacts {
    struct stat st {};
    LONGLONG creationTime = 0;
    LONGLONG lastAccessTime = 0;
    LONGLONG lastWriteTime = 0;
    LONGLONG changeTime = 0;
    DWORD attributes = 0;
    DWORD reparseTag = 0;
};

// fd < 0: looks the path up without following a final symbolic link (reported as a reparse point,
// as Windows reports a symbolic link). Sets the last error and answers false on failure.
bool describeFile(const std::string& hostPath, int fd, FileFacts& facts);
// The same for an open handle, whose open may have learnt which file it holds.
bool describeFile(const FileObject& file, FileFacts& facts);

// The bytes a file's data takes on disk (Windows' allocation size). Some file systems count a block
// for extended attributes that do not fit in the inode in st_blocks; that block holds no data, so a
// placeholder with a stored creation time or attributes still reports none. Uses `fd` when >= 0.
LONGLONG dataAllocationBytes(const std::string& hostPath, int fd, const struct stat& st);

// Creation time: the value SetFileTime stored, else the one a placeholder was given, else the file
// system's birth time, else the modification time.
bool storeCreationTime(const std::string& hostPath, int fd, LONGLONG fileTime);

// Applies a Windows attribute word (READONLY, HIDDEN, SYSTEM, ARCHIVE; others are accepted and not
// kept) to a file or folder. Sets the last error and answers false on failure.
bool applyAttributes(const std::string& hostPath, DWORD attributes);

// The file object behind a handle; sets ERROR_INVALID_HANDLE and answers null otherwise.
std::shared_ptr<FileObject> fileForHandle(HANDLE handle);

// Data access (the file is opened for writing) and attribute access (times and attributes).
bool hasWriteAccess(DWORD desiredAccess);
bool hasAttributeWriteAccess(DWORD desiredAccess);
bool hasReadAccess(DWORD desiredAccess);
// An open that may move data (not one for attributes only); only those reach a cloud provider.
bool hasDataAccess(DWORD desiredAccess);

// Windows refuses to delete or overwrite a read-only file, whoever asks.
bool isReadOnlyFile(const struct stat& st);

}  // namespace nimbrel::platform
