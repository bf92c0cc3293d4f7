#pragma once
// The folder under a sync root's filter mount. The stand-in works on placeholders there directly:
// its record attribute is hidden by the mount, and the provider's transfers must not loop through
// the mount they complete reads of. Each process keeps descriptors of it per root, from the filter
// service when the root is mounted, else of the folder itself (which stays valid when a mount
// comes over it later), and reaches items as /proc/self/fd/N/rest.

#include <string>

namespace nimbrel::platform::cf {

// `path` (canonical) rewritten to the covered folder when it lies under a registered root.
std::string directPath(const std::string& path);
// The same for a descriptor: its /proc link unless it was opened through a filter mount.
std::string directPath(const std::string& path, int fd);
// For a path below a root this process is connected to, named plainly (no "." or ".." and no empty
// step): the descriptor of the root's covered folder and the rest of the path after the root ("" for
// the root itself, else "/a/b"). False for any other path.
bool providerCovered(const std::string& path, int& coveredFd, std::string& rest);
// The path of `rest` ("" or "/a/b") below a covered folder's descriptor. The root itself is named
// with a trailing "/.": a look that does not follow links would see the descriptor's own link.
std::string coveredPath(int coveredFd, const std::string& rest);
// Has every covered descriptor looked at again before its next use: a root's folder may have been
// removed and made again when it is registered, connected or unregistered.
void recheckCoveredFolders();
// Whether the descriptor (or path, when fd < 0) lies on a filter mount.
bool onFilterMount(const std::string& path, int fd);

}  // namespace nimbrel::platform::cf
