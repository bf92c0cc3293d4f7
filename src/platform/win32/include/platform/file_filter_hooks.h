#pragma once
// Where the Cloud Files filter sits below the file functions. Every attribute query of the file
// stand-in (GetFileAttributesW/ExW, FindFirstFileW/FindNextFileW, GetFileInformationByHandle(Ex))
// reports the ordinary attribute word of a file combined with what the Cloud Files stand-in knows
// about it: a placeholder is a reparse point, sparse and offline while dehydrated, pinned or
// unpinned. A data open and a read of an open file pass through the filter, which notifies the
// provider and hydrates a placeholder first. The Cloud Files stand-in registers itself here, so the
// file functions need not know about its store.

#include <sys/stat.h>

#include <string>

#include "platform/kernel_object.h"
#include "platform/win_types.h"

namespace nimbrel::platform {

struct PlaceholderAttributes {
    DWORD set = 0;         // FILE_ATTRIBUTE_* bits to add
    DWORD clear = 0;       // FILE_ATTRIBUTE_* bits to remove (applied before `set`)
    DWORD reparseTag = 0;  // IO_REPARSE_TAG_* when `set` contains FILE_ATTRIBUTE_REPARSE_POINT
    // The creation time (FILETIME ticks) the placeholder was given, 0 for none: kept with the
    // placeholder's record rather than on the file, whose one small attribute must stay in the inode.
    LONGLONG creationTime = 0;
};

// hostPath: the file's host path; fd: an open descriptor of it, or -1 when the query has none.
using PlaceholderAttributeSource = PlaceholderAttributes (*)(const std::string& hostPath, int fd);

// The same question for a query that has no descriptor and has already examined the file at
// `accessPath` (what accessPathFor answered for hostPath) into `st`, so the answer need not look
// the file up again.
using ExaminedPlaceholderAttributeSource = PlaceholderAttributes (*)(const std::string& hostPath,
                                                                     const std::string& accessPath,
                                                                     const struct stat& st);

// The same question for an open handle, whose open may have learnt which file it holds.
using HandlePlaceholderAttributeSource = PlaceholderAttributes (*)(const FileObject& file);

// Replaces the source (nullptr restores the default, which reports nothing); a source set without
// an examined or a handle variant answers those queries too. Thread-safe.
void setPlaceholderAttributeSource(PlaceholderAttributeSource source,
                                   ExaminedPlaceholderAttributeSource examined = nullptr,
                                   HandlePlaceholderAttributeSource handle = nullptr);
PlaceholderAttributes placeholderAttributesFor(const std::string& hostPath, int fd);
PlaceholderAttributes placeholderAttributesFor(const std::string& hostPath, const std::string& accessPath,
                                               const struct stat& st);
PlaceholderAttributes placeholderAttributesFor(const FileObject& file);

// What the filter does when an application opens a file for data and before it reads one. `read`
// answers ERROR_SUCCESS when the data may be read now, otherwise the Win32 error the read fails with.
struct ApplicationAccessFilter {
    void (*opened)(int fd) = nullptr;
    DWORD (*read)(int fd) = nullptr;
};

// Replaces the filter (an empty one lets every open and read through). Thread-safe.
void setApplicationAccessFilter(ApplicationAccessFilter filter);
void applicationOpenedHandle(int fd);
DWORD applicationReadHandle(int fd);

// Where the file functions reach `hostPath` for their own metadata queries and attribute-only opens.
// The connected provider reaches the folders under its sync roots directly, below any filter mount,
// as the filter lets its own requests through untouched anyway; for everyone else it is `hostPath`.
using AccessPathSource = std::string (*)(const std::string& hostPath);

// Replaces the source (nullptr restores the default, which answers `hostPath`). Thread-safe.
void setAccessPathSource(AccessPathSource source);
std::string accessPathFor(const std::string& hostPath);

// The attribute word of a file without placeholder bits: DIRECTORY, READONLY when a file has no
// write bit (for a folder: as stored by SetFileAttributesW), HIDDEN/SYSTEM/ARCHIVE as stored by
// SetFileAttributesW, NORMAL only when nothing else applies.
DWORD ordinaryAttributes(const struct stat& st, const std::string& hostPath);

// ordinaryAttributes with the placeholder source's bits applied; the tag goes to *reparseTag when given.
DWORD combinedAttributes(const struct stat& st, const std::string& hostPath, int fd, DWORD* reparseTag = nullptr);
// The same with the placeholder source's answer already at hand; `mayHaveStoredBits` false when the
// file is known to carry no bits stored by SetFileAttributesW, which are then not read.
DWORD combinedAttributes(const struct stat& st, const std::string& hostPath, const PlaceholderAttributes& extra,
                         DWORD* reparseTag, bool mayHaveStoredBits = true);

}  // namespace nimbrel::platform
