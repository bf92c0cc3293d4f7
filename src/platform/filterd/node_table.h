#pragma once
// The files of a filter mount that the kernel knows, by node id. Each node is the covered file with
// that (st_dev, st_ino), remembered by the names (parent node and name) the kernel found it under,
// so that it stays reachable by path from the covered folder, by the name it was last found under
// that it still has; the kernel counts its lookups and forgets them, and a node goes once neither
// the kernel nor a child node needs it.

#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nimbrel::platform::cf {

// What a file looked like when the kernel last started caching it: while it looks the same, what
// the kernel holds of it is still good.
struct CacheStamp {
    struct timespec changed {};   // ctime
    struct timespec modified {};  // mtime
    off_t size = 0;
    std::chrono::steady_clock::time_point at;
};

class NodeTable {
public:
    // The root node is the covered folder `root`.
    explicit NodeTable(const struct stat& root);

    // Counts one lookup of the file `st` found as `name` below `parent`; its node id.
    fuse_ino_t remember(fuse_ino_t parent, const std::string& name, const struct stat& st);
    void forget(fuse_ino_t id, std::uint64_t lookups);
    // The node's path relative to the covered folder ("." for the root); nullopt for an unknown node.
    std::optional<std::string> relative(fuse_ino_t id) const;
    // `relative(parent)` + "/" + `name`.
    std::optional<std::string> relative(fuse_ino_t parent, const std::string& name) const;
    // The node of a covered file the kernel knows; 0 when it knows none.
    fuse_ino_t find(const struct stat& st) const;
    // The file `st` no longer has `name` below `parent` (removed or renamed through the mount).
    void unlinked(fuse_ino_t parent, const std::string& name, const struct stat& st);
    // A rename through the mount gave the file `st` the name `name` below `parent`.
    void linked(fuse_ino_t parent, const std::string& name, const struct stat& st);

    // The stamp stored for the node's data (or listing) when the kernel last began to cache it.
    std::optional<CacheStamp> dataStamp(fuse_ino_t id) const;
    void setDataStamp(fuse_ino_t id, const CacheStamp& stamp);
    std::optional<CacheStamp> listingStamp(fuse_ino_t id) const;
    void setListingStamp(fuse_ino_t id, const CacheStamp& stamp);

private:
    struct Link {
        fuse_ino_t parent = 0;
        std::string name;
    };
    struct Node {
        dev_t device = 0;
        ino_t inode = 0;
        std::vector<Link> links;  // the last one found last
        std::uint64_t lookups = 0;
        std::uint64_t children = 0;
        std::optional<CacheStamp> data;
        std::optional<CacheStamp> listing;
    };

    std::optional<std::string> relativeLocked(fuse_ino_t id) const;
    void linkLocked(Node& node, fuse_ino_t parent, const std::string& name);
    void dropLocked(fuse_ino_t id);

    mutable std::mutex mutex_;
    std::map<fuse_ino_t, Node> nodes_;
    std::map<std::pair<dev_t, ino_t>, fuse_ino_t> byFile_;
    fuse_ino_t next_ = FUSE_ROOT_ID + 1;
};

}  // namespace nimbrel::platform::cf
