#pragma once
// File calls on paths that may name an item below a descriptor this process holds: a path of the
// form /proc/self/fd/N/rest is reached from descriptor N with the *at() form of the call, so that
// /proc and the descriptor's link are not walked again for each call (they cost more than the
// rest of the lookup). Any other path is used as it is. Each call answers as its plain form does,
// errno included.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace nimbrel::platform {

// stat(2), or lstat(2) when `followLast` is false.
int statPath(const std::string& path, struct ::stat& st, bool followLast = true);
int openPath(const std::string& path, int flags, mode_t mode = 0);
// openat(2) of `rest` below the folder descriptor `folder`, refusing (ELOOP) any symbolic link on the
// way, the last name included.
int openBelowPlainly(int folder, const char* rest, int flags);
// openPath of an existing item. `plain` tells whether the path lay below a descriptor and reached
// the item with no symbolic link on its way, which the open itself checked.
int openPathPlainly(const std::string& path, int flags, bool& plain);
int mkdirPath(const std::string& path, mode_t mode);
// unlink(2), or rmdir(2) for a folder.
int removePath(const std::string& path, bool folder);
int renamePath(const std::string& from, const std::string& to, unsigned flags);
int setTimesPath(const std::string& path, const struct timespec times[2]);
// getxattr(2) and listxattr(2), or their l- forms when `followLast` is false; setxattr(2).
ssize_t getXattrPath(const std::string& path, const char* name, void* value, size_t size, bool followLast = true);
ssize_t listXattrPath(const std::string& path, char* names, size_t size, bool followLast = true);
int setXattrPath(const std::string& path, const char* name, const void* value, size_t size);

}  // namespace nimbrel::platform
