#pragma once
// Every attribute query of the file stand-in (GetFileAttributesW/ExW, FindFirstFileW/FindNextFileW,
// GetFileInformationByHandle(Ex)) reports the ordinary attribute word of a file combined with what
// the Cloud Files stand-in knows about it: a placeholder is a reparse point, sparse and offline
// while dehydrated, pinned or unpinned. The Cloud Files stand-in registers its source here so the
// file functions need not know about its store.

#include <sys/stat.h>

#include <string>

#include "platform/win_types.h"

namespace nimbrel::platform {

struct PlaceholderAttributes {
    DWORD set = 0;         // FILE_ATTRIBUTE_* bits to add
    DWORD clear = 0;       // FILE_ATTRIBUTE_* bits to remove (applied before `set`)
    DWORD reparseTag = 0;  // IO_REPARSE_TAG_* when `set` contains FILE_ATTRIBUTE_REPARSE_POINT
};

// hostPath: the file's host path; fd: an open descriptor of it, or -1 when the query has none.
using PlaceholderAttributeSource = PlaceholderAttributes (*)(const std::string& hostPath, int fd);

// Replaces the source (nullptr restores the default, which reports nothing). Thread-safe.
void setPlaceholderAttributeSource(PlaceholderAttributeSource source);
PlaceholderAttributes placeholderAttributesFor(const std::string& hostPath, int fd);

// The attribute word of a file without placeholder bits: DIRECTORY, READONLY when a file has no
// write bit (for a folder: as stored by SetFileAttributesW), HIDDEN/SYSTEM/ARCHIVE as stored by
// SetFileAttributesW, NORMAL only when nothing else applies.
DWORD ordinaryAttributes(const struct stat& st, const std::string& hostPath);

// ordinaryAttributes with the placeholder source's bits applied; the tag goes to *reparseTag when given.
DWORD combinedAttributes(const struct stat& st, const std::string& hostPath, int fd, DWORD* reparseTag = nullptr);

}  // namespace nimbrel::platform
